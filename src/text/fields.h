// Space-separated fields of a text line: the only separator is the byte 0x20.
#pragma once

#include <string_view>

namespace mc {

struct SplitText {
    std::string_view first;
    std::string_view rest;
};

/// Keyword before the first space and the remainder after it; the whole line when it holds none.
inline SplitText splitFirstField(std::string_view line) {
    size_t space = line.find(' ');
    if (space == std::string_view::npos) return {line, {}};
    return {line.substr(0, space), line.substr(space + 1)};
}

/// Field before the first space and the rest after it. Unlike splitFirstField, a text without a
/// space has no field: all of it is the rest (a keyword's operand that may be missing).
inline SplitText splitBeforeSpace(std::string_view text) {
    size_t space = text.find(' ');
    if (space == std::string_view::npos) return {{}, text};
    return {text.substr(0, space), text.substr(space + 1)};
}

/// Whether splitFirstField(line) would give this keyword, without searching for the space.
inline bool hasKeyword(std::string_view line, std::string_view keyword) {
    return line.starts_with(keyword) &&
           (line.size() == keyword.size() || line[keyword.size()] == ' ');
}

/// The remainder after a keyword that hasKeyword found at the start of the line.
inline std::string_view keywordRemainder(std::string_view line, std::string_view keyword) {
    return line.size() > keyword.size() ? line.substr(keyword.size() + 1) : std::string_view();
}

}  // namespace mc
