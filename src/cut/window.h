// The window a cut is made in: an open rectangle of latitude and longitude, and the area the cut
// follows inside it, when there is one; and which corners count as inside.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>

#include "area/area.h"
#include "cut/frame.h"
#include "text/whole_numbers.h"

namespace mc {

/// The open rectangle latMin < lat < latMax, longMin < lon < longMax, in degrees, and the area
/// the cut follows inside it, when there is one.
struct SelectionWindow {
    double latMin = 0, latMax = 0, longMin = 0, longMax = 0;
    const CutArea* area = nullptr;
    bool clip = false;  // triangles cut along the outline (clip=1)
};

inline bool isInsideWindow(const SelectionWindow& window, double lon, double lat) {
    return window.latMin < lat && lat < window.latMax && window.longMin < lon &&
           lon < window.longMax;
}

/// Whether a box (of a block's vertices) reaches into the window: with clip=1 a block is kept
/// then, since a triangle of it may cover part of the window with every corner outside.
inline bool boxMeetsWindow(const SelectionWindow& window, double west, double east, double south,
                           double north) {
    return west < window.longMax && window.longMin < east && south < window.latMax &&
           window.latMin < north;
}

/// Whether a corner counts for the cut: strictly inside the window and, when the cut follows an
/// area, strictly inside it (a corner on the outline is outside, as on the window's edge).
inline bool isInsideCut(const SelectionWindow& window, double lon, double lat) {
    return isInsideWindow(window, lon, lat) &&
           (!window.area || isInsideArea(*window.area, lon, lat));
}

/// A window the ini leaves to the area is the area's, widened by this much.
constexpr double AREA_MARGIN_METRES = 10;

/// The smallest window holding the area, widened by `metres` on every side (in longitude at the
/// latitude farthest from the equator, so that it is at least that wide everywhere).
inline SelectionWindow windowAroundArea(const CutArea& area, double metres) {
    double farthest = std::max(std::fabs(area.south), std::fabs(area.north));
    double lat = metres / METRES_PER_DEGREE;
    double lon = lat / std::max(cosineOfLatitude<double>(farthest), 1e-9);
    return {area.south - lat, area.north + lat, area.west - lon, area.east + lon, &area};
}

/// "window from the area: lat 45.49 to 45.56, long 7.49 to 7.57", as the console says the window
/// it took from the area (the add-on reads it back).
inline std::string windowFromAreaLine(const SelectionWindow& w) {
    return "window from the area: lat " + doubleToText(w.latMin) + " to " + doubleToText(w.latMax) +
           ", long " + doubleToText(w.longMin) + " to " + doubleToText(w.longMax);
}

}  // namespace mc
