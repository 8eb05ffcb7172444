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
#include "put_back/edited_file.h"
#include "put_back/fit.h"
#include "put_back/new_points.h"
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
};

/// What the put-back wrote, for the report.
struct PutBackCounts {
    uint64_t trianglesOut = 0, trianglesIn = 0, newPoints = 0;
};

/// Reads the edited file (paths.wavefront) and fits it into the cut; nothing is written.
Status planPutBack(const Cut& cut, const RunPaths& paths, PutBackPlan& plan);

/// Writes paths.outputTile from a binary tile's bytes and atoms (the selection's): every atom as
/// it was but the pools, which gain the new points, and the commands, where primitives lose the
/// cut's triangles and new patches hold the edited ones. The source is let go before the tile is
/// put in place, so that output_tile may name the input (kept once as NAME.original).
Status writeBinaryTile(const Cut& cut, const PutBackPlan& plan, TileSource source,
                       const RunPaths& paths, PutBackCounts& counts);

/// Writes paths.outputTile from a text tile: every line as it was but the kept blocks, which
/// lose the cut's triangles, overlay lines on the changed terrain, and the new patches after the
/// last END_PATCH.
Status writeTextTile(const Cut& cut, const PutBackPlan& plan, const RunPaths& paths,
                     PutBackCounts& counts);

/// The report: the tile written, triangles out and in, new points.
void reportPutBack(OutputFile& console, const std::string& tileName, const PutBackCounts& counts);

// Shared by the two tile writers.

/// The triangles of kept block `block` the put-back takes out (its base triangles in the cut),
/// marked by their number in the block's primitive; none for an overlay block.
void takenTriangles(const Cut& cut, size_t block, std::vector<uint8_t>& taken);
/// The stored vertices of kept block `block`: from `first` to before `end`.
void blockVertices(const Cut& cut, size_t block, size_t& first, size_t& end);
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

/// Opens output_tile for writing whole, whether or not it names the input.
Status openOutputTile(WholeFile& file, const RunPaths& paths);
/// Puts the complete tile in place; when it replaces the input, the input is kept first as
/// NAME.original, unless an earlier put-back kept it there already.
Status finishOutputTile(WholeFile& file, const RunPaths& paths);

}  // namespace mc
