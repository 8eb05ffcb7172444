#include "app/config.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace mc {
namespace {

struct LookupCase {
    std::string file;
    std::string key;
    std::string value;
};

TEST(LookupProfileValue, FollowsTheWindowsProfileRules) {
    using namespace std::string_literals;
    const LookupCase cases[] = {
        {"[mesh_carver]\nlat_min=1.5\n", "lat_min", "1.5"},
        {"[mesh_carver]\r\nlat_min=1.5\r\n", "lat_min", "1.5"},
        {"\xEF\xBB\xBF[mesh_carver]\nlat_min=2\n", "lat_min", "2"},
        {"[MESH_Carver]\nLAT_MIN=3\n", "lat_min", "3"},
        {" [ mesh_carver ] trailing\n\t lat_min \t=\t 4 \r\n", "lat_min", "4"},
        {"[mesh_carver]\nlat_min=\"  quoted  \"\n", "lat_min", "  quoted  "},
        {"[mesh_carver]\nlat_min='single'\n", "lat_min", "single"},
        {"[mesh_carver]\nlat_min=\"mismatched'\n", "lat_min", "\"mismatched'"},
        {"[mesh_carver]\nlat_min=\"\n", "lat_min", "\""},
        {"[mesh_carver]\nlat_min=\"\"\n", "lat_min", ""},
        {"[mesh_carver]\n;lat_min=5\n  ; lat_min=6\nlat_min=7\n", "lat_min", "7"},
        {"[mesh_carver]\nlat_min=a=b ; not a comment\n", "lat_min", "a=b ; not a comment"},
        {"[mesh_carver]\nlat_min\nlat_min=8\n", "lat_min", ""},
        {"[mesh_carver]\nlat_min=\nlat_min=8\n", "lat_min", ""},
        {"[other]\nlat_min=9\n[mesh_carver]\nlat_max=1\n", "lat_min", ""},
        {"lat_min=9\n[mesh_carver]\n", "lat_min", ""},
        {"[mesh_carver]\nlat_max=1\n[other]\nlat_min=2\n[mesh_carver]\nlat_min=3\n", "lat_min", ""},
        {"[other]\nlat_min=2\n[mesh_carver]\nlat_min=3\n[mesh_carver]\nlat_min=4\n", "lat_min",
         "3"},
        {"[mesh_carver]\nlat_min=1\n[mesh_carver]\nlat_min=2\n", "lat_min", "1"},
        {"[mesh_carver]\ninput_file=C:\\tiles\\+47+012.txt\n", "input_file",
         "C:\\tiles\\+47+012.txt"},
        {"[mesh_carver]\nlat_min=10\x1A\n", "lat_min", "10"},
        {"[mesh_carver\nlat_min=11\n", "lat_min", ""},
        {"[mesh_carver]\n[x\nlat_min=11\n", "lat_min", "11"},
        {"[mesh]carver]\nlat_min=12\n", "lat_min", ""},
        {"[mesh_carver] ] x\nlat_min=12\n", "lat_min", ""},
        {"[mesh_carver]\rlat_min=13\rlat_max=14\r", "lat_max", "14"},
        {"[mesh_carver]\nlat_min=15\r16\n", "lat_min", "15"},
        {"[mesh_carver]\nlat_min=1 \r\n", "lat_min", "1"},
        {"[mesh_carver\0x]\nlat_min=17\n"s, "lat_min", "17"},
        {"[mesh_carver]\nlat_min\0x=18\n"s, "lat_min", "18"},
        {"[mesh_carver]\nlat_min=19 \0 x\n"s, "lat_min", "19 "},
        // UTF-16 text comes out as the system's narrow text (UTF-8 here, the ANSI code page on
        // Windows); an unpaired surrogate as "?"
        {"\xFF\xFE[\0m\0]\0\n\0k\0=\0\xE9\0\x01\xD8\n\0"s, "k", narrowFromUtf16(u"\u00E9") + "?"},
        {"\xFE\xFF\0[\0m\0]\0\r\0k\0=\x20\xAC"s, "k", narrowFromUtf16(u"\u20AC")},
        {"", "lat_min", ""},
    };
    for (const LookupCase& c : cases) {
        std::string_view section = c.key == "k" ? "m" : "mesh_carver";
        EXPECT_EQ(lookupProfileValue(c.file, section, c.key), c.value) << c.file;
    }
}

#ifndef _WIN32  // runs of the built tool: the Linux side (Windows: tests/windows/differential.sh)

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

#endif

}  // namespace
}  // namespace mc
