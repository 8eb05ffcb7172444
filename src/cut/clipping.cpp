// clip=1: the cut's triangles cut along the outline, so that it holds exactly the surface inside.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "area/clipped_parts.h"
#include "cut/cut.h"
#include "cut/frame.h"
#include "cut/materials.h"
#include "geo/triangulation.h"
#include "text/fixed9.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

// A vertex line's values after its keyword, as numbers.
void valuesOf(std::string_view line, std::vector<double>& values) {
    values.clear();
    for (SplitText field = splitFirstField(splitFirstField(line).rest); !field.first.empty();
         field = splitFirstField(field.rest)) {
        values.push_back(parseNumber(field.first));
    }
}

struct Clipping {
    Cut& cut;
    ClipRegion region;
    ClipOrigins* origins;
    VertexScratch scratch = {};
    bool allInside = false;  // no edge of the outline comes near the cut: nothing to clip
    std::vector<AreaPoint> places = {};    // per old vertex: longitude, latitude as its line says
    std::vector<uint8_t> inside = {};      // per old vertex: inside the window and the area
    std::vector<int32_t> renumbered = {};  // per old vertex: its number in the new table, or -1
    MeshBuffers mesh = {};                 // the clipped mesh
    std::unordered_map<std::string, int32_t> added = {};  // a new vertex's place -> its number
    ClippedPart part = {};
};

bool readPlaces(Clipping& c) {
    const MeshBuffers& mesh = c.cut.mesh;
    c.places.resize(mesh.vertices.count);
    c.inside.resize(mesh.vertices.count);
    for (size_t v = 0; v < mesh.vertices.count; ++v) {
        std::string_view line;
        if (!keptLine(c.cut.lines, sourceOffset(mesh.vertices[v]), line)) return false;
        VertexPosition p = readVertexPosition(splitFirstField(line).rest);
        c.places[v] = {p.lon, p.lat};
        c.inside[v] = isInsideCut(c.cut.window, p.lon, p.lat);
    }
    return true;
}

int32_t keepOld(Clipping& c, int32_t old) {
    if (c.renumbered[size_t(old)] < 0) {
        c.renumbered[size_t(old)] = int32_t(c.mesh.vertices.count);
        c.mesh.vertices.push(c.cut.mesh.vertices[size_t(old)]);
        if (c.origins) c.origins->vertexBefore.push_back(old);
    }
    return c.renumbered[size_t(old)];
}

void appendNumber(std::string& line, double value) {
    char text[FIXED9_MAX_TEXT];
    line += ' ';
    line.append(text, fixed9ToText(value, text));
}

}  // namespace

std::string placeKey(const AreaPoint& at) {
    char lonText[FIXED9_MAX_TEXT], latText[FIXED9_MAX_TEXT];
    std::string key(lonText, fixed9ToText(at.lon, lonText));
    key += ' ';
    key.append(latText, fixed9ToText(at.lat, latText));
    return key;
}

// Every value interpolated over the triangle (the height from the corners' heights, the
// raster's where they took it), in a scenery line of its own, in the printed form.
bool outlineVertex(Cut& cut, const int32_t (&corners)[3], const AreaPoint (&t)[3],
                   const AreaPoint& at, StoredVertex& vertex, VertexScratch& scratch) {
    // a triangle of no area: its first corner stands for it
    double w[3] = {1, 0, 0};
    const PlanePoint plane[3] = {{t[0].lon, t[0].lat}, {t[1].lon, t[1].lat}, {t[2].lon, t[2].lat}};
    weightsInTriangle(plane, {at.lon, at.lat}, w);
    size_t fields = SIZE_MAX;
    for (int k = 0; k < 3; ++k) {
        std::string_view line;
        if (!shownVertexLine(cut, cut.mesh.vertices[size_t(corners[k])], scratch.shown, line)) {
            return false;
        }
        valuesOf(line, scratch.values[k]);
        fields = std::min(fields, scratch.values[k].size());
    }
    char lonText[FIXED9_MAX_TEXT], latText[FIXED9_MAX_TEXT];
    std::string& line = scratch.line;
    line.assign("PATCH_VERTEX ");
    line.append(lonText, fixed9ToText(at.lon, lonText));
    line += ' ';
    line.append(latText, fixed9ToText(at.lat, latText));
    double elevation = 0;
    for (int k = 0; k < 3; ++k) elevation += w[k] * cut.mesh.vertices[size_t(corners[k])].elevation;
    appendNumber(line, elevation);
    for (size_t f = 3; f < fields; ++f) {
        double value = 0;
        for (int k = 0; k < 3; ++k) value += w[k] * scratch.values[k][f];
        appendNumber(line, value);
    }
    VertexPosition position = readVertexPosition(splitFirstField(line).rest);
    uint64_t offset = addKeptLine(cut.lines, line);
    vertex = projectPosition(cut.window, position, packSource(offset, 0));
    return true;
}

namespace {

// One vertex per place in a patch run.
bool newVertex(Clipping& c, const int32_t (&corners)[3], const AreaPoint (&t)[3],
               const AreaPoint& at, int32_t& number) {
    std::string key = placeKey(at);
    if (auto found = c.added.find(key); found != c.added.end()) return number = found->second, true;
    StoredVertex vertex;
    if (!outlineVertex(c.cut, corners, t, at, vertex, c.scratch)) return false;
    number = int32_t(c.mesh.vertices.count);
    c.mesh.vertices.push(vertex);
    if (c.origins) c.origins->vertexBefore.push_back(-1);
    c.added.emplace(std::move(key), number);
    return true;
}

// The corner of the triangle within a centimetre of a place, or -1: a tile vertex that near the
// outline is on it, or the pieces beside it would be slivers.
int nearCorner(const AreaPoint (&t)[3], const AreaPoint& at) {
    for (int k = 0; k < 3; ++k) {
        if (metresBetween(at, t[k]) <= SAME_PLACE_METRES) return k;
    }
    return -1;
}

// Whether a piece as its vertices are printed would face the other way than its triangle, or be
// thinner than the origins' `thinnest` (its least height: twice its area over its longest edge).
bool isSliver(const MeshBuffers& mesh, const int32_t (&numbers)[3], double facing,
              const ClipOrigins* origins) {
    const StoredVertex &a = mesh.vertices[size_t(numbers[0])],
                       &b = mesh.vertices[size_t(numbers[1])],
                       &d = mesh.vertices[size_t(numbers[2])];
    double turn = upwardTurn(a, b, d) * METRES_PER_UNIT * METRES_PER_UNIT;  // as lon, lat turn
    double longest = std::max({std::hypot(b.x - a.x, b.z - a.z), std::hypot(d.x - b.x, d.z - b.z),
                               std::hypot(a.x - d.x, a.z - d.z)}) *
                     METRES_PER_UNIT;
    const double thinnest = origins ? origins->thinnest : SAME_PLACE_METRES;
    return (turn > 0) != (facing > 0) || !(std::fabs(turn) / longest >= thinnest);
}

// The triangle's parts inside the outline, triangulated, each facing as the triangle did. A clip
// that keeps thin pieces (the flattening's) moves a part's corners near the triangle's own onto
// them before cutting it, as the put-back's pieces outside do: moved after, a thin piece between
// a corner and the outline could turn over and go, leaving a slit beside the piece outside. A
// cut clipped for a file keeps the pieces cuts have always had (its thin ones go anyway), so
// that cuts edited before still go back.
bool clipTriangleOf(Clipping& c, const int32_t (&corners)[3], uint32_t triangle) {
    AreaPoint t[3] = {c.places[size_t(corners[0])], c.places[size_t(corners[1])],
                      c.places[size_t(corners[2])]};
    auto plane = [](const AreaPoint& p) { return PlanePoint{p.lon, p.lat}; };
    double facing = turnOf(plane(t[0]), plane(t[1]), plane(t[2]));
    const bool keepsThin = c.origins && c.origins->thinnest < SAME_PLACE_METRES;
    return forEachClippedPart(c.region, t, PartsOf::inside, c.part, [&](ClippedPart& part) {
        if (keepsThin) moveOntoCorners(part, t, SAME_PLACE_METRES);
        triangulateInDegrees(part);
        if (keepsThin) flipThinPieces(part, ROUNDING_TURNS_OVER_METRES);
        for (size_t k = 0; k + 3 <= part.triangles.size(); k += 3) {
            uint32_t* e = &part.triangles[k];
            double turn = turnOf(part.points[e[0]], part.points[e[1]], part.points[e[2]]);
            if (turn == 0) continue;  // a sliver along an edge holds no surface
            if ((turn > 0) != (facing > 0)) std::swap(e[1], e[2]);
            int32_t numbers[3];
            for (int j = 0; j < 3; ++j) {
                const AreaPoint& at = part.places[e[j]];
                int corner = nearCorner(t, at);
                numbers[j] = corner >= 0 ? keepOld(c, corners[corner]) : -1;
                if (numbers[j] < 0 && !newVertex(c, corners, t, at, numbers[j])) return false;
            }
            if (isSliver(c.mesh, numbers, facing, c.origins)) continue;
            for (int32_t number : numbers) c.mesh.indices.push(number);
            if (c.origins) c.origins->triangleBefore.push_back(triangle);
        }
        return true;
    });
}

bool clipRun(Clipping& c, size_t run) {
    const MeshBuffers& old = c.cut.mesh;
    c.mesh.runs.push_back({c.mesh.vertices.count, c.mesh.indices.count, old.runs[run].patch});
    c.added.clear();
    for (size_t i = old.runs[run].firstIndex; i + 3 <= runIndexEnd(old, run); i += 3) {
        int32_t corners[3] = {old.indices[i], old.indices[i + 1], old.indices[i + 2]};
        double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
        bool allInside = true;
        for (int32_t v : corners) {
            if (c.allInside) break;
            const AreaPoint& p = c.places[size_t(v)];
            west = std::min(west, p.lon), east = std::max(east, p.lon);
            south = std::min(south, p.lat), north = std::max(north, p.lat);
            allInside = allInside && c.inside[size_t(v)];
        }
        if (c.allInside || (allInside && !outlineMayCross(c.region, west, east, south, north))) {
            for (int32_t v : corners) c.mesh.indices.push(keepOld(c, v));
            if (c.origins) c.origins->triangleBefore.push_back(uint32_t(i / 3));
        } else if (!clipTriangleOf(c, corners, uint32_t(i / 3))) {
            return false;
        }
    }
    return true;
}

// Whether no edge of the region comes near the cut's vertices: their extent in degrees, from
// the projected places (latitude from z, longitude from x with the cosines at the extent's
// latitudes), widened well past the projection's rounding.
bool outlineMissesCut(const Clipping& c) {
    const ChunkedArray<StoredVertex>& vertices = c.cut.mesh.vertices;
    if (vertices.count == 0) return true;
    double x0 = INFINITY, x1 = -INFINITY, z0 = INFINITY, z1 = -INFINITY;
    for (size_t v = 0; v < vertices.count; ++v) {
        x0 = std::min(x0, vertices[v].x), x1 = std::max(x1, vertices[v].x);
        z0 = std::min(z0, vertices[v].z), z1 = std::max(z1, vertices[v].z);
    }
    const SelectionWindow& w = c.cut.window;
    constexpr double MARGIN = 1e-6;
    double south = latitudeNorthOf(w.latMin, -z1 * SCALE_DIVISOR) - MARGIN;
    double north = latitudeNorthOf(w.latMin, -z0 * SCALE_DIVISOR) + MARGIN;
    double cosines[2] = {cosineOfLatitude<double>(south), cosineOfLatitude<double>(north)};
    if (south < 0 && 0 < north) cosines[0] = 1;
    double west = INFINITY, east = -INFINITY;
    for (double x : {x0, x1}) {
        for (double cosine : cosines) {
            double lon = w.longMin + x * SCALE_DIVISOR / (cosine * METRES_PER_DEGREE);
            west = std::min(west, lon), east = std::max(east, lon);
        }
    }
    return !outlineMayCross(c.region, west - MARGIN, east + MARGIN, south, north);
}

// Whether the triangles use every vertex, each first in the table's order: a clip that keeps
// every triangle then gives the mesh as it is.
bool usesVerticesInOrder(const MeshBuffers& mesh) {
    size_t next = 0;
    for (size_t i = 0; i < mesh.indices.count; ++i) {
        size_t v = size_t(mesh.indices[i]);
        if (v > next) return false;
        if (v == next) ++next;
    }
    return next == mesh.vertices.count;
}

}  // namespace

Status clipCut(Cut& cut, Capacities capacities, ClipOrigins* origins) {
    const SelectionWindow& w = cut.window;
    if (!cut.clipRegion.index) {
        cut.clipRegion = clipRegionOf({w.latMin, w.latMax, w.longMin, w.longMax}, w.area);
    }
    Clipping c{cut, cut.clipRegion, origins};
    c.allInside = outlineMissesCut(c);
    if (c.allInside && !origins && usesVerticesInOrder(cut.mesh)) return {};  // nothing changes
    c.renumbered.assign(cut.mesh.vertices.count, -1);
    if (!c.allInside && !readPlaces(c)) return keptLinesFailure(cut);
    for (size_t run = 0; run < cut.mesh.runs.size(); ++run) {
        if (!clipRun(c, run)) return keptLinesFailure(cut);
    }
    if (c.mesh.vertices.count >= size_t(capacities.maxVertices) ||
        c.mesh.indices.count >= size_t(capacities.maxIndices)) {
        return failedWith(
            c.mesh.vertices.count >= size_t(capacities.maxVertices) ? Failure::vertexCapacity
                                                                    : Failure::indexCapacity,
            "the clipped cut needs " + groupedNumber(c.mesh.vertices.count) +
                " vertices (nb_max_vertex is " + intToText(capacities.maxVertices) + ") and " +
                groupedNumber(c.mesh.indices.count) + " triangle indices (nb_max_tris is " +
                intToText(capacities.maxIndices) + ")");
    }
    if (origins) origins->before = std::move(cut.mesh);
    cut.mesh = std::move(c.mesh);
    return findOriginAgain(cut);
}

}  // namespace mc
