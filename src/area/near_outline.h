// How far a place lies from an airport's outline, up to a reach: the flattening asks it of
// every point of its ground, against outlines of thousands of edges.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "area/area.h"

namespace mc {

/// The outline's edges filed by cells at least `reach` metres across, each under every cell it
/// comes within `reach` of: the distance from a place is looked for among its cell's few edges,
/// and past `reach` (where the band ends) it is only said to be that far.
struct NearOutline {
    double reach = 1, west = 0, south = 0, cellLon = 1, cellLat = 1;
    int64_t columns = 1, rows = 1;
    std::vector<std::array<double, 4>> edges;  // lon, lat of both ends
    std::vector<uint32_t> start, inCell;       // per cell and one past the last; edges by cell
};

NearOutline nearOutlineOf(const CutArea& airport, double reach);

/// Metres from a place outside the airport to its outline, at most the reach.
double metresToNearOutline(const NearOutline& near, const AreaPoint& place);

}  // namespace mc
