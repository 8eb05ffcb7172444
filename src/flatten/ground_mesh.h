// The flattening's ground as one mesh: the clipped cut's pieces welded by place, split along
// the airport's outline, neighbours cut at the points made on their edges.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "area/area.h"
#include "cut/cut.h"
#include "cut/materials.h"
#include "cut/outline_pieces.h"
#include "flatten/flat_ground.h"

namespace mc {

// The ground to flatten as one mesh: points welded by place, triangles facing up, each with its
// terrain definition, and the sixth and seventh values of orthophoto points per definition.
struct Ground {
    std::vector<GroundPoint> points;  // x east, y north (the cut's metres), the ground's height
    // points the outline put in the middle of an edge, by the edge's ends
    std::multimap<std::pair<uint32_t, uint32_t>, uint32_t> onEdges;
    std::vector<AreaPoint> places;  // longitude, latitude
    std::vector<Metres> at;         // where the cut has the point (y: the ground's)
    std::vector<uint32_t> triangles, definitions;
    std::map<std::pair<uint32_t, uint32_t>, std::array<double, 2>> photo;  // (point, definition)
    std::multimap<std::pair<int64_t, int64_t>, uint32_t> byCell;  // points by 1e-8 degree cell
    std::vector<uint8_t> tileOwn;  // per point: one of the tile's own vertices (not the clip's)
};

/// An edge of the ground by its ends, whichever way a triangle runs along it.
inline uint64_t edgeKey(uint32_t a, uint32_t b) {
    return a < b ? uint64_t(a) << 32 | b : uint64_t(b) << 32 | a;
}

/// Points are filed by cells this many degrees wide, to find one near a place.
constexpr double CELL_DEGREES = 1e-8;

/// The clipped pieces (terrain, not overlays), their stored vertices welded by place: the tile's
/// own within a millimetre (two patches' differ by their pools' steps), the clip's new ones
/// within `clipWeld`; false when a kept line cannot be read.
bool collectPieces(const Cut& cut, const OutlinePieces& pieces,
                   const std::vector<Material>& materials, double clipWeld, Ground& g);

/// Every triangle the outline crosses split along it, the parts inside and outside sharing
/// their corners on the outline with the neighbours' (one point a place).
void splitAlongOutline(Ground& g, const Cut& cut, const ClipRegion& outline);

/// Every triangle beside one that was split, whose common edge got points in its middle, cut at
/// those points too.
void splitAtEdgePoints(Ground& g, const Cut& cut);

}  // namespace mc
