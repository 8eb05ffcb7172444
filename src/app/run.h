// The run driver: configuration, the pipeline step by step, and the one failure line.
#pragma once

#include <string>

#include "text/output_file.h"

namespace mc {

/// Runs the whole tool in the working directory; returns the exit status (0 or -1).
/// Only this function prints failure lines.
int runMeshCarver(const std::string& workingDirectory, OutputFile& console);

}  // namespace mc
