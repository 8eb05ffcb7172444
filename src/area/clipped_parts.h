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
};

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

/// The part's corners triangulated as longitude and latitude: part.triangles, in the winding the
/// ear clipping gives (callers turn them to face their way).
inline void triangulateInDegrees(ClippedPart& part) {
    part.points.clear();
    for (const AreaPoint& p : part.places) part.points.push_back({p.lon, p.lat});
    part.triangles.clear();
    triangulatePolygon(part.points, part.holeStarts, part.triangles);
}

}  // namespace mc
