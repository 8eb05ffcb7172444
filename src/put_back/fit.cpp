#include "put_back/fit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <unordered_map>

#include "text/fields.h"
#include "text/numbers.h"

namespace mc {

namespace {

constexpr double CELL_METRES = 2 * SAME_VERTEX_METRES;
constexpr uint32_t NONE = UINT32_MAX;
// A face turned down by more than this (twice its area seen from above, in square metres) is
// refused; less is rounding in a face that stands on edge.
constexpr double FACING_DOWN = -1e-6;

uint64_t cellOf(double x, double z) {
    auto cell = [](double v) { return uint32_t(int32_t(std::floor(v / CELL_METRES))); };
    return uint64_t(cell(x)) << 32 | cell(z);
}

// The cut's base positions, by cell, and the stored vertices at each, with their definitions.
struct Originals {
    std::vector<std::pair<uint64_t, uint32_t>> cells;   // (cell, position), sorted
    std::vector<uint32_t> first;                        // per position: its stored vertices start
    std::vector<std::pair<uint32_t, uint32_t>> stored;  // (stored vertex, definition)
    std::vector<Metres> metres;                         // per position
};

void collectRemoved(const Cut& cut, FittedCut& fitted) {
    const MeshBuffers& mesh = cut.mesh;
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

void indexOriginals(const Cut& cut, const FittedCut& fitted, uint32_t positions, Originals& o) {
    std::vector<uint8_t> seen(cut.mesh.vertices.count, 0);
    std::vector<uint32_t> count(positions + 1, 0);
    for (const RemovedTriangle& t : fitted.removed) {
        for (uint32_t s : t.corners) {
            if (!seen[s]) seen[s] = 1, ++count[fitted.welded[s] + 1];
        }
    }
    for (uint32_t p = 0; p < positions; ++p) count[p + 1] += count[p];
    o.first = count;
    o.stored.assign(count[positions], {NONE, 0});
    o.metres.resize(positions);
    std::fill(seen.begin(), seen.end(), 0);
    for (const RemovedTriangle& t : fitted.removed) {
        for (uint32_t s : t.corners) {
            if (seen[s]) continue;
            seen[s] = 1;
            uint32_t p = fitted.welded[s];
            if (count[p] == o.first[p]) {
                o.metres[p] = metresOf(cut.mesh.vertices[s], cut.origin);
                o.cells.push_back({cellOf(o.metres[p].x, o.metres[p].z), p});
            }
            o.stored[count[p]++] = {s, t.definition};
        }
    }
    std::sort(o.cells.begin(), o.cells.end());
}

// The original position within reach of a point, the nearest; NONE when there is none.
uint32_t nearbyOriginal(const Originals& o, const EditedVertex& v) {
    uint32_t best = NONE;
    double bestDistance = INFINITY;
    int32_t cx = int32_t(std::floor(v.x / CELL_METRES)),
            cz = int32_t(std::floor(v.z / CELL_METRES));
    for (int32_t dx = -1; dx <= 1; ++dx) {
        for (int32_t dz = -1; dz <= 1; ++dz) {
            uint64_t cell = uint64_t(uint32_t(cx + dx)) << 32 | uint32_t(cz + dz);
            auto at = std::lower_bound(o.cells.begin(), o.cells.end(), std::make_pair(cell, 0u));
            for (; at != o.cells.end() && at->first == cell; ++at) {
                const Metres& m = o.metres[at->second];
                double across = std::hypot(m.x - v.x, m.z - v.z), up = std::fabs(m.y - v.y);
                if (across > SAME_VERTEX_METRES || up > SAME_VERTEX_METRES) continue;
                double distance = across * across + up * up;
                if (distance < bestDistance) bestDistance = distance, best = at->second;
            }
        }
    }
    return best;
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
    const EditedCut& edited;
    FittedCut& fitted;
    Originals originals = {};
    uint32_t positions = 0;              // welded original positions: outline ids below this
    std::vector<uint32_t> matched = {};  // per edited vertex: its original position, or NONE
    std::unordered_map<uint64_t, uint32_t> newPoints = {};  // (edited vertex, definition) -> point
    std::unordered_map<uint64_t, uint32_t> newIds = {};     // a new position's bits -> outline id
    std::vector<uint32_t> outlineIds = {};   // per fitted triangle corner, three a triangle
    std::vector<uint32_t> cornerLines = {};  // per fitted triangle: its face's line
    std::vector<uint32_t> editedOf = {};     // per new outline id: an edited vertex there
};

uint32_t matchVertex(Fitting& f, uint32_t vertex) {
    if (f.matched[vertex] == NONE - 1) {
        f.matched[vertex] = nearbyOriginal(f.originals, f.edited.vertices[vertex]);
    }
    return f.matched[vertex];
}

// An exact position of the file welds with itself, wherever it comes again.
uint32_t newOutlineId(Fitting& f, uint32_t vertex) {
    const EditedVertex& v = f.edited.vertices[vertex];
    uint64_t key = std::hash<double>{}(v.x) * 0x9E3779B97F4A7C15ull ^
                   std::hash<double>{}(v.y) * 0xC2B2AE3D27D4EB4Full ^ std::hash<double>{}(v.z);
    for (;; ++key) {
        auto [at, added] = f.newIds.try_emplace(key, f.positions + uint32_t(f.editedOf.size()));
        if (added) f.editedOf.push_back(vertex);
        const EditedVertex& known = f.edited.vertices[f.editedOf[at->second - f.positions]];
        if (known.x == v.x && known.y == v.y && known.z == v.z) return at->second;
    }
}

FitCorner cornerFor(Fitting& f, const EditedCorner& corner, uint32_t definition,
                    uint32_t& outlineId) {
    uint32_t position = matchVertex(f, corner.vertex);
    outlineId = position != NONE ? position : newOutlineId(f, corner.vertex);
    if (position != NONE) {
        const Originals& o = f.originals;
        for (uint32_t k = o.first[position]; k < o.first[position + 1]; ++k) {
            if (o.stored[k].second == definition) return {true, o.stored[k].first};
        }
    }
    uint64_t key = uint64_t(corner.vertex) << 32 | definition;
    auto [at, added] = f.newPoints.try_emplace(key, uint32_t(f.fitted.points.size()));
    if (added) {
        int64_t onOriginal =
            position != NONE ? int64_t(f.originals.stored[f.originals.first[position]].first) : -1;
        const EditedVertex& v = f.edited.vertices[corner.vertex];
        Metres at3 = position != NONE ? f.originals.metres[position] : Metres{v.x, v.y, v.z};
        f.fitted.points.push_back({at3, definition, corner.texture, onOriginal});
    }
    return {false, at->second};
}

// Twice the area of a triangle seen from above, positive when it faces up.
double turnOf(const Metres& a, const Metres& b, const Metres& c) {
    return (b.z - a.z) * (c.x - a.x) - (b.x - a.x) * (c.z - a.z);
}

bool insideTriangle(const Metres& p, const Metres& a, const Metres& b, const Metres& c,
                    double sense) {
    return turnOf(a, b, p) * sense >= 0 && turnOf(b, c, p) * sense >= 0 &&
           turnOf(c, a, p) * sense >= 0;
}

// Cuts a polygon into triangles by clipping ears seen from above, each wound as the polygon is.
// A polygon with no ear to clip (one that crosses itself) is cut as a fan.
void clipEars(const std::vector<Metres>& corners, std::vector<uint32_t>& triangles) {
    std::vector<uint32_t> left(corners.size());
    for (uint32_t k = 0; k < left.size(); ++k) left[k] = k;
    double area = 0;
    for (size_t k = 0; k < corners.size(); ++k) {
        const Metres &a = corners[k], &b = corners[(k + 1) % corners.size()];
        area += (b.z - a.z) * (b.x + a.x);  // the shoelace, in the turn's sense
    }
    double sense = area < 0 ? -1 : 1;
    while (left.size() > 3) {
        size_t n = left.size(), ear = n;
        for (size_t k = 0; k < n && ear == n; ++k) {
            const Metres &a = corners[left[(k + n - 1) % n]], &b = corners[left[k]],
                         &c = corners[left[(k + 1) % n]];
            if (turnOf(a, b, c) * sense <= 0) continue;
            bool empty = true;
            for (size_t j = 0; j < n && empty; ++j) {
                if (j == k || j == (k + 1) % n || j == (k + n - 1) % n) continue;
                empty = !insideTriangle(corners[left[j]], a, b, c, sense);
            }
            if (empty) ear = k;
        }
        if (ear == n) break;
        triangles.insert(triangles.end(),
                         {left[(ear + n - 1) % n], left[ear], left[(ear + 1) % n]});
        left.erase(left.begin() + long(ear));
    }
    for (size_t k = 1; k + 1 < left.size(); ++k) {
        triangles.insert(triangles.end(), {left[0], left[k], left[k + 1]});
    }
}

// Three positions in order, and the removed triangle standing on them.
using Triple = std::array<uint32_t, 4>;

Triple sortedTriple(uint32_t a, uint32_t b, uint32_t c, uint32_t triangle = 0) {
    Triple t{a, b, c, triangle};
    std::sort(t.begin(), t.begin() + 3);
    return t;
}

std::vector<Triple> removedTriples(const FittedCut& fitted) {
    std::vector<Triple> triples;
    triples.reserve(fitted.removed.size());
    for (uint32_t k = 0; k < fitted.removed.size(); ++k) {
        const RemovedTriangle& t = fitted.removed[k];
        triples.push_back(sortedTriple(fitted.welded[t.corners[0]], fitted.welded[t.corners[1]],
                                       fitted.welded[t.corners[2]], k));
    }
    std::sort(triples.begin(), triples.end());
    return triples;
}

// The removed triangle on the same three positions and of the same definition, if any.
int64_t ownTriangle(const Fitting& f, const std::vector<Triple>& own, const uint32_t* ids,
                    uint32_t definition) {
    Triple key = sortedTriple(ids[0], ids[1], ids[2]);
    auto at = std::lower_bound(own.begin(), own.end(), key);
    for (; at != own.end() && std::equal(key.begin(), key.begin() + 3, at->begin()); ++at) {
        if (f.fitted.removed[(*at)[3]].definition == definition) return (*at)[3];
    }
    return -1;
}

Status misfit(std::string what) {
    return failedWith(Failure::editMisfits, std::move(what));
}

// The place of an outline vertex, for a message.
std::string placeOfId(const Fitting& f, uint32_t id) {
    double lon, lat;
    if (id < f.positions) {
        uint32_t stored = f.originals.stored[f.originals.first[id]].first;
        std::string_view line;
        if (keptLine(f.cut.lines, sourceOffset(f.cut.mesh.vertices[stored]), line)) {
            VertexPosition p = readVertexPosition(splitFirstField(line).rest);
            return placeText(p.lon, p.lat);
        }
        degreesOf(f.cut, f.originals.metres[id], lon, lat);
    } else {
        const EditedVertex& v = f.edited.vertices[f.editedOf[id - f.positions]];
        degreesOf(f.cut, {v.x, v.y, v.z}, lon, lat);
    }
    return placeText(lon, lat);
}

// One face, cut into triangles whose corners are original or new points.
Status fitFace(Fitting& f, const EditedFace& face, const std::vector<Material>& materials,
               std::vector<Metres>& at, std::vector<uint32_t>& ears) {
    const std::string& name = f.edited.materials[face.material];
    uint32_t definition = definitionNamed(materials, name);
    if (definition == NONE) {
        std::string known;
        for (const Material& m : materials) known += (known.empty() ? "" : ", ") + m.name;
        return failedWith(Failure::readEdited,
                          "line " + std::to_string(face.line) + ": the material '" + name +
                              "' is no terrain definition of the cut (it has " + known + ")");
    }
    std::vector<FitCorner> corners(face.cornerCount);
    std::vector<uint32_t> ids(face.cornerCount);
    at.clear();
    for (uint32_t k = 0; k < face.cornerCount; ++k) {
        corners[k] = cornerFor(f, f.edited.corners[face.firstCorner + k], definition, ids[k]);
        at.push_back(cornerMetres(f.cut, f.fitted, corners[k]));
    }
    ears.clear();
    if (face.cornerCount == 3) {
        ears = {0, 1, 2};
    } else {
        clipEars(at, ears);
    }
    for (size_t k = 0; k + 3 <= ears.size(); k += 3) {
        FittedTriangle t{
            {corners[ears[k]], corners[ears[k + 1]], corners[ears[k + 2]]}, definition, true};
        f.fitted.triangles.push_back(t);
        f.outlineIds.insert(f.outlineIds.end(), {ids[ears[k]], ids[ears[k + 1]], ids[ears[k + 2]]});
        f.cornerLines.push_back(face.line);
    }
    return {};
}

// Marks the triangles that are the cut's own, and refuses one that faces down.
Status checkFacing(Fitting& f) {
    std::vector<Triple> own = removedTriples(f.fitted);
    for (size_t t = 0; t < f.fitted.triangles.size(); ++t) {
        FittedTriangle& triangle = f.fitted.triangles[t];
        const uint32_t* ids = &f.outlineIds[3 * t];
        bool allOriginal = triangle.corners[0].original && triangle.corners[1].original &&
                           triangle.corners[2].original;
        int64_t same = allOriginal ? ownTriangle(f, own, ids, triangle.definition) : -1;
        triangle.changed = same < 0;
        if (!triangle.changed) {  // the tile's own triangle: its own points, its own winding
            const RemovedTriangle& r = f.fitted.removed[size_t(same)];
            uint32_t second = r.turned ? 2 : 1, third = r.turned ? 1 : 2;
            triangle.corners[0] = {true, r.corners[0]};
            triangle.corners[1] = {true, r.corners[second]};
            triangle.corners[2] = {true, r.corners[third]};
            continue;
        }
        Metres a = cornerMetres(f.cut, f.fitted, triangle.corners[0]);
        Metres b = cornerMetres(f.cut, f.fitted, triangle.corners[1]);
        Metres c = cornerMetres(f.cut, f.fitted, triangle.corners[2]);
        if (turnOf(a, b, c) < FACING_DOWN) {
            double lon, lat;
            degreesOf(f.cut, {(a.x + b.x + c.x) / 3, 0, (a.z + b.z + c.z) / 3}, lon, lat);
            return misfit("the face at line " + std::to_string(f.cornerLines[t]) + " (at " +
                          placeText(lon, lat) + ") faces down: seen from above it turns clockwise");
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
    std::sort(directed.begin(), directed.end(),
              [&](uint64_t x, uint64_t y) { return canonical(x) < canonical(y); });
    OpenEdges open;
    for (size_t i = 0; i < directed.size();) {
        uint64_t key = canonical(directed[i]);
        int32_t net = 0;
        for (; i < directed.size() && canonical(directed[i]) == key; ++i) {
            net += directed[i] == key ? 1 : -1;
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

OpenEdges cutOutline(const Fitting& f) {
    std::vector<uint64_t> directed;
    directed.reserve(3 * f.fitted.removed.size());
    for (const RemovedTriangle& t : f.fitted.removed) {
        addEdges(directed, f.fitted.welded[t.corners[0]], f.fitted.welded[t.corners[1]],
                 f.fitted.welded[t.corners[2]]);
    }
    return openEdgesOf(directed);
}

OpenEdges facesOutline(const Fitting& f) {
    std::vector<uint64_t> directed;
    directed.reserve(f.outlineIds.size());
    for (size_t k = 0; k + 3 <= f.outlineIds.size(); k += 3) {
        addEdges(directed, f.outlineIds[k], f.outlineIds[k + 1], f.outlineIds[k + 2]);
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
    const Metres& from = f.originals.metres[position];
    std::vector<uint8_t> used(f.edited.vertices.size(), 0);
    for (const EditedFace& face : f.edited.faces) {
        for (uint32_t k = 0; k < face.cornerCount; ++k)
            used[f.edited.corners[face.firstCorner + k].vertex] = 1;
    }
    double best = 100.0;
    int64_t nearest = -1;
    for (size_t v = 0; v < used.size(); ++v) {
        const EditedVertex& e = f.edited.vertices[v];
        double across = std::hypot(e.x - from.x, e.z - from.z);
        if (used[v] && across < best) best = across, nearest = int64_t(v);
    }
    std::string place = "the vertex at " + placeOfId(f, position) + " on the cut's edge ";
    if (nearest < 0) return place + "is missing from the edited faces";
    return place + "was " + movement(from, f.edited.vertices[size_t(nearest)]);
}

Status compareOutlines(const Fitting& f) {
    OpenEdges cut = cutOutline(f), faces = facesOutline(f);
    if (cut == faces) return {};
    std::vector<uint8_t> used(f.positions, 0);
    for (uint32_t id : f.outlineIds) {
        if (id < f.positions) used[id] = 1;
    }
    for (const auto& [edge, net] : cut) {
        for (uint32_t id : {uint32_t(edge >> 32), uint32_t(edge)}) {
            if (!used[id]) return misfit(describeMissing(f, id));
        }
    }
    for (const auto& edge : cut) {
        if (!std::binary_search(faces.begin(), faces.end(), edge)) {
            return misfit("the cut's edge from " + placeOfId(f, uint32_t(edge.first >> 32)) +
                          " to " + placeOfId(f, uint32_t(edge.first)) +
                          " is not an edge of the edited faces: they do not meet the terrain "
                          "around the cut there");
        }
    }
    for (const auto& edge : faces) {
        if (!std::binary_search(cut.begin(), cut.end(), edge)) {
            return misfit("the edited faces leave an open edge from " +
                          placeOfId(f, uint32_t(edge.first >> 32)) + " to " +
                          placeOfId(f, uint32_t(edge.first)) +
                          ": a hole, an overlap or a face past the cut's edge");
        }
    }
    return {};
}

}  // namespace

Status fitEditedCut(const Cut& cut, const std::vector<Material>& materials, const EditedCut& edited,
                    FittedCut& fitted) {
    fitted = FittedCut{};
    collectRemoved(cut, fitted);
    Fitting f{cut, edited, fitted};
    fitted.welded = weldPositions(cut.mesh, f.positions);
    indexOriginals(cut, fitted, f.positions, f.originals);
    f.matched.assign(edited.vertices.size(), NONE - 1);
    std::vector<Metres> at;
    std::vector<uint32_t> ears;
    for (const EditedFace& face : edited.faces) {
        if (Status status = fitFace(f, face, materials, at, ears); !status.ok()) return status;
    }
    if (Status status = checkFacing(f); !status.ok()) return status;
    return compareOutlines(f);
}

Metres cornerMetres(const Cut& cut, const FittedCut& fitted, const FitCorner& corner) {
    return corner.original ? metresOf(cut.mesh.vertices[corner.index], cut.origin)
                           : fitted.points[corner.index].at;
}

void degreesOf(const Cut& cut, const Metres& at, double& lon, double& lat) {
    long double z = static_cast<long double>(at.z) / METRES_PER_UNIT + cut.origin.z;
    long double north = -z * SCALE_DIVISOR;
    lat = double(cut.window.latMin + north / METRES_PER_DEGREE);
    long double x = static_cast<long double>(at.x) / METRES_PER_UNIT + cut.origin.x;
    long double cosine = std::cos(static_cast<long double>(DEG_TO_RAD) * lat);
    lon = double(cut.window.longMin + x * SCALE_DIVISOR / (cosine * METRES_PER_DEGREE));
}

std::string placeText(double lon, double lat) {
    char text[64];
    char* end = std::to_chars(text, text + 30, lon, std::chars_format::fixed, 6).ptr;
    *end++ = ' ';
    end = std::to_chars(end, text + sizeof text, lat, std::chars_format::fixed, 6).ptr;
    return std::string(text, end);
}

}  // namespace mc
