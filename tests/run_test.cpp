// End-to-end runs of the built tool: which blocks are kept, and the console and object they give.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <regex>
#include <sstream>

#include "run_scenario.h"
#include "test_support.h"
#include "text/numbers.h"

namespace mc {
namespace {

const std::string REPORT_HEAD =
    "\r\nWriting output file\r\n\r\n"
    "Coordinates of the vertex correponding to the origin of the output object:\r\n"
    "             longitude  latitude    altitude(m)\r\n";

TEST(Run, KeepsOnlyBlocksTouchingTheWindowAndCountsThem) {
    Scenario s;
    std::string second = block(1, {OUT, IN, OUT});
    std::string third = block(1, {IN});
    s.carve("HEADER line\n" + block(1, {OUT, OUT, OUT}) + "between\n" + second + "\n" + third);
    EXPECT_EQ(s.run.status, 0);
    EXPECT_EQ(s.run.console.substr(0, s.run.console.find("\r\n\r\n") + 2),
              "Step 1:  1/ 2\r\nStep 1:  2/ 3\r\nStep 2:  1/ 2\r\nStep 2:  2/ 2\r\n");
    EXPECT_EQ(s.temp(), crlf(second + third));
    EXPECT_EQ(s.run.errors, "");
}

TEST(Run, BlockGrammarEdgeCases) {
    struct Case {
        const char* name;
        std::string tile;
        std::string temp;
    };
    const std::string kept = block(1, {IN});
    const Case cases[] = {
        {"vertices on the window's edges are outside",
         block(1, {{"1", "0", "0"}, {"0", "-1", "0"}, {"-1", "0.5", "0"}, {"0.5", "1", "0"}}), ""},
        {"an abandoned block does not make the next one kept",
         "BEGIN_PRIMITIVE 1\nPATCH_VERTEX 0.5 0.5 1\n" + block(1, {OUT}), ""},
        {"an abandoned block is replaced by the new one",
         "BEGIN_PRIMITIVE 1\nPATCH_VERTEX 5 5 1\n" + kept, kept},
        {"vertex and end lines outside blocks are ignored",
         "PATCH_VERTEX 0.5 0.5 1\nEND_PRIMITIVE\n" + block(1, {OUT}), ""},
        {"blank lines inside a block are not copied",
         "BEGIN_PRIMITIVE 1\n\nPATCH_VERTEX 0.5 0.5 1\n\r\nEND_PRIMITIVE\n",
         "BEGIN_PRIMITIVE 1\nPATCH_VERTEX 0.5 0.5 1\nEND_PRIMITIVE\n"},
        {"space-led lines are copied inside a block only",
         " outside\nBEGIN_PRIMITIVE 1\n inside\nPATCH_VERTEX 0.5 0.5 1\nEND_PRIMITIVE\n",
         "BEGIN_PRIMITIVE 1\n inside\nPATCH_VERTEX 0.5 0.5 1\nEND_PRIMITIVE\n"},
        {"a block open at the end is dropped", kept + "BEGIN_PRIMITIVE 1\nPATCH_VERTEX 0.5 0.5 1\n",
         kept},
        {"the last field of a vertex line counts",
         block(1, {}) + "BEGIN_PRIMITIVE 1\nPATCH_VERTEX 0.5 0.5\nEND_PRIMITIVE\n",
         "BEGIN_PRIMITIVE 1\nPATCH_VERTEX 0.5 0.5\nEND_PRIMITIVE\n"},
        {"a byte-order mark hides the keyword", "\xEF\xBB\xBF" + kept, ""},
        {"lines after Ctrl-Z are never read", "\x1A" + kept, ""},
        {"CR LF input gives the same blocks", crlf(kept), kept},
        {"no primitives", "I\n800\nDSF2TEXT\n", ""},
        {"a vertex line without fields is at 0, 0",
         "BEGIN_PRIMITIVE 1\nPATCH_VERTEX\nEND_PRIMITIVE\n",
         "BEGIN_PRIMITIVE 1\nPATCH_VERTEX\nEND_PRIMITIVE\n"},
        {"a vertex line with a tab is one field",
         "BEGIN_PRIMITIVE 1\nPATCH_VERTEX\t0.5 0.5\nEND_PRIMITIVE\n", ""},
    };
    for (const Case& c : cases) {
        Scenario s;
        s.carve(c.tile);
        EXPECT_EQ(s.run.status, 0) << c.name;
        EXPECT_EQ(s.temp(), crlf(c.temp)) << c.name;
    }
}

TEST(Run, FanOfFiveGivesNineIndicesAndTheWholeObject) {
    Scenario s;
    s.carve(block(2, {{"0", "0", "100"},
                      {"0.5", "0", "50"},
                      {"0.5", "0", "0"},
                      {"-0.5", "0", "100"},
                      {"0", "0", "-250"}}));
    ASSERT_EQ(s.run.status, 0);
    const std::string tail = "  0.0 1.0 0.0 0.0 1.0 # PATCH_VERTEX ";
    EXPECT_EQ(
        s.object(),
        "I\r\n800\r\nOBJ\r\n\r\nTEXTURE\r\nPOINT_COUNTS 5 0 0 9\r\n\r\n"
        "VT 0.000000 0.000000 0.000000" +
            tail +
            "0 0 100 0.5 0.5\r\n"
            "VT 555.600000 -0.500000 0.000000" +
            tail +
            "0.5 0 50 0.5 0.5\r\n"
            "VT 555.600000 -1.000000 0.000000" +
            tail +
            "0.5 0 0 0.5 0.5\r\n"
            "VT -555.600000 0.000000 0.000000" +
            tail +
            "-0.5 0 100 0.5 0.5\r\n"
            "VT 0.000000 -3.500000 0.000000" +
            tail +
            "0 0 -250 0.5 0.5\r\n"
            "\r\nIDX 0\r\nIDX 1\r\nIDX 2\r\nIDX 0\r\nIDX 2\r\nIDX 3\r\nIDX 0\r\nIDX 3\r\nIDX 4\r\n"
            "\r\nTRIS 0 9\r\n\r\n# Origin: PATCH_VERTEX 0 0 100 0.5 0.5\r\n");
    EXPECT_EQ(s.run.console, "Step 1:  1/ 1\r\nStep 2:  1/ 1\r\n" + REPORT_HEAD +
                                 "PATCH_VERTEX 0 0 100 0.5 0.5\r\n");
}

TEST(Run, TriangleListsKeepOnlyTouchingTriangles) {
    Scenario s;
    // only the second triangle touches; a seventh line is a leftover and END_PRIMITIVE no vertex
    s.carve(block(0, {OUT, OUT, OUT, OUT, {"0.5", "0.25", "7"}, {"2", "2", "8"}, IN}) +
            block(0, {IN, {"0.25", "0.25", "3"}, IN, {"0.25", "0.25", "3"}, IN, IN}) +
            block(2, {IN, IN}));
    ASSERT_EQ(s.run.status, 0);
    std::string object = s.object();
    EXPECT_NE(object.find("POINT_COUNTS 9 0 0 9\r\n"), std::string::npos) << object;
    EXPECT_NE(object.find("# PATCH_VERTEX 0.5 0.25 7 0.5 0.5\r\n"), std::string::npos);
    EXPECT_NE(object.find("# PATCH_VERTEX 2 2 8 0.5 0.5\r\n"), std::string::npos);
    EXPECT_EQ(object.find("# END_PRIMITIVE"), std::string::npos);
    // the origin is the highest vertex: elevation 10, the first of the equal ones stored
    EXPECT_NE(object.find("# Origin: PATCH_VERTEX 0.5 0.5 10 0.5 0.5\r\n"), std::string::npos);
    EXPECT_NE(
        object.find("VT 0.000000 0.000000 0.000000  0.0 1.0 0.0 0.0 1.0 # PATCH_VERTEX 0.5 0.5 10"),
        std::string::npos);
}

TEST(Run, EmptyMeshGivesTheBareObject) {
    Scenario s;
    s.carve(block(1, {IN}));
    ASSERT_EQ(s.run.status, 0);
    EXPECT_EQ(
        s.object(),
        "I\r\n800\r\nOBJ\r\n\r\nTEXTURE\r\nPOINT_COUNTS 0 0 0 0\r\n\r\n\r\n\r\nTRIS 0 0\r\n\r\n"
        "# Origin: \r\n");
    EXPECT_EQ(s.run.console, "Step 1:  1/ 1\r\nStep 2:  1/ 1\r\n" + REPORT_HEAD + "\r\n");
}

TEST(Run, ThreeValueVertexLineKeepsItsElevation) {
    Scenario s;
    s.carve(
        "BEGIN_PRIMITIVE 2\nPATCH_VERTEX 0 0 300\nPATCH_VERTEX 0 0 200\nPATCH_VERTEX 0 0\n"
        "END_PRIMITIVE\n");
    ASSERT_EQ(s.run.status, 0);
    EXPECT_NE(s.object().find(
                  "VT 0.000000 -1.000000 0.000000  0.0 1.0 0.0 0.0 1.0 # PATCH_VERTEX 0 0 200\r\n"),
              std::string::npos);
    EXPECT_NE(s.object().find(
                  "VT 0.000000 -3.000000 0.000000  0.0 1.0 0.0 0.0 1.0 # PATCH_VERTEX 0 0\r\n"),
              std::string::npos);
}

TEST(Run, VertexLinesReachTheObjectAsTheSecondPassReadThem) {
    Scenario s;
    const std::string longTail(3 << 20, 'x');  // longer than any read window
    s.carve(std::string("BEGIN_PRIMITIVE 2\r\n") + "PATCH_VERTEX 0 0 1 a\rb\r\n" +
            std::string("PATCH_VERTEX 0 0 2 n\0l\n", 23) + "PATCH_VERTEX 0 0 3 cr\r\r\r\n" +
            "PATCH_VERTEX 0 0 4 " + longTail + "\n" + "END_PRIMITIVE\n");
    ASSERT_EQ(s.run.status, 0);
    const std::string tail = "  0.0 1.0 0.0 0.0 1.0 # ";
    std::string object = s.object();
    EXPECT_NE(object.find(tail + "PATCH_VERTEX 0 0 1 a\rb\r\n"), std::string::npos);
    EXPECT_NE(object.find(tail + std::string("PATCH_VERTEX 0 0 2 n\0l\r\n", 24)),
              std::string::npos);
    // one CR survives the first read, and the temporary file's CR LF takes it on the second
    EXPECT_NE(object.find(tail + "PATCH_VERTEX 0 0 3 cr\r\n"), std::string::npos);
    EXPECT_NE(object.find(tail + "PATCH_VERTEX 0 0 4 " + longTail + "\r\n"), std::string::npos);
    EXPECT_NE(object.find("# Origin: PATCH_VERTEX 0 0 4 " + longTail + "\r\n"), std::string::npos);
    EXPECT_NE(s.run.console.find("altitude(m)\r\nPATCH_VERTEX 0 0 4 " + longTail + "\r\n"),
              std::string::npos);
}

TEST(Run, SampleInExamplesCarves) {
    Scenario s;
    std::filesystem::copy(SOURCE_DIR "/examples/sample_tile.txt", s.dir / "sample_tile.txt");
    std::filesystem::copy(SOURCE_DIR "/examples/mesh_carver.ini", s.dir / "mesh_carver.ini");
    s.run = test::runTool(s.dir.path);
    EXPECT_EQ(s.run.status, 0);
    EXPECT_EQ(s.run.console, test::readFile(SOURCE_DIR "/examples/expected_console.txt"));
    EXPECT_EQ(test::readFile(s.dir / "sample_cut.obj"),
              test::readFile(SOURCE_DIR "/examples/expected_sample_cut.obj"));
}

uint64_t fnv1a(std::string_view bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

// Pins every output byte of a generated tile, so that a faster path cannot drift.
TEST(Run, GeneratedTileOutputIsPinned) {
    Scenario s;
    std::string make = "'" MAKE_TILE_EXE "' 3000000 42 12 47 0.05 > '" + (s.dir / "tile.txt") + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    test::writeFile(
        s.dir / "mesh_carver.ini",
        test::iniText(47.01, 47.03, 12.015, 12.04, "tile.txt", "out.obj", "1000000", "1000000"));
    s.run = test::runTool(s.dir.path);
    ASSERT_EQ(s.run.status, 0);
    EXPECT_NE(s.object().find("POINT_COUNTS 7946 0 0 22764\r\n"), std::string::npos);
    EXPECT_EQ(fnv1a(test::readFile(s.dir / "tile.txt")), 10966615730618264032ull);
    EXPECT_EQ(fnv1a(s.run.console), 9608031853701931895ull);
    EXPECT_EQ(fnv1a(s.temp()), 10181856373060645491ull);
    EXPECT_EQ(fnv1a(s.object()), 18361572439508414873ull);
}

}  // namespace
}  // namespace mc
