// A triangle whose edges gained points in their middle, as a ring: a neighbour of a triangle that
// was split at points of their common edge is cut along it, so that no edge ends on another.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

namespace mc {

/// The triangle's corners with the points on its edges put in between, each edge's in order from
/// its first corner: corner 0, the points of edge 0 (corner 0 to 1), corner 1, ... A point is
/// any value that compares (an id); `pointsOn(k, along)` appends edge k's points, each with its
/// distance from corner k. A point met twice in a row is put in once. Returns how many edges
/// have points, and the last of them in `lastEdge`.
template <typename Point, typename PointsOn>
int ringWithEdgePoints(const Point (&corners)[3], PointsOn&& pointsOn,
                       std::vector<std::pair<double, Point>>& along, std::vector<Point>& ring,
                       int& lastEdge) {
    ring.clear();
    int edges = 0;
    for (int k = 0; k < 3; ++k) {
        ring.push_back(corners[k]);
        along.clear();
        pointsOn(k, along);
        std::sort(along.begin(), along.end());
        const size_t before = ring.size();
        for (const auto& [distance, point] : along) {
            if (!(ring.back() == point)) ring.push_back(point);
        }
        if (ring.size() > before) ++edges, lastEdge = k;
    }
    return edges;
}

}  // namespace mc
