// Areas to cut along, as the files that describe them hold them: an airport's boundary in the
// simulator's apt.dat, a GeoJSON feature, a KML placemark.
#pragma once

#include <string>
#include <vector>

#include "area/area.h"
#include "text/status.h"

namespace mc {

/// Apt.dat Bezier boundaries are drawn in straight pieces at most this long along the curve.
constexpr double BEZIER_PIECE_METRES = 5;

/// Reads the area named `wanted` from an apt.dat (an airport by its identifier: its boundary,
/// rows 130 and 111-116), a GeoJSON file (the feature whose id or properties.name is it: its
/// Polygon or MultiPolygon) or a KML file (the Placemark of that name: its Polygons); an empty
/// name takes the file's first polygon. The form is told by the first character that is not
/// blank. Fails (readArea), saying why and naming the nearest names when the one wanted is not
/// there, when the file cannot be read, is malformed, or holds no such polygon.
Status readArea(const std::string& path, const std::string& wanted, Area& area);

}  // namespace mc
