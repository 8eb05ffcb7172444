// The platform room on Windows: ANSI paths as the ini file gives them, share modes that leave
// the tile and the object readable by other programs, LockFileEx for the temporary file and
// MoveFileExA to put finished files in place.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace mc {

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The lock sits far past any data the run writes: it never blocks the run's own writes.
constexpr DWORD LOCK_OFFSET_HIGH = 0x7FFFFFFF;

HANDLE asHandle(FileHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

FileHandle asFileHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? NO_FILE : reinterpret_cast<FileHandle>(handle);
}

bool isDiskFile(HANDLE handle) {
    return GetFileType(handle) == FILE_TYPE_DISK;
}

// Reads until `size` bytes came or the file ended; false on an error.
bool readFully(HANDLE handle, uint8_t* out, size_t size, size_t& got) {
    got = 0;
    while (got < size) {
        DWORD step = DWORD(std::min<size_t>(size - got, 1u << 30)), done = 0;
        if (!ReadFile(handle, out + got, step, &done, nullptr)) return false;
        if (done == 0) break;
        got += done;
    }
    return true;
}

// The name a partial file has, for the console-control handler, which must not allocate.
char partialName[MAX_PATH * 4];

void (*interruptionHook)() = nullptr;

BOOL WINAPI removePartialAndEnd(DWORD) {
    if (interruptionHook) interruptionHook();
    // opened with delete sharing, so it goes as soon as the run's handle closes
    if (partialName[0]) DeleteFileA(partialName);
    return FALSE;  // the default handler ends the process
}

void notePartial(const std::string& path) {
    if (path.size() < sizeof partialName) std::memcpy(partialName, path.c_str(), path.size() + 1);
}

void forgetPartial() {
    partialName[0] = '\0';
}

}  // namespace

FileHandle openReadHandle(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return asFileHandle(h);  // a folder cannot be opened without backup semantics
}

FileHandle createWriteHandle(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {  // devices such as NUL are opened as they are
        h = CreateFileA(path.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE && isDiskFile(h)) {
            CloseHandle(h);
            return NO_FILE;
        }
    }
    return asFileHandle(h);
}

FileHandle standardOutputHandle() {
    return asFileHandle(GetStdHandle(STD_OUTPUT_HANDLE));
}

FileHandle standardErrorHandle() {
    return asFileHandle(GetStdHandle(STD_ERROR_HANDLE));
}

bool isTerminal(FileHandle handle) {
    DWORD mode;
    return handle != NO_FILE && GetConsoleMode(asHandle(handle), &mode);
}

int64_t readHandle(FileHandle handle, void* out, size_t size) {
    DWORD done = 0;
    DWORD step = DWORD(std::min<size_t>(size, 1u << 30));
    if (!ReadFile(asHandle(handle), out, step, &done, nullptr)) {
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // a pipe's writer has gone
    }
    return done;
}

int64_t readHandleAt(FileHandle handle, void* out, size_t size, uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD done = 0;
    DWORD step = DWORD(std::min<size_t>(size, 1u << 30));
    if (!ReadFile(asHandle(handle), out, step, &done, &at)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return done;
}

bool writeHandle(FileHandle handle, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD step = DWORD(std::min<size_t>(size, 1u << 30)), done = 0;
        if (!WriteFile(asHandle(handle), bytes, step, &done, nullptr) || done == 0) return false;
        bytes += done;
        size -= done;
    }
    return true;
}

bool copyFileBytes(FileHandle, uint64_t, FileHandle, uint64_t) {
    return false;  // the caller writes the bytes itself
}

bool truncateHandle(FileHandle handle, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(size);
    return SetFilePointerEx(asHandle(handle), at, nullptr, FILE_BEGIN) &&
           SetEndOfFile(asHandle(handle));
}

bool closeHandle(FileHandle handle) {
    return handle == NO_FILE || CloseHandle(asHandle(handle));
}

int64_t fileSize(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size{};
    bool known = isDiskFile(h) && GetFileSizeEx(h, &size);
    CloseHandle(h);
    return known ? size.QuadPart : 0;
}

bool isSameFile(const std::string& first, const std::string& second) {
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string* paths[2] = {&first, &second};
    for (int k = 0; k < 2; ++k) {
        HANDLE h = CreateFileA(paths[k]->c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        bool known = GetFileInformationByHandle(h, &info[k]);
        CloseHandle(h);
        if (!known) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
           info[0].nFileIndexLow == info[1].nFileIndexLow;
}

std::string currentDirectory() {
    for (DWORD size = MAX_PATH;;) {
        std::string directory(size, '\0');
        DWORD got = GetCurrentDirectoryA(size, directory.data());
        if (got == 0) return ".";
        if (got < size) {
            directory.resize(got);
            return directory;
        }
        size = got;  // the length it needs, terminator included
    }
}

bool consoleIsOursAlone() {
    DWORD processes[2];
    DWORD count = GetConsoleProcessList(processes, 2);
    DWORD mode;
    bool input = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
    bool output = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    return isConsoleOursAlone(unsigned(count), input, output);
}

void waitForEnter() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char c = 0;
    DWORD got = 0;
    while (ReadFile(input, &c, 1, &got, nullptr) && got == 1 && c != '\n' && c != '\r') {
    }
}

void setInterruptionHook(void (*hook)()) {
    interruptionHook = hook;
}

std::string toPlatformPath(std::string_view configured) {
    return std::string(configured);  // Windows takes "\" and "/" alike
}

double decimalInCLocale(const char* text) {
    static _locale_t cLocale = _create_locale(LC_ALL, "C");
    return _strtod_l(text, nullptr, cLocale);
}

bool isAbsolutePath(std::string_view path) {
    bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    return drive || path.starts_with('\\') || path.starts_with('/');
}

std::string narrowFromUtf16(std::u16string_view text) {
    if (text.empty()) return {};
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    int count = int(text.size());
    int size = WideCharToMultiByte(CP_ACP, 0, wide, count, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, wide, count, out.data(), size, nullptr, nullptr);
    return out;
}

FileLock lockTemporaryFile(const std::string& path, FileHandle& lock, FileHandle& write) {
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION ? FileLock::inUse : FileLock::failed;
    }
    if (GetFileType(h) == FILE_TYPE_PIPE) {  // nobody would read it
        CloseHandle(h);
        return FileLock::failed;
    }
    OVERLAPPED at{};
    at.OffsetHigh = LOCK_OFFSET_HIGH;
    if (isDiskFile(h) &&
        !LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        CloseHandle(h);
        return FileLock::inUse;
    }
    HANDLE w = INVALID_HANDLE_VALUE;
    if (isDiskFile(h) ? truncateHandle(asFileHandle(h), 0) : true) {
        DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &w, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    }
    if (w == INVALID_HANDLE_VALUE || w == nullptr) {
        CloseHandle(h);
        return FileLock::failed;
    }
    lock = asFileHandle(h);
    write = asFileHandle(w);
    return FileLock::taken;
}

bool beginReplacement(PendingFile& file, const std::string& finalPath) {
    file = PendingFile{};
    file.finalPath = finalPath;
    HANDLE existing = CreateFileA(finalPath.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        bool device = !isDiskFile(existing);
        CloseHandle(existing);
        if (device) {
            file.inPlace = true;
            file.handle = createWriteHandle(finalPath);
            return file.handle != NO_FILE;
        }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = finalPath + ".partial" + std::to_string(GetCurrentProcessId());
        if (attempt > 0) candidate.append("-").append(std::to_string(attempt));
        HANDLE h =
            CreateFileA(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
        if (h == INVALID_HANDLE_VALUE) return false;
        notePartial(candidate);
        file.partialPath = candidate;
        file.handle = asFileHandle(h);
        return true;
    }
    return false;
}

bool commitReplacement(PendingFile& file) {
    bool ok = closeHandle(file.handle);
    file.handle = NO_FILE;
    if (!file.inPlace && ok) {
        ok = MoveFileExA(file.partialPath.c_str(), file.finalPath.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!ok && !file.inPlace) DeleteFileA(file.partialPath.c_str());
    forgetPartial();
    return ok;
}

void abandonReplacement(PendingFile& file) {
    closeHandle(file.handle);
    file.handle = NO_FILE;
    if (!file.inPlace && !file.partialPath.empty()) DeleteFileA(file.partialPath.c_str());
    forgetPartial();
}

bool linkFile(const std::string& path, const std::string& newPath) {
    return CreateHardLinkA(newPath.c_str(), path.c_str(), nullptr) != 0;
}

bool pathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void prepareForInterruptions() {
    SetConsoleCtrlHandler(removePartialAndEnd, TRUE);
}

ByteBuffer::~ByteBuffer() {
    if (mapping) UnmapViewOfFile(mapping);
}

void releaseBytes(ByteBuffer& bytes) {
    if (bytes.mapping) UnmapViewOfFile(bytes.mapping);
    bytes.mapping = nullptr, bytes.owned.reset(), bytes.data = nullptr, bytes.size = 0;
}

std::string systemErrorText() {
    DWORD code = GetLastError();
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason =
        length ? std::string(text, length) : "system error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}

FileLock lockSideFile(const std::string& path, FileHandle& lock) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FileLock::failed;
    OVERLAPPED at{};
    at.OffsetHigh = LOCK_OFFSET_HIGH;
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        bool held = GetLastError() == ERROR_LOCK_VIOLATION;
        CloseHandle(h);
        return held ? FileLock::inUse : FileLock::failed;
    }
    lock = asFileHandle(h);
    return FileLock::taken;
}

bool readFileStart(const std::string& path, char* out, size_t size, size_t& got) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = isDiskFile(h) && readFully(h, reinterpret_cast<uint8_t*>(out), size, got);
    CloseHandle(h);
    return ok;
}

bool readWholeFile(const std::string& path, ByteBuffer& out) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    if (!isDiskFile(h) || !GetFileSizeEx(h, &size)) {
        CloseHandle(h);
        return false;
    }
    if (size.QuadPart > 0) {
        HANDLE map = CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 0, nullptr);
        void* view = map ? MapViewOfFile(map, FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (map) CloseHandle(map);
        if (view) {
            CloseHandle(h);
            out.mapping = view;
            out.data = static_cast<const uint8_t*>(view);
            out.size = size_t(size.QuadPart);
            return true;
        }
    }
    out.owned.reset(new (std::nothrow) uint8_t[size.QuadPart ? size_t(size.QuadPart) : 1]);
    size_t got = 0;
    bool ok = out.owned && readFully(h, out.owned.get(), size_t(size.QuadPart), got) &&
              got == size_t(size.QuadPart);
    CloseHandle(h);
    out.data = out.owned.get();
    out.size = ok ? got : 0;
    return ok;
}

}  // namespace mc
