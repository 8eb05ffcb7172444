// The mesh assembly pass: the kept blocks read back into the cut's vertex and index tables, each
// vertex projected into the object's frame, raster heights looked up on the second core.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "cut/cut.h"
#include "cut/raster_intake.h"
#include "cut/tile_trace.h"
#include "platform/helper_thread.h"
#include "text/console.h"
#include "text/line_reader.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

constexpr int32_t TRIANGLE_LIST = 0;
constexpr int32_t TRIANGLE_STRIP = 1;
constexpr int32_t TRIANGLE_FAN = 2;

struct PendingVertex {
    VertexPosition position;
    uint64_t source;  // packSource: the line's offset, and where a flagged elevation starts in it
};

// Neighbouring vertices share a few latitudes (the rows of a patch); the cosine is the costly
// part of a projection, so the latest ones are kept, by latitude.
struct CosineCache {
    struct Entry {
        double lat = NAN;
        long double cosine = 0;
    };
    static constexpr int BITS = 6;
    Entry entries[size_t(1) << BITS];
};

long double cosineOf(CosineCache& cache, double lat) {
    uint64_t bits;
    std::memcpy(&bits, &lat, sizeof bits);
    CosineCache::Entry& e =
        cache.entries[(bits * 0x9E3779B97F4A7C15ull) >> (64 - CosineCache::BITS)];
    if (!(e.lat == lat)) {
        e.lat = lat;
        e.cosine = cosineOfLatitude<long double>(lat);
    }
    return e.cosine;
}

// Carried with a 64-bit significand and rounded to double where a value is stored, so the
// object matches the tool's long-standing output to the last bit.
StoredVertex projectAt(const VertexPosition& position, uint64_t source,
                       const SelectionWindow& window, long double cosine) {
    double xm = double(metresEast(position.lon, window.longMin, cosine));
    double zm = double(metresNorth<long double>(position.lat, window.latMin));
    StoredVertex v;
    v.x = double(static_cast<long double>(xm) / SCALE_DIVISOR);
    v.elevation = position.elev;
    v.z = double((-1.0L * zm) / SCALE_DIVISOR);
    v.source = source;
    return v;
}

StoredVertex projectVertex(const PendingVertex& p, const SelectionWindow& window,
                           CosineCache& cache) {
    return projectAt(p.position, p.source, window, cosineOf(cache, p.position.lat));
}

// Raster heights are looked up on the second core while the pass reads on. Flagged vertices
// wait in blocks; a lookup writes only its vertex's elevation, which nothing reads before the
// pass has ended and the lookups with it.
struct HeightRequest {
    double* elevation;
    double lon, lat;
};
constexpr size_t HEIGHT_BLOCK = 16384;

struct HeightLookups {
    const ElevationRaster& raster;
    std::vector<HeightRequest> filling = {};
    std::vector<HeightRequest> resolving = {};  // the helper's, while it looks them up
    HeightMemo memo = {};                       // the helper's
    HelperThread helper{1};
};

void resolve(HeightLookups& h, const std::vector<HeightRequest>& requests) {
    for (const HeightRequest& r : requests) {
        *r.elevation = rememberedHeight(h.memo, h.raster, r.lon, r.lat);
    }
}

// Passes the waiting block to the helper (or resolves it here on one core).
void handOverHeights(HeightLookups& h) {
    if (h.filling.empty()) return;
    if (std::thread::hardware_concurrency() < 2) {
        resolve(h, h.filling);
        h.filling.clear();
        return;
    }
    h.helper.waitUntilIdle();
    std::swap(h.filling, h.resolving);
    h.filling.clear();
    h.helper.handOver([&h] { resolve(h, h.resolving); });
}

// Every height asked for is in place once this returns.
void finishHeights(HeightLookups& h) {
    handOverHeights(h);
    h.helper.stop();
}

struct Assembly {
    const SelectionWindow& window;
    Capacities capacities;
    MeshBuffers& mesh;
    HeightLookups& heights;
    MeshTrace* trace;        // where vertices and triangles came from, when the caller asks
    ClipRegion region = {};  // clip=1: what a triangle with no corner inside may still cover
    std::vector<AreaPolygon> parts = {};
    CosineCache cosine = {};
    std::vector<uint8_t> stripKeep = {};  // scratch for storeStrip, kept between strips
    std::vector<int32_t> stripVertices = {};
    Failure full = Failure::none;             // the capacity reached first, if any
    int64_t vertexCount = 0, indexCount = 0;  // what the window needs, stored or not
};

Status whatTheWindowNeeds(const Assembly& a) {
    const Capacities& c = a.capacities;
    return failedWith(a.full, "this window needs " + groupedNumber(uint64_t(a.vertexCount)) +
                                  " vertices (nb_max_vertex is " + intToText(c.maxVertices) +
                                  ") and " + groupedNumber(uint64_t(a.indexCount)) +
                                  " triangle indices (nb_max_tris is " + intToText(c.maxIndices) +
                                  "); nb_max_vertex=" + intToText(a.vertexCount + 1) +
                                  " and nb_max_tris=" + intToText(a.indexCount + 1) + " hold them");
}

// clip=1: whether a triangle with no corner inside covers some of the cut all the same (a
// window's or an outline's corner inside it).
bool coversSomeOfCut(Assembly& a, const VertexPosition& p0, const VertexPosition& p1,
                     const VertexPosition& p2) {
    if (!a.window.clip) return false;
    if (!boxMeetsWindow(a.window, std::min({p0.lon, p1.lon, p2.lon}),
                        std::max({p0.lon, p1.lon, p2.lon}), std::min({p0.lat, p1.lat, p2.lat}),
                        std::max({p0.lat, p1.lat, p2.lat}))) {
        return false;
    }
    if (!a.region.index) {
        const SelectionWindow& w = a.window;
        a.region = clipRegionOf({w.latMin, w.latMax, w.longMin, w.longMax}, w.area);
    }
    // no corner inside and no edge of the outline near: the triangle lies outside
    if (!outlineMayCross(a.region, std::min({p0.lon, p1.lon, p2.lon}),
                         std::max({p0.lon, p1.lon, p2.lon}), std::min({p0.lat, p1.lat, p2.lat}),
                         std::max({p0.lat, p1.lat, p2.lat}))) {
        return false;
    }
    AreaPoint corners[3] = {{p0.lon, p0.lat}, {p1.lon, p1.lat}, {p2.lon, p2.lat}};
    clipTriangle(a.region, corners, a.parts);
    return !a.parts.empty();
}

// Past a capacity the pass goes on counting what the window needs, storing nothing more.
void appendVertex(Assembly& a, const PendingVertex& p, size_t line) {
    ++a.vertexCount;
    if (a.full != Failure::none) return;
    a.mesh.vertices.push(projectVertex(p, a.window, a.cosine));
    if (a.trace) a.trace->vertexLines.push(uint32_t(line));
    if (flaggedField(a.mesh.vertices.last()) != 0) {
        a.heights.filling.push_back(
            {&a.mesh.vertices.last().elevation, p.position.lon, p.position.lat});
        if (a.heights.filling.size() == HEIGHT_BLOCK) handOverHeights(a.heights);
    }
    if (a.vertexCount >= a.capacities.maxVertices) a.full = Failure::vertexCapacity;
}

// The triangle the next three indices make, by its number in its primitive.
void noteTriangle(Assembly& a, size_t triangle) {
    if (a.trace && a.full == Failure::none) a.trace->triangleNumbers.push(uint32_t(triangle));
}

void appendIndex(Assembly& a, size_t vertexNumber) {
    ++a.indexCount;
    if (a.full != Failure::none) return;
    a.mesh.indices.push(int32_t(vertexNumber));
    if (a.indexCount >= a.capacities.maxIndices) a.full = Failure::indexCapacity;
}

// A fan keeps every vertex and turns around its first one; fewer than three make no triangle.
void storeFan(Assembly& a, const std::vector<PendingVertex>& lines) {
    if (lines.size() < 3) return;
    size_t first = a.mesh.vertices.count;
    for (size_t k = 0; k < lines.size(); ++k) appendVertex(a, lines[k], k);
    for (size_t c = first + 2; c < first + lines.size(); ++c) {
        noteTriangle(a, c - first - 2);
        appendIndex(a, first), appendIndex(a, c - 1), appendIndex(a, c);
    }
}

// A triangle list keeps the complete groups of three that touch the window; vertices are never
// shared between triangles.
void storeTriangles(Assembly& a, const std::vector<PendingVertex>& lines) {
    for (size_t g = 0; g + 3 <= lines.size(); g += 3) {
        bool touches = false;
        for (size_t k = 0; k < 3; ++k) {
            const VertexPosition& p = lines[g + k].position;
            if (isInsideCut(a.window, p.lon, p.lat)) touches = true;
        }
        if (!touches) {
            touches =
                coversSomeOfCut(a, lines[g].position, lines[g + 1].position, lines[g + 2].position);
        }
        if (!touches) continue;
        noteTriangle(a, g / 3);
        for (size_t k = 0; k < 3; ++k) {
            size_t vertexNumber = a.mesh.vertices.count;
            appendVertex(a, lines[g + k], g + k);
            appendIndex(a, vertexNumber);
        }
    }
}

// Strip triangle t stands on lines t, t+1, t+2, the first two swapped when t is odd, so every
// triangle faces the way the strip does. A triangle is kept as in a list; the lines its kept
// triangles use are stored once each, in line order, before any of their indices.
void storeStrip(Assembly& a, const std::vector<PendingVertex>& lines) {
    if (lines.size() < 3) return;
    size_t triangles = lines.size() - 2;
    std::vector<uint8_t>& keep = a.stripKeep;
    keep.assign(lines.size(), 0);
    for (size_t i = 0; i < lines.size(); ++i) {
        const VertexPosition& p = lines[i].position;
        keep[i] = isInsideCut(a.window, p.lon, p.lat);
    }
    for (size_t t = 0; t < triangles; ++t) keep[t] = keep[t] | keep[t + 1] | keep[t + 2];
    keep[triangles] = keep[triangles + 1] = 0;  // from here on keep[t]: triangle t is kept
    for (size_t t = 0; t < triangles && a.window.clip; ++t) {
        if (!keep[t]) {
            keep[t] =
                coversSomeOfCut(a, lines[t].position, lines[t + 1].position, lines[t + 2].position);
        }
    }

    std::vector<int32_t>& stored = a.stripVertices;  // per line: its vertex number once stored
    stored.assign(lines.size(), -1);
    for (size_t i = 0; i < lines.size(); ++i) {
        bool used = keep[i] || (i >= 1 && keep[i - 1]) || (i >= 2 && keep[i - 2]);
        if (!used) continue;
        stored[i] = int32_t(a.mesh.vertices.count);
        appendVertex(a, lines[i], i);
    }
    for (size_t t = 0; t < triangles; ++t) {
        if (!keep[t]) continue;
        size_t first = t & 1 ? t + 1 : t;
        size_t second = t & 1 ? t : t + 1;
        noteTriangle(a, t);
        appendIndex(a, size_t(stored[first]));
        appendIndex(a, size_t(stored[second]));
        appendIndex(a, size_t(stored[t + 2]));
    }
}

// A block of another patch than the last one starts a run.
void notePatch(MeshBuffers& mesh, const TileTerrain& terrain, int32_t blockNumber) {
    size_t block = size_t(blockNumber - 1);
    BlockPatch patch =
        block < terrain.keptPatches.size() ? terrain.keptPatches[block] : BlockPatch{};
    if (!mesh.runs.empty()) {
        const BlockPatch& last = mesh.runs.back().patch;
        if (last.definition == patch.definition && last.flags == patch.flags &&
            last.depth == patch.depth) {
            return;
        }
    }
    mesh.runs.push_back({mesh.vertices.count, mesh.indices.count, patch});
}

// The pass over the kept blocks: the block being read, its lines read as vertices.
struct KeptBlocks {
    Assembly& assembly;
    ElevationRaster& raster;
    const TileTerrain& terrain;
    OutputFile& console;
    int32_t keptCount;
    std::vector<PendingVertex> lines = {};  // block lines 2 to n + 1
    bool inBlock = false;
    int32_t type = 0;
    int32_t blockNumber = 0;
};

void storeBlock(KeptBlocks& b) {
    Assembly& a = b.assembly;
    if (a.full == Failure::none) notePatch(a.mesh, b.terrain, b.blockNumber);
    if (a.trace) a.trace->blocks.push_back({a.mesh.vertices.count, a.mesh.indices.count});
    if (b.type == TRIANGLE_FAN) storeFan(a, b.lines);
    if (b.type == TRIANGLE_LIST) storeTriangles(a, b.lines);
    if (b.type == TRIANGLE_STRIP) storeStrip(a, b.lines);
}

// A vertex line of a block; a text tile's raster is read when the first flagged one comes.
Status takeVertexLine(KeptBlocks& b, std::string_view line, std::string_view remainder,
                      uint64_t lineOffset) {
    const char* elevField;
    VertexPosition position = readVertexPosition(remainder, &elevField);
    uint32_t flagged = 0;
    ElevationRaster& raster = b.raster;
    bool needsHeight = position.elev == RASTER_HEIGHT_FLAG && b.assembly.full == Failure::none;
    if (needsHeight && !raster.present && raster.described) {
        auto described = std::move(raster.described);
        if (Status status = loadTextRaster(*described, raster.describedBy, raster); !status.ok()) {
            return status;
        }
    }
    if (needsHeight && raster.present) {
        flagged =
            uint32_t(std::min<size_t>(size_t(elevField - line.data()), FLAGGED_FIELD_UNNOTED));
    }
    b.lines.push_back({position, packSource(lineOffset, flagged)});
    return {};
}

Status takeKeptLine(KeptBlocks& b, std::string_view line, uint64_t lineOffset) {
    SplitText split = splitFirstField(line);
    if (split.first == BEGIN_PRIMITIVE) {
        b.inBlock = true;
        b.lines.clear();
        b.type = parseInteger(splitBeforeSpace(line).rest);
        ++b.blockNumber;
        if (b.assembly.full == Failure::none) {
            writeProgressLine(b.console, "Step 2: ", b.blockNumber, b.keptCount);
        }
        return {};
    }
    if (!b.inBlock) return {};
    if (split.first == END_PRIMITIVE) {
        b.inBlock = false;
        storeBlock(b);
        return {};
    }
    if (b.type == TRIANGLE_FAN || b.type == TRIANGLE_LIST || b.type == TRIANGLE_STRIP) {
        return takeVertexLine(b, line, split.rest, lineOffset);
    }
    return {};
}

Status readKeptBlocks(const Selection& found, Assembly& assembly, ElevationRaster& raster,
                      OutputFile& console) {
    LineReader reader;
    if (!openForReading(reader, found.keptPath)) {
        return failedWith(Failure::readTemp,
                          "cannot open " + found.keptPath + " again: " + systemErrorText());
    }
    KeptBlocks blocks{assembly, raster, found.terrain, console, found.keptCount};
    Status status;
    while (status.ok() && !atEnd(reader)) {
        std::string_view line = readLine(reader);
        if (!line.empty()) status = takeKeptLine(blocks, line, reader.lineOffset);
    }
    finishHeights(assembly.heights);
    bool readFailed = reader.readFailed;
    closeReader(reader);
    if (status.ok() && readFailed) {
        return failedWith(Failure::readTemp,
                          "reading " + found.keptPath + " back failed: " + reader.error);
    }
    if (status.ok() && assembly.full != Failure::none) return whatTheWindowNeeds(assembly);
    return status;
}

// The origin and its line, read back through the cut's reader of the kept lines.
Status findOriginLine(Cut& cut) {
    if (!openKeptLines(cut.lines, cut.lines.path) && cut.mesh.vertices.count > 0) {
        return keptLinesFailure(cut);
    }
    return findOriginAgain(cut);
}

}  // namespace

OriginVertex findOrigin(const MeshBuffers& mesh) {
    OriginVertex origin;
    for (size_t i = 0; i < mesh.vertices.count; ++i) {
        const StoredVertex& v = mesh.vertices[i];
        double y = objectY(v);
        if (y > origin.y) {
            origin.x = v.x;
            origin.y = y;
            origin.z = v.z;
            origin.index = int64_t(i);
        }
    }
    return origin;
}

const PatchRun& runOfVertex(const MeshBuffers& mesh, size_t vertex) {
    auto after =
        std::upper_bound(mesh.runs.begin(), mesh.runs.end(), vertex,
                         [](size_t v, const PatchRun& run) { return v < run.firstVertex; });
    return *(after - 1);
}

Cut assembleCut(Selection&& found, Capacities capacities, OutputFile& console, TileTrace* trace) {
    Cut cut;
    cut.window = found.window;
    cut.lines.path = found.keptPath;
    HeightLookups heights{found.raster};
    Assembly assembly{cut.window, capacities, cut.mesh, heights, trace ? &trace->mesh : nullptr};
    cut.status = readKeptBlocks(found, assembly, found.raster, console);
    if (trace) trace->mesh.blocks.push_back({cut.mesh.vertices.count, cut.mesh.indices.count});
    cut.terrain = std::move(found.terrain);
    cut.raster = std::move(found.raster);
    cut.clipRegion = std::move(assembly.region);
    if (cut.status.ok()) cut.status = findOriginLine(cut);
    return cut;
}

Status findOriginAgain(Cut& cut) {
    cut.origin = findOrigin(cut.mesh);
    cut.originLine.clear();
    if (cut.origin.index < 0) return {};
    std::string scratch;
    std::string_view line;
    if (!shownVertexLine(cut, cut.mesh.vertices[size_t(cut.origin.index)], scratch, line)) {
        return keptLinesFailure(cut);
    }
    cut.originLine = line;
    return {};
}

StoredVertex projectPosition(const SelectionWindow& window, const VertexPosition& position,
                             uint64_t source) {
    // one position: its cosine computed as the cache would, without filling a cache
    return projectAt(position, source, window, cosineOfLatitude<long double>(position.lat));
}

bool shownVertexLine(const Cut& cut, const StoredVertex& vertex, std::string& scratch,
                     std::string_view& line) {
    if (!keptLine(cut.lines, sourceOffset(vertex), line)) return false;
    uint32_t field = flaggedField(vertex);
    if (field == FLAGGED_FIELD_UNNOTED) {
        line = lineWithHeight(line, vertex.elevation, cut.raster, scratch);
    } else if (field != 0) {
        line = lineWithHeightAt(line, field, vertex.elevation, scratch);
    }
    return true;
}

Status keptLinesFailure(const Cut& cut) {
    return failedWith(Failure::readTemp,
                      "reading " + cut.lines.path + " back failed: " + systemErrorText());
}

}  // namespace mc
