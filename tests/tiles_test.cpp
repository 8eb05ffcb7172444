// End-to-end runs over every form of tile: binary, 7z and text alike, rasters, real fragments.
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

// The sample tiles in binary, 7z (LZMA and LZMA2) and text form, made by the usual converter.
TEST(Run, BinaryTilesCarveLikeTheirTextForm) {
    const std::string folder = SOURCE_DIR "/tests/data/dsf/";
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

// Flagged vertices of the raster sample tile take heights from its 121 x 121 posts: checked
// against the posts read here, exactly on posts, to the printed digits between them.
TEST(Run, RasterTileCarvesToRealTerrain) {
    const std::string samples = SOURCE_DIR "/tests/data/dsf/";
    const std::string raw = test::readFile(samples + "raster_small.txt.elevation.raw");
    auto post = [&](int column, int row) {
        int16_t v;
        std::memcpy(&v, raw.data() + 2 * (row * 121 + column), 2);
        return double(v);
    };
    Carve carve = carveFile(samples + "raster_small.dsf", 45, 46, 7, 8);
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

// Real scenery text from public projects.
TEST(Run, RealTilesGiveConsistentObjects) {
    const std::filesystem::path tiles = SOURCE_DIR "/tests/data/tiles";
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

}  // namespace
}  // namespace mc
