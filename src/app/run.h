// The run driver: configuration, the two passes, the object writer, and the one failure line.
#pragma once

#include <cstddef>
#include <string>

#include "text/line_reader.h"
#include "text/output.h"

namespace mc {

struct RunOptions {
    size_t readBlockSize = DEFAULT_READ_BLOCK;
};

/// Runs the whole tool in the working directory; returns the exit status (0 or -1).
/// Only this function prints failure lines.
int runMeshCarver(const std::string& workingDirectory, OutputTarget& console,
                  const RunOptions& options = {});

}  // namespace mc
