#include "text/output.h"

#include "platform/helper_thread.h"
#include "text/digits.h"
#include "text/failure_reason.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

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

void handOver(OutputFile& f, TextBlock& block) {
    if (block.used == 0) return;
    if (!f.behind || f.failed) {
        writeText(f, std::string_view(block.bytes.data(), block.used));
        block.used = 0;
        return;
    }
    flushBuffer(f);
    queueBlock(f, block);
}

void startWriteBehind(OutputFile& f) {
    if (f.behind || f.isConsole || f.handle == NO_FILE) return;
    f.behind = std::make_shared<WriteBehind>();
}

void stopWriteBehind(OutputFile& f) {
    if (!f.behind) return;
    if (f.handle != NO_FILE && !f.failed) flushBuffer(f);
    drain(f);
    f.behind->helper.stop();
    f.behind.reset();
}

namespace {

constexpr auto CONSOLE_FLUSH_EVERY = std::chrono::milliseconds(100);
constexpr size_t CONSOLE_BUFFER_SIZE = 64 << 10;

// On a terminal the console's text waits at most a tenth of a second: a thread writes what is
// buffered. It and the console live until the process ends (never destroyed, so the thread
// cannot outlive them at exit).
struct ConsoleFlusher {
    std::mutex lock;
    std::thread thread;
};

void flushConsoleLoop(OutputFile& target, ConsoleFlusher& flusher) {
    for (;;) {
        std::this_thread::sleep_for(CONSOLE_FLUSH_EVERY);
        std::lock_guard<std::mutex> guard(flusher.lock);
        if (target.used > 0) flushBuffer(target);
    }
}

// A signal ends the run: what the console holds goes out first (its bytes up to `used` are
// complete).
void flushConsoleOnInterruption() {
    OutputFile& target = console();
    if (target.used > 0) writeHandle(target.handle, target.buffer.data(), target.used);
    target.used = 0;
}

}  // namespace

OutputFile& console() {
    static OutputFile& target = *[] {
        auto* f = new OutputFile;
        f->handle = standardOutputHandle();
        f->isConsole = true;
        f->buffer.resize(CONSOLE_BUFFER_SIZE);
        if (isTerminal(f->handle)) {
            static ConsoleFlusher* flusher = new ConsoleFlusher;  // held for the process's life
            f->guard = &flusher->lock;
            flusher->thread = std::thread(flushConsoleLoop, std::ref(*f), std::ref(*flusher));
            flusher->thread.detach();
        }
        setInterruptionHook(flushConsoleOnInterruption);
        return f;
    }();
    return target;
}

void flushConsole() {
    flushOutput(console());
}

void attachDescriptor(OutputFile& f, FileHandle handle) {
    f.handle = handle;
    f.failed = false;
    f.used = 0;
    f.flushedBytes = 0;
    if (f.buffer.size() < OUTPUT_BUFFER_SIZE) f.buffer.resize(OUTPUT_BUFFER_SIZE);
}

void flushOutput(OutputFile& f) {
    std::unique_lock<std::mutex> guard;
    if (f.guard) guard = std::unique_lock<std::mutex>(*f.guard);
    if (f.handle != NO_FILE && !f.failed) flushBuffer(f);
    drain(f);
    f.used = 0;
}

bool closeFile(OutputFile& f) {
    if (f.handle == NO_FILE) return !f.failed;
    flushOutput(f);
    stopWriteBehind(f);
    if (!closeHandle(f.handle) && !f.failed) noteRefusal(f);
    f.handle = NO_FILE;
    return !f.failed;
}

void writeTextSlow(OutputFile& f, std::string_view text) {
    std::unique_lock<std::mutex> guard;
    if (f.guard) guard = std::unique_lock<std::mutex>(*f.guard);
    if (f.handle == NO_FILE || f.failed || text.empty()) return;
    if (f.buffer.size() - f.used < text.size()) flushBuffer(f);
    if (f.buffer.size() - f.used < text.size()) {
        // larger than any buffer we keep: straight through, after what came before it
        drain(f);
        if (!writeHandle(f.handle, text.data(), text.size()) && !f.isConsole) noteRefusal(f);
        f.flushedBytes += text.size();
        return;
    }
    std::memcpy(f.buffer.data() + f.used, text.data(), text.size());
    f.used += text.size();
}

void writeInteger(OutputFile& target, int32_t value, bool withLineEnd) {
    char text[16];
    char* p = text;
    if (value >= 0) *p++ = ' ';
    p = intToText(value, p);
    writeText(target, std::string_view(text, size_t(p - text)));
    if (withLineEnd) endLine(target);
}

bool dropTail(OutputFile& f, uint64_t size) {
    if (f.handle == NO_FILE || f.failed) return !f.failed;
    if (size >= f.flushedBytes) {
        if (size - f.flushedBytes < f.used) f.used = size_t(size - f.flushedBytes);
        return true;
    }
    drain(f);
    if (!truncateHandle(f.handle, size)) {
        noteRefusal(f);
        return false;
    }
    f.flushedBytes = size;
    f.used = 0;
    return true;
}

char* intToText(int64_t value, char* out) {
    if (value < 0) *out++ = '-';
    return writeDecimal(value < 0 ? 0 - uint64_t(value) : uint64_t(value), out);
}

std::string intToText(int64_t value) {
    char text[24];
    return std::string(text, intToText(value, text));
}

char* doubleToText(double value, char* out) {
    if (value == 0) {
        *out++ = '0';
        return out;
    }
    if (std::fabs(value) < 1e15 && value == std::trunc(value))
        return intToText(int64_t(value), out);
    // 16 significant digits; fixed notation for decimal exponents -1 to 15, else exponential
    char text[64];
    std::snprintf(text, sizeof text, "%.15e", value);
    int exponent = std::atoi(std::strchr(text, 'e') + 1);
    if (std::isfinite(value) && exponent >= -1 && exponent <= 15) {
        std::snprintf(text, sizeof text, "%.*f", 15 - exponent, value);
    }
    char* e = std::strchr(text, 'e');
    std::string mantissa(text, e ? e : text + std::strlen(text));
    if (mantissa.find('.') != std::string::npos) {
        while (mantissa.back() == '0') mantissa.pop_back();
        if (mantissa.back() == '.') mantissa.pop_back();
    }
    if (e) mantissa += e;
    std::memcpy(out, mantissa.data(), mantissa.size());
    return out + mantissa.size();
}

std::string doubleToText(double value) {
    char text[64];
    return std::string(text, doubleToText(value, text));
}

bool openWholeFile(WholeFile& file, const std::string& path, const std::string& inputPath) {
    // a path naming the tile itself would replace it with the object
    if (isSameFile(path, inputPath)) {
        noteFailureReason(path + " is the input tile itself, which is never replaced");
        return false;
    }
    if (!beginReplacement(file.pending, path)) {
        noteFailureReason("cannot create " + path + ": " + systemErrorText());
        return false;
    }
    attachDescriptor(file.out, file.pending.handle);
    startWriteBehind(file.out);
    return true;
}

bool finishWholeFile(WholeFile& file) {
    stopWriteBehind(file.out);
    file.out.handle = NO_FILE;  // the pending file closes its own handle
    if (file.out.failed) {
        noteFailureReason("writing " + file.pending.finalPath + " failed: " + file.out.error);
        abandonReplacement(file.pending);
        return false;
    }
    if (!commitReplacement(file.pending)) {
        noteFailureReason("cannot put " + file.pending.finalPath +
                          " in place: " + systemErrorText());
        return false;
    }
    return true;
}

void abandonWholeFile(WholeFile& file) {
    stopWriteBehind(file.out);
    file.out.handle = NO_FILE;
    abandonReplacement(file.pending);
}

void endRun(int status) {
    flushOutput(console());
    std::exit(status);
}

}  // namespace mc
