// The selection pass's parts: the temporary file it fills, the text loop and the binary walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cut/cut.h"
#include "text/line_reader.h"
#include "text/progress.h"

namespace mc {

/// Locks the temporary file (another run holding it: tempInUse), empties it and opens it for
/// writing, written behind by a second thread.
Status takeTempFile(TempFile& temp, OutputFile& out);

/// The selection pass over a text tile into `found` (whose window and use are set), read
/// `readBlockSize` bytes at a time.
void selectFromText(const std::string& inputPath, TempFile& temp, OutputFile& console,
                    Selection& found, size_t readBlockSize = DEFAULT_READ_BLOCK);

/// The selection pass over the bytes of a binary tile, into `found` (whose window is set): the
/// blocks, lines and "Step 1" lines its text form would give, its elevation raster and terrain.
/// Damage anywhere in the tile is a read failure.
Status selectFromTile(const uint8_t* bytes, size_t size, OutputFile& out, OutputFile& console,
                      Selection& found, ProgressMeter& meter);

}  // namespace mc
