// The flattening's ground as one mesh: points welded by place, split along the outline.
#include "flatten/ground_mesh.h"

#include <algorithm>
#include <cmath>

#include "area/clipped_parts.h"
#include "geo/edge_points.h"
#include "geo/triangulation.h"
#include "text/fields.h"
#include "text/numbers.h"

namespace mc {

namespace {

// A point of the ground at a place; a place `within` one met before is that point (a
// millimetre: two triangles' crossings of the outline at one place differ in their last bits,
// two patches' vertices at one place by their pools' steps).
uint32_t pointAt(Ground& g, const AreaPoint& place, const Metres& at, double height,
                 double within = POINT_TOLERANCE_METRES) {
    const int64_t column = int64_t(std::floor(place.lon / CELL_DEGREES));
    const int64_t row = int64_t(std::floor(place.lat / CELL_DEGREES));
    for (int64_t c = column - 1; c <= column + 1; ++c) {
        for (int64_t r = row - 1; r <= row + 1; ++r) {
            auto [first, last] = g.byCell.equal_range({c, r});
            for (auto it = first; it != last; ++it) {
                if (metresBetween(place, g.places[it->second]) <= within) {
                    return it->second;
                }
            }
        }
    }
    g.byCell.insert({{column, row}, uint32_t(g.points.size())});
    g.points.push_back({at.x, -at.z, height});
    g.places.push_back(place);
    g.at.push_back(at);
    return uint32_t(g.points.size() - 1);
}

void addTriangle(Ground& g, uint32_t a, uint32_t b, uint32_t c, uint32_t definition) {
    const GroundPoint &p = g.points[a], &q = g.points[b], &r = g.points[c];
    double turn = (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
    if (turn == 0 || a == b || b == c || a == c) return;
    if (turn < 0) std::swap(b, c);
    g.triangles.insert(g.triangles.end(), {a, b, c});
    g.definitions.push_back(definition);
}

// A new point at a place inside triangle t: the ground and the photo values over it.
uint32_t pointInside(Ground& g, const Cut& cut, const uint32_t (&t)[3], uint32_t definition,
                     const AreaPoint& place) {
    PlanePoint corners[3];
    for (int k = 0; k < 3; ++k) corners[k] = {g.places[t[k]].lon, g.places[t[k]].lat};
    double w[3] = {1, 0, 0};
    weightsInTriangle(corners, {place.lon, place.lat}, w);
    double height = 0;
    for (int k = 0; k < 3; ++k) height += w[k] * g.points[t[k]].height;
    // a crossing of an edge is made once: the triangle beside it finds it on the edge (where
    // the outline runs nearly along the edge, the two triangles' crossings lie millimetres apart)
    for (int k = 0; k < 3; ++k) {
        if (!(std::fabs(w[k]) < 1e-9)) continue;
        auto [first, last] = g.onEdges.equal_range(std::minmax(t[(k + 1) % 3], t[(k + 2) % 3]));
        for (auto it = first; it != last; ++it) {
            if (metresBetween(place, g.places[it->second]) <= SAME_PLACE_METRES) return it->second;
        }
    }
    Metres at =
        metresOf(projectPosition(cut.window, {place.lon, place.lat, height}, 0), cut.origin);
    size_t before = g.points.size();
    uint32_t point = pointAt(g, place, at, height);
    for (int k = 0; k < 3; ++k) {  // on the edge facing corner k: its neighbour must have it too
        if (std::fabs(w[k]) < 1e-9) {
            g.onEdges.insert({std::minmax(t[(k + 1) % 3], t[(k + 2) % 3]), point});
        }
    }
    if (g.points.size() > before) {
        std::array<double, 2> uv = {0, 0};
        bool all = true;
        for (int k = 0; k < 3 && all; ++k) {
            auto found = g.photo.find({t[k], definition});
            all = found != g.photo.end();
            if (all) uv[0] += w[k] * found->second[0], uv[1] += w[k] * found->second[1];
        }
        if (all) g.photo[{point, definition}] = uv;
    }
    return point;
}

// A corner of a part: the triangle's nearest own within a millimetre (as a point of the outline
// would be one with it; two corners may lie a fraction of a millimetre apart), else a point of
// the outline.
uint32_t nearCornerOf(Ground& g, const uint32_t (&t)[3], const AreaPoint& place, const Cut& cut,
                      uint32_t definition) {
    uint32_t nearest = t[0];
    for (uint32_t corner : t) {
        if (metresBetween(place, g.places[corner]) < metresBetween(place, g.places[nearest])) {
            nearest = corner;
        }
    }
    if (metresBetween(place, g.places[nearest]) <= POINT_TOLERANCE_METRES) return nearest;
    return pointInside(g, cut, t, definition, place);
}

}  // namespace

// The clipped pieces (terrain, not overlays), their stored vertices welded by place.
bool collectPieces(const Cut& cut, const OutlinePieces& pieces,
                   const std::vector<Material>& materials, double clipWeld, Ground& g) {
    const MeshBuffers& mesh = pieces.pieces;
    std::vector<double> values;
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        const BlockPatch& patch = mesh.runs[r].patch;
        if (patch.flags & OVERLAY_PATCH_FLAG) continue;
        bool photo =
            mappingOf(materialOf(materials, patch.definition), patch) == Mapping::vertexValues;
        for (size_t i = mesh.runs[r].firstIndex; i + 3 <= runIndexEnd(mesh, r); i += 3) {
            uint32_t corners[3];
            for (int k = 0; k < 3; ++k) {
                const size_t number = size_t(mesh.indices[i + k]);
                const StoredVertex& v = cut.mesh.vertices[number];
                std::string_view line;
                if (!keptLine(cut.lines, sourceOffset(v), line)) return false;
                SplitText fields = splitFirstField(line);
                VertexPosition p = readVertexPosition(fields.rest);
                const bool own = number < pieces.tileVertices;
                corners[k] = pointAt(g, {p.lon, p.lat}, metresOf(v, cut.origin), v.elevation,
                                     own ? POINT_TOLERANCE_METRES : clipWeld);
                g.tileOwn.resize(g.points.size());
                if (own) g.tileOwn[corners[k]] = 1;
                if (!photo) continue;
                values.clear();
                for (SplitText f = splitFirstField(fields.rest); !f.first.empty();
                     f = splitFirstField(f.rest)) {
                    values.push_back(parseNumber(f.first));
                }
                if (values.size() >= 7) {
                    g.photo[{corners[k], patch.definition}] = {values[5], values[6]};
                }
            }
            addTriangle(g, corners[0], corners[1], corners[2], patch.definition);
        }
    }
    return true;
}

// Every triangle the airport's outline crosses, split along it: the parts inside and outside,
// their corners on the outline shared with the neighbours' (one point a place).
void splitAlongOutline(Ground& g, const Cut& cut, const ClipRegion& outline) {
    std::vector<uint32_t> triangles = std::move(g.triangles),
                          definitions = std::move(g.definitions);
    g.triangles.clear(), g.definitions.clear();
    ClippedPart scratch;
    std::vector<uint32_t> numbers;
    for (size_t k = 0; k < definitions.size(); ++k) {
        const uint32_t t[3] = {triangles[3 * k], triangles[3 * k + 1], triangles[3 * k + 2]};
        AreaPoint corners[3] = {g.places[t[0]], g.places[t[1]], g.places[t[2]]};
        double west = std::min({corners[0].lon, corners[1].lon, corners[2].lon});
        double east = std::max({corners[0].lon, corners[1].lon, corners[2].lon});
        double south = std::min({corners[0].lat, corners[1].lat, corners[2].lat});
        double north = std::max({corners[0].lat, corners[1].lat, corners[2].lat});
        if (!outlineMayCross(outline, west, east, south, north)) {
            addTriangle(g, t[0], t[1], t[2], definitions[k]);
            continue;
        }
        auto addPart = [&](ClippedPart& part) {
            triangulateInDegrees(part);
            numbers.clear();
            for (const AreaPoint& p : part.places) {
                numbers.push_back(nearCornerOf(g, t, p, cut, definitions[k]));
            }
            const std::vector<uint32_t>& ears = part.triangles;
            for (size_t e = 0; e + 3 <= ears.size(); e += 3) {
                addTriangle(g, numbers[ears[e]], numbers[ears[e + 1]], numbers[ears[e + 2]],
                            definitions[k]);
            }
            return true;
        };
        forEachClippedPart(outline, corners, PartsOf::inside, scratch, addPart);
        forEachClippedPart(outline, corners, PartsOf::outside, scratch, addPart);
    }
}

// A triangle beside one the outline split, whose common edge got points in its middle: cut at
// those points too, so that no edge ends on another. With points on one edge only it is fanned
// from the corner facing that edge; with points on more, from a point at its middle (points along
// an edge are too nearly in line for ear clipping to cut them safely).
void splitAtEdgePoints(Ground& g, const Cut& cut) {
    if (g.onEdges.empty()) return;
    std::vector<uint32_t> triangles = std::move(g.triangles),
                          definitions = std::move(g.definitions);
    g.triangles.clear(), g.definitions.clear();
    std::vector<uint32_t> ring;
    std::vector<std::pair<double, uint32_t>> along;
    for (size_t k = 0; k < definitions.size(); ++k) {
        const uint32_t t[3] = {triangles[3 * k], triangles[3 * k + 1], triangles[3 * k + 2]};
        auto pointsOn = [&](int j, std::vector<std::pair<double, uint32_t>>& found) {
            uint32_t a = t[j], b = t[(j + 1) % 3];
            auto [first, last] = g.onEdges.equal_range(std::minmax(a, b));
            for (auto it = first; it != last; ++it) {
                if (it->second == a || it->second == b) continue;
                const GroundPoint &p = g.points[it->second], &o = g.points[a];
                found.push_back({std::hypot(p.x - o.x, p.y - o.y), it->second});
            }
        };
        int lastWithPoints = 0;
        const int edgesWithPoints = ringWithEdgePoints(t, pointsOn, along, ring, lastWithPoints);
        const uint32_t definition = definitions[k];
        if (edgesWithPoints == 0) {
            addTriangle(g, t[0], t[1], t[2], definition);
            continue;
        }
        uint32_t hub;
        if (edgesWithPoints == 1) {
            hub = t[(lastWithPoints + 2) % 3];
        } else {
            AreaPoint middle{(g.places[t[0]].lon + g.places[t[1]].lon + g.places[t[2]].lon) / 3,
                             (g.places[t[0]].lat + g.places[t[1]].lat + g.places[t[2]].lat) / 3};
            hub = pointInside(g, cut, t, definition, middle);
        }
        for (size_t j = 0; j < ring.size(); ++j) {
            uint32_t a = ring[j], b = ring[(j + 1) % ring.size()];
            if (a != hub && b != hub) addTriangle(g, hub, a, b, definition);
        }
    }
}

}  // namespace mc
