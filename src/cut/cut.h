// The window cutting pipeline, as the driver runs it: the selection pass, the mesh assembly
// pass, the origin, the object, the Wavefront file, the preview and the report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/chunked_array.h"
#include "pipeline/elevation.h"
#include "pipeline/stored_vertex.h"
#include "text/fields.h"
#include "text/numbers.h"
#include "text/output.h"
#include "text/progress.h"

namespace mc {

constexpr std::string_view BEGIN_PRIMITIVE = "BEGIN_PRIMITIVE";
constexpr std::string_view PATCH_VERTEX = "PATCH_VERTEX";
constexpr std::string_view END_PRIMITIVE = "END_PRIMITIVE";

constexpr double DEG_TO_RAD = 3.1415927 / 180;  // the tool's own pi, kept for identical output
constexpr double METRES_PER_DEGREE = 111120.0;
constexpr double NO_ORIGIN_Y = -2000000.0;

/// What stopped a run; the driver turns it into the one console line.
enum class Failure {
    none,
    openInput,
    readInput,
    tempInUse,
    writeTemp,
    readTemp,
    vertexCapacity,
    indexCapacity,
    writeOutput,
    writeWavefront,
    writePreview,
};

/// The open rectangle latMin < lat < latMax, longMin < lon < longMax, in degrees.
struct SelectionWindow {
    double latMin = 0, latMax = 0, longMin = 0, longMax = 0;
};

inline bool isInsideWindow(const SelectionWindow& w, double lon, double lat) {
    return w.latMin < lat && lat < w.latMax && w.longMin < lon && lon < w.longMax;
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

/// The temporary file shared by both passes. lock holds an advisory lock on it for the whole
/// run, so a second run in the same directory cannot empty it under the first.
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

/// What the selection pass learns of the tile beyond its blocks, for the Wavefront file: its
/// terrain definitions, its south-west corner, and the patch of every kept block, in order.
struct TileTerrain {
    std::vector<std::string> definitions;
    double west = 0, south = 0;
    bool hasCorner = false;
    std::vector<BlockPatch> keptPatches;
};

/// Step 1: copies every primitive block with a vertex strictly inside the window to the
/// temporary file, printing a "Step 1" line per kept block, and reads the tile's elevation
/// raster, if it has one, and its terrain. keptCount is set even on failure.
Failure runSelectionPass(const SelectionWindow& window, const std::string& inputPath,
                         TempFile& temp, OutputFile& console, int32_t& keptCount,
                         ElevationRaster& raster, TileTerrain& terrain);

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

/// Step 2: reads the temporary file back, stores fans whole and the window-touching triangles
/// of triangle lists and strips, printing a "Step 2" line per block, and notes each block's
/// patch. Capacities count as reached when a count gets to them. Flagged elevations take the
/// raster's height (a text tile's raster is read when the first one comes).
Failure runMeshAssemblyPass(const SelectionWindow& window, int32_t maxVertices, int32_t maxIndices,
                            const TempFile& temp, int32_t keptCount, OutputFile& console,
                            ElevationRaster& raster, const TileTerrain& terrain, MeshBuffers& mesh);

/// The highest vertex (first of equals), or none: originY then stays at NO_ORIGIN_Y.
struct OriginVertex {
    double x = 0, y = NO_ORIGIN_Y, z = 0;
    int64_t index = -1;
};
OriginVertex findOrigin(const MeshBuffers& mesh);

/// "VT x y z  0.0 1.0 0.0 0.0 1.0 # " and the source line: coordinates relative to the origin,
/// each difference carried with a 64-bit significand before it is rounded to double.
void writeVertexLine(OutputFile& out, const StoredVertex& v, const OriginVertex& origin,
                     std::string_view sourceLine);

struct OutputPaths {
    std::string input;
    std::string object;
    std::string wavefront;  // empty: no Wavefront file
    std::string preview;    // empty: no picture
    SelectionWindow window;
    std::string sceneryFolder;  // where the Wavefront file's terrain definitions are looked up;
    std::string xplaneFolder;   // empty when not configured
};

/// The origin vertex's line as the report shows it (the raster's height where it was flagged);
/// empty for an empty cut.
Failure readOriginLine(const MeshBuffers& mesh, const OriginVertex& origin, const TempFile& temp,
                       const ElevationRaster& raster, std::string& originLine);

/// "Writing output file", shown before the writers start.
void announceWriting(OutputFile& console);

/// The OBJ8 object relative to the origin, whole or not at all (a regular file is replaced only
/// once complete, and never when it is the input tile). Vertex lines with a flagged elevation
/// show the raster's height instead.
Failure writeObjectFile(const MeshBuffers& mesh, const OriginVertex& origin,
                        std::string_view originLine, const TempFile& temp,
                        const ElevationRaster& raster, const OutputPaths& paths);

/// The cut as a Wavefront OBJ for modellers, with its materials beside it (NAME.mtl): welded
/// vertices in metres relative to the origin, on the object's axes, every triangle wound to face
/// up (+Y), degenerate ones left out; faces grouped by terrain definition, overlays in an object
/// of their own, texture coordinates where the terrain's texture has them.
Failure writeWavefront(const MeshBuffers& mesh, const OriginVertex& origin,
                       std::string_view originLine, const TileTerrain& terrain,
                       const TempFile& temp, const OutputPaths& paths);

/// A top view of the cut as a standalone SVG: triangles coloured by mean height (beyond
/// 100,000 triangles a grid of at most 256 x 256 cells), the window, the origin, a legend, a
/// scale bar and a title. The same bytes on every run.
Failure writePreview(const MeshBuffers& mesh, const OriginVertex& origin, const OutputPaths& paths);

/// The origin report: the scenery line of the vertex the object is measured from.
void reportOrigin(OutputFile& console, std::string_view originLine);

}  // namespace mc
