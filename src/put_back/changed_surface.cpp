// The changed terrain's heights, for the overlays over it: its triangles by cell of a grid.
#include <algorithm>
#include <cmath>

#include "put_back/new_points.h"

namespace mc {

namespace {

// A changed triangle's corners, and their heights as the new tile holds them.
void changedCorners(const ChangedSurface& surface, uint32_t triangle, Metres (&corners)[3],
                    double (&heights)[3]) {
    const Cut& cut = *surface.cut;
    const NewPoints& planned = *surface.planned;
    const FittedTriangle& t = surface.fitted->triangles[triangle];
    for (int k = 0; k < 3; ++k) {
        const FitCorner& corner = t.corners[k];
        corners[k] = cornerMetres(cut, *surface.fitted, corner);
        if (corner.original) {
            heights[k] = cut.mesh.vertices[corner.index].elevation;
        } else {
            const PlannedPool& pool = planned.pools[planned.pool[corner.index]];
            heights[k] = decoded(planned.raws[planned.firstRaw[corner.index] + 2], pool.scales[2],
                                 pool.offsets[2]);
        }
    }
}

// The cells a triangle's bounding box touches, as column and row ranges.
struct CellRange {
    int64_t x0, x1, z0, z1;
};

CellRange cellsOf(const ChangedSurface& s, const Metres (&c)[3]) {
    auto index = [&](double value, double low, int64_t count) {
        return std::clamp<int64_t>(int64_t(std::floor((value - low) / s.cell)), 0, count - 1);
    };
    return {index(std::min({c[0].x, c[1].x, c[2].x}), s.west, s.columns),
            index(std::max({c[0].x, c[1].x, c[2].x}), s.west, s.columns),
            index(std::min({c[0].z, c[1].z, c[2].z}), s.north, s.rows),
            index(std::max({c[0].z, c[1].z, c[2].z}), s.north, s.rows)};
}

// Every changed triangle under each cell its bounding box touches; cells about two triangles
// wide, so that a triangle touches about three.
void gridChangedTriangles(ChangedSurface& s) {
    const std::vector<FittedTriangle>& triangles = s.fitted->triangles;
    double west = INFINITY, east = -INFINITY, north = INFINITY, south = -INFINITY, area = 0;
    size_t count = 0;
    Metres c[3];
    double heights[3];
    for (uint32_t t = 0; t < triangles.size(); ++t) {
        if (!triangles[t].changed) continue;
        changedCorners(s, t, c, heights);
        for (const Metres& m : c) {
            west = std::min(west, m.x), east = std::max(east, m.x);
            north = std::min(north, m.z), south = std::max(south, m.z);
        }
        area += std::fabs((c[1].z - c[0].z) * (c[2].x - c[0].x) -
                          (c[1].x - c[0].x) * (c[2].z - c[0].z)) /
                2;
        ++count;
    }
    if (count == 0) return;
    s.cell = std::max(1.0, std::sqrt(area / double(count) * CELLS_PER_TRIANGLE) * 2);
    s.west = west, s.north = north;
    s.columns = int64_t((east - west) / s.cell) + 1, s.rows = int64_t((south - north) / s.cell) + 1;
    s.cellStart.assign(size_t(s.columns * s.rows) + 1, 0);
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t t = 0; t < triangles.size(); ++t) {
            if (!triangles[t].changed) continue;
            changedCorners(s, t, c, heights);
            CellRange r = cellsOf(s, c);
            for (int64_t z = r.z0; z <= r.z1; ++z) {
                for (int64_t x = r.x0; x <= r.x1; ++x) {
                    size_t cell = size_t(z * s.columns + x);
                    if (pass == 0) {
                        ++s.cellStart[cell + 1];
                    } else {
                        s.inCell[s.cellStart[cell]++] = t;
                    }
                }
            }
        }
        if (pass == 0) {
            for (size_t k = 0; k + 1 < s.cellStart.size(); ++k) {
                s.cellStart[k + 1] += s.cellStart[k];
            }
            s.inCell.resize(s.cellStart.back());
        }
    }
    // the fill moved each start to its cell's end: shift them back
    std::copy_backward(s.cellStart.begin(), s.cellStart.end() - 1, s.cellStart.end());
    s.cellStart[0] = 0;
}

}  // namespace

ChangedSurface changedSurfaceOf(const Cut& cut, const FittedCut& fitted, const NewPoints& planned) {
    ChangedSurface surface;
    surface.cut = &cut, surface.fitted = &fitted, surface.planned = &planned;
    gridChangedTriangles(surface);
    return surface;
}

bool changedHeightAt(const ChangedSurface& surface, double x, double z, double& height) {
    if (surface.columns == 0) return false;
    int64_t column = int64_t(std::floor((x - surface.west) / surface.cell));
    int64_t row = int64_t(std::floor((z - surface.north) / surface.cell));
    if (column < 0 || column >= surface.columns || row < 0 || row >= surface.rows) return false;
    size_t cell = size_t(row * surface.columns + column);
    for (uint32_t k = surface.cellStart[cell]; k < surface.cellStart[cell + 1]; ++k) {
        Metres corners[3];
        double heights[3], w[3];
        changedCorners(surface, surface.inCell[k], corners, heights);
        if (!weightsIn(corners, x, z, w)) continue;
        height = w[0] * heights[0] + w[1] * heights[1] + w[2] * heights[2];
        return true;
    }
    return false;
}

}  // namespace mc
