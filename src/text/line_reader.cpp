#include "text/line_reader.h"

#include <cstring>

namespace mc {

namespace {

constexpr char CTRL_Z = 0x1A;

// Makes room for one more block after the unread bytes: the partial line moves to the front, and
// the buffer doubles only when that line alone leaves no room.
void makeRoomForBlock(LineReader& r) {
    size_t keepFrom = r.begin;
    if (r.pinOffset < r.bufferOffset + r.begin) keepFrom = size_t(r.pinOffset - r.bufferOffset);
    if (keepFrom > 0) {
        size_t kept = r.end - keepFrom;
        if (kept > 0) std::memmove(r.buffer.data(), r.buffer.data() + keepFrom, kept);
        r.bufferOffset += keepFrom;
        r.end = kept;
        r.begin -= keepFrom;
    }
    if (r.buffer.size() - r.end < r.blockSize) {
        size_t grown = r.buffer.size() * 2;
        while (grown - r.end < r.blockSize) grown *= 2;
        r.buffer.resize(grown);
    }
}

// Reads one more block; false when no byte came. Text mode ends the data at a 0x1A byte.
bool readBlock(LineReader& r) {
    if (r.dataEnded) return false;
    makeRoomForBlock(r);
    int64_t got = readHandle(r.handle, r.buffer.data() + r.end, r.blockSize);
    if (got <= 0) {
        r.readFailed = got < 0;
        if (r.readFailed) r.error = systemErrorText();
        r.dataEnded = true;
        return false;
    }
    char* fresh = r.buffer.data() + r.end;
    if (auto* stop = static_cast<char*>(std::memchr(fresh, CTRL_Z, size_t(got)))) {
        got = stop - fresh;
        r.dataEnded = true;
    }
    r.end += size_t(got);
    if (r.progress) reportProgress(*r.progress, r.bufferOffset + r.end);
    return got > 0;
}

}  // namespace

std::string_view lineBeforeLineFeed(const char* first, const char* last) {
    // CR LF folds into LF, then one CR directly before the LF is dropped as well
    if (last > first && last[-1] == '\r') --last;
    if (last > first && last[-1] == '\r') --last;
    return {first, size_t(last - first)};
}

std::string_view lineAtDataEnd(const char* first, const char* last) {
    while (last > first && last[-1] == '\0') --last;
    if (last > first && last[-1] == '\r') --last;
    return {first, size_t(last - first)};
}

bool openForReading(LineReader& r, const std::string& path, size_t blockSize) {
    if (r.handle != NO_FILE) return true;
    FileHandle handle = openReadHandle(path);
    if (handle == NO_FILE) return false;
    r.handle = handle;
    r.blockSize = blockSize == 0 ? 1 : blockSize;
    if (r.buffer.size() < 2 * r.blockSize) r.buffer.resize(2 * r.blockSize);
    r.begin = r.end = 0;
    r.bufferOffset = 0;
    r.dataEnded = r.readFailed = r.lineCut = false;
    r.lineOffset = 0;
    r.pinOffset = UINT64_MAX;
    return true;
}

bool atEnd(LineReader& r) {
    if (r.handle == NO_FILE) return true;
    if (r.begin < r.end) return false;
    return !readBlock(r);
}

std::string_view readLine(LineReader& r, size_t holdLimit) {
    r.lineCut = false;
    r.lineOffset = r.bufferOffset + r.begin;
    if (r.handle == NO_FILE) return {};
    size_t scanFrom = r.begin;
    for (;;) {
        const char* data = r.buffer.data();
        if (const void* lf = std::memchr(data + scanFrom, '\n', r.end - scanFrom)) {
            const char* lineEnd = static_cast<const char*>(lf);
            if (size_t(lineEnd - (data + r.begin)) > holdLimit) break;
            std::string_view line = lineBeforeLineFeed(data + r.begin, lineEnd);
            r.begin = size_t(lineEnd - data) + 1;
            return line;
        }
        if (r.end - r.begin > holdLimit) break;
        scanFrom = r.end - r.begin;  // offsets from begin survive the move to the front
        if (!readBlock(r)) {
            if (r.end - r.begin > holdLimit) break;
            std::string_view line =
                lineAtDataEnd(r.buffer.data() + r.begin, r.buffer.data() + r.end);
            r.begin = r.end;
            return line;
        }
        scanFrom += r.begin;
    }
    r.lineCut = true;
    return {r.buffer.data() + r.begin, holdLimit};
}

void skipLine(LineReader& r) {
    r.lineCut = false;
    if (r.handle == NO_FILE) return;
    for (;;) {
        const char* data = r.buffer.data();
        if (const void* lf = std::memchr(data + r.begin, '\n', r.end - r.begin)) {
            r.begin = size_t(static_cast<const char*>(lf) - data) + 1;
            return;
        }
        r.begin = r.end;  // nothing of a skipped line is kept
        if (!readBlock(r)) return;
    }
}

void closeReader(LineReader& r) {
    closeHandle(r.handle);
    r.handle = NO_FILE;
    r.begin = r.end = 0;
}

}  // namespace mc
