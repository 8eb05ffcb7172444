// End-to-end runs that fail: capacities, files, arguments and damaged tiles, each with its one
// console line, its reason on standard error, and nothing of the user's lost.
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
    std::string tile = block(2, {IN, IN, IN});
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
        {"tile.txt", "out.obj", "", writing + "Error writing output file cut.svg\r\n",
         "the cut's vertices lie too far apart to be drawn (their extent is not a finite number "
         "of metres)",
         "preview_file=cut.svg\n", block(2, {IN, IN, {"1e308", "0.5", "1"}})},
    };
    for (const FileFailureCase& c : cases) {
        Scenario s;
        s.input = c.input;
        s.output = c.output;
        s.extraIni = c.extraIni;
        if (*c.directoryInTheWay) std::filesystem::create_directory(s.dir / c.directoryInTheWay);
        if (!*c.directoryInTheWay) test::writeFile(s.dir / "mesh_carver.tmp", "earlier run");
        s.carve(c.tile);
        std::string expected = c.consoleEnd;
        if (size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, s.dir.path);
        EXPECT_EQ(s.run.console, expected) << c.input << " " << c.output;
        EXPECT_EQ(s.run.errors, "mesh_carver: " + replaced(c.reason, "@", s.dir.path) + "\r\n")
            << c.input << " " << c.output;
        EXPECT_EQ(s.run.status, 255);
        EXPECT_EQ(test::readFile(s.dir / "tile.txt"), c.tile);  // never replaced
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

// Damaged tiles and rasters end the run with the read failure and its reason on standard
// error; the user's object stays as it was. Text tiles print their "Step" lines first: their
// raster is read when the first flagged vertex comes.
TEST(Run, DamagedBinaryTilesAndRastersAreRefused) {
    const std::string samples = SOURCE_DIR "/tests/data/dsf/";
    const std::string archives = SOURCE_DIR "/tests/data/archives/";
    using Files = std::vector<std::pair<std::string, std::string>>;  // name, bytes
    auto copied = [](const std::string& path) { return Files{{"in.dsf", test::readFile(path)}}; };
    const std::string rasterText = test::readFile(samples + "raster_small.txt");
    const std::string raw = test::readFile(samples + "raster_small.txt.elevation.raw");
    const std::string rawName = "raster_small.txt.elevation.raw";
    const std::string rasterTile = test::readFile(samples + "raster_small.dsf");
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
        {"bad cookie", copied(samples + "corrupt/bad_cookie.dsf"), "",
         "the tile is damaged: it is not a version 1 DSF file: byte 0 of 509"},
        {"truncated", copied(samples + "corrupt/truncated.dsf"), "",
         "the CMDS atom runs past the end of the file: byte 493 of 470"},
        {"index out of range", copied(samples + "corrupt/index_out_of_range.dsf"),
         "Step 1:  1/ 1\r\n",
         "command 23 of the CMDS atom: a vertex names a point outside its pool: byte 479 of 509"},
        {"damaged 7z data", copied(samples + "corrupt/corrupt.7z.dsf"), "",
         "in.dsf does not unpack: its entry cannot be unpacked (Decompression failed"},
        {"empty 7z", copied(archives + "empty.7z.dsf"), "",
         "does not unpack: the archive is empty"},
        {"7z holding a folder first", copied(archives + "folder_first.7z.dsf"), "",
         "the archive's first entry is not a file"},
        {"encrypted 7z", copied(archives + "encrypted.7z.dsf"), "",
         "(The file content is encrypted"},
        {"7z method the library cannot decode", copied(archives + "deflate64.7z.dsf"), "",
         "(Unknown codec ID"},
        {"7z holding text", copied(archives + "text_inside.7z.dsf"), "",
         "it is not a version 1 DSF file: byte 0 of 24"},
        {"7z declaring more than 4 GiB", copied(archives + "declares_over_4gib.7z.dsf"), "",
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

}  // namespace
}  // namespace mc
