// The kept blocks' lines read back from the temporary file through one window of it.
#include "cut/kept_lines.h"

#include <cstring>
#include <utility>

#include "text/line_reader.h"

namespace mc {

namespace {

constexpr size_t KEPT_WINDOW_SIZE = 1 << 20;

// Fills the window from `offset` on; false on a read error.
bool readWindowAt(const KeptLines& lines, uint64_t offset) {
    lines.windowStart = offset;
    lines.windowSize = 0;
    while (lines.windowSize < lines.window.size()) {
        int64_t got =
            readHandleAt(lines.handle, lines.window.data() + lines.windowSize,
                         lines.window.size() - lines.windowSize, offset + lines.windowSize);
        if (got < 0) return false;
        if (got == 0) break;
        lines.windowSize += size_t(got);
    }
    return true;
}

}  // namespace

KeptLines::KeptLines(KeptLines&& other) noexcept
    : path(std::move(other.path)),
      handle(std::exchange(other.handle, NO_FILE)),
      window(std::move(other.window)),
      windowStart(other.windowStart),
      windowSize(std::exchange(other.windowSize, 0)),
      added(std::move(other.added)) {}

KeptLines& KeptLines::operator=(KeptLines&& other) noexcept {
    if (this != &other) {
        closeHandle(handle);
        path = std::move(other.path);
        handle = std::exchange(other.handle, NO_FILE);
        window = std::move(other.window);
        windowStart = other.windowStart;
        windowSize = std::exchange(other.windowSize, 0);
        added = std::move(other.added);
    }
    return *this;
}

KeptLines::~KeptLines() {
    closeHandle(handle);
}

bool openKeptLines(KeptLines& lines, const std::string& path) {
    closeHandle(lines.handle);
    lines.path = path;
    lines.handle = openReadHandle(path);
    lines.windowStart = lines.windowSize = 0;
    return lines.handle != NO_FILE;
}

uint64_t addKeptLine(KeptLines& lines, std::string_view line) {
    uint64_t offset = ADDED_LINES + lines.added.size();
    lines.added.append(line).push_back('\n');
    return offset;
}

bool keptLine(const KeptLines& lines, uint64_t offset, std::string_view& line) {
    if (offset >= ADDED_LINES) {
        std::string_view added = std::string_view(lines.added).substr(offset - ADDED_LINES);
        line = added.substr(0, added.find('\n'));
        return offset - ADDED_LINES < lines.added.size();
    }
    if (lines.window.empty()) lines.window.resize(KEPT_WINDOW_SIZE);
    bool fresh = false;
    if (offset < lines.windowStart || offset >= lines.windowStart + lines.windowSize) {
        if (!readWindowAt(lines, offset)) return false;
        fresh = true;
    }
    for (;;) {
        const char* first = lines.window.data() + (offset - lines.windowStart);
        const char* last = lines.window.data() + lines.windowSize;
        if (const void* lf = std::memchr(first, '\n', size_t(last - first))) {
            line = lineBeforeLineFeed(first, static_cast<const char*>(lf));
            return true;
        }
        bool atFileEnd = lines.windowSize < lines.window.size();
        if (atFileEnd && fresh) {
            line = lineAtDataEnd(first, last);
            return true;
        }
        // the line runs past the window: read again from its start, with room for all of it
        if (fresh) lines.window.resize(lines.window.size() * 2);
        if (!readWindowAt(lines, offset)) return false;
        fresh = true;
    }
}

}  // namespace mc
