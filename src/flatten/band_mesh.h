// The band around a flattened airport meshed anew: rows of points a fifth of the band apart,
// Delaunay between the band's borders, the ground under them sampled from the tile's triangles.
#pragma once

#include <cstdint>
#include <vector>

#include "area/near_outline.h"
#include "cut/cut.h"
#include "flatten/ground_mesh.h"

namespace mc {

/// Per point of the ground: how far it lies from the airport's outline (0 inside), and whether
/// it stays on the ground (on the band's outer edge).
struct Heights {
    std::vector<double> distance;
    std::vector<uint8_t> fixed;
};

/// Metres from the airport's outline, 0 inside it or within a millimetre of it.
double distanceOf(const CutArea& airport, const NearOutline& near, const AreaPoint& p);

/// Whether a triangle of the ground lies inside the airport: its corners there or on the
/// outline, and its middle inside (three corners on the outline may span a hole's corner).
bool isInsideAirport(const Ground& g, const Heights& h, const CutArea& airport,
                     const uint32_t* corners);

/// The band's triangles (those not inside the airport) replaced by a constrained Delaunay mesh
/// of the same region: its border (the outline, the band's outer edge) and the borders between
/// terrains kept, split into pieces at most three fifths of the band long; the tile's points
/// inside taken out; rows of points at one to four fifths of the band from the outline, two
/// fifths apart along them; every edge whose ends lie more than a quarter of the band apart
/// across it halved; triangles with an angle under 20 degrees, but for those their borders make
/// so, given a point at their circle's centre. A new point takes its place, ground and photo
/// values from the tile's triangle under it; one on the outer edge stays on the ground; one on
/// the outline goes into the triangles inside too.
void meshBand(Ground& g, const Cut& cut, const CutArea& airport, const NearOutline& near,
              double blend, Heights& h);

}  // namespace mc
