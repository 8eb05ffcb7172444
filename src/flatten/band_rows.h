// The rows of points a flattening's band is meshed on: the airport's rings moved out.
#pragma once

#include <utility>
#include <vector>

#include "area/area.h"

namespace mc {

/// Points in rows a fifth, two, three and four fifths of the band out from the outline (`gap`
/// apart), `step` apart along each, each row half a step on from the one before; on both sides
/// of every ring, with the distance each was meant to lie at (those that land inside the airport
/// or nearer another edge are for the caller to leave out).
std::vector<std::pair<AreaPoint, double>> rowPlaces(const CutArea& airport, double gap,
                                                    double step);

}  // namespace mc
