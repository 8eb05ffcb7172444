// The cache of unpacked 7z tiles, end to end: a second run reads the copy and gives the same
// bytes as a run without the cache; bad copies and changed archives are unpacked again; a cache
// that cannot be written, two runs at once and the bound never fail a run.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "run_scenario.h"
#include "test_support.h"

namespace mc {
namespace {

namespace fs = std::filesystem;

const std::string DSF = SOURCE_DIR "/tests/data/dsf/";

// A whole-tile carve of tile.7z.dsf in the folder, with these ini lines after the eight keys.
test::ToolRun carveTile(const test::TempDir& dir, const std::string& extra,
                        const std::string& arguments = {}) {
    test::writeFile(
        dir / "mesh_carver.ini",
        test::iniText(-90, 90, -180, 180, "tile.7z.dsf", "out.obj", "999999", "999999") + extra);
    return test::runTool(dir.path, {}, arguments);
}

// The copies in a cache folder, by name.
std::vector<std::string> copiesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What a run without the cache gives for an archive: the console and the object.
std::pair<std::string, std::string> uncached(const std::string& archive) {
    test::TempDir dir;
    fs::copy_file(archive, dir / "tile.7z.dsf");
    test::ToolRun run = carveTile(dir, "cache_folder=off\n");
    EXPECT_EQ(run.status, 0) << archive << run.errors;
    EXPECT_FALSE(fs::exists(dir / "cache")) << "off keeps nothing";
    return {run.console, test::readFile(dir / "out.obj")};
}

// The archive's bytes after its signature scrambled, its size and time kept: only a run that
// reads the copy can still carve it.
void scrambleKeepingStamp(const std::string& path) {
    auto time = fs::last_write_time(path);
    std::string bytes = test::readFile(path);
    for (size_t k = 32; k < bytes.size(); ++k) bytes[k] = char(bytes[k] ^ 0x5A);
    test::writeFile(path, bytes);
    fs::last_write_time(path, time);
}

TEST(Cache, ASecondRunReadsTheCopyAndGivesTheSameBytes) {
    for (const char* tile : {"tin_small.7z.dsf", "raster_small.7z.dsf"}) {
        const auto expected = uncached(DSF + tile);
        test::TempDir dir;
        fs::copy_file(DSF + tile, dir / "tile.7z.dsf");
        const std::string cache = "cache_folder=" + (dir / "cache") + "\n";
        for (int run = 0; run < 3; ++run) {
            test::ToolRun carved = carveTile(dir, cache);
            ASSERT_EQ(carved.status, 0) << tile << run << carved.errors;
            EXPECT_EQ(carved.console, expected.first) << tile << run;
            EXPECT_EQ(carved.errors, "") << tile << run;
            EXPECT_EQ(test::readFile(dir / "out.obj"), expected.second) << tile << run;
            EXPECT_EQ(copiesIn(dir / "cache").size(), 1u) << tile << run;
            if (run == 0) scrambleKeepingStamp(dir / "tile.7z.dsf");
        }
    }
}

// A copy cut short or damaged is removed and the archive unpacked again; a changed archive under
// the same name is unpacked, not answered from the old copy.
TEST(Cache, BadCopiesAndChangedArchivesAreUnpackedAgain) {
    const auto tin = uncached(DSF + "tin_small.7z.dsf");
    const auto mesh = uncached(DSF + "mesh_small.7z.dsf");
    const struct {
        const char* name;
        void (*spoil)(const std::string& cache, const std::string& archive);
        bool changed;  // the archive now holds mesh_small
    } cases[] = {
        {"a copy cut short",
         [](const std::string& cache, const std::string&) {
             fs::resize_file(cache + "/" + copiesIn(cache)[0], 1000);
         },
         false},
        {"a byte of the copy changed",
         [](const std::string& cache, const std::string&) {
             std::string path = cache + "/" + copiesIn(cache)[0];
             std::string bytes = test::readFile(path);
             bytes[bytes.size() / 2] ^= 1;
             test::writeFile(path, bytes);
         },
         false},
        {"a copy emptied",
         [](const std::string& cache, const std::string&) {
             test::writeFile(cache + "/" + copiesIn(cache)[0], "");
         },
         false},
        {"another archive under the same name",
         [](const std::string&, const std::string& archive) {
             fs::copy_file(DSF + "mesh_small.7z.dsf", archive,
                           fs::copy_options::overwrite_existing);
         },
         true},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        fs::copy_file(DSF + "tin_small.7z.dsf", dir / "tile.7z.dsf");
        const std::string cache = dir / "cache";
        ASSERT_EQ(carveTile(dir, "cache_folder=" + cache + "\n").status, 0) << c.name;
        c.spoil(cache, dir / "tile.7z.dsf");
        test::ToolRun run = carveTile(dir, "cache_folder=" + cache + "\n");
        const auto& expected = c.changed ? mesh : tin;
        ASSERT_EQ(run.status, 0) << c.name << run.errors;
        EXPECT_EQ(run.console, expected.first) << c.name;
        EXPECT_EQ(test::readFile(dir / "out.obj"), expected.second) << c.name;
        // the good copy, and for the changed archive the old one beside it until the bound
        EXPECT_EQ(copiesIn(cache).size(), c.changed ? 2u : 1u) << c.name;
        EXPECT_EQ(carveTile(dir, "cache_folder=" + cache + "\n").console, expected.first);
    }
}

// A cache folder that cannot be made, or a bound no tile fits, changes nothing but one line on
// standard error (the first) or nothing at all (the second).
TEST(Cache, ACacheThatCannotTakeTheTileNeverFailsARun) {
    const auto expected = uncached(DSF + "tin_small.7z.dsf");
    test::TempDir dir;
    fs::copy_file(DSF + "tin_small.7z.dsf", dir / "tile.7z.dsf");
    test::writeFile(dir / "plain_file", "not a folder");
    for (int run = 0; run < 2; ++run) {
        test::ToolRun carved = carveTile(dir, "cache_folder=plain_file/cache\n");
        ASSERT_EQ(carved.status, 0) << carved.errors;
        EXPECT_EQ(carved.console, expected.first);
        EXPECT_EQ(test::readFile(dir / "out.obj"), expected.second);
        EXPECT_TRUE(
            carved.errors.starts_with("mesh_carver: the unpacked tile cannot be kept in "
                                      "plain_file/cache (cannot create the folder: "))
            << carved.errors;
        EXPECT_EQ(std::count(carved.errors.begin(), carved.errors.end(), '\n'), 1);
    }
    test::ToolRun tooSmall = carveTile(dir, "cache_folder=small\ncache_size_mb=0.01\n");
    EXPECT_EQ(tooSmall.console, expected.first);
    EXPECT_EQ(tooSmall.errors, "");
    EXPECT_TRUE(copiesIn(dir / "small").empty()) << "a tile larger than the bound is not kept";
}

// Two runs unpacking the same new archive at once both succeed and leave one good copy.
TEST(Cache, TwoRunsAtOnceLeaveOneGoodCopy) {
    const auto expected = uncached(DSF + "tin_small.7z.dsf");
    test::TempDir shared;
    fs::copy_file(DSF + "tin_small.7z.dsf", shared / "tile.7z.dsf");
    const std::string cache = "cache_folder=" + (shared / "cache") + "\n";
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(shared / "cache");
        test::TempDir first, second;
        test::ToolRun runs[2];
        test::TempDir* dirs[2] = {&first, &second};
        std::thread threads[2];
        for (int k = 0; k < 2; ++k) {
            fs::create_symlink(shared / "tile.7z.dsf", *dirs[k] / "tile.7z.dsf");
            threads[k] = std::thread([&, k] { runs[k] = carveTile(*dirs[k], cache); });
        }
        for (auto& t : threads) t.join();
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(runs[k].status, 0) << round << runs[k].errors;
            EXPECT_EQ(test::readFile(*dirs[k] / "out.obj"), expected.second) << round;
        }
        EXPECT_EQ(copiesIn(shared / "cache").size(), 1u) << round;
        scrambleKeepingStamp(shared / "tile.7z.dsf");  // the copy alone can carve it now
        EXPECT_EQ(test::readFile(shared / "tile.7z.dsf").size(),
                  fs::file_size(DSF + "tin_small.7z.dsf"));
        EXPECT_EQ(carveTile(first, cache).console, expected.first) << round;
        fs::copy_file(DSF + "tin_small.7z.dsf", shared / "tile.7z.dsf",
                      fs::copy_options::overwrite_existing);
    }
}

// Past cache_size_mb the copy used longest ago goes first; reading a copy counts as using it.
TEST(Cache, TheBoundDropsTheLeastRecentlyUsedCopy) {
    test::TempDir dir;
    const std::string cache = dir / "cache";
    const std::string keys = "cache_folder=" + cache + "\ncache_size_mb=0.1\n";  // two tiles
    std::vector<std::string> kept;
    for (const char* tile :
         {"tin_small.7z.dsf", "mesh_small.7z.dsf", "tin_small.7z.dsf", "raster_small.7z.dsf"}) {
        fs::copy_file(DSF + tile, dir / tile, fs::copy_options::skip_existing);
        fs::remove(dir / "tile.7z.dsf");
        fs::create_symlink(dir / tile, dir / "tile.7z.dsf");
        ASSERT_EQ(carveTile(dir, keys).status, 0) << tile;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // distinct use times
        kept.push_back(std::to_string(copiesIn(cache).size()));
    }
    // tin, mesh, tin again (read, now the newest), raster: mesh goes
    EXPECT_EQ(kept, (std::vector<std::string>{"1", "2", "2", "2"}));
    uint64_t total = 0;
    for (const std::string& name : copiesIn(cache)) total += fs::file_size(cache + "/" + name);
    EXPECT_LE(total, uint64_t(0.1 * 1048576));
    scrambleKeepingStamp(dir / "tin_small.7z.dsf");
    fs::remove(dir / "tile.7z.dsf");
    fs::create_symlink(dir / "tin_small.7z.dsf", dir / "tile.7z.dsf");
    EXPECT_EQ(carveTile(dir, keys).status, 0) << "tin_small's copy was kept, as the newest but one";
}

}  // namespace
}  // namespace mc
