// The progress line on standard error, drawn only on a terminal.
#include "text/progress.h"

#include <charconv>
#include <string>

#include "platform/platform.h"
#include "text/console.h"

namespace mc {

namespace {

constexpr auto REDRAW_EVERY = std::chrono::milliseconds(100);

void appendMegabytes(std::string& line, double bytes) {
    char digits[32];
    line.append(digits, std::to_chars(digits, digits + sizeof digits, bytes / 1e6,
                                      std::chars_format::fixed, 1)
                            .ptr);
}

}  // namespace

void startProgress(ProgressMeter& meter, uint64_t total, std::string_view verb) {
    meter.shown = isTerminal(standardErrorHandle());
    meter.total = total;
    meter.verb = verb;
    meter.start = std::chrono::steady_clock::now();
    meter.lastDrawn = meter.start - REDRAW_EVERY;
    meter.drawnWidth = 0;
}

void reportProgress(ProgressMeter& meter, uint64_t done) {
    if (!meter.shown) return;
    auto now = std::chrono::steady_clock::now();
    if (now - meter.lastDrawn < REDRAW_EVERY) return;
    meter.lastDrawn = now;
    std::string line = "\r";
    line += meter.verb;
    line += ' ';
    appendMegabytes(line, double(done));
    if (meter.total > 0) {
        line += " of ";
        appendMegabytes(line, double(meter.total));
    }
    line += " MB";
    if (meter.total > 0) {
        line += "  " + std::to_string(std::min<uint64_t>(100, done * 100 / meter.total)) + "%";
    }
    double seconds = std::chrono::duration<double>(now - meter.start).count();
    if (seconds > 0) {
        line += "  ";
        appendMegabytes(line, double(done) / seconds);
        line += " MB/s";
    }
    size_t width = line.size() - 1;
    if (width < meter.drawnWidth) line.append(meter.drawnWidth - width, ' ');
    meter.drawnWidth = std::max(width, meter.drawnWidth);
    flushConsole();  // what standard output holds comes first on the terminal
    writeHandle(standardErrorHandle(), line.data(), line.size());
}

void clearProgress(ProgressMeter& meter) {
    if (meter.drawnWidth == 0) return;
    std::string blank(meter.drawnWidth + 2, ' ');
    blank.front() = blank.back() = '\r';
    writeHandle(standardErrorHandle(), blank.data(), blank.size());
    meter.drawnWidth = 0;
    meter.lastDrawn = std::chrono::steady_clock::now() - REDRAW_EVERY;
}

}  // namespace mc
