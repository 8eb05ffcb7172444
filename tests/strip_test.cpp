// Triangle strips, as real tiles store their terrain: carved triangle by triangle, every
// triangle facing the way the strip does, through every input form.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>

#include "run_scenario.h"
#include "test_support.h"
#include "tile_builder.h"

namespace mc {
namespace {

using Triangle = std::array<std::string, 3>;

// The object's triangles as the source lines of their corners, in index order.
std::vector<Triangle> objectTriangles(const std::string& object) {
    std::vector<std::string> vertices;
    std::vector<Triangle> triangles;
    std::istringstream lines(object);
    size_t corner = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("VT ")) vertices.push_back(line.substr(line.find("# ") + 2));
        if (!line.starts_with("IDX ")) continue;
        if (corner == 0) triangles.emplace_back();
        triangles.back()[corner] = vertices.at(std::stoul(line.substr(4)));
        corner = (corner + 1) % 3;
    }
    return triangles;
}

// The strip's vertices, stored in line order, and its kept triangles (t, t+1, t+2), the first
// two swapped for odd t.
TEST(Strips, KeepTouchingTrianglesFacingTheStripsWay) {
    const Vertex A = {"0.1", "0.5", "1"}, B = {"0.2", "0.5", "2"}, C = {"0.3", "0.5", "3"},
                 D = {"0.4", "0.5", "4"}, E = {"0.6", "0.5", "5"};
    const Vertex P = {"5", "5", "6"}, Q = {"6", "5", "7"}, R = {"7", "5", "8"}, S = {"8", "5", "9"};
    const struct {
        const char* name;
        std::string tile;
        const char* counts;
        const char* indices;
    } cases[] = {
        {"all inside", block(1, {A, B, C, D, E}), "5 0 0 9", "0 1 2 2 1 3 2 3 4"},
        {"the last line only", block(1, {P, Q, R, S, A}), "3 0 0 3", "0 1 2"},
        {"one line in the middle", block(1, {P, Q, A, R, S, P}), "5 0 0 9", "0 1 2 2 1 3 2 3 4"},
        {"an odd triangle alone", block(1, {P, A, Q, R, S}), "4 0 0 6", "0 1 2 2 1 3"},
        {"two lines make nothing", block(1, {A, B}), "0 0 0 0", ""},
        {"beside a fan", block(2, {A, B, C}) + block(1, {D, E, A}), "6 0 0 6", "0 1 2 3 4 5"},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.carve(c.tile);
        ASSERT_EQ(s.run.status, 0) << c.name;
        std::string object = s.object();
        EXPECT_NE(object.find(std::string("POINT_COUNTS ") + c.counts + "\r\n"), std::string::npos)
            << c.name;
        std::string indices;
        for (size_t at = 0; (at = object.find("\nIDX ", at)) != std::string::npos; ++at) {
            if (!indices.empty()) indices += ' ';
            indices.append(object, at + 5, object.find('\r', at) - at - 5);
        }
        EXPECT_EQ(indices, c.indices) << c.name;
    }
}

// Random strips keep exactly the triangles, in the same order and facing, as the same triangles
// written as lists: in text, and in binary with plain, cross-pool and range strip commands.
TEST(Strips, KeepTheTrianglesOfTheSameTrianglesListed) {
    std::mt19937 random(16);
    auto carveBoth = [](const std::string& strips, const std::string& lists, const char* name,
                        double low, double high) {
        test::TempDir dir;
        test::writeFile(dir / "strips", strips);
        test::writeFile(dir / "lists", lists);
        Carve a = carveFile(dir / "strips", low, high, low, high);
        Carve b = carveFile(dir / "lists", low, high, low, high);
        ASSERT_EQ(a.status, 0) << name;
        ASSERT_EQ(b.status, 0) << name;
        std::vector<Triangle> fromStrips = objectTriangles(a.object);
        EXPECT_GT(fromStrips.size(), 20u) << name;
        EXPECT_EQ(fromStrips, objectTriangles(b.object)) << name;
    };
    for (int round = 0; round < 4; ++round) {
        // text: corners on a coarse grid, so that some triangles touch the window and some not
        std::string strips, lists;
        for (int k = 0; k < 40; ++k) {
            std::vector<std::string> lines;
            size_t n = 1 + random() % 12;
            for (size_t i = 0; i < n; ++i) {
                lines.push_back("PATCH_VERTEX " + std::to_string(int(random() % 9) - 4) + " " +
                                std::to_string(int(random() % 9) - 4) + " " +
                                std::to_string(random() % 1000) + " 0 0\n");
            }
            strips += "BEGIN_PRIMITIVE 1\n";
            for (const std::string& line : lines) strips += line;
            strips += "END_PRIMITIVE\n";
            lists += "BEGIN_PRIMITIVE 0\n";
            for (size_t t = 0; t + 2 < n; ++t) {
                lists += lines[t % 2 ? t + 1 : t] + lines[t % 2 ? t : t + 1] + lines[t + 2];
            }
            lists += "END_PRIMITIVE\n";
        }
        carveBoth(strips, lists, "text", -2.5, 2.5);

        // binary: three pools of 40 points; each strip as 26 (current pool), 27 (cross-pool)
        // or 28 (a range of the current pool), its triangles as one cross-pool list (24)
        std::vector<test::PoolFixture> pools(3);
        for (test::PoolFixture& pool : pools) {
            for (int plane = 0; plane < 5; ++plane) {
                test::PlaneFixture fixture{uint8_t(random() % 4), {}};
                for (int i = 0; i < 40; ++i) fixture.values.push_back(uint16_t(random()));
                pool.push_back(fixture);
            }
        }
        std::string stripCommands = std::string("\x01\x00\x00\x10", 4), listCommands;
        listCommands = stripCommands;
        for (int k = 0; k < 40; ++k) {
            uint32_t pool = random() % 3, form = random() % 3, n = 1 + random() % 30;
            std::vector<std::pair<uint32_t, uint32_t>> refs;  // pool, index
            stripCommands += '\x01';
            test::put16(stripCommands, pool);
            if (form == 2) {
                uint32_t first = random() % (41 - n);
                stripCommands += '\x1c';
                test::put16(stripCommands, first);
                test::put16(stripCommands, first + n);
                for (uint32_t i = 0; i < n; ++i) refs.push_back({pool, first + i});
            } else {
                stripCommands += form == 0 ? '\x1a' : '\x1b';
                stripCommands += char(n);
                for (uint32_t i = 0; i < n; ++i) {
                    refs.push_back({form == 0 ? pool : uint32_t(random() % 3), random() % 40});
                    if (form == 1) test::put16(stripCommands, refs.back().first);
                    test::put16(stripCommands, refs.back().second);
                }
            }
            if (n < 3) continue;
            listCommands += '\x18';
            listCommands += char(3 * (n - 2));
            for (size_t t = 0; t + 2 < n; ++t) {
                for (size_t line : {t % 2 ? t + 1 : t, t % 2 ? t : t + 1, t + 2}) {
                    test::put16(listCommands, refs[line].first);
                    test::put16(listCommands, refs[line].second);
                }
            }
        }
        carveBoth(test::tileBytes(pools, stripCommands), test::tileBytes(pools, listCommands),
                  "binary", 0.3, 0.7);
    }
}

// A terrain TIN as the simulator's own library writes it: two windows, byte for byte, from its
// text, binary and 7z forms.
TEST(Strips, TinSampleGivesTheExpectedWindows) {
    const std::string samples = SOURCE_DIR "/tests/data/dsf/";
    for (const char* window : {"tin_small_a", "tin_small_b"}) {
        const std::string expected = samples + "expected/" + window + "/";
        std::string ini = test::readFile(expected + "mesh_carver.ini");
        for (const char* form : {"tin_small.txt", "tin_small.dsf", "tin_small.7z.dsf"}) {
            Scenario s;
            size_t at = ini.find("../../tin_small.txt");
            ASSERT_NE(at, std::string::npos);
            test::writeFile(s.dir / "mesh_carver.ini",
                            std::string(ini).replace(at, 19, samples + form));
            s.run = test::runTool(s.dir.path);
            std::string where = std::string(window) + " from " + form;
            EXPECT_EQ(s.run.status, 0) << where;
            EXPECT_EQ(s.run.console, test::readFile(expected + "console.txt")) << where;
            EXPECT_EQ(s.temp(), test::readFile(expected + "mesh_carver.tmp")) << where;
            EXPECT_EQ(test::readFile(s.dir / (std::string(window) + ".obj")),
                      test::readFile(expected + window + ".obj"))
                << where;
        }
    }
}

// A cut of a generated TIN covers its window: every point of its inner part lies in a kept
// triangle, and every kept triangle faces up (counter-clockwise seen from above).
TEST(Strips, GeneratedTinCutLeavesNoHole) {
    Scenario s;
    std::string make = "'" MAKE_TILE_EXE "' 3000000 5 12 47 0.05 > '" + (s.dir / "tile.txt") + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const double south = 47.01, north = 47.03, west = 12.015, east = 12.04;
    test::writeFile(s.dir / "mesh_carver.ini", test::iniText(south, north, west, east, "tile.txt",
                                                             "out.obj", "1000000", "1000000"));
    s.run = test::runTool(s.dir.path);
    ASSERT_EQ(s.run.status, 0);
    struct Corner {
        double lon, lat;
    };
    std::vector<std::array<Corner, 3>> triangles;
    for (const Triangle& t : objectTriangles(s.object())) {
        std::array<Corner, 3> corners;
        for (int k = 0; k < 3; ++k) {
            std::istringstream fields(t[k].substr(t[k].find(' ')));
            fields >> corners[k].lon >> corners[k].lat;
        }
        triangles.push_back(corners);
    }
    ASSERT_GT(triangles.size(), 1000u);
    auto cross = [](Corner o, Corner a, Corner b) {
        return (a.lon - o.lon) * (b.lat - o.lat) - (a.lat - o.lat) * (b.lon - o.lon);
    };
    for (const auto& c : triangles) ASSERT_GT(cross(c[0], c[1], c[2]), 0);
    // the triangles by the grid cells of 1/400 of the window their bounds touch
    const int N = 20;
    std::vector<std::vector<size_t>> cells(N * N);
    auto cellOf = [&](double lon, double lat, int& i, int& j) {
        i = std::clamp(int((lon - west) / (east - west) * N), 0, N - 1);
        j = std::clamp(int((lat - south) / (north - south) * N), 0, N - 1);
    };
    for (size_t k = 0; k < triangles.size(); ++k) {
        int i0 = N, j0 = N, i1 = 0, j1 = 0;
        for (const Corner& c : triangles[k]) {
            int i, j;
            cellOf(c.lon, c.lat, i, j);
            i0 = std::min(i0, i), j0 = std::min(j0, j), i1 = std::max(i1, i), j1 = std::max(j1, j);
        }
        for (int j = j0; j <= j1; ++j)
            for (int i = i0; i <= i1; ++i) cells[j * N + i].push_back(k);
    }
    // a triangle across the window's edge with no corner inside is not the window's: the inner
    // part stays a cell (0.05 / 136 degree) clear of the edges
    const double margin = 0.001;
    int uncovered = 0;
    for (int pj = 1; pj < 300; ++pj) {
        for (int pi = 1; pi < 300; ++pi) {
            Corner p{west + margin + (east - west - 2 * margin) * pi / 300,
                     south + margin + (north - south - 2 * margin) * pj / 300};
            int i, j;
            cellOf(p.lon, p.lat, i, j);
            bool covered = false;
            for (size_t k : cells[j * N + i]) {
                const auto& c = triangles[k];
                if (cross(c[0], c[1], p) >= -1e-15 && cross(c[1], c[2], p) >= -1e-15 &&
                    cross(c[2], c[0], p) >= -1e-15) {
                    covered = true;
                    break;
                }
            }
            if (!covered) ++uncovered;
        }
    }
    EXPECT_EQ(uncovered, 0);
}

}  // namespace
}  // namespace mc
