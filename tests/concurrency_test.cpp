// Real processes meeting over one tile: put-backs at once, a tile rewritten under a run, runs
// killed at random moments.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "test_support.h"

namespace mc {
namespace {

const std::string DSF = SOURCE_DIR "/tests/data/dsf/";

int shell(const std::string& folder, const std::string& script) {
    test::writeFile(folder + "/script.sh", script);
    return std::system(("cd '" + folder + "' && bash script.sh >/dev/null 2>&1").c_str());
}

std::string ini(const char* window, const std::string& tile, const std::string& edited) {
    return std::string("[mesh_carver]\n") + window + "input_file=" + tile +
           "\noutput_file=cut.obj\nnb_max_vertex=9999999\nnb_max_tris=9999999\nwavefront_file=" +
           edited + "\noutput_tile=" + tile + "\n";
}

// Two windows of one tile, each carved and its inside raised by 50 m, ready to go back in place.
struct TwoEdits {
    test::TempDir dir;
    const char* windows[2] = {"lat_min=45.505\nlat_max=45.545\nlong_min=7.505\nlong_max=7.545\n",
                              "lat_min=45.42\nlat_max=45.46\nlong_min=7.42\nlong_max=7.46\n"};
    explicit TwoEdits(const std::string& tile) {
        std::filesystem::copy_file(tile, dir / "original.dsf");
        for (int w = 0; w < 2; ++w) {
            std::string folder = dir / std::string(1, char('a' + w));
            std::filesystem::create_directory(folder);
            std::filesystem::create_directory(folder + "/check");
            test::writeFile(folder + "/check/mesh_carver.ini",
                            ini(windows[w], "../../tile.dsf", "none.obj"));
            test::writeFile(folder + "/mesh_carver.ini", ini(windows[w], "../tile.dsf", "cut.obj"));
            EXPECT_EQ(shell(dir.path, "cp original.dsf tile.dsf && cd " + folder +
                                          " && '" MESH_CARVER_EXE "' && python3 '" SOURCE_DIR
                                          "/bench/raise_inside.py' cut.obj raised.obj 50 && "
                                          "cp cut.mtl raised.mtl"),
                      0);
            test::writeFile(folder + "/mesh_carver.ini",
                            ini(windows[w], "../tile.dsf", "raised.obj"));
        }
    }
    // the origin line of each window carved again from the tile
    std::string carvedOrigins() {
        std::string origins;
        for (const char* w : {"a", "b"}) {
            test::ToolRun run = test::runTool(dir / (std::string(w) + "/check"));
            origins += run.console.substr(run.console.rfind("\r\n", run.console.size() - 3));
        }
        return origins;
    }
};

TEST(Concurrency, TwoPutBacksIntoOneTileKeepBothEdits) {
    TwoEdits edits(DSF + "tin_small.dsf");
    std::string putBack = "'" MESH_CARVER_EXE "' put-back";
    ASSERT_EQ(shell(edits.dir.path,
                    "cp original.dsf tile.dsf && cd a && " + putBack + " && cd ../b && " + putBack),
              0);
    std::string bothEdits = edits.carvedOrigins();
    ASSERT_EQ(shell(edits.dir.path, "cp original.dsf tile.dsf"), 0);
    ASSERT_NE(edits.carvedOrigins(), bothEdits);
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(
            shell(edits.dir.path, "rm -f tile.dsf.original && cp original.dsf tile.dsf\n(cd a && " +
                                      putBack + " > out 2> err; echo $? > status) & (cd b && " +
                                      putBack + " > out 2> err; echo $? > status) & wait\n"),
            0);
        for (const char* w : {"a", "b"}) {
            EXPECT_EQ(test::readFile(edits.dir / (std::string(w) + "/status")), "0\n")
                << w << ": " << test::readFile(edits.dir / (std::string(w) + "/err"));
        }
        EXPECT_EQ(edits.carvedOrigins(), bothEdits) << "round " << round;
        EXPECT_EQ(test::readFile(edits.dir / "tile.dsf.original"),
                  test::readFile(edits.dir / "original.dsf"));
    }
}

TEST(Concurrency, ATileRewrittenWhileARunReadItIsNotOverwritten) {
    TwoEdits edits(DSF + "tin_small.dsf");
    // the edited file is a FIFO: once the run opens it, it has read the tile; the tile is then
    // replaced by a copy (another file under its name), or only touched
    for (const char* rewrite :
         {"cp tile.dsf copy.dsf && mv copy.dsf tile.dsf", "touch -d '2001-01-01' tile.dsf"}) {
        ASSERT_EQ(shell(edits.dir / "a",
                        std::string("rm -f ../tile.dsf.original fifo.obj && cp ../original.dsf "
                                    "../tile.dsf && mkfifo fifo.obj && sed -i "
                                    "s/raised.obj/fifo.obj/ mesh_carver.ini\n'") +
                            MESH_CARVER_EXE +
                            "' put-back > out 2> err &\nexec 3> fifo.obj\n(cd .. && " + rewrite +
                            ")\ncp ../tile.dsf rewritten.dsf\ncat raised.obj >&3\nexec 3>&-\n"
                            "wait $!\necho $? > status\nsed -i s/fifo.obj/raised.obj/ "
                            "mesh_carver.ini\n"),
                  0);
        EXPECT_EQ(test::readFile(edits.dir / "a/status"), "255\n") << rewrite;
        EXPECT_EQ(test::readFile(edits.dir / "a/err"),
                  "mesh_carver: the tile changed while this run read it: run again\r\n")
            << rewrite;
        EXPECT_EQ(test::readFile(edits.dir / "tile.dsf"),
                  test::readFile(edits.dir / "a/rewritten.dsf"));
        EXPECT_FALSE(test::fileExists(edits.dir / "tile.dsf.original"));
    }
}

// Only the tile, its lock and its kept original may be there after a kill, the tile either as
// it was or as the run wrote it.
TEST(Concurrency, APutBackKilledAtAnyMomentLeavesTheOldTileOrTheNew) {
    test::TempDir made;
    // a text tile: the run spends most of its time writing it
    ASSERT_EQ(shell(made.path, "'" MAKE_TILE_EXE "' 40000000 7 7 45 1 > tile.txt"), 0);
    TwoEdits edits(made / "tile.txt");
    std::string folder = edits.dir / "a";
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(
        shell(folder, "cp ../original.dsf ../tile.dsf && '" MESH_CARVER_EXE
                      "' put-back && mv ../tile.dsf ../written.dsf && rm ../tile.dsf.original"),
        0);
    double lasted = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string before = test::readFile(edits.dir / "original.dsf");
    const std::string after = test::readFile(edits.dir / "written.dsf");
    ASSERT_NE(before, after);
    std::mt19937 random(3);
    int old = 0, written = 0;
    for (int round = 0; round < 12; ++round) {
        int microseconds = std::uniform_int_distribution<int>(0, int(lasted * 1e6))(random);
        ASSERT_EQ(
            shell(folder, "rm -f ../tile.dsf.original && cp ../original.dsf ../tile.dsf\n'" +
                              std::string(MESH_CARVER_EXE) + "' put-back > out 2> err &\nsleep " +
                              std::to_string(microseconds / 1e6) +
                              "\nkill -KILL $! 2> /dev/null\nwait\n"),
            0);
        std::string tile = test::readFile(edits.dir / "tile.dsf");
        EXPECT_TRUE(tile == before || tile == after) << "killed after " << microseconds << " us";
        (tile == before ? old : written) += 1;
        if (test::fileExists(edits.dir / "tile.dsf.original")) {
            EXPECT_EQ(test::readFile(edits.dir / "tile.dsf.original"), before);
        }
        for (const auto& entry : std::filesystem::directory_iterator(edits.dir.path)) {
            std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "a" || name == "b" || name == "original.dsf" ||
                        name == "written.dsf" || name == "script.sh" || name == "tile.dsf" ||
                        name == "tile.dsf.lock" || name == "tile.dsf.original")
                << "killed after " << microseconds << " us, left " << name;
        }
    }
    RecordProperty("old", old), RecordProperty("written", written);
    // what a killed run left under a temporary name goes with the next run into the tile
    test::writeFile(edits.dir / "tile.dsf.partial4194305", "left by a killed run");
    test::writeFile(edits.dir / "tile.dsf.original.partial77-1", "left by a killed run");
    test::writeFile(edits.dir / "tile.dsf.partial.txt", "someone else's");
    ASSERT_EQ(shell(folder, "rm -f ../tile.dsf.original && cp ../original.dsf ../tile.dsf && '" +
                                std::string(MESH_CARVER_EXE) + "' put-back"),
              0);
    EXPECT_FALSE(test::fileExists(edits.dir / "tile.dsf.partial4194305"));
    EXPECT_FALSE(test::fileExists(edits.dir / "tile.dsf.original.partial77-1"));
    EXPECT_TRUE(test::fileExists(edits.dir / "tile.dsf.partial.txt"));
}

}  // namespace
}  // namespace mc
