// Standard output as the tool writes it: byte for byte, in blocks into files and pipes, at least
// ten times a second on a terminal, always before anything goes to standard error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/output_file.h"

namespace mc {

/// Standard output. On a terminal a helper thread writes what it holds every tenth of a second;
/// into a file or a pipe it is written when full, when flushed and at the end.
OutputFile& console();
/// Writes standard output's text out now: before standard error is written to, say.
void flushConsole();

/// "Step 1:  3/ 10": a label, then two counts in the console integer form.
void writeProgressLine(OutputFile& console, std::string_view label, int32_t done, int32_t total);

/// "mesh_carver: TEXT" on standard error: what the user should know that is no failure.
void noteOnStandardError(const std::string& text);

/// Ends the process with the status (-1 shows as 255) after writing out the console.
[[noreturn]] void endRun(int status);

}  // namespace mc
