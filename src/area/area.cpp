// An area checked and indexed: its rings corrected, refused where they cross or overlap, and
// points tested against it band by band or cell by cell.
#include "area/area.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "area/area_index.h"
#include "text/whole_numbers.h"

namespace mc {

int64_t slotOf(double position, int64_t count) {
    if (!(position >= 0)) return 0;
    if (position >= double(count - 1)) return count - 1;
    return int64_t(position);
}

int64_t bandOf(const EdgeBands& b, double lon) {
    return slotOf(std::floor((lon - b.west) / b.width), b.count);
}

void fileEdges(EdgeBands& b, const std::vector<const Polygon::ring_type*>& rings, double west,
               double east) {
    for (uint32_t r = 0; r < rings.size(); ++r) {
        for (size_t k = 0; k + 1 < rings[r]->size(); ++k) {
            b.edges.push_back({(*rings[r])[k], (*rings[r])[k + 1]});
            b.ringOf.push_back(r);
        }
    }
    // bands about a quarter of an edge wide, so that a band holds the few edges that cross its
    // longitude and little more; fewer where edges are long, so that filing them stays within
    // about 16 entries an edge
    double reach = 0;
    for (const auto& edge : b.edges)
        reach += std::abs(bg::get<0>(edge.second) - bg::get<0>(edge.first));
    double edges = double(b.edges.size());
    double count = std::min(4 * edges, reach > 0 ? 16 * edges * (east - west) / reach : 1.0);
    b.west = west;
    b.count = std::clamp<int64_t>(int64_t(count), 1, int64_t(1) << 22);
    b.width = std::max((east - west) / double(b.count), 1e-12);
    b.start.assign(size_t(b.count) + 1, 0);
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t e = 0; e < b.edges.size(); ++e) {
            double x0 = bg::get<0>(b.edges[e].first), x1 = bg::get<0>(b.edges[e].second);
            for (int64_t band = bandOf(b, std::min(x0, x1)); band <= bandOf(b, std::max(x0, x1));
                 ++band) {
                if (pass == 0) {
                    ++b.start[size_t(band) + 1];
                } else {
                    b.inBand[b.start[size_t(band)]++] = e;
                }
            }
        }
        if (pass == 0) {
            for (size_t k = 0; k + 1 < b.start.size(); ++k) b.start[k + 1] += b.start[k];
            b.inBand.resize(b.start.back());
        }
    }
    std::copy_backward(b.start.begin(), b.start.end() - 1, b.start.end());
    b.start[0] = 0;
}

void boxEach(Piece& piece) {
    piece.boxes.clear();
    for (const Polygon& polygon : piece.shape)
        piece.boxes.push_back(bg::return_envelope<Box>(polygon));
}

std::vector<const Polygon::ring_type*> ringsOf(const MultiPolygon& shape) {
    std::vector<const Polygon::ring_type*> rings;
    for (const Polygon& polygon : shape) {
        rings.push_back(&polygon.outer());
        for (const auto& hole : polygon.inners()) rings.push_back(&hole);
    }
    return rings;
}

namespace {

constexpr double PLACE_DECIMALS = 1e6;

// Boost's winding count over the edges of the point's band: 1 inside, 0 on an edge, -1 outside.
int windingOf(const EdgeBands& b, const Point& point) {
    if (b.count == 0) return -1;
    using Strategy = bg::strategy::within::cartesian_winding<Point, Point>;
    Strategy::state_type state;
    int64_t band = bandOf(b, bg::get<0>(point));
    for (uint32_t k = b.start[size_t(band)]; k < b.start[size_t(band) + 1]; ++k) {
        const auto& edge = b.edges[b.inBand[k]];
        if (!Strategy::apply(point, edge.first, edge.second, state)) break;  // on the edge
    }
    return Strategy::result(state);
}

Polygon::ring_type boostRing(const AreaRing& ring) {
    Polygon::ring_type out;
    for (const AreaPoint& p : ring) out.push_back(Point(p.lon, p.lat));
    return out;
}

int64_t cellColumn(const CellGrid& g, double lon) {
    return slotOf(std::floor((lon - g.west) / g.width), g.columns);
}

int64_t cellRow(const CellGrid& g, double lat) {
    return slotOf(std::floor((lat - g.south) / g.height), g.rows);
}

// Cells near an edge are marked with their neighbours, so that a point computed into the cell
// next to its own still finds a cell that answers rightly; the grid is made coarser until the
// marking stays within about 64 cells an edge.
void gridCells(const EdgeBands& b, double west, double east, double south, double north,
               CellGrid& g) {
    if (b.edges.empty() || !(west < east && south < north)) return;
    int64_t side = std::clamp<int64_t>(int64_t(4 * std::sqrt(double(b.edges.size()))), 16, 1024);
    for (;; side /= 2) {
        g = {side, side, west, south, (east - west) / double(side), (north - south) / double(side),
             {}};
        double marked = 0;
        for (const auto& edge : b.edges) {
            Box box = bg::return_envelope<Box>(bg::model::segment<Point>(edge.first, edge.second));
            marked += double(cellColumn(g, bg::get<0>(box.max_corner())) -
                             cellColumn(g, bg::get<0>(box.min_corner())) + 3) *
                      double(cellRow(g, bg::get<1>(box.max_corner())) -
                             cellRow(g, bg::get<1>(box.min_corner())) + 3);
        }
        if (marked <= 64 * double(b.edges.size()) + double(side * side) || side <= 16) break;
    }
    g.cells.assign(size_t(g.columns * g.rows), Cell::outside);
    for (const auto& edge : b.edges) {
        Box box = bg::return_envelope<Box>(bg::model::segment<Point>(edge.first, edge.second));
        for (int64_t row = std::max<int64_t>(cellRow(g, bg::get<1>(box.min_corner())) - 1, 0);
             row <= std::min(cellRow(g, bg::get<1>(box.max_corner())) + 1, g.rows - 1); ++row) {
            for (int64_t column =
                     std::max<int64_t>(cellColumn(g, bg::get<0>(box.min_corner())) - 1, 0);
                 column <= std::min(cellColumn(g, bg::get<0>(box.max_corner())) + 1, g.columns - 1);
                 ++column) {
                g.cells[size_t(row * g.columns + column)] = Cell::nearEdge;
            }
        }
    }
    // along a row, cells with no edge near between them lie on the same side
    for (int64_t row = 0; row < g.rows; ++row) {
        Cell side = Cell::nearEdge;
        for (int64_t column = 0; column < g.columns; ++column) {
            Cell& cell = g.cells[size_t(row * g.columns + column)];
            if (cell == Cell::nearEdge) {
                side = Cell::nearEdge;
                continue;
            }
            if (side == Cell::nearEdge) {
                Point middle(g.west + (double(column) + 0.5) * g.width,
                             g.south + (double(row) + 0.5) * g.height);
                side = windingOf(b, middle) == 1 ? Cell::inside : Cell::outside;
            }
            cell = side;
        }
    }
}

// Whether two edges meet where a valid area may not: edges of one ring only at the corner one
// shares with the next, edges of two rings at most at single corners.
bool meetWrongly(const EdgeBands& b, uint32_t i, uint32_t j, Point& at) {
    using Segment = bg::model::segment<Point>;
    const auto &e = b.edges[i], &f = b.edges[j];
    using Side = bg::strategy::side::side_by_triangle<>;
    bool follows = b.ringOf[i] == b.ringOf[j] && bg::equals(e.second, f.first);
    bool precedes = b.ringOf[i] == b.ringOf[j] && bg::equals(f.second, e.first);
    // edges that follow one another and turn meet at their shared corner only
    if (follows && Side::apply(e.first, e.second, f.second) != 0) return false;
    if (precedes && Side::apply(f.first, f.second, e.second) != 0) return false;
    Box boxE = bg::return_envelope<Box>(Segment(e.first, e.second));
    Box boxF = bg::return_envelope<Box>(Segment(f.first, f.second));
    if (!bg::intersects(boxE, boxF)) return false;
    std::vector<Point> points;
    bg::intersection(Segment(e.first, e.second), Segment(f.first, f.second), points);
    if (points.empty()) return false;
    at = points[0];
    if (points.size() > 1) return true;  // along a stretch
    bool atCornerOfE = bg::equals(at, e.first) || bg::equals(at, e.second);
    bool atCornerOfF = bg::equals(at, f.first) || bg::equals(at, f.second);
    if (b.ringOf[i] != b.ringOf[j]) return !(atCornerOfE || atCornerOfF);
    bool neighbours = bg::equals(e.second, f.first) || bg::equals(f.second, e.first);
    return !(neighbours && atCornerOfE && atCornerOfF);
}

// Where two edges first meet wrongly, band by band, so that a big outline is not tested pair by
// pair; within a band only edges whose latitudes overlap are compared. Empty when none meet so.
std::string firstCrossing(const EdgeBands& b) {
    struct Span {
        double south, north;
        uint32_t edge;
    };
    std::vector<Span> spans;
    for (int64_t band = 0; band < b.count; ++band) {
        spans.clear();
        for (uint32_t k = b.start[size_t(band)]; k < b.start[size_t(band) + 1]; ++k) {
            const auto& edge = b.edges[b.inBand[k]];
            double y0 = bg::get<1>(edge.first), y1 = bg::get<1>(edge.second);
            spans.push_back({std::min(y0, y1), std::max(y0, y1), b.inBand[k]});
        }
        std::sort(spans.begin(), spans.end(),
                  [](const Span& x, const Span& y) { return x.south < y.south; });
        for (size_t i = 0; i < spans.size(); ++i) {
            for (size_t j = i + 1; j < spans.size() && spans[j].south <= spans[i].north; ++j) {
                Point at;
                if (!meetWrongly(b, spans[i].edge, spans[j].edge, at)) continue;
                return " at " +
                       placeText(std::round(bg::get<0>(at) * PLACE_DECIMALS) / PLACE_DECIMALS,
                                 std::round(bg::get<1>(at) * PLACE_DECIMALS) / PLACE_DECIMALS);
            }
        }
    }
    return {};
}

// Where a ring lies against another that meets it at corners at most: its first corner not on
// the other's edges, inside (1) or outside (-1); 0 when every corner is on them.
template <typename Ring>
int sideOf(const Ring& ring, const Ring& other) {
    for (const Point& corner : ring) {
        if (bg::within(corner, other)) return 1;
        if (!bg::covered_by(corner, other)) return -1;
    }
    return 0;
}

// An area's rings checked as a valid area needs them: each at least three corners apart and
// enclosing some area, no two edges crossing or running along each other, every hole inside
// its outline and outside the other holes, no outline inside another polygon. Edges are
// compared band by band, then each ring is placed against the others by one corner.
std::string invalidity(const MultiPolygon& shape, const EdgeBands& bands) {
    for (const auto* ring : ringsOf(shape)) {
        if (ring->size() < 4) return "a ring has fewer than three corners apart";
    }
    if (std::string crossing = firstCrossing(bands); !crossing.empty()) {
        return "an outline crosses itself or another" + crossing;
    }
    for (const auto* ring : ringsOf(shape)) {
        if (bg::area(*ring) == 0) return "a ring encloses no area";
    }
    std::vector<Box> extents;
    for (const Polygon& polygon : shape)
        extents.push_back(bg::return_envelope<Box>(polygon.outer()));
    for (size_t p = 0; p < shape.size(); ++p) {
        const auto& holes = shape[p].inners();
        for (size_t h = 0; h < holes.size(); ++h) {
            if (sideOf(holes[h], shape[p].outer()) < 0) return "a hole lies outside its outline";
            for (size_t other = 0; other < holes.size(); ++other) {
                if (other != h && sideOf(holes[h], holes[other]) > 0) {
                    return "a hole lies inside another hole";
                }
            }
        }
        for (size_t q = 0; q < shape.size(); ++q) {
            if (q == p || !bg::intersects(extents[p], extents[q])) continue;
            if (sideOf(shape[p].outer(), shape[q].outer()) <= 0) continue;
            bool inHole = false;
            for (const auto& hole : shape[q].inners())
                inHole = inHole || sideOf(shape[p].outer(), hole) > 0;
            if (!inHole) return "two outlines overlap";
        }
    }
    return {};
}

// The first corner that is not finite or lies off the globe, as text; empty when none does.
std::string cornerOffTheGlobe(const Area& area) {
    for (const AreaPolygon& polygon : area.polygons) {
        std::vector<const AreaRing*> rings{&polygon.outline};
        for (const AreaRing& hole : polygon.holes) rings.push_back(&hole);
        for (const AreaRing* ring : rings) {
            for (const AreaPoint& p : *ring) {
                if (!(std::abs(p.lon) <= 180 && std::abs(p.lat) <= 90)) {
                    char text[64];  // the shortest form of each, "inf" and "nan" included
                    char* end = std::to_chars(text, text + 30, p.lon).ptr;
                    *end++ = ' ';
                    end = std::to_chars(end, text + sizeof text, p.lat).ptr;
                    return std::string(text, end);
                }
            }
        }
    }
    return {};
}

// The shape's extent, and its edges by band.
void indexEdges(AreaIndex& index, CutArea& prepared) {
    prepared.west = prepared.south = INFINITY, prepared.east = prepared.north = -INFINITY;
    for (const auto* ring : ringsOf(index.shape)) {
        for (const Point& p : *ring) {
            prepared.west = std::min(prepared.west, p.x()),
            prepared.east = std::max(prepared.east, p.x());
            prepared.south = std::min(prepared.south, p.y()),
            prepared.north = std::max(prepared.north, p.y());
        }
    }
    index.bands = EdgeBands{};
    fileEdges(index.bands, ringsOf(index.shape), prepared.west, prepared.east);
}

bool encloseNothing(const std::string& problem) {
    return problem.starts_with("a ring has fewer") || problem.starts_with("a ring encloses no");
}

// The shape replaced by what its rings enclose; what the user should know of it, or nothing
// (a ring that only touches itself, an edge walked out and back, overlapping boundaries).
std::string takeWhatItEncloses(AreaIndex& index, const std::string& name) {
    std::optional<Point> crossing;
    bool holeOutside = false;
    index.shape = enclosedArea(index.shape, crossing, holeOutside);
    bg::correct(index.shape);
    if (crossing) {
        return "the outline of " + name + " crosses itself at " +
               placeText(std::round(crossing->x() * PLACE_DECIMALS) / PLACE_DECIMALS,
                         std::round(crossing->y() * PLACE_DECIMALS) / PLACE_DECIMALS) +
               "; the area is what it encloses";
    }
    if (holeOutside) {
        return "a hole of " + name + " lies outside its outline; the area is what it encloses";
    }
    return {};
}

}  // namespace

Status prepareArea(const Area& area, const std::string& fileName, CutArea& prepared) {
    std::string label = (area.name.empty() ? "" : area.name + " ") + "from " + fileName;
    if (std::string corner = cornerOffTheGlobe(area); !corner.empty()) {
        return failedWith(Failure::readArea,
                          "the area " + label +
                              " cannot be cut along: a corner is no longitude and latitude (" +
                              corner + ")");
    }
    auto index = std::make_shared<AreaIndex>();
    for (const AreaPolygon& polygon : area.polygons) {
        Polygon p;
        p.outer() = boostRing(polygon.outline);
        for (const AreaRing& hole : polygon.holes) p.inners().push_back(boostRing(hole));
        index->shape.push_back(std::move(p));
    }
    bg::correct(index->shape);  // closed rings, outlines one way and holes the other
    bg::unique(index->shape);   // a corner given twice in a row counts once
    bg::remove_spikes(index->shape);
    dropNearlyStraightCorners(index->shape, SAME_PLACE_METRES);
    indexEdges(*index, prepared);
    std::string problem = invalidity(index->shape, index->bands);
    if (!problem.empty() && !encloseNothing(problem)) {
        // odd but meaningful: what the rings enclose, by the even-odd rule, then checked again
        try {
            prepared.note = takeWhatItEncloses(*index, area.name.empty() ? fileName : area.name);
            indexEdges(*index, prepared);
            problem = index->shape.empty() ? "its rings enclose nothing"
                                           : invalidity(index->shape, index->bands);
        } catch (const std::exception& error) {  // Boost's overlay gave up on the rings
            problem += " in a way that cannot be taken apart (" + std::string(error.what()) + ")";
        }
    }
    if (!problem.empty()) {
        return failedWith(Failure::readArea,
                          "the area " + label + " cannot be cut along: " + problem);
    }
    gridCells(index->bands, prepared.west, prepared.east, prepared.south, prepared.north,
              index->grid);
    prepared.label = label;
    prepared.outlines = index->shape.size();
    prepared.holes = prepared.corners = 0;
    for (const Polygon& polygon : index->shape) {
        prepared.holes += polygon.inners().size();
        prepared.corners += polygon.outer().size() - 1;
        for (const auto& hole : polygon.inners()) prepared.corners += hole.size() - 1;
    }
    prepared.index = std::move(index);
    return {};
}

bool isInsideArea(const CutArea& area, double lon, double lat) {
    if (!(area.west < lon && lon < area.east && area.south < lat && lat < area.north)) return false;
    const CellGrid& g = area.index->grid;
    if (!g.cells.empty()) {
        Cell cell = g.cells[size_t(cellRow(g, lat) * g.columns + cellColumn(g, lon))];
        if (cell != Cell::nearEdge) return cell == Cell::inside;
    }
    return windingOf(area.index->bands, Point(lon, lat)) == 1;
}

std::vector<AreaRing> areaRings(const CutArea& area) {
    std::vector<AreaRing> rings;
    for (const auto* ring : ringsOf(area.index->shape)) {
        AreaRing& out = rings.emplace_back();
        for (const Point& p : *ring) out.push_back({bg::get<0>(p), bg::get<1>(p)});
    }
    return rings;
}

namespace {

std::string counted(size_t count, const char* what) {
    return intToText(int64_t(count)) + " " + what + (count == 1 ? "" : "s");
}

}  // namespace

std::string areaSummary(const CutArea& area) {
    return "area " + area.label + ": " + counted(area.outlines, "outline") + ", " +
           counted(area.holes, "hole") + ", " + counted(area.corners, "corner");
}

}  // namespace mc
