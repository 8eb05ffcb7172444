#include "put_back/fit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "cut/triangulation.h"
#include "text/fields.h"
#include "text/numbers.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

constexpr uint32_t NONE = UINT32_MAX;
constexpr uint32_t NOT_LOOKED_UP = NONE - 1;
// Positions in the file are single precision where a modeller wrote them: a face turned down by
// less than a few of their steps along its edges is rounding in a face that stands on edge.
constexpr double FILE_PRECISION = 0x1p-22;

// The cut's positions (its stored vertices welded), the base triangles' stored vertices at each,
// and the base positions by cell of a grid over their extent, to match corners against.
struct Originals {
    std::vector<uint32_t> welded;  // per stored vertex: its position
    uint32_t positions = 0;
    std::vector<uint32_t> storedStart;                  // per position, and one past the last
    std::vector<std::pair<uint32_t, uint32_t>> stored;  // (stored vertex, definition)
    double cell = 1, west = 0, north = 0;
    int64_t columns = 0, rows = 0;
    std::vector<uint32_t> cellStart;  // per cell, and one past the last
    std::vector<uint32_t> inCell;     // base positions, cell by cell
};

bool isBase(const Originals& o, uint32_t position) {
    return o.storedStart[position + 1] > o.storedStart[position];
}

Metres positionMetres(const Cut& cut, const Originals& o, uint32_t position) {
    return metresOf(cut.mesh.vertices[o.stored[o.storedStart[position]].first], cut.origin);
}

void collectRemoved(const Cut& cut, FittedCut& fitted) {
    const MeshBuffers& mesh = cut.mesh;
    size_t count = 0;
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        bool overlay = mesh.runs[r].patch.flags & OVERLAY_PATCH_FLAG;
        if (!overlay) count += (runIndexEnd(mesh, r) - mesh.runs[r].firstIndex) / 3;
    }
    fitted.removed.reserve(count);
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        if (mesh.runs[r].patch.flags & OVERLAY_PATCH_FLAG) continue;
        for (size_t i = mesh.runs[r].firstIndex; i + 3 <= runIndexEnd(mesh, r); i += 3) {
            RemovedTriangle t{{uint32_t(mesh.indices[i]), uint32_t(mesh.indices[i + 1]),
                               uint32_t(mesh.indices[i + 2])},
                              mesh.runs[r].patch.definition,
                              false};
            if (upwardTurn(mesh.vertices[t.corners[0]], mesh.vertices[t.corners[1]],
                           mesh.vertices[t.corners[2]]) < 0) {
                std::swap(t.corners[1], t.corners[2]);
                t.turned = true;
            }
            fitted.removed.push_back(t);
        }
    }
}

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

// Three positions in order, and the removed triangle standing on them.
using Triple = std::array<uint32_t, 4>;

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

struct Fitting {
    const Cut& cut;
    const std::vector<Material>& materials;
    const EditedCut& edited;
    FittedCut& fitted;
    Originals originals = {};
    std::vector<Triple> own = {};        // the removed triangles by their positions, sorted
    std::vector<uint8_t> reused = {};    // per removed triangle: a face of the file is it
    std::vector<uint32_t> matched = {};  // per edited vertex: its original position, or NONE
    std::vector<uint8_t> usedPosition = {}, usedVertex = {};
    // the new points of each edited vertex, one per definition: the first, then each the next
    std::vector<uint32_t> firstPoint = {}, nextPoint = {};
    // per new point, its outline id: the position it sits on, or the number of positions plus
    // the first edited vertex at its place
    std::vector<uint32_t> pointIds = {};
    std::vector<PlanePoint> corners = {};  // of the face being fitted, seen from above
    std::vector<FitCorner> fitCorners = {};
    std::vector<uint32_t> cornerIds = {}, ears = {};
};

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
        f.fitted.points.push_back({place, definition, corner.texture, corner.vertex, onOriginal});
    }
    return {false, point};
}

// Twice the area of a triangle seen from above, positive when it faces up.
double turnOf(const Metres& a, const Metres& b, const Metres& c) {
    return (b.z - a.z) * (c.x - a.x) - (b.x - a.x) * (c.z - a.z);
}

Status misfit(std::string what) {
    return failedWith(Failure::editMisfits, std::move(what));
}

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
             false});
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
    f.fitted.triangles.push_back({{corners[0], corners[1], corners[2]}, definition, true});
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

// Edges that only one triangle has, with how often more in one direction than the other.
using OpenEdges = std::vector<std::pair<uint64_t, int32_t>>;

OpenEdges openEdgesOf(std::vector<uint64_t>& directed) {
    auto canonical = [](uint64_t e) {
        uint32_t a = uint32_t(e >> 32), b = uint32_t(e);
        return a < b ? e : uint64_t(b) << 32 | a;
    };
    for (uint64_t& e : directed) e = canonical(e) << 1 | (canonical(e) == e ? 0 : 1);
    std::sort(directed.begin(), directed.end());
    OpenEdges open;
    for (size_t i = 0; i < directed.size();) {
        uint64_t key = directed[i] >> 1;
        int32_t net = 0;
        for (; i < directed.size() && directed[i] >> 1 == key; ++i) {
            net += (directed[i] & 1) == 0 ? 1 : -1;
        }
        if (net != 0) open.push_back({key, net});
    }
    return open;
}

void addEdges(std::vector<uint64_t>& directed, uint32_t a, uint32_t b, uint32_t c) {
    if (a == b || b == c || a == c) return;  // a triangle with two corners in one place
    directed.insert(directed.end(),
                    {uint64_t(a) << 32 | b, uint64_t(b) << 32 | c, uint64_t(c) << 32 | a});
}

// The hole the faces must fill: the open edges of the removed triangles that no face is, in the
// tile's own winding (where its triangles fold, the Wavefront file turns them up, and their
// edges would look open). The triangles both have cancel out, so that only the edited part is
// compared.
OpenEdges holeOutline(const Fitting& f) {
    std::vector<uint64_t> directed;
    const std::vector<uint32_t>& welded = f.originals.welded;
    size_t turned = 0;
    for (const RemovedTriangle& t : f.fitted.removed) turned += t.turned;
    bool tileTurnsAll = turned * 2 > f.fitted.removed.size();  // a tile wound clockwise
    directed.reserve(3 * size_t(std::count(f.reused.begin(), f.reused.end(), 0)));
    for (size_t k = 0; k < f.fitted.removed.size(); ++k) {
        if (f.reused[k]) continue;
        const RemovedTriangle& t = f.fitted.removed[k];
        bool flip = t.turned != tileTurnsAll;
        uint32_t second = t.corners[flip ? 2 : 1], third = t.corners[flip ? 1 : 2];
        addEdges(directed, welded[t.corners[0]], welded[second], welded[third]);
    }
    return openEdgesOf(directed);
}

OpenEdges changedOutline(const Fitting& f) {
    std::vector<uint64_t> directed;
    size_t changed = 0;
    for (const FittedTriangle& t : f.fitted.triangles) changed += t.changed;
    directed.reserve(3 * changed);
    for (const FittedTriangle& t : f.fitted.triangles) {
        if (!t.changed) continue;
        uint32_t ids[3];
        for (int k = 0; k < 3; ++k) {
            const FitCorner& c = t.corners[k];
            ids[k] = c.original ? f.originals.welded[c.index] : f.pointIds[c.index];
        }
        addEdges(directed, ids[0], ids[1], ids[2]);
    }
    return openEdgesOf(directed);
}

// "moved 3.00 m east and 5.00 m up"
std::string movement(const Metres& from, const EditedVertex& to) {
    const double parts[3] = {to.x - from.x, from.z - to.z, to.y - from.y};
    const char* names[3][2] = {{"east", "west"}, {"north", "south"}, {"up", "down"}};
    std::vector<std::string> said;
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(parts[k]) < 0.005) continue;
        char text[64];
        char* end =
            std::to_chars(text, text + 48, std::fabs(parts[k]), std::chars_format::fixed, 2).ptr;
        said.push_back(std::string(text, end) + " m " + names[k][parts[k] < 0]);
    }
    std::string text = "moved";
    for (size_t k = 0; k < said.size(); ++k) {
        text += (k == 0 ? " " : k + 1 == said.size() ? " and " : ", ") + said[k];
    }
    return said.empty() ? "moved less than 5 mm, past what a put-back takes as the same vertex"
                        : text;
}

// The cut's edge vertex the faces do not use: where its nearest vertex of the file went.
std::string describeMissing(const Fitting& f, uint32_t position) {
    const Metres from = positionMetres(f.cut, f.originals, position);
    double best = 100.0;
    int64_t nearest = -1;
    for (size_t v = 0; v < f.usedVertex.size(); ++v) {
        const EditedVertex& e = f.edited.vertices[v];
        double across = std::hypot(e.x - from.x, e.z - from.z);
        if (f.usedVertex[v] && across < best) best = across, nearest = int64_t(v);
    }
    std::string place = "the vertex at " + placeOfId(f, position) + " on the cut's edge ";
    if (nearest < 0) return place + "is missing from the edited faces";
    return place + "was " + movement(from, f.edited.vertices[size_t(nearest)]);
}

// New points at one exact position are one outline vertex, whichever line of the file wrote
// them: each takes the first edited vertex there; a new point on an original position is that
// position.
void weldNewPoints(Fitting& f) {
    const std::vector<NewPointPlace>& points = f.fitted.points;
    f.pointIds.assign(points.size(), NONE);
    std::vector<uint32_t> byPlace;  // the points off the original positions
    for (uint32_t k = 0; k < points.size(); ++k) {
        if (points[k].onOriginal != NO_ORIGINAL) {
            f.pointIds[k] = f.originals.welded[points[k].onOriginal];
        } else {
            byPlace.push_back(k);
        }
    }
    auto place = [&](uint32_t k) {
        const EditedVertex& v = f.edited.vertices[points[k].vertex];
        return std::tuple(v.x, v.y, v.z);
    };
    std::sort(byPlace.begin(), byPlace.end(), [&](uint32_t a, uint32_t b) {
        return std::pair(place(a), points[a].vertex) < std::pair(place(b), points[b].vertex);
    });
    for (size_t k = 0; k < byPlace.size(); ++k) {
        bool same = k > 0 && place(byPlace[k]) == place(byPlace[k - 1]);
        f.pointIds[byPlace[k]] =
            same ? f.pointIds[byPlace[k - 1]] : f.originals.positions + points[byPlace[k]].vertex;
    }
}

Status compareOutlines(const Fitting& f) {
    OpenEdges hole = holeOutline(f), faces = changedOutline(f);
    if (hole == faces) return {};
    for (const auto& [edge, net] : hole) {
        for (uint32_t id : {uint32_t(edge >> 32), uint32_t(edge)}) {
            if (id < f.originals.positions && !f.usedPosition[id]) {
                return misfit(describeMissing(f, id));
            }
        }
    }
    for (const auto& edge : hole) {
        if (!std::binary_search(faces.begin(), faces.end(), edge)) {
            return misfit("no edited face meets the edge from " +
                          placeOfId(f, uint32_t(edge.first >> 32)) + " to " +
                          placeOfId(f, uint32_t(edge.first)) +
                          ": the faces leave a hole there, or do not meet the terrain around the "
                          "cut");
        }
    }
    for (const auto& edge : faces) {
        if (!std::binary_search(hole.begin(), hole.end(), edge) && std::abs(edge.second) > 1) {
            return misfit("the edited faces overlap at the edge from " +
                          placeOfId(f, uint32_t(edge.first >> 32)) + " to " +
                          placeOfId(f, uint32_t(edge.first)) +
                          ": two of them lie on the same side of it, folded over each other");
        }
    }
    for (const auto& edge : faces) {
        if (!std::binary_search(hole.begin(), hole.end(), edge)) {
            return misfit("the edited faces leave an open edge from " +
                          placeOfId(f, uint32_t(edge.first >> 32)) + " to " +
                          placeOfId(f, uint32_t(edge.first)) +
                          ": a hole, an overlap or a face past the cut's edge");
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

Status fitEditedCut(const Cut& cut, const std::vector<Material>& materials,
                    const std::string& editedPath, EditedCut& edited, FittedCut& fitted) {
    fitted = FittedCut{};
    collectRemoved(cut, fitted);
    Fitting f{cut, materials, edited, fitted};
    indexOriginals(cut, f);
    Status status = readEditedCut(editedPath, edited,
                                  [&f](const EditedFace& face) { return fitFace(f, face); });
    if (!status.ok()) return status;
    f.own = {}, f.firstPoint = {}, f.nextPoint = {};
    fitted.points.shrink_to_fit();  // while the triples above are freed
    weldNewPoints(f);
    return compareOutlines(f);
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
