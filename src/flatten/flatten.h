// Flattening an airport: the ground inside its outline made even, eased back to the ground around
// over a band, written as an edited cut that the put-back takes like any other.
#pragma once

#include <string>
#include <vector>

#include "cut/change_map.h"
#include "cut/cut.h"
#include "cut/edited_cut.h"
#include "cut/materials.h"
#include "cut/outline_pieces.h"
#include "flatten/flat_ground.h"
#include "scenery/area_files.h"

namespace mc {

/// What the ground inside the area becomes: the plane that fits it, its mean level, or one
/// height (the airport's elevation, or metres given).
struct FlattenTarget {
    enum class Kind { plane, level, height } kind = Kind::plane;
    double height = 0;
};

/// flatten_to as the ini gives it: "plane" (or nothing), "level", "airport" (the elevation of an
/// apt.dat airport's header row, feet to metres) or metres. Fails (flattenGround) otherwise.
Status flattenTargetOf(const std::string& text, const Area& area, FlattenTarget& target);

/// What the flattening did, for its report.
struct FlattenReport {
    FlatSurface surface;
    double largest = 0, mean = 0;  // the heights' changes, in metres
    size_t points = 0;
    double outlineMetres = 0;     // the airport's rings, holes included
    ChangeMap* change = nullptr;  // given, the ground's change for a picture
};

/// The ground of a cut clipped along the band's outer edge, made flat inside the airport and
/// eased back over the band: split along the airport's outline, its band meshed anew (no edge
/// reaching further across it than a quarter of it), new heights everywhere but on the band's
/// outer edge, made as an edited cut for the put-back. Fails (flattenGround) when no ground lies
/// inside the airport; (readTemp) when the kept lines cannot be read.
Status flattenGround(Cut& cut, const OutlinePieces& pieces, const CutArea& airport,
                     const FlattenTarget& target, double blend,
                     const std::vector<Material>& materials, EditedMesh& made,
                     FlattenReport& report);

/// "flattened XTST to a plane falling 0.42% towards 118 degrees; heights changed by up to 12.3 m
/// (mean 2.1 m); blend 100 m around 4,120 m of outline"
std::string flattenReportLine(const std::string& name, const FlattenTarget& target,
                              const FlattenReport& report, double blend);

}  // namespace mc
