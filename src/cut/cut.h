// The cut: what a tile holds inside a window, as one value. Both directions start here: the
// selection pass keeps the primitive blocks that touch the window, the mesh assembly pass turns
// them into the Cut, which the carve's writers write out and the put-back writes back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cut/area.h"
#include "cut/chunked_array.h"
#include "cut/elevation.h"
#include "cut/kept_lines.h"
#include "cut/status.h"
#include "cut/stored_vertex.h"
#include "dsf/commands.h"
#include "dsf/unpacked_cache.h"
#include "platform/platform.h"
#include "text/fields.h"
#include "text/numbers.h"
#include "text/output_file.h"

namespace mc {

constexpr std::string_view BEGIN_PRIMITIVE = "BEGIN_PRIMITIVE";
constexpr std::string_view PATCH_VERTEX = "PATCH_VERTEX";
constexpr std::string_view END_PRIMITIVE = "END_PRIMITIVE";

constexpr double DEG_TO_RAD = 3.1415927 / 180;  // the tool's own pi, kept for identical output
constexpr double METRES_PER_DEGREE = 111120.0;
constexpr double NO_ORIGIN_Y = -2000000.0;

/// The open rectangle latMin < lat < latMax, longMin < lon < longMax, in degrees, and the area
/// the cut follows inside it, when there is one.
struct SelectionWindow {
    double latMin = 0, latMax = 0, longMin = 0, longMax = 0;
    const CutArea* area = nullptr;
    bool clip = false;  // triangles cut along the outline (clip=1)
};

inline bool isInsideWindow(const SelectionWindow& window, double lon, double lat) {
    return window.latMin < lat && lat < window.latMax && window.longMin < lon &&
           lon < window.longMax;
}

/// Whether a box (of a block's vertices) reaches into the window: with clip=1 a block is kept
/// then, since a triangle of it may cover part of the window with every corner outside.
inline bool boxMeetsWindow(const SelectionWindow& window, double west, double east, double south,
                           double north) {
    return west < window.longMax && window.longMin < east && south < window.latMax &&
           window.latMin < north;
}

/// Whether a corner counts for the cut: strictly inside the window and, when the cut follows an
/// area, strictly inside it (a corner on the outline is outside, as on the window's edge).
inline bool isInsideCut(const SelectionWindow& window, double lon, double lat) {
    return isInsideWindow(window, lon, lat) &&
           (!window.area || isInsideArea(*window.area, lon, lat));
}

/// Longitude, latitude and elevation: the first three fields after the keyword, the last of
/// them running to the end of the line when nothing follows it.
struct VertexPosition {
    double lon = 0, lat = 0, elev = 0;
};
inline VertexPosition readVertexPosition(std::string_view remainder,
                                         const char** elevField = nullptr) {
    VertexPosition v;
    SplitText field = splitFirstField(remainder);
    v.lon = parseNumber(field.first);
    field = splitFirstField(field.rest);
    v.lat = parseNumber(field.first);
    std::string_view elev = splitFirstField(field.rest).first;
    v.elev = elev == RASTER_HEIGHT_FLAG_TEXT ? RASTER_HEIGHT_FLAG : parseNumber(elev);
    if (elevField) *elevField = elev.data();
    return v;
}

/// "Step 1:  3/ 10": a label, then two counts in the console integer form.
inline void writeProgressLine(OutputFile& console, std::string_view label, int32_t done,
                              int32_t total) {
    writeText(console, label);
    writeInteger(console, done, false);
    writeText(console, "/");
    writeInteger(console, total, true);
}

/// The temporary file of the kept blocks. lock holds an advisory lock on it for the whole run,
/// so a second run in the same directory cannot empty it under the first.
struct TempFile {
    std::string path;
    FileHandle lock = NO_FILE;
};
void releaseTempFile(TempFile& temp);

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

/// Which direction the cut is made for: the put-back also needs to know where each kept block and
/// stored triangle came from in the tile, and keeps a binary tile's bytes.
enum class CutUse { carve, putBack };

/// Where the tile's bytes are, and whether they are a binary tile.
struct TileSource {
    bool binary = false;
    bool packed = false;     // unpacked from a 7z archive: the bytes are not the file's
    bool fromCache = false;  // read from the cache's unpacked copy
    std::shared_ptr<const ByteBuffer> bytes;  // a binary tile's, kept for the put-back
    std::shared_ptr<dsf::Tile> tile;          // and its atoms and pools, as the pass found them
    uint64_t lastPatchEnd = UINT64_MAX;       // text: the offset just after the last END_PATCH
};

/// What the selection pass found: the kept blocks (in the temporary file), how many, the tile's
/// elevation raster (or a text tile's description of it) and its terrain.
struct Selection {
    Status status;
    CutUse use = CutUse::carve;
    SelectionWindow window;
    std::string keptPath;  // the temporary file
    int32_t keptCount = 0;
    ElevationRaster raster;
    TileTerrain terrain;
    TileSource source;
    std::vector<uint64_t> keptSources;  // per kept block: where its primitive starts in the tile
    std::vector<dsf::PrimitivePlace> keptPlaces;     // binary: per kept block, its command
    std::vector<dsf::PrimitivePlace> overlayPlaces;  // binary: every overlay primitive's command
    std::string note;  // what the user should know that is no failure (a cache that failed)
};

/// Step 1: copies every primitive block with a vertex strictly inside the window to the
/// temporary file, printing a "Step 1" line per kept block. The tile's form (text, binary or 7z)
/// is told from its first bytes; a 7z tile is read from the cache's copy when it has a good one,
/// else unpacked and kept there.
Selection selectBlocks(const SelectionWindow& window, const std::string& inputPath, TempFile& temp,
                       OutputFile& console, CutUse use = CutUse::carve,
                       const dsf::UnpackedCache& cache = {});

/// Stored vertices and indices from these on, up to the next run's, come from blocks of one
/// patch.
struct PatchRun {
    size_t firstVertex;
    size_t firstIndex;
    BlockPatch patch;
};

/// Where a kept block's stored vertices and indices start.
struct BlockStart {
    size_t firstVertex;
    size_t firstIndex;
};

/// For the put-back: where every stored vertex and triangle came from in its block.
struct MeshTrace {
    std::vector<BlockStart> blocks;          // per kept block
    ChunkedArray<uint32_t> vertexLines;      // per stored vertex: its vertex line in its block
    ChunkedArray<uint32_t> triangleNumbers;  // per stored triangle: its number in its primitive
};

struct MeshBuffers {
    ChunkedArray<StoredVertex> vertices;  // the vertex table
    ChunkedArray<int32_t> indices;        // the index list, three entries per triangle
    std::vector<PatchRun> runs;           // the patches, block by block, as the tables grew
    MeshTrace trace;                      // filled for the put-back only
};

/// The highest vertex (first of equals), or none: y then stays at NO_ORIGIN_Y.
struct OriginVertex {
    double x = 0, y = NO_ORIGIN_Y, z = 0;
    int64_t index = -1;
};
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
    TileSource source;
    std::vector<uint64_t> keptSources;  // per kept block, for the put-back
    std::vector<dsf::PrimitivePlace> keptPlaces;
    std::vector<dsf::PrimitivePlace> overlayPlaces;
    ClipRegion clipRegion;  // clip=1: the region and its pieces, once the assembly needed them
};

/// Step 2: reads the kept blocks back, stores fans whole and the window-touching triangles of
/// triangle lists and strips, printing a "Step 2" line per block, notes each block's patch, and
/// finds the origin. Capacities count as reached when a count gets to them; the pass then counts
/// on, to say what the window needs. Flagged elevations take the raster's height.
Cut assembleCut(Selection&& found, Capacities capacities, OutputFile& console);

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
Status clipCut(Cut& cut, Capacities capacities);

/// The vertex's scenery line as writers show it: with the raster's height where its elevation
/// was flagged. False when the temporary file cannot be read back.
bool shownVertexLine(const Cut& cut, const StoredVertex& vertex, std::string& scratch,
                     std::string_view& line);

/// A failure to read the temporary file back, with the system's reason.
Status keptLinesFailure(const Cut& cut);

/// The files of a run, as platform paths; empty when the ini names none.
struct RunPaths {
    std::string input;
    std::string object;
    std::string wavefront;
    std::string preview;
    std::string sceneryFolder;  // where the Wavefront file's terrain definitions are looked up
    std::string xplaneFolder;
    std::string outputTile;  // the put-back's tile to write
};

}  // namespace mc
