// Folders and file stamps on Windows: what the cache of unpacked tiles and the tile's lock ask.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace mc {

std::vector<std::string> subfolderNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        bool folderEntry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folderEntry && name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int64_t ticksOf(const FILETIME& time) {
    return int64_t(uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime);
}

}  // namespace

bool stampOfFile(const std::string& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    DWORD length = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) return false;
    std::string full(length, '\0');
    length = GetFullPathNameA(path.c_str(), length, full.data(), nullptr);
    if (length == 0 || length >= full.size()) return false;
    full.resize(length);
    stamp.fullPath = full;
    stamp.size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    stamp.modified = ticksOf(data.ftLastWriteTime);
    // which file: the volume's serial number and the file's index on it
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info)) {
        stamp.volume = info.dwVolumeSerialNumber;
        stamp.index = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return true;
}

std::vector<FolderFile> filesInFolder(const std::string& folder) {
    std::vector<FolderFile> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
            continue;
        }
        files.push_back({found.cFileName, uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow,
                         ticksOf(found.ftLastWriteTime)});
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

std::string userCacheFolder() {
    const char* local = std::getenv("LOCALAPPDATA");
    if (local && *local) return std::string(local) + "\\mesh_carver\\cache";
    return {};
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool makeFolders(const std::string& path) {
    // each folder from the top; those that exist (a drive's root among them) refuse quietly
    for (size_t at = path.find_first_of("\\/", 1);; at = path.find_first_of("\\/", at + 1)) {
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
        if (at == std::string::npos) break;
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool touchFile(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    bool ok = SetFileTime(h, nullptr, nullptr, &now);
    CloseHandle(h);
    return ok;
}

bool removeFile(const std::string& path) {
    return DeleteFileA(path.c_str());
}

}  // namespace mc
