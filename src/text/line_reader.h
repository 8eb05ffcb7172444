// Streams a file as lines, with the byte rules of a Windows text-mode reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "text/progress.h"

namespace mc {

constexpr size_t DEFAULT_READ_BLOCK = 1 << 20;
constexpr size_t WHOLE_LINE = SIZE_MAX;

struct LineReader {
    FileHandle handle = NO_FILE;
    size_t blockSize = DEFAULT_READ_BLOCK;  // bytes asked of each read()
    std::vector<char> buffer;
    size_t begin = 0;  // unread data is buffer[begin, end)
    size_t end = 0;
    uint64_t bufferOffset = 0;  // file offset of buffer[0]
    bool dataEnded = false;     // end of file, a read error or a 0x1A byte
    bool readFailed = false;
    std::string error;                  // the system's reason for a failed read
    uint64_t lineOffset = 0;            // file offset where the last line handed out starts
    bool lineCut = false;               // the last line handed out is only a head (see readLine)
    uint64_t pinOffset = UINT64_MAX;    // bytes from this file offset on stay in the buffer
    ProgressMeter* progress = nullptr;  // told how far the reading has come
    // a part of a file (see readPart): its data end at `limit`, read at offsets
    bool positioned = false;
    uint64_t limit = UINT64_MAX;
    bool limitReached = false;  // the data ended at the limit, not before
};

/// Opens a file, a pipe or a device for reading; the reader stays closed when that fails or when
/// the path is a directory. Returns whether the reader is open.
bool openForReading(LineReader& reader, const std::string& path,
                    size_t blockSize = DEFAULT_READ_BLOCK);

/// Makes an open reader (of a regular file) read only the bytes from `first` to `limit`: its data
/// end there, as at the end of a file, and lineOffset counts from the file's start.
void readPart(LineReader& reader, uint64_t first, uint64_t limit);

/// True when no byte of data is left; a closed reader is at its end.
bool atEnd(LineReader& reader);

/// The next line without its terminator, valid until the next call on the reader.
/// A line ends at LF; up to two CRs before it go (a CR LF pair folds into LF, then one CR before
/// the LF is dropped). At the end of the data, trailing NULs go and then one trailing CR.
/// A line of more than holdLimit bytes in the file (CRs and NULs before its end counted, the LF
/// not) is not held whole: its first holdLimit bytes are returned, lineCut is set and nothing is
/// consumed; call skipLine or readLine with a larger limit.
std::string_view readLine(LineReader& reader, size_t holdLimit = WHOLE_LINE);

/// The line whose terminating LF is at `lf`: up to two CRs before the LF are not part of it.
std::string_view lineBeforeLineFeed(const char* first, const char* lf);
/// The last line of the data, when no LF ends it: trailing NULs go, then one trailing CR.
std::string_view lineAtDataEnd(const char* first, const char* last);

/// Keeps the bytes from a file offset already read (a line's lineOffset) in the buffer until
/// unpinned, so that they can be looked at again with pinnedBytes.
inline void pinFrom(LineReader& reader, uint64_t offset) {
    reader.pinOffset = offset;
}
inline void unpin(LineReader& reader) {
    reader.pinOffset = UINT64_MAX;
}
/// The bytes from the pinned offset to the end of the last line handed out, terminator included.
inline std::string_view pinnedBytes(const LineReader& reader) {
    size_t first = size_t(reader.pinOffset - reader.bufferOffset);
    return {reader.buffer.data() + first, reader.begin - first};
}
/// The bytes of the last line handed out as the file has them, its terminator included.
inline std::string_view lastLineBytes(const LineReader& reader) {
    size_t first = size_t(reader.lineOffset - reader.bufferOffset);
    return {reader.buffer.data() + first, reader.begin - first};
}
/// File offset just after the last line handed out.
inline uint64_t readOffset(const LineReader& reader) {
    return reader.bufferOffset + reader.begin;
}

/// Consumes the current line without holding it in memory.
void skipLine(LineReader& reader);

void closeReader(LineReader& reader);

}  // namespace mc
