// Places on the ground in degrees, and the metres between them: the one geometry of the ground
// that the cut, the area, the put-back and the flattening measure with.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace mc {

/// A place: longitude and latitude in degrees.
struct AreaPoint {
    double lon = 0, lat = 0;
};
using AreaRing = std::vector<AreaPoint>;

/// An outline and the holes in it (as a file gives them: open or closed, either way round).
struct AreaPolygon {
    AreaRing outline;
    std::vector<AreaRing> holes;
};

constexpr double DEG_TO_RAD = 3.1415927 / 180;  // the tool's own pi, kept for identical output
constexpr double METRES_PER_DEGREE = 111120.0;  // of latitude, and of longitude at the equator

/// Degrees and the tool's metres, both ways: north of a latitude, east of a longitude at a
/// latitude's cosine. The projection of every vertex carries them with a 64-bit significand and
/// rounds where a value is stored, so that outputs match the tool's to the last bit; drawings
/// and distances take them in double.
template <typename Real>
Real cosineOfLatitude(double lat) {
    return std::cos(static_cast<Real>(DEG_TO_RAD) * lat);
}
template <typename Real>
Real metresNorth(double lat, double fromLat) {
    return (static_cast<Real>(lat) - fromLat) * METRES_PER_DEGREE;
}
template <typename Real>
Real latitudeNorthOf(double fromLat, Real north) {
    return fromLat + north / METRES_PER_DEGREE;
}
template <typename Real>
Real metresEast(double lon, double fromLon, Real cosine) {
    return (static_cast<Real>(lon) - fromLon) * cosine * METRES_PER_DEGREE;
}
inline long double longitudeEastOf(double fromLon, long double east, long double cosine) {
    return fromLon + east / (cosine * METRES_PER_DEGREE);
}

/// A millimetre: places closer are one point, a place this near a segment lies on it. (The
/// area's and the fit's centimetre tolerances are their own.)
constexpr double POINT_TOLERANCE_METRES = 0.001;

/// Metres between two places, east scaled by the cosine of the first's latitude.
inline double metresBetween(const AreaPoint& a, const AreaPoint& b) {
    const double cosine = cosineOfLatitude<double>(a.lat);
    return std::hypot((a.lon - b.lon) * cosine * METRES_PER_DEGREE,
                      (a.lat - b.lat) * METRES_PER_DEGREE);
}

/// From a place to the nearest point of the segment from a to b, in metres around the place
/// (east scaled by the cosine of its latitude), and where along the segment the nearest point of
/// its line lies: 0 at a, 1 at b, beyond them outside.
struct SegmentOffset {
    double east = 0, north = 0, along = 0;
    double squared() const { return east * east + north * north; }
    double metres() const { return std::hypot(east, north); }
};
inline SegmentOffset offsetToSegment(const AreaPoint& p, const AreaPoint& a, const AreaPoint& b) {
    const double east = cosineOfLatitude<double>(p.lat) * METRES_PER_DEGREE;
    const double ax = (a.lon - p.lon) * east, ay = (a.lat - p.lat) * METRES_PER_DEGREE;
    const double dx = (b.lon - p.lon) * east - ax, dy = (b.lat - p.lat) * METRES_PER_DEGREE - ay;
    const double length = dx * dx + dy * dy;
    const double along = length > 0 ? -(ax * dx + ay * dy) / length : 0;
    const double s = std::clamp(along, 0.0, 1.0);
    return {ax + s * dx, ay + s * dy, along};
}
inline double metresToSegment(const AreaPoint& p, const AreaPoint& a, const AreaPoint& b) {
    return offsetToSegment(p, a, b).metres();
}
/// Whether a place lies on the segment, within the tolerance.
inline bool isOnSegment(const AreaPoint& p, const AreaPoint& a, const AreaPoint& b,
                        double tolerance = POINT_TOLERANCE_METRES) {
    return metresToSegment(p, a, b) <= tolerance;
}

/// A polygon's corners in one list, outline then holes, and where each hole starts in it: the
/// form a triangulation takes.
inline void flattenPolygon(const AreaPolygon& polygon, std::vector<AreaPoint>& places,
                           std::vector<uint32_t>& holeStarts) {
    places.assign(polygon.outline.begin(), polygon.outline.end());
    holeStarts.clear();
    for (const AreaRing& hole : polygon.holes) {
        holeStarts.push_back(uint32_t(places.size()));
        places.insert(places.end(), hole.begin(), hole.end());
    }
}

}  // namespace mc
