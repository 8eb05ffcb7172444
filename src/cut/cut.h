// The cut: what a tile holds inside a window, as one value. Both directions start here: the
// selection pass keeps the primitive blocks that touch the window, the mesh assembly pass turns
// them into the Cut, which the carve's writers write out and the put-back writes back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "area/area.h"
#include "cut/chunked_array.h"
#include "cut/elevation.h"
#include "cut/frame.h"
#include "cut/kept_lines.h"
#include "cut/stored_vertex.h"
#include "cut/temp_file.h"
#include "cut/window.h"
#include "dsf/unpacked_cache.h"
#include "text/output_file.h"
#include "text/status.h"

namespace mc {

struct TileTrace;  // where the cut came from in its tile, when the put-back asks

/// The patch a block belongs to: its terrain definition (an index into the tile's list), its
/// flags (2: an overlay) and its depth (values per vertex).
struct BlockPatch {
    uint32_t definition = 0;
    uint32_t flags = 0;
    uint32_t depth = 0;
};
constexpr uint32_t OVERLAY_PATCH_FLAG = 2;

/// What the selection pass learns of the tile beyond its blocks: its terrain definitions, its
/// south-west corner, and the patch of every kept block, in order.
struct TileTerrain {
    std::vector<std::string> definitions;
    double west = 0, south = 0;
    bool hasCorner = false;
    std::vector<BlockPatch> keptPatches;
};

/// What the selection pass found: the kept blocks (in the temporary file), how many, the tile's
/// elevation raster (or a text tile's description of it) and its terrain.
struct Selection {
    Status status;
    SelectionWindow window;
    std::string keptPath;  // the temporary file
    int32_t keptCount = 0;
    ElevationRaster raster;
    TileTerrain terrain;
    std::string note;  // what the user should know that is no failure (a cache that failed)
};

/// Step 1: copies every primitive block with a vertex strictly inside the window to the
/// temporary file, printing a "Step 1" line per kept block. The tile's form (text, binary or 7z)
/// is told from its first bytes; a 7z tile is read from the cache's copy when it has a good one,
/// else unpacked and kept there. With a trace, notes where each kept block is in the tile and
/// keeps a binary tile's bytes there.
Selection selectBlocks(const SelectionWindow& window, const std::string& inputPath, TempFile& temp,
                       OutputFile& console, const dsf::UnpackedCache& cache = {},
                       TileTrace* trace = nullptr);

/// Stored vertices and indices from these on, up to the next run's, come from blocks of one
/// patch.
struct PatchRun {
    size_t firstVertex;
    size_t firstIndex;
    BlockPatch patch;
};

struct MeshBuffers {
    ChunkedArray<StoredVertex> vertices;  // the vertex table
    ChunkedArray<int32_t> indices;        // the index list, three entries per triangle
    std::vector<PatchRun> runs;           // the patches, block by block, as the tables grew
};
/// The run a stored vertex belongs to.
const PatchRun& runOfVertex(const MeshBuffers& mesh, size_t vertex);

OriginVertex findOrigin(const MeshBuffers& mesh);

/// The most vertices and triangle indices the cut may hold.
struct Capacities {
    int32_t maxVertices = 0;
    int32_t maxIndices = 0;
};

/// The cut as every writer takes it: the window, the mesh with its patch runs, the tile's terrain
/// and raster, the origin and its scenery line, and the one reader of the kept lines.
struct Cut {
    Status status;
    SelectionWindow window;
    MeshBuffers mesh;
    TileTerrain terrain;
    ElevationRaster raster;
    OriginVertex origin;
    std::string originLine;  // as the report shows it; empty for an empty cut
    KeptLines lines;
    ClipRegion clipRegion;  // clip=1: the region and its pieces, once the assembly needed them
};

/// Step 2: reads the kept blocks back, stores fans whole and the window-touching triangles of
/// triangle lists and strips, printing a "Step 2" line per block, notes each block's patch, and
/// finds the origin. Capacities count as reached when a count gets to them; the pass then counts
/// on, to say what the window needs. Flagged elevations take the raster's height. With the
/// selection's trace, notes where each stored vertex and triangle came from in its block.
Cut assembleCut(Selection&& found, Capacities capacities, OutputFile& console,
                TileTrace* trace = nullptr);

/// The origin of the cut's mesh (its highest vertex) found again, with its scenery line, after
/// the mesh changed.
Status findOriginAgain(Cut& cut);

/// The stored vertex of a scenery position, projected as the assembly projects every vertex.
StoredVertex projectPosition(const SelectionWindow& window, const VertexPosition& position,
                             uint64_t source);

/// With clip=1, after the assembly: the triangles cut along the outline (the area's, or the
/// window's edges), so that the cut holds exactly the surface inside. A new vertex where an edge
/// crosses the outline or an outline corner falls inside a triangle, every value interpolated
/// over the triangle and shown in a scenery line of its own; the pieces triangulated, facing as
/// their triangle did; vertices left outside dropped; the origin found again.
Status clipCut(Cut& cut, Capacities capacities, struct ClipOrigins* origins = nullptr);

/// Where a clipped cut came from, for the put-back: the mesh before the clip, and per vertex and
/// triangle of the clipped mesh what it was there.
struct ClipOrigins {
    MeshBuffers before;
    std::vector<int32_t> vertexBefore;     // per clipped vertex: its number before, or -1 (new)
    std::vector<uint32_t> triangleBefore;  // per clipped triangle: the triangle it is part of
    // a piece thinner is dropped; what is dropped inside leaves a slit beside the pieces the
    // put-back keeps outside, unless the edit leaves those points out too
    double thinnest = SAME_PLACE_METRES;
};

/// A vertex where the outline crosses a triangle, every value interpolated over the triangle
/// (its corners are stored vertices, at these places), its line kept with the cut's lines.
/// False when the kept lines cannot be read.
/// Buffers an outline vertex is made in, kept by the caller so that none is allocated a vertex.
struct VertexScratch {
    std::string shown, line;
    std::vector<double> values[3];
};
bool outlineVertex(Cut& cut, const int32_t (&corners)[3], const AreaPoint (&places)[3],
                   const AreaPoint& at, StoredVertex& vertex, VertexScratch& scratch);

/// The place of a longitude or latitude as a new vertex's line prints it (nine decimals), to
/// tell new vertices at one place apart from others.
std::string placeKey(const AreaPoint& at);

/// The vertex's scenery line as writers show it: with the raster's height where its elevation
/// was flagged. False when the temporary file cannot be read back.
bool shownVertexLine(const Cut& cut, const StoredVertex& vertex, std::string& scratch,
                     std::string_view& line);

/// A failure to read the temporary file back, with the system's reason.
Status keptLinesFailure(const Cut& cut);

}  // namespace mc
