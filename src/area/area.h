// The area a cut follows besides its window, as a file describes it and ready for the cut: its
// polygons checked and indexed for the rule (a corner counts when it lies strictly inside the
// window and strictly inside the area), the parts of a triangle inside both for clipping along
// the outline, and the band around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geo/places.h"
#include "text/status.h"

namespace mc {

/// An area as a file describes it: its polygons, and what the file says of it.
struct Area {
    std::vector<AreaPolygon> polygons;
    std::string name;          // the airport's identifier, the feature's or the placemark's name
    std::string format;        // "apt.dat", "GeoJSON" or "KML"
    double elevationFeet = 0;  // apt.dat: the airport's elevation, from its header row
    bool hasElevation = false;
};

struct AreaIndex;  // the polygons, and their edges by band of longitude

/// An area ready for the cut; copies share its index.
struct CutArea {
    std::shared_ptr<const AreaIndex> index;
    std::string label;  // "LFLB from apt.dat"
    std::string note;   // what the user should know of odd outlines: no failure
    size_t outlines = 0, holes = 0, corners = 0;
    double west = 0, east = 0, south = 0, north = 0;  // its extent
};

/// Places closer than this are one: an outline's corner this near the line through its
/// neighbours, a tile vertex this near the outline. A clip leaves no triangle thinner.
constexpr double SAME_PLACE_METRES = 0.01;

/// Closes and orients the rings, drops repeated corners and spikes, and checks what is left: no
/// ring of fewer than three corners, no outline crossing itself or another, every hole inside its
/// outline. Fails (readArea), saying why and where an outline crosses itself, when the area is
/// no valid polygon.
Status prepareArea(const Area& area, const std::string& fileName, CutArea& prepared);

/// "area LFLB from apt.dat: 1 outline, 2 holes, 412 corners", as the console says it.
std::string areaSummary(const CutArea& area);

/// Whether a point lies strictly inside the area: inside an outline and outside its holes, on no
/// ring. The edges looked at are those of the point's band of longitude, not all of them.
bool isInsideArea(const CutArea& area, double lon, double lat);

/// The area's rings, closed, outline before holes, polygon by polygon.
std::vector<AreaRing> areaRings(const CutArea& area);

/// The open rectangle of a window, in degrees (as cut.h's SelectionWindow holds it).
struct WindowBounds {
    double latMin = 0, latMax = 0, longMin = 0, longMax = 0;
};

struct ClipIndex;
/// What triangles are clipped against: the window, and the area inside it when there is one.
struct ClipRegion {
    std::shared_ptr<const ClipIndex> index;
};
ClipRegion clipRegionOf(const WindowBounds& window, const CutArea* area);

/// Whether the region's outline (window edges included) may pass through the box: false means
/// a box with a corner inside lies wholly inside.
bool outlineMayCross(const ClipRegion& region, double west, double east, double south,
                     double north);

/// The parts of a triangle (longitude, latitude) inside the region: outlines with their holes,
/// none when nothing of it is inside.
void clipTriangle(const ClipRegion& region, const AreaPoint (&corners)[3],
                  std::vector<AreaPolygon>& parts);
/// The area widened by a band of this many metres around it, its holes narrowed as much (round
/// at convex corners), as an area file would give it.
Area bandAround(const CutArea& area, double metres);

/// How far a place lies from the region's outline (window edges included), in metres.
double metresToOutline(const ClipRegion& region, double lon, double lat);
/// The parts of a triangle outside the region: what clipTriangle leaves of it.
void clipTriangleOutside(const ClipRegion& region, const AreaPoint (&corners)[3],
                         std::vector<AreaPolygon>& parts);

}  // namespace mc
