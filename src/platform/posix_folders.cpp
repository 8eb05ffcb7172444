// Folders and file stamps on Linux and other POSIX systems: what the cache of unpacked tiles and
// the tile's lock ask, and the user's places.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace mc {

std::vector<std::string> subfolderNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* listing = ::opendir(folder.c_str());
    if (!listing) return names;
    while (const dirent* entry = ::readdir(listing)) {
        std::string name = entry->d_name;
        struct stat st;
        if (name == "." || name == "..") continue;
        if (::stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            names.push_back(name);
        }
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

bool stampOfFile(const std::string& path, FileStamp& stamp) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    char* full = ::realpath(path.c_str(), nullptr);
    if (!full) return false;
    stamp.fullPath = full;
    std::free(full);
    stamp.size = uint64_t(st.st_size);
    stamp.modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.volume = uint64_t(st.st_dev), stamp.index = uint64_t(st.st_ino);
    return true;
}

std::vector<FolderFile> filesInFolder(const std::string& folder) {
    std::vector<FolderFile> files;
    DIR* listing = ::opendir(folder.c_str());
    if (!listing) return files;
    while (const dirent* entry = ::readdir(listing)) {
        struct stat st;
        std::string name = entry->d_name;
        if (::lstat((folder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files.push_back({name, uint64_t(st.st_size),
                         int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
    }
    ::closedir(listing);
    return files;
}

std::string userCacheFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache == '/') return std::string(cache) + "/mesh_carver";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.cache/mesh_carver";
    return {};
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool makeFolders(const std::string& path) {
    // each folder from the top; those that exist refuse quietly
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0777);
        if (slash == std::string::npos) break;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool touchFile(const std::string& path) {
    return ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

}  // namespace mc
