// The flattened ground's arithmetic: the plane and level that fit the ground, the ease back to
// it, the fall as the report says it; the band's constrained Delaunay mesh.
#include "flatten/flat_ground.h"

#include "geo/constrained_triangulation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

namespace mc {
namespace {

// A jittered grid of side cells over 1,000 m, heights from a function, two triangles a cell.
struct Grid {
    std::vector<GroundPoint> points;
    std::vector<uint32_t> triangles;
};
template <typename Height>
Grid gridOf(uint32_t side, Height height, std::mt19937& random) {
    Grid g;
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    double cell = 1000.0 / side;
    for (uint32_t row = 0; row <= side; ++row) {
        for (uint32_t column = 0; column <= side; ++column) {
            bool edge = row == 0 || column == 0 || row == side || column == side;
            double x = (column + (edge ? 0 : jitter(random))) * cell;
            double y = (row + (edge ? 0 : jitter(random))) * cell;
            g.points.push_back({x, y, height(x, y)});
        }
    }
    for (uint32_t row = 0; row < side; ++row) {
        for (uint32_t column = 0; column < side; ++column) {
            uint32_t a = row * (side + 1) + column, b = a + 1, c = a + side + 1, d = c + 1;
            g.triangles.insert(g.triangles.end(), {a, b, d, a, d, c});
        }
    }
    return g;
}

std::vector<std::array<GroundPoint, 3>> trianglesOf(const Grid& g) {
    std::vector<std::array<GroundPoint, 3>> out;
    for (size_t k = 0; k + 3 <= g.triangles.size(); k += 3) {
        out.push_back(
            {g.points[g.triangles[k]], g.points[g.triangles[k + 1]], g.points[g.triangles[k + 2]]});
    }
    return out;
}

// A sloping field keeps its slope: the plane through it comes back, bumps symmetric about it or
// not; the level is the mean height; the report's fall is the plane's steepest descent.
TEST(FlatGround, ThePlaneAndTheLevelFitTheGround) {
    std::mt19937 random(11);
    auto plane = [](double x, double y) { return 0.004 * x - 0.002 * y + 300; };
    Grid g = gridOf(9, plane, random);
    FlatSurface fitted, level;
    ASSERT_TRUE(fitPlane(trianglesOf(g), fitted));
    EXPECT_NEAR(fitted.east, 0.004, 1e-12);
    EXPECT_NEAR(fitted.north, -0.002, 1e-12);
    EXPECT_NEAR(heightOf(fitted, 500, 500), plane(500, 500), 1e-9);
    ASSERT_TRUE(meanLevel(trianglesOf(g), level));
    EXPECT_NEAR(level.base, plane(500, 500), 1e-9);  // the mean of a plane over a square
    Fall fall = fallOf(fitted);
    EXPECT_NEAR(fall.percent, 100 * std::hypot(0.004, 0.002), 1e-9);
    EXPECT_NEAR(fall.bearing, 270 + std::atan(0.5) * 180 / M_PI, 1e-9);  // west, a little north
    EXPECT_EQ(fallOf({0, 0, 12}).percent, 0);
    EXPECT_FALSE(fitPlane({}, fitted));
    // a bump in the middle lifts the plane but does not tilt it
    Grid bumped = gridOf(
        20,
        [](double x, double y) {
            return 300 + 5 * std::exp(-((x - 500) * (x - 500) + (y - 500) * (y - 500)) / 20000);
        },
        random);
    ASSERT_TRUE(fitPlane(trianglesOf(bumped), fitted));
    EXPECT_LT(std::hypot(fitted.east, fitted.north), 2e-4);
}

// The ease: flat on the outline, the ground itself from the band's edge on, half way at half,
// and level at both ends (the slope has no kink there).
TEST(FlatGround, TheEaseIsSmoothAtBothEdgesOfTheBand) {
    EXPECT_EQ(groundShare(0, 100), 0);
    EXPECT_EQ(groundShare(100, 100), 1);
    EXPECT_EQ(groundShare(250, 100), 1);
    EXPECT_DOUBLE_EQ(groundShare(50, 100), 0.5);
    EXPECT_LT(groundShare(1, 100) / 1, 1e-3);
    EXPECT_LT((1 - groundShare(99, 100)) / 1, 1e-3);
    EXPECT_EQ(easedHeight(10, 17.3, 100, 100), 17.3);  // the ground's own value, not a sum's
    EXPECT_EQ(groundShare(0, 0), 0);
    EXPECT_EQ(groundShare(0.5, 0), 1);
}

// The band's mesh: a jittered grid in two terrains (west and east of a ragged line), made
// Delaunay, points put in anywhere (some on edges) and the grid's inner points taken out: every
// triangle turns counter-clockwise, each terrain covers what it covered, the region's border and
// the terrains' border stay edges (one triangle on the border, two across the terrains' one),
// and no edge that may flip has its far corner inside the other triangle's circle.
TEST(ConstrainedTriangulation, StaysDelaunayAndKeepsItsEdges) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        std::mt19937 random{seed};
        const uint32_t side = 3 + seed * 3;
        Grid g = gridOf(
            side, [](double, double) { return 0.0; }, random);
        std::vector<PlanePoint> points;
        for (const GroundPoint& p : g.points) points.push_back({p.x, p.y});
        std::vector<uint32_t> tags;
        for (size_t k = 0; k + 3 <= g.triangles.size(); k += 3) {
            tags.push_back(points[g.triangles[k]].x + points[g.triangles[k + 1]].x +
                                       points[g.triangles[k + 2]].x >
                                   1500
                               ? 1
                               : 0);
        }
        auto areas = [](const ConstrainedTriangulation& t) {
            std::array<double, 2> sum = {0, 0};
            for (uint32_t k = 0; k < t.tags.size(); ++k) {
                if (isGone(t, k)) continue;
                const double turn =
                    turnOf(t.points[t.corners[3 * k]], t.points[t.corners[3 * k + 1]],
                           t.points[t.corners[3 * k + 2]]);
                EXPECT_GT(turn, 0);
                sum[t.tags[k]] += turn / 2;
            }
            return sum;
        };
        ConstrainedTriangulation t =
            constrainedTriangulationOf(points, g.triangles, tags, 50,
                                       [&](uint32_t a, uint32_t b) { return tags[a] != tags[b]; });
        const auto before = areas(t);
        makeDelaunay(t);
        std::uniform_real_distribution<double> place(1, 999);
        for (int n = 0; n < 200; ++n) {
            const PlanePoint p{place(random), place(random)};
            const uint32_t k = triangleUnder(t, p);
            ASSERT_NE(k, NO_TRIANGLE);
            if (n % 5 == 0) {  // on the middle of one of its edges that may flip
                for (int j = 0; j < 3; ++j) {
                    if (t.kept[3 * k + uint32_t(j)]) continue;
                    const PlanePoint &a = t.points[t.corners[3 * k + uint32_t(j)]],
                                     &b = t.points[t.corners[3 * k + uint32_t(j + 1) % 3]];
                    insertOnEdge(t, k, j, {(a.x + b.x) / 2, (a.y + b.y) / 2});
                    break;
                }
            } else {
                insertInTriangle(t, k, p);
            }
        }
        size_t removed = 0;
        for (uint32_t k = 0; k < t.tags.size(); ++k) {
            for (int j = 0; j < 3 && !isGone(t, k); ++j) {
                if (t.corners[3 * k + uint32_t(j)] < points.size() &&
                    removePoint(t, k, t.corners[3 * k + uint32_t(j)])) {
                    ++removed;
                }
            }
        }
        EXPECT_GT(removed, side) << "seed " << seed;
        const auto after = areas(t);
        for (int tag = 0; tag < 2; ++tag) EXPECT_NEAR(after[tag], before[tag], 1e-6) << seed;
        std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> beside;
        for (uint32_t k = 0; k < t.tags.size(); ++k) {
            for (int j = 0; j < 3 && !isGone(t, k); ++j) {
                beside[std::minmax(t.corners[3 * k + uint32_t(j)],
                                   t.corners[3 * k + uint32_t(j + 1) % 3])]
                    .push_back(k);
            }
        }
        double border = 0;
        for (const auto& [edge, triangles] : beside) {
            const PlanePoint &a = t.points[edge.first], &b = t.points[edge.second];
            ASSERT_LE(triangles.size(), 2u);
            if (triangles.size() == 1) {
                border += std::hypot(b.x - a.x, b.y - a.y);
                continue;
            }
            const uint32_t k = triangles[0], other = triangles[1];
            if (t.tags[k] != t.tags[other]) continue;  // the terrains' border: kept
            uint32_t far = 0;
            for (int j = 0; j < 3; ++j) {
                const uint32_t c = t.corners[3 * other + uint32_t(j)];
                if (c != edge.first && c != edge.second) far = c;
            }
            const PlanePoint &p = t.points[t.corners[3 * k]], &q = t.points[t.corners[3 * k + 1]],
                             &r = t.points[t.corners[3 * k + 2]], &d = t.points[far];
            // the far corner's distance from the circle's centre, against its radius
            const double ax = p.x - d.x, ay = p.y - d.y, bx = q.x - d.x, by = q.y - d.y,
                         cx = r.x - d.x, cy = r.y - d.y;
            const double inside = (ax * ax + ay * ay) * (bx * cy - cx * by) -
                                  (bx * bx + by * by) * (ax * cy - cx * ay) +
                                  (cx * cx + cy * cy) * (ax * by - bx * ay);
            EXPECT_LE(inside, 1e-6 * std::pow(ax * ax + ay * ay + bx * bx + by * by, 2)) << seed;
        }
        EXPECT_NEAR(border, 4000, 1e-6) << "seed " << seed;
    }
}

}  // namespace
}  // namespace mc
