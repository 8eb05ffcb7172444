// Ear clipping of polygons with holes, seen from above.
#include "geo/triangulation.h"

#include <algorithm>
#include <cmath>

namespace mc {

namespace {

double signedArea(const std::vector<PlanePoint>& points, const std::vector<uint32_t>& ring) {
    double area = 0;
    for (size_t k = 0; k < ring.size(); ++k) {
        const PlanePoint &a = points[ring[k]], &b = points[ring[(k + 1) % ring.size()]];
        area += a.x * b.y - b.x * a.y;
    }
    return area / 2;
}

bool samePlace(const PlanePoint& a, const PlanePoint& b) {
    return a.x == b.x && a.y == b.y;
}

// Inside or on the triangle, seen in the polygon's sense of turning.
bool insideOrOn(const PlanePoint& p, const PlanePoint& a, const PlanePoint& b, const PlanePoint& c,
                double sense) {
    return turnOf(a, b, p) * sense >= 0 && turnOf(b, c, p) * sense >= 0 &&
           turnOf(c, a, p) * sense >= 0;
}

// Where the ray from `from` towards +x first meets an edge of the polygon: the edge's number,
// or -1; `x` is where.
int64_t firstEdgeEast(const std::vector<PlanePoint>& points, const std::vector<uint32_t>& polygon,
                      const PlanePoint& from, double& x) {
    int64_t edge = -1;
    x = INFINITY;
    for (size_t k = 0; k < polygon.size(); ++k) {
        const PlanePoint &a = points[polygon[k]], &b = points[polygon[(k + 1) % polygon.size()]];
        if ((a.y > from.y) == (b.y > from.y)) continue;
        double at = a.x + (from.y - a.y) * (b.x - a.x) / (b.y - a.y);
        if (at >= from.x && at < x) x = at, edge = int64_t(k);
    }
    return edge;
}

// Whether `p` lies in the polygon's side of the corner at `k` (between the edges in and out,
// seen in the polygon's sense of turning).
bool inCornerSector(const std::vector<PlanePoint>& points, const std::vector<uint32_t>& polygon,
                    size_t k, const PlanePoint& p, double sense) {
    size_t n = polygon.size();
    const PlanePoint &before = points[polygon[(k + n - 1) % n]], &at = points[polygon[k]],
                     &after = points[polygon[(k + 1) % n]];
    bool leftOfIn = turnOf(before, at, p) * sense > 0, leftOfOut = turnOf(at, after, p) * sense > 0;
    return turnOf(before, at, after) * sense >= 0 ? leftOfIn && leftOfOut : leftOfIn || leftOfOut;
}

// A corner a bridge already joined stands twice in the polygon: the bridge to the next hole
// leaves from the copy whose sector faces that hole, or the polygon would fold over itself.
size_t copyFacing(const std::vector<PlanePoint>& points, const std::vector<uint32_t>& polygon,
                  size_t to, const PlanePoint& from, double sense) {
    for (size_t k = 0; k < polygon.size(); ++k) {
        if (samePlace(points[polygon[k]], points[polygon[to]]) &&
            inCornerSector(points, polygon, k, from, sense)) {
            return k;
        }
    }
    return to;
}

// A hole that touches the polygon at a corner (as a clip leaves a part pinched between two
// rings that meet at a point) is joined there, with no bridge: the polygon walks round the hole
// from that corner and back to it. A bridge elsewhere would leave the corner twice in the
// polygon with nothing between its copies, and an ear across them of no area.
bool joinAtSharedCorner(const std::vector<PlanePoint>& points, std::vector<uint32_t>& polygon,
                        const std::vector<uint32_t>& hole) {
    for (size_t to = 0; to < polygon.size(); ++to) {
        for (size_t m = 0; m < hole.size(); ++m) {
            if (!samePlace(points[polygon[to]], points[hole[m]])) continue;
            std::vector<uint32_t> joined(polygon.begin(), polygon.begin() + long(to) + 1);
            for (size_t k = 1; k < hole.size(); ++k) joined.push_back(hole[(m + k) % hole.size()]);
            joined.insert(joined.end(), polygon.begin() + long(to), polygon.end());
            polygon = std::move(joined);
            return true;
        }
    }
    return false;
}

// Joins a hole (wound against the outline) to the polygon by a bridge from its easternmost
// corner to a corner of the polygon that it sees, entered and left the same way.
void bridgeHole(const std::vector<PlanePoint>& points, std::vector<uint32_t>& polygon,
                const std::vector<uint32_t>& hole, double sense) {
    if (joinAtSharedCorner(points, polygon, hole)) return;
    size_t m = 0;
    for (size_t k = 1; k < hole.size(); ++k) {
        if (points[hole[k]].x > points[hole[m]].x) m = k;
    }
    const PlanePoint& from = points[hole[m]];
    double x;
    int64_t edge = firstEdgeEast(points, polygon, from, x);
    size_t to = 0;
    if (edge < 0) {  // nothing east: the nearest corner (a hole outside its outline)
        for (size_t k = 1; k < polygon.size(); ++k) {
            if (std::hypot(points[polygon[k]].x - from.x, points[polygon[k]].y - from.y) <
                std::hypot(points[polygon[to]].x - from.x, points[polygon[to]].y - from.y)) {
                to = k;
            }
        }
    } else {
        size_t a = size_t(edge), b = (a + 1) % polygon.size();
        to = points[polygon[a]].x > points[polygon[b]].x ? a : b;
        // a corner inside the triangle (from, the hit, that end) may hide the end: take the one
        // nearest in angle to the ray
        PlanePoint hit{x, from.y};
        double bestAngle = INFINITY;
        for (size_t k = 0; k < polygon.size(); ++k) {
            const PlanePoint& p = points[polygon[k]];
            if (k == to || samePlace(p, from) || !(p.x >= from.x)) continue;
            double sense = turnOf(from, hit, points[polygon[to]]) >= 0 ? 1 : -1;
            if (!insideOrOn(p, from, hit, points[polygon[to]], sense)) continue;
            double angle = std::atan2(std::fabs(p.y - from.y), p.x - from.x);
            if (angle < bestAngle) bestAngle = angle, to = k;
        }
    }
    to = copyFacing(points, polygon, to, from, sense);
    std::vector<uint32_t> joined(polygon.begin(), polygon.begin() + long(to) + 1);
    for (size_t k = 0; k <= hole.size(); ++k) joined.push_back(hole[(m + k) % hole.size()]);
    joined.push_back(polygon[to]);
    joined.insert(joined.end(), polygon.begin() + long(to) + 1, polygon.end());
    polygon = std::move(joined);
}

bool isEar(const std::vector<PlanePoint>& points, const std::vector<uint32_t>& left, size_t k,
           double sense) {
    size_t n = left.size();
    const PlanePoint &a = points[left[(k + n - 1) % n]], &b = points[left[k]],
                     &c = points[left[(k + 1) % n]];
    if (turnOf(a, b, c) * sense <= 0) return false;
    for (size_t j = 0; j < n; ++j) {
        if (j == k || j == (k + 1) % n || j == (k + n - 1) % n) continue;
        const PlanePoint& p = points[left[j]];
        if (samePlace(p, a) || samePlace(p, b) || samePlace(p, c)) continue;  // a bridge's end
        if (insideOrOn(p, a, b, c, sense)) return false;
    }
    return true;
}

}  // namespace

void triangulatePolygon(const std::vector<PlanePoint>& points,
                        const std::vector<uint32_t>& holeStarts, std::vector<uint32_t>& triangles) {
    uint32_t outlineEnd = holeStarts.empty() ? uint32_t(points.size()) : holeStarts[0];
    std::vector<uint32_t> left(outlineEnd);
    for (uint32_t k = 0; k < outlineEnd; ++k) left[k] = k;
    double sense = signedArea(points, left) < 0 ? -1 : 1;
    std::vector<std::vector<uint32_t>> holes;
    for (size_t h = 0; h < holeStarts.size(); ++h) {
        uint32_t end = h + 1 < holeStarts.size() ? holeStarts[h + 1] : uint32_t(points.size());
        std::vector<uint32_t>& hole = holes.emplace_back();
        for (uint32_t k = holeStarts[h]; k < end; ++k) hole.push_back(k);
        if (signedArea(points, hole) * sense > 0) std::reverse(hole.begin(), hole.end());
    }
    // eastern holes first, so that a bridge never crosses a hole not yet joined
    std::sort(holes.begin(), holes.end(), [&](const auto& a, const auto& b) {
        auto east = [&](const std::vector<uint32_t>& h) {
            double x = -INFINITY;
            for (uint32_t k : h) x = std::max(x, points[k].x);
            return x;
        };
        return east(a) > east(b);
    });
    for (const auto& hole : holes) {
        if (hole.size() >= 3) bridgeHole(points, left, hole, sense);
    }
    while (left.size() > 3) {
        size_t n = left.size(), ear = n;
        for (size_t k = 0; k < n && ear == n; ++k) {
            if (isEar(points, left, k, sense)) ear = k;
        }
        if (ear == n) break;
        triangles.insert(triangles.end(),
                         {left[(ear + n - 1) % n], left[ear], left[(ear + 1) % n]});
        left.erase(left.begin() + long(ear));
    }
    for (size_t k = 1; k + 1 < left.size(); ++k) {
        triangles.insert(triangles.end(), {left[0], left[k], left[k + 1]});
    }
}

}  // namespace mc

namespace mc {
namespace {

// The height of a triangle over its longest edge, and which edge that is (k to k + 1).
double heightOverLongestEdge(const std::vector<PlanePoint>& points, const uint32_t* t, int& edge) {
    double longest = -1;
    for (int k = 0; k < 3; ++k) {
        const PlanePoint &a = points[t[k]], &b = points[t[(k + 1) % 3]];
        double length = std::hypot(b.x - a.x, b.y - a.y);
        if (length > longest) longest = length, edge = k;
    }
    if (longest <= 0) return 0;
    return std::fabs(turnOf(points[t[0]], points[t[1]], points[t[2]])) / longest;
}

double thinnerOf(const std::vector<PlanePoint>& points, const uint32_t* a, const uint32_t* b) {
    int edge;
    return std::min(heightOverLongestEdge(points, a, edge), heightOverLongestEdge(points, b, edge));
}

}  // namespace

void flipThinTriangles(const std::vector<PlanePoint>& points, std::vector<uint32_t>& triangles,
                       double thinnest) {
    const size_t count = triangles.size() / 3;
    for (size_t pass = 0; pass < 4; ++pass) {
        bool flipped = false;
        for (size_t s = 0; s < count; ++s) {
            uint32_t* sliver = &triangles[3 * s];
            int edge;
            double height = heightOverLongestEdge(points, sliver, edge);
            if (height >= thinnest) continue;
            const uint32_t a = sliver[edge], b = sliver[(edge + 1) % 3], c = sliver[(edge + 2) % 3];
            for (size_t n = 0; n < count; ++n) {
                uint32_t* other = &triangles[3 * n];
                int k = 0;
                while (k < 3 && !(other[k] == b && other[(k + 1) % 3] == a)) ++k;
                if (n == s || k == 3) continue;
                const uint32_t d = other[(k + 2) % 3];
                // the quadrilateral a d b c cut along c d instead: both halves wound as before
                const uint32_t first[3] = {a, d, c}, second[3] = {d, b, c};
                double sense = turnOf(points[b], points[a], points[d]);
                double turn1 = turnOf(points[a], points[d], points[c]);
                double turn2 = turnOf(points[d], points[b], points[c]);
                if (turn1 * sense <= 0 || turn2 * sense <= 0) break;
                if (thinnerOf(points, first, second) <=
                    std::min(height, thinnerOf(points, sliver, other)))
                    break;
                std::copy(first, first + 3, sliver), std::copy(second, second + 3, other);
                flipped = true;
                break;
            }
        }
        if (!flipped) return;
    }
}

}  // namespace mc
