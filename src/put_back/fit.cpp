// Fitting the edited faces: each corner matched to an original point or made a new one, n-gons
// cut into triangles, each face taken as the cut's own triangle or as a changed one.
#include "put_back/fit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "geo/triangulation.h"
#include "put_back/fitting.h"
#include "text/fields.h"
#include "text/numbers.h"
#include "text/whole_numbers.h"

namespace mc {

bool isBase(const Originals& o, uint32_t position) {
    return o.storedStart[position + 1] > o.storedStart[position];
}

Metres positionMetres(const Cut& cut, const Originals& o, uint32_t position) {
    return metresOf(cut.mesh.vertices[o.stored[o.storedStart[position]].first], cut.origin);
}

void collectRemoved(const Cut& cut, const MeshBuffers& mesh,
                    std::vector<RemovedTriangle>& removed) {
    size_t count = 0;
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        bool overlay = mesh.runs[r].patch.flags & OVERLAY_PATCH_FLAG;
        if (!overlay) count += (runIndexEnd(mesh, r) - mesh.runs[r].firstIndex) / 3;
    }
    removed.clear();
    removed.reserve(count);
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        if (mesh.runs[r].patch.flags & OVERLAY_PATCH_FLAG) continue;
        for (size_t i = mesh.runs[r].firstIndex; i + 3 <= runIndexEnd(mesh, r); i += 3) {
            RemovedTriangle t{{uint32_t(mesh.indices[i]), uint32_t(mesh.indices[i + 1]),
                               uint32_t(mesh.indices[i + 2])},
                              mesh.runs[r].patch.definition,
                              false};
            const ChunkedArray<StoredVertex>& v = cut.mesh.vertices;
            if (upwardTurn(v[t.corners[0]], v[t.corners[1]], v[t.corners[2]]) < 0) {
                std::swap(t.corners[1], t.corners[2]);
                t.turned = true;
            }
            removed.push_back(t);
        }
    }
}

namespace {

// The base triangles' stored vertices, position by position, each once.
void groupStoredVertices(const Cut& cut, const FittedCut& fitted, Originals& o) {
    std::vector<uint8_t> seen(cut.mesh.vertices.count, 0);
    o.storedStart.assign(o.positions + 1, 0);
    for (const RemovedTriangle& t : fitted.removed) {
        for (uint32_t s : t.corners) {
            if (!seen[s]) seen[s] = 1, ++o.storedStart[o.welded[s] + 1];
        }
    }
    for (uint32_t p = 0; p < o.positions; ++p) o.storedStart[p + 1] += o.storedStart[p];
    std::vector<uint32_t> next(o.storedStart.begin(), o.storedStart.end() - 1);
    o.stored.resize(o.storedStart[o.positions]);
    std::fill(seen.begin(), seen.end(), 0);
    for (const RemovedTriangle& t : fitted.removed) {
        for (uint32_t s : t.corners) {
            if (!seen[s]) seen[s] = 1, o.stored[next[o.welded[s]]++] = {s, t.definition};
        }
    }
}

// A grid of about two base positions a cell over their extent, as offsets into one array.
void gridBasePositions(const Cut& cut, Originals& o) {
    double west = INFINITY, east = -INFINITY, north = INFINITY, south = -INFINITY;
    uint32_t count = 0;
    for (uint32_t p = 0; p < o.positions; ++p) {
        if (!isBase(o, p)) continue;
        Metres m = positionMetres(cut, o, p);
        west = std::min(west, m.x), east = std::max(east, m.x);
        north = std::min(north, m.z), south = std::max(south, m.z);
        ++count;
    }
    if (count == 0) return;
    double width = east - west + 1, height = south - north + 1;
    o.cell = std::max(4 * SAME_VERTEX_METRES, std::sqrt(width * height * 2 / count));
    o.west = west, o.north = north;
    o.columns = int64_t(width / o.cell) + 1, o.rows = int64_t(height / o.cell) + 1;
    std::vector<uint32_t> cellOf(o.positions, NONE);
    o.cellStart.assign(size_t(o.columns * o.rows) + 1, 0);
    for (uint32_t p = 0; p < o.positions; ++p) {
        if (!isBase(o, p)) continue;
        Metres m = positionMetres(cut, o, p);
        cellOf[p] =
            uint32_t(int64_t((m.z - north) / o.cell) * o.columns + int64_t((m.x - west) / o.cell));
        ++o.cellStart[cellOf[p] + 1];
    }
    for (size_t c = 0; c + 1 < o.cellStart.size(); ++c) o.cellStart[c + 1] += o.cellStart[c];
    std::vector<uint32_t> next(o.cellStart.begin(), o.cellStart.end() - 1);
    o.inCell.resize(count);
    for (uint32_t p = 0; p < o.positions; ++p) {
        if (cellOf[p] != NONE) o.inCell[next[cellOf[p]]++] = p;
    }
}

// The original position within reach of a point, the nearest; NONE when there is none.
uint32_t nearbyOriginal(const Cut& cut, const Originals& o, const EditedVertex& v) {
    uint32_t best = NONE;
    double bestDistance = INFINITY;
    auto index = [&](double value, double low) {
        return int64_t(std::floor((value - low) / o.cell));
    };
    int64_t x0 = std::max<int64_t>(0, index(v.x - SAME_VERTEX_METRES, o.west));
    int64_t x1 = std::min(o.columns - 1, index(v.x + SAME_VERTEX_METRES, o.west));
    int64_t z0 = std::max<int64_t>(0, index(v.z - SAME_VERTEX_METRES, o.north));
    int64_t z1 = std::min(o.rows - 1, index(v.z + SAME_VERTEX_METRES, o.north));
    for (int64_t z = z0; z <= z1; ++z) {
        for (int64_t x = x0; x <= x1; ++x) {
            size_t c = size_t(z * o.columns + x);
            for (uint32_t k = o.cellStart[c]; k < o.cellStart[c + 1]; ++k) {
                Metres m = positionMetres(cut, o, o.inCell[k]);
                double across = std::hypot(m.x - v.x, m.z - v.z), up = std::fabs(m.y - v.y);
                if (across > SAME_VERTEX_METRES || up > SAME_VERTEX_METRES) continue;
                double distance = across * across + up * up;
                if (distance < bestDistance) bestDistance = distance, best = o.inCell[k];
            }
        }
    }
    return best;
}

Triple sortedTriple(uint32_t a, uint32_t b, uint32_t c, uint32_t triangle = 0) {
    Triple t{a, b, c, triangle};
    std::sort(t.begin(), t.begin() + 3);
    return t;
}

// The definition a material name stands for in the cut, or NONE.
uint32_t definitionNamed(const std::vector<Material>& materials, const std::string& name) {
    for (const Material& m : materials) {
        if (m.name == name) return m.definition;
    }
    return NONE;
}

uint32_t matchVertex(Fitting& f, uint32_t vertex) {
    if (f.matched.size() < f.edited.vertices.size()) {
        f.matched.resize(f.edited.vertices.size(), NOT_LOOKED_UP);
        f.usedVertex.resize(f.edited.vertices.size(), 0);
    }
    if (f.matched[vertex] == NOT_LOOKED_UP) {
        f.matched[vertex] = nearbyOriginal(f.cut, f.originals, f.edited.vertices[vertex]);
    }
    f.usedVertex[vertex] = 1;
    return f.matched[vertex];
}

FitCorner cornerFor(Fitting& f, const EditedCorner& corner, uint32_t definition,
                    uint32_t& outlineId) {
    uint32_t position = matchVertex(f, corner.vertex);
    outlineId = position != NONE ? position : f.originals.positions + corner.vertex;
    const Originals& o = f.originals;
    if (position != NONE) {
        f.usedPosition[position] = 1;
        for (uint32_t k = o.storedStart[position]; k < o.storedStart[position + 1]; ++k) {
            if (o.stored[k].second == definition) return {true, o.stored[k].first};
        }
    }
    if (f.firstPoint.size() < f.edited.vertices.size()) {
        f.firstPoint.resize(f.edited.vertices.size(), NONE);
    }
    uint32_t point = f.firstPoint[corner.vertex];
    while (point != NONE && f.fitted.points[point].definition != definition) {
        point = f.nextPoint[point];
    }
    if (point == NONE) {
        point = uint32_t(f.fitted.points.size());
        f.nextPoint.push_back(f.firstPoint[corner.vertex]);
        f.firstPoint[corner.vertex] = point;
        uint32_t onOriginal =
            position != NONE ? o.stored[o.storedStart[position]].first : NO_ORIGINAL;
        const EditedVertex& v = f.edited.vertices[corner.vertex];
        Metres place =
            position != NONE ? positionMetres(f.cut, o, position) : Metres{v.x, v.y, v.z};
        f.fitted.points.push_back(
            {place, definition, corner.texture, corner.vertex, onOriginal, false});
    }
    return {false, point};
}

// Twice the area of a triangle seen from above, positive when it faces up.
double turnOf(const Metres& a, const Metres& b, const Metres& c) {
    return (b.z - a.z) * (c.x - a.x) - (b.x - a.x) * (c.z - a.z);
}

}  // namespace

// The place of an outline vertex, for a message.
std::string placeOfId(const Fitting& f, uint32_t id) {
    double lon, lat;
    const Originals& o = f.originals;
    if (id < o.positions) {
        uint32_t stored = o.stored[o.storedStart[id]].first;
        std::string_view line;
        if (keptLine(f.cut.lines, sourceOffset(f.cut.mesh.vertices[stored]), line)) {
            VertexPosition p = readVertexPosition(splitFirstField(line).rest);
            return placeText(p.lon, p.lat);
        }
        degreesOf(f.cut, positionMetres(f.cut, o, id), lon, lat);
    } else {
        const EditedVertex& v = f.edited.vertices[id - o.positions];
        degreesOf(f.cut, {v.x, v.y, v.z}, lon, lat);
    }
    return placeText(lon, lat);
}

namespace {

// The removed triangle of the definition on these three positions that no face has taken yet.
int64_t ownTriangle(Fitting& f, const uint32_t* ids, uint32_t definition) {
    Triple key = sortedTriple(ids[0], ids[1], ids[2]);
    auto at = std::lower_bound(f.own.begin(), f.own.end(), key);
    for (; at != f.own.end() && std::equal(key.begin(), key.begin() + 3, at->begin()); ++at) {
        uint32_t k = (*at)[3];
        if (!f.reused[k] && f.fitted.removed[k].definition == definition) return k;
    }
    return -1;
}

// A triangle of a face: the tile's own (its points, its winding), or a changed one, which must
// face up.
Status takeTriangle(Fitting& f, const FitCorner (&corners)[3], const uint32_t (&ids)[3],
                    uint32_t definition, uint32_t line) {
    bool allOriginal = corners[0].original && corners[1].original && corners[2].original;
    int64_t same = allOriginal ? ownTriangle(f, ids, definition) : -1;
    if (same >= 0) {
        const RemovedTriangle& r = f.fitted.removed[size_t(same)];
        f.reused[size_t(same)] = 1;
        uint32_t second = r.turned ? 2 : 1, third = r.turned ? 1 : 2;
        f.fitted.triangles.push_back(
            {{{true, r.corners[0]}, {true, r.corners[second]}, {true, r.corners[third]}},
             definition,
             false,
             uint32_t(same)});
        return {};
    }
    Metres a = cornerMetres(f.cut, f.fitted, corners[0]);
    Metres b = cornerMetres(f.cut, f.fitted, corners[1]);
    Metres c = cornerMetres(f.cut, f.fitted, corners[2]);
    double reach = std::max({1.0, std::fabs(a.x), std::fabs(a.z), std::fabs(b.x), std::fabs(b.z),
                             std::fabs(c.x), std::fabs(c.z)});
    double edges = std::hypot(b.x - a.x, b.z - a.z) + std::hypot(c.x - a.x, c.z - a.z) +
                   std::hypot(c.x - b.x, c.z - b.z);
    if (turnOf(a, b, c) < -reach * FILE_PRECISION * edges) {
        double lon, lat;
        degreesOf(f.cut, {(a.x + b.x + c.x) / 3, 0, (a.z + b.z + c.z) / 3}, lon, lat);
        return misfit("the face at line " + std::to_string(line) + " (at " + placeText(lon, lat) +
                      ") faces down: seen from above it turns clockwise");
    }
    f.fitted.triangles.push_back({{corners[0], corners[1], corners[2]}, definition, true, NONE});
    return {};
}

// One face, cut into triangles whose corners are original or new points.
Status fitFace(Fitting& f, const EditedFace& face) {
    const std::string& name = f.edited.materials[face.material];
    uint32_t definition = definitionNamed(f.materials, name);
    if (definition == NONE) {
        std::string known;
        for (const Material& m : f.materials) known += (known.empty() ? "" : ", ") + m.name;
        return failedWith(Failure::readEdited,
                          "line " + std::to_string(face.line) + ": the material '" + name +
                              "' is no terrain definition of the cut (it has " + known + ")");
    }
    f.fitCorners.resize(face.cornerCount), f.cornerIds.resize(face.cornerCount);
    f.corners.clear();
    for (uint32_t k = 0; k < face.cornerCount; ++k) {
        f.fitCorners[k] = cornerFor(f, face.corners[k], definition, f.cornerIds[k]);
        Metres at = cornerMetres(f.cut, f.fitted, f.fitCorners[k]);
        f.corners.push_back({at.x, -at.z});  // seen from above: east, north
    }
    f.ears.clear();
    if (face.cornerCount == 3) {
        f.ears = {0, 1, 2};
    } else {
        triangulatePolygon(f.corners, {}, f.ears);
    }
    for (size_t k = 0; k + 3 <= f.ears.size(); k += 3) {
        const uint32_t* e = &f.ears[k];
        FitCorner corners[3] = {f.fitCorners[e[0]], f.fitCorners[e[1]], f.fitCorners[e[2]]};
        uint32_t ids[3] = {f.cornerIds[e[0]], f.cornerIds[e[1]], f.cornerIds[e[2]]};
        if (Status status = takeTriangle(f, corners, ids, definition, face.line); !status.ok()) {
            return status;
        }
    }
    return {};
}

void indexOriginals(const Cut& cut, Fitting& f) {
    Originals& o = f.originals;
    o.welded = weldPositions(cut.mesh.vertices, o.positions);
    groupStoredVertices(cut, f.fitted, o);
    gridBasePositions(cut, o);
    f.own.reserve(f.fitted.removed.size());
    for (uint32_t k = 0; k < f.fitted.removed.size(); ++k) {
        const uint32_t* c = f.fitted.removed[k].corners;
        f.own.push_back(sortedTriple(o.welded[c[0]], o.welded[c[1]], o.welded[c[2]], k));
    }
    std::sort(f.own.begin(), f.own.end());
    f.reused.assign(f.fitted.removed.size(), 0);
    f.fitted.triangles.reserve(f.fitted.removed.size());  // as many as go out, most often
    f.usedPosition.assign(o.positions, 0);
}

}  // namespace

Status fitEditedCut(const Cut& cut, const MeshBuffers& triangles, const EdgeFit& edge,
                    const std::vector<Material>& materials, const EditedSource& source,
                    EditedCut& edited, FittedCut& fitted) {
    fitted = FittedCut{};
    collectRemoved(cut, triangles, fitted.removed);
    Fitting f{cut, materials, edited, fitted, edge};
    indexOriginals(cut, f);
    Status status =
        readEdited(source, edited, [&f](const EditedFace& face) { return fitFace(f, face); });
    if (!status.ok()) return status;
    f.own = {}, f.firstPoint = {}, f.nextPoint = {};
    fitted.points.shrink_to_fit();  // while the triples above are freed
    weldNewPoints(f);
    Status joined = compareOutlines(f);
    fitted.backAsItWas = std::move(f.reused);
    return joined;
}

Metres cornerMetres(const Cut& cut, const FittedCut& fitted, const FitCorner& corner) {
    return corner.original ? metresOf(cut.mesh.vertices[corner.index], cut.origin)
                           : fitted.points[corner.index].at;
}

void degreesOf(const Cut& cut, const Metres& at, double& lon, double& lat) {
    long double z = static_cast<long double>(at.z) / METRES_PER_UNIT + cut.origin.z;
    long double north = -z * SCALE_DIVISOR;
    lat = double(latitudeNorthOf(cut.window.latMin, north));
    long double x = static_cast<long double>(at.x) / METRES_PER_UNIT + cut.origin.x;
    lon = double(
        longitudeEastOf(cut.window.longMin, x * SCALE_DIVISOR, cosineOfLatitude<long double>(lat)));
}

}  // namespace mc
