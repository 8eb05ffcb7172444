// Raw pool values, decoded a chunk at a time into a cache of bounded size.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dsf/tile.h"

namespace mc::dsf {

/// Decoded chunks kept at once: 24,576 chunks of 1,024 values, 48 MiB.
constexpr size_t DEFAULT_CACHE_CHUNKS = 24576;

struct PointValues {
    Tile* tile = nullptr;
    size_t maxChunks = DEFAULT_CACHE_CHUNKS;
    std::vector<uint32_t> slotOfChunk;  // per chunk of Tile::chunkStarts: slot + 1, or 0
    std::vector<uint32_t> chunkOfSlot;
    std::unique_ptr<uint16_t[]> slots;  // maxChunks slots of CHUNK_POINTS, touched as used
    size_t slotsUsed = 0;
    size_t nextVictim = 0;  // slots are reused round robin once all are used
};

void attachTile(PointValues& values, Tile& tile, size_t maxChunks = DEFAULT_CACHE_CHUNKS);

/// Notes where every chunk of a pool's plane starts (done on first use otherwise); a plane
/// indexed ahead can be read by several caches at once.
void indexPlane(Tile& tile, const Pool& pool, uint32_t planeInPool);

/// Decodes a chunk into a slot (reusing the oldest when all exist); returns the slot.
uint32_t loadChunk(PointValues& values, const Pool& pool, uint32_t plane, uint32_t chunk);

/// The raw integer of a point (index below the pool's addressable count) in a plane of its pool.
inline uint16_t rawValue(PointValues& values, const Pool& pool, uint32_t planeInPool,
                         uint32_t index) {
    uint32_t plane = pool.firstPlane + planeInPool;
    const PoolPlane& p = values.tile->planes[plane];
    uint32_t chunk = index >> CHUNK_BITS;
    uint32_t slot = p.chunksIndexed ? values.slotOfChunk[p.firstChunk + chunk] : 0;
    uint32_t at = slot ? slot - 1 : loadChunk(values, pool, plane, chunk);
    return values.slots[(size_t(at) << CHUNK_BITS) + (index & (CHUNK_POINTS - 1))];
}

}  // namespace mc::dsf
