// End-to-end runs of the built tool: console bytes, mesh_carver.tmp and the object file.
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

struct CapacityCase {
    const char* maxVertex;
    const char* maxTris;
    std::string tile;
    std::string message;
    int vertices = 0, indices = 0;  // what the window needs, told on standard error
};

TEST(Run, CapacitiesStopTheRunWithTheirMessage) {
    const std::string vertexMessage =
        "vertex number too large; increase nb_max_vertex in ini file\r\n";
    const std::string trisMessage = "TRIs number too large; increase nb_max_tri in ini file\r\n";
    const std::string fan4 = block(2, {IN, IN, IN, IN});
    const std::string twoTriangles = block(0, {IN, IN, IN, IN, IN, IN});
    const std::string strip4 = block(1, {IN, IN, IN, IN});
    const std::string fan11 = block(2, {IN, IN, IN, IN, IN, IN, IN, IN, IN, IN, IN});
    const CapacityCase cases[] = {
        {"4", "1000", fan4, vertexMessage, 4, 6},
        {"5", "1000", fan4, ""},
        {"1000", "4", twoTriangles, trisMessage, 6, 6},
        {"4", "4", twoTriangles, vertexMessage, 6, 6},
        {"1000", "3", block(0, {IN, IN, IN}), trisMessage, 3, 3},
        {"0", "1000", fan4, vertexMessage, 4, 6},
        {"-7", "-7", fan4, vertexMessage, 4, 6},
        {"10.5", "1000", fan11, vertexMessage, 11, 27},
        {"11.5", "1000", fan11, ""},
        {"1000", "&H4", twoTriangles, trisMessage, 6, 6},
        {"3", "1000", strip4, vertexMessage, 4, 6},  // inside a strip: its vertices come first
        {"1000", "5", strip4, trisMessage, 4, 6},
        {"5", "7", strip4, ""},
        // the counting goes on to the end of the pass, past blocks no longer stored
        {"4", "1000", fan4 + twoTriangles + block(1, {OUT, IN, OUT}), vertexMessage, 13, 15},
    };
    for (const CapacityCase& c : cases) {
        Scenario s;
        s.maxVertex = c.maxVertex;
        s.maxTris = c.maxTris;
        test::writeFile(s.dir / "out.obj", "previous object");
        s.carve(c.tile);
        std::string label = std::string(c.maxVertex) + "/" + c.maxTris;
        if (c.message.empty()) {
            EXPECT_EQ(s.run.status, 0) << label;
            continue;
        }
        EXPECT_EQ(s.run.status, 255) << label;
        EXPECT_EQ(s.run.console.substr(s.run.console.size() - c.message.size()), c.message)
            << label;
        EXPECT_EQ(s.run.console.find("Writing"), std::string::npos) << label;
        EXPECT_EQ(s.object(), "previous object") << label;
        EXPECT_EQ(s.temp(), crlf(c.tile)) << label;
        auto limit = [](const char* text) {
            return std::to_string(roundToInt32(parseNumber(text)));
        };
        EXPECT_EQ(s.run.errors,
                  "mesh_carver: this window needs " + std::to_string(c.vertices) +
                      " vertices (nb_max_vertex is " + limit(c.maxVertex) + ") and " +
                      std::to_string(c.indices) + " triangle indices (nb_max_tris is " +
                      limit(c.maxTris) + "); nb_max_vertex=" + std::to_string(c.vertices + 1) +
                      " and nb_max_tris=" + std::to_string(c.indices + 1) + " hold them\r\n")
            << label;
    }
}

struct FileFailureCase {
    const char* input;
    const char* output;
    const char* directoryInTheWay;  // made before the run, where a file is expected
    std::string consoleEnd;         // "@" stands for the run's folder
    const char* reason;             // the line on standard error, after "mesh_carver: "
    const char* extraIni = "";      // an optional key, when set
};

TEST(Run, FileFailuresAreReportedAndNothingIsLost) {
    const std::string writing = "Step 1:  1/ 1\r\nStep 2:  1/ 1\r\n\r\nWriting output file\r\n";
    const FileFailureCase cases[] = {
        {"missing\\tile.txt", "out.obj", "", "Error opening input file missing\\tile.txt\r\n",
         "cannot open missing/tile.txt: No such file or directory"},
        {"adir", "out.obj", "adir", "Error opening input file adir\r\n",
         "cannot open adir: Is a directory"},
        {"tile.txt", "out.obj", "mesh_carver.tmp",
         "Error writing temporary file @/mesh_carver.tmp\r\n",
         "cannot create @/mesh_carver.tmp: Is a directory"},
        {"tile.txt", "no/such/dir/out.obj", "",
         writing + "Error writing output file no/such/dir/out.obj\r\n",
         "cannot create no/such/dir/out.obj: No such file or directory"},
        {"tile.txt", "/dev/full", "", writing + "Error writing output file /dev/full\r\n",
         "writing /dev/full failed: No space left on device"},
        {"tile.txt", "./tile.txt", "", writing + "Error writing output file ./tile.txt\r\n",
         "./tile.txt is the input tile itself, which is never replaced"},
        {"tile.txt", "out.obj", "", writing + "Error writing output file no\\dir\\cut.obj\r\n",
         "cannot create no/dir/cut.obj: No such file or directory",
         "wavefront_file=no\\dir\\cut.obj\n"},
        {"tile.txt", "out.obj", "", writing + "Error writing output file /dev/full\r\n",
         "writing /dev/full failed: No space left on device", "wavefront_file=/dev/full\n"},
        {"tile.txt", "out.obj", "", writing + "Error writing output file tile.txt\r\n",
         "tile.txt is the input tile itself, which is never replaced", "wavefront_file=tile.txt\n"},
        {"tile.txt", "out.obj", "cut.mtl", writing + "Error writing output file cut.obj\r\n",
         "cannot create cut.mtl: Is a directory", "wavefront_file=cut.obj\n"},
        {"tile.txt", "out.obj", "", writing + "Error writing output file no/dir/cut.svg\r\n",
         "cannot create no/dir/cut.svg: No such file or directory",
         "preview_file=no/dir/cut.svg\n"},
        {"tile.txt", "out.obj", "", writing + "Error writing output file tile.txt\r\n",
         "tile.txt is the input tile itself, which is never replaced", "preview_file=tile.txt\n"},
    };
    for (const FileFailureCase& c : cases) {
        Scenario s;
        s.input = c.input;
        s.output = c.output;
        s.extraIni = c.extraIni;
        if (*c.directoryInTheWay) std::filesystem::create_directory(s.dir / c.directoryInTheWay);
        if (!*c.directoryInTheWay) test::writeFile(s.dir / "mesh_carver.tmp", "earlier run");
        s.carve(block(2, {IN, IN, IN}));
        std::string expected = c.consoleEnd;
        if (size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, s.dir.path);
        EXPECT_EQ(s.run.console, expected) << c.input << " " << c.output;
        EXPECT_EQ(s.run.errors, "mesh_carver: " + replaced(c.reason, "@", s.dir.path) + "\r\n")
            << c.input << " " << c.output;
        EXPECT_EQ(s.run.status, 255);
        EXPECT_EQ(test::readFile(s.dir / "tile.txt"), block(2, {IN, IN, IN}));  // never replaced
        // an input that cannot be opened leaves the earlier temporary file as it was
        if (expected.starts_with("Error opening") && !*c.directoryInTheWay) {
            EXPECT_EQ(s.temp(), "earlier run");
        }
    }
}

TEST(Run, ObjectIsReplacedWholeOrNotAtAll) {
    Scenario s;
    test::writeFile(s.dir / "out.obj", "previous object");
    ::chmod((s.dir / "out.obj").c_str(), 0640);
    // a file-size limit hit while writing the object: the old object stays, no stray file
    test::writeFile(s.dir / "tile.txt", block(2, {IN, IN, IN, IN, IN, IN, IN, IN, IN, IN, IN, IN}));
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::iniText(-1, 1, -1, 1, "tile.txt", "out.obj", "1000", "1000"));
    s.run = test::runTool(s.dir.path, "trap '' XFSZ; ulimit -f 1;");
    EXPECT_EQ(s.run.status, 255);
    EXPECT_NE(s.run.console.find("Error writing output file out.obj\r\n"), std::string::npos);
    EXPECT_EQ(s.object(), "previous object");
    size_t files = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(s.dir.path)) ++files;
    EXPECT_EQ(files, 4u);  // ini, tile, tmp, object

    s.run = test::runTool(s.dir.path);
    EXPECT_EQ(s.run.status, 0);
    EXPECT_NE(s.object().find("POINT_COUNTS 12 0 0 30\r\n"), std::string::npos);
    struct stat st;
    ::stat((s.dir / "out.obj").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(Run, BackslashPathsWork) {
    Scenario s;
    std::filesystem::create_directory(s.dir / "sub");
    test::writeFile(s.dir / "sub/tile.txt", block(2, {IN, IN, IN}));
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::iniText(-1, 1, -1, 1, "sub\\tile.txt", "sub\\out.obj", "9", "9"));
    s.run = test::runTool(s.dir.path);
    EXPECT_EQ(s.run.status, 0);
    EXPECT_TRUE(test::fileExists(s.dir / "sub/out.obj"));
}

// Help and version are printed and nothing else happens; any other argument is refused before
// the ini is read or a file touched.
TEST(Run, ArgumentsAreHelpVersionOrRefused) {
    const struct {
        const char* arguments;
        int status;
        const char* console;  // how standard output starts
        const char* errors;   // how standard error starts
    } cases[] = {
        {"--help", 0, "mesh_carver " MESH_CARVER_VERSION ": cuts a latitude", ""},
        {"-h", 0, "mesh_carver " MESH_CARVER_VERSION ": cuts a latitude", ""},
        {"--version", 0,
         "mesh_carver " MESH_CARVER_VERSION
         " (MIT licence; see LICENSE and THIRD-PARTY-NOTICES)\r\n",
         ""},
        {"--bogus", 255, "", "mesh_carver: unknown argument --bogus\r\n\r\nmesh_carver "},
        {"'/?'", 255, "", "mesh_carver: unknown argument /?\r\n"},  // only Windows takes it
        {"--help more", 255, "", "mesh_carver: unknown argument --help\r\n"},
    };
    for (const auto& c : cases) {
        Scenario s;
        test::writeFile(s.dir / "tile.txt", block(2, {IN, IN, IN}));
        test::writeFile(s.dir / "mesh_carver.ini",
                        test::iniText(-1, 1, -1, 1, "tile.txt", "out.obj", "9", "9"));
        s.run = test::runTool(s.dir.path, "", c.arguments);
        EXPECT_EQ(s.run.status, c.status) << c.arguments;
        EXPECT_TRUE(s.run.console.starts_with(c.console)) << c.arguments << ": " << s.run.console;
        EXPECT_TRUE(s.run.errors.starts_with(c.errors)) << c.arguments << ": " << s.run.errors;
        if (c.status == 255) {
            EXPECT_NE(s.run.errors.find("Exit status"), std::string::npos) << c.arguments;
        }
        EXPECT_FALSE(test::fileExists(s.dir / "mesh_carver.tmp")) << c.arguments;
        EXPECT_FALSE(test::fileExists(s.dir / "out.obj")) << c.arguments;
    }
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
    EXPECT_NE(s.object().find("POINT_COUNTS 8034 0 0 22971\r\n"), std::string::npos);
    EXPECT_EQ(fnv1a(test::readFile(s.dir / "tile.txt")), 17930873913425486015ull);
    EXPECT_EQ(fnv1a(s.run.console), 638322410134063655ull);
    EXPECT_EQ(fnv1a(s.temp()), 11748611099127470343ull);
    EXPECT_EQ(fnv1a(s.object()), 16596739957064252076ull);
}

// Windows whose edges are exactly the printed coordinates of vertices of the text form, and
// one around the whole tile.
std::vector<std::array<double, 4>> windowsOnVertices(const std::string& text) {
    std::vector<std::pair<double, double>> points;
    std::regex vertex("PATCH_VERTEX ([-0-9.]+) ([-0-9.]+)");
    for (std::sregex_iterator m(text.begin(), text.end(), vertex), end; m != end; ++m) {
        points.push_back({std::stod((*m)[1]), std::stod((*m)[2])});
    }
    std::vector<std::array<double, 4>> windows = {{-90, 90, -180, 180}};
    for (size_t k = 1; k + 1 < points.size() && windows.size() < 6; k += points.size() / 5) {
        auto [lonA, latA] = points[k];
        auto [lonB, latB] = points[points.size() - 1 - k];
        windows.push_back({std::min(latA, latB), std::max(latA, latB), std::min(lonA, lonB),
                           std::max(lonA, lonB)});
    }
    return windows;
}

void expectFormsCarveAlike(const std::string& textPath, const std::vector<std::string>& binary) {
    std::string text = test::readFile(textPath);
    for (const auto& w : windowsOnVertices(text)) {
        Carve expected = carveFile(textPath, w[0], w[1], w[2], w[3]);
        ASSERT_EQ(expected.status, 0) << textPath;
        for (const std::string& path : binary) {
            if (!test::fileExists(path)) continue;
            Carve got = carveFile(path, w[0], w[1], w[2], w[3]);
            std::string where =
                path + " window " + std::to_string(w[0]) + " " + std::to_string(w[2]);
            EXPECT_EQ(got.status, 0) << where;
            EXPECT_EQ(got.console, expected.console) << where;
            EXPECT_EQ(got.temp, expected.temp) << where;
            EXPECT_EQ(got.object, expected.object) << where;
        }
    }
}

// The shared tiles in binary, 7z (LZMA and LZMA2) and text form, made by the usual converter.
TEST(Run, BinaryTilesCarveLikeTheirTextForm) {
    const std::string folder = SOURCE_DIR "/../shared/data/dsf/";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no shared dsf folder";
    for (const char* name :
         {"tiny", "mesh_small", "ranges", "raster_small", "overlay_only", "tin_small"}) {
        std::string base = folder + name;
        expectFormsCarveAlike(base + ".txt",
                              {base + ".dsf", base + ".7z.dsf", base + ".lzma2.7z.dsf"});
    }
}

// A generated TIN through the benchmark's binary writer (large enough for both cores to print
// it): inside one 1/8-degree bucket, with a full 65,535-point pool and strips reaching into the
// next pool; across four buckets, flagged with a 1201 x 1201 elevation raster.
TEST(Run, GeneratedBinaryTileCarvesLikeItsTextForm) {
    const struct {
        const char* option;
        const char* tile;  // make_tile's bytes, seed and area
    } cases[] = {{"", "16000000 7 12 47 0.12"}, {"--raster", "6000000 7 12 47 0.3"}};
    for (const auto& c : cases) {
        test::TempDir dir;
        std::string make = "'" MAKE_TILE_EXE "' " + std::string(c.tile) + " > '" +
                           (dir / "gen.txt") + "' && '" MAKE_DSF_EXE "' " + c.option + " '" +
                           (dir / "gen.txt") + "' '" + (dir / "gen.dsf") + "' '" +
                           (dir / "gen_dsf.txt") + "'";
        ASSERT_EQ(std::system(make.c_str()), 0);
        expectFormsCarveAlike(dir / "gen_dsf.txt", {dir / "gen.dsf"});
    }
}

// Damaged tiles and rasters end the run with the read failure and its reason on standard
// error; the user's object stays as it was. Text tiles print their "Step" lines first: their
// raster is read when the first flagged vertex comes.
TEST(Run, DamagedBinaryTilesAndRastersAreRefused) {
    const std::string shared = SOURCE_DIR "/../shared/data/dsf/";
    const std::string ours = SOURCE_DIR "/tests/data/";
    if (!test::fileExists(shared + "raster_small.dsf")) GTEST_SKIP() << "no shared dsf folder";
    using Files = std::vector<std::pair<std::string, std::string>>;  // name, bytes
    auto copied = [](const std::string& path) { return Files{{"in.dsf", test::readFile(path)}}; };
    const std::string rasterText = test::readFile(shared + "raster_small.txt");
    const std::string raw = test::readFile(shared + "raster_small.txt.elevation.raw");
    const std::string rawName = "raster_small.txt.elevation.raw";
    const std::string rasterTile = test::readFile(shared + "raster_small.dsf");
    const size_t header = rasterTile.find("IMED") + 8;  // version, bytes per pixel, flags, width
    auto patchedTile = [&](size_t at, const std::string& bytes) {
        std::string tile = rasterTile;
        return Files{{"in.dsf", tile.replace(header + at, bytes.size(), bytes)}};
    };
    auto textTile = [&](const std::string& tile, const std::string& side) {
        return Files{{"in.dsf", tile}, {rawName, side}};
    };
    const struct {
        const char* name;
        Files files;
        const char* steps;   // nullptr: whatever "Step 1" lines the pass printed
        const char* reason;  // what standard error says, in part
    } cases[] = {
        {"bad cookie", copied(shared + "corrupt/bad_cookie.dsf"), "",
         "the tile is damaged: it is not a version 1 DSF file: byte 0 of 509"},
        {"truncated", copied(shared + "corrupt/truncated.dsf"), "",
         "the CMDS atom runs past the end of the file: byte 493 of 470"},
        {"index out of range", copied(shared + "corrupt/index_out_of_range.dsf"),
         "Step 1:  1/ 1\r\n",
         "command 23 of the CMDS atom: a vertex names a point outside its pool: byte 479 of 509"},
        {"damaged 7z data", copied(shared + "corrupt/corrupt.7z.dsf"), "",
         "in.dsf does not unpack: its entry cannot be unpacked (Decompression failed"},
        {"empty 7z", copied(ours + "empty.7z.dsf"), "", "does not unpack: the archive is empty"},
        {"7z holding a folder first", copied(ours + "folder_first.7z.dsf"), "",
         "the archive's first entry is not a file"},
        {"encrypted 7z", copied(ours + "encrypted.7z.dsf"), "", "(The file content is encrypted"},
        {"7z method the library cannot decode", copied(ours + "deflate64.7z.dsf"), "",
         "(Unknown codec ID"},
        {"7z holding text", copied(ours + "text_inside.7z.dsf"), "",
         "it is not a version 1 DSF file: byte 0 of 24"},
        {"7z declaring more than 4 GiB", copied(ours + "declares_over_4gib.7z.dsf"), "",
         "its entry declares 4,294,967,297 bytes, more than 4,294,967,296"},
        {"raster version 2", patchedTile(0, std::string("\x02", 1)), "",
         "the tile's elevation raster cannot be used: its version is not 1"},
        {"raster of 3-byte pixels", patchedTile(1, std::string("\x03", 1)), "",
         "its bytes per pixel do not suit its pixel format"},
        {"raster wider than its pixels", patchedTile(4, std::string("\x7a", 1)), "",
         "its DEMD atom's size is not width x height x bytes per pixel"},
        {"raster post-centric 1 wide", patchedTile(4, std::string("\x01\x00\x00\x00", 4)), "",
         "it is too small to place"},
        {"raster side file missing", textTile(rasterText, ""), nullptr,
         "raster_small.txt.elevation.raw cannot be read: No such file or directory"},
        {"raster side file one byte short", textTile(rasterText, raw.substr(1)), nullptr,
         "has 29,281 bytes of pixels; its size needs 29,282"},
        {"raster line without its width", textTile(replaced(rasterText, "width=121 ", ""), raw),
         nullptr, "its RASTER_DATA line lacks width="},
        {"raster line without a file", textTile(replaced(rasterText, " " + rawName, ""), raw),
         nullptr, "its RASTER_DATA line names no file"},
        {"raster of 3-byte pixels in text", textTile(replaced(rasterText, "bpp=2", "bpp=3"), raw),
         nullptr, "its bytes per pixel do not suit its pixel format"},
    };
    for (const auto& c : cases) {
        Scenario s;
        for (const auto& [name, bytes] : c.files) {
            if (!bytes.empty()) test::writeFile(s.dir / name, bytes);
        }
        test::writeFile(s.dir / "out.obj", "the user's object");
        test::writeFile(s.dir / "mesh_carver.ini",
                        test::iniText(45, 46, 7, 8, "in.dsf", "out.obj", "9999", "9999"));
        s.run = test::runTool(s.dir.path);
        const std::string line = "Error reading input file in.dsf\r\n";
        EXPECT_EQ(s.run.status, 255) << c.name;
        if (c.steps) {
            EXPECT_EQ(s.run.console, c.steps + line) << c.name;
        } else {
            EXPECT_TRUE(s.run.console.starts_with("Step 1:  1/ 1\r\n")) << c.name;
            EXPECT_TRUE(s.run.console.ends_with("\r\n" + line)) << c.name;
        }
        EXPECT_EQ(s.object(), "the user's object") << c.name;
        EXPECT_TRUE(s.run.errors.starts_with("mesh_carver: ")) << c.name;
        EXPECT_NE(s.run.errors.find(c.reason), std::string::npos) << c.name << ": " << s.run.errors;
    }
}

// Flagged vertices of the shared raster tile take heights from its 121 x 121 posts: checked
// against the posts read here, exactly on posts, to the printed digits between them.
TEST(Run, RasterTileCarvesToRealTerrain) {
    const std::string shared = SOURCE_DIR "/../shared/data/dsf/";
    if (!test::fileExists(shared + "raster_small.dsf")) GTEST_SKIP() << "no shared dsf folder";
    const std::string raw = test::readFile(shared + "raster_small.txt.elevation.raw");
    auto post = [&](int column, int row) {
        int16_t v;
        std::memcpy(&v, raw.data() + 2 * (row * 121 + column), 2);
        return double(v);
    };
    Carve carve = carveFile(shared + "raster_small.dsf", 45, 46, 7, 8);
    ASSERT_EQ(carve.status, 0);
    EXPECT_EQ(carve.object.find("-32768"), std::string::npos);
    std::regex comment("# PATCH_VERTEX ([-0-9.]+) ([-0-9.]+) ([-0-9.]+) ");
    int onPost = 0, between = 0;
    for (std::sregex_iterator m(carve.object.begin(), carve.object.end(), comment), end; m != end;
         ++m) {
        double x = (std::stod((*m)[1]) - 7) * 120, y = (std::stod((*m)[2]) - 45) * 120;
        double height = std::stod((*m)[3]);
        if ((*m)[3] == "812.000000000") continue;  // the pad keeps its own height
        int c = int(x), r = int(y);
        if (std::fabs(x - std::round(x)) < 1e-6 && std::fabs(y - std::round(y)) < 1e-6) {
            EXPECT_EQ(height, post(int(std::round(x)), int(std::round(y)))) << (*m)[0];
            ++onPost;
            continue;
        }
        double tx = x - c, ty = y - r;
        double expected = (post(c, r) * (1 - tx) + post(c + 1, r) * tx) * (1 - ty) +
                          (post(c, r + 1) * (1 - tx) + post(c + 1, r + 1) * tx) * ty;
        EXPECT_NEAR(height, expected, 1e-6) << (*m)[0];
        ++between;
    }
    EXPECT_GE(onPost, 10);
    EXPECT_GE(between, 20);
    // the report gives the author the altitude: the highest vertex, near the 2414 m hilltop
    std::string report = carve.console.substr(carve.console.rfind("PATCH_VERTEX"));
    EXPECT_NEAR(std::stod(report.substr(report.find(' ', 26))), 2400, 100) << report;
    EXPECT_NE(carve.object.find("# Origin: " + report.substr(0, report.size() - 2)),
              std::string::npos);
}

// A flagged vertex of a tile without an elevation raster is carved as it is stored.
TEST(Run, FlaggedVertexWithoutRasterKeepsItsElevation) {
    Scenario s;
    s.carve(block(2, {{"0", "0", "-32768.000000000"}, {"0.5", "0", "10"}, {"0", "0.5", "10"}}));
    ASSERT_EQ(s.run.status, 0);
    EXPECT_NE(s.object().find("VT -555.600000 -327.780000 0.000000  0.0 1.0 0.0 0.0 1.0 # "
                              "PATCH_VERTEX 0 0 -32768.000000000 0.5 0.5\r\n"),
              std::string::npos);
}

// A flagged vertex shows the raster's height in the object however its flag is written and
// however far into its line the field stands.
TEST(Run, FlaggedVerticesShowTheRastersHeight) {
    const std::string rasterLines =
        "PROPERTY sim/west -1\nPROPERTY sim/east 1\nPROPERTY sim/south -1\n"
        "PROPERTY sim/north 1\nRASTER_DEF elevation\nRASTER_DATA version=1 bpp=2 flags=5 "
        "width=2 height=2 scale=1.0 offset=0.0 flat.raw\n";
    const std::string longLongitude = "0." + std::string(70000, '0');
    const struct {
        const char* name;
        std::string lon, elev;
    } cases[] = {
        {"the flag as tiles print it", "0", "-32768.000000000"},
        {"the flag written short", "0", "-32768"},
        {"the flag far into a long line", longLongitude, "-32768.000000000"},
    };
    for (const auto& c : cases) {
        Scenario s;
        test::writeFile(s.dir / "flat.raw", std::string("\x07\x00\x07\x00\x07\x00\x07\x00", 8));
        s.carve(rasterLines + block(2, {{c.lon.c_str(), "0", c.elev.c_str()},
                                        {"0.5", "0", "10"},
                                        {"0", "0.5", "10"}}));
        ASSERT_EQ(s.run.status, 0) << c.name;
        EXPECT_NE(s.object().find("# PATCH_VERTEX " + c.lon + " 0 7.000000000 0.5 0.5\r\n"),
                  std::string::npos)
            << c.name;
    }
}

// The Wavefront file of a cut: welded vertices, upward faces, degenerate triangles left out.
TEST(Run, WavefrontWeldsAndTurnsFacesUp) {
    const Vertex P0 = {"0", "0", "10"}, P1 = {"0.5", "0", "10"}, P2 = {"0.5", "0.5", "10"},
                 P3 = {"0", "0.5", "10"};
    const struct {
        const char* name;
        std::string tile;
        int vertices;
        std::string faces;
    } cases[] = {
        {"fan and list share corners", block(2, {P0, P1, P2, P3}) + block(0, {P0, P2, P3}), 4,
         "f 1 2 3\r\nf 1 3 4\r\nf 1 3 4\r\n"},
        {"blocks share corners", block(0, {P0, P1, P2}) + block(0, {P2, P1, P0}), 3,
         "f 1 2 3\r\nf 3 1 2\r\n"},
        {"a clockwise triangle is turned", block(0, {P0, P3, P2}), 3, "f 1 3 2\r\n"},
        {"a triangle with two equal corners is left out", block(0, {P0, P0, P1, P0, P1, P2}), 3,
         "f 1 2 3\r\n"},
        {"an empty cut", block(0, {OUT, OUT, OUT}), 0, ""},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.extraIni = "wavefront_file=cut.obj\n";
        s.carve(c.tile);
        ASSERT_EQ(s.run.status, 0) << c.name;
        std::string obj = test::readFile(s.dir / "cut.obj");
        EXPECT_TRUE(obj.starts_with("# mesh_carver cut: metres")) << c.name;
        EXPECT_NE(obj.find("\r\no cut\r\n"), std::string::npos) << c.name;
        int vertices = 0;
        std::string faces;
        for (size_t at = 0; (at = obj.find("\r\n", at)) != std::string::npos; at += 2) {
            if (obj.compare(at + 2, 2, "v ") == 0) ++vertices;
            if (obj.compare(at + 2, 2, "f ") == 0) {
                faces += obj.substr(at + 2, obj.find("\r\n", at + 2) - at);
            }
        }
        EXPECT_EQ(vertices, c.vertices) << c.name;
        EXPECT_EQ(faces, c.faces) << c.name;
    }
    // a vertex in metres relative to the origin: 0.5 degree east at the equator is 55,560 m
    Scenario s;
    s.extraIni = "wavefront_file=cut.obj\n";
    s.carve(block(0, {P0, P1, {"0", "0.5", "20"}}));
    EXPECT_NE(test::readFile(s.dir / "cut.obj")
                  .find("v 4.2311 -10.0000 55560.0000\r\nv 55564.2311 -10.0000 55560.0000\r\n"
                        "v 0.0000 0.0000 0.0000\r\n"),
              std::string::npos);
}

// Without the key, or with it empty, nothing is written beside the object and the console is
// as before; an existing Wavefront file survives a failed run.
TEST(Run, WavefrontKeyAbsentOrEmptyChangesNothing) {
    const std::string tile = block(2, {IN, IN, IN});
    Scenario plain, empty;
    plain.carve(tile);
    empty.extraIni = "wavefront_file=\n";
    empty.carve(tile);
    EXPECT_EQ(empty.run.console, plain.run.console);
    EXPECT_EQ(empty.object(), plain.object());
    size_t files = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(empty.dir.path)) {
        ++files;
    }
    EXPECT_EQ(files, 4u);  // ini, tile, tmp, object
    Scenario failing;
    failing.extraIni = "wavefront_file=cut.obj\n";
    failing.maxVertex = "2";
    test::writeFile(failing.dir / "cut.obj", "the author's model");
    failing.carve(tile);
    EXPECT_EQ(failing.run.status, 255);
    EXPECT_EQ(test::readFile(failing.dir / "cut.obj"), "the author's model");
}

// The bundled sample carved with one more line in its ini.
void carveSample(Scenario& s, const std::string& extraLine) {
    std::filesystem::copy(SOURCE_DIR "/examples/sample_tile.txt", s.dir / "sample_tile.txt");
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::readFile(SOURCE_DIR "/examples/mesh_carver.ini") + extraLine);
    s.run = test::runTool(s.dir.path);
}

// The sample's Wavefront file opened by Blender's own importer with its default axes.
TEST(Run, WavefrontImportsIntoBlender) {
    if (std::system("command -v blender > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "Blender is not installed";
    }
    Scenario s;
    carveSample(s, "wavefront_file=sample_cut_blender.obj\n");
    ASSERT_EQ(s.run.status, 0);
    // counts and extent as the file states them, on Blender's axes: -Z forward, Y up
    std::string obj = test::readFile(s.dir / "sample_cut_blender.obj");
    int vertices = 0, faces = 0;
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    std::istringstream lines(obj);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("f ")) ++faces;
        if (!line.starts_with("v ")) continue;
        ++vertices;
        std::istringstream v(line.substr(2));
        double x, y, z;
        v >> x >> y >> z;
        double blender[3] = {x, -z, y};
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], blender[k]), high[k] = std::max(high[k], blender[k]);
        }
    }
    ASSERT_GT(faces, 10);
    std::ostringstream command;
    command << std::setprecision(17) << "cd '" << s.dir.path
            << "' && blender -b --factory-startup -noaudio "
            << "--python-exit-code 3 --python '" SOURCE_DIR "/tests/blender_import_check.py' -- "
            << "sample_cut_blender.obj " << vertices << " " << faces;
    for (int k = 0; k < 3; ++k) command << " " << low[k] << " " << high[k];
    command << " > blender.log 2>&1";
    int status = std::system(command.str().c_str());
    EXPECT_EQ(status, 0) << test::readFile(s.dir / "blender.log");
}

// The previews of the sample and of the shared TIN's first window (the README's picture),
// rendered by a real browser and checked against their own SVG.
TEST(Run, PreviewRendersInChromium) {
    const std::string tin = SOURCE_DIR "/../shared/data/dsf/";
    for (const char* name : {"sample_preview", "tin_preview"}) {
        Scenario s;
        const std::string key = std::string("preview_file=") + name + ".svg\n";
        if (std::string(name) == "sample_preview") {
            carveSample(s, key);
            EXPECT_EQ(s.run.console, test::readFile(SOURCE_DIR "/examples/expected_console.txt"));
        } else {
            if (!test::fileExists(tin + "tin_small.dsf")) continue;
            std::string ini = test::readFile(tin + "expected/tin_small_a/mesh_carver.ini");
            test::writeFile(s.dir / "mesh_carver.ini",
                            replaced(ini, "../../tin_small.txt", tin + "tin_small.dsf") + key);
            s.run = test::runTool(s.dir.path);
        }
        ASSERT_EQ(s.run.status, 0) << name;
        std::string svg = test::readFile(s.dir / (std::string(name) + ".svg"));
        ASSERT_TRUE(svg.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\""));
        // the same bytes on each run
        EXPECT_EQ(svg, test::readFile(SOURCE_DIR "/docs/" + std::string(name) + ".svg")) << name;
        if (std::system("command -v chromium > /dev/null 2>&1") != 0) {
            GTEST_SKIP() << "Chromium is not installed";
        }
        std::smatch size;
        ASSERT_TRUE(std::regex_search(svg, size, std::regex("width=\"(\\d+)\" height=\"(\\d+)\"")));
        std::string command =
            "cd '" + s.dir.path + "' && chromium --headless --no-sandbox --disable-gpu " +
            "--disable-quic --no-first-run --disable-background-networking " +
            "--disable-component-update --disable-sync --hide-scrollbars --user-data-dir=profile " +
            "--window-size=" + size[1].str() + "," + size[2].str() +
            " --screenshot=preview.png file://" + s.dir.path + "/" + name + ".svg > chromium.log " +
            "2>&1 && python3 '" SOURCE_DIR "/tests/preview_check.py' " + name +
            ".svg preview.png " + (std::string(name) == "tin_preview" ? "covered" : "") +
            " > check.log 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << name << test::readFile(s.dir / "check.log")
                                                   << test::readFile(s.dir / "chromium.log");
    }
}

// Beyond 100,000 triangles the preview is a grid of cells: small whatever the cut.
TEST(Run, PreviewOfALargeCutStaysSmall) {
    Scenario s;
    std::string make = "'" MAKE_TILE_EXE "' 25000000 8 12 47 0.1 > '" + (s.dir / "tile.txt") + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::iniText(46, 48, 11, 13, "tile.txt", "out.obj", "9999999", "9999999") +
                        "preview_file=preview.svg\n");
    s.run = test::runTool(s.dir.path);
    ASSERT_EQ(s.run.status, 0);
    std::smatch counts;
    std::string object = s.object();
    ASSERT_TRUE(std::regex_search(object, counts, std::regex("POINT_COUNTS \\d+ 0 0 (\\d+)")));
    EXPECT_GT(std::stoul(counts[1]) / 3, 100000u);
    std::string svg = test::readFile(s.dir / "preview.svg");
    EXPECT_LT(svg.size(), 3000000u);
    EXPECT_NE(svg.find("h"), std::string::npos);
    EXPECT_EQ(svg.find("L"), std::string::npos);  // cells, not triangles
}

// The progress line goes to standard error only when it is a terminal, and is cleared at the
// end; standard output stays byte for byte the same.
TEST(Run, ProgressShowsOnATerminalOnly) {
    Scenario s;
    std::string make = "'" MAKE_TILE_EXE "' 60000000 3 12 47 0.2 > '" + (s.dir / "tile.txt") + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    test::writeFile(s.dir / "mesh_carver.ini", test::iniText(47.05, 47.06, 12.05, 12.06, "tile.txt",
                                                             "out.obj", "9999", "9999"));
    test::ToolRun plain = test::runTool(s.dir.path);
    EXPECT_EQ(plain.errors, "");
    std::string command = "cd '" + s.dir.path +
                          "' && script -qec \"'" MESH_CARVER_EXE
                          "' > console.txt\" /dev/null > terminal.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(test::readFile(s.dir / "console.txt"), plain.console);
    std::string terminal = test::readFile(s.dir / "terminal.txt");
    EXPECT_NE(terminal.find("\rReading "), std::string::npos) << terminal;
    EXPECT_TRUE(std::regex_search(terminal, std::regex(" of 5\\d\\.\\d MB  "))) << terminal;
    EXPECT_NE(terminal.find(" MB/s"), std::string::npos) << terminal;
    // the last thing on the terminal is the line blanked out
    EXPECT_TRUE(std::regex_search(terminal, std::regex("\r +\r$"))) << terminal;

    // standard output buffered on a terminal, in a pipe, and beside the progress line on one
    // terminal: the same bytes, and no line broken into by the progress line
    command = "cd '" + s.dir.path +
              "' && script -qec \"stty -onlcr; '" MESH_CARVER_EXE
              "' 2>/dev/null\" /dev/null > stdout_terminal.txt && script -qec \"stty -onlcr; "
              "'" MESH_CARVER_EXE "'\" /dev/null > both_terminal.txt && '" MESH_CARVER_EXE
              "' | cat > piped.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(test::readFile(s.dir / "stdout_terminal.txt"), plain.console);
    EXPECT_EQ(test::readFile(s.dir / "piped.txt"), plain.console);
    std::string both = std::regex_replace(test::readFile(s.dir / "both_terminal.txt"),
                                          std::regex("\rReading [^\r]*|\r +\r"), "");
    EXPECT_EQ(both, plain.console);
}

// A 7z tile shows its unpacking as it goes: the line moves about ten times a second (here
// 1 GiB of zeros, which then turns out to be no tile).
TEST(Run, UnpackingShowsOnATerminalAsItGoes) {
    Scenario s;
    test::writeFile(
        s.dir / "mesh_carver.ini",
        test::iniText(1, 2, 1, 2, SOURCE_DIR "/tests/data/zeros_1gib.7z.dsf", "out.obj", "9", "9"));
    auto start = std::chrono::steady_clock::now();
    std::string command = "cd '" + s.dir.path +
                          "' && script -qec \"'" MESH_CARVER_EXE
                          "' > console.txt\" /dev/null > terminal.txt";
    std::system(command.c_str());
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string terminal = test::readFile(s.dir / "terminal.txt");
    size_t draws = 0;
    for (size_t at = 0; (at = terminal.find("\rUnpacking ", at)) != std::string::npos; ++at)
        ++draws;
    EXPECT_GE(double(draws), 5 * seconds - 3) << seconds << " s: " << terminal;
    EXPECT_GE(draws, 3u) << terminal;
    EXPECT_EQ(test::readFile(s.dir / "console.txt"),
              "Error reading input file " SOURCE_DIR "/tests/data/zeros_1gib.7z.dsf\r\n");
}

// What cmake --install (and so the release archive) carries: the program, and beside it the
// project's licence and the licence texts of the libraries inside.
TEST(Run, InstallCarriesTheLicences) {
    test::TempDir dir;
    std::string command = "cmake --install '" BUILD_DIR "' --prefix '" + dir.path + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(test::fileExists(dir / "bin/mesh_carver"));
    EXPECT_NE(test::readFile(dir / "share/doc/mesh_carver/LICENSE").find("MIT License"),
              std::string::npos);
    std::string notices = test::readFile(dir / "share/doc/mesh_carver/THIRD-PARTY-NOTICES");
    EXPECT_NE(notices.find("The libarchive distribution as a whole is Copyright by Tim Kientzle"),
              std::string::npos);
    EXPECT_NE(notices.find("liblzma is in the public domain"), std::string::npos);
}

// Real scenery text from public projects, when the shared folder is beside the project.
TEST(Run, RealTilesGiveConsistentObjects) {
    const std::filesystem::path tiles = SOURCE_DIR "/../shared/data/tiles";
    if (!std::filesystem::is_directory(tiles)) GTEST_SKIP() << "no shared tiles folder";
    int carved = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tiles)) {
        if (entry.path().extension() != ".txt") continue;
        std::string text = test::readFile(entry.path().string());
        // a window just around every vertex of the file
        double west = 180, east = -180, south = 90, north = -90;
        std::regex vertex("PATCH_VERTEX ([-0-9.]+) ([-0-9.]+)");
        for (std::sregex_iterator m(text.begin(), text.end(), vertex), end; m != end; ++m) {
            double lon = std::stod((*m)[1]), lat = std::stod((*m)[2]);
            west = std::min(west, lon), east = std::max(east, lon);
            south = std::min(south, lat), north = std::max(north, lat);
        }
        if (west > east) west = 0, east = 1, south = 0, north = 1;
        Scenario s;
        std::filesystem::copy(entry.path(), s.dir / "tile.txt");
        test::writeFile(s.dir / "mesh_carver.ini",
                        test::iniText(south - 0.001, north + 0.001, west - 0.001, east + 0.001,
                                      "tile.txt", "out.obj", "100000", "100000"));
        s.run = test::runTool(s.dir.path);
        // the raster side file the converter writes beside the text is not part of a fragment:
        // no kept vertex needs a height, so the cut is the same with it and without it
        std::smatch raster;
        if (std::regex_search(text, raster,
                              std::regex("RASTER_DATA .*bpp=(\\d+) .*width=(\\d+) "
                                         "height=(\\d+) .* (\\S+)\n"))) {
            Scenario withSideFile;
            std::filesystem::copy(entry.path(), withSideFile.dir / "tile.txt");
            std::filesystem::copy(s.dir / "mesh_carver.ini", withSideFile.dir / "mesh_carver.ini");
            test::writeFile(
                withSideFile.dir / raster[4].str(),
                std::string(std::stoul(raster[1]) * std::stoul(raster[2]) * std::stoul(raster[3]),
                            '\0'));
            withSideFile.run = test::runTool(withSideFile.dir.path);
            EXPECT_EQ(withSideFile.run.console, s.run.console) << entry.path();
            EXPECT_EQ(withSideFile.object(), s.object()) << entry.path();
        }
        EXPECT_EQ(s.run.status, 0) << entry.path();
        std::string object = s.object();
        std::smatch counts;
        ASSERT_TRUE(
            std::regex_search(object, counts, std::regex("POINT_COUNTS (\\d+) 0 0 (\\d+)\r\n")))
            << entry.path();
        size_t vertices = 0, indices = 0;
        for (size_t at = 0; (at = object.find("\nVT ", at)) != std::string::npos; ++at) ++vertices;
        for (size_t at = 0; (at = object.find("\nIDX ", at)) != std::string::npos; ++at) ++indices;
        EXPECT_EQ(std::to_string(vertices), counts[1].str()) << entry.path();
        EXPECT_EQ(std::to_string(indices), counts[2].str()) << entry.path();
        EXPECT_NE(object.find("\r\nTRIS 0 " + counts[2].str() + "\r\n"), std::string::npos);
        ++carved;
    }
    EXPECT_GT(carved, 0);
}

const char NOT_FOUND[] =
    "mesh_carver.ini file not found; This file shall be in the same directory as "
    "mesh_carver.exe\r\n";

TEST(Configuration, MissingOrEmptyFileIsReportedAlone) {
    test::TempDir dir;
    test::ToolRun run = test::runTool(dir.path);
    EXPECT_EQ(run.console, NOT_FOUND);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.errors,
              "mesh_carver: there is no mesh_carver.ini with a [mesh_carver] section in " +
                  dir.path + " (mesh_carver --help lists its keys)\r\n");
    EXPECT_FALSE(test::fileExists(dir / "mesh_carver.tmp"));

    test::writeFile(dir / "mesh_carver.ini", "");
    run = test::runTool(dir.path);
    EXPECT_EQ(run.console, NOT_FOUND);
    EXPECT_EQ(run.status, 255);

    std::filesystem::create_directory(dir / "sub");
    std::filesystem::remove(dir / "mesh_carver.ini");
    std::filesystem::create_directory(dir / "mesh_carver.ini");
    run = test::runTool(dir.path);
    EXPECT_EQ(run.console, NOT_FOUND);
}

TEST(Configuration, FirstMissingOrEmptyKeyIsNamed) {
    const char* keys[] = {"lat_min",    "lat_max",     "long_min",      "long_max",
                          "input_file", "output_file", "nb_max_vertex", "nb_max_tris"};
    const char* values[] = {"1", "2", "3", "4", "in.txt", "out.obj", "10", "10"};
    test::TempDir dir;
    for (int missing = 0; missing < 8; ++missing) {
        for (bool emptyValue : {false, true}) {
            std::string ini = "[mesh_carver]\n";
            // the keys after the failing one are left out too: they must never be needed
            for (int k = 0; k < missing; ++k) ini += std::string(keys[k]) + "=" + values[k] + "\n";
            if (emptyValue) ini += std::string(keys[missing]) + "=  \n";
            test::writeFile(dir / "mesh_carver.ini", ini);
            test::ToolRun run = test::runTool(dir.path);
            EXPECT_EQ(run.console,
                      "Error reading " + std::string(keys[missing]) + " in ini file\r\n");
            EXPECT_EQ(run.status, 255);
            EXPECT_FALSE(test::fileExists(dir / "mesh_carver.tmp"));
        }
    }
}

// An ini as Windows editors leave it: byte-order mark, CR LF, comments, padding, quotes, any case.
TEST(Configuration, WindowsStyleFileIsRead) {
    test::TempDir dir;
    test::writeFile(dir / "tile.txt",
                    "BEGIN_PRIMITIVE 2\nPATCH_VERTEX 0 0 1\nPATCH_VERTEX 0.5 0 1\n"
                    "PATCH_VERTEX 0 0.5 1\nEND_PRIMITIVE\n");
    test::writeFile(dir / "mesh_carver.ini",
                    "\xEF\xBB\xBF; carving settings\r\n[Other]\r\nlat_min=50\r\n"
                    "  [ MESH_CARVER ]  \r\n\r\n  ; the window\r\n"
                    "LAT_MIN = -1\r\nLat_Max\t=\t\"1\"\r\n long_min='-1'\r\nlong_max = 1 \r\n"
                    "input_file = \"tile.txt\"\r\nOutput_File=out.obj\r\n"
                    "nb_max_vertex=4.5\r\nnb_max_tris= 3.5\r\n");
    test::ToolRun run = test::runTool(dir.path);
    EXPECT_EQ(run.status, 0) << run.console;
    // 4.5 counts as 4, 3.5 as 4: the fan's three vertices and three indices fit
    EXPECT_NE(test::readFile(dir / "out.obj").find("POINT_COUNTS 3 0 0 3\r\n"), std::string::npos);
}

}  // namespace
}  // namespace mc
