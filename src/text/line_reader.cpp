// A file streamed as lines, with the byte rules of a Windows text-mode reader.
#include "text/line_reader.h"

#include <algorithm>
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
    int64_t got;
    if (r.positioned) {
        uint64_t at = r.bufferOffset + r.end;
        size_t wanted = size_t(std::min<uint64_t>(r.blockSize, r.limit - at));
        got = wanted == 0 ? 0 : readHandleAt(r.handle, r.buffer.data() + r.end, wanted, at);
        r.limitReached = wanted == 0;
    } else {
        got = readHandle(r.handle, r.buffer.data() + r.end, r.blockSize);
    }
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

bool openForReading(LineReader& reader, const std::string& path, size_t blockSize) {
    if (reader.handle != NO_FILE) return true;
    FileHandle handle = openReadHandle(path);
    if (handle == NO_FILE) return false;
    reader.handle = handle;
    reader.blockSize = blockSize == 0 ? 1 : blockSize;
    if (reader.buffer.size() < 2 * reader.blockSize) reader.buffer.resize(2 * reader.blockSize);
    reader.begin = reader.end = 0;
    reader.bufferOffset = 0;
    reader.dataEnded = reader.readFailed = reader.lineCut = false;
    reader.lineOffset = 0;
    reader.pinOffset = UINT64_MAX;
    reader.positioned = reader.limitReached = false;
    reader.limit = UINT64_MAX;
    return true;
}

void readPart(LineReader& reader, uint64_t first, uint64_t limit) {
    reader.begin = reader.end = 0;
    reader.bufferOffset = reader.lineOffset = first;
    reader.positioned = true;
    reader.limit = limit;
    reader.limitReached = reader.dataEnded = reader.lineCut = false;
    reader.pinOffset = UINT64_MAX;
}

bool atEnd(LineReader& reader) {
    if (reader.handle == NO_FILE) return true;
    if (reader.begin < reader.end) return false;
    return !readBlock(reader);
}

std::string_view readLine(LineReader& reader, size_t holdLimit) {
    reader.lineCut = false;
    reader.lineOffset = reader.bufferOffset + reader.begin;
    if (reader.handle == NO_FILE) return {};
    size_t scanFrom = reader.begin;
    for (;;) {
        const char* data = reader.buffer.data();
        if (const void* lf = std::memchr(data + scanFrom, '\n', reader.end - scanFrom)) {
            const char* lineEnd = static_cast<const char*>(lf);
            if (size_t(lineEnd - (data + reader.begin)) > holdLimit) break;
            std::string_view line = lineBeforeLineFeed(data + reader.begin, lineEnd);
            reader.begin = size_t(lineEnd - data) + 1;
            return line;
        }
        if (reader.end - reader.begin > holdLimit) break;
        scanFrom = reader.end - reader.begin;  // offsets from begin survive the move to the front
        if (!readBlock(reader)) {
            if (reader.end - reader.begin > holdLimit) break;
            std::string_view line = lineAtDataEnd(reader.buffer.data() + reader.begin,
                                                  reader.buffer.data() + reader.end);
            reader.begin = reader.end;
            return line;
        }
        scanFrom += reader.begin;
    }
    reader.lineCut = true;
    return {reader.buffer.data() + reader.begin, holdLimit};
}

void skipLine(LineReader& reader) {
    reader.lineCut = false;
    if (reader.handle == NO_FILE) return;
    for (;;) {
        const char* data = reader.buffer.data();
        if (const void* lf = std::memchr(data + reader.begin, '\n', reader.end - reader.begin)) {
            reader.begin = size_t(static_cast<const char*>(lf) - data) + 1;
            return;
        }
        reader.begin = reader.end;  // nothing of a skipped line is kept
        if (!readBlock(reader)) return;
    }
}

void closeReader(LineReader& reader) {
    closeHandle(reader.handle);
    reader.handle = NO_FILE;
    reader.begin = reader.end = 0;
}

}  // namespace mc
