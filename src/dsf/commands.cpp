// The command stream walked: every command stepped over or read, primitives checked whole.
#include "dsf/commands.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace mc::dsf {

namespace {

// Skips a u8 count followed by that many items of the given size.
bool skipCountedList(Cursor& c, size_t itemSize) {
    uint8_t count;
    return readValue(c, count) && skipBytes(c, count * itemSize);
}

// Steps over a command that says nothing about terrain; false when it is cut short.
bool skipOperands(Cursor& c, uint8_t id) {
    switch (id) {
        case JUNCTION_OFFSET:
        case DEFINITION_32:
            return skipBytes(c, 4);
        case DEFINITION_8:
        case ROAD_SUBTYPE:
        case PATCH_FLAGS:
            return skipBytes(c, 1);
        case DEFINITION_16:
        case OBJECT:
            return skipBytes(c, 2);
        case OBJECT_RANGE:
        case ROAD_CHAIN_RANGE:
            return skipBytes(c, 4);
        case ROAD_CHAIN:
            return skipCountedList(c, 2);
        case ROAD_CHAIN_32:
            return skipCountedList(c, 4);
        case POLYGON:
            return skipBytes(c, 2) && skipCountedList(c, 2);
        case POLYGON_RANGE:
            return skipBytes(c, 6);
        case NESTED_POLYGON: {
            uint8_t windings;
            if (!skipBytes(c, 2) || !readValue(c, windings)) return false;
            for (uint8_t w = 0; w < windings; ++w) {
                if (!skipCountedList(c, 2)) return false;
            }
            return true;
        }
        case NESTED_POLYGON_RANGE: {
            uint8_t windings;
            return skipBytes(c, 2) && readValue(c, windings) && skipBytes(c, 2 + windings * 2);
        }
        case PATCH_FLAGS_LOD:
            return skipBytes(c, 9);
        case COMMENT_8: {
            uint8_t length;
            return readValue(c, length) && skipBytes(c, length);
        }
        case COMMENT_16: {
            uint16_t length;
            return readValue(c, length) && skipBytes(c, length);
        }
        case COMMENT_32: {
            uint32_t length;
            return readValue(c, length) && skipBytes(c, length);
        }
    }
    return false;
}

bool checkPool(const Tile& tile, const Primitive& primitive, uint32_t pool, Damage& damage) {
    if (pool >= tile.pools.size()) {
        describeDamage(damage, "a vertex names a pool that does not exist");
        return false;
    }
    if (tile.pools[pool].planeCount != primitive.depth) {
        describeDamage(damage,
                       "a vertex comes from a pool whose plane count is not the patch depth");
        return false;
    }
    return true;
}

bool checkIndex(const Tile& tile, uint32_t pool, uint32_t index, Damage& damage) {
    if (index < tile.pools[pool].pointCount) return true;
    describeDamage(damage, "a vertex names a point outside its pool");
    return false;
}

// A range primitive's operands: the first index and one past the last, in the current pool.
bool readRange(Cursor& c, const Tile& tile, uint32_t pool, Primitive& primitive, Damage& damage) {
    uint16_t first, end;
    if (!readValue(c, first) || !readValue(c, end)) {
        describeDamage(damage, "a command is cut short");
        return false;
    }
    if (first > end || (end > first && !checkIndex(tile, pool, end - 1u, damage))) {
        if (first > end) describeDamage(damage, "a range ends before it starts");
        return false;
    }
    for (uint32_t index = first; index < end; ++index) primitive.vertices.push_back({pool, index});
    return true;
}

// Reads the operands of one of the nine primitive commands into `primitive`.
bool readPrimitive(CommandWalker& w, const Tile& tile, uint8_t id, Primitive& primitive,
                   Damage& damage) {
    int form = (id - TRIANGLES) % 3;  // 0 current pool, 1 cross-pool, 2 range
    primitive.type = (id - TRIANGLES) / 3;
    primitive.vertices.clear();
    if (w.patchDepth == NO_PATCH || (form != 1 && w.currentPool == NO_POOL)) {
        describeDamage(damage, "a primitive comes before its patch or pool");
        return false;
    }
    if (!w.depthValid) {
        describeDamage(damage, "a patch opened while no 16-bit pool was current");
        return false;
    }
    primitive.depth = uint32_t(w.patchDepth);
    primitive.definition = w.patchDefinition;
    primitive.flags = w.patchFlags;
    primitive.lodNear = w.lodNear, primitive.lodFar = w.lodFar;
    primitive.onePool = form == 1 ? -1 : w.currentPool;
    uint32_t pool = uint32_t(w.currentPool);
    if (form != 1 && !checkPool(tile, primitive, pool, damage)) return false;
    Cursor& c = w.stream;
    if (form == 2) return readRange(c, tile, pool, primitive, damage);
    uint8_t count;
    if (!readValue(c, count) || bytesLeft(c) < size_t(count) * (form + 1) * 2) {
        describeDamage(damage, "a command is cut short");
        return false;
    }
    primitive.vertices.resize(count);
    if (form == 0) {
        uint32_t highest = 0;
        for (uint8_t k = 0; k < count; ++k) {
            uint32_t index = loadU16(c.at + k * 2);
            highest = std::max(highest, index);
            primitive.vertices[k] = {pool, index};
        }
        c.at += size_t(count) * 2;
        return count == 0 || checkIndex(tile, pool, highest, damage);
    }
    for (uint8_t k = 0; k < count; ++k) {
        uint32_t vertexPool = loadU16(c.at), index = loadU16(c.at + 2);
        c.at += 4;
        if (!checkPool(tile, primitive, vertexPool, damage) ||
            !checkIndex(tile, vertexPool, index, damage)) {
            return false;
        }
        primitive.vertices[k] = {vertexPool, index};
    }
    return true;
}

}  // namespace

void startWalk(CommandWalker& walker, const Tile& tile) {
    walker = CommandWalker{};
    walker.stream = {tile.commands, tile.commandsEnd};
}

namespace {

// A patch opens: its depth is the current pool's; LOD says nothing about the mesh, and a plain
// patch keeps the flags of the one before. False when the command is cut short.
bool openPatch(CommandWalker& w, const Tile& tile, uint8_t id) {
    w.depthValid = w.currentPool != NO_POOL && size_t(w.currentPool) < tile.pools.size();
    w.patchDepth = w.depthValid ? tile.pools[size_t(w.currentPool)].planeCount : 0;
    w.patchDefinition = w.definition;
    if (id == PATCH) return true;
    uint8_t flags;
    float lod[2] = {w.lodNear, w.lodFar};
    Cursor& c = w.stream;
    if (!readValue(c, flags) ||
        (id == PATCH_FLAGS_LOD && (!readValue(c, lod[0]) || !readValue(c, lod[1])))) {
        return false;
    }
    w.patchFlags = flags;
    w.lodNear = lod[0], w.lodFar = lod[1];
    return true;
}

WalkStep walkToPrimitive(CommandWalker& w, const Tile& tile, Primitive& primitive, Damage& damage) {
    Cursor& c = w.stream;
    while (bytesLeft(c) > 0) {
        w.commandStart = c.at;
        uint8_t id = *c.at++;
        if (id >= TRIANGLES && id <= FAN_RANGE) {
            if (!readPrimitive(w, tile, id, primitive, damage)) return WalkStep::damaged;
            return WalkStep::primitive;
        }
        if (id == POOL_SELECT) {
            uint16_t pool;
            if (!readValue(c, pool)) {
                describeDamage(damage, "a command is cut short");
                return WalkStep::damaged;
            }
            if (pool >= tile.pools.size() && pool >= tile.widePoolCount) {
                describeDamage(damage, "a pool select names no pool");
                return WalkStep::damaged;
            }
            w.currentPool = pool;
            continue;
        }
        if (id == PATCH || id == PATCH_FLAGS || id == PATCH_FLAGS_LOD) {
            if (!openPatch(w, tile, id)) {
                describeDamage(damage, "a command is cut short");
                return WalkStep::damaged;
            }
            continue;
        }
        if (id == DEFINITION_8 || id == DEFINITION_16 || id == DEFINITION_32) {
            size_t size = id == DEFINITION_8 ? 1 : id == DEFINITION_16 ? 2 : 4;
            if (bytesLeft(c) < size) {
                describeDamage(damage, "a command is cut short");
                return WalkStep::damaged;
            }
            uint32_t definition = 0;
            std::memcpy(&definition, c.at, size);  // little-endian, as the tile stores it
            c.at += size;
            w.definition = definition;
            continue;
        }
        if (!skipOperands(c, id)) {
            bool known = (id >= JUNCTION_OFFSET && id <= NESTED_POLYGON_RANGE) ||
                         (id >= COMMENT_8 && id <= COMMENT_32);
            describeDamage(damage, known ? "a command is cut short" : "an unknown command");
            return WalkStep::damaged;
        }
    }
    return WalkStep::end;
}

}  // namespace

WalkStep nextPrimitive(CommandWalker& walker, const Tile& tile, Primitive& primitive,
                       Damage& damage) {
    WalkStep step = walkToPrimitive(walker, tile, primitive, damage);
    if (step == WalkStep::damaged && walker.commandStart) {
        damage.what =
            "command " + std::to_string(*walker.commandStart) + " of the CMDS atom: " + damage.what;
        placeDamage(damage, walker.commandStart);
    }
    return step;
}

PrimitivePlace placeOf(const CommandWalker& walker, const Tile& tile, const Primitive& primitive) {
    return {uint64_t(walker.commandStart - tile.commands),
            uint64_t(walker.stream.at - tile.commands),
            walker.currentPool,
            primitive.depth,
            primitive.definition,
            primitive.flags,
            primitive.lodNear,
            primitive.lodFar};
}

void readPrimitiveAt(const Tile& tile, const PrimitivePlace& place, Primitive& primitive) {
    CommandWalker walker;
    walker.stream = {tile.commands + place.start, tile.commands + place.end};
    walker.currentPool = place.currentPool;
    walker.patchDepth = place.depth;
    walker.depthValid = true;
    walker.patchDefinition = place.definition;
    walker.patchFlags = place.flags;
    walker.lodNear = place.lodNear, walker.lodFar = place.lodFar;
    Damage damage;
    nextPrimitive(walker, tile, primitive, damage);
}

}  // namespace mc::dsf
