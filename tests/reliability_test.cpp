// Hostile input, a second run in the same folder, and the limits that keep memory bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.h"

namespace mc {
namespace {

const std::string FAN =
    "BEGIN_PRIMITIVE 2\nPATCH_VERTEX 0 0 1\nPATCH_VERTEX 0.5 0 1\n"
    "PATCH_VERTEX 0 0.5 1\nEND_PRIMITIVE\n";

void prepareRun(const test::TempDir& dir, const std::string& tile) {
    test::writeFile(dir / "tile.txt", tile);
    test::writeFile(dir / "mesh_carver.ini",
                    test::iniText(-1, 1, -1, 1, "tile.txt", "out.obj", "1000", "1000"));
}

TEST(Concurrency, SecondRunInTheSameFolderChangesNothing) {
    test::TempDir dir;
    prepareRun(dir, FAN);
    test::writeFile(dir / "mesh_carver.tmp", "the first run's blocks");
    // this process plays the first run: it holds the lock a run takes on its temporary file
    int held = ::open((dir / "mesh_carver.tmp").c_str(), O_RDWR);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    test::ToolRun run = test::runTool(dir.path);
    EXPECT_EQ(run.console, "mesh_carver.tmp is in use by another run\r\n");
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(test::readFile(dir / "mesh_carver.tmp"), "the first run's blocks");
    EXPECT_FALSE(test::fileExists(dir / "out.obj"));

    // another folder is never blocked
    test::TempDir other;
    prepareRun(other, FAN);
    EXPECT_EQ(test::runTool(other.path).status, 0);

    // once the first run ends, the lock is gone with it
    ::close(held);
    EXPECT_EQ(test::runTool(dir.path).status, 0);
    EXPECT_TRUE(test::fileExists(dir / "out.obj"));
}

TEST(Concurrency, RunsStartedTogetherNeverMixTheirFiles) {
    test::TempDir dir;
    // long enough for the runs to overlap: many blocks outside the window, then one inside
    std::string tile;
    while (tile.size() < (40 << 20))
        tile += "BEGIN_PRIMITIVE 2\nPATCH_VERTEX 5 5 1\nEND_PRIMITIVE\n";
    prepareRun(dir, tile + FAN);
    std::string expectedTemp;
    for (char c : FAN) {
        if (c == '\n') expectedTemp += '\r';
        expectedTemp += c;
    }
    for (int round = 0; round < 3; ++round) {
        std::string command = "cd '" + dir.path +
                              "' && ('" MESH_CARVER_EXE "' > a.txt & '" MESH_CARVER_EXE
                              "' > b.txt; wait)";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::string a = test::readFile(dir / "a.txt"), b = test::readFile(dir / "b.txt");
        const std::string inUse = "mesh_carver.tmp is in use by another run\r\n";
        // either one run saw the other's lock, or they ran one after the other
        EXPECT_TRUE(a == inUse || a.find("altitude(m)") != std::string::npos);
        EXPECT_TRUE(b == inUse || b.find("altitude(m)") != std::string::npos);
        EXPECT_FALSE(a == inUse && b == inUse);
        EXPECT_EQ(test::readFile(dir / "mesh_carver.tmp"), expectedTemp);
    }
}

TEST(HostileInput, FifoAsTemporaryFileIsRefusedNotWaitedOn) {
    test::TempDir dir;
    prepareRun(dir, FAN);
    ASSERT_EQ(::mkfifo((dir / "mesh_carver.tmp").c_str(), 0600), 0);
    test::ToolRun run = test::runTool(dir.path);
    EXPECT_EQ(run.console, "Error writing temporary file " + dir.path + "/mesh_carver.tmp\r\n");
    EXPECT_EQ(run.status, 255);
}

// Peak resident memory of one run of the tool, in KiB.
long peakKiB(const std::string& directory) {
    pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(directory.c_str()) != 0) _exit(127);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl(MESH_CARVER_EXE, MESH_CARVER_EXE, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    ::wait4(child, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

TEST(HostileInput, LinesWithoutEndAndNulRunsKeepMemoryBounded) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow memory hides the tool's own figure";
#endif
    test::TempDir dir;
    const size_t size = 300 << 20;
    for (char fill : {'x', '\0'}) {
        {
            std::string block(1 << 20, fill);
            FILE* file = std::fopen((dir / "tile.txt").c_str(), "wb");
            std::fputs("I\n800\n", file);
            for (size_t written = 0; written < size; written += block.size()) {
                std::fwrite(block.data(), 1, block.size(), file);
            }
            std::fputs("\n", file);
            std::fwrite(FAN.data(), 1, FAN.size(), file);
            std::fclose(file);
        }
        test::writeFile(dir / "mesh_carver.ini",
                        test::iniText(-1, 1, -1, 1, "tile.txt", "out.obj", "1000", "1000"));
        long peak = peakKiB(dir.path);
        EXPECT_GT(peak, 0);
        EXPECT_LE(peak, 64 * 1024) << "fill " << int(fill);
        // the block after the long line is still found
        EXPECT_NE(test::readFile(dir / "out.obj").find("POINT_COUNTS 3 0 0 3\r\n"),
                  std::string::npos);
    }
}

// A run ended by a signal while it writes the object leaves no partial file beside it, and the
// object it would have replaced stays as it was.
TEST(Interruption, SignalWhileWritingLeavesNothingBehind) {
    test::TempDir dir;
    std::string make = "'" MAKE_TILE_EXE "' 60000000 3 12 47 0.2 > '" + (dir / "tile.txt") + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    test::writeFile(dir / "mesh_carver.ini",
                    test::iniText(46, 48, 11, 13, "tile.txt", "out.obj", "99999999", "99999999"));
    for (const char* signal : {"TERM", "INT", "HUP"}) {
        test::writeFile(dir / "out.obj", "the object before");
        // job control keeps SIGINT deliverable to the background run
        test::writeFile(dir / "interrupt.sh",
                        std::string("set -m\nrm -f console status\nmkfifo console\n'") +
                            MESH_CARVER_EXE +
                            "' > console &\n"
                            "grep -q -m1 '^Writing output file' < console\nkill -" +
                            signal + " %1\nwait %1\necho $? > status\n");
        std::system(("cd '" + dir.path + "' && bash interrupt.sh 2>/dev/null").c_str());
        EXPECT_NE(test::readFile(dir / "status"), "0\n") << signal << ": the run ended first";
        EXPECT_EQ(test::readFile(dir / "out.obj"), "the object before") << signal;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
            std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "tile.txt" || name == "mesh_carver.ini" || name == "out.obj" ||
                        name == "mesh_carver.tmp" || name == "console" || name == "status" ||
                        name == "interrupt.sh")
                << signal << " left " << name;
        }
    }
}

}  // namespace
}  // namespace mc
