// Lawson's flips over a triangulation with kept edges: each flip turns the diagonal of a convex
// quadrilateral whose far corner lies in the other triangle's circle, until none does.
#include "geo/constrained_triangulation.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>

namespace mc {

namespace {

uint32_t cornerOf(const ConstrainedTriangulation& t, uint32_t triangle, int k) {
    return t.corners[3 * triangle + uint32_t(k % 3)];
}

// Whether d lies inside the circle through a, b, c (counter-clockwise), measured from d.
bool inCircle(const PlanePoint& a, const PlanePoint& b, const PlanePoint& c, const PlanePoint& d) {
    const double ax = a.x - d.x, ay = a.y - d.y, bx = b.x - d.x, by = b.y - d.y;
    const double cx = c.x - d.x, cy = c.y - d.y;
    const double det = (ax * ax + ay * ay) * (bx * cy - cx * by) -
                       (bx * bx + by * by) * (ax * cy - cx * ay) +
                       (cx * cx + cy * cy) * (ax * by - bx * ay);
    // a few units in the last place of the terms: four points on one circle flip no more
    const double scale = (ax * ax + ay * ay + bx * bx + by * by + cx * cx + cy * cy);
    return det > scale * scale * 1e-12;
}

void fileTriangle(ConstrainedTriangulation& t, uint32_t triangle) {
    double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
    for (int k = 0; k < 3; ++k) {
        const PlanePoint& p = t.points[cornerOf(t, triangle, k)];
        west = std::min(west, p.x), east = std::max(east, p.x);
        south = std::min(south, p.y), north = std::max(north, p.y);
    }
    auto column = [&](double x) {
        return uint32_t(std::clamp((x - t.west) / t.cell, 0.0, double(t.columns - 1)));
    };
    auto row = [&](double y) {
        return uint32_t(std::clamp((y - t.south) / t.cell, 0.0, double(t.rows - 1)));
    };
    for (uint32_t r = row(south); r <= row(north); ++r) {
        for (uint32_t c = column(west); c <= column(east); ++c) {
            t.byCell[size_t(r) * t.columns + c].push_back(triangle);
        }
    }
}

// The edge of `triangle` that runs from a to b, or -1.
int edgeFrom(const ConstrainedTriangulation& t, uint32_t triangle, uint32_t a, uint32_t b) {
    for (int j = 0; j < 3; ++j) {
        if (cornerOf(t, triangle, j) == a && cornerOf(t, triangle, j + 1) == b) return j;
    }
    return -1;
}

// The triangle across the edge a-b (of `from`) now lies across it from `to`.
void pointBack(ConstrainedTriangulation& t, uint32_t neighbour, uint32_t a, uint32_t b,
               uint32_t to) {
    if (neighbour == NO_TRIANGLE) return;
    int j = edgeFrom(t, neighbour, b, a);
    if (j >= 0) t.across[3 * neighbour + uint32_t(j)] = to;
}

void setTriangle(ConstrainedTriangulation& t, uint32_t triangle, const uint32_t (&c)[3],
                 const uint32_t (&n)[3], const uint8_t (&k)[3]) {
    for (int j = 0; j < 3; ++j) {
        t.corners[3 * triangle + uint32_t(j)] = c[j];
        t.across[3 * triangle + uint32_t(j)] = n[j];
        t.kept[3 * triangle + uint32_t(j)] = k[j];
    }
    fileTriangle(t, triangle);
}

uint32_t newTriangle(ConstrainedTriangulation& t, uint32_t tag) {
    t.corners.resize(t.corners.size() + 3), t.across.resize(t.across.size() + 3);
    t.kept.resize(t.kept.size() + 3), t.tags.push_back(tag);
    return uint32_t(t.tags.size() - 1);
}

// Turns the diagonal of the quadrilateral of `first` and the triangle across its edge j, when
// the quadrilateral is convex; the outer edges go on the flip stack. The corner facing edge j
// stays in `first`.
bool flipEdge(ConstrainedTriangulation& t, uint32_t first, int j, bool onlyIfDelaunay) {
    const uint32_t second = t.across[3 * first + uint32_t(j)];
    if (second == NO_TRIANGLE || t.kept[3 * first + uint32_t(j)]) return false;
    const uint32_t a = cornerOf(t, first, j), b = cornerOf(t, first, j + 1),
                   c = cornerOf(t, first, j + 2);
    const int k = edgeFrom(t, second, b, a);
    if (k < 0) return false;
    const uint32_t d = cornerOf(t, second, k + 2);
    const PlanePoint &pa = t.points[a], &pb = t.points[b], &pc = t.points[c], &pd = t.points[d];
    if (onlyIfDelaunay && !inCircle(pa, pb, pc, pd)) return false;
    if (!(turnOf(pc, pa, pd) > 0) || !(turnOf(pd, pb, pc) > 0)) return false;  // not convex
    const uint32_t acrossCA = t.across[3 * first + uint32_t((j + 2) % 3)];
    const uint32_t acrossBC = t.across[3 * first + uint32_t((j + 1) % 3)];
    const uint32_t acrossAD = t.across[3 * second + uint32_t((k + 1) % 3)];
    const uint32_t acrossDB = t.across[3 * second + uint32_t((k + 2) % 3)];
    const uint8_t keptCA = t.kept[3 * first + uint32_t((j + 2) % 3)];
    const uint8_t keptBC = t.kept[3 * first + uint32_t((j + 1) % 3)];
    const uint8_t keptAD = t.kept[3 * second + uint32_t((k + 1) % 3)];
    const uint8_t keptDB = t.kept[3 * second + uint32_t((k + 2) % 3)];
    setTriangle(t, first, {c, a, d}, {acrossCA, acrossAD, second}, {keptCA, keptAD, 0});
    setTriangle(t, second, {d, b, c}, {acrossDB, acrossBC, first}, {keptDB, keptBC, 0});
    pointBack(t, acrossAD, a, d, first);
    pointBack(t, acrossBC, b, c, second);
    t.flips.push_back({first, c, a}), t.flips.push_back({first, a, d});
    t.flips.push_back({second, d, b}), t.flips.push_back({second, b, c});
    return true;
}

// Flips the edges on the stack, and the ones each flip exposes, until all are Delaunay.
void flipUntilDelaunay(ConstrainedTriangulation& t) {
    while (!t.flips.empty()) {
        const auto [first, from, to] = t.flips.back();
        t.flips.pop_back();
        const int j = edgeFrom(t, first, from, to);
        if (j >= 0) flipEdge(t, first, j, true);  // j < 0: flipped away since
    }
}

int cornerIndex(const ConstrainedTriangulation& t, uint32_t triangle, uint32_t point) {
    for (int i = 0; i < 3; ++i) {
        if (cornerOf(t, triangle, i) == point) return i;
    }
    return -1;
}

// The triangles around a point, counter-clockwise from `triangle`; false when a kept edge or
// the border meets it.
bool fanAround(const ConstrainedTriangulation& t, uint32_t triangle, uint32_t point,
               std::vector<uint32_t>& fan) {
    fan.clear();
    uint32_t k = triangle;
    do {
        const int i = cornerIndex(t, k, point);
        if (i < 0 || t.kept[3 * k + uint32_t(i)] || t.kept[3 * k + uint32_t(i + 2) % 3]) {
            return false;
        }
        fan.push_back(k);
        k = t.across[3 * k + uint32_t(i + 2) % 3];
        if (k == NO_TRIANGLE || fan.size() > 100000) return false;
    } while (k != triangle);
    return true;
}

uint64_t edgeKey(uint32_t a, uint32_t b) {
    return uint64_t(a) << 32 | b;
}

}  // namespace

ConstrainedTriangulation constrainedTriangulationOf(
    std::vector<PlanePoint> points, const std::vector<uint32_t>& triangles,
    const std::vector<uint32_t>& tags, double cell,
    const std::function<bool(uint32_t first, uint32_t second)>& keep) {
    ConstrainedTriangulation t;
    t.points = std::move(points);
    double east = -INFINITY, north = -INFINITY;
    t.west = INFINITY, t.south = INFINITY;
    for (uint32_t p : triangles) {
        t.west = std::min(t.west, t.points[p].x), east = std::max(east, t.points[p].x);
        t.south = std::min(t.south, t.points[p].y), north = std::max(north, t.points[p].y);
    }
    if (triangles.empty()) t.west = t.south = east = north = 0;
    t.cell = std::max(cell, std::max(east - t.west, north - t.south) / 4096 + 1e-9);
    t.columns = uint32_t((east - t.west) / t.cell) + 1,
    t.rows = uint32_t((north - t.south) / t.cell) + 1;
    t.byCell.resize(size_t(t.columns) * t.rows);
    t.corners = triangles, t.tags = tags;
    t.across.assign(triangles.size(), NO_TRIANGLE), t.kept.assign(triangles.size(), 0);
    std::unordered_map<uint64_t, uint32_t> edgeOf;  // directed edge, its triangle
    edgeOf.reserve(triangles.size());
    for (uint32_t k = 0; k < tags.size(); ++k) {
        for (int j = 0; j < 3; ++j) edgeOf[edgeKey(cornerOf(t, k, j), cornerOf(t, k, j + 1))] = k;
    }
    for (uint32_t k = 0; k < tags.size(); ++k) {
        for (int j = 0; j < 3; ++j) {
            auto other = edgeOf.find(edgeKey(cornerOf(t, k, j + 1), cornerOf(t, k, j)));
            uint32_t e = 3 * k + uint32_t(j);
            if (other == edgeOf.end()) {
                t.kept[e] = 1;
                continue;
            }
            t.across[e] = other->second;
            t.kept[e] = keep(k, other->second) ? 1 : 0;
        }
        fileTriangle(t, k);
    }
    return t;
}

void makeDelaunay(ConstrainedTriangulation& t) {
    std::vector<std::array<uint32_t, 3>>& stack = t.flips;
    for (uint32_t k = 0; k < t.tags.size(); ++k) {
        for (int j = 0; j < 3; ++j) {
            if (!t.kept[3 * k + uint32_t(j)]) {
                stack.push_back({k, cornerOf(t, k, j), cornerOf(t, k, j + 1)});
            }
        }
    }
    flipUntilDelaunay(t);
}

uint32_t triangleUnder(const ConstrainedTriangulation& t, const PlanePoint& p) {
    const double column = std::floor((p.x - t.west) / t.cell);
    const double row = std::floor((p.y - t.south) / t.cell);
    if (column < -1 || row < -1 || column > t.columns || row > t.rows) return NO_TRIANGLE;
    const size_t c = size_t(std::clamp(column, 0.0, double(t.columns - 1)));
    const size_t r = size_t(std::clamp(row, 0.0, double(t.rows - 1)));
    uint32_t best = NO_TRIANGLE;
    double bestOutside = 1e-7;  // metres
    for (uint32_t triangle : t.byCell[r * t.columns + c]) {
        if (isGone(t, triangle)) continue;
        double outside = 0;  // how far past its farthest edge
        for (int j = 0; j < 3; ++j) {
            const PlanePoint &a = t.points[cornerOf(t, triangle, j)],
                             &b = t.points[cornerOf(t, triangle, j + 1)];
            const double length = std::hypot(b.x - a.x, b.y - a.y);
            outside = std::max(outside, -turnOf(a, b, p) / std::max(length, 1e-12));
        }
        if (outside <= bestOutside) {
            if (outside == 0) return triangle;
            best = triangle, bestOutside = outside;
        }
    }
    return best;
}

bool removePoint(ConstrainedTriangulation& t, uint32_t triangle, uint32_t point) {
    std::vector<uint32_t>& fan = t.fan;
    t.pending.clear();
    // the flips that bring it down to three edges care nothing for the circles; the edges they
    // touch are looked at once the point is gone
    auto giveUp = [&] {
        t.flips.insert(t.flips.end(), t.pending.begin(), t.pending.end());
        flipUntilDelaunay(t);
        return false;
    };
    if (!fanAround(t, triangle, point, fan)) return false;
    while (fan.size() > 3) {
        bool flipped = false;
        for (size_t f = 0; f < fan.size() && !flipped; ++f) {
            flipped = flipEdge(t, fan[f], cornerIndex(t, fan[f], point), false);
            if (flipped) triangle = fan[f];  // the point stays in it
        }
        t.pending.insert(t.pending.end(), t.flips.begin(), t.flips.end());
        t.flips.clear();
        if (!flipped || !fanAround(t, triangle, point, fan)) return giveUp();
    }
    if (fan.size() != 3) return giveUp();
    const uint32_t first = fan[0];
    uint32_t outer[3], across[3];
    uint8_t kept[3];
    for (int n = 0; n < 3; ++n) {  // (point, a, b): its edge a-b
        const int i = cornerIndex(t, fan[size_t(n)], point);
        outer[n] = cornerOf(t, fan[size_t(n)], i + 1);
        across[n] = t.across[3 * fan[size_t(n)] + uint32_t(i + 1) % 3];
        kept[n] = t.kept[3 * fan[size_t(n)] + uint32_t(i + 1) % 3];
    }
    setTriangle(t, first, {outer[0], outer[1], outer[2]}, {across[0], across[1], across[2]}, kept);
    for (int n = 1; n < 3; ++n) {
        pointBack(t, across[n], outer[n], outer[(n + 1) % 3], first);
        const uint32_t gone = fan[size_t(n)];
        for (int j = 0; j < 3; ++j) {
            t.corners[3 * gone + uint32_t(j)] = point;
            t.across[3 * gone + uint32_t(j)] = NO_TRIANGLE;
            t.kept[3 * gone + uint32_t(j)] = 1;
        }
    }
    t.flips.insert(t.flips.end(), t.pending.begin(), t.pending.end());
    for (int n = 0; n < 3; ++n) t.flips.push_back({first, outer[n], outer[(n + 1) % 3]});
    flipUntilDelaunay(t);
    return true;
}

uint32_t insertInTriangle(ConstrainedTriangulation& t, uint32_t triangle, const PlanePoint& p) {
    const uint32_t m = uint32_t(t.points.size());
    t.points.push_back(p);
    const uint32_t a = cornerOf(t, triangle, 0), b = cornerOf(t, triangle, 1),
                   c = cornerOf(t, triangle, 2);
    const uint32_t nAB = t.across[3 * triangle], nBC = t.across[3 * triangle + 1],
                   nCA = t.across[3 * triangle + 2];
    const uint8_t kAB = t.kept[3 * triangle], kBC = t.kept[3 * triangle + 1],
                  kCA = t.kept[3 * triangle + 2];
    const uint32_t second = newTriangle(t, t.tags[triangle]),
                   third = newTriangle(t, t.tags[triangle]);
    setTriangle(t, triangle, {a, b, m}, {nAB, second, third}, {kAB, 0, 0});
    setTriangle(t, second, {b, c, m}, {nBC, third, triangle}, {kBC, 0, 0});
    setTriangle(t, third, {c, a, m}, {nCA, triangle, second}, {kCA, 0, 0});
    pointBack(t, nBC, b, c, second);
    pointBack(t, nCA, c, a, third);
    t.flips.push_back({triangle, a, b}), t.flips.push_back({second, b, c});
    t.flips.push_back({third, c, a});
    flipUntilDelaunay(t);
    return m;
}

uint32_t insertOnEdge(ConstrainedTriangulation& t, uint32_t triangle, int edge,
                      const PlanePoint& p) {
    const uint32_t m = uint32_t(t.points.size());
    t.points.push_back(p);
    const uint32_t a = cornerOf(t, triangle, edge), b = cornerOf(t, triangle, edge + 1),
                   c = cornerOf(t, triangle, edge + 2);
    const uint32_t e = 3 * triangle + uint32_t(edge);
    const uint32_t other = t.across[e];
    const uint8_t keptAB = t.kept[e];
    const uint32_t nBC = t.across[3 * triangle + uint32_t((edge + 1) % 3)],
                   nCA = t.across[3 * triangle + uint32_t((edge + 2) % 3)];
    const uint8_t kBC = t.kept[3 * triangle + uint32_t((edge + 1) % 3)],
                  kCA = t.kept[3 * triangle + uint32_t((edge + 2) % 3)];
    const uint32_t beside = newTriangle(t, t.tags[triangle]);
    t.flips.push_back({triangle, c, a}), t.flips.push_back({beside, b, c});
    if (other == NO_TRIANGLE) {
        setTriangle(t, triangle, {a, m, c}, {NO_TRIANGLE, beside, nCA}, {keptAB, 0, kCA});
        setTriangle(t, beside, {m, b, c}, {NO_TRIANGLE, nBC, triangle}, {keptAB, kBC, 0});
    } else {
        const int k = edgeFrom(t, other, b, a);
        const uint32_t d = cornerOf(t, other, k + 2);
        const uint32_t nAD = t.across[3 * other + uint32_t((k + 1) % 3)],
                       nDB = t.across[3 * other + uint32_t((k + 2) % 3)];
        const uint8_t kAD = t.kept[3 * other + uint32_t((k + 1) % 3)],
                      kDB = t.kept[3 * other + uint32_t((k + 2) % 3)];
        const uint32_t otherBeside = newTriangle(t, t.tags[other]);
        setTriangle(t, triangle, {a, m, c}, {otherBeside, beside, nCA}, {keptAB, 0, kCA});
        setTriangle(t, beside, {m, b, c}, {other, nBC, triangle}, {keptAB, kBC, 0});
        setTriangle(t, other, {b, m, d}, {beside, otherBeside, nDB}, {keptAB, 0, kDB});
        setTriangle(t, otherBeside, {m, a, d}, {triangle, nAD, other}, {keptAB, kAD, 0});
        pointBack(t, nAD, a, d, otherBeside);
        t.flips.push_back({other, d, b}), t.flips.push_back({otherBeside, a, d});
    }
    pointBack(t, nBC, b, c, beside);
    flipUntilDelaunay(t);
    return m;
}

}  // namespace mc
