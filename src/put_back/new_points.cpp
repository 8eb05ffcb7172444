// The new points' values quantised into new pools: position, normals, texture values, planes.
#include "put_back/new_points.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "geo/triangulation.h"
#include "text/fields.h"
#include "text/numbers.h"

namespace mc {

namespace {

constexpr uint32_t POOL_POINTS = 65535;
constexpr double ZERO_NORMAL = 1e-4;  // a stored 0 prints as -0.000015259

// The values of a kept line after its keyword, as many as asked (missing ones read 0); false
// when the kept lines cannot be read.
bool lineValues(const Cut& cut, uint32_t stored, std::vector<double>& values, size_t count) {
    std::string_view line;
    if (!keptLine(cut.lines, sourceOffset(cut.mesh.vertices[stored]), line)) return false;
    values.assign(count, 0);
    SplitText field = splitFirstField(line);
    for (size_t k = 0; k < count && !field.rest.empty(); ++k) {
        field = splitFirstField(field.rest);
        values[k] = parseNumber(field.first);
    }
    return true;
}

struct PatchCount {
    uint32_t flags, depth;
    size_t triangles;
};

}  // namespace

uint16_t quantise(double value, float scale, float offset) {
    if (scale == 0) return uint16_t(std::clamp(std::nearbyint(value), 0.0, 65535.0));
    double raw = std::nearbyint((value - double(offset)) * 65535.0 / double(scale));
    return uint16_t(std::clamp(raw, 0.0, 65535.0));
}

double decoded(uint16_t raw, float scale, float offset) {
    constexpr double RECIPROCAL = 1.0 / 65535.0;
    if (scale == 0) return double(raw);
    return ((double(raw) * double(scale)) * RECIPROCAL) + double(offset);
}

float elevationBase(double elevation) {
    return float(LOWEST_ELEVATION +
                 ELEVATION_BAND * std::floor((elevation - LOWEST_ELEVATION) / ELEVATION_BAND));
}

double quantisedElevation(double elevation) {
    float base = elevationBase(elevation);
    return decoded(quantise(elevation, ELEVATION_SPAN, base), ELEVATION_SPAN, base);
}

Status choosePatches(const Cut& cut, const FittedCut& fitted,
                     const std::vector<Material>& materials,
                     std::map<uint32_t, NewPatch>& patches) {
    std::map<uint32_t, std::vector<PatchCount>> counts;
    const MeshBuffers& mesh = cut.mesh;
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        const BlockPatch& patch = mesh.runs[r].patch;
        size_t triangles = (runIndexEnd(mesh, r) - mesh.runs[r].firstIndex) / 3;
        if ((patch.flags & OVERLAY_PATCH_FLAG) || triangles == 0) continue;
        std::vector<PatchCount>& known = counts[patch.definition];
        auto same = std::find_if(known.begin(), known.end(), [&](const PatchCount& c) {
            return c.flags == patch.flags && c.depth == patch.depth;
        });
        if (same == known.end()) same = known.insert(known.end(), {patch.flags, patch.depth, 0});
        same->triangles += triangles;
    }
    for (const FittedTriangle& t : fitted.triangles) {
        if (patches.count(t.definition)) continue;
        const std::vector<PatchCount>& known = counts[t.definition];
        if (known.empty()) {
            return failedWith(Failure::editMisfits,
                              "faces take the material '" +
                                  materialOf(materials, t.definition).name +
                                  "', which only overlays have in the cut: there is no base "
                                  "patch of it to put them into");
        }
        auto most = std::max_element(known.begin(), known.end(), [](auto& a, auto& b) {
            return a.triangles < b.triangles;  // the first of equals stays
        });
        NewPatch patch{t.definition, most->flags, most->depth, false, false, Mapping::none};
        patch.mapping = mappingOf(materialOf(materials, t.definition),
                                  {t.definition, patch.flags, patch.depth});
        patches[t.definition] = patch;
    }
    return {};
}

namespace {

// Whether the points of a definition's removed triangles carry normals of 0 0.
bool carriesZeroNormals(const Cut& cut, const FittedCut& fitted, uint32_t definition, bool& zero) {
    std::vector<double> values;
    zero = true;
    for (const RemovedTriangle& t : fitted.removed) {
        if (t.definition != definition) continue;
        for (uint32_t stored : t.corners) {
            if (!lineValues(cut, stored, values, 5)) return false;
            if (std::fabs(values[3]) > ZERO_NORMAL || std::fabs(values[4]) > ZERO_NORMAL) {
                return zero = false, true;
            }
        }
    }
    return true;
}

// Removed triangles by cell, to find the one under a point.
struct TriangleGrid {
    double cell = 1;
    std::vector<std::pair<uint64_t, uint32_t>> cells;  // (cell, triangle), sorted
};

uint64_t gridCell(const TriangleGrid& grid, double x, double z) {
    return uint64_t(uint32_t(int32_t(std::floor(x / grid.cell)))) << 32 |
           uint32_t(int32_t(std::floor(z / grid.cell)));
}

// Files each triangle under every cell its bounding box touches; cells about a triangle wide.
template <typename CornersOf>
TriangleGrid gridOf(size_t count, CornersOf cornersOf) {
    TriangleGrid grid;
    double area = 0;
    for (size_t t = 0; t < count; ++t) {
        auto c = cornersOf(t);
        area += std::fabs((c[1].z - c[0].z) * (c[2].x - c[0].x) -
                          (c[1].x - c[0].x) * (c[2].z - c[0].z)) /
                2;
    }
    grid.cell =
        std::max(1.0, std::sqrt(area / std::max<size_t>(count, 1) * CELLS_PER_TRIANGLE) * 2);
    for (size_t t = 0; t < count; ++t) {
        auto c = cornersOf(t);
        double x0 = std::min({c[0].x, c[1].x, c[2].x}), x1 = std::max({c[0].x, c[1].x, c[2].x});
        double z0 = std::min({c[0].z, c[1].z, c[2].z}), z1 = std::max({c[0].z, c[1].z, c[2].z});
        for (double x = std::floor(x0 / grid.cell); x <= std::floor(x1 / grid.cell); ++x) {
            for (double z = std::floor(z0 / grid.cell); z <= std::floor(z1 / grid.cell); ++z) {
                grid.cells.push_back(
                    {uint64_t(uint32_t(int32_t(x))) << 32 | uint32_t(int32_t(z)), uint32_t(t)});
            }
        }
    }
    std::sort(grid.cells.begin(), grid.cells.end());
    return grid;
}

struct Planning {
    const Cut& cut;
    const FittedCut& fitted;
    const EditedCut& edited;
    const std::map<uint32_t, NewPatch>& patches;
    std::vector<double> values = {};        // every point's, depth a point
    std::vector<uint32_t> firstValue = {};  // per point
    TriangleGrid removedGrid = {};
    bool gridMade = false;
};

// Planes 5 on, from the removed triangle under the point (of its definition when there is one).
bool interpolateExtras(Planning& p, uint32_t point, size_t from, uint32_t depth) {
    const FittedCut& fitted = p.fitted;
    if (!p.gridMade) {
        p.removedGrid = gridOf(fitted.removed.size(), [&](size_t t) {
            const RemovedTriangle& r = fitted.removed[t];
            return std::array<Metres, 3>{metresOf(p.cut.mesh.vertices[r.corners[0]], p.cut.origin),
                                         metresOf(p.cut.mesh.vertices[r.corners[1]], p.cut.origin),
                                         metresOf(p.cut.mesh.vertices[r.corners[2]], p.cut.origin)};
        });
        p.gridMade = true;
    }
    const NewPointPlace& place = fitted.points[point];
    uint64_t cell = gridCell(p.removedGrid, place.at.x, place.at.z);
    auto at = std::lower_bound(p.removedGrid.cells.begin(), p.removedGrid.cells.end(),
                               std::make_pair(cell, 0u));
    int64_t best = -1;
    double weights[3] = {1, 0, 0};
    for (; at != p.removedGrid.cells.end() && at->first == cell; ++at) {
        const RemovedTriangle& r = fitted.removed[at->second];
        Metres c[3];
        for (int k = 0; k < 3; ++k)
            c[k] = metresOf(p.cut.mesh.vertices[r.corners[k]], p.cut.origin);
        double w[3];
        if (!weightsIn(c, place.at.x, place.at.z, w)) continue;
        if (best < 0 || r.definition == place.definition) {
            best = at->second, std::copy(w, w + 3, weights);
        }
        if (r.definition == place.definition) break;
    }
    if (best < 0) return true;  // outside every removed triangle: the planes stay 0
    std::vector<double> corner;
    for (int k = 0; k < 3; ++k) {
        if (!lineValues(p.cut, fitted.removed[size_t(best)].corners[k], corner, depth)) {
            return false;
        }
        for (size_t plane = from; plane < depth; ++plane) {
            p.values[p.firstValue[point] + plane] += weights[k] * corner[plane];
        }
    }
    return true;
}

// Normals of the new surface at each new point: the area-weighted sum of its faces' normals, as
// the east and south parts of the unit normal.
void setNormals(Planning& p) {
    std::vector<std::array<double, 3>> sums(p.fitted.points.size(), {0, 0, 0});
    for (const FittedTriangle& t : p.fitted.triangles) {
        Metres c[3];
        for (int k = 0; k < 3; ++k) c[k] = cornerMetres(p.cut, p.fitted, t.corners[k]);
        // east, north and up parts of (b - a) x (c - a): as long as twice the face's area
        double e1 = c[1].x - c[0].x, n1 = c[0].z - c[1].z, h1 = c[1].y - c[0].y;
        double e2 = c[2].x - c[0].x, n2 = c[0].z - c[2].z, h2 = c[2].y - c[0].y;
        std::array<double, 3> normal{n1 * h2 - h1 * n2, h1 * e2 - e1 * h2, e1 * n2 - n1 * e2};
        for (const FitCorner& corner : t.corners) {
            if (corner.original || p.fitted.points[corner.index].onOutline) continue;
            for (int k = 0; k < 3; ++k) sums[corner.index][k] += normal[k];
        }
    }
    for (size_t point = 0; point < sums.size(); ++point) {
        const NewPatch& patch = p.patches.at(p.fitted.points[point].definition);
        double length = std::hypot(sums[point][0], sums[point][1], sums[point][2]);
        if (patch.depth < 5 || patch.zeroNormals || length == 0) continue;
        p.values[p.firstValue[point] + 3] = sums[point][0] / length;
        p.values[p.firstValue[point] + 4] = -sums[point][1] / length;
    }
}

// Longitude, latitude and elevation: where the file puts the point (elevation the origin's plus
// its Y), or exactly the original position it sits on.
bool setPosition(Planning& p, uint32_t point) {
    const NewPointPlace& place = p.fitted.points[point];
    double* v = &p.values[p.firstValue[point]];
    if (place.onOriginal != NO_ORIGINAL) {
        std::vector<double> original;
        if (!lineValues(p.cut, place.onOriginal, original, 2)) return false;
        v[0] = original[0], v[1] = original[1];
        v[2] = p.cut.mesh.vertices[size_t(place.onOriginal)].elevation;
        return true;
    }
    degreesOf(p.cut, place.at, v[0], v[1]);
    double originElevation = p.cut.mesh.vertices[size_t(p.cut.origin.index)].elevation;
    v[2] = double(static_cast<long double>(originElevation) + place.at.y);
    return true;
}

// The sixth and seventh values from the face's texture coordinate where the carve wrote them
// from those values, the others from the removed triangle under the point.
bool setExtras(Planning& p, uint32_t point, uint32_t depth) {
    const NewPointPlace& place = p.fitted.points[point];
    const NewPatch& patch = p.patches.at(place.definition);
    size_t from = 5;
    if (patch.mapping == Mapping::vertexValues && place.texture >= 0 && depth >= 7) {
        p.values[p.firstValue[point] + 5] = p.edited.textures[2 * size_t(place.texture)];
        p.values[p.firstValue[point] + 6] = p.edited.textures[2 * size_t(place.texture) + 1];
        from = 7;
    }
    return from >= depth || interpolateExtras(p, point, from, depth);
}

// A point on the outline keeps every value of its line: all but its place.
bool setOutlineValues(Planning& p, uint32_t point, uint32_t depth) {
    std::vector<double> line;
    if (!lineValues(p.cut, p.fitted.points[point].onOriginal, line, depth)) return false;
    std::copy(line.begin() + 3, line.end(), p.values.begin() + p.firstValue[point] + 3);
    return true;
}

// Points go into pools by depth, normals, bucket and band, at most 65,535 a pool. Points on the
// outline go into fine pools (steps of 2^-11 / 65535 degree, under 1e-8, and of 1 mm), so that
// they stay on the outline and the pieces on both sides on the tile's surface.
constexpr float FINE_BUCKET = 1.0f / 2048;
// a flattening's points: steps of 2^-8 / 65535 degree (under 7 mm) and 1 mm, pools ~400 m wide
constexpr float PRECISE_BUCKET = 1.0f / 256;
constexpr float FINE_ELEVATION_SPAN = 65.535f;
constexpr double FINE_BAND = 64;
enum class Grain : uint8_t { coarse, precise, fine };
struct PoolKey {
    uint32_t depth;
    bool zeroNormals;
    Grain grain;
    int32_t lonBucket, latBucket;
    float band;
    auto operator<=>(const PoolKey&) const = default;
};

void planPool(PlannedPool& pool, const PoolKey& key, const Planning& p) {
    pool.depth = key.depth;
    pool.scales.assign(key.depth, 1.0f);
    pool.offsets.assign(key.depth, 0.0f);
    const bool fine = key.grain != Grain::coarse;
    const float bucket = key.grain == Grain::fine      ? FINE_BUCKET
                         : key.grain == Grain::precise ? PRECISE_BUCKET
                                                       : DEGREE_BUCKET;
    const float planes[5][2] = {{bucket, float(key.lonBucket) * bucket},
                                {bucket, float(key.latBucket) * bucket},
                                {fine ? FINE_ELEVATION_SPAN : ELEVATION_SPAN, key.band},
                                {key.zeroNormals ? 0.0f : 2.0f, key.zeroNormals ? 0.0f : -1.0f},
                                {key.zeroNormals ? 0.0f : 2.0f, key.zeroNormals ? 0.0f : -1.0f}};
    for (uint32_t plane = 0; plane < std::min(key.depth, 5u); ++plane) {
        pool.scales[plane] = planes[plane][0], pool.offsets[plane] = planes[plane][1];
    }
    // further planes: whole-number bounds around the pool's values, at least one unit apart
    for (uint32_t plane = 5; plane < key.depth; ++plane) {
        double low = INFINITY, high = -INFINITY;
        for (uint32_t point : pool.points) {
            low = std::min(low, p.values[p.firstValue[point] + plane]);
            high = std::max(high, p.values[p.firstValue[point] + plane]);
        }
        pool.offsets[plane] = float(std::floor(low));
        pool.scales[plane] = float(std::max(1.0, std::ceil(high) - std::floor(low)));
    }
}

void quantiseIntoPools(const Planning& p, NewPoints& planned) {
    std::map<PoolKey, std::vector<uint32_t>> byKey;
    for (uint32_t point = 0; point < p.fitted.points.size(); ++point) {
        const NewPatch& patch = p.patches.at(p.fitted.points[point].definition);
        const double* v = &p.values[p.firstValue[point]];
        const NewPointPlace& place = p.fitted.points[point];
        const Grain grain = place.onOutline ? Grain::fine
                            : place.precise ? Grain::precise
                                            : Grain::coarse;
        const bool fine = grain != Grain::coarse;
        const double buckets = grain == Grain::fine      ? 1 / double(FINE_BUCKET)
                               : grain == Grain::precise ? 1 / double(PRECISE_BUCKET)
                                                         : 1 / double(DEGREE_BUCKET);
        PoolKey key{patch.depth,
                    patch.zeroNormals,
                    grain,
                    int32_t(std::floor(v[0] * buckets)),
                    int32_t(std::floor(v[1] * buckets)),
                    fine ? float(FINE_BAND * std::floor(v[2] / FINE_BAND)) : elevationBase(v[2])};
        byKey[key].push_back(point);
    }
    size_t count = p.fitted.points.size();
    planned.depth.assign(count, 0), planned.firstRaw.assign(count, 0);
    planned.pool.assign(count, 0), planned.indexInPool.assign(count, 0);
    for (const auto& [key, points] : byKey) {
        for (size_t start = 0; start < points.size(); start += POOL_POINTS) {
            PlannedPool pool;
            pool.points.assign(points.begin() + long(start),
                               points.begin() + long(std::min(points.size(), start + POOL_POINTS)));
            planPool(pool, key, p);
            for (uint32_t k = 0; k < pool.points.size(); ++k) {
                uint32_t point = pool.points[k];
                planned.depth[point] = key.depth;
                planned.firstRaw[point] = uint32_t(planned.raws.size());
                planned.pool[point] = uint32_t(planned.pools.size());
                planned.indexInPool[point] = k;
                for (uint32_t plane = 0; plane < key.depth; ++plane) {
                    planned.raws.push_back(quantise(p.values[p.firstValue[point] + plane],
                                                    pool.scales[plane], pool.offsets[plane]));
                }
            }
            planned.pools.push_back(std::move(pool));
        }
    }
}

}  // namespace

Status planNewPoints(const Cut& cut, const FittedCut& fitted, const EditedCut& edited,
                     std::map<uint32_t, NewPatch>& patches, NewPoints& planned) {
    Planning p{cut, fitted, edited, patches};
    for (const NewPointPlace& place : fitted.points) {
        NewPatch& patch = patches.at(place.definition);
        if (!patch.zeroNormalsKnown) {
            if (!carriesZeroNormals(cut, fitted, place.definition, patch.zeroNormals)) {
                return keptLinesFailure(cut);
            }
            patch.zeroNormalsKnown = true;
        }
    }
    for (uint32_t point = 0; point < fitted.points.size(); ++point) {
        uint32_t depth = std::max(3u, patches.at(fitted.points[point].definition).depth);
        p.firstValue.push_back(uint32_t(p.values.size()));
        p.values.resize(p.values.size() + depth, 0.0);
        bool set = setPosition(p, point) &&
                   (fitted.points[point].onOutline ? setOutlineValues(p, point, depth)
                                                   : setExtras(p, point, depth));
        if (!set) return keptLinesFailure(cut);
    }
    setNormals(p);
    quantiseIntoPools(p, planned);
    return {};
}

}  // namespace mc
