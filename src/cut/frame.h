// How a cut is seen by the files both directions read: degrees as the tool's metres, the
// Wavefront file's metres around the origin, the up-facing winding of its faces, and the stored
// vertices that share a position.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "cut/chunked_array.h"
#include "cut/stored_vertex.h"
#include "geo/places.h"

namespace mc {

constexpr double METRES_PER_UNIT = SCALE_DIVISOR;

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
