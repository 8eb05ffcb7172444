// A triangle clipped by an area's region and its parts triangulated: the clip of a cut, the
// flattening's split along the outline and the put-back's pieces outside it all cut triangles so.
#pragma once

#include <cstdint>
#include <vector>

#include "area/area.h"
#include "geo/triangulation.h"

namespace mc {

/// One part of a clipped triangle: its corners in one list (outline, then holes from
/// holeStarts on), and, once triangulated, its triangles as three indices into them each.
/// Kept by the caller from triangle to triangle, so that no part allocates anew.
struct ClippedPart {
    std::vector<AreaPolygon> polygons;
    std::vector<AreaPoint> places;
    std::vector<uint32_t> holeStarts;
    std::vector<PlanePoint> points;  // the places as longitude, latitude
    std::vector<uint32_t> triangles;
    std::vector<PlanePoint> metres;  // the places in metres from the first, for thinness
};

/// Outline points are stored in steps of 2^-11/65535 degree (0.83 mm north): rounded, a corner
/// moves up to half that, so a triangle thinner than a millimetre could turn over.
constexpr double ROUNDING_TURNS_OVER_METRES = 0.001;

enum class PartsOf { inside, outside };

/// The triangle (longitude, latitude) clipped by the region, each part of the side asked handed
/// to `take(part)` with its corners listed; a part that take refuses (false) stops the clip.
template <typename Take>
bool forEachClippedPart(const ClipRegion& region, const AreaPoint (&corners)[3], PartsOf side,
                        ClippedPart& part, Take&& take) {
    if (side == PartsOf::inside) {
        clipTriangle(region, corners, part.polygons);
    } else {
        clipTriangleOutside(region, corners, part.polygons);
    }
    for (size_t k = 0; k < part.polygons.size(); ++k) {
        flattenPolygon(part.polygons[k], part.places, part.holeStarts);
        if (!take(part)) return false;
    }
    return true;
}

/// The part's corners within `near` metres of a corner of the triangle moved onto it, a corner
/// repeated in a row left once, and rings left with fewer than three corners dropped.
void moveOntoCorners(ClippedPart& part, const AreaPoint (&corners)[3], double near);

/// The part's triangles thinner than `thinnest` metres turned with a neighbour where that makes
/// both thicker (after triangulateInDegrees).
void flipThinPieces(ClippedPart& part, double thinnest);

/// The part's corners triangulated as longitude and latitude: part.triangles, in the winding the
/// ear clipping gives (callers turn them to face their way).
inline void triangulateInDegrees(ClippedPart& part) {
    part.points.clear();
    for (const AreaPoint& p : part.places) part.points.push_back({p.lon, p.lat});
    part.triangles.clear();
    triangulatePolygon(part.points, part.holeStarts, part.triangles);
}

}  // namespace mc
