#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "pipeline/pipeline.h"
#include "pipeline/raster_intake.h"
#include "platform/helper_thread.h"
#include "text/failure_reason.h"
#include "text/line_reader.h"

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
        e.cosine = std::cos(static_cast<long double>(DEG_TO_RAD) * lat);
    }
    return e.cosine;
}

// Carried with a 64-bit significand and rounded to double where a value is stored, so the
// object matches the tool's long-standing output to the last bit.
StoredVertex projectVertex(const PendingVertex& p, const SelectionWindow& w, CosineCache& cache) {
    double xm = double((static_cast<long double>(p.position.lon) - w.longMin) *
                       cosineOf(cache, p.position.lat) * METRES_PER_DEGREE);
    double zm = double((static_cast<long double>(p.position.lat) - w.latMin) * METRES_PER_DEGREE);
    StoredVertex v;
    v.x = double(static_cast<long double>(xm) / SCALE_DIVISOR);
    v.elevation = p.position.elev;
    v.z = double((-1.0L * zm) / SCALE_DIVISOR);
    v.source = p.source;
    return v;
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
    int32_t maxVertices;
    int32_t maxIndices;
    MeshBuffers& mesh;
    HeightLookups& heights;
    CosineCache cosine = {};
    std::vector<uint8_t> stripKeep = {};  // scratch for storeStrip, kept between strips
    std::vector<int32_t> stripVertices = {};
    Failure full = Failure::none;             // the capacity reached first, if any
    int64_t vertexCount = 0, indexCount = 0;  // what the window needs, stored or not
};

void noteWhatTheWindowNeeds(const Assembly& a) {
    noteFailureReason("this window needs " + groupedNumber(uint64_t(a.vertexCount)) +
                      " vertices (nb_max_vertex is " + intToText(a.maxVertices) + ") and " +
                      groupedNumber(uint64_t(a.indexCount)) + " triangle indices (nb_max_tris is " +
                      intToText(a.maxIndices) + "); nb_max_vertex=" + intToText(a.vertexCount + 1) +
                      " and nb_max_tris=" + intToText(a.indexCount + 1) + " hold them");
}

// Past a capacity the pass goes on counting what the window needs, storing nothing more.
void appendVertex(Assembly& a, const PendingVertex& p) {
    ++a.vertexCount;
    if (a.full != Failure::none) return;
    a.mesh.vertices.push(projectVertex(p, a.window, a.cosine));
    if (flaggedField(a.mesh.vertices.last()) != 0) {
        a.heights.filling.push_back(
            {&a.mesh.vertices.last().elevation, p.position.lon, p.position.lat});
        if (a.heights.filling.size() == HEIGHT_BLOCK) handOverHeights(a.heights);
    }
    if (a.vertexCount >= a.maxVertices) a.full = Failure::vertexCapacity;
}

void appendIndex(Assembly& a, size_t vertexNumber) {
    ++a.indexCount;
    if (a.full != Failure::none) return;
    a.mesh.indices.push(int32_t(vertexNumber));
    if (a.indexCount >= a.maxIndices) a.full = Failure::indexCapacity;
}

// A fan keeps every vertex and turns around its first one; fewer than three make no triangle.
void storeFan(Assembly& a, const std::vector<PendingVertex>& lines) {
    if (lines.size() < 3) return;
    size_t first = a.mesh.vertices.count;
    for (const PendingVertex& line : lines) appendVertex(a, line);
    for (size_t c = first + 2; c < first + lines.size(); ++c) {
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
            if (isInsideWindow(a.window, p.lon, p.lat)) touches = true;
        }
        if (!touches) continue;
        for (size_t k = 0; k < 3; ++k) {
            size_t vertexNumber = a.mesh.vertices.count;
            appendVertex(a, lines[g + k]);
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
        keep[i] = isInsideWindow(a.window, p.lon, p.lat);
    }
    for (size_t t = 0; t < triangles; ++t) keep[t] = keep[t] | keep[t + 1] | keep[t + 2];
    keep[triangles] = keep[triangles + 1] = 0;  // from here on keep[t]: triangle t is kept

    std::vector<int32_t>& stored = a.stripVertices;  // per line: its vertex number once stored
    stored.assign(lines.size(), -1);
    for (size_t i = 0; i < lines.size(); ++i) {
        bool used = keep[i] || (i >= 1 && keep[i - 1]) || (i >= 2 && keep[i - 2]);
        if (!used) continue;
        stored[i] = int32_t(a.mesh.vertices.count);
        appendVertex(a, lines[i]);
    }
    for (size_t t = 0; t < triangles; ++t) {
        if (!keep[t]) continue;
        size_t first = t & 1 ? t + 1 : t;
        size_t second = t & 1 ? t : t + 1;
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

}  // namespace

Failure runMeshAssemblyPass(const SelectionWindow& window, int32_t maxVertices, int32_t maxIndices,
                            const TempFile& temp, int32_t keptCount, OutputFile& console,
                            ElevationRaster& raster, const TileTerrain& terrain,
                            MeshBuffers& mesh) {
    LineReader reader;
    if (!openForReading(reader, temp.path)) return Failure::readTemp;
    HeightLookups heights{raster};
    Assembly assembly{window, maxVertices, maxIndices, mesh, heights};
    std::vector<PendingVertex> blockLines;  // block lines 2 to n + 1, read as vertices
    bool inBlock = false;
    int32_t type = 0;
    int32_t blockNumber = 0;
    Failure failure = Failure::none;
    while (failure == Failure::none && !atEnd(reader)) {
        std::string_view line = readLine(reader);
        if (line.empty()) continue;
        SplitText split = splitFirstField(line);
        bool counting = assembly.full != Failure::none;
        if (split.first == BEGIN_PRIMITIVE) {
            inBlock = true;
            blockLines.clear();
            type = parseInteger(splitBeforeSpace(line).rest);
            ++blockNumber;
            if (!counting) writeProgressLine(console, "Step 2: ", blockNumber, keptCount);
            continue;
        }
        if (!inBlock) continue;
        if (split.first == END_PRIMITIVE) {
            inBlock = false;
            if (!counting) notePatch(mesh, terrain, blockNumber);
            if (type == TRIANGLE_FAN) storeFan(assembly, blockLines);
            if (type == TRIANGLE_LIST) storeTriangles(assembly, blockLines);
            if (type == TRIANGLE_STRIP) storeStrip(assembly, blockLines);
            continue;
        }
        if (type == TRIANGLE_FAN || type == TRIANGLE_LIST || type == TRIANGLE_STRIP) {
            const char* elevField;
            VertexPosition position = readVertexPosition(split.rest, &elevField);
            uint32_t flagged = 0;
            bool needsHeight = position.elev == RASTER_HEIGHT_FLAG && !counting;
            if (needsHeight && !raster.present && raster.described) {
                auto described = std::move(raster.described);
                if (!loadTextRaster(*described, raster.describedBy, raster)) {
                    failure = Failure::readInput;
                    break;
                }
            }
            if (needsHeight && raster.present) {
                flagged = uint32_t(
                    std::min<size_t>(size_t(elevField - line.data()), FLAGGED_FIELD_UNNOTED));
            }
            blockLines.push_back({position, packSource(reader.lineOffset, flagged)});
        }
    }
    finishHeights(heights);
    bool readFailed = reader.readFailed;
    closeReader(reader);
    if (failure == Failure::none && readFailed) {
        noteFailureReason("reading " + temp.path + " back failed: " + reader.error);
        return Failure::readTemp;
    }
    if (failure == Failure::none && assembly.full != Failure::none) {
        noteWhatTheWindowNeeds(assembly);
        return assembly.full;
    }
    return failure;
}

}  // namespace mc
