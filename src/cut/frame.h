// How a cut is seen by the files both directions read: degrees as the tool's metres, the
// Wavefront file's metres around the origin, the up-facing winding of its faces, and the stored
// vertices that share a position.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "cut/chunked_array.h"
#include "cut/stored_vertex.h"

namespace mc {

constexpr double METRES_PER_UNIT = SCALE_DIVISOR;
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

constexpr double NO_ORIGIN_Y = -2000000.0;
/// The highest vertex (first of equals), or none: y then stays at NO_ORIGIN_Y.
struct OriginVertex {
    double x = 0, y = NO_ORIGIN_Y, z = 0;
    int64_t index = -1;
};

/// A position in metres relative to the origin, X east, Y up, Z south, before the file's
/// rounding: the object's units times 100, each difference carried with a 64-bit significand.
struct Metres {
    double x, y, z;
};
Metres metresOf(const StoredVertex& vertex, const OriginVertex& origin);

/// Twice the area of the triangle seen from above, positive when it is wound counter-clockwise,
/// so that it faces up (+Y): the Y part of (second - first) x (third - first).
double upwardTurn(const StoredVertex& first, const StoredVertex& second, const StoredVertex& third);

/// The stored vertices welded by position: per stored vertex, the number (from 0) of its
/// position in order of first appearance; `distinct` is how many positions there are.
std::vector<uint32_t> weldPositions(const ChunkedArray<StoredVertex>& vertices, uint32_t& distinct);

}  // namespace mc
