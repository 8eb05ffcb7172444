// The temporary file the selection pass fills with the kept blocks, held by one run at a time.
#pragma once

#include <string>

#include "platform/platform.h"
#include "text/output_file.h"
#include "text/status.h"

namespace mc {

/// The temporary file of the kept blocks. lock holds an advisory lock on it for the whole run,
/// so a second run in the same directory cannot empty it under the first.
struct TempFile {
    std::string path;
    FileHandle lock = NO_FILE;
};

/// Locks the temporary file (another run holding it: tempInUse), empties it and opens it for
/// writing, written behind by a second thread.
Status takeTempFile(TempFile& temp, OutputFile& out);
void releaseTempFile(TempFile& temp);

}  // namespace mc
