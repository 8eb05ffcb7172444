// Generated text tiles, their numbers in every spelling the reader takes: the quick look at a
// longitude and the parts two threads read never change what a cut keeps.
#include <gtest/gtest.h>

#include <cstdlib>

#include "spelled_tiles.h"
#include "test_support.h"

namespace mc {
namespace {

struct Outcome {
    test::ToolRun run;
    std::string temp, object;
};

Outcome carveWith(const test::TempDir& dir, const std::string& way) {
    std::remove((dir / "mesh_carver.tmp").c_str());
    std::remove((dir / "out.obj").c_str());
    Outcome outcome;
    outcome.run = test::runTool(dir.path, "export MESH_CARVER_TEXT_PASS=" + way + ";");
    outcome.temp = test::readFile(dir / "mesh_carver.tmp");
    outcome.object = test::readFile(dir / "out.obj");
    return outcome;
}

// A few hundred tiles here; MESH_CARVER_SPELLED_TILES=N carves N.
TEST(SpelledTiles, QuickLookAndPartsKeepWhatThePlainPassKeeps) {
    const char* asked = std::getenv("MESH_CARVER_SPELLED_TILES");
    const uint64_t count = asked ? std::strtoull(asked, nullptr, 10) : 300;
    int kept = 0;
    for (uint64_t seed = 1; seed <= count; ++seed) {
        test::SpelledTile tile = test::spelledTile(seed);
        test::TempDir dir;
        test::writeFile(dir / "tile.txt", tile.text);
        test::writeFile(dir / "mesh_carver.ini",
                        test::iniText(tile.latMin, tile.latMax, tile.longMin, tile.longMax,
                                      "tile.txt", "out.obj", "100000", "100000"));
        Outcome plain = carveWith(dir, "plain");
        Outcome quick = carveWith(dir, "parts=" + std::to_string(2 + seed % 4));
        ASSERT_EQ(quick.run.status, plain.run.status) << "seed " << seed;
        ASSERT_TRUE(quick.run.console == plain.run.console) << "the console, seed " << seed;
        ASSERT_TRUE(quick.temp == plain.temp) << "the temporary file, seed " << seed;
        ASSERT_TRUE(quick.object == plain.object) << "the object, seed " << seed;
        kept += !plain.object.empty();
    }
    EXPECT_GT(kept, int(count) / 2);  // most tiles keep something: the windows are met
}

}  // namespace
}  // namespace mc
