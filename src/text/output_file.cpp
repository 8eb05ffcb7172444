// Buffered output to a file, a pipe or the console, large files written behind on a helper.
#include "text/output_file.h"

#include <cstring>
#include <mutex>

#include "platform/helper_thread.h"
#include "text/whole_numbers.h"

namespace mc {

// Full blocks are written by a helper thread, in order; written blocks are kept as spares so
// that their memory is reused.
// Blocks that may wait beside the one being written: enough to keep the helper busy, little
// memory.
constexpr size_t MAX_WAITING_BLOCKS = 2;

struct WriteBehind {
    HelperThread helper{MAX_WAITING_BLOCKS};
    std::mutex lock;  // guards what follows, which the helper's jobs change
    std::vector<TextBlock> spares;
    bool failed = false;
    std::string error;
};

namespace {

void noteRefusal(OutputFile& f) {
    if (!f.failed) f.error = systemErrorText();
    f.failed = true;
}

// The helper's failure, once it has one, is the file's.
void takeOverFailure(OutputFile& f) {
    WriteBehind& w = *f.behind;
    std::lock_guard<std::mutex> guard(w.lock);
    if (w.failed && !f.failed) f.failed = true, f.error = w.error;
}

// Waits until the helper has written everything it was given.
void drain(OutputFile& f) {
    if (!f.behind) return;
    f.behind->helper.waitUntilIdle();
    takeOverFailure(f);
}

// Hands the block to the helper (waiting while enough others wait); the block comes back as an
// empty spare. After a refused write the rest is dropped, as in the buffer.
void queueBlock(OutputFile& f, TextBlock& block) {
    WriteBehind& w = *f.behind;
    takeOverFailure(f);
    f.flushedBytes += block.used;
    auto writing = std::make_shared<TextBlock>(std::move(block));
    w.helper.handOver([&w, handle = f.handle, writing] {
        bool skip;
        {
            std::lock_guard<std::mutex> guard(w.lock);
            skip = w.failed;
        }
        bool written = skip || writeHandle(handle, writing->bytes.data(), writing->used);
        std::string error = written ? std::string() : systemErrorText();
        std::lock_guard<std::mutex> guard(w.lock);
        if (!written) w.failed = true, w.error = error;
        w.spares.push_back(std::move(*writing));
    });
    std::lock_guard<std::mutex> guard(w.lock);
    block = {};
    if (!w.spares.empty()) {
        block = std::move(w.spares.back());
        w.spares.pop_back();
    }
    block.used = 0;
}

// Hands the buffered bytes to the system: directly, or by passing the buffer to the thread.
void flushBuffer(OutputFile& f) {
    if (f.used > 0 && f.behind) {
        TextBlock block{std::move(f.buffer), f.used};
        queueBlock(f, block);
        f.buffer = std::move(block.bytes);
        if (f.buffer.size() < OUTPUT_BUFFER_SIZE) f.buffer.resize(OUTPUT_BUFFER_SIZE);
    } else if (f.used > 0) {
        if (!writeHandle(f.handle, f.buffer.data(), f.used) && !f.isConsole) noteRefusal(f);
        f.flushedBytes += f.used;
    }
    f.used = 0;
}

}  // namespace

void handOver(OutputFile& file, TextBlock& block) {
    if (block.used == 0) return;
    if (!file.behind || file.failed) {
        writeText(file, std::string_view(block.bytes.data(), block.used));
        block.used = 0;
        return;
    }
    flushBuffer(file);
    queueBlock(file, block);
}

void startWriteBehind(OutputFile& file) {
    if (file.behind || file.isConsole || file.handle == NO_FILE) return;
    file.behind = std::make_shared<WriteBehind>();
}

void stopWriteBehind(OutputFile& file) {
    if (!file.behind) return;
    if (file.handle != NO_FILE && !file.failed) flushBuffer(file);
    drain(file);
    file.behind->helper.stop();
    file.behind.reset();
}

void attachDescriptor(OutputFile& file, FileHandle handle) {
    file.handle = handle;
    file.failed = false;
    file.used = 0;
    file.flushedBytes = 0;
    if (file.buffer.size() < OUTPUT_BUFFER_SIZE) file.buffer.resize(OUTPUT_BUFFER_SIZE);
}

void flushOutput(OutputFile& file) {
    std::unique_lock<std::mutex> guard;
    if (file.guard) guard = std::unique_lock<std::mutex>(*file.guard);
    if (file.handle != NO_FILE && !file.failed) flushBuffer(file);
    drain(file);
    file.used = 0;
}

bool closeFile(OutputFile& file) {
    if (file.handle == NO_FILE) return !file.failed;
    flushOutput(file);
    stopWriteBehind(file);
    if (!closeHandle(file.handle) && !file.failed) noteRefusal(file);
    file.handle = NO_FILE;
    return !file.failed;
}

void writeTextSlow(OutputFile& file, std::string_view text) {
    std::unique_lock<std::mutex> guard;
    if (file.guard) guard = std::unique_lock<std::mutex>(*file.guard);
    if (file.handle == NO_FILE || file.failed || text.empty()) return;
    if (file.buffer.size() - file.used < text.size()) flushBuffer(file);
    if (file.buffer.size() - file.used < text.size()) {
        // larger than any buffer we keep: straight through, after what came before it
        drain(file);
        if (!writeHandle(file.handle, text.data(), text.size()) && !file.isConsole)
            noteRefusal(file);
        file.flushedBytes += text.size();
        return;
    }
    std::memcpy(file.buffer.data() + file.used, text.data(), text.size());
    file.used += text.size();
}

void writeInteger(OutputFile& target, int32_t value, bool withLineEnd) {
    char text[16];
    char* p = text;
    if (value >= 0) *p++ = ' ';
    p = intToText(value, p);
    writeText(target, std::string_view(text, size_t(p - text)));
    if (withLineEnd) endLine(target);
}

bool copyIntoFile(OutputFile& file, FileHandle from, uint64_t offset, uint64_t size) {
    if (file.handle == NO_FILE || file.failed || file.guard) return false;
    flushBuffer(file);
    drain(file);
    if (file.failed || !copyFileBytes(from, offset, file.handle, size)) return false;
    file.flushedBytes += size;
    return true;
}

bool dropTail(OutputFile& file, uint64_t size) {
    if (file.handle == NO_FILE || file.failed) return !file.failed;
    if (size >= file.flushedBytes) {
        if (size - file.flushedBytes < file.used) file.used = size_t(size - file.flushedBytes);
        return true;
    }
    drain(file);
    if (!truncateHandle(file.handle, size)) {
        noteRefusal(file);
        return false;
    }
    file.flushedBytes = size;
    file.used = 0;
    return true;
}

}  // namespace mc
