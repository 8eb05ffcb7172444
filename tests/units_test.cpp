// Properties of the units both directions rest on: ear clipping, the frame's projection and its
// inverse, the trace of where a cut came from, and the fit of an unedited cut.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <set>

#include "area/clipped_parts.h"
#include "carve/writers.h"
#include "cut/cut.h"
#include "cut/frame.h"
#include "cut/materials.h"
#include "cut/tile_trace.h"
#include "geo/triangulation.h"
#include "put_back/along_outline.h"
#include "put_back/fit.h"
#include "put_back/pieces.h"
#include "put_back/put_back.h"
#include "scenery/area_files.h"
#include "test_support.h"

namespace mc {
namespace {

const std::string DSF = SOURCE_DIR "/tests/data/dsf/";

double ringArea(const std::vector<PlanePoint>& points, size_t first, size_t end) {
    double twice = 0;
    for (size_t k = first; k < end; ++k) {
        const PlanePoint& a = points[k];
        const PlanePoint& b = points[k + 1 < end ? k + 1 : first];
        twice += a.x * b.y - b.x * a.y;
    }
    return twice / 2;
}

// A star-shaped outline around the origin with square holes on a ring inside it, each wound
// against the outline: simple whatever the radii drawn. With `touching`, a thin hole also meets
// the outline at one of its corners (as a clip leaves a part between two rings that touch).
struct Shape {
    std::vector<PlanePoint> points;
    std::vector<uint32_t> holeStarts;
};
Shape randomShape(std::mt19937_64& random, bool clockwise, bool touching = false) {
    std::uniform_real_distribution<double> radius(6, 10), jitter(-0.3, 0.3);
    Shape s;
    int holes = std::uniform_int_distribution<int>(0, 4)(random);
    // from eight corners on, no edge comes within 5 of the middle, where the holes lie
    int corners = std::uniform_int_distribution<int>(holes > 0 ? 8 : 3, 40)(random);
    for (int k = 0; k < corners; ++k) {
        double angle = 2 * std::numbers::pi * (clockwise ? corners - k : k) / corners;
        double r = radius(random);
        s.points.push_back({r * std::cos(angle), r * std::sin(angle)});
    }
    for (int h = 0; h < holes; ++h) {
        double angle = 2 * std::numbers::pi * h / 5, cx = 3 * std::cos(angle) + jitter(random);
        double cy = 3 * std::sin(angle) + jitter(random), half = 0.6;
        s.holeStarts.push_back(uint32_t(s.points.size()));
        PlanePoint square[4] = {{cx - half, cy - half},
                                {cx + half, cy - half},
                                {cx + half, cy + half},
                                {cx - half, cy + half}};
        for (int k = 0; k < 4; ++k) s.points.push_back(square[clockwise ? k : 3 - k]);
    }
    if (touching) {
        const PlanePoint at = s.points[size_t(random() % uint64_t(corners))];
        const double turn = (clockwise ? 1 : -1) * 0.035;  // two degrees either side
        auto inward = [&](double by) {
            return PlanePoint{0.8 * (at.x * std::cos(by) - at.y * std::sin(by)),
                              0.8 * (at.x * std::sin(by) + at.y * std::cos(by))};
        };
        s.holeStarts.push_back(uint32_t(s.points.size()));
        s.points.insert(s.points.end(), {at, inward(turn), inward(-turn)});
    }
    return s;
}

TEST(Triangulation, KeepsTheAreaAndTheWindingOfEverySimplePolygonWithHoles) {
    std::mt19937_64 random(31);
    for (int round = 0; round < 400; ++round) {
        bool clockwise = round % 2 == 1;
        Shape s = randomShape(random, clockwise, round % 4 >= 2);
        size_t outlineEnd = s.holeStarts.empty() ? s.points.size() : s.holeStarts[0];
        double area = ringArea(s.points, 0, outlineEnd);
        for (size_t h = 0; h < s.holeStarts.size(); ++h) {
            size_t end = h + 1 < s.holeStarts.size() ? s.holeStarts[h + 1] : s.points.size();
            area += ringArea(s.points, s.holeStarts[h], end);  // wound the other way: negative
        }
        std::vector<uint32_t> triangles;
        triangulatePolygon(s.points, s.holeStarts, triangles);
        ASSERT_EQ(triangles.size() % 3, 0u);
        double sum = 0;
        for (size_t t = 0; t < triangles.size(); t += 3) {
            for (int k = 0; k < 3; ++k) ASSERT_LT(triangles[t + k], s.points.size());
            double turn = turnOf(s.points[triangles[t]], s.points[triangles[t + 1]],
                                 s.points[triangles[t + 2]]);
            EXPECT_TRUE(clockwise ? turn <= 0 : turn >= 0) << "round " << round;
            sum += turn / 2;
        }
        EXPECT_NEAR(sum, area, 1e-9 * std::fabs(area)) << "round " << round;
    }
}

double thinnestHeight(const std::vector<PlanePoint>& points,
                      const std::vector<uint32_t>& triangles) {
    double thinnest = INFINITY;
    for (size_t t = 0; t < triangles.size(); t += 3) {
        double longest = 0;
        for (int k = 0; k < 3; ++k) {
            const PlanePoint &a = points[triangles[t + k]], &b = points[triangles[t + (k + 1) % 3]];
            longest = std::max(longest, std::hypot(b.x - a.x, b.y - a.y));
        }
        double turn =
            turnOf(points[triangles[t]], points[triangles[t + 1]], points[triangles[t + 2]]);
        thinnest = std::min(thinnest, std::fabs(turn) / longest);
    }
    return thinnest;
}

TEST(Triangulation, ThinTrianglesAreTurnedIntoThickOnesKeepingTheArea) {
    // a square whose first corner lies 0.2 mm below its southern edge: the first ear is a sliver
    std::vector<PlanePoint> square = {{5, -0.0002}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
    std::vector<uint32_t> triangles;
    triangulatePolygon(square, {}, triangles);
    ASSERT_LT(thinnestHeight(square, triangles), 0.001);
    flipThinTriangles(square, triangles, 0.001);
    EXPECT_GT(thinnestHeight(square, triangles), 1);
    // on any polygon: the same area, every triangle wound as before, none made thinner
    std::mt19937_64 random(37);
    int flippedRounds = 0;
    for (int round = 0; round < 400; ++round) {
        Shape s = randomShape(random, round % 2 == 1);
        triangles.clear();
        triangulatePolygon(s.points, s.holeStarts, triangles);
        auto area = [&] {
            double sum = 0;
            for (size_t t = 0; t < triangles.size(); t += 3) {
                double turn = turnOf(s.points[triangles[t]], s.points[triangles[t + 1]],
                                     s.points[triangles[t + 2]]);
                EXPECT_TRUE(round % 2 == 1 ? turn <= 0 : turn >= 0) << "round " << round;
                sum += turn;
            }
            return sum;
        };
        double before = area(), thinnest = thinnestHeight(s.points, triangles);
        std::vector<uint32_t> was = triangles;
        flipThinTriangles(s.points, triangles, 0.5);
        flippedRounds += triangles != was;
        EXPECT_NEAR(area(), before, 1e-9 * std::fabs(before)) << "round " << round;
        EXPECT_GE(thinnestHeight(s.points, triangles), thinnest) << "round " << round;
    }
    EXPECT_GT(flippedRounds, 40);
}

// A clipped triangle's part whose corners lie within a centimetre of the triangle's own (an
// outline passing that near a corner, from a flattening that once refused its own ground): moved
// onto them before it is cut, its pieces are wound one way, none all but flat, and they cover
// the part, so that the pieces beside meet them edge for edge.
TEST(ClippedParts, CornersMovedOntoTheTrianglesBeforeCuttingLeaveNoFoldedPiece) {
    const struct {
        AreaPoint corners[3];
        std::vector<AreaPoint> part;
    } cases[] = {
        {{{12.022440299, 47.030485618}, {12.022362097, 47.030140383}, {12.022745480, 47.030556191}},
         {{12.022744941, 47.030556066},
          {12.022745412, 47.030556117},
          {12.022362097, 47.030140383},
          {12.022440299, 47.030485618}}},
        {{{12.022745480, 47.030556191}, {12.022362097, 47.030140383}, {12.022755016, 47.030201419}},
         {{12.022745482, 47.030556125},
          {12.022755016, 47.030201419},
          {12.022362097, 47.030140383},
          {12.022745412, 47.030556117}}},
        {{{12.022745480, 47.030556191}, {12.022755016, 47.030201419}, {12.023172732, 47.030453193}},
         {{12.022745670, 47.030556145},
          {12.023172732, 47.030453193},
          {12.022755016, 47.030201419},
          {12.022745482, 47.030556125}}},
    };
    for (const auto& c : cases) {
        ClippedPart part;
        part.places = c.part;
        moveOntoCorners(part, c.corners, 0.01);
        triangulateInDegrees(part);
        flipThinPieces(part, ROUNDING_TURNS_OVER_METRES);
        double whole = 0, pieces = 0;
        for (size_t k = 0; k < part.metres.size(); ++k) {
            const PlanePoint &a = part.metres[k], &b = part.metres[(k + 1) % part.metres.size()];
            whole += a.x * b.y - b.x * a.y;
        }
        for (size_t k = 0; k + 3 <= part.triangles.size(); k += 3) {
            const uint32_t* t = &part.triangles[k];
            const double turn = turnOf(part.metres[t[0]], part.metres[t[1]], part.metres[t[2]]);
            EXPECT_GT(turn * whole, 0) << c.part[0].lon;
            pieces += turn;
        }
        EXPECT_GT(thinnestHeight(part.metres, part.triangles), 0.01) << c.part[0].lon;
        EXPECT_NEAR(pieces, whole, 1e-6 * std::fabs(whole)) << c.part[0].lon;
    }
}

TEST(Frame, DegreesAndMetresAreEachOthersInverse) {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> lat(-80, 80), step(-0.5, 0.5);
    for (int k = 0; k < 10000; ++k) {
        double from = lat(random), to = from + step(random);
        long double north = metresNorth<long double>(to, from);
        EXPECT_NEAR(double(latitudeNorthOf(from, north)), to, 1e-12);
        long double cosine = cosineOfLatitude<long double>(to);
        long double east = metresEast<long double>(7 + step(random), 7, cosine);
        EXPECT_NEAR(
            double(metresEast<long double>(double(longitudeEastOf(7, east, cosine)), 7, cosine)),
            double(east), 1e-6);
    }
}

// A cut of a sample tile made in this process, with where it came from.
struct TracedCut {
    test::TempDir dir;
    TileTrace trace;
    Cut cut;
};
void cutTraced(TracedCut& c, const std::string& tile, const SelectionWindow& window) {
    OutputFile console;
    test::openForWriting(console, c.dir / "console");
    TempFile temp{c.dir / "mesh_carver.tmp"};
    Selection found = selectBlocks(window, tile, temp, console, {}, &c.trace);
    ASSERT_TRUE(found.status.ok()) << found.status.reason;
    c.cut = assembleCut(std::move(found), {INT32_MAX, INT32_MAX}, console, &c.trace);
    ASSERT_TRUE(c.cut.status.ok()) << c.cut.status.reason;
    releaseTempFile(temp);
    closeFile(console);
}

const SelectionWindow WINDOW{45.505, 45.545, 7.505, 7.545};

TEST(Frame, EveryVertexOfASampleCutGoesBackToItsDegrees) {
    TracedCut c;
    cutTraced(c, DSF + "tin_small.dsf", WINDOW);
    ASSERT_GT(c.cut.mesh.vertices.count, 100u);
    std::string scratch;
    for (size_t k = 0; k < c.cut.mesh.vertices.count; ++k) {
        const StoredVertex& v = c.cut.mesh.vertices[k];
        std::string_view line;
        ASSERT_TRUE(shownVertexLine(c.cut, v, scratch, line));
        VertexPosition p = readVertexPosition(splitFirstField(line).rest);
        Metres at = metresOf(v, c.cut.origin);
        double lon, lat;
        degreesOf(c.cut, at, lon, lat);
        // the Wavefront file's metres keep a centimetre in 1e7 degrees; the inverse far more
        EXPECT_NEAR(lon, p.lon, 1e-11) << line;
        EXPECT_NEAR(lat, p.lat, 1e-11) << line;
    }
}

// Per kept block: the stored vertices' lines and the triangles' numbers, as the trace gives them.
std::vector<std::vector<uint32_t>> traceByBlock(const TracedCut& c) {
    std::vector<std::vector<uint32_t>> blocks;
    std::vector<uint8_t> taken;
    for (size_t b = 0; b + 1 < c.trace.mesh.blocks.size(); ++b) {
        std::vector<uint32_t>& lines = blocks.emplace_back();
        VertexSpan span = blockVertices(c.trace, b);
        for (size_t s = span.first; s < span.end; ++s) lines.push_back(c.trace.mesh.vertexLines[s]);
        takenTriangles(c.trace, b, taken);
        for (size_t t = 0; t < taken.size(); ++t) {
            if (taken[t]) lines.push_back(uint32_t(1000000 + t));
        }
    }
    return blocks;
}

TEST(TileTrace, TextAndBinaryFormsOfATileTraceTheSameCut) {
    TracedCut text, binary;
    cutTraced(text, DSF + "tin_small.txt", WINDOW);
    cutTraced(binary, DSF + "tin_small.dsf", WINDOW);
    EXPECT_FALSE(text.trace.source.binary);
    EXPECT_TRUE(binary.trace.source.binary && binary.trace.source.bytes);
    EXPECT_EQ(binary.trace.keptPlaces.size(), binary.trace.keptSources.size());
    EXPECT_EQ(text.trace.keptSources.size(), binary.trace.keptSources.size());
    EXPECT_EQ(traceByBlock(text), traceByBlock(binary));
    // every stored triangle is one triangle of its block, each named once
    size_t taken = 0;
    for (const auto& block : traceByBlock(binary)) {
        taken += size_t(std::count_if(block.begin(), block.end(),
                                      [](uint32_t entry) { return entry >= 1000000; }));
    }
    EXPECT_EQ(taken, binary.cut.mesh.indices.count / 3);
}

TEST(TileTrace, ACarveAsksForNoneAndKeepsNoTileBytes) {
    TracedCut c;
    OutputFile console;
    test::openForWriting(console, c.dir / "console");
    TempFile temp{c.dir / "mesh_carver.tmp"};
    Selection found = selectBlocks(WINDOW, DSF + "tin_small.dsf", temp, console);
    Cut cut = assembleCut(std::move(found), {INT32_MAX, INT32_MAX}, console);
    EXPECT_TRUE(cut.status.ok());
    EXPECT_GT(cut.mesh.indices.count, 0u);
    releaseTempFile(temp);
    closeFile(console);
}

TEST(Fit, EveryCornerOfAnUneditedCutIsItsOriginalPoint) {
    for (const char* tile : {"tin_small.dsf", "mesh_small.dsf", "raster_small.dsf"}) {
        TracedCut c;
        cutTraced(c, DSF + tile, tile[0] == 't' ? WINDOW : SelectionWindow{44.9, 46.1, 6.9, 8.1});
        RunPaths paths;
        paths.input = DSF + tile;
        paths.wavefront = c.dir / "cut.obj";
        ASSERT_TRUE(writeWavefront(c.cut, paths).ok());
        TerrainLibrary library;
        std::vector<Material> materials = materialsOf(c.cut, library);
        EditedCut edited;
        FittedCut fitted;
        Status status =
            fitEditedCut(c.cut, c.cut.mesh, {}, materials, {paths.wavefront}, edited, fitted);
        ASSERT_TRUE(status.ok()) << tile << ": " << status.reason;
        EXPECT_EQ(fitted.triangles.size(), fitted.removed.size()) << tile;
        EXPECT_TRUE(fitted.points.empty()) << tile;
        for (const FittedTriangle& t : fitted.triangles) {
            EXPECT_FALSE(t.changed) << tile;
            for (const FitCorner& corner : t.corners) EXPECT_TRUE(corner.original) << tile;
        }
    }
}

// A cut clipped along the airport goes back along it: its clipped pieces, fitted unedited and
// folded back, give every triangle of the tile back as it was; the same edit moved half a metre
// east is refused, naming a point off the outline it was clipped along.
TEST(OutlinePieces, AClippedCutFoldsBackAndAMovedOutlineIsNamed) {
    Area read;
    CutArea airport;
    ASSERT_TRUE(readArea(SOURCE_DIR "/tests/data/areas/apt.dat", "XTST", read).ok());
    ASSERT_TRUE(prepareArea(read, "apt.dat", airport).ok());
    SelectionWindow window{45.49, 45.56, 7.49, 7.57, &airport, true};
    TracedCut carved;
    cutTraced(carved, DSF + "tin_small.dsf", window);
    ASSERT_TRUE(clipCut(carved.cut, {INT32_MAX, INT32_MAX}).ok());
    RunPaths paths;
    paths.input = DSF + "tin_small.dsf";
    paths.wavefront = carved.dir / "cut.obj";
    ASSERT_TRUE(writeWavefront(carved.cut, paths).ok());
    const std::string carvedFile = test::readFile(paths.wavefront);
    std::string moved;
    for (std::string_view rest = carvedFile; !rest.empty();) {
        std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        char text[100];
        if (line.starts_with("v ")) {
            double x, y, z;
            std::sscanf(std::string(line).c_str(), "v %lf %lf %lf", &x, &y, &z);
            std::snprintf(text, sizeof text, "v %.6f %.6f %.6f", x + 0.5, y, z);
            line = text;
        }
        moved.append(line).append("\n");
    }
    test::writeFile(carved.dir / "moved.obj", moved);
    for (const char* edit : {"cut.obj", "moved.obj"}) {
        TracedCut c;
        cutTraced(c, DSF + "tin_small.dsf", window);
        OutlinePieces outline;
        ASSERT_TRUE(clipForPutBack(c.cut, outline).ok());
        // every piece is part of a triangle of the cut
        for (uint32_t before : outline.triangleBefore)
            EXPECT_LT(before, c.cut.mesh.indices.count / 3);
        RunPaths back = paths;
        back.wavefront = carved.dir / edit;
        PutBackPlan plan;
        Status status = planPutBack(c.cut, &outline, back, plan);
        if (std::string(edit) == "cut.obj") {
            ASSERT_TRUE(status.ok()) << status.reason;
            EXPECT_TRUE(changesNothing(plan));
        } else {
            EXPECT_EQ(status.failure, Failure::editMisfits);
            EXPECT_NE(status.reason.find("off the outline this cut is clipped along"),
                      std::string::npos)
                << status.reason;
        }
    }
}

// New triangles chain into strips: a grid's triangles in a random order, each from a random
// corner, come back from the pieces each once, wound as they were, in pieces a command holds,
// with few more vertices than triangles.
TEST(Pieces, NewTrianglesChainIntoStripsKeepingEveryTriangleAndItsWinding) {
    std::mt19937 random(7);
    for (uint32_t side : {1u, 2u, 5u, 40u}) {
        std::vector<std::array<uint32_t, 3>> triangles;
        for (uint32_t row = 0; row < side; ++row) {
            for (uint32_t column = 0; column < side; ++column) {
                uint32_t a = row * (side + 1) + column, b = a + 1, c = a + side + 1, d = c + 1;
                triangles.push_back({a, b, d}), triangles.push_back({a, d, c});
            }
        }
        std::shuffle(triangles.begin(), triangles.end(), random);
        std::vector<uint32_t> corners;
        auto canonical = [](std::array<uint32_t, 3> t) {
            std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
            return t;
        };
        std::multiset<std::array<uint32_t, 3>> wanted, got;
        for (auto& t : triangles) {
            std::rotate(t.begin(), t.begin() + random() % 3, t.end());
            corners.insert(corners.end(), t.begin(), t.end());
            wanted.insert(canonical(t));
        }
        std::vector<Piece> pieces;
        chainIntoStrips(corners, pieces);
        size_t lines = 0;
        for (const Piece& piece : pieces) {
            const std::vector<uint32_t>& v = piece.lines;
            ASSERT_LE(v.size(), MOST_COMMAND_VERTICES);
            lines += v.size();
            for (uint32_t t = 0; t < triangleCount(piece.type, uint32_t(v.size())); ++t) {
                if (piece.type == LIST_PRIMITIVE) {
                    got.insert(canonical({v[3 * t], v[3 * t + 1], v[3 * t + 2]}));
                } else {
                    ASSERT_EQ(piece.type, STRIP_PRIMITIVE);
                    got.insert(canonical(t % 2 ? std::array{v[t + 1], v[t], v[t + 2]}
                                               : std::array{v[t], v[t + 1], v[t + 2]}));
                }
            }
        }
        EXPECT_EQ(got, wanted) << side;
        if (side >= 5) {
            EXPECT_LT(double(lines), 1.6 * double(triangles.size())) << side;
        }
    }
}

}  // namespace
}  // namespace mc
