// A binary scenery tile: header, atoms and 16-bit point pools, checked before anything is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "dsf/cursor.h"

namespace mc::dsf {

constexpr std::string_view DSF_COOKIE = "XPLNEDSF";
constexpr std::string_view SEVEN_ZIP_SIGNATURE = "7z\xBC\xAF\x27\x1C";

/// Values of a plane are decoded in chunks of this many points.
constexpr uint32_t CHUNK_BITS = 10;
constexpr uint32_t CHUNK_POINTS = 1u << CHUNK_BITS;
/// Point indices are 16-bit: later points of a larger pool can never be named.
constexpr uint32_t MAX_ADDRESSABLE_POINTS = 65536;

/// Where a chunk's first value starts in a plane's encoded bytes.
struct ChunkStart {
    uint32_t byteOffset;   // of the run holding the value (encodings 2, 3) or of the value itself
    uint16_t previousSum;  // the running sum just before the value (encodings 1, 3)
    uint8_t intoRun;       // values of that run that come before it
};

struct PoolPlane {
    uint32_t dataOffset;  // first byte after the encoding byte, in the geometry atom's contents
    uint32_t firstChunk;  // in Tile::chunkStarts
    uint8_t encoding;
    bool chunksIndexed;  // chunk starts are found on first use
};

struct Pool {
    uint32_t pointCount;   // as stored
    uint32_t addressable;  // points an index can reach
    uint32_t planeCount;
    uint32_t firstPlane;   // in Tile::planes
    uint32_t scaleOffset;  // the pool's scale atom contents, in the geometry atom's contents
};

/// The raster named "elevation", as stored (DEMI header, DEMD pixels).
struct TileRaster {
    bool found = false;
    uint8_t version = 0, bytesPerPixel = 0;
    uint16_t flags = 0;
    uint32_t width = 0, height = 0;
    float scale = 0, offset = 0;
    const uint8_t* pixels = nullptr;
    size_t pixelBytes = 0;
};

struct Tile {
    const uint8_t* geometry = nullptr;  // contents of the geometry atom
    std::vector<Pool> pools;            // 16-bit pools, in file order
    std::vector<PoolPlane> planes;
    std::vector<ChunkStart> chunkStarts;
    size_t widePoolCount = 0;  // 32-bit pools: never terrain, but selectable
    const uint8_t* commands = nullptr;
    const uint8_t* commandsEnd = nullptr;
    std::vector<std::string_view> terrainNames;  // the terrain definitions, in index order
    double bounds[4] = {0, 0, 0, 0};             // sim/west, sim/east, sim/south, sim/north
    bool hasBounds = false;
    TileRaster elevation;
};

/// Checks the cookie, version, every atom length and string table, and indexes the pools (every
/// run of every plane checked against its atom) and finds the elevation raster, if any. The tile
/// points into the bytes, which must outlive it. On damage returns false and names it in `damage`.
bool openTile(const uint8_t* bytes, size_t size, Tile& tile, Damage& damage);

/// Scale and offset of a plane, as stored (single precision) and widened.
struct PlaneScale {
    double scale, offset;
};
PlaneScale planeScale(const Tile& tile, uint32_t pool, uint32_t plane);

/// The value a raw pool integer stands for: ((raw * scale) / 65535) + offset, the division done
/// as a multiplication by the reciprocal; a scale of zero means the raw integer itself.
inline double decodeValue(PlaneScale scale, uint16_t raw) {
    constexpr double RECIPROCAL = 1.0 / 65535.0;
    if (scale.scale == 0) return double(raw);
    return ((double(raw) * scale.scale) * RECIPROCAL) + scale.offset;
}

}  // namespace mc::dsf
