// The rows of a flattening's band: the airport's rings moved out, points along them.
#include "flatten/band_rows.h"

#include <cmath>
#include <numbers>

#include "geo/triangulation.h"

namespace mc {

namespace {

// A ring (metres, closed) moved out by d to one side: each edge moved, joined around the corners
// by arcs of pieces a quarter step long (at a corner turning the other way, the moved edges
// cross, and the arc backs up between them).
void movedRing(const std::vector<PlanePoint>& ring, double d, double side, double step,
               std::vector<PlanePoint>& moved) {
    moved.clear();
    for (size_t i = 0; i + 1 < ring.size(); ++i) {
        const PlanePoint &p = ring[i], &q = ring[i + 1];
        const double here = std::atan2(q.y - p.y, q.x - p.x);
        const double nx = -side * std::sin(here) * d, ny = side * std::cos(here) * d;
        if (!moved.empty()) {  // the arc around p from the edge before
            const PlanePoint& last = moved.back();
            const double from = std::atan2(last.y - p.y, last.x - p.x);
            const double turn = std::remainder(std::atan2(ny, nx) - from, 2 * std::numbers::pi);
            const int pieces = int(std::ceil(std::fabs(turn) * d / (step / 4)));
            for (int k = 1; k < pieces; ++k) {
                const double angle = from + turn * k / pieces;
                moved.push_back({p.x + d * std::cos(angle), p.y + d * std::sin(angle)});
            }
        }
        moved.push_back({p.x + nx, p.y + ny}), moved.push_back({q.x + nx, q.y + ny});
    }
    if (!moved.empty()) moved.push_back(moved.front());
}

}  // namespace

std::vector<std::pair<AreaPoint, double>> rowPlaces(const CutArea& airport, double gap,
                                                    double step) {
    std::vector<std::pair<AreaPoint, double>> rows;
    std::vector<PlanePoint> ring, moved;  // metres from the ring's first corner
    for (const AreaRing& corners : areaRings(airport)) {
        if (corners.size() < 3) continue;
        const AreaPoint origin = corners[0];
        const double east = METRES_PER_DEGREE * cosineOfLatitude<double>(origin.lat);
        ring.clear();
        for (const AreaPoint& p : corners) {
            const PlanePoint at{(p.lon - origin.lon) * east,
                                (p.lat - origin.lat) * METRES_PER_DEGREE};
            if (ring.empty() || at.x != ring.back().x || at.y != ring.back().y) ring.push_back(at);
        }
        for (int row = 1; row <= 4; ++row) {
            for (double side : {1.0, -1.0}) {
                movedRing(ring, row * gap, side, step, moved);
                double next = (row % 2) * step / 2, walked = 0;
                for (size_t k = 0; k + 1 < moved.size(); ++k) {
                    const PlanePoint &a = moved[k], &c = moved[k + 1];
                    const double length = std::hypot(c.x - a.x, c.y - a.y);
                    for (; next < walked + length; next += step) {
                        const double f = (next - walked) / length;
                        rows.push_back({{origin.lon + (a.x + f * (c.x - a.x)) / east,
                                         origin.lat + (a.y + f * (c.y - a.y)) / METRES_PER_DEGREE},
                                        row * gap});
                    }
                    walked += length;
                }
            }
        }
    }
    return rows;
}

}  // namespace mc
