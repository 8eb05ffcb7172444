// The flattened ground's arithmetic: the plane and level that fit the ground, the ease back to
// it, the fall as the report says it, and the band's long edges halved without a T-junction.
#include "flatten/flat_ground.h"

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

// Long edges halved: where the fixed edges (the outer edge, which stays whole) are short enough,
// every edge is at most the length asked; an edge inside has exactly two triangles, and the area
// and the winding are kept; one new point a halved edge.
TEST(FlatGround, LongEdgesAreHalvedWithoutTJunctions) {
    std::mt19937 random(5);
    for (uint32_t side : {1u, 3u, 8u}) {
        Grid g = gridOf(
            side, [](double x, double) { return x / 10; }, random);
        auto area = [&](const Grid& m) {
            double sum = 0;
            for (size_t k = 0; k + 3 <= m.triangles.size(); k += 3) {
                const GroundPoint &a = m.points[m.triangles[k]], &b = m.points[m.triangles[k + 1]],
                                  &c = m.points[m.triangles[k + 2]];
                double turn = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
                EXPECT_GT(turn, 0);
                sum += turn / 2;
            }
            return sum;
        };
        double before = area(g);
        const size_t original = g.points.size();
        auto onBorder = [&](uint32_t a, uint32_t b) {
            auto border = [&](const GroundPoint& p) {
                return p.x == 0 || p.y == 0 || p.x == 1000 || p.y == 1000;
            };
            const GroundPoint &p = g.points[a], &q = g.points[b];
            return border(p) && border(q) && (p.x == q.x || p.y == q.y);
        };
        size_t made = 0;
        std::vector<uint32_t> tags(g.triangles.size() / 3);
        for (size_t k = 0; k < tags.size(); ++k) tags[k] = uint32_t(k % 2);
        auto tagged = [&](const Grid& m, const std::vector<uint32_t>& tags) {
            Grid odd = m;
            odd.triangles.clear();
            for (size_t k = 0; k < tags.size(); ++k) {
                if (tags[k]) {
                    odd.triangles.insert(odd.triangles.end(), m.triangles.begin() + long(3 * k),
                                         m.triangles.begin() + long(3 * k + 3));
                }
            }
            return area(odd);
        };
        const double oddBefore = tagged(g, tags);
        EdgeSplitting how{130, onBorder, [](const uint32_t*) { return true; },
                          [&](uint32_t a, uint32_t b, uint32_t m) {
                              ++made;
                              EXPECT_EQ(m, g.points.size() - 1);
                              EXPECT_DOUBLE_EQ(g.points[m].height,
                                               (g.points[a].height + g.points[b].height) / 2);
                          }};
        splitLongEdges(g.triangles, tags, g.points, how);
        ASSERT_EQ(tags.size(), g.triangles.size() / 3);
        // the triangles tagged 1 still cover what they covered
        EXPECT_NEAR(tagged(g, tags), oddBefore, 1e-6 * oddBefore);
        EXPECT_EQ(made, g.points.size() - original);
        EXPECT_NEAR(area(g), before, 1e-6 * before);
        std::map<std::pair<uint32_t, uint32_t>, int> edges;
        for (size_t k = 0; k + 3 <= g.triangles.size(); k += 3) {
            for (int j = 0; j < 3; ++j) {
                uint32_t a = g.triangles[k + j], b = g.triangles[k + (j + 1) % 3];
                ++edges[std::minmax(a, b)];
            }
        }
        for (const auto& [edge, count] : edges) {
            const GroundPoint &a = g.points[edge.first], &b = g.points[edge.second];
            if (onBorder(edge.first, edge.second)) {
                EXPECT_EQ(count, 1);
                EXPECT_NEAR(std::hypot(b.x - a.x, b.y - a.y), 1000.0 / side, 1e-9);
            } else {
                EXPECT_EQ(count, 2);
                // where the fixed edges are short enough, nothing is left longer than asked
                if (1000.0 / side <= 130) {
                    EXPECT_LE(std::hypot(b.x - a.x, b.y - a.y), 130);
                }
            }
        }
    }
}

}  // namespace
}  // namespace mc
