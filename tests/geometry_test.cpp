// The ground's geometry against brute force: metres between places and to segments, the
// distance index of an outline, a triangle's clipped parts, the ring of a neighbour of a split
// triangle, and a path's folder.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "area/area.h"
#include "area/clipped_parts.h"
#include "area/near_outline.h"
#include "geo/edge_points.h"
#include "geo/places.h"
#include "platform/file_names.h"

namespace mc {
namespace {

double uniform(std::mt19937_64& random, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
}

// Great-circle metres on the tool's sphere (a degree of latitude is METRES_PER_DEGREE).
double haversineMetres(const AreaPoint& a, const AreaPoint& b) {
    const double toRad = std::numbers::pi / 180, radius = METRES_PER_DEGREE / toRad;
    double dLat = (b.lat - a.lat) * toRad, dLon = (b.lon - a.lon) * toRad;
    double h =
        std::sin(dLat / 2) * std::sin(dLat / 2) +
        std::cos(a.lat * toRad) * std::cos(b.lat * toRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * radius * std::asin(std::sqrt(h));
}

// The nearest point of a segment by ternary search over its length, in metres around p.
double bruteMetresToSegment(const AreaPoint& p, const AreaPoint& a, const AreaPoint& b) {
    auto at = [&](double t) {
        return haversineMetres(p, {a.lon + t * (b.lon - a.lon), a.lat + t * (b.lat - a.lat)});
    };
    double low = 0, high = 1;
    for (int k = 0; k < 200; ++k) {
        double m1 = low + (high - low) / 3, m2 = high - (high - low) / 3;
        if (at(m1) < at(m2)) {
            high = m2;
        } else {
            low = m1;
        }
    }
    return at((low + high) / 2);
}

// Over the few metres where the tool asks them (points one within a millimetre, a point on a
// side), distances agree with the sphere's to a tenth of a millimetre, in both hemispheres.
TEST(Places, MetresBetweenAndToSegmentsMatchTheSphere) {
    std::mt19937_64 random(11);
    for (int round = 0; round < 3000; ++round) {
        const AreaPoint p{uniform(random, -179, 179), uniform(random, -80, 80)};
        const double span = 10 / METRES_PER_DEGREE;  // about ten metres
        const AreaPoint a{p.lon + uniform(random, -span, span),
                          p.lat + uniform(random, -span, span)};
        const AreaPoint b{p.lon + uniform(random, -span, span),
                          p.lat + uniform(random, -span, span)};
        EXPECT_NEAR(metresBetween(p, a), haversineMetres(p, a), 1e-4) << round;
        const SegmentOffset offset = offsetToSegment(p, a, b);
        EXPECT_NEAR(offset.metres(), bruteMetresToSegment(p, a, b), 1e-4) << round;
        const double s = std::clamp(offset.along, 0.0, 1.0);
        const AreaPoint nearest{a.lon + s * (b.lon - a.lon), a.lat + s * (b.lat - a.lat)};
        EXPECT_NEAR(metresBetween(p, nearest), offset.metres(), 1e-6) << round;
    }
}

TEST(Places, APointOnASegmentIsOnItWithinAMillimetre) {
    const AreaPoint a{7.5, 45.5}, b{7.501, 45.5005};
    const double length = metresBetween(a, b);
    for (double off : {0.0, 0.0005, -0.0009, 0.0011, -0.002, 0.5}) {
        // a point halfway, `off` metres to the left of the segment
        const double cosine = cosineOfLatitude<double>(45.50025);
        const double east = (b.lon - a.lon) * cosine * METRES_PER_DEGREE,
                     north = (b.lat - a.lat) * METRES_PER_DEGREE;
        const AreaPoint p{(a.lon + b.lon) / 2 - north / length * off / (cosine * METRES_PER_DEGREE),
                          (a.lat + b.lat) / 2 + east / length * off / METRES_PER_DEGREE};
        EXPECT_EQ(isOnSegment(p, a, b), std::fabs(off) <= POINT_TOLERANCE_METRES) << off;
    }
}

// A wavy ring around a centre, with a wavy hole inside it.
Area wavyArea(std::mt19937_64& random, double lon, double lat) {
    Area area;
    AreaPolygon& polygon = area.polygons.emplace_back();
    AreaRing& hole = polygon.holes.emplace_back();
    const int corners = 12 + int(random() % 60);
    const double size = uniform(random, 0.002, 0.02), waves = double(random() % 5);
    for (int k = 0; k < corners; ++k) {
        double angle = 2 * std::numbers::pi * k / corners;
        double r = size * (1 + 0.3 * std::sin(waves * angle));
        polygon.outline.push_back({lon + r * std::cos(angle), lat + r * std::sin(angle)});
        hole.push_back({lon + 0.3 * r * std::cos(angle), lat + 0.3 * r * std::sin(angle)});
    }
    return area;
}

// The index's distance from a place outside the airport is brute force's over every edge of its
// rings, within a millimetre; past the reach it is the reach.
TEST(NearOutline, DistancesAreBruteForcesUpToTheReach) {
    std::mt19937_64 random(5);
    int within = 0, beyond = 0;
    for (int round = 0; round < 40; ++round) {
        const double lon = uniform(random, -170, 170), lat = uniform(random, -70, 70);
        CutArea airport;
        ASSERT_TRUE(prepareArea(wavyArea(random, lon, lat), "test", airport).ok());
        const double reach = uniform(random, 5, 300);
        const NearOutline near = nearOutlineOf(airport, reach);
        const std::vector<AreaRing> rings = areaRings(airport);
        for (int k = 0; k < 300; ++k) {
            const AreaPoint p{uniform(random, airport.west - 0.01, airport.east + 0.01),
                              uniform(random, airport.south - 0.01, airport.north + 0.01)};
            if (isInsideArea(airport, p.lon, p.lat)) continue;
            double brute = INFINITY;
            for (const AreaRing& ring : rings) {
                for (size_t e = 0; e + 1 < ring.size(); ++e) {
                    brute = std::min(brute, metresToSegment(p, ring[e], ring[e + 1]));
                }
            }
            const double indexed = metresToNearOutline(near, p);
            if (brute < reach - 0.001) {
                ++within;
                EXPECT_NEAR(indexed, brute, 0.001) << round << " " << k;
            } else {
                ++beyond;
                EXPECT_GE(indexed, std::min(brute, reach) - 0.001) << round << " " << k;
            }
        }
    }
    EXPECT_GT(within, 1000);
    EXPECT_GT(beyond, 1000);
}

double triangleArea(const ClippedPart& part, size_t k) {
    const AreaPoint &a = part.places[part.triangles[k]], &b = part.places[part.triangles[k + 1]],
                    &c = part.places[part.triangles[k + 2]];
    return ((b.lon - a.lon) * (c.lat - a.lat) - (b.lat - a.lat) * (c.lon - a.lon)) / 2;
}

// A triangle's parts inside and outside a region, triangulated, cover it exactly: their areas add
// up to its own, each part's triangles lie on its side of the outline.
TEST(ClippedParts, InsideAndOutsideCoverTheTriangle) {
    std::mt19937_64 random(3);
    CutArea airport;
    ASSERT_TRUE(prepareArea(wavyArea(random, 7.5, 45.5), "test", airport).ok());
    const ClipRegion region = clipRegionOf(
        {airport.south - 1, airport.north + 1, airport.west - 1, airport.east + 1}, &airport);
    ClippedPart part;
    for (int round = 0; round < 500; ++round) {
        AreaPoint t[3];
        for (AreaPoint& corner : t) {
            corner = {uniform(random, airport.west, airport.east),
                      uniform(random, airport.south, airport.north)};
        }
        const double whole = std::fabs((t[1].lon - t[0].lon) * (t[2].lat - t[0].lat) -
                                       (t[1].lat - t[0].lat) * (t[2].lon - t[0].lon)) /
                             2;
        double covered = 0;
        for (PartsOf side : {PartsOf::inside, PartsOf::outside}) {
            forEachClippedPart(region, t, side, part, [&](ClippedPart& p) {
                triangulateInDegrees(p);
                for (size_t k = 0; k + 3 <= p.triangles.size(); k += 3) {
                    const double area = std::fabs(triangleArea(p, k));
                    covered += area;
                    if (area < 1e-12) continue;
                    const AreaPoint &a = p.places[p.triangles[k]],
                                    &b = p.places[p.triangles[k + 1]],
                                    &c = p.places[p.triangles[k + 2]];
                    const AreaPoint middle{(a.lon + b.lon + c.lon) / 3,
                                           (a.lat + b.lat + c.lat) / 3};
                    EXPECT_EQ(isInsideArea(airport, middle.lon, middle.lat),
                              side == PartsOf::inside)
                        << round;
                }
                return true;
            });
        }
        EXPECT_NEAR(covered, whole, whole * 1e-9 + 1e-15) << round;
    }
}

// The ring runs corner, its edge's points nearest first, next corner; a point twice in a row is
// put in once; the edges with points are counted.
TEST(EdgePoints, TheRingRunsAlongEachEdgeInOrder) {
    const int corners[3] = {0, 1, 2};
    std::vector<std::pair<double, int>> along;
    std::vector<int> ring;
    int lastEdge = -1;
    auto pointsOn = [](int edge, std::vector<std::pair<double, int>>& found) {
        if (edge == 0) found = {{3.0, 12}, {1.0, 10}, {2.0, 11}, {2.0, 11}};
        if (edge == 2) found = {{0.5, 20}};
    };
    EXPECT_EQ(ringWithEdgePoints(corners, pointsOn, along, ring, lastEdge), 2);
    EXPECT_EQ(ring, (std::vector<int>{0, 10, 11, 12, 1, 2, 20}));
    EXPECT_EQ(lastEdge, 2);
    auto none = [](int, std::vector<std::pair<double, int>>&) {};
    EXPECT_EQ(ringWithEdgePoints(corners, none, along, ring, lastEdge), 0);
    EXPECT_EQ(ring, (std::vector<int>{0, 1, 2}));
}

TEST(FileNames, FoldersByEitherSeparator) {
    const struct {
        const char *path, *part, *folder, *name;
    } cases[] = {
        {"a/b/tile.dsf", "a/b/", "a/b", "tile.dsf"},
        {"a\\b\\tile.dsf", "a\\b\\", "a\\b", "tile.dsf"},
        {"C:\\scenery/x\\tile.txt", "C:\\scenery/x\\", "C:\\scenery/x", "tile.txt"},
        {"tile.dsf", "", ".", "tile.dsf"},
        {"/tile.dsf", "/", "/", "tile.dsf"},
        {"folder/", "folder/", "folder", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(folderPartOf(c.path), c.part) << c.path;
        EXPECT_EQ(folderOf(c.path), c.folder) << c.path;
        EXPECT_EQ(fileNameOf(c.path), c.name) << c.path;
    }
}

}  // namespace
}  // namespace mc
