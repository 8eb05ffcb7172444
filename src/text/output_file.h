// Buffered output to a file, a pipe or the console: CR LF line ends, large files written behind
// by a second thread, text made elsewhere handed over whole.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace mc {

constexpr std::string_view LINE_END = "\r\n";
constexpr size_t OUTPUT_BUFFER_SIZE = 1 << 20;

struct WriteBehind;

/// Text made apart from a file (by another thread, say) and handed to it whole.
struct TextBlock {
    std::vector<char> bytes;
    size_t used = 0;
};

/// A file or the console, buffered. A target opened on nothing (or whose file failed) drops its
/// text.
struct OutputFile {
    FileHandle handle = NO_FILE;
    bool isConsole = false;
    bool failed = false;  // a write or close was refused; later text is dropped
    std::string error;    // the system's reason for the first refusal
    std::vector<char> buffer;
    size_t used = 0;
    uint64_t flushedBytes = 0;            // bytes already handed to the system
    std::shared_ptr<WriteBehind> behind;  // a thread writing the last full buffer, if started
    std::mutex* guard = nullptr;          // held for every change when another thread flushes too
};

/// Takes over an open handle (a file created by the caller).
void attachDescriptor(OutputFile& file, FileHandle handle);
/// Writes out the buffer and closes; false when any write or the close was refused.
bool closeFile(OutputFile& file);
/// Hands the buffered bytes to the system (and waits for a write-behind thread to finish).
void flushOutput(OutputFile& file);
/// For large files: a full buffer is written by a second thread while the next one fills, so
/// the system's write path runs beside the work that makes the text.
void startWriteBehind(OutputFile& file);
/// Appends the block's bytes after what is buffered. With a write-behind thread the block itself
/// is passed on, not copied, and comes back empty (with some earlier block's memory to reuse).
void handOver(OutputFile& file, TextBlock& block);
/// Flushes and ends the write-behind thread, leaving the handle open (closeFile does this too).
void stopWriteBehind(OutputFile& file);

void writeTextSlow(OutputFile& target, std::string_view text);
inline void writeText(OutputFile& target, std::string_view text) {
    if (!target.guard && target.used + text.size() <= target.buffer.size()) {
        if (!text.empty())
            __builtin_memcpy(target.buffer.data() + target.used, text.data(), text.size());
        target.used += text.size();
        return;
    }
    writeTextSlow(target, text);
}
inline void endLine(OutputFile& target) {
    writeText(target, LINE_END);
}
inline void writeLine(OutputFile& target, std::string_view text) {
    writeText(target, text);
    endLine(target);
}

/// Console integer form: a space (or "-") as sign position, then the digits.
void writeInteger(OutputFile& target, int32_t value, bool withLineEnd);

/// Appends `size` bytes of another file from an offset (after everything written before), copied
/// inside the system; false when it cannot, and then nothing was appended.
bool copyIntoFile(OutputFile& file, FileHandle from, uint64_t offset, uint64_t size);

/// Total bytes written to the file so far, buffered ones included.
inline uint64_t bytesWritten(const OutputFile& file) {
    return file.flushedBytes + file.used;
}
/// Takes back everything written after the first `size` bytes (truncating the file if they
/// were already handed to the system). Returns false when that is impossible.
bool dropTail(OutputFile& file, uint64_t size);

}  // namespace mc
