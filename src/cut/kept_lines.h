// The kept blocks' lines, read back from the temporary file where the selection pass wrote them:
// one reader that every writer shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace mc {

/// Lines are read through a window of the file, which grows for a line longer than it. The
/// window is a cache: reading a line leaves the reader as it was, as far as its users can tell.
struct KeptLines {
    std::string path;
    FileHandle handle = NO_FILE;
    mutable std::vector<char> window;
    mutable uint64_t windowStart = 0;
    mutable size_t windowSize = 0;

    KeptLines() = default;
    KeptLines(KeptLines&& other) noexcept;
    KeptLines& operator=(KeptLines&& other) noexcept;
    ~KeptLines();
};

/// Opens the temporary file for reading its lines back; false when it cannot be opened.
bool openKeptLines(KeptLines& lines, const std::string& path);

/// The line that starts at `offset`, by the same rule the reader applied when the vertex was
/// stored; false on a read error.
bool keptLine(const KeptLines& lines, uint64_t offset, std::string_view& line);

}  // namespace mc
