// Polygons cut into triangles seen from above: the put-back's n-gons, and the parts of clipped
// triangles (which may hold holes).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace mc {

struct PlanePoint {
    double x = 0, y = 0;
};

/// Twice the signed area of a triangle: positive when it turns counter-clockwise (x east, y
/// north).
inline double turnOf(const PlanePoint& a, const PlanePoint& b, const PlanePoint& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

/// How far a point lies from the segment a-b (from its nearer end past them).
inline double distanceToSegment(const PlanePoint& p, const PlanePoint& a, const PlanePoint& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
    double f = length2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / length2 : 0;
    f = f < 0 ? 0 : f > 1 ? 1 : f;
    return std::hypot(a.x + f * dx - p.x, a.y + f * dy - p.y);
}

/// The centre of the circle through a triangle's corners (not in line).
inline PlanePoint circleCentre(const PlanePoint& a, const PlanePoint& b, const PlanePoint& c) {
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const double d = 2 * (bx * cy - by * cx);
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    return {a.x + (cy * b2 - by * c2) / d, a.y + (bx * c2 - cx * b2) / d};
}

/// The barycentric weights of a point in a triangle; false, the weights untouched, for a
/// triangle of no area.
inline bool weightsInTriangle(const PlanePoint (&t)[3], const PlanePoint& p, double (&w)[3]) {
    double d = (t[1].y - t[2].y) * (t[0].x - t[2].x) + (t[2].x - t[1].x) * (t[0].y - t[2].y);
    if (d == 0) return false;
    w[0] = ((t[1].y - t[2].y) * (p.x - t[2].x) + (t[2].x - t[1].x) * (p.y - t[2].y)) / d;
    w[1] = ((t[2].y - t[0].y) * (p.x - t[2].x) + (t[0].x - t[2].x) * (p.y - t[2].y)) / d;
    w[2] = 1 - w[0] - w[1];
    return true;
}

/// Cuts a polygon into triangles by clipping ears, each triangle wound as the outline is. The
/// points are the outline's, then each hole's (rings without their closing repeat); `holeStarts`
/// says where each hole begins. Holes are first joined to the outline by a bridge to a corner
/// they see. A polygon with no ear left to clip (one that crosses itself) is finished as a fan.
/// The triangles are indices into the points, three each.
void triangulatePolygon(const std::vector<PlanePoint>& points,
                        const std::vector<uint32_t>& holeStarts, std::vector<uint32_t>& triangles);

/// A triangle thinner than `thinnest` over its longest edge (a sliver whose corners, rounded as
/// a tile stores them, could turn it over) is turned with the triangle across that edge into the
/// quadrilateral's other two halves, when those are both wound as before and thicker. For the
/// few triangles of a polygon's pieces: the neighbour is looked up among all of them.
void flipThinTriangles(const std::vector<PlanePoint>& points, std::vector<uint32_t>& triangles,
                       double thinnest);

}  // namespace mc
