// The values of the points the tile does not have yet, quantised into new 16-bit pools: where the
// file puts them, their normals, their texture values, and the pools' scales.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "cut/cut.h"
#include "cut/materials.h"
#include "geo/triangulation.h"
#include "put_back/edited_file.h"
#include "put_back/fit.h"

namespace mc {

/// Longitude and latitude go in steps of 0.125 / 65535 degree from a bucket's edge, elevation in
/// steps of 1/128 m from a band's base: the pool's scale is 65535 / 128, so that every whole (and
/// every 1/128) metre decodes exactly, and a height the tile had stays as it was.
constexpr float DEGREE_BUCKET = 0.125f;
constexpr float ELEVATION_SPAN = 65535.0f / 128;
constexpr double ELEVATION_BAND = 500;
constexpr double LOWEST_ELEVATION = -1500;
/// Grids of triangles have about this many triangles a cell.
constexpr double CELLS_PER_TRIANGLE = 1;
/// An overlay vertex whose terrain moved less than this keeps its own height.
constexpr double HEIGHT_UNCHANGED = 0.005;

/// The patch the new triangles of a definition go into: the flags and depth that most of its
/// removed triangles have; normals of 0 0 when their points carry those, and where their sixth and
/// seventh values come from.
struct NewPatch {
    uint32_t definition = 0, flags = 0, depth = 0;
    bool zeroNormals = false;
    bool zeroNormalsKnown = false;  // looked at only for definitions that get new points
    Mapping mapping = Mapping::none;
};

/// A new 16-bit pool: its planes' scales and offsets and its points, in order.
struct PlannedPool {
    uint32_t depth = 0;
    std::vector<float> scales, offsets;
    std::vector<uint32_t> points;  // new point numbers
};

/// Every new point's raw values, in the pool it goes into.
struct NewPoints {
    std::vector<uint32_t> depth, firstRaw, pool, indexInPool;  // per point
    std::vector<uint16_t> raws;
    std::vector<PlannedPool> pools;
};

/// A raw value and the value it stands for, as a pool of the scale and offset decodes it.
uint16_t quantise(double value, float scale, float offset);
double decoded(uint16_t raw, float scale, float offset);

/// The patch each definition's new triangles go into, by definition. Fails (editMisfits) when
/// faces take a material only overlays have in the cut: there is no base patch to take.
Status choosePatches(const Cut& cut, const FittedCut& fitted,
                     const std::vector<Material>& materials, std::map<uint32_t, NewPatch>& patches);

/// The values of the fitted cut's new points (base terrain), each in its definition's patch
/// depth, quantised into pools. Fails (readTemp) when the kept lines cannot be read.
Status planNewPoints(const Cut& cut, const FittedCut& fitted, const EditedCut& edited,
                     std::map<uint32_t, NewPatch>& patches, NewPoints& planned);

/// The edited terrain where it differs from the cut's own triangles, to find its height at a
/// place: its changed triangles by cell of a grid over their extent (offsets into one array, so
/// that a whole tile's worth costs a few bytes a triangle).
struct ChangedSurface {
    const Cut* cut = nullptr;
    const FittedCut* fitted = nullptr;
    const NewPoints* planned = nullptr;
    double west = 0, north = 0, cell = 1;  // the grid, in the cut's metres
    int64_t columns = 0, rows = 0;
    std::vector<uint32_t> cellStart;  // per cell, and one past the last
    std::vector<uint32_t> inCell;     // fitted triangles, cell by cell
};
ChangedSurface changedSurfaceOf(const Cut& cut, const FittedCut& fitted, const NewPoints& planned);
/// The height at a place in the cut's metres; false where the terrain did not change.
bool changedHeightAt(const ChangedSurface& surface, double x, double z, double& height);

/// The base of the elevation band a value falls in: a new pool's elevation offset.
float elevationBase(double elevation);
/// An elevation as a new pool holds it: quantised in its band.
double quantisedElevation(double elevation);

// Barycentric weights of a point in a triangle seen from above; false when it lies outside.
inline bool weightsIn(const Metres (&c)[3], double x, double z, double (&w)[3],
                      bool clamp = false) {
    const PlanePoint t[3] = {{c[0].x, c[0].z}, {c[1].x, c[1].z}, {c[2].x, c[2].z}};
    if (!weightsInTriangle(t, {x, z}, w)) return false;
    constexpr double EDGE = -1e-9;
    if (clamp) {
        for (double& v : w) v = std::max(v, 0.0);
        double sum = w[0] + w[1] + w[2];
        for (double& v : w) v /= sum;
        return true;
    }
    return w[0] >= EDGE && w[1] >= EDGE && w[2] >= EDGE;
}

}  // namespace mc
