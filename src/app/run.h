// The run driver: configuration, the pipeline step by step, and the one failure line.
#pragma once

#include <string>

#include "app/config.h"
#include "text/output_file.h"

namespace mc {

/// Runs the whole tool in the working directory, carving or putting back; returns the exit status
/// (0 or -1). Only this function prints failure lines.
int runMeshCarver(const std::string& workingDirectory, OutputFile& console,
                  Direction direction = Direction::carve);

}  // namespace mc
