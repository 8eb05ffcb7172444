// The selection pass over a binary tile: the same blocks, lines and decisions as over its text.
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dsf/commands.h"
#include "dsf/point_values.h"
#include "pipeline/pipeline.h"
#include "text/fixed9.h"

namespace mc {

namespace {

constexpr int32_t RAW_VALUES = 65536;
constexpr int LONGITUDE_PLANE = 0;
constexpr int LATITUDE_PLANE = 1;

// The raw integers whose printed value lies strictly between two edges, low..high inclusive
// (empty when low > high).
struct RawRange {
    int32_t low = 1, high = 0;
};

// What the text form reads back: the value printed with nine decimals, then parsed.
double printedValue(dsf::PlaneScale s, uint16_t raw) {
    char text[FIXED9_MAX_TEXT];
    char* end = fixed9ToText(dsf::decodeValue(s, raw), text);
    return parseNumber(text, end);
}

template <typename Predicate>
int32_t firstTrue(Predicate holds) {  // holds goes false..true over 0..65535
    int32_t low = 0, high = RAW_VALUES;
    while (low < high) {
        int32_t middle = (low + high) / 2;
        if (holds(uint16_t(middle))) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// The printed value only grows (or only shrinks) with the raw integer, so the raw integers
// inside the edges form one range, found by the exact test at its ends.
RawRange rangeBetween(dsf::PlaneScale s, double lowEdge, double highEdge) {
    auto above = [&](uint16_t raw) { return lowEdge < printedValue(s, raw); };
    auto below = [&](uint16_t raw) { return printedValue(s, raw) < highEdge; };
    RawRange r;
    if (s.scale < 0) {
        r.low = firstTrue(below);
        r.high = firstTrue([&](uint16_t raw) { return !above(raw); }) - 1;
    } else {
        r.low = firstTrue(above);
        r.high = firstTrue([&](uint16_t raw) { return !below(raw); }) - 1;
    }
    return r;
}

// A vertex line with fewer values reads the missing ones as 0: one constant raw value 0.
RawRange rangeOfMissingPlane(double lowEdge, double highEdge) {
    RawRange r;
    if (lowEdge < 0.0 && 0.0 < highEdge) r = {0, 0};
    return r;
}

struct PoolWindow {
    bool known = false;
    bool possible = false;  // some point of the pool may lie inside the window
    RawRange longitude, latitude;
};

// Prints kept blocks: its own decoded-value cache and scratch, so that two can work at once.
struct Lane {
    dsf::PointValues values;
    std::vector<char> line;               // one vertex line
    std::vector<dsf::PlaneScale> scales;  // of the pool being printed
    std::string text;                     // the blocks printed so far
};

struct KeptBlock {
    int32_t type;
    uint32_t depth;
    size_t firstVertex, vertexCount;
};

// Kept blocks waiting to be printed, in order.
struct Batch {
    std::vector<KeptBlock> blocks;
    std::vector<dsf::VertexRef> vertices;
};

struct TileSelection {
    const SelectionWindow& window;
    dsf::Tile& tile;
    Lane lane = {};  // the main thread's; the window tests read their values through it too
    std::vector<PoolWindow> poolWindows = {};
};

const PoolWindow& poolWindow(TileSelection& s, uint32_t pool) {
    PoolWindow& w = s.poolWindows[pool];
    if (w.known) return w;
    uint32_t planes = s.tile.pools[pool].planeCount;
    const SelectionWindow& win = s.window;
    w.longitude =
        planes > LONGITUDE_PLANE
            ? rangeBetween(dsf::planeScale(s.tile, pool, LONGITUDE_PLANE), win.longMin, win.longMax)
            : rangeOfMissingPlane(win.longMin, win.longMax);
    w.latitude =
        planes > LATITUDE_PLANE
            ? rangeBetween(dsf::planeScale(s.tile, pool, LATITUDE_PLANE), win.latMin, win.latMax)
            : rangeOfMissingPlane(win.latMin, win.latMax);
    w.possible = w.longitude.low <= w.longitude.high && w.latitude.low <= w.latitude.high;
    w.known = true;
    return w;
}

uint16_t rawOrZero(TileSelection& s, const dsf::Pool& pool, int plane, uint32_t index) {
    return pool.planeCount > uint32_t(plane) ? dsf::rawValue(s.lane.values, pool, plane, index) : 0;
}

bool isInside(RawRange r, uint16_t raw) {
    return r.low <= raw && raw <= r.high;
}

bool touchesWindow(TileSelection& s, const dsf::Primitive& primitive) {
    // most primitives lie in one pool whose scale alone keeps it out of the window
    if (primitive.onePool >= 0 && !poolWindow(s, uint32_t(primitive.onePool)).possible) {
        return false;
    }
    for (const dsf::VertexRef& v : primitive.vertices) {
        const PoolWindow& w = poolWindow(s, v.pool);
        if (!w.possible) continue;
        const dsf::Pool& pool = s.tile.pools[v.pool];
        if (isInside(w.longitude, rawOrZero(s, pool, LONGITUDE_PLANE, v.index)) &&
            isInside(w.latitude, rawOrZero(s, pool, LATITUDE_PLANE, v.index))) {
            return true;
        }
    }
    return false;
}

// The block as the text form prints it: "BEGIN_PRIMITIVE t", "PATCH_VERTEX" and the patch's
// depth values with nine decimals per vertex, "END_PRIMITIVE"; lines end in CR LF.
void printBlock(Lane& lane, const dsf::Tile& tile, const KeptBlock& block,
                const dsf::VertexRef* vertices) {
    char type[24];
    lane.text += "BEGIN_PRIMITIVE ";
    lane.text.append(type, intToText(block.type, type));
    lane.text += LINE_END;
    size_t longest = PATCH_VERTEX.size() + size_t(block.depth) * (FIXED9_MAX_TEXT + 1) + 2;
    if (lane.line.size() < longest) lane.line.resize(longest);
    int64_t scalesOf = -1;  // the pool whose plane scales are at hand
    for (size_t k = 0; k < block.vertexCount; ++k) {
        const dsf::VertexRef& v = vertices[k];
        const dsf::Pool& pool = tile.pools[v.pool];
        if (scalesOf != int64_t(v.pool)) {
            lane.scales.resize(block.depth);
            for (uint32_t p = 0; p < block.depth; ++p) {
                lane.scales[p] = dsf::planeScale(tile, v.pool, p);
            }
            scalesOf = v.pool;
        }
        char* at = lane.line.data();
        std::memcpy(at, PATCH_VERTEX.data(), PATCH_VERTEX.size());
        at += PATCH_VERTEX.size();
        for (uint32_t p = 0; p < block.depth; ++p) {
            *at++ = ' ';
            uint16_t raw = dsf::rawValue(lane.values, pool, p, v.index);
            at = fixed9ToText(dsf::decodeValue(lane.scales[p], raw), at);
        }
        *at++ = '\r', *at++ = '\n';
        lane.text.append(lane.line.data(), at);
    }
    lane.text += END_PRIMITIVE;
    lane.text += LINE_END;
}

void printBlocks(Lane& lane, const dsf::Tile& tile, const Batch& batch, size_t from, size_t to) {
    for (size_t b = from; b < to; ++b) {
        const KeptBlock& block = batch.blocks[b];
        printBlock(lane, tile, block, batch.vertices.data() + block.firstVertex);
    }
}

// The second core prints the later half of each large batch while the main thread prints the
// first; everything it reads of the tile is indexed beforehand.
struct Helper {
    std::mutex lock;
    std::condition_variable changed;
    const dsf::Tile* tile = nullptr;
    const Batch* batch = nullptr;
    size_t from = 0, to = 0;
    bool busy = false, stop = false;
    Lane lane;
    std::thread thread;

    ~Helper() {
        if (!thread.joinable()) return;
        {
            std::lock_guard<std::mutex> guard(lock);
            stop = true;
        }
        changed.notify_all();
        thread.join();
    }
};

void helperLoop(Helper& h) {
    std::unique_lock<std::mutex> guard(h.lock);
    for (;;) {
        h.changed.wait(guard, [&] { return h.busy || h.stop; });
        if (!h.busy) return;
        guard.unlock();
        printBlocks(h.lane, *h.tile, *h.batch, h.from, h.to);
        guard.lock();
        h.busy = false;
        h.changed.notify_all();
    }
}

constexpr size_t BATCH_VERTICES = 1 << 16;

// Prints a batch into the temporary file, on both cores when it is large.
void printBatch(TileSelection& s, Batch& batch, std::unique_ptr<Helper>& helper, OutputFile& out) {
    if (batch.blocks.empty()) return;
    bool shared =
        batch.vertices.size() >= BATCH_VERTICES / 2 && std::thread::hardware_concurrency() > 1;
    size_t split = batch.blocks.size();
    if (shared) {
        // the planes the helper reads are indexed here, so that it only reads the tile
        int64_t last = -1;
        for (const dsf::VertexRef& v : batch.vertices) {
            if (int64_t(v.pool) == last) continue;
            last = v.pool;
            const dsf::Pool& pool = s.tile.pools[v.pool];
            for (uint32_t p = 0; p < pool.planeCount; ++p) dsf::indexPlane(s.tile, pool, p);
        }
        split = 0;
        while (split < batch.blocks.size() &&
               batch.blocks[split].firstVertex < batch.vertices.size() / 2) {
            ++split;
        }
        if (!helper) {
            helper = std::make_unique<Helper>();
            helper->tile = &s.tile;
            dsf::attachTile(helper->lane.values, s.tile, dsf::DEFAULT_CACHE_CHUNKS / 2);
            helper->thread = std::thread(helperLoop, std::ref(*helper));
        }
        std::lock_guard<std::mutex> guard(helper->lock);
        helper->batch = &batch;
        helper->from = split;
        helper->to = batch.blocks.size();
        helper->busy = true;
        helper->changed.notify_all();
    }
    printBlocks(s.lane, s.tile, batch, 0, split);
    writeText(out, s.lane.text);
    s.lane.text.clear();
    if (shared) {
        std::unique_lock<std::mutex> guard(helper->lock);
        helper->changed.wait(guard, [&] { return !helper->busy; });
        writeText(out, helper->lane.text);
        helper->lane.text.clear();
    }
    batch.blocks.clear();
    batch.vertices.clear();
}

// The raster is copied out: the tile's bytes are gone once the pass ends.
bool takeElevationRaster(const dsf::Tile& tile, ElevationRaster& raster) {
    const dsf::TileRaster& stored = tile.elevation;
    if (!stored.found) return true;
    ElevationRaster r;
    r.bytesPerPixel = stored.bytesPerPixel;
    r.format = PixelFormat(stored.flags & 3);
    r.postCentric = (stored.flags & 4) != 0;
    r.width = stored.width;
    r.height = stored.height;
    r.scale = stored.scale;
    r.offset = stored.offset;
    r.west = tile.bounds[0], r.east = tile.bounds[1];
    r.south = tile.bounds[2], r.north = tile.bounds[3];
    if (!tile.hasBounds || !isConsistentRaster(stored.version, r) ||
        stored.pixelBytes != uint64_t(r.width) * r.height * r.bytesPerPixel ||
        !takePixels(r, stored.pixels, stored.pixelBytes)) {
        return false;
    }
    raster = std::move(r);
    return true;
}

}  // namespace

Failure selectFromTile(const SelectionWindow& window, const uint8_t* bytes, size_t size,
                       OutputFile& out, OutputTarget& console, int32_t& keptCount,
                       ElevationRaster& raster, ProgressMeter& meter) {
    dsf::Tile tile;
    const char* damage = nullptr;
    if (!dsf::openTile(bytes, size, tile, damage) || !takeElevationRaster(tile, raster)) {
        return Failure::readInput;
    }
    TileSelection s{window, tile};
    s.poolWindows.resize(tile.pools.size());
    dsf::attachTile(s.lane.values, tile, dsf::DEFAULT_CACHE_CHUNKS / 2);
    dsf::CommandWalker walker;
    dsf::startWalk(walker, tile);
    dsf::Primitive primitive;
    Batch batch;
    std::unique_ptr<Helper> helper;
    int32_t seenCount = 0;
    dsf::WalkStep step;
    while ((step = dsf::nextPrimitive(walker, tile, primitive, damage)) ==
           dsf::WalkStep::primitive) {
        ++seenCount;
        if ((seenCount & 1023) == 0) reportProgress(meter, uint64_t(walker.stream.at - bytes));
        if (!touchesWindow(s, primitive)) continue;
        batch.blocks.push_back(
            {primitive.type, primitive.depth, batch.vertices.size(), primitive.vertices.size()});
        batch.vertices.insert(batch.vertices.end(), primitive.vertices.begin(),
                              primitive.vertices.end());
        if (batch.vertices.size() >= BATCH_VERTICES) printBatch(s, batch, helper, out);
        ++keptCount;
        clearProgress(meter);
        writeProgressLine(console, "Step 1: ", keptCount, seenCount);
    }
    printBatch(s, batch, helper, out);
    return step == dsf::WalkStep::end ? Failure::none : Failure::readInput;
}

}  // namespace mc
