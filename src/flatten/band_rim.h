// Whether the band's outer edge grazes the tile's edges.
#pragma once

#include "area/area.h"
#include "cut/cut.h"

namespace mc {

/// Whether a corner of the band's rings lies within POINT_TOLERANCE_METRES of an edge of the
/// cut's triangles, not on it, but further than SAME_PLACE_METRES from its ends (the clip moves
/// those onto the end). There the triangle on one side would get a point all but on their common
/// edge while the one across, which nothing of the band reaches, keeps the edge whole: a slit once
/// the places are stored. False when a kept line cannot be read.
bool rimGrazesTile(const Cut& cut, const CutArea& band, bool& grazes);

}  // namespace mc
