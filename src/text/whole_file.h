// Output files written whole or not at all.
#pragma once

#include <string>

#include "platform/platform.h"
#include "text/output_file.h"

namespace mc {

/// A file written whole or not at all: a regular file (or nothing yet) is written beside its
/// name and renamed over it when complete; devices, FIFOs and links are written in place.
struct WholeFile {
    OutputFile out;
    PendingFile pending;
};
/// Opens `path` for writing; a path naming the input tile is refused. False, with the reason in
/// `why`, when the file cannot be made.
bool openWholeFile(WholeFile& file, const std::string& path, const std::string& inputPath,
                   std::string& why);
/// Closes and puts the file in place; false (the old file kept, the reason in `why`) when
/// anything failed.
bool finishWholeFile(WholeFile& file, std::string& why);
void abandonWholeFile(WholeFile& file);

}  // namespace mc
