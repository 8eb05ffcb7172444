// A stored vertex of the mesh, and where its line is in the temporary file (packed with where a
// flagged elevation field starts in that line).
#pragma once

#include <cstdint>

namespace mc {

constexpr double SCALE_DIVISOR = 100.0;

/// A vertex in the object's frame (x and z in units of 100 m), its elevation in metres (the
/// raster's height for a flagged vertex), and where its line starts in the temporary file: the
/// line itself is read back from there when the object is written.
struct StoredVertex {
    double x, elevation, z;
    uint64_t source;  // see sourceOffset and flaggedField
};

constexpr int SOURCE_OFFSET_BITS = 48;
/// A flagged vertex whose elevation field starts too far into its line to be noted.
constexpr uint32_t FLAGGED_FIELD_UNNOTED = 0xFFFF;

inline uint64_t packSource(uint64_t lineOffset, uint32_t flaggedField) {
    return lineOffset | uint64_t(flaggedField) << SOURCE_OFFSET_BITS;
}
/// Where the vertex's line starts in the temporary file.
inline uint64_t sourceOffset(const StoredVertex& vertex) {
    return vertex.source & ((uint64_t(1) << SOURCE_OFFSET_BITS) - 1);
}
/// For a vertex that took its height from the raster, where the elevation field starts in its
/// line (or FLAGGED_FIELD_UNNOTED); 0 for every other vertex.
inline uint32_t flaggedField(const StoredVertex& vertex) {
    return uint32_t(vertex.source >> SOURCE_OFFSET_BITS);
}

/// The vertex's Y in the object's frame (units of 100 m), carried with a 64-bit significand.
inline double objectY(const StoredVertex& vertex) {
    return double(static_cast<long double>(vertex.elevation) / SCALE_DIVISOR);
}

}  // namespace mc
