// The flattened ground's arithmetic: the fitted plane and level, the ease.
#include "flatten/flat_ground.h"

#include <algorithm>
#include <cmath>

namespace mc {

namespace {

double areaOf(const std::array<GroundPoint, 3>& t) {
    return std::fabs((t[1].x - t[0].x) * (t[2].y - t[0].y) -
                     (t[1].y - t[0].y) * (t[2].x - t[0].x)) /
           2;
}

// The ground is linear over a triangle, so its error against a plane is quadratic there: the
// edges' midpoints, each weighing a third of the area, integrate it exactly.
bool solvePlane(const double (&m)[3][3], const double (&v)[3], double (&out)[3]) {
    double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                 m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                 m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!(std::fabs(det) > 0)) return false;
    for (int column = 0; column < 3; ++column) {
        double c[3][3];
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 3; ++k) c[r][k] = k == column ? v[r] : m[r][k];
        }
        out[column] = (c[0][0] * (c[1][1] * c[2][2] - c[1][2] * c[2][1]) -
                       c[0][1] * (c[1][0] * c[2][2] - c[1][2] * c[2][0]) +
                       c[0][2] * (c[1][0] * c[2][1] - c[1][1] * c[2][0])) /
                      det;
    }
    return true;
}

}  // namespace

bool fitPlane(const std::vector<std::array<GroundPoint, 3>>& triangles, FlatSurface& plane) {
    if (triangles.empty()) return false;
    // about the first corner, so that the sums stay small
    const double ox = triangles[0][0].x, oy = triangles[0][0].y;
    double m[3][3] = {}, v[3] = {};
    for (const auto& t : triangles) {
        double weight = areaOf(t) / 3;
        for (int k = 0; k < 3; ++k) {
            const GroundPoint &a = t[k], &b = t[(k + 1) % 3];
            double p[3] = {(a.x + b.x) / 2 - ox, (a.y + b.y) / 2 - oy, 1};
            double h = (a.height + b.height) / 2;
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) m[r][c] += weight * p[r] * p[c];
                v[r] += weight * p[r] * h;
            }
        }
    }
    double out[3];
    if (!solvePlane(m, v, out)) return false;
    plane = {out[0], out[1], out[2] - out[0] * ox - out[1] * oy};
    return true;
}

bool meanLevel(const std::vector<std::array<GroundPoint, 3>>& triangles, FlatSurface& level) {
    double area = 0, volume = 0;
    for (const auto& t : triangles) {
        double a = areaOf(t);
        area += a;
        volume += a * (t[0].height + t[1].height + t[2].height) / 3;
    }
    if (!(area > 0)) return false;
    level = {0, 0, volume / area};
    return true;
}

double groundShare(double distance, double blend) {
    if (!(blend > 0)) return distance > 0 ? 1 : 0;
    double x = std::clamp(distance / blend, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

Fall fallOf(const FlatSurface& s) {
    double gradient = std::hypot(s.east, s.north);
    if (gradient == 0) return {};
    // downhill is against the gradient; bearings from north, clockwise
    double bearing = std::atan2(-s.east, -s.north) * 180 / 3.14159265358979323846;
    return {gradient * 100, bearing < 0 ? bearing + 360 : bearing};
}

}  // namespace mc
