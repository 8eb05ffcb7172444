// The stored vertices' lines, read back from the temporary file where the first pass wrote them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace mc {

/// Lines are read through a window of the file, which grows for a line longer than it.
struct SourceLines {
    FileHandle handle = NO_FILE;
    std::vector<char> window;
    uint64_t windowStart = 0;
    size_t windowSize = 0;
};

/// The line at `offset`, by the same rule the reader applied when the vertex was stored; false
/// on a read error.
bool fetchSourceLine(SourceLines& s, uint64_t offset, std::string_view& line);

}  // namespace mc
