// The selection pass over a binary tile: the same blocks, lines and decisions as over its text.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dsf/commands.h"
#include "dsf/point_values.h"
#include "pipeline/pipeline.h"
#include "text/failure_reason.h"
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
    bool certain = false;   // every point of the pool lies inside it, whatever its values
    RawRange longitude, latitude;
};

// Whether every value a point of the pool can have in this plane falls inside the range (a
// missing plane reads 0).
bool coversEveryValue(RawRange r, bool planePresent) {
    return planePresent ? r.low == 0 && r.high == RAW_VALUES - 1 : r.low <= 0 && 0 <= r.high;
}

// Prints kept blocks: its own decoded-value cache and scratch, so that two can work at once.
// The text of a value lately printed in one plane: a point is printed once for every
// primitive that uses it, and neighbours share coordinates, so values repeat within a few lines.
// Texts are tagged with the plane's scale, so that pools scaled alike share them.
struct PrintedValue {
    uint32_t scaleTag = 0;  // 0 while empty
    uint16_t raw = 0;
    uint8_t length = 0;
    char text[17];
};
constexpr size_t PRINTED_VALUES = 1024;  // per plane, by raw value: small enough to stay cached

struct Lane {
    dsf::PointValues values;
    const std::vector<uint32_t>* scaleTags = nullptr;  // per plane of the tile
    std::vector<dsf::PlaneScale> scales;               // of the pool being printed
    std::vector<uint32_t> tags;                        // of the pool being printed
    int64_t scalesPool = -1;
    std::vector<PrintedValue> printed;  // PRINTED_VALUES per plane
    std::vector<uint16_t> raws;         // of the vertex being printed
};

struct KeptBlock {
    int32_t type;
    uint32_t depth;
    size_t firstVertex, vertexCount;
};

constexpr size_t BATCH_VERTICES = 1 << 16;
constexpr size_t BATCH_PIECES = 8;

// Kept blocks waiting to be printed, in order. They are printed in pieces, each into a text of
// its own, so that either thread can take the next piece; the texts go to the file in order.
struct Batch {
    std::vector<KeptBlock> blocks;
    std::vector<dsf::VertexRef> vertices;
    size_t pieceEnds[BATCH_PIECES] = {};  // the block each piece ends before
    TextBlock texts[BATCH_PIECES];
    size_t nextPiece = 0, piecesDone = 0;  // under Printing::lock while the batch is printed
};

// Planes scaled alike print a raw value alike: one tag (from 1) per scale and offset.
std::vector<uint32_t> scaleTagsOf(const dsf::Tile& tile) {
    std::vector<uint32_t> tags(tile.planes.size());
    std::unordered_map<uint64_t, uint32_t> known;
    for (const dsf::Pool& pool : tile.pools) {
        for (uint32_t p = 0; p < pool.planeCount; ++p) {
            uint64_t key;
            std::memcpy(&key, tile.geometry + pool.scaleOffset + size_t(p) * 8, 8);
            tags[pool.firstPlane + p] =
                known.try_emplace(key, uint32_t(known.size() + 1)).first->second;
        }
    }
    return tags;
}

struct TileSelection {
    const SelectionWindow& window;
    dsf::Tile& tile;
    std::vector<uint32_t> scaleTags = scaleTagsOf(tile);
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
    w.certain = coversEveryValue(w.longitude, planes > LONGITUDE_PLANE) &&
                coversEveryValue(w.latitude, planes > LATITUDE_PLANE);
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
    // most primitives lie in one pool whose scale alone keeps it out of the window, or in it
    if (primitive.onePool >= 0) {
        const PoolWindow& w = poolWindow(s, uint32_t(primitive.onePool));
        if (!w.possible) return false;
        if (w.certain && !primitive.vertices.empty()) return true;
    }
    for (const dsf::VertexRef& v : primitive.vertices) {
        const PoolWindow& w = poolWindow(s, v.pool);
        if (!w.possible) continue;
        if (w.certain) return true;
        const dsf::Pool& pool = s.tile.pools[v.pool];
        if (isInside(w.longitude, rawOrZero(s, pool, LONGITUDE_PLANE, v.index)) &&
            isInside(w.latitude, rawOrZero(s, pool, LATITUDE_PLANE, v.index))) {
            return true;
        }
    }
    return false;
}

char* append(char* at, std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// Writes the value's text as lately printed, or prints and remembers it; touches up to
// sizeof PrintedValue::text bytes from `at`.
char* printValue(PrintedValue* plane, uint32_t scaleTag, dsf::PlaneScale scale, uint16_t raw,
                 char* at) {
    PrintedValue& known = plane[(raw * 40503u >> 6) & (PRINTED_VALUES - 1)];
    if (known.scaleTag == scaleTag && known.raw == raw) {
        std::memcpy(at, known.text, sizeof known.text);
        return at + known.length;
    }
    char* end = fixed9ToText(dsf::decodeValue(scale, raw), at);
    size_t length = size_t(end - at);
    if (length <= sizeof known.text) {
        std::memcpy(known.text, at, sizeof known.text);
        known.scaleTag = scaleTag, known.raw = raw, known.length = uint8_t(length);
    }
    return end;
}

// Grows the text so that a line of the given length fits at `at`; returns where it goes now.
[[gnu::noinline]] char* growText(TextBlock& text, char* at, size_t line) {
    size_t used = size_t(at - text.bytes.data());
    text.bytes.resize(std::max(2 * text.bytes.size(), used + line));
    return text.bytes.data() + used;
}

char* roomFor(TextBlock& text, char* at, size_t line) {
    bool fits = size_t(text.bytes.data() + text.bytes.size() - at) >= line;
    return fits ? at : growText(text, at, line);
}

// The plane scales of the pool and their tags, fetched when the pool or the depth changes.
void fetchScales(Lane& lane, const dsf::Tile& tile, uint32_t pool, uint32_t depth) {
    if (lane.scalesPool == int64_t(pool) && lane.scales.size() == depth) return;
    lane.scales.resize(depth);
    lane.tags.resize(depth);
    for (uint32_t p = 0; p < depth; ++p) {
        lane.scales[p] = dsf::planeScale(tile, pool, p);
        lane.tags[p] = (*lane.scaleTags)[tile.pools[pool].firstPlane + p];
    }
    lane.scalesPool = pool;
}

// "PATCH_VERTEX" and the point's values. The lane's arrays are read through locals: any byte
// stored through `at` could otherwise change them, as far as the compiler knows.
char* printVertexLine(Lane& lane, const dsf::Pool& pool, uint32_t index, uint32_t depth, char* at) {
    uint16_t* raws = lane.raws.data();
    // the raw values first: their loads overlap, where each print's branch would stop them
    for (uint32_t p = 0; p < depth; ++p) raws[p] = dsf::rawValue(lane.values, pool, p, index);
    const uint32_t* tags = lane.tags.data();
    const dsf::PlaneScale* scales = lane.scales.data();
    PrintedValue* printed = lane.printed.data();
    at = append(at, PATCH_VERTEX);
    for (uint32_t p = 0; p < depth; ++p) {
        *at++ = ' ';
        at = printValue(printed + p * PRINTED_VALUES, tags[p], scales[p], raws[p], at);
    }
    return append(at, LINE_END);
}

// The block as the text form prints it: "BEGIN_PRIMITIVE t", "PATCH_VERTEX" and the patch's
// depth values with nine decimals per vertex, "END_PRIMITIVE"; lines end in CR LF. Every line
// has room for its longest form, so values are copied in whole slots.
void printBlock(Lane& lane, TextBlock& text, const dsf::Tile& tile, const KeptBlock& block,
                const dsf::VertexRef* vertices) {
    size_t longestLine = PATCH_VERTEX.size() + size_t(block.depth) * (FIXED9_MAX_TEXT + 1) + 32;
    if (lane.printed.size() < block.depth * PRINTED_VALUES) {
        lane.printed.resize(block.depth * PRINTED_VALUES);
        lane.raws.resize(block.depth);
    }
    char* at = roomFor(text, text.bytes.data() + text.used, longestLine);
    at = append(at, "BEGIN_PRIMITIVE ");
    at = intToText(block.type, at);
    at = append(at, LINE_END);
    for (size_t k = 0; k < block.vertexCount; ++k) {
        const dsf::VertexRef v = vertices[k];
        fetchScales(lane, tile, v.pool, block.depth);
        at = roomFor(text, at, longestLine);
        at = printVertexLine(lane, tile.pools[v.pool], v.index, block.depth, at);
    }
    at = roomFor(text, at, longestLine);
    at = append(at, END_PRIMITIVE);
    at = append(at, LINE_END);
    text.used = size_t(at - text.bytes.data());
}

// One batch is printed while the next is collected: the second core takes pieces as soon as
// the batch is handed over, the main thread those left when it has the next batch ready.
// Everything the helper reads of the tile is indexed before the batch is handed over.
struct Printing {
    std::mutex lock;
    std::condition_variable changed;
    const dsf::Tile* tile = nullptr;
    Batch* batch = nullptr;  // being printed
    bool stop = false;
    Lane helperLane;
    std::thread helper;

    ~Printing() {
        if (!helper.joinable()) return;
        {
            std::lock_guard<std::mutex> guard(lock);
            stop = true;
        }
        changed.notify_all();
        helper.join();
    }
};

bool hasPieceLeft(const Printing& p) {
    return p.batch && p.batch->nextPiece < BATCH_PIECES;
}

// Prints pieces of the batch until none is left to take.
void printPieces(Printing& p, Lane& lane, std::unique_lock<std::mutex>& guard) {
    while (hasPieceLeft(p)) {
        Batch& batch = *p.batch;
        size_t piece = batch.nextPiece++;
        guard.unlock();
        size_t from = piece == 0 ? 0 : batch.pieceEnds[piece - 1];
        for (size_t b = from; b < batch.pieceEnds[piece]; ++b) {
            const KeptBlock& block = batch.blocks[b];
            printBlock(lane, batch.texts[piece], *p.tile, block,
                       batch.vertices.data() + block.firstVertex);
        }
        guard.lock();
        ++batch.piecesDone;
        p.changed.notify_all();
    }
}

void helperLoop(Printing& p) {
    std::unique_lock<std::mutex> guard(p.lock);
    for (;;) {
        p.changed.wait(guard, [&] { return hasPieceLeft(p) || p.stop; });
        if (p.stop) return;
        printPieces(p, p.helperLane, guard);
    }
}

// Prints what is left of the batch being printed, waits for the helper's pieces and passes the
// texts to the file in order.
void finishBatch(TileSelection& s, Printing& p, OutputFile& out) {
    if (!p.batch) return;
    Batch& batch = *p.batch;
    {
        std::unique_lock<std::mutex> guard(p.lock);
        printPieces(p, s.lane, guard);
        p.changed.wait(guard, [&] { return batch.piecesDone == BATCH_PIECES; });
        p.batch = nullptr;
    }
    for (TextBlock& text : batch.texts) handOver(out, text);
    batch.blocks.clear();
    batch.vertices.clear();
}

// Splits the batch into pieces of about equal vertex counts and hands it to the helper.
void startBatch(TileSelection& s, Printing& p, Batch& batch) {
    int64_t last = -1;
    for (const dsf::VertexRef& v : batch.vertices) {
        if (int64_t(v.pool) == last) continue;
        last = v.pool;
        const dsf::Pool& pool = s.tile.pools[v.pool];
        for (uint32_t plane = 0; plane < pool.planeCount; ++plane) {
            dsf::indexPlane(s.tile, pool, plane);
        }
    }
    size_t block = 0;
    for (size_t piece = 0; piece < BATCH_PIECES; ++piece) {
        size_t share = batch.vertices.size() * (piece + 1) / BATCH_PIECES;
        while (block < batch.blocks.size() && batch.blocks[block].firstVertex < share) ++block;
        batch.pieceEnds[piece] = block;
    }
    batch.pieceEnds[BATCH_PIECES - 1] = batch.blocks.size();
    // a helper starts with the first large batch: small cuts are printed before it would start
    bool helped =
        std::thread::hardware_concurrency() > 1 && batch.vertices.size() >= BATCH_VERTICES / 2;
    if (helped && !p.helper.joinable()) {
        p.tile = &s.tile;
        dsf::attachTile(p.helperLane.values, s.tile, dsf::DEFAULT_CACHE_CHUNKS / 2);
        p.helperLane.scaleTags = &s.scaleTags;
        p.helper = std::thread(helperLoop, std::ref(p));
    }
    std::lock_guard<std::mutex> guard(p.lock);
    p.tile = &s.tile;
    batch.nextPiece = batch.piecesDone = 0;
    p.batch = &batch;
    p.changed.notify_all();
}

Failure refuseDamagedTile(const dsf::Damage& damage, size_t size) {
    std::string reason = "the tile is damaged: " + damage.what;
    if (damage.at != UINT64_MAX) {
        reason += ": byte " + groupedNumber(damage.at) + " of " + groupedNumber(size);
    }
    noteFailureReason(reason);
    return Failure::readInput;
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
    const char* problem = !tile.hasBounds ? "the tile lacks one of its four bounds"
                                          : rasterProblem(stored.version, r);
    if (!problem && stored.pixelBytes != uint64_t(r.width) * r.height * r.bytesPerPixel) {
        problem = "its DEMD atom's size is not width x height x bytes per pixel";
    }
    if (problem) {
        noteFailureReason(std::string("the tile's elevation raster cannot be used: ") + problem);
        return false;
    }
    if (!takePixels(r, stored.pixels, stored.pixelBytes)) return false;
    raster = std::move(r);
    return true;
}

}  // namespace

Failure selectFromTile(const SelectionWindow& window, const uint8_t* bytes, size_t size,
                       OutputFile& out, OutputTarget& console, int32_t& keptCount,
                       ElevationRaster& raster, TileTerrain& terrain, ProgressMeter& meter) {
    dsf::Tile tile;
    dsf::Damage damage;
    if (!dsf::openTile(bytes, size, tile, damage)) return refuseDamagedTile(damage, size);
    if (!takeElevationRaster(tile, raster)) return Failure::readInput;
    terrain.definitions.assign(tile.terrainNames.begin(), tile.terrainNames.end());
    terrain.west = tile.bounds[0], terrain.south = tile.bounds[2];
    terrain.hasCorner = tile.hasBounds;
    TileSelection s{window, tile};
    s.poolWindows.resize(tile.pools.size());
    dsf::attachTile(s.lane.values, tile, dsf::DEFAULT_CACHE_CHUNKS / 2);
    s.lane.scaleTags = &s.scaleTags;
    dsf::CommandWalker walker;
    dsf::startWalk(walker, tile);
    dsf::Primitive primitive;
    Batch batches[2];
    size_t filling = 0;
    Printing printing;
    int32_t seenCount = 0;
    dsf::WalkStep step;
    while ((step = dsf::nextPrimitive(walker, tile, primitive, damage)) ==
           dsf::WalkStep::primitive) {
        ++seenCount;
        if ((seenCount & 1023) == 0) reportProgress(meter, uint64_t(walker.stream.at - bytes));
        if (!touchesWindow(s, primitive)) continue;
        Batch& batch = batches[filling];
        batch.blocks.push_back(
            {primitive.type, primitive.depth, batch.vertices.size(), primitive.vertices.size()});
        batch.vertices.insert(batch.vertices.end(), primitive.vertices.begin(),
                              primitive.vertices.end());
        if (batch.vertices.size() >= BATCH_VERTICES) {
            finishBatch(s, printing, out);
            startBatch(s, printing, batch);
            filling ^= 1;
        }
        ++keptCount;
        terrain.keptPatches.push_back({primitive.definition, primitive.flags, primitive.depth});
        clearProgress(meter);
        writeProgressLine(console, "Step 1: ", keptCount, seenCount);
    }
    finishBatch(s, printing, out);
    if (!batches[filling].blocks.empty()) {
        startBatch(s, printing, batches[filling]);
        finishBatch(s, printing, out);
    }
    return step == dsf::WalkStep::end ? Failure::none : refuseDamagedTile(damage, size);
}

}  // namespace mc
