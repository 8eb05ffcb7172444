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

/// Standard output, written byte for byte.
OutputFile& console();
/// Writes standard output's text out now: before standard error is written to, say.
void flushConsole();

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

/// A file written whole or not at all: a regular file (or nothing yet) is written beside its
/// name and renamed over it when complete; devices, FIFOs and links are written in place. A
/// path naming the input tile is refused.
struct WholeFile {
    OutputFile out;
    PendingFile pending;
};
bool openWholeFile(WholeFile& file, const std::string& path, const std::string& inputPath);
/// Closes and puts the file in place; false (and the old file kept) when anything failed.
bool finishWholeFile(WholeFile& file);
void abandonWholeFile(WholeFile& file);

/// Ends the process with the status (-1 shows as 255) after writing out the console.
[[noreturn]] void endRun(int status);

}  // namespace mc
