#include "text/output.h"

#include "text/digits.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace mc {

// Blocks wait here in order; the thread writes the front one. Written blocks are kept as spares
// so that their memory is reused.
struct WriteBehind {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<TextBlock> queue;
    std::vector<TextBlock> spares;
    bool stop = false, failed = false;
    std::string error;
    std::thread thread;
};

namespace {

// Full blocks that may wait at once: enough to keep the thread busy, little memory.
constexpr size_t MAX_QUEUED_BLOCKS = 3;

void writeBehindLoop(WriteBehind& w, FileHandle fd) {
    std::unique_lock<std::mutex> guard(w.lock);
    for (;;) {
        w.changed.wait(guard, [&] { return !w.queue.empty() || w.stop; });
        if (w.queue.empty()) return;
        TextBlock& front = w.queue.front();
        bool skip = w.failed;  // after a refused write the rest is dropped, as in the buffer
        guard.unlock();
        bool written = skip || writeHandle(fd, front.bytes.data(), front.used);
        std::string error = written ? std::string() : systemErrorText();
        guard.lock();
        if (!written) w.failed = true, w.error = error;
        w.spares.push_back(std::move(w.queue.front()));
        w.queue.pop_front();
        w.changed.notify_all();
    }
}

void noteRefusal(OutputFile& f) {
    if (!f.failed) f.error = systemErrorText();
    f.failed = true;
}

// Waits until the thread has written everything it was given; takes over its failure.
void drain(OutputFile& f) {
    if (!f.behind) return;
    WriteBehind& w = *f.behind;
    std::unique_lock<std::mutex> guard(w.lock);
    w.changed.wait(guard, [&] { return w.queue.empty(); });
    if (w.failed && !f.failed) f.failed = true, f.error = w.error;
}

// Queues the block for the thread (waiting while the queue is full); the block comes back as
// an empty spare.
void queueBlock(OutputFile& f, TextBlock& block) {
    WriteBehind& w = *f.behind;
    std::unique_lock<std::mutex> guard(w.lock);
    w.changed.wait(guard, [&] { return w.queue.size() < MAX_QUEUED_BLOCKS; });
    if (w.failed && !f.failed) f.failed = true, f.error = w.error;
    f.flushedBytes += block.used;
    w.queue.push_back(std::move(block));
    block = {};
    if (!w.spares.empty()) {
        block = std::move(w.spares.back());
        w.spares.pop_back();
    }
    block.used = 0;
    w.changed.notify_all();
}

// Hands the buffered bytes to the system: directly, or by passing the buffer to the thread.
void flushBuffer(OutputFile& f) {
    if (f.used > 0 && f.behind) {
        TextBlock block{std::move(f.buffer), f.used};
        queueBlock(f, block);
        f.buffer = std::move(block.bytes);
        if (f.buffer.size() < OUTPUT_BUFFER_SIZE) f.buffer.resize(OUTPUT_BUFFER_SIZE);
    } else if (f.used > 0) {
        if (!writeHandle(f.fd, f.buffer.data(), f.used) && !f.isConsole) noteRefusal(f);
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
    if (f.behind || f.capture || f.isConsole || f.fd == NO_FILE) return;
    f.behind = std::make_shared<WriteBehind>();
    f.behind->thread = std::thread(writeBehindLoop, std::ref(*f.behind), f.fd);
}

void stopWriteBehind(OutputFile& f) {
    if (!f.behind) return;
    if (f.fd != NO_FILE && !f.failed) flushBuffer(f);
    drain(f);
    {
        std::lock_guard<std::mutex> guard(f.behind->lock);
        f.behind->stop = true;
        f.behind->changed.notify_all();
    }
    f.behind->thread.join();
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
    std::condition_variable changed;
    std::thread thread;
};

void flushConsoleLoop(OutputFile& target, ConsoleFlusher& flusher) {
    std::unique_lock<std::mutex> guard(flusher.lock);
    for (;;) {
        flusher.changed.wait_for(guard, CONSOLE_FLUSH_EVERY);
        if (target.used > 0) flushBuffer(target);
    }
}

// A signal ends the run: what the console holds goes out first (its bytes up to `used` are
// complete).
void flushConsoleOnInterruption() {
    OutputFile& target = console();
    if (target.used > 0) writeHandle(target.fd, target.buffer.data(), target.used);
    target.used = 0;
}

}  // namespace

OutputTarget& console() {
    static OutputFile& target = *[] {
        auto* f = new OutputFile;
        f->fd = standardOutputHandle();
        f->isConsole = true;
        f->buffer.resize(CONSOLE_BUFFER_SIZE);
        if (isTerminal(f->fd)) {
            auto* flusher = new ConsoleFlusher;
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

void attachDescriptor(OutputFile& f, FileHandle fd) {
    f.fd = fd;
    f.failed = false;
    f.used = 0;
    f.flushedBytes = 0;
    if (f.buffer.size() < OUTPUT_BUFFER_SIZE) f.buffer.resize(OUTPUT_BUFFER_SIZE);
}

bool openForWriting(OutputFile& f, const std::string& path) {
    if (f.fd != NO_FILE) return true;
    FileHandle fd = createWriteHandle(path);
    if (fd == NO_FILE) return false;
    attachDescriptor(f, fd);
    return true;
}

void flushOutput(OutputFile& f) {
    std::unique_lock<std::mutex> guard;
    if (f.guard) guard = std::unique_lock<std::mutex>(*f.guard);
    if (f.fd != NO_FILE && !f.failed) flushBuffer(f);
    drain(f);
    f.used = 0;
}

bool closeFile(OutputFile& f) {
    if (f.fd == NO_FILE) return !f.failed;
    flushOutput(f);
    stopWriteBehind(f);
    if (!closeHandle(f.fd) && !f.failed) noteRefusal(f);
    f.fd = NO_FILE;
    return !f.failed;
}

void writeTextSlow(OutputTarget& f, std::string_view text) {
    if (f.capture) {
        f.capture->append(text);
        return;
    }
    std::unique_lock<std::mutex> guard;
    if (f.guard) guard = std::unique_lock<std::mutex>(*f.guard);
    if (f.fd == NO_FILE || f.failed || text.empty()) return;
    if (f.buffer.size() - f.used < text.size()) flushBuffer(f);
    if (f.buffer.size() - f.used < text.size()) {
        // larger than any buffer we keep: straight through, after what came before it
        drain(f);
        if (!writeHandle(f.fd, text.data(), text.size()) && !f.isConsole) noteRefusal(f);
        f.flushedBytes += text.size();
        return;
    }
    std::memcpy(f.buffer.data() + f.used, text.data(), text.size());
    f.used += text.size();
}

void writeInteger(OutputTarget& target, int32_t value, bool withLineEnd) {
    char text[16];
    char* p = text;
    if (value >= 0) *p++ = ' ';
    p = intToText(value, p);
    writeText(target, std::string_view(text, size_t(p - text)));
    if (withLineEnd) endLine(target);
}

bool dropTail(OutputFile& f, uint64_t size) {
    if (f.capture) {
        if (size < f.capture->size()) f.capture->resize(size);
        return true;
    }
    if (f.fd == NO_FILE || f.failed) return !f.failed;
    if (size >= f.flushedBytes) {
        if (size - f.flushedBytes < f.used) f.used = size_t(size - f.flushedBytes);
        return true;
    }
    drain(f);
    if (!truncateHandle(f.fd, size)) {
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

void endRun(int status) {
    flushOutput(console());
    std::exit(status);
}

}  // namespace mc
