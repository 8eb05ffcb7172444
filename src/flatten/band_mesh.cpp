// The band meshed anew: every height in it changes, so its triangles need not be the tile's;
// rows a quarter of the band apart keep the ease a curve with a few triangles.
#include "flatten/band_mesh.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "flatten/band_rows.h"
#include "geo/constrained_triangulation.h"

namespace mc {

namespace {

// Points along the band's borders lie this many rows' steps apart.
constexpr double BORDER_STEPS = 1.5;

// The band's outer edge follows its arcs by chords, up to a metre inside them.
constexpr double RIM_PLAY_METRES = 1.5;

// The band while it is meshed: the mesh, the band as the tile had it (to sample), and per point
// of the mesh its place, ground, distance and whether it stays on the ground.
struct Band {
    ConstrainedTriangulation mesh, tile;
    std::vector<AreaPoint> places;
    std::vector<double> ground, distance;
    std::vector<uint8_t> fixed;
    // per edge on the band's border, the edge of the ground it is a piece of
    std::unordered_map<uint64_t, uint64_t> wholeOf;
    std::unordered_set<uint64_t> outerEdge;  // the ground's own border: the band's outer edge
    double blend = 0;
    double across = 0;  // the longest step across the band: a quarter of it
    double gap = 0;     // between rows: a fifth of the band, the rows' places allowed some play
    double along = 0;   // between points along a row
    double border = 0;  // between points along a border: a row of triangles leans on it
};

// p's weights in the tile's triangle under it, preferring one of `definition` (a point on the
// border between two terrains takes each one's photo values); NO_TRIANGLE when none is near.
uint32_t tileTriangleUnder(const Band& b, const PlanePoint& p, uint32_t definition,
                           double (&w)[3]) {
    const ConstrainedTriangulation& t = b.tile;
    const size_t column =
        size_t(std::clamp(std::floor((p.x - t.west) / t.cell), 0.0, double(t.columns - 1)));
    const size_t row =
        size_t(std::clamp(std::floor((p.y - t.south) / t.cell), 0.0, double(t.rows - 1)));
    uint32_t best = NO_TRIANGLE;
    double bestOutside = INFINITY;
    for (uint32_t k : t.byCell[row * t.columns + column]) {
        const PlanePoint c[3] = {t.points[t.corners[3 * k]], t.points[t.corners[3 * k + 1]],
                                 t.points[t.corners[3 * k + 2]]};
        double weights[3];
        if (!weightsInTriangle(c, p, weights)) continue;
        double outside = -std::min({weights[0], weights[1], weights[2], 0.0});
        if (t.tags[k] != definition) outside += 1e-6;  // another terrain's, if none holds it
        if (outside < bestOutside) {
            best = k, bestOutside = outside;
            std::copy(weights, weights + 3, w);
        }
    }
    return best;
}

// Whether p lies within a micrometre of edge j of triangle k.
bool isOnEdge(const ConstrainedTriangulation& t, uint32_t k, int j, const PlanePoint& p) {
    const PlanePoint &a = t.points[t.corners[3 * k + uint32_t(j)]],
                     &b = t.points[t.corners[3 * k + uint32_t(j + 1) % 3]];
    return std::fabs(turnOf(a, b, p)) <= 1e-6 * std::hypot(b.x - a.x, b.y - a.y);
}

// A point of the band at p, in triangle k or (j >= 0) on its edge j: its place and ground from
// the tile's triangle under it; on the border, its place on the border's line (as the clip has
// its points) and, on the outer edge, kept on the ground; on the outline, noted for the
// triangles inside.
uint32_t addPoint(Band& b, Ground& g, const CutArea& airport, const NearOutline& near, uint32_t k,
                  int j, const PlanePoint& p) {
    ConstrainedTriangulation& m = b.mesh;
    double w[3] = {1, 0, 0};
    const uint32_t under = tileTriangleUnder(b, p, m.tags[k], w);
    AreaPoint place{0, 0};
    double ground = 0;
    for (int c = 0; c < 3 && under != NO_TRIANGLE; ++c) {
        const uint32_t corner = b.tile.corners[3 * under + uint32_t(c)];
        place.lon += w[c] * g.places[corner].lon, place.lat += w[c] * g.places[corner].lat;
        ground += w[c] * g.points[corner].height;
    }
    uint8_t fixed = 0;
    uint64_t whole = 0;
    if (j >= 0 && m.kept[3 * k + uint32_t(j)]) {
        const uint32_t from = m.corners[3 * k + uint32_t(j)],
                       to = m.corners[3 * k + uint32_t(j + 1) % 3];
        const PlanePoint &a = m.points[from], &e = m.points[to];
        const double f = std::clamp(((p.x - a.x) * (e.x - a.x) + (p.y - a.y) * (e.y - a.y)) /
                                        ((e.x - a.x) * (e.x - a.x) + (e.y - a.y) * (e.y - a.y)),
                                    0.0, 1.0);
        place = {b.places[from].lon + f * (b.places[to].lon - b.places[from].lon),
                 b.places[from].lat + f * (b.places[to].lat - b.places[from].lat)};
        ground = b.ground[from] + f * (b.ground[to] - b.ground[from]);
        if (auto found = b.wholeOf.find(edgeKey(from, to)); found != b.wholeOf.end()) {
            whole = found->second;
            fixed = b.outerEdge.count(whole) ? 1 : 0;
        }
    }
    const uint32_t at = j >= 0 ? insertOnEdge(m, k, j, p) : insertInTriangle(m, k, p);
    b.places.push_back(place), b.ground.push_back(ground), b.fixed.push_back(fixed);
    b.distance.push_back(distanceOf(airport, near, place));
    if (whole != 0 && !fixed) g.onEdges.insert({{uint32_t(whole >> 32), uint32_t(whole)}, at});
    return at;
}

// Per border piece of the band, the edge of the ground it is a piece of; a new point splits a
// piece in two pieces of the same edge.
void noteBorderPieces(Band& b) {
    const ConstrainedTriangulation& m = b.mesh;
    for (size_t e = 0; e < m.across.size(); ++e) {
        if (m.across[e] != NO_TRIANGLE) continue;
        const uint32_t k = uint32_t(e / 3), j = uint32_t(e % 3);
        const uint64_t edge = edgeKey(m.corners[3 * k + j], m.corners[3 * k + (j + 1) % 3]);
        b.wholeOf[edge] = edge;
    }
}

// Whether points may go onto an edge of the mesh: any but a border piece that is neither the
// outline (which the triangles inside share) nor the band's outer edge: a slit the clip left in
// the ground where it dropped a piece too thin to keep stays as the put-back has it.
bool maySplit(const Band& b, uint32_t from, uint32_t to) {
    auto found = b.wholeOf.find(edgeKey(from, to));
    if (found == b.wholeOf.end()) return true;  // inside the band (a border between terrains)
    const uint64_t whole = found->second;
    if (!b.outerEdge.count(whole)) return true;  // the outline
    const uint32_t ends[2] = {uint32_t(whole >> 32), uint32_t(whole)};
    return b.distance[ends[0]] >= b.blend - RIM_PLAY_METRES &&
           b.distance[ends[1]] >= b.blend - RIM_PLAY_METRES;
}

// After a point went onto a border piece, its two halves are pieces of the same edge.
void splitBorderPiece(Band& b, uint32_t from, uint32_t to, uint32_t made) {
    auto found = b.wholeOf.find(edgeKey(from, to));
    if (found == b.wholeOf.end()) return;
    const uint64_t whole = found->second;
    b.wholeOf[edgeKey(from, made)] = whole, b.wholeOf[edgeKey(made, to)] = whole;
}

// Splits an edge of the mesh at p (a fraction of the way along), keeping its border note.
void splitEdgeAt(Band& b, Ground& g, const CutArea& airport, const NearOutline& near, uint32_t k,
                 int j, const PlanePoint& p) {
    const uint32_t from = b.mesh.corners[3 * k + uint32_t(j)],
                   to = b.mesh.corners[3 * k + uint32_t(j + 1) % 3];
    const uint32_t made = addPoint(b, g, airport, near, k, j, p);
    splitBorderPiece(b, from, to, made);
}

// The kept edges (the band's borders, the borders between terrains) cut into pieces no longer
// than a quarter of the band.
void splitKeptEdges(Band& b, Ground& g, const CutArea& airport, const NearOutline& near) {
    ConstrainedTriangulation& m = b.mesh;
    std::vector<std::array<uint32_t, 2>> long_;
    for (uint32_t k = 0; k < m.tags.size(); ++k) {
        for (int j = 0; j < 3; ++j) {
            const uint32_t e = 3 * k + uint32_t(j);
            if (isGone(m, k) || !m.kept[e] || (m.across[e] != NO_TRIANGLE && m.across[e] < k))
                continue;
            const PlanePoint &a = m.points[m.corners[e]],
                             &c = m.points[m.corners[3 * k + uint32_t(j + 1) % 3]];
            if (std::hypot(c.x - a.x, c.y - a.y) > b.border &&
                maySplit(b, m.corners[e], m.corners[3 * k + uint32_t(j + 1) % 3])) {
                long_.push_back({m.corners[e], m.corners[3 * k + uint32_t(j + 1) % 3]});
            }
        }
    }
    for (auto [from, to] : long_) {
        const PlanePoint a = m.points[from], c = m.points[to];
        const int pieces = int(std::ceil(std::hypot(c.x - a.x, c.y - a.y) / b.border));
        for (int n = 1; n < pieces; ++n) {
            const double f = double(n) / pieces;
            const PlanePoint p{a.x + f * (c.x - a.x), a.y + f * (c.y - a.y)};
            uint32_t k = triangleUnder(m, p);
            if (k == NO_TRIANGLE) continue;
            int on = -1;
            for (int j = 0; j < 3 && on < 0; ++j) {
                if (m.kept[3 * k + uint32_t(j)] && isOnEdge(m, k, j, p)) on = j;
            }
            if (on >= 0) splitEdgeAt(b, g, airport, near, k, on, p);
        }
    }
}

// The tile's points inside the band, off its borders, taken out: the ground under the band is
// sampled from the tile's triangles, and the rows take their place.
void removeTilePoints(Band& b) {
    ConstrainedTriangulation& m = b.mesh;
    std::vector<uint8_t> tried(m.points.size());
    for (uint32_t k = 0; k < m.tags.size(); ++k) {
        for (int j = 0; j < 3 && !isGone(m, k); ++j) {
            const uint32_t p = m.corners[3 * k + uint32_t(j)];
            if (tried[p] || b.fixed[p]) continue;
            tried[p] = 1;
            removePoint(m, k, p);
        }
    }
}

// Points of the mesh filed by cells a step wide, to keep new ones apart from them.
struct PointCells {
    double cell;
    std::unordered_map<uint64_t, std::vector<uint32_t>> byCell;
    uint64_t keyOf(double x, double y) const {
        return uint64_t(int64_t(std::floor(x / cell)) + (1 << 30)) << 32 |
               uint32_t(int64_t(std::floor(y / cell)) + (1 << 30));
    }
    void add(const PlanePoint& p, uint32_t n) { byCell[keyOf(p.x, p.y)].push_back(n); }
    bool anyNear(const std::vector<PlanePoint>& points, const PlanePoint& p, double within) const {
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                auto found = byCell.find(keyOf(p.x + dx * cell, p.y + dy * cell));
                if (found == byCell.end()) continue;
                for (uint32_t n : found->second) {
                    if (std::hypot(points[n].x - p.x, points[n].y - p.y) < within) return true;
                }
            }
        }
        return false;
    }
};

// The rows' points put in where they lie in the band at their distance, apart from the points
// already there and from the kept edges.
void addRows(Band& b, Ground& g, const Cut& cut, const CutArea& airport, const NearOutline& near) {
    ConstrainedTriangulation& m = b.mesh;
    PointCells cells{b.along, {}};
    for (uint32_t k = 0; k < m.tags.size(); ++k) {
        for (int j = 0; j < 3 && !isGone(m, k); ++j) {
            const uint32_t p = m.corners[3 * k + uint32_t(j)];
            if (!cells.anyNear(m.points, m.points[p], 1e-9)) cells.add(m.points[p], p);
        }
    }
    for (const auto& [place, d] : rowPlaces(airport, b.gap, b.along)) {
        if (std::fabs(distanceOf(airport, near, place) - d) > 0.1 * b.gap) continue;
        const Metres at =
            metresOf(projectPosition(cut.window, {place.lon, place.lat, 0}, 0), cut.origin);
        const PlanePoint p{at.x, -at.z};
        if (cells.anyNear(m.points, p, 0.6 * b.gap)) continue;
        const uint32_t k = triangleUnder(m, p);
        if (k == NO_TRIANGLE) continue;
        bool nearKept = false;
        for (int j = 0; j < 3 && !nearKept; ++j) {
            if (!m.kept[3 * k + uint32_t(j)]) continue;
            nearKept =
                distanceToSegment(p, m.points[m.corners[3 * k + uint32_t(j)]],
                                  m.points[m.corners[3 * k + uint32_t(j + 1) % 3]]) < 0.5 * b.gap;
        }
        int on = -1;
        for (int j = 0; j < 3 && on < 0; ++j) {
            if (isOnEdge(m, k, j, p)) on = j;
        }
        if (nearKept || on >= 0) continue;
        cells.add(p, addPoint(b, g, airport, near, k, -1, p));
    }
}

// Every edge whose ends lie more than a quarter of the band apart across it (their distances
// from the outline) halved, until none is; but for the edges of a triangle on a slit the clip
// left, which may not be split: when the slit reaches further across than that, so does one of
// the triangle's other edges however often they are halved.
void shortenAcross(Band& b, Ground& g, const CutArea& airport, const NearOutline& near) {
    ConstrainedTriangulation& m = b.mesh;
    auto across = [&](uint32_t from, uint32_t to) {
        return std::fabs(std::min(b.distance[from], b.blend) - std::min(b.distance[to], b.blend));
    };
    auto onWideSlit = [&](uint32_t k) {
        for (int j = 0; j < 3 && k != NO_TRIANGLE; ++j) {
            const uint32_t from = m.corners[3 * k + uint32_t(j)],
                           to = m.corners[3 * k + uint32_t(j + 1) % 3];
            if (across(from, to) > b.across && !maySplit(b, from, to)) return true;
        }
        return false;
    };
    std::vector<std::array<uint32_t, 2>> wide;
    for (int pass = 0; pass < 40; ++pass) {
        wide.clear();
        for (uint32_t k = 0; k < m.tags.size(); ++k) {
            for (int j = 0; j < 3 && !isGone(m, k); ++j) {
                const uint32_t e = 3 * k + uint32_t(j);
                if (m.across[e] != NO_TRIANGLE && m.across[e] < k) continue;
                const uint32_t from = m.corners[e], to = m.corners[3 * k + uint32_t(j + 1) % 3];
                const PlanePoint &a = m.points[from], &c = m.points[to];
                if (across(from, to) > b.across * (1 + 1e-6) && maySplit(b, from, to) &&
                    std::hypot(c.x - a.x, c.y - a.y) > 0.05 && !onWideSlit(k) &&
                    !onWideSlit(m.across[e])) {
                    wide.push_back({from, to});
                }
            }
        }
        if (wide.empty()) return;
        for (auto [from, to] : wide) {
            const PlanePoint p{(m.points[from].x + m.points[to].x) / 2,
                               (m.points[from].y + m.points[to].y) / 2};
            const uint32_t k = triangleUnder(m, p);
            if (k == NO_TRIANGLE) continue;
            for (int j = 0; j < 3; ++j) {
                const uint32_t e = 3 * k + uint32_t(j);
                const uint32_t a = m.corners[e], c = m.corners[3 * k + uint32_t(j + 1) % 3];
                if ((a == from && c == to) || (a == to && c == from)) {
                    splitEdgeAt(b, g, airport, near, k, j, p);
                    break;
                }
            }
        }
    }
}

// A triangle of the band is thin when its least angle is under this. One whose least angle lies
// between two kept edges, or with a corner on a border piece shorter than CLOSE_CORNERS of the
// band, is as thin as its borders make it: good shapes there would take points as close as the
// border's own (the outline's close corners, the band's edge along a curve of them), far more
// than the band's rows. The round joins of the band's edge step 0.087 of the band: refined.
constexpr double LEAST_ANGLE_DEGREES = 20;
constexpr double CLOSE_CORNERS = 0.065;

// Per point of the band, whether it ends a kept piece shorter than CLOSE_CORNERS of the band.
std::vector<uint8_t> closeBorderCorners(const Band& b) {
    const ConstrainedTriangulation& m = b.mesh;
    std::vector<uint8_t> close(m.points.size());
    for (uint32_t e = 0; e < m.corners.size(); ++e) {
        const uint32_t k = e / 3;
        if (isGone(m, k) || !m.kept[e]) continue;
        const uint32_t from = m.corners[e], to = m.corners[3 * k + (e + 1) % 3];
        const PlanePoint &a = m.points[from], &c = m.points[to];
        if (std::hypot(c.x - a.x, c.y - a.y) < b.blend * CLOSE_CORNERS) {
            close[from] = close[to] = 1;
        }
    }
    return close;
}

// Whether triangle k is thinner than its borders make it: its least angle under the bound, not
// between two kept edges, no corner where the border's corners lie close.
bool isNeedlesslyThin(const Band& b, const std::vector<uint8_t>& closeCorners, uint32_t k) {
    const ConstrainedTriangulation& m = b.mesh;
    double length[3];
    for (int j = 0; j < 3; ++j) {
        const uint32_t p = m.corners[3 * k + uint32_t(j)];
        if (p < closeCorners.size() && closeCorners[p]) return false;
        const PlanePoint &from = m.points[p],
                         &to = m.points[m.corners[3 * k + uint32_t(j + 1) % 3]];
        length[j] = std::hypot(to.x - from.x, to.y - from.y);
    }
    const int shortest = int(std::min_element(length, length + 3) - length);
    const double twiceArea = turnOf(m.points[m.corners[3 * k]], m.points[m.corners[3 * k + 1]],
                                    m.points[m.corners[3 * k + 2]]);
    if (!(twiceArea > 0)) return false;
    // the least angle faces the shortest side: its sine is twice the area over the other two
    const double sine = twiceArea / (length[(shortest + 1) % 3] * length[(shortest + 2) % 3]);
    if (sine >= std::sin(LEAST_ANGLE_DEGREES * std::numbers::pi / 180)) return false;
    // the least angle's sides: the edges after and before the shortest
    return !(m.kept[3 * k + uint32_t(shortest + 1) % 3] &&
             m.kept[3 * k + uint32_t(shortest + 2) % 3]);
}

// The kept edge of triangle k that p lies in the circle on (the edge its diameter), or -1: a
// point there would make a thin triangle against the edge.
int crowdedKeptEdge(const ConstrainedTriangulation& m, uint32_t k, const PlanePoint& p) {
    for (int j = 0; j < 3; ++j) {
        if (!m.kept[3 * k + uint32_t(j)]) continue;
        const PlanePoint &from = m.points[m.corners[3 * k + uint32_t(j)]],
                         &to = m.points[m.corners[3 * k + uint32_t(j + 1) % 3]];
        const double half = std::hypot(to.x - from.x, to.y - from.y) / 2;
        if (std::hypot(p.x - (from.x + to.x) / 2, p.y - (from.y + to.y) / 2) < half) return j;
    }
    return -1;
}

// A thin triangle's circle centre put in: not within a tenth of the rows' spacing of a corner;
// where it would crowd a kept edge, that edge halved instead if it may be and is longer than a
// row's step; on an edge, onto it unless the edge is kept.
void putCentre(Band& b, Ground& g, const CutArea& airport, const NearOutline& near,
               const PlanePoint& p) {
    ConstrainedTriangulation& m = b.mesh;
    const uint32_t k = triangleUnder(m, p);
    if (k == NO_TRIANGLE) return;
    int on = -1;
    for (int j = 0; j < 3; ++j) {
        const PlanePoint& corner = m.points[m.corners[3 * k + uint32_t(j)]];
        if (std::hypot(p.x - corner.x, p.y - corner.y) < 0.1 * b.gap) return;
        if (isOnEdge(m, k, j, p)) on = j;
    }
    if (const int crowded = crowdedKeptEdge(m, k, p); crowded >= 0) {
        const uint32_t from = m.corners[3 * k + uint32_t(crowded)],
                       to = m.corners[3 * k + uint32_t(crowded + 1) % 3];
        const PlanePoint &a = m.points[from], &c = m.points[to];
        if (std::hypot(c.x - a.x, c.y - a.y) > b.along && maySplit(b, from, to)) {
            splitEdgeAt(b, g, airport, near, k, crowded, {(a.x + c.x) / 2, (a.y + c.y) / 2});
        }
        return;
    }
    if (on >= 0 && m.kept[3 * k + uint32_t(on)]) return;
    addPoint(b, g, airport, near, k, on, p);
}

// Thin triangles of the band given a point at their circle's centre (Chew's and Ruppert's
// refinement), a pass at a time, up to eight.
void improveShapes(Band& b, Ground& g, const CutArea& airport, const NearOutline& near) {
    const ConstrainedTriangulation& m = b.mesh;
    const std::vector<uint8_t> closeCorners = closeBorderCorners(b);
    std::vector<PlanePoint> centres;
    for (int pass = 0; pass < 8; ++pass) {
        centres.clear();
        for (uint32_t k = 0; k < m.tags.size(); ++k) {
            if (isGone(m, k) || !isNeedlesslyThin(b, closeCorners, k)) continue;
            centres.push_back(circleCentre(m.points[m.corners[3 * k]],
                                           m.points[m.corners[3 * k + 1]],
                                           m.points[m.corners[3 * k + 2]]));
        }
        if (centres.empty()) return;
        for (const PlanePoint& p : centres) putCentre(b, g, airport, near, p);
    }
}

// The band's new points into the ground, with their photo values per terrain; its triangles
// after those inside the airport.
void takeBand(Band& b, Ground& g, const Cut& cut, std::vector<uint32_t>&& inside,
              std::vector<uint32_t>&& insideDefinitions, Heights& h) {
    const ConstrainedTriangulation& m = b.mesh;
    const size_t first = g.points.size();
    for (size_t p = first; p < m.points.size(); ++p) {
        const AreaPoint& place = b.places[p - first];
        Metres at =
            metresOf(projectPosition(cut.window, {place.lon, place.lat, b.ground[p - first]}, 0),
                     cut.origin);
        g.points.push_back({at.x, -at.z, b.ground[p - first]});
        g.places.push_back(place), g.at.push_back(at);
        g.byCell.insert({{int64_t(std::floor(place.lon / CELL_DEGREES)),
                          int64_t(std::floor(place.lat / CELL_DEGREES))},
                         uint32_t(p)});
        h.distance.push_back(b.distance[p - first]);
        h.fixed.push_back(b.fixed[p - first]);
    }
    g.tileOwn.resize(g.points.size());
    std::set<uint32_t> photoTerrains;
    for (const auto& [key, uv] : g.photo) photoTerrains.insert(key.second);
    for (uint32_t k = 0; k < m.tags.size(); ++k) {
        if (isGone(m, k) || !photoTerrains.count(m.tags[k])) continue;
        for (int j = 0; j < 3; ++j) {
            const uint32_t p = m.corners[3 * k + uint32_t(j)];
            if (p < first || g.photo.count({p, m.tags[k]})) continue;
            double w[3];
            const uint32_t under = tileTriangleUnder(b, m.points[p], m.tags[k], w);
            if (under == NO_TRIANGLE || b.tile.tags[under] != m.tags[k]) continue;
            std::array<double, 2> uv = {0, 0};
            bool all = true;
            for (int c = 0; c < 3 && all; ++c) {
                auto found = g.photo.find({b.tile.corners[3 * under + uint32_t(c)], m.tags[k]});
                all = found != g.photo.end();
                if (all) uv[0] += w[c] * found->second[0], uv[1] += w[c] * found->second[1];
            }
            if (all) g.photo[{p, m.tags[k]}] = uv;
        }
    }
    g.triangles = std::move(inside), g.definitions = std::move(insideDefinitions);
    for (uint32_t k = 0; k < m.tags.size(); ++k) {
        if (isGone(m, k)) continue;
        g.triangles.insert(g.triangles.end(), &m.corners[3 * k], &m.corners[3 * k + 3]);
        g.definitions.push_back(m.tags[k]);
    }
}

// The points no triangle uses any more (the tile's, taken out of the band) dropped, the others
// renumbered in their order.
void dropUnusedPoints(Ground& g, Heights& h) {
    std::vector<uint32_t> numberOf(g.points.size(), NO_TRIANGLE);
    for (uint32_t p : g.triangles) numberOf[p] = 0;
    g.tileOwn.resize(g.points.size());  // the points made since are not the tile's
    uint32_t kept = 0;
    for (size_t p = 0; p < numberOf.size(); ++p) {
        if (numberOf[p] == NO_TRIANGLE) continue;
        numberOf[p] = kept;
        g.points[kept] = g.points[p], g.places[kept] = g.places[p], g.at[kept] = g.at[p];
        g.tileOwn[kept] = g.tileOwn[p];
        h.distance[kept] = h.distance[p], h.fixed[kept] = h.fixed[p];
        ++kept;
    }
    g.points.resize(kept);
    g.places.resize(kept), g.at.resize(kept), g.tileOwn.resize(kept);
    h.distance.resize(kept), h.fixed.resize(kept);
    for (uint32_t& p : g.triangles) p = numberOf[p];
    std::map<std::pair<uint32_t, uint32_t>, std::array<double, 2>> photo;
    for (const auto& [key, uv] : g.photo) {
        if (numberOf[key.first] != NO_TRIANGLE) photo[{numberOf[key.first], key.second}] = uv;
    }
    g.photo = std::move(photo);
    g.byCell.clear();
    for (uint32_t p = 0; p < kept; ++p) {
        g.byCell.insert({{int64_t(std::floor(g.places[p].lon / CELL_DEGREES)),
                          int64_t(std::floor(g.places[p].lat / CELL_DEGREES))},
                         p});
    }
    g.onEdges.clear();
}

}  // namespace

double distanceOf(const CutArea& airport, const NearOutline& near, const AreaPoint& p) {
    if (isInsideArea(airport, p.lon, p.lat)) return 0;
    double d = metresToNearOutline(near, p);
    return d < POINT_TOLERANCE_METRES ? 0 : d;
}

bool isInsideAirport(const Ground& g, const Heights& h, const CutArea& airport, const uint32_t* c) {
    if (h.distance[c[0]] != 0 || h.distance[c[1]] != 0 || h.distance[c[2]] != 0) return false;
    double lon = (g.places[c[0]].lon + g.places[c[1]].lon + g.places[c[2]].lon) / 3;
    double lat = (g.places[c[0]].lat + g.places[c[1]].lat + g.places[c[2]].lat) / 3;
    return isInsideArea(airport, lon, lat);
}

void meshBand(Ground& g, const Cut& cut, const CutArea& airport, const NearOutline& near,
              double blend, Heights& h) {
    std::vector<uint32_t> inside, insideDefinitions, band, bandDefinitions;
    std::unordered_map<uint64_t, int> counts;
    for (size_t k = 0; k < g.definitions.size(); ++k) {
        const uint32_t* c = &g.triangles[3 * k];
        for (int j = 0; j < 3; ++j) ++counts[edgeKey(c[j], c[(j + 1) % 3])];
        const bool flat = isInsideAirport(g, h, airport, c);
        (flat ? inside : band).insert((flat ? inside : band).end(), c, c + 3);
        (flat ? insideDefinitions : bandDefinitions).push_back(g.definitions[k]);
    }
    Band b;
    b.blend = blend, b.across = blend / 4, b.gap = blend / 5, b.along = blend * 2 / 5;
    b.border = b.along * BORDER_STEPS;
    for (const auto& [edge, count] : counts) {
        if (count == 1) b.outerEdge.insert(edge);
    }
    std::vector<PlanePoint> points;
    points.reserve(g.points.size());
    for (const GroundPoint& p : g.points) points.push_back({p.x, p.y});
    b.mesh = constrainedTriangulationOf(
        points, band, bandDefinitions, b.along, [&](uint32_t first, uint32_t second) {
            return bandDefinitions[first] != bandDefinitions[second];
        });
    b.tile = b.mesh;
    b.places = g.places;
    b.ground.reserve(g.points.size());
    for (const GroundPoint& p : g.points) b.ground.push_back(p.height);
    b.distance = h.distance, b.fixed = h.fixed;
    g.onEdges.clear();
    noteBorderPieces(b);
    makeDelaunay(b.mesh);
    removeTilePoints(b);
    splitKeptEdges(b, g, airport, near);
    addRows(b, g, cut, airport, near);
    shortenAcross(b, g, airport, near);
    improveShapes(b, g, airport, near);
    shortenAcross(b, g, airport, near);  // a centre's new edges may reach across the band
    // the new points' values, per point from the first new one
    b.places.erase(b.places.begin(), b.places.begin() + ptrdiff_t(g.points.size()));
    b.ground.erase(b.ground.begin(), b.ground.begin() + ptrdiff_t(g.points.size()));
    b.distance.erase(b.distance.begin(), b.distance.begin() + ptrdiff_t(g.points.size()));
    b.fixed.erase(b.fixed.begin(), b.fixed.begin() + ptrdiff_t(g.points.size()));
    takeBand(b, g, cut, std::move(inside), std::move(insideDefinitions), h);
    const size_t made = g.points.size();
    splitAtEdgePoints(g, cut);
    for (size_t p = made; p < g.points.size(); ++p) {
        h.distance.push_back(distanceOf(airport, near, g.places[p]));
        h.fixed.push_back(0);
    }
    dropUnusedPoints(g, h);
}

}  // namespace mc
