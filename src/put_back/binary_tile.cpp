// The put-back into a binary tile: the atoms copied, new pools added to the geometry, and the
// command stream walked twice (once to measure it, once to write it) with the cut's primitives
// rewritten and the new patches at its end. The file is hashed as it is written.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "dsf/commands.h"
#include "dsf/point_values.h"
#include "dsf/tile.h"
#include "dsf/tile_writer.h"
#include "platform/helper_thread.h"
#include "put_back/pieces.h"
#include "put_back/put_back.h"
#include "text/fixed9.h"
#include "text/numbers.h"

namespace mc {

namespace {

constexpr uint32_t UNCHANGED = UINT32_MAX;
constexpr uint32_t ELEVATION_PLANE = 2;

using Lod = std::array<float, 2>;

// An overlay vertex on the changed terrain: a new point with the height there.
struct OverlayPoint {
    dsf::VertexRef original;
    double height;
};

struct BinaryRewrite {
    const Cut& cut;
    const TileTrace& trace;
    const PutBackPlan& plan;
    const uint8_t* bytes;
    size_t size;
    dsf::Tile& tile;
    uint64_t commandsSize = 0;  // of the rewritten command stream, found by the survey
    dsf::PointValues values = {};
    std::vector<dsf::VertexRef> refOfStored = {};  // per stored vertex of a base block
    std::map<uint32_t, std::vector<std::pair<Lod, uint64_t>>> lods = {};  // per definition
    std::unordered_map<uint64_t, uint32_t> overlayOf = {};  // (pool, index) -> overlay point
    std::vector<OverlayPoint> overlayPoints = {};
    std::vector<PlannedPool> overlayPools = {};
    std::vector<uint32_t> overlayPool = {}, overlayIndex = {};  // per overlay point
};

uint64_t refKey(const dsf::VertexRef& ref) {
    return uint64_t(ref.pool) << 32 | ref.index;
}

// The value of a plane as the text form prints and reads it back.
double printedValue(BinaryRewrite& w, const dsf::VertexRef& ref, uint32_t plane) {
    const dsf::Pool& pool = w.tile.pools[ref.pool];
    double value = dsf::decodeValue(dsf::planeScale(w.tile, ref.pool, plane),
                                    dsf::rawValue(w.values, pool, plane, ref.index));
    char text[FIXED9_MAX_TEXT];
    char* end = fixed9ToText(value, text);
    return parseNumber(text, end);
}

void noteOverlayVertex(BinaryRewrite& w, const dsf::VertexRef& ref) {
    if (w.tile.pools[ref.pool].planeCount <= ELEVATION_PLANE) return;
    auto [at, added] = w.overlayOf.try_emplace(refKey(ref), UNCHANGED);
    if (!added) return;
    Metres place = metresOfPlace(w.cut, printedValue(w, ref, 0), printedValue(w, ref, 1));
    double height;
    if (!changedHeightAt(w.plan.surface, place.x, place.z, height)) return;
    double own = printedValue(w, ref, ELEVATION_PLANE);
    if (own == RASTER_HEIGHT_FLAG && w.cut.raster.present) {
        own = rasterHeight(w.cut.raster, printedValue(w, ref, 0), printedValue(w, ref, 1));
    }
    if (std::fabs(height - own) < HEIGHT_UNCHANGED) return;
    at->second = uint32_t(w.overlayPoints.size());
    w.overlayPoints.push_back({ref, height});
}

void noteKeptBlock(BinaryRewrite& w, size_t block, const dsf::Primitive& primitive) {
    const Cut& cut = w.cut;
    if (cut.terrain.keptPatches[block].flags & OVERLAY_PATCH_FLAG) return;
    VertexSpan stored = blockVertices(w.trace, block);
    for (size_t s = stored.first; s < stored.end; ++s) {
        w.refOfStored[s] = primitive.vertices[w.trace.mesh.vertexLines[s]];
    }
    auto patch = w.plan.patches.find(primitive.definition);
    if (patch == w.plan.patches.end() || patch->second.flags != primitive.flags ||
        patch->second.depth != primitive.depth) {
        return;
    }
    std::vector<uint8_t> taken;
    takenTriangles(w.trace, block, taken, &w.plan.leaving);
    uint64_t count = uint64_t(std::count(taken.begin(), taken.end(), 1));
    countValue(w.lods[primitive.definition], Lod{primitive.lodNear, primitive.lodFar}, count);
}

bool replacement(BinaryRewrite& w, const dsf::Primitive& primitive,
                 const std::vector<uint8_t>& taken, int64_t currentPool, std::string& out);
void appendNewPatches(const BinaryRewrite& w, struct Sink& sink);

// A primitive that may change: a kept base block (its number) or an overlay (-1).
struct Candidate {
    const dsf::PrimitivePlace* place;
    int64_t block;
};

// The candidates in stream order: the selection noted where each stands.
std::vector<Candidate> candidatesOf(const TileTrace& trace) {
    std::vector<Candidate> candidates;
    for (size_t b = 0; b < trace.keptPlaces.size(); ++b) {
        if (!(trace.keptPlaces[b].flags & OVERLAY_PATCH_FLAG)) {
            candidates.push_back({&trace.keptPlaces[b], int64_t(b)});
        }
    }
    for (const dsf::PrimitivePlace& place : trace.overlayPlaces) candidates.push_back({&place, -1});
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.place->start < b.place->start;
    });
    return candidates;
}

// The candidate read again, with the triangles the put-back takes out of it.
void readCandidate(const BinaryRewrite& w, const Candidate& c, dsf::Primitive& primitive,
                   std::vector<uint8_t>& taken) {
    dsf::readPrimitiveAt(w.tile, *c.place, primitive);
    taken.clear();
    if (c.block >= 0) takenTriangles(w.trace, size_t(c.block), taken, &w.plan.leaving);
}

// Before anything is written: the original points of the cut's triangles, the patches' LOD, the
// overlay vertices on the changed terrain, and how long the rewritten command stream will be.
// Only the primitives the selection noted are read again; the stream is not walked.
void survey(BinaryRewrite& w, const std::vector<Candidate>& candidates) {
    dsf::Primitive primitive;
    std::vector<uint8_t> taken;
    for (const Candidate& c : candidates) {
        readCandidate(w, c, primitive, taken);
        if (c.block >= 0) noteKeptBlock(w, size_t(c.block), primitive);
        if (c.block < 0) {
            for (const dsf::VertexRef& ref : primitive.vertices) noteOverlayVertex(w, ref);
        }
    }
    w.commandsSize = uint64_t(w.tile.commandsEnd - w.tile.commands);
    std::string out;
    for (const Candidate& c : candidates) {
        readCandidate(w, c, primitive, taken);
        // a replacement's length does not depend on the new pools' numbers
        if (replacement(w, primitive, taken, c.place->currentPool, out)) {
            w.commandsSize += out.size() - (c.place->end - c.place->start);
        }
    }
}

// Overlay points go into pools scaled as their own, but for the elevation, in its band.
void planOverlayPools(BinaryRewrite& w) {
    std::map<std::pair<uint32_t, float>, uint32_t> poolOf;
    uint32_t firstPool = uint32_t(w.tile.pools.size() + w.plan.points.pools.size());
    for (const OverlayPoint& point : w.overlayPoints) {
        std::pair<uint32_t, float> key{point.original.pool, elevationBase(point.height)};
        auto [at, added] = poolOf.try_emplace(key, uint32_t(w.overlayPools.size()));
        if (added || w.overlayPools[at->second].points.size() == 65535) {
            at->second = uint32_t(w.overlayPools.size());
            PlannedPool pool;
            pool.depth = w.tile.pools[key.first].planeCount;
            for (uint32_t plane = 0; plane < pool.depth; ++plane) {
                dsf::PlaneScale scale = dsf::planeScale(w.tile, key.first, plane);
                pool.scales.push_back(float(scale.scale));
                pool.offsets.push_back(float(scale.offset));
            }
            pool.scales[ELEVATION_PLANE] = ELEVATION_SPAN;
            pool.offsets[ELEVATION_PLANE] = key.second;
            w.overlayPools.push_back(std::move(pool));
        }
        PlannedPool& pool = w.overlayPools[at->second];
        w.overlayPool.push_back(firstPool + at->second);
        w.overlayIndex.push_back(uint32_t(pool.points.size()));
        pool.points.push_back(uint32_t(&point - w.overlayPoints.data()));
    }
}

std::string overlayPoolAtoms(BinaryRewrite& w) {
    std::string atoms;
    for (const PlannedPool& pool : w.overlayPools) {
        std::vector<std::vector<uint16_t>> planes(pool.depth);
        for (uint32_t number : pool.points) {
            const OverlayPoint& point = w.overlayPoints[number];
            const dsf::Pool& original = w.tile.pools[point.original.pool];
            for (uint32_t plane = 0; plane < pool.depth; ++plane) {
                planes[plane].push_back(
                    plane == ELEVATION_PLANE
                        ? quantise(point.height, pool.scales[plane], pool.offsets[plane])
                        : dsf::rawValue(w.values, original, plane, point.original.index));
            }
        }
        atoms +=
            dsf::atom("POOL", dsf::poolContents(planes, dsf::PlaneEncoding::runLengthDifferenced));
        std::string scales;
        for (uint32_t plane = 0; plane < pool.depth; ++plane) {
            dsf::putFloat(scales, pool.scales[plane]), dsf::putFloat(scales, pool.offsets[plane]);
        }
        atoms += dsf::atom("SCAL", scales);
    }
    return atoms;
}

std::string newPoolAtoms(BinaryRewrite& w) {
    const NewPoints& points = w.plan.points;
    std::string atoms;
    for (const PlannedPool& pool : points.pools) {
        std::vector<std::vector<uint16_t>> planes(pool.depth);
        for (uint32_t point : pool.points) {
            for (uint32_t plane = 0; plane < pool.depth; ++plane) {
                planes[plane].push_back(points.raws[points.firstRaw[point] + plane]);
            }
        }
        atoms +=
            dsf::atom("POOL", dsf::poolContents(planes, dsf::PlaneEncoding::runLengthDifferenced));
        std::string scales;
        for (uint32_t plane = 0; plane < pool.depth; ++plane) {
            dsf::putFloat(scales, pool.scales[plane]), dsf::putFloat(scales, pool.offsets[plane]);
        }
        atoms += dsf::atom("SCAL", scales);
    }
    return atoms + overlayPoolAtoms(w);
}

constexpr size_t HASHED_BLOCK = 4 << 20;

// The new tile as it is written, hashed on the way for its footer: the digest is made on the
// second core, a block at a time, while the first walks the commands and writes.
struct TileOutput {
    WholeFile& file;
    FileHandle input = NO_FILE;  // the plain tile, whose bytes are copied inside the system
    const uint8_t* inputStart = nullptr;
    dsf::Md5 digest = {};               // the hasher's alone until it is idle
    std::vector<uint8_t> pending = {};  // bytes not yet handed to the hasher
    HelperThread hasher{2};
};

void hashPending(TileOutput& out) {
    if (out.pending.empty()) return;
    auto block = std::make_shared<std::vector<uint8_t>>(std::move(out.pending));
    out.pending = {};
    out.pending.reserve(HASHED_BLOCK);
    // the digest lives in `out`, which waits for the hasher before it goes
    out.hasher.handOver(
        [&digest = out.digest, block] { dsf::addToDigest(digest, block->data(), block->size()); });
}

// Bytes made here: copied for the hasher.
void emit(TileOutput& out, const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    out.pending.insert(out.pending.end(), bytes, bytes + size);
    if (out.pending.size() >= HASHED_BLOCK) hashPending(out);
    writeText(out.file.out, std::string_view(static_cast<const char*>(data), size));
}

// Bytes of the input tile, which outlives the hasher: hashed where they are, a block at a time.
void emitTileBytes(TileOutput& out, const uint8_t* bytes, size_t size) {
    hashPending(out);
    for (size_t from = 0; from < size; from += HASHED_BLOCK) {
        size_t part = std::min(HASHED_BLOCK, size - from);
        out.hasher.handOver([&digest = out.digest, at = bytes + from, part] {
            dsf::addToDigest(digest, at, part);
        });
    }
    uint64_t offset = uint64_t(bytes - out.inputStart);
    if (out.input != NO_FILE && copyIntoFile(out.file.out, out.input, offset, size)) return;
    writeText(out.file.out, std::string_view(reinterpret_cast<const char*>(bytes), size));
}

std::array<uint8_t, 16> finishHashing(TileOutput& out) {
    hashPending(out);
    out.hasher.waitUntilIdle();
    return dsf::finishDigest(out.digest);
}

// Where the rewritten commands go: counted only (to size the atom), or written too.
struct Sink {
    TileOutput* out = nullptr;
    uint64_t bytes = 0;
    void put(const std::string& text) {
        bytes += text.size();
        if (out) emit(*out, text.data(), text.size());
    }
    void putTileBytes(const uint8_t* from, const uint8_t* to) {
        bytes += uint64_t(to - from);
        if (out) emitTileBytes(*out, from, size_t(to - from));
    }
};

// Primitive commands for the pieces; vertices named by their lines' points. A piece whose points
// are all in the current pool names them by index, any other by pool and index.
void appendPieces(std::string& out, const std::vector<Piece>& pieces,
                  const std::vector<dsf::VertexRef>& refs, int64_t currentPool) {
    for (const Piece& piece : pieces) {
        bool onePool = std::all_of(piece.lines.begin(), piece.lines.end(), [&](uint32_t line) {
            return int64_t(refs[line].pool) == currentPool;
        });
        dsf::put8(out, dsf::primitiveCommand(uint32_t(piece.type), onePool));
        dsf::put8(out, uint32_t(piece.lines.size()));
        for (uint32_t line : piece.lines) {
            if (!onePool) dsf::put16(out, refs[line].pool);
            dsf::put16(out, refs[line].index);
        }
    }
}

// What replaces a primitive, or nothing when it stays as it is: a kept base block loses the
// cut's triangles; an overlay names new points where the terrain under it changed.
bool replacement(BinaryRewrite& w, const dsf::Primitive& primitive,
                 const std::vector<uint8_t>& taken, int64_t currentPool, std::string& out) {
    std::vector<dsf::VertexRef> refs = primitive.vertices;
    bool changed = std::count(taken.begin(), taken.end(), 1) > 0;
    if (primitive.flags & OVERLAY_PATCH_FLAG) {
        for (dsf::VertexRef& ref : refs) {
            auto at = w.overlayOf.find(refKey(ref));
            if (at == w.overlayOf.end() || at->second == UNCHANGED) continue;
            bool pooled = at->second < w.overlayPool.size();  // not yet during the survey
            ref = pooled ? dsf::VertexRef{w.overlayPool[at->second], w.overlayIndex[at->second]}
                         : dsf::VertexRef{UINT32_MAX, 0};
            changed = true;
        }
    }
    if (!changed) return false;
    std::vector<Piece> pieces;
    remainingPieces(primitive.type, uint32_t(refs.size()), taken, pieces);
    out.clear();
    appendPieces(out, pieces, refs, currentPool);
    return true;
}

dsf::VertexRef refOfCorner(const BinaryRewrite& w, const FitCorner& corner) {
    if (corner.original) return w.refOfStored[corner.index];
    const NewPoints& points = w.plan.points;
    return {uint32_t(w.tile.pools.size() + points.pool[corner.index]),
            points.indexInPool[corner.index]};
}

// The patch's pool (one of its first triangle's), definition, flags and LOD.
void appendPatchStart(const BinaryRewrite& w, const NewPatch& patch, const dsf::VertexRef& first,
                      std::string& out) {
    uint32_t definition = patch.definition;
    dsf::put8(out, dsf::POOL_SELECT), dsf::put16(out, first.pool);
    if (definition < 256) {
        dsf::put8(out, dsf::DEFINITION_8), dsf::put8(out, definition);
    } else if (definition < 65536) {
        dsf::put8(out, dsf::DEFINITION_16), dsf::put16(out, definition);
    } else {
        dsf::put8(out, dsf::DEFINITION_32), dsf::put32(out, definition);
    }
    auto lods = w.lods.find(definition);
    Lod lod = lods == w.lods.end() ? Lod{0, -1} : mostCommon(lods->second);
    dsf::put8(out, dsf::PATCH_FLAGS_LOD), dsf::put8(out, patch.flags);
    dsf::putFloat(out, lod[0]), dsf::putFloat(out, lod[1]);
}

// A patch per definition after everything else, its triangles as cross-pool strips where they
// chain and lists for the rest, written as they are made.
void appendNewPatches(const BinaryRewrite& w, Sink& sink) {
    std::string out;
    std::vector<Piece> pieces;
    for (const auto& [definition, patch] : w.plan.patches) {
        newPrimitives(w.plan.fitted, definition, pieces);
        if (pieces.empty()) continue;
        out.clear();
        appendPatchStart(w, patch, refOfCorner(w, cornerOfKey(pieces[0].lines[0])), out);
        for (const Piece& piece : pieces) {
            dsf::put8(out, dsf::primitiveCommand(uint32_t(piece.type), false));
            dsf::put8(out, uint8_t(piece.lines.size()));
            for (uint32_t key : piece.lines) {
                dsf::VertexRef ref = refOfCorner(w, cornerOfKey(key));
                dsf::put16(out, ref.pool), dsf::put16(out, ref.index);
            }
            sink.put(out);
            out.clear();
        }
    }
}

void rewriteCommands(BinaryRewrite& w, const std::vector<Candidate>& candidates, Sink& sink) {
    const uint8_t* copied = w.tile.commands;
    dsf::Primitive primitive;
    std::vector<uint8_t> taken;
    std::string out;
    for (const Candidate& c : candidates) {
        readCandidate(w, c, primitive, taken);
        if (!replacement(w, primitive, taken, c.place->currentPool, out)) continue;
        sink.putTileBytes(copied, w.tile.commands + c.place->start);
        sink.put(out);
        copied = w.tile.commands + c.place->end;
    }
    sink.putTileBytes(copied, w.tile.commandsEnd);
    appendNewPatches(w, sink);
}

// The file's atoms in their order: the geometry with the new pools after its own, the commands
// rewritten, every other atom as it was.
void writeAtoms(BinaryRewrite& w, const std::vector<Candidate>& candidates, TileOutput& out,
                const std::string& pools) {
    const uint8_t* at = w.bytes + 12;
    const uint8_t* end = w.bytes + w.size - 16;
    bool geometryDone = false, commandsDone = false;
    while (at < end) {
        uint32_t id, length;
        std::memcpy(&id, at, 4), std::memcpy(&length, at + 4, 4);
        bool geometry = !geometryDone && w.tile.geometry == at + 8;
        bool commandAtom = !commandsDone && w.tile.commands == at + 8;
        std::string header;
        dsf::put32(header, id);
        if (geometry) {
            dsf::put32(header, uint32_t(length + pools.size()));
            emit(out, header.data(), header.size());
            emitTileBytes(out, at + 8, length - 8);
            emit(out, pools.data(), pools.size());
            geometryDone = true;
        } else if (commandAtom) {
            dsf::put32(header, uint32_t(8 + w.commandsSize));
            emit(out, header.data(), header.size());
            Sink sink{&out};
            rewriteCommands(w, candidates, sink);
            commandsDone = true;
        } else {
            emitTileBytes(out, at, length);
        }
        at += length;
    }
}

}  // namespace

Status writeBinaryTile(const Cut& cut, const TileTrace& trace, const PutBackPlan& plan,
                       const RunPaths& paths, WrittenTile& tile) {
    const TileSource& source = trace.source;
    BinaryRewrite w{cut, trace, plan, source.bytes->data, source.bytes->size, *source.tile};
    dsf::attachTile(w.values, w.tile);
    w.refOfStored.resize(cut.mesh.vertices.count);
    const std::vector<Candidate> candidates = candidatesOf(trace);
    survey(w, candidates);
    planOverlayPools(w);
    std::string pools = newPoolAtoms(w);
    Sink patches;
    appendNewPatches(w, patches);
    w.commandsSize += patches.bytes;
    TileOutput out{tile.file};
    if (Status status = openOutputTile(out.file, paths); !status.ok()) return status;
    out.pending.reserve(HASHED_BLOCK);
    out.inputStart = w.bytes;
    if (!source.packed) out.input = openReadHandle(paths.input);
    emitTileBytes(out, w.bytes, 12);
    writeAtoms(w, candidates, out, pools);
    std::array<uint8_t, 16> digest = finishHashing(out);
    writeText(out.file.out, std::string_view(reinterpret_cast<const char*>(digest.data()), 16));
    closeHandle(out.input);
    tile.counts = countsOf(plan, w.overlayPoints.size());
    return {};
}

}  // namespace mc
