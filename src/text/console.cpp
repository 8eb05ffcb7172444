// Standard output written in blocks, flushed ten times a second on a terminal.
#include "text/console.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/helper_thread.h"

namespace mc {

namespace {

constexpr auto CONSOLE_FLUSH_EVERY = std::chrono::milliseconds(100);
constexpr size_t CONSOLE_BUFFER_SIZE = 64 << 10;

// On a terminal the console's text waits at most a tenth of a second: a helper's one job writes
// what is buffered, for as long as the process lives. The helper, the guard and the console
// are never destroyed, so the job cannot outlive what it uses, even at exit.
void startFlushing(OutputFile& target) {
    target.guard = new std::mutex;
    auto* flusher = new HelperThread;
    flusher->handOver([&target] {
        for (;;) {
            std::this_thread::sleep_for(CONSOLE_FLUSH_EVERY);
            flushOutput(target);
        }
    });
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
        if (isTerminal(f->handle)) startFlushing(*f);
        setInterruptionHook(flushConsoleOnInterruption);
        return f;
    }();
    return target;
}

void flushConsole() {
    flushOutput(console());
}

void endRun(int status) {
    flushOutput(console());
    std::exit(status);
}

void writeProgressLine(OutputFile& console, std::string_view label, int32_t done, int32_t total) {
    writeText(console, label);
    writeInteger(console, done, false);
    writeText(console, "/");
    writeInteger(console, total, true);
}

void noteOnStandardError(const std::string& text) {
    std::string line = "mesh_carver: " + text + std::string(LINE_END);
    writeHandle(standardErrorHandle(), line.data(), line.size());
}

}  // namespace mc
