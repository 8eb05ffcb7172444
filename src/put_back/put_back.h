// The way back: an edited cut put back into its tile. The cut is made again from the tile and the
// window (the same triangles and origin as the carve); the edited Wavefront file's faces are
// fitted into the hole those triangles leave; then the tile is written again, in its own form
// (text stays text, binary and 7z become a plain binary tile), whole or not at all.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "cut/cut.h"
#include "cut/materials.h"
#include "cut/run_paths.h"
#include "cut/tile_trace.h"
#include "put_back/along_outline.h"
#include "put_back/edited_file.h"
#include "put_back/fit.h"
#include "put_back/new_points.h"
#include "put_back/pieces.h"
#include "text/whole_file.h"

namespace mc {

/// Everything the tile writers need besides the cut.
struct PutBackPlan {
    EditedCut edited;
    std::vector<Material> materials;
    FittedCut fitted;
    std::map<uint32_t, NewPatch> patches;  // by definition
    NewPoints points;                      // of the new terrain
    ChangedSurface surface;                // where overlays take a new height
    std::vector<uint8_t> leaving;          // per stored triangle: it leaves its primitive
    bool precisePoints = false;   // new points in pools of millimetre steps, not 0.2 m ones
    bool outlineMayRise = false;  // a clipped cut's outline points may take new heights
};

/// What the put-back wrote, for the report.
struct PutBackCounts {
    uint64_t trianglesOut = 0, trianglesIn = 0, newPoints = 0;
};

/// The new tile, written beside output_tile but not yet in place, and what went into it.
struct WrittenTile {
    WholeFile file;
    PutBackCounts counts;
};

/// The cut's materials, their looks from the tile's pack and the simulator's library.
std::vector<Material> tileMaterials(const Cut& cut, const RunPaths& paths);

/// Reads the edited file (paths.wavefront), or takes the mesh `made` in memory, and fits it into
/// the cut, or with clip=1 into its clipped pieces, with the plan's materials (the tile's, looked
/// up when the plan has none); nothing is written (the cut's vertex table may gain points on
/// the outline).
Status planPutBack(Cut& cut, const OutlinePieces* outline, const RunPaths& paths, PutBackPlan& plan,
                   EditedMesh* made = nullptr);

/// One tile writer: the cut, where it came from in the tile, the plan and the run's paths in;
/// the new tile written whole beside output_tile (or nothing, and why not).
using TileWriter = Status (*)(const Cut& cut, const TileTrace& trace, const PutBackPlan& plan,
                              const RunPaths& paths, WrittenTile& tile);

/// From a binary tile's bytes and atoms (the trace's): every atom as it was but the pools, which
/// gain the new points, and the commands, where primitives lose the cut's triangles and new
/// patches hold the edited ones.
Status writeBinaryTile(const Cut& cut, const TileTrace& trace, const PutBackPlan& plan,
                       const RunPaths& paths, WrittenTile& tile);

/// From a text tile: every line as it was but the kept blocks, which lose the cut's triangles,
/// overlay lines on the changed terrain, and the new patches after the last END_PATCH.
Status writeTextTile(const Cut& cut, const TileTrace& trace, const PutBackPlan& plan,
                     const RunPaths& paths, WrittenTile& tile);

/// What the put-back wrote: the triangles that left their primitives, the changed ones that went
/// into new patches, the new points (overlays' among them).
PutBackCounts countsOf(const PutBackPlan& plan, uint64_t overlayPoints);

/// Whether the edited file gives back the cut's own triangles, every one as it was (in any order,
/// each from any of its corners): then the tile stays as it was.
bool changesNothing(const PutBackPlan& plan);

/// An untouched cut's put-back: output_tile becomes a copy of the input's bytes (a 7z tile stays
/// 7z), or, when it names the input, nothing is touched; the console says so.
Status leaveTileAsItWas(const RunPaths& paths, OutputFile& console, const std::string& tileName);

struct TileHold;
/// The new tile written beside its name, the input let go (the trace's bytes) and checked
/// unchanged, the tile put in place, the report; or, when the plan changes nothing, the tile
/// left as it was.
Status writeBack(const Cut& cut, TileTrace& trace, const PutBackPlan& plan, const RunPaths& paths,
                 TileHold& hold, OutputFile& console, const std::string& tileName);

/// "Writing output tile", shown before a tile writer starts.
void announceTile(OutputFile& console);

/// The report: the tile written, triangles out and in, new points.
void reportPutBack(OutputFile& console, const std::string& tileName, const PutBackCounts& counts);

// Shared by the two tile writers.

/// A place in degrees, in the cut's metres (X and Z only).
Metres metresOfPlace(const Cut& cut, double lon, double lat);
/// The most common of the values counted, the first of equals.
template <typename Value>
Value mostCommon(const std::vector<std::pair<Value, uint64_t>>& counted) {
    size_t best = 0;
    for (size_t k = 1; k < counted.size(); ++k) {
        if (counted[k].second > counted[best].second) best = k;
    }
    return counted[best].first;
}
template <typename Value>
void countValue(std::vector<std::pair<Value, uint64_t>>& counted, const Value& value,
                uint64_t count) {
    for (auto& [known, times] : counted) {
        if (known == value) return void(times += count);
    }
    counted.push_back({value, count});
}

/// The changed triangles of a definition as primitives, strips where they chain; the pieces'
/// lines are corner keys, which cornerOfKey turns back into corners.
void newPrimitives(const FittedCut& fitted, uint32_t definition, std::vector<Piece>& pieces);
inline FitCorner cornerOfKey(uint32_t key) {
    return {key >> 31, key & 0x7fffffffu};
}

/// Opens output_tile for writing whole, whether or not it names the input.
Status openOutputTile(WholeFile& file, const RunPaths& paths);
/// Puts the complete tile in place; when it replaces the input, the input is kept first as
/// NAME.original, unless an earlier put-back kept it there already. On Windows a file that is
/// mapped cannot be replaced: the trace's bytes of the input must be gone by then.
Status finishOutputTile(WholeFile& file, const RunPaths& paths);

}  // namespace mc
