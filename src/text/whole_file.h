// Output files written whole or not at all.
#pragma once

#include <string>

#include "platform/platform.h"
#include "text/output_file.h"
#include "text/status.h"

namespace mc {

/// A file written whole or not at all: a regular file (or nothing yet) is written beside its
/// name and renamed over it when complete; devices, FIFOs and links are written in place.
struct WholeFile {
    OutputFile out;
    PendingFile pending;
    Failure failure = Failure::writeOutput;  // what a failure to write it is reported as
};
/// Opens `path` for writing; a path naming the input tile is refused. Fails (with `failure`,
/// which finishing reports too) when the file cannot be made.
Status openWholeFile(WholeFile& file, const std::string& path, const std::string& inputPath,
                     Failure failure);
/// Closes and puts the file in place; fails (the old file kept) when anything failed.
Status finishWholeFile(WholeFile& file);
void abandonWholeFile(WholeFile& file);

}  // namespace mc
