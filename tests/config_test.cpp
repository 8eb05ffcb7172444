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

}  // namespace
}  // namespace mc
