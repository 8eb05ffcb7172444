// A progress line on standard error while the input is read, only when that is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace mc {

struct ProgressMeter {
    bool shown = false;                 // standard error is a terminal
    uint64_t total = 0;                 // bytes to come; 0 when unknown
    std::string_view verb = "Reading";  // or "Unpacking"
    std::chrono::steady_clock::time_point start, lastDrawn;
    size_t drawnWidth = 0;  // characters of the line on the terminal now
};

/// Starts a meter for `total` bytes; it shows only when standard error is a terminal.
void startProgress(ProgressMeter& meter, uint64_t total, std::string_view verb);

/// Redraws the line in place ("Reading 12.3 of 45.6 MB  27%  310.2 MB/s"), at most ten times a
/// second.
void reportProgress(ProgressMeter& meter, uint64_t done);

/// Takes the line off the terminal, before other text or the end of the run.
void clearProgress(ProgressMeter& meter);

}  // namespace mc
