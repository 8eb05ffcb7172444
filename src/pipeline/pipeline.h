// The window cutting pipeline: selection pass, mesh assembly pass, object writer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/elevation.h"
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
constexpr double SCALE_DIVISOR = 100.0;
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
inline void writeProgressLine(OutputTarget& console, std::string_view label, int32_t done,
                              int32_t total) {
    writeText(console, label);
    writeInteger(console, done, false);
    writeText(console, "/");
    writeInteger(console, total, true);
}

/// The temporary file shared by both passes. lockFd holds an advisory lock on it for the whole
/// run, so a second run in the same directory cannot empty it under the first.
struct TempFile {
    std::string path;
    FileHandle lockFd = NO_FILE;
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
                         TempFile& temp, OutputTarget& console, int32_t& keptCount,
                         ElevationRaster& raster, TileTerrain& terrain, size_t readBlockSize);

/// The selection pass over the bytes of a binary tile: the blocks, lines and "Step 1" lines its
/// text form would give, its elevation raster and terrain. Damage anywhere in the tile is a read
/// failure.
Failure selectFromTile(const SelectionWindow& window, const uint8_t* bytes, size_t size,
                       OutputFile& out, OutputTarget& console, int32_t& keptCount,
                       ElevationRaster& raster, TileTerrain& terrain, ProgressMeter& meter);

/// A growable array in fixed chunks: no reallocation copies, no slack beyond one chunk.
template <typename T>
struct ChunkedArray {
    static constexpr size_t CHUNK_BITS = 16;
    static constexpr size_t CHUNK_SIZE = size_t(1) << CHUNK_BITS;
    std::vector<std::unique_ptr<T[]>> chunks;
    size_t count = 0;

    void push(const T& value) {
        if ((count >> CHUNK_BITS) == chunks.size()) {
            chunks.push_back(std::make_unique_for_overwrite<T[]>(CHUNK_SIZE));
        }
        chunks[count >> CHUNK_BITS][count & (CHUNK_SIZE - 1)] = value;
        ++count;
    }
    const T& operator[](size_t i) const { return chunks[i >> CHUNK_BITS][i & (CHUNK_SIZE - 1)]; }
    T& last() { return chunks[(count - 1) >> CHUNK_BITS][(count - 1) & (CHUNK_SIZE - 1)]; }
};

/// A vertex in the object's frame (x and z in units of 100 m), its elevation in metres (the
/// raster's height for a flagged vertex), and where its line starts in the temporary file: the
/// line itself is read back from there when the object is written.
struct StoredVertex {
    double x, elevation, z;
    uint64_t source;  // see sourceOffset and flaggedField
};

constexpr int SOURCE_OFFSET_BITS = 48;
/// A flagged vertex whose elevation field starts too far into its line to be noted.
constexpr uint32_t FLAGGED_FIELD_UNNOTED = 0xFFFF;

inline uint64_t packSource(uint64_t lineOffset, uint32_t flaggedField) {
    return lineOffset | uint64_t(flaggedField) << SOURCE_OFFSET_BITS;
}
/// Where the vertex's line starts in the temporary file.
inline uint64_t sourceOffset(const StoredVertex& v) {
    return v.source & ((uint64_t(1) << SOURCE_OFFSET_BITS) - 1);
}
/// For a vertex that took its height from the raster, where the elevation field starts in its
/// line (or FLAGGED_FIELD_UNNOTED); 0 for every other vertex.
inline uint32_t flaggedField(const StoredVertex& v) {
    return uint32_t(v.source >> SOURCE_OFFSET_BITS);
}

/// The vertex's Y in the object's frame (units of 100 m), carried with a 64-bit significand.
inline double objectY(const StoredVertex& v) {
    return double(static_cast<long double>(v.elevation) / SCALE_DIVISOR);
}

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
                            const TempFile& temp, int32_t keptCount, OutputTarget& console,
                            ElevationRaster& raster, const TileTerrain& terrain, MeshBuffers& mesh,
                            size_t readBlockSize);

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

/// A file written whole or not at all: a regular file (or nothing yet) is written beside its
/// name and renamed over it when complete; devices, FIFOs and links are written in place. A
/// path naming the input tile is refused.
struct WholeFile {
    OutputFile out;
    PendingFile pending;
};
bool openWholeFile(WholeFile& file, const std::string& path, const std::string& inputPath);
/// Closes and puts the file in place; false (and the old file kept) when anything failed.
bool finishWholeFile(WholeFile& file);
void abandonWholeFile(WholeFile& file);

struct OutputPaths {
    std::string input;
    std::string object;
    std::string wavefront;  // empty: no Wavefront file
    std::string preview;    // empty: no picture
    SelectionWindow window;
    std::string sceneryFolder;  // where the Wavefront file's terrain definitions are looked up;
    std::string xplaneFolder;   // empty when not configured
};

/// Writes the OBJ8 object relative to the origin, whole or not at all (a regular file is
/// replaced only once complete, and never when it is the input tile), then the Wavefront file
/// and the picture when they are asked for, then prints the origin report. Vertex lines with a
/// flagged elevation show the raster's height instead.
Failure writeObjectAndReport(const MeshBuffers& mesh, const TempFile& temp,
                             const ElevationRaster& raster, const TileTerrain& terrain,
                             const OutputPaths& paths, OutputTarget& console);

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

}  // namespace mc
