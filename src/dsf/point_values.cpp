// Raw pool values decoded a chunk at a time into a cache of bounded size.
#include "dsf/point_values.h"

#include <algorithm>

#include "dsf/cursor.h"

namespace mc::dsf {

namespace {

// The running sum after adding `count` 16-bit values stored from `values` (wrapping).
uint16_t sumOf(const uint8_t* values, uint32_t count, uint16_t sum) {
    for (uint32_t i = 0; i < count; ++i) sum = uint16_t(sum + loadU16(values + size_t(i) * 2));
    return sum;
}

// One walk over the plane, run by run, noting where every chunk starts; runs were checked at
// open. The values of a run are only visited to sum them.
void indexChunks(Tile& tile, uint32_t plane, uint32_t addressable) {
    PoolPlane& p = tile.planes[plane];
    const uint8_t* data = tile.geometry + p.dataOffset;
    ChunkStart* starts = tile.chunkStarts.data() + p.firstChunk;
    bool differenced = p.encoding == 1 || p.encoding == 3;
    if (p.encoding <= 1) {
        uint16_t sum = 0;
        for (uint32_t first = 0; first < addressable; first += CHUNK_POINTS) {
            starts[first >> CHUNK_BITS] = {first * 2, sum, 0};
            uint32_t count = std::min(CHUNK_POINTS, addressable - first);
            if (differenced) sum = sumOf(data + size_t(first) * 2, count, sum);
        }
        p.chunksIndexed = true;
        return;
    }
    uint32_t at = 0, produced = 0, nextStart = 0;
    uint16_t sum = 0;
    while (produced < addressable) {
        uint8_t control = data[at];
        bool repeat = control & 0x80;
        uint32_t taken = std::min<uint32_t>(control & 0x7F, addressable - produced);
        const uint8_t* values = data + at + 1;
        for (; nextStart < produced + taken; nextStart += CHUNK_POINTS) {
            uint32_t k = nextStart - produced;  // values of the run before the chunk's first
            uint16_t before = sum;
            if (repeat && k > 0) {
                before = differenced ? uint16_t(sum + loadU16(values) * k) : loadU16(values);
            } else if (k > 0) {
                before = differenced ? sumOf(values, k, sum) : loadU16(values + size_t(k - 1) * 2);
            }
            starts[nextStart >> CHUNK_BITS] = {at, before, uint8_t(k)};
        }
        if (repeat) {
            sum = differenced ? uint16_t(sum + loadU16(values) * taken) : loadU16(values);
        } else {
            sum = differenced ? sumOf(values, taken, sum) : loadU16(values + size_t(taken - 1) * 2);
        }
        produced += taken;
        at += 1 + (repeat ? 2 : (control & 0x7F) * 2);
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
