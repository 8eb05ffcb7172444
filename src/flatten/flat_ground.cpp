// The flattened ground's arithmetic: the fitted plane, the ease, the band's edges halved.
#include "flatten/flat_ground.h"

#include <algorithm>
#include <cmath>
#include <queue>
#include <unordered_map>

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

namespace {

uint64_t edgeKey(uint32_t a, uint32_t b) {
    return a < b ? uint64_t(a) << 32 | b : uint64_t(b) << 32 | a;
}

struct Splitting {
    std::vector<uint32_t>& triangles;
    std::vector<uint32_t>& tags;
    std::vector<GroundPoint>& points;
    const std::function<bool(uint32_t, uint32_t)>& isFixed;
    std::unordered_map<uint64_t, std::vector<uint32_t>> beside = {};  // edge -> its triangles
};

// An edge's length and key together, so that no two edges tie.
using Measure = std::pair<double, uint64_t>;

Measure measureOf(const Splitting& s, uint32_t a, uint32_t b) {
    const GroundPoint &p = s.points[a], &q = s.points[b];
    return {std::hypot(q.x - p.x, q.y - p.y), edgeKey(a, b)};
}

Measure longestEdgeOf(const Splitting& s, uint32_t t) {
    const uint32_t* c = &s.triangles[3 * size_t(t)];
    return std::max({measureOf(s, c[0], c[1]), measureOf(s, c[1], c[2]), measureOf(s, c[2], c[0])});
}

void noteEdges(Splitting& s, uint32_t t) {
    const uint32_t* c = &s.triangles[3 * size_t(t)];
    for (int k = 0; k < 3; ++k) s.beside[edgeKey(c[k], c[(k + 1) % 3])].push_back(t);
}

void forgetEdge(Splitting& s, uint32_t a, uint32_t b, uint32_t triangle) {
    std::vector<uint32_t>& list = s.beside[edgeKey(a, b)];
    list.erase(std::find(list.begin(), list.end(), triangle));
}

// Halves triangle t on its edge a-b at point m: t keeps (p, m, c), a new one takes (m, q, c),
// p-q being the edge in t's winding.
uint32_t halve(Splitting& s, uint32_t t, uint32_t a, uint32_t b, uint32_t m) {
    uint32_t* corners = &s.triangles[3 * size_t(t)];
    int k = 0;
    while (!((corners[k] == a && corners[(k + 1) % 3] == b) ||
             (corners[k] == b && corners[(k + 1) % 3] == a))) {
        ++k;
    }
    uint32_t p = corners[k], q = corners[(k + 1) % 3], c = corners[(k + 2) % 3];
    uint32_t u = uint32_t(s.triangles.size() / 3);
    forgetEdge(s, q, c, t);
    corners[0] = p, corners[1] = m, corners[2] = c;
    s.triangles.insert(s.triangles.end(), {m, q, c});
    s.tags.push_back(s.tags[t]);
    s.beside[edgeKey(p, m)].push_back(t);
    s.beside[edgeKey(m, c)].push_back(t);
    noteEdges(s, u);
    return u;
}

// The edge to halve for triangle t: at the end of its longest-edge path, where an edge is the
// longest of the triangles on both its sides (or of its only one); none when that edge may not
// be halved.
bool terminalEdge(const Splitting& s, uint32_t t, uint64_t& edge) {
    uint32_t current = t;
    for (;;) {
        Measure longest = longestEdgeOf(s, current);
        uint32_t a = uint32_t(longest.second >> 32), b = uint32_t(longest.second);
        if (s.isFixed(a, b)) return false;
        const std::vector<uint32_t>& sides = s.beside.at(longest.second);
        uint32_t other = current;
        for (uint32_t side : sides) {
            if (side != current) other = side;
        }
        if (other == current || longestEdgeOf(s, other) == longest) {
            edge = longest.second;
            return true;
        }
        current = other;  // its longest edge is longer: no path comes back
    }
}

}  // namespace

void splitLongEdges(std::vector<uint32_t>& triangles, std::vector<uint32_t>& tags,
                    std::vector<GroundPoint>& points, const EdgeSplitting& how) {
    if (!(how.longest > 0)) return;
    Splitting s{triangles, tags, points, how.isFixed};
    std::vector<uint32_t> waiting;
    for (uint32_t t = 0; t < triangles.size() / 3; ++t) noteEdges(s, t), waiting.push_back(t);
    while (!waiting.empty()) {
        uint32_t t = waiting.back();
        waiting.pop_back();
        uint64_t edge;
        if (!how.wantsShort(&triangles[3 * size_t(t)]) ||
            longestEdgeOf(s, t).first <= how.longest || !terminalEdge(s, t, edge)) {
            continue;
        }
        uint32_t a = uint32_t(edge >> 32), b = uint32_t(edge);
        uint32_t m = uint32_t(points.size());
        points.push_back({(points[a].x + points[b].x) / 2, (points[a].y + points[b].y) / 2,
                          (points[a].height + points[b].height) / 2});
        how.made(a, b, m);
        std::vector<uint32_t> sides = std::move(s.beside[edge]);
        s.beside.erase(edge);
        for (uint32_t side : sides) {
            waiting.push_back(side);
            waiting.push_back(halve(s, side, a, b, m));
        }
        waiting.push_back(t);  // it may be one of them, or still wait for its own edge
    }
}

}  // namespace mc
