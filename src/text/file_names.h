// A path's last part, by one rule for every path the tool meets: folders are separated by '/' or
// '\', since users on either system and scenery files from either write both.
#pragma once

#include <string>
#include <string_view>

namespace mc {

/// The file's name: what follows the last separator.
inline std::string fileNameOf(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

/// The file's name without its extension (from the last dot on, unless the name starts there).
inline std::string fileStemOf(std::string_view path) {
    std::string name = fileNameOf(path);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace mc
