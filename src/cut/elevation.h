// Heights from a tile's elevation raster, for vertices stored without one (-32768).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/status.h"

namespace mc {

/// The elevation a vertex carries when the raster holds its height.
constexpr double RASTER_HEIGHT_FLAG = -32768.0;
/// The flag as both tile forms print it: recognised before any parse.
constexpr std::string_view RASTER_HEIGHT_FLAG_TEXT = "-32768.000000000";
constexpr std::string_view ELEVATION_RASTER_NAME = "elevation";

enum class PixelFormat : uint8_t {
    floating = 0,
    signedInteger = 1,
    unsignedInteger = 2,
    normalized = 3
};

struct TextRasterLines;

/// The tile's elevation raster: pixels row by row from the south edge, column 0 at the west.
struct ElevationRaster {
    bool present = false;
    uint32_t width = 0, height = 0;
    uint32_t bytesPerPixel = 0;
    PixelFormat format = PixelFormat::floating;
    bool postCentric = false;  // pixels on the tile edges rather than at cell centres
    double scale = 1, offset = 0;
    double west = 0, east = 0, south = 0, north = 0;
    std::vector<uint8_t> pixels;
    // pixels per degree and degrees per pixel along each axis, set with the pixels
    double columnsPerDegree = 0, degreesPerColumn = 0, rowsPerDegree = 0, degreesPerRow = 0;
    // a text tile's raster, described but not read: its side file is read (and found missing or
    // damaged) only when a kept vertex needs a height
    std::shared_ptr<const TextRasterLines> described;
    std::string describedBy;  // the tile's path, where a relative side file starts
};

/// Raster header fields as both tile forms state them: what keeps them from describing a
/// readable raster (version 1, a pixel size the format allows, posts at least 2 x 2, finite
/// scale and bounds), in plain words; nullptr when they are consistent.
const char* rasterProblem(uint32_t version, const ElevationRaster& raster);

/// The raster's bytes: width x height x bytesPerPixel of them. Fails (readInput, nothing kept)
/// when fewer are given or a float pixel is not a number.
Status takePixels(ElevationRaster& raster, const uint8_t* bytes, size_t size);

/// Bilinear height between the four pixels around a point, clamped at the tile edges; a point
/// on a pixel's position (to the nine decimals vertex lines print) gets that pixel's value.
double rasterHeight(const ElevationRaster& raster, double lon, double lat);

/// Heights lately found, by position: the points of a mesh are shared by several triangles, so
/// a position comes back within a few vertex lines.
struct HeightMemo {
    struct Entry {
        double lon, lat, height;
    };
    std::vector<Entry> entries;
};
/// rasterHeight, remembered.
double rememberedHeight(HeightMemo& memo, const ElevationRaster& raster, double lon, double lat);

/// The vertex line with a flagged elevation field replaced by the height the vertex was given
/// (nine decimals); the line itself when there is no raster or the elevation is a real one.
std::string_view lineWithHeight(std::string_view vertexLine, double height,
                                const ElevationRaster& raster, std::string& scratch);

/// The same for a line whose flagged elevation field is known to start at `field`.
std::string_view lineWithHeightAt(std::string_view vertexLine, size_t field, double height,
                                  std::string& scratch);

}  // namespace mc
