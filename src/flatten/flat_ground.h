// The ground a flattening makes, on plain data in local metres (x east, y north): the even
// surface that fits the ground inside an area, and the ease from it back to the ground around.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace mc {

/// A ground point: where, and its height.
struct GroundPoint {
    double x = 0, y = 0, height = 0;
};

/// An even surface: height = east * x + north * y + base.
struct FlatSurface {
    double east = 0, north = 0, base = 0;
};
inline double heightOf(const FlatSurface& s, double x, double y) {
    return s.east * x + s.north * y + s.base;
}

/// The plane nearest the ground over the triangles (area-weighted least squares over the
/// piecewise linear ground, exact for it), so that a field on a gentle slope keeps its slope and
/// loses its bumps; false when the triangles have no area.
bool fitPlane(const std::vector<std::array<GroundPoint, 3>>& triangles, FlatSurface& plane);

/// One height for the triangles: the area-weighted mean of the ground over them; false when
/// they have no area.
bool meanLevel(const std::vector<std::array<GroundPoint, 3>>& triangles, FlatSurface& level);

/// How much of the original ground comes back at a distance from the outline: 0 on it, 1 at the
/// band's outer edge and past it, 3x^2 - 2x^3 between (x = distance / blend), so that the slope
/// is continuous at both edges. With no band, 1 everywhere off the outline.
double groundShare(double distance, double blend);

/// The height at a place of the band: the flat height eased back to the ground's.
inline double easedHeight(double flat, double ground, double distance, double blend) {
    double share = groundShare(distance, blend);
    return share >= 1 ? ground : flat + (ground - flat) * share;
}

/// The surface's fall: in percent, and the bearing of steepest descent in degrees from north,
/// clockwise (0 for a level surface).
struct Fall {
    double percent = 0, bearing = 0;
};
Fall fallOf(const FlatSurface& s);

}  // namespace mc
