// A path's last part and its folder, by one rule for every path the tool meets: folders are
// separated by '/' or '\', since users on either system and scenery files from either write both.
#pragma once

#include <string>
#include <string_view>

namespace mc {

/// The file's name: what follows the last separator.
inline std::string fileNameOf(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

/// The path up to and with its last separator: the folder to put a name after; empty for a bare
/// name.
inline std::string folderPartOf(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? std::string_view()
                                                       : path.substr(0, slash + 1));
}

/// The folder a path's file is in: "." for a bare name, the separator for a file at the root.
inline std::string folderOf(std::string_view path) {
    std::string folder = folderPartOf(path);
    if (folder.size() > 1) folder.pop_back();
    return folder.empty() ? std::string(".") : folder;
}

/// The file's name without its extension (from the last dot on, unless the name starts there).
inline std::string fileStemOf(std::string_view path) {
    std::string name = fileNameOf(path);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace mc
