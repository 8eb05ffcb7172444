#include "dsf/point_values.h"

#include <algorithm>

#include "dsf/cursor.h"

namespace mc::dsf {

namespace {

// One walk over the plane, noting where every chunk starts; runs were checked at open.
void indexChunks(Tile& tile, uint32_t plane, uint32_t addressable) {
    PoolPlane& p = tile.planes[plane];
    const uint8_t* data = tile.geometry + p.dataOffset;
    ChunkStart* starts = tile.chunkStarts.data() + p.firstChunk;
    bool differenced = p.encoding == 1 || p.encoding == 3;
    uint16_t sum = 0;
    if (p.encoding <= 1) {
        for (uint32_t i = 0; i < addressable; ++i) {
            if ((i & (CHUNK_POINTS - 1)) == 0) starts[i >> CHUNK_BITS] = {i * 2, sum, 0};
            if (differenced) sum = uint16_t(sum + loadU16(data + size_t(i) * 2));
        }
    } else {
        uint32_t at = 0, produced = 0;
        while (produced < addressable) {
            uint8_t control = data[at];
            uint32_t run = control & 0x7F;
            bool repeat = control & 0x80;
            for (uint32_t k = 0; k < run && produced < addressable; ++k, ++produced) {
                if ((produced & (CHUNK_POINTS - 1)) == 0) {
                    starts[produced >> CHUNK_BITS] = {at, sum, uint8_t(k)};
                }
                uint16_t value = loadU16(data + at + 1 + (repeat ? 0 : size_t(k) * 2));
                sum = differenced ? uint16_t(sum + value) : value;
            }
            at += 1 + (repeat ? 2 : run * 2);
        }
    }
    p.chunksIndexed = true;
}

void decodeChunk(const Tile& tile, uint32_t plane, uint32_t chunk, uint32_t count, uint16_t* out) {
    const PoolPlane& p = tile.planes[plane];
    const uint8_t* data = tile.geometry + p.dataOffset;
    const ChunkStart& start = tile.chunkStarts[p.firstChunk + chunk];
    bool differenced = p.encoding == 1 || p.encoding == 3;
    uint16_t sum = start.previousSum;
    if (p.encoding <= 1) {
        const uint8_t* values = data + start.byteOffset;
        for (uint32_t i = 0; i < count; ++i) {
            uint16_t v = loadU16(values + size_t(i) * 2);
            sum = differenced ? uint16_t(sum + v) : v;
            out[i] = sum;
        }
        return;
    }
    uint32_t at = start.byteOffset, skip = start.intoRun, produced = 0;
    while (produced < count) {
        uint8_t control = data[at];
        uint32_t run = control & 0x7F;
        bool repeat = control & 0x80;
        for (uint32_t k = skip; k < run && produced < count; ++k) {
            uint16_t v = loadU16(data + at + 1 + (repeat ? 0 : size_t(k) * 2));
            sum = differenced ? uint16_t(sum + v) : v;
            out[produced++] = sum;
        }
        skip = 0;
        at += 1 + (repeat ? 2 : run * 2);
    }
}

}  // namespace

void indexPlane(Tile& tile, const Pool& pool, uint32_t planeInPool) {
    uint32_t plane = pool.firstPlane + planeInPool;
    if (!tile.planes[plane].chunksIndexed) indexChunks(tile, plane, pool.addressable);
}

void attachTile(PointValues& values, Tile& tile, size_t maxChunks) {
    values = PointValues{};
    values.tile = &tile;
    values.maxChunks = std::max<size_t>(1, std::min(maxChunks, tile.chunkStarts.size()));
    values.slotOfChunk.assign(tile.chunkStarts.size(), 0);
    values.chunkOfSlot.assign(values.maxChunks, 0);
    values.slots = std::make_unique_for_overwrite<uint16_t[]>(values.maxChunks * CHUNK_POINTS);
}

uint32_t loadChunk(PointValues& values, const Pool& pool, uint32_t plane, uint32_t chunk) {
    Tile& tile = *values.tile;
    PoolPlane& p = tile.planes[plane];
    if (!p.chunksIndexed) indexChunks(tile, plane, pool.addressable);
    uint32_t slot;
    if (values.slotsUsed < values.maxChunks) {
        slot = uint32_t(values.slotsUsed++);
    } else {
        slot = uint32_t(values.nextVictim);
        values.nextVictim = (values.nextVictim + 1) % values.maxChunks;
        values.slotOfChunk[values.chunkOfSlot[slot]] = 0;
    }
    uint32_t first = chunk << CHUNK_BITS;
    uint32_t count = std::min(CHUNK_POINTS, pool.addressable - first);
    decodeChunk(tile, plane, chunk, count, values.slots.get() + (size_t(slot) << CHUNK_BITS));
    values.slotOfChunk[p.firstChunk + chunk] = slot + 1;
    values.chunkOfSlot[slot] = p.firstChunk + chunk;
    return slot;
}

}  // namespace mc::dsf
