// A tile's elevation raster taken in, from either form: the binary tile's DEMI and DEMD atoms,
// or the text form's RASTER_DEF and RASTER_DATA lines and the raw file they name. Both turn
// their header into an ElevationRaster the same way, against the tile's bounds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cut/elevation.h"

namespace mc::dsf {
struct Tile;
}

namespace mc {

/// The raster's description, as both forms state it.
struct RasterHeader {
    uint32_t version, bytesPerPixel, flags, width, height;
    double scale, offset;
};

/// Fills the raster's description from the header and the tile's bounds (west, east, south,
/// north); what does not hold together in them, or nullptr.
const char* rasterFromHeader(const RasterHeader& header, const double bounds[4],
                             ElevationRaster& raster);

/// The binary tile's elevation raster, copied out (the tile's bytes are gone once the pass
/// ends); nothing when the tile has none. Fails (readInput) when it does not hold together.
Status takeElevationRaster(const dsf::Tile& tile, ElevationRaster& raster);

/// Text form: "PROPERTY", "RASTER_DEF" and "RASTER_DATA" lines outside primitives, collected
/// while the selection pass reads them.
struct TextRasterLines {
    double bounds[4] = {0, 0, 0, 0};  // west, east, south, north
    bool hasBound[4] = {false, false, false, false};
    int32_t rasterCount = 0;
    int32_t elevationIndex = -1;
    std::vector<std::string> dataLines;  // the fields after RASTER_DATA, raster by raster
};
void noteTileLine(TextRasterLines& lines, std::string_view line);

/// Reads the raw file the elevation's RASTER_DATA line names (relative names start in the
/// folder of the tile). Fails (readInput) when the line is malformed or the file missing or
/// short.
Status loadTextRaster(const TextRasterLines& lines, const std::string& tilePath,
                      ElevationRaster& raster);

}  // namespace mc
