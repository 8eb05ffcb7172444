// Text output: the console, buffered files, CR LF line ends and the integer renderings.
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

/// The console or a file, buffered. A console that is a terminal is written at least ten times a
/// second, by a thread of its own; one that is a file or pipe when full, before anything goes
/// to standard error, and at the end. A target opened on nothing (or whose file failed) drops
/// its text.
struct OutputFile {
    FileHandle fd = NO_FILE;
    bool isConsole = false;
    bool failed = false;             // a write or close was refused; later text is dropped
    std::string error;               // the system's reason for the first refusal
    std::string* capture = nullptr;  // when set, text is appended here instead (tests)
    std::vector<char> buffer;
    size_t used = 0;
    uint64_t flushedBytes = 0;            // bytes already handed to the system
    std::shared_ptr<WriteBehind> behind;  // a thread writing the last full buffer, if started
    std::mutex* guard = nullptr;          // held for every change when another thread flushes too
};
using OutputTarget = OutputFile;

/// Standard output, written byte for byte.
OutputTarget& console();
/// Writes standard output's text out now: before standard error is written to, say.
void flushConsole();

/// Creates or empties the file. Returns whether it is open; a failed open leaves it closed.
bool openForWriting(OutputFile& file, const std::string& path);
/// Takes over an open handle (a file created by the caller).
void attachDescriptor(OutputFile& file, FileHandle fd);
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

void writeTextSlow(OutputTarget& target, std::string_view text);
inline void writeText(OutputTarget& target, std::string_view text) {
    if (target.used + text.size() <= target.buffer.size() && !target.capture && !target.guard) {
        if (!text.empty())
            __builtin_memcpy(target.buffer.data() + target.used, text.data(), text.size());
        target.used += text.size();
        return;
    }
    writeTextSlow(target, text);
}
inline void endLine(OutputTarget& target) {
    writeText(target, LINE_END);
}
inline void writeLine(OutputTarget& target, std::string_view text) {
    writeText(target, text);
    endLine(target);
}

/// Console integer form: a space (or "-") as sign position, then the digits.
void writeInteger(OutputTarget& target, int32_t value, bool withLineEnd);

/// Total bytes written to the file so far, buffered ones included.
inline uint64_t bytesWritten(const OutputFile& file) {
    return file.flushedBytes + file.used;
}
/// Takes back everything written after the first `size` bytes (truncating the file if they
/// were already handed to the system). Returns false when that is impossible.
bool dropTail(OutputFile& file, uint64_t size);

/// Plain integer form: "-" for negatives, then the digits. Writes into out, returns the end.
char* intToText(int64_t value, char* out);
std::string intToText(int64_t value);
/// Whole-number form: whole numbers below 10^15 as their digits; other values with 16
/// significant digits, trailing fraction zeros and point dropped.
char* doubleToText(double value, char* out);
std::string doubleToText(double value);

/// Ends the process with the status (-1 shows as 255) after writing out the console.
[[noreturn]] void endRun(int status);

}  // namespace mc
