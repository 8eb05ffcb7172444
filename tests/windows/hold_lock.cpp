// Holds the lock a run takes on mesh_carver.tmp in the current folder, as a first run would,
// until standard input closes: "locked" on standard output says it holds it.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

int main() {
    HANDLE h = CreateFileA("mesh_carver.tmp", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED at{};
    at.OffsetHigh = 0x7FFFFFFF;  // where the tool takes its lock
    if (h == INVALID_HANDLE_VALUE ||
        !LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    char rest[64];
    DWORD got;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), rest, sizeof rest, &got, nullptr) && got > 0) {
    }
    return 0;
}
