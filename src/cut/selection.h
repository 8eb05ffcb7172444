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

/// How the text pass reads a tile: the quick look at a vertex's longitude on or off, and the
/// parts it is read in (0: as the tile's size, the window and the machine say; or two, the second
/// from the first block at or after `splitFrom`). Every way gives the same outcome.
struct TextPassWay {
    bool quickLook = true;
    uint32_t parts = 0;
    std::optional<uint64_t> splitFrom = std::nullopt;
};

/// The way the tests ask for in MESH_CARVER_TEXT_PASS: "plain" (no quick look, one part) or
/// "parts=N" (N parts whatever the tile's size); unset, the usual way.
TextPassWay textPassWayFromEnvironment();

/// The selection pass over a text tile into `found` (whose window is set) and the trace, when
/// there is one, read `readBlockSize` bytes at a time. A large tile's small window is read in
/// parts by two threads, each part from a block's start, with the same outcome as one pass.
void selectFromText(const std::string& inputPath, TempFile& temp, OutputFile& console,
                    Selection& found, TileTrace* trace = nullptr,
                    size_t readBlockSize = DEFAULT_READ_BLOCK, const TextPassWay& way = {});

/// The selection pass over the bytes of a binary tile, into `found` (whose window is set): the
/// blocks, lines and "Step 1" lines its text form would give, its elevation raster and terrain.
/// Damage anywhere in the tile is a read failure.
Status selectFromTile(const uint8_t* bytes, size_t size, OutputFile& out, OutputFile& console,
                      Selection& found, ProgressMeter& meter, TileTrace* trace = nullptr);

}  // namespace mc
