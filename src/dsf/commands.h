// The command stream of a binary tile, walked one terrain primitive at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "dsf/cursor.h"
#include "dsf/tile.h"

namespace mc::dsf {

/// The command stream's command codes.
enum Command : uint8_t {
    POOL_SELECT = 1,
    JUNCTION_OFFSET = 2,
    DEFINITION_8 = 3,
    DEFINITION_16 = 4,
    DEFINITION_32 = 5,
    ROAD_SUBTYPE = 6,
    OBJECT = 7,
    OBJECT_RANGE = 8,
    ROAD_CHAIN = 9,
    ROAD_CHAIN_RANGE = 10,
    ROAD_CHAIN_32 = 11,
    POLYGON = 12,
    POLYGON_RANGE = 13,
    NESTED_POLYGON = 14,
    NESTED_POLYGON_RANGE = 15,
    PATCH = 16,
    PATCH_FLAGS = 17,
    PATCH_FLAGS_LOD = 18,
    TRIANGLES = 23,  // then cross-pool and range forms; strips at 26, fans at 29
    TRIANGLES_CROSS_POOL = 24,
    FAN_RANGE = 31,
    COMMENT_8 = 32,
    COMMENT_16 = 33,
    COMMENT_32 = 34,
};

/// A primitive command: its type (0 triangles, 1 strip, 2 fan) in one pool, or across pools.
constexpr uint8_t primitiveCommand(uint32_t type, bool onePool) {
    return uint8_t(TRIANGLES + 3 * type + (onePool ? 0 : 1));
}

struct VertexRef {
    uint32_t pool;
    uint32_t index;
};

/// One triangle (0), strip (1) or fan (2) command: its vertices in stored order, every one
/// checked to name a point of a pool whose plane count is the patch depth.
struct Primitive {
    int32_t type = 0;
    uint32_t depth = 0;
    uint32_t definition = 0;          // the patch's terrain definition
    uint32_t flags = 0;               // the patch's flags (2: overlay)
    float lodNear = -1, lodFar = -1;  // the patch's level-of-detail distances, as stored
    int64_t onePool = -1;             // the pool of every vertex, or -1 when they name several
    std::vector<VertexRef> vertices;  // reused from primitive to primitive
};

constexpr int64_t NO_POOL = -1;
constexpr int64_t NO_PATCH = -1;

struct CommandWalker {
    Cursor stream;
    int64_t currentPool = NO_POOL;
    int64_t patchDepth = NO_PATCH;          // plane count of the pool current when the patch opened
    bool depthValid = false;                // that pool was a 16-bit pool
    uint32_t definition = 0;                // the definition commands' current one
    uint32_t patchDefinition = 0;           // the current definition when the patch opened
    uint32_t patchFlags = 255;              // a patch without flags of its own before any: all bits
    float lodNear = -1, lodFar = -1;        // carried from patch to patch, as the flags
    const uint8_t* commandStart = nullptr;  // of the command being read
};

enum class WalkStep { primitive, end, damaged };

void startWalk(CommandWalker& walker, const Tile& tile);

/// Where a primitive command stands in the stream (offsets from the stream's start), with what the
/// walk knew there: enough to read it again without walking to it.
struct PrimitivePlace {
    uint64_t start = 0, end = 0;
    int64_t currentPool = NO_POOL;
    uint32_t depth = 0, definition = 0, flags = 0;
    float lodNear = -1, lodFar = -1;
};
PrimitivePlace placeOf(const CommandWalker& walker, const Tile& tile, const Primitive& primitive);
/// Reads the primitive at a place again; it was read whole once, so it reads whole again.
void readPrimitiveAt(const Tile& tile, const PrimitivePlace& place, Primitive& primitive);

/// Steps over every other command to the next primitive. On damage (an unknown or truncated
/// command, a bad pool or index, a depth mismatch) names it in `damage`, at the command's byte.
WalkStep nextPrimitive(CommandWalker& walker, const Tile& tile, Primitive& primitive,
                       Damage& damage);

}  // namespace mc::dsf
