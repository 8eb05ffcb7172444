#include "pipeline/source_lines.h"

#include <cstring>

#include "text/line_reader.h"

namespace mc {

namespace {

constexpr size_t SOURCE_WINDOW_SIZE = 1 << 20;

// Fills the window from `offset` on; false on a read error.
bool readWindowAt(SourceLines& s, uint64_t offset) {
    s.windowStart = offset;
    s.windowSize = 0;
    while (s.windowSize < s.window.size()) {
        int64_t got = readHandleAt(s.handle, s.window.data() + s.windowSize,
                                   s.window.size() - s.windowSize, offset + s.windowSize);
        if (got < 0) return false;
        if (got == 0) break;
        s.windowSize += size_t(got);
    }
    return true;
}

}  // namespace

bool fetchSourceLine(SourceLines& s, uint64_t offset, std::string_view& line) {
    if (s.window.empty()) s.window.resize(SOURCE_WINDOW_SIZE);
    bool fresh = false;
    if (offset < s.windowStart || offset >= s.windowStart + s.windowSize) {
        if (!readWindowAt(s, offset)) return false;
        fresh = true;
    }
    for (;;) {
        const char* first = s.window.data() + (offset - s.windowStart);
        const char* last = s.window.data() + s.windowSize;
        if (const void* lf = std::memchr(first, '\n', size_t(last - first))) {
            line = lineBeforeLineFeed(first, static_cast<const char*>(lf));
            return true;
        }
        bool atFileEnd = s.windowSize < s.window.size();
        if (atFileEnd && fresh) {
            line = lineAtDataEnd(first, last);
            return true;
        }
        // the line runs past the window: read again from its start, with room for all of it
        if (fresh) s.window.resize(s.window.size() * 2);
        if (!readWindowAt(s, offset)) return false;
        fresh = true;
    }
}

}  // namespace mc
