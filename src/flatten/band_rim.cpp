// Whether the band's outer edge grazes the tile's edges.
#include "flatten/band_rim.h"

#include <cmath>
#include <unordered_map>
#include <vector>

#include "cut/kept_lines.h"

namespace mc {

namespace {

// The band's corners are filed by cells this many degrees wide; an edge of the tile looks in
// the cells along it and their neighbours.
constexpr double CELL_DEGREES = 1e-4;

struct Cells {
    std::unordered_multimap<int64_t, AreaPoint> corners;
    static int64_t key(int64_t column, int64_t row) { return column * 4'000'000 + row; }
    static int64_t index(double degrees) { return int64_t(std::floor(degrees / CELL_DEGREES)); }
};

bool tilePlaces(const Cut& cut, std::vector<AreaPoint>& places) {
    places.resize(cut.mesh.vertices.count);
    for (size_t v = 0; v < places.size(); ++v) {
        std::string_view line;
        if (!keptLine(cut.lines, sourceOffset(cut.mesh.vertices[v]), line)) return false;
        VertexPosition p = readVertexPosition(splitFirstField(line).rest);
        places[v] = {p.lon, p.lat};
    }
    return true;
}

// Near the edge but not on it: a corner within a micrometre of it (as on a row of equal
// latitudes) is on it, the flattening's clip leaving out pieces thinner than that.
bool liesBeside(const AreaPoint& p, const AreaPoint& a, const AreaPoint& b) {
    const double metres = metresToSegment(p, a, b);
    return metres > 1e-6 && metres <= POINT_TOLERANCE_METRES &&
           metresBetween(p, a) > SAME_PLACE_METRES && metresBetween(p, b) > SAME_PLACE_METRES;
}

// Whether a corner near the edge from a to b grazes it: the cells along the edge, a cell at a
// time, and those beside them.
bool edgeGrazed(const Cells& cells, const AreaPoint& a, const AreaPoint& b) {
    const double span = std::max(std::fabs(b.lon - a.lon), std::fabs(b.lat - a.lat));
    const int steps = int(std::ceil(span / CELL_DEGREES)) + 1;
    for (int s = 0; s <= steps; ++s) {
        const double f = double(s) / steps;
        const int64_t column = Cells::index(a.lon + f * (b.lon - a.lon));
        const int64_t row = Cells::index(a.lat + f * (b.lat - a.lat));
        for (int64_t c = column - 1; c <= column + 1; ++c) {
            for (int64_t r = row - 1; r <= row + 1; ++r) {
                auto [first, last] = cells.corners.equal_range(Cells::key(c, r));
                for (auto it = first; it != last; ++it) {
                    if (liesBeside(it->second, a, b)) return true;
                }
            }
        }
    }
    return false;
}

}  // namespace

bool rimGrazesTile(const Cut& cut, const CutArea& band, bool& grazes) {
    grazes = false;
    std::vector<AreaPoint> places;
    if (!tilePlaces(cut, places)) return false;
    Cells cells;
    for (const AreaRing& ring : areaRings(band)) {
        for (const AreaPoint& p : ring) {
            cells.corners.emplace(Cells::key(Cells::index(p.lon), Cells::index(p.lat)), p);
        }
    }
    const MeshBuffers& mesh = cut.mesh;
    for (size_t i = 0; i + 3 <= mesh.indices.count && !grazes; i += 3) {
        for (int k = 0; k < 3 && !grazes; ++k) {
            grazes = edgeGrazed(cells, places[size_t(mesh.indices[i + k])],
                                places[size_t(mesh.indices[i + (k + 1) % 3])]);
        }
    }
    return true;
}

}  // namespace mc
