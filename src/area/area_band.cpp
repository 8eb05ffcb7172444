// An area widened by a band around it (its holes narrowed by the same), and how far a place lies
// from its outline: what a flattening eases the ground back over.
#include <algorithm>
#include <cmath>

// Boost's round join, instantiated here, warns of a point that it always sets
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "area/area.h"
#include "area/area_index.h"
#include "geo/places.h"

namespace mc {

namespace {

// Metres about a place of the area: east with the cosine of its latitude, north.
struct LocalFrame {
    double lon0, lat0, east;
};

LocalFrame frameOf(const CutArea& area) {
    double lat0 = (area.south + area.north) / 2;
    return {(area.west + area.east) / 2, lat0, cosineOfLatitude<double>(lat0) * METRES_PER_DEGREE};
}

// Corners this far apart at most along a round join, so that the band's edge is within a few
// centimetres of the true distance.
constexpr int JOIN_POINTS = 72;

}  // namespace

Area bandAround(const CutArea& area, double metres) {
    const LocalFrame f = frameOf(area);
    MultiPolygon local;
    for (const Polygon& polygon : area.index->shape) {
        Polygon moved;
        auto move = [&](const Polygon::ring_type& ring, Polygon::ring_type& out) {
            for (const Point& p : ring) {
                out.push_back(Point((bg::get<0>(p) - f.lon0) * f.east,
                                    (bg::get<1>(p) - f.lat0) * METRES_PER_DEGREE));
            }
        };
        move(polygon.outer(), moved.outer());
        for (const auto& hole : polygon.inners()) move(hole, moved.inners().emplace_back());
        local.push_back(std::move(moved));
    }
    MultiPolygon widened;
    bg::buffer(local, widened, bg::strategy::buffer::distance_symmetric<double>(metres),
               bg::strategy::buffer::side_straight(), bg::strategy::buffer::join_round(JOIN_POINTS),
               bg::strategy::buffer::end_flat(), bg::strategy::buffer::point_circle(JOIN_POINTS));
    Area band;
    band.name = area.label;
    for (const Polygon& polygon : widened) {
        AreaPolygon& out = band.polygons.emplace_back();
        auto back = [&](const Polygon::ring_type& ring, AreaRing& ringOut) {
            for (const Point& p : ring) {
                ringOut.push_back(
                    {bg::get<0>(p) / f.east + f.lon0, bg::get<1>(p) / METRES_PER_DEGREE + f.lat0});
            }
        };
        back(polygon.outer(), out.outline);
        for (const auto& hole : polygon.inners()) back(hole, out.holes.emplace_back());
    }
    return band;
}

double metresToRings(const MultiPolygon& shape, double lon, double lat) {
    double nearest = INFINITY;
    auto measure = [&](const Polygon::ring_type& ring) {
        for (size_t k = 0; k + 1 < ring.size(); ++k) {
            nearest = std::min(
                nearest, metresToSegment({lon, lat}, {bg::get<0>(ring[k]), bg::get<1>(ring[k])},
                                         {bg::get<0>(ring[k + 1]), bg::get<1>(ring[k + 1])}));
        }
    };
    for (const Polygon& polygon : shape) {
        measure(polygon.outer());
        for (const auto& hole : polygon.inners()) measure(hole);
    }
    return nearest;
}

}  // namespace mc
