// The area's index, inside the cut's room: the Boost.Geometry shapes an area and a clip region
// are kept as, and the bands and grids that answer point and box queries without walking every
// edge. Shared by the area's checks and the clip region's pieces.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>
// exact intersections of doubles, not rounded to a grid of integers over the operands
#define BOOST_GEOMETRY_NO_ROBUSTNESS
#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>

#include "area/area.h"

namespace mc {

namespace bg = boost::geometry;
using Point = bg::model::d2::point_xy<double>;  // longitude, latitude
using Polygon = bg::model::polygon<Point>;      // outlines clockwise, holes the other way, closed
using MultiPolygon = bg::model::multi_polygon<Polygon>;
using Box = bg::model::box<Point>;

// Edges filed under every band of longitude they reach: a point's band holds every edge that
// can count for it, so that a test looks at a few edges however many the outline has.
struct EdgeBands {
    std::vector<std::pair<Point, Point>> edges;
    std::vector<uint32_t> ringOf;  // per edge: its ring, in ringsOf's order
    double west = 0, width = 1;
    int64_t count = 0;
    std::vector<uint32_t> start;   // per band, and one past the last
    std::vector<uint32_t> inBand;  // edge numbers, band by band
};

// A grid over the area's extent whose cells no edge comes near (nor near a neighbour) answer
// for every point in them at once: most corners of a big cut lie far from the outline.
enum class Cell : uint8_t { nearEdge, inside, outside };
struct CellGrid {
    int64_t columns = 0, rows = 0;
    double west = 0, south = 0, width = 1, height = 1;
    std::vector<Cell> cells;
};

struct AreaIndex {
    MultiPolygon shape;
    EdgeBands bands;
    CellGrid grid;
};

// The region, and pieces of it cut out lazily for a triangle to be clipped against, so that a
// triangle meets a few of the outline's edges, not all of them. Level by level the window is cut
// into 2 x 2 times more cells; a cell's piece is the region inside the cell grown by a quarter of
// its size on every side, so a triangle less than half a cell across whose middle lies in the
// cell lies inside the grown cell, and its intersection with the piece is its intersection with
// the region. A piece is cut from its parent's, whose grown cell holds the child's.
// Polygons with their boxes: a shape is met polygon by polygon, those whose box misses left out,
// so that Boost's overlay looks for self-touching places only where a polygon has holes.
struct Piece {
    MultiPolygon shape;
    std::vector<Box> boxes;
};

struct ClipIndex {
    Piece region;     // the window, or the area's part inside it
    EdgeBands bands;  // of the region's outline
    Box window;
    int levels = 0;  // the finest level's pieces hold a few edges each
    // filled as triangles ask; a ClipRegion serves one thread
    mutable std::unordered_map<uint64_t, Piece> pieces;
};

/// The number of the slot a position falls in, 0 to count - 1: clamped before it becomes an
/// integer, since a point far outside would not fit one.
int64_t slotOf(double position, int64_t count);
/// The band of longitude a longitude falls in.
int64_t bandOf(const EdgeBands& b, double lon);
/// Files the rings' edges under every band of longitude from west to east they reach.
void fileEdges(EdgeBands& b, const std::vector<const Polygon::ring_type*>& rings, double west,
               double east);
/// Each polygon's box, beside it.
void boxEach(Piece& piece);
/// The shape's rings, outline before holes, polygon by polygon.
std::vector<const Polygon::ring_type*> ringsOf(const MultiPolygon& shape);

/// Corners that lie within `metres` of the line through the corners kept on either side are
/// dropped: a flattened curve's nearly straight stretches, which would leave slivers in a clip.
void dropNearlyStraightCorners(MultiPolygon& shape, double metres);

/// What the polygons enclose, as valid polygons: each polygon's rings by the even-odd rule (a
/// ring crossing itself, an edge walked out and back, a hole outside its outline), then the
/// polygons' union. `crossing` is where a ring first crosses itself or another, `holeOutside`
/// whether a hole lies wholly outside its outline.
MultiPolygon enclosedArea(const MultiPolygon& shape, std::optional<Point>& crossing,
                          bool& holeOutside);

/// How far a place lies from the rings of a shape, in metres (east scaled by the place's
/// latitude).
double metresToRings(const MultiPolygon& shape, double lon, double lat);

}  // namespace mc
