// Odd outlines made into what they enclose: each polygon's rings taken by the even-odd rule
// (a ring crossing itself, an edge walked out and back, a hole outside its outline), the
// polygons' union (several boundaries of one airport), as valid polygons.
#include <algorithm>
#include <cmath>
#include <map>

#include "area/area_index.h"
#include "geo/places.h"

namespace mc {

namespace {

using Segment = bg::model::segment<Point>;

struct Edge {
    Point from, to;
    std::vector<Point> splits;  // where other edges meet it inside
};

bool samePoint(const Point& a, const Point& b) {
    return bg::get<0>(a) == bg::get<0>(b) && bg::get<1>(a) == bg::get<1>(b);
}

double lengthAlong(const Edge& e, const Point& p) {
    return std::hypot(bg::get<0>(p) - bg::get<0>(e.from), bg::get<1>(p) - bg::get<1>(e.from));
}

// Where two edges meet: each point inside an edge splits it. A single point inside both edges is
// a crossing (the first is kept for the user's note).
void meet(Edge& e, Edge& f, std::optional<Point>& crossing) {
    std::vector<Point> points;
    bg::intersection(Segment(e.from, e.to), Segment(f.from, f.to), points);
    for (const Point& p : points) {
        bool insideE = !samePoint(p, e.from) && !samePoint(p, e.to);
        bool insideF = !samePoint(p, f.from) && !samePoint(p, f.to);
        if (insideE) e.splits.push_back(p);
        if (insideF) f.splits.push_back(p);
        if (points.size() == 1 && insideE && insideF && !crossing) crossing = p;
    }
}

// Every pair of edges whose latitudes overlap, swept from the south.
void splitWhereEdgesMeet(std::vector<Edge>& edges, std::optional<Point>& crossing) {
    std::vector<size_t> order(edges.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    auto south = [&](size_t k) { return std::min(edges[k].from.y(), edges[k].to.y()); };
    auto north = [&](size_t k) { return std::max(edges[k].from.y(), edges[k].to.y()); };
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return south(a) < south(b); });
    for (size_t i = 0; i < order.size(); ++i) {
        Edge& e = edges[order[i]];
        double west = std::min(e.from.x(), e.to.x()), east = std::max(e.from.x(), e.to.x());
        for (size_t j = i + 1; j < order.size() && south(order[j]) <= north(order[i]); ++j) {
            Edge& f = edges[order[j]];
            if (std::max(f.from.x(), f.to.x()) < west || std::min(f.from.x(), f.to.x()) > east) {
                continue;
            }
            meet(e, f, crossing);
        }
    }
}

// The ring's points with every meeting point in place, then cut into loops that repeat no point:
// between meeting points no two edges touch, so each loop is simple.
void simpleLoops(const std::vector<Point>& corners, std::vector<std::vector<Point>>& loops,
                 std::optional<Point>& crossing) {
    std::vector<Edge> edges;
    for (size_t k = 0; k < corners.size(); ++k) {
        const Point& to = corners[(k + 1) % corners.size()];
        if (!samePoint(corners[k], to)) edges.push_back({corners[k], to, {}});
    }
    splitWhereEdgesMeet(edges, crossing);
    std::vector<Point> path;
    std::map<std::pair<double, double>, size_t> placeInPath;
    auto visit = [&](const Point& p) {
        auto [at, added] = placeInPath.try_emplace({p.x(), p.y()}, path.size());
        if (added) return path.push_back(p);
        loops.emplace_back(path.begin() + long(at->second), path.end());
        for (size_t k = at->second + 1; k < path.size(); ++k) {
            placeInPath.erase({path[k].x(), path[k].y()});
        }
        path.resize(at->second + 1);
    };
    for (Edge& e : edges) {
        std::sort(e.splits.begin(), e.splits.end(), [&](const Point& a, const Point& b) {
            return lengthAlong(e, a) < lengthAlong(e, b);
        });
        visit(e.from);
        for (const Point& p : e.splits) visit(p);
    }
    if (!edges.empty()) visit(edges.front().from);
}

// A polygon's rings by the even-odd rule: the symmetric difference of all their loops.
MultiPolygon evenOdd(const std::vector<const Polygon::ring_type*>& rings,
                     std::optional<Point>& crossing) {
    MultiPolygon enclosed;
    for (const auto* ring : rings) {
        std::vector<Point> corners(ring->begin(), ring->end());
        if (corners.size() > 1 && samePoint(corners.front(), corners.back())) corners.pop_back();
        std::vector<std::vector<Point>> loops;
        simpleLoops(corners, loops, crossing);
        for (std::vector<Point>& loop : loops) {
            if (loop.size() < 3) continue;  // out and back: nothing enclosed
            Polygon piece;
            piece.outer().assign(loop.begin(), loop.end());
            bg::correct(piece);
            if (bg::area(piece) == 0) continue;
            MultiPolygon next;
            bg::sym_difference(enclosed, piece, next);
            enclosed = std::move(next);
        }
    }
    return enclosed;
}

// Metres east and north of a point, at the cosine of a latitude.
struct Flat {
    double east, north;
};
Flat flatOf(const Point& p, const Point& from, double cosine) {
    return {(p.x() - from.x()) * cosine * METRES_PER_DEGREE,
            (p.y() - from.y()) * METRES_PER_DEGREE};
}

// How far a point lies from the segment between two others, in metres.
double metresFromSegment(const Point& p, const Point& a, const Point& b, double cosine) {
    Flat q = flatOf(p, a, cosine), e = flatOf(b, a, cosine);
    double length2 = e.east * e.east + e.north * e.north;
    double t =
        length2 > 0 ? std::clamp((q.east * e.east + q.north * e.north) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(q.east - t * e.east, q.north - t * e.north);
}

// The ring with the corners dropped that lie within `metres` of the line the kept corners on
// either side draw: every dropped corner stays that close to the new edge.
void dropNearlyStraightCorners(Polygon::ring_type& ring, double metres) {
    if (ring.size() < 5) return;
    double cosine = cosineOfLatitude<double>(ring.front().y());
    Polygon::ring_type kept{ring.front()};
    size_t anchor = 0;
    for (size_t next = 2; next < ring.size(); ++next) {
        bool straight = true;
        for (size_t k = anchor + 1; k < next && straight; ++k) {
            straight = metresFromSegment(ring[k], ring[anchor], ring[next], cosine) <= metres;
        }
        if (straight) continue;
        anchor = next - 1;
        kept.push_back(ring[anchor]);
    }
    kept.push_back(ring.back());
    if (kept.size() >= 4) ring = std::move(kept);
}

}  // namespace

void dropNearlyStraightCorners(MultiPolygon& shape, double metres) {
    for (Polygon& polygon : shape) {
        dropNearlyStraightCorners(polygon.outer(), metres);
        for (auto& hole : polygon.inners()) dropNearlyStraightCorners(hole, metres);
    }
}

MultiPolygon enclosedArea(const MultiPolygon& shape, std::optional<Point>& crossing,
                          bool& holeOutside) {
    MultiPolygon area;
    holeOutside = false;
    for (const Polygon& polygon : shape) {
        std::vector<const Polygon::ring_type*> rings{&polygon.outer()};
        for (const auto& hole : polygon.inners()) {
            rings.push_back(&hole);
            holeOutside = holeOutside || !bg::intersects(hole, polygon.outer());
        }
        MultiPolygon part = evenOdd(rings, crossing), joined;
        bg::union_(area, part, joined);
        area = std::move(joined);
    }
    return area;
}

}  // namespace mc
