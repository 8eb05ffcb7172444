// The outline's edges by cells, for the distances a flattening asks.
#include "area/near_outline.h"

#include <algorithm>
#include <cmath>

#include "geo/places.h"

namespace mc {

namespace {

// Clamped before it becomes an integer: a place far outside would not fit one.
int64_t slotOf(double position, int64_t count) {
    return int64_t(std::clamp(std::floor(position), 0.0, double(count - 1)));
}

}  // namespace

NearOutline nearOutlineOf(const CutArea& airport, double reach) {
    NearOutline n;
    n.reach = reach;
    for (const AreaRing& ring : areaRings(airport)) {
        for (size_t k = 0; k + 1 < ring.size(); ++k) {
            n.edges.push_back({ring[k].lon, ring[k].lat, ring[k + 1].lon, ring[k + 1].lat});
        }
    }
    const double cosine = cosineOfLatitude<double>((airport.south + airport.north) / 2);
    const double marginLat = reach / METRES_PER_DEGREE * 1.01,
                 marginLon = marginLat / std::max(cosine, 0.01);
    n.west = airport.west - marginLon, n.south = airport.south - marginLat;
    const double width = airport.east - n.west + marginLon,
                 height = airport.north - n.south + marginLat;
    n.cellLat = std::max(marginLat, height / 512), n.cellLon = std::max(marginLon, width / 512);
    n.columns = std::max<int64_t>(1, int64_t(std::ceil(width / n.cellLon)));
    n.rows = std::max<int64_t>(1, int64_t(std::ceil(height / n.cellLat)));
    auto cellsOf = [&](const std::array<double, 4>& e, auto&& visit) {
        int64_t c0 = slotOf((std::min(e[0], e[2]) - marginLon - n.west) / n.cellLon, n.columns);
        int64_t c1 = slotOf((std::max(e[0], e[2]) + marginLon - n.west) / n.cellLon, n.columns);
        int64_t r0 = slotOf((std::min(e[1], e[3]) - marginLat - n.south) / n.cellLat, n.rows);
        int64_t r1 = slotOf((std::max(e[1], e[3]) + marginLat - n.south) / n.cellLat, n.rows);
        for (int64_t r = r0; r <= r1; ++r) {
            for (int64_t c = c0; c <= c1; ++c) visit(size_t(r * n.columns + c));
        }
    };
    n.start.assign(size_t(n.columns * n.rows) + 1, 0);
    for (const auto& e : n.edges) cellsOf(e, [&](size_t cell) { ++n.start[cell + 1]; });
    for (size_t k = 1; k < n.start.size(); ++k) n.start[k] += n.start[k - 1];
    n.inCell.resize(n.start.back());
    std::vector<uint32_t> next(n.start.begin(), n.start.end() - 1);
    for (uint32_t k = 0; k < n.edges.size(); ++k) {
        cellsOf(n.edges[k], [&](size_t cell) { n.inCell[next[cell]++] = k; });
    }
    return n;
}

double metresToNearOutline(const NearOutline& n, const AreaPoint& p) {
    int64_t column = slotOf((p.lon - n.west) / n.cellLon, n.columns);
    int64_t row = slotOf((p.lat - n.south) / n.cellLat, n.rows);
    const size_t cell = size_t(row * n.columns + column);
    double nearest = n.reach;
    for (uint32_t k = n.start[cell]; k < n.start[cell + 1]; ++k) {
        const auto& e = n.edges[n.inCell[k]];
        double squared = offsetToSegment(p, {e[0], e[1]}, {e[2], e[3]}).squared();
        if (squared < nearest * nearest) nearest = std::sqrt(squared);
    }
    return nearest;
}

}  // namespace mc
