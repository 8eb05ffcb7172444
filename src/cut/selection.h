// The selection pass's parts: the temporary file it fills, the text loop and the binary walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "cut/cut.h"
#include "text/line_reader.h"
#include "text/progress.h"

namespace mc {

/// The selection pass over a text tile into `found` (whose window is set) and the trace, when
/// there is one, read `readBlockSize` bytes at a time. A large tile is read in two halves at
/// once, the second by a second thread from the first block at or after the middle (or after
/// `splitFrom`, when given), with the same outcome as one pass.
void selectFromText(const std::string& inputPath, TempFile& temp, OutputFile& console,
                    Selection& found, TileTrace* trace = nullptr,
                    size_t readBlockSize = DEFAULT_READ_BLOCK,
                    std::optional<uint64_t> splitFrom = std::nullopt);

/// The selection pass over the bytes of a binary tile, into `found` (whose window is set): the
/// blocks, lines and "Step 1" lines its text form would give, its elevation raster and terrain.
/// Damage anywhere in the tile is a read failure.
Status selectFromTile(const uint8_t* bytes, size_t size, OutputFile& out, OutputFile& console,
                      Selection& found, ProgressMeter& meter, TileTrace* trace = nullptr);

}  // namespace mc
