#include "cut/cut.h"
#include "cut/quick_look.h"
#include "cut/selection.h"
#include "text/fields.h"
#include "text/numbers.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <optional>
#include <random>

#include "spelled_tiles.h"
#include "test_support.h"

namespace mc {
namespace {

struct PassOutput {
    Failure failure;
    int32_t keptCount;
    std::string console;
    std::string temp;
    std::vector<std::array<uint32_t, 3>> patches;  // of the kept blocks
    std::vector<std::string> definitions;
};

PassOutput select(const test::TempDir& dir, const SelectionWindow& window, size_t blockSize,
                  std::optional<uint64_t> splitFrom = std::nullopt) {
    PassOutput result;
    OutputFile console;
    test::openForWriting(console, dir / "console");
    TempFile temp{dir / "mesh_carver.tmp"};
    Selection found;
    found.window = window;
    selectFromText(dir / "tile.txt", temp, console, found, nullptr, blockSize,
                   TextPassWay{.splitFrom = splitFrom});
    result.failure = found.status.failure;
    result.keptCount = found.keptCount;
    for (const BlockPatch& p : found.terrain.keptPatches) {
        result.patches.push_back({p.definition, p.flags, p.depth});
    }
    result.definitions = found.terrain.definitions;
    releaseTempFile(temp);
    closeFile(console);
    result.console = test::readFile(dir / "console");
    result.temp = test::readFile(temp.path);
    return result;
}

// Around a window's edges, in both hemispheres, a longitude in any spelling the number reading
// takes is never judged outside by the quick look when that reading keeps it; a plain decimal
// well outside still is (the look keeps its use).
TEST(QuickLook, NeverRejectsWhatTheFullReadingKeeps) {
    std::mt19937_64 random(42);
    const double offsets[] = {0,     1e-12, -1e-12, 1e-9,    -1e-9, 5e-5, -5e-5, 1e-4,
                              -1e-4, 2e-4,  -2e-4,  1.01e-3, -1e-3, 0.3,  -0.3};
    int judgedOutside = 0;
    for (int round = 0; round < 4000; ++round) {
        double scale = std::pow(10.0, round % 6);
        double longMin = std::round((double(random() % 3590000) / 1e4 - 179.5) * scale) / scale;
        double width = 0.001 + double(random() % 3000) / 1e4;
        SelectionWindow window{0, 1, longMin, longMin + width};
        LongitudeUnits units = unitsOf(window);
        for (double edge : {window.longMin, window.longMax}) {
            for (double offset : offsets) {
                for (int s = 0; s < int(test::Spelling::count); ++s) {
                    std::string text = test::spelled(edge + offset, test::Spelling(s), random);
                    std::string_view field = splitFirstField(text).first;
                    double value = parseNumber(field);
                    bool outside = isSurelyOutside(units, field);
                    judgedOutside += outside;
                    if (window.longMin < value && value < window.longMax) {
                        ASSERT_FALSE(outside)
                            << text << " in " << longMin << " to " << window.longMax;
                    } else if (test::Spelling(s) == test::Spelling::plain &&
                               (value < longMin - 4e-4 || value > window.longMax + 4e-4)) {
                        ASSERT_TRUE(outside)
                            << text << " in " << longMin << " to " << window.longMax;
                    }
                }
            }
        }
    }
    EXPECT_GT(judgedOutside, 4000 * 2 * 4);
}

TEST(SelectionPass, SameResultForEveryReadBlockSize) {
    test::TempDir dir;
    std::string tile = test::readFile(SOURCE_DIR "/examples/sample_tile.txt");
    test::writeFile(dir / "tile.txt", tile);
    SelectionWindow window{47.005, 47.016, 12.004, 12.0185};
    PassOutput reference = select(dir, window, 1 << 20);
    EXPECT_EQ(reference.keptCount, 7);
    for (size_t blockSize : {1, 2, 3, 7, 100}) {
        PassOutput result = select(dir, window, blockSize);
        EXPECT_EQ(result.console, reference.console) << blockSize;
        EXPECT_EQ(result.temp, reference.temp) << blockSize;
    }
}

// Read in two parts by two threads, the second from the first block after any place, a tile
// gives what one pass gives: the sample as it is, with CR LF ends, cut short by a 0x1A byte in
// its middle, its blocks in other patches after more terrain definitions.
TEST(SelectionPass, TwoPartsGiveWhatOnePassGives) {
    const std::string sample = test::readFile(SOURCE_DIR "/examples/sample_tile.txt");
    std::string crlf;
    for (char c : sample) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const size_t middle = sample.find("BEGIN_PRIMITIVE", sample.size() / 2);
    const std::string tiles[] = {
        sample, crlf, sample.substr(0, middle) + "\x1A" + sample.substr(middle),
        sample + "TERRAIN_DEF terrain/more.ter\nBEGIN_PATCH 9 0.0 -1.0 1 5\n" +
            sample.substr(sample.find("BEGIN_PRIMITIVE"))};
    for (const std::string& tile : tiles) {
        test::TempDir dir;
        test::writeFile(dir / "tile.txt", tile);
        SelectionWindow window{47.005, 47.016, 12.004, 12.0185};
        PassOutput reference = select(dir, window, 1 << 20);
        for (uint64_t from = 1; from < tile.size(); from += tile.size() / 23 + 1) {
            for (size_t blockSize : {size_t(5), size_t(1) << 20}) {
                PassOutput result = select(dir, window, blockSize, from);
                EXPECT_EQ(result.failure, reference.failure) << from;
                EXPECT_EQ(result.keptCount, reference.keptCount) << from;
                EXPECT_EQ(result.console, reference.console) << from;
                EXPECT_EQ(result.temp, reference.temp) << from;
                EXPECT_EQ(result.patches, reference.patches) << from;
                EXPECT_EQ(result.definitions, reference.definitions) << from;
            }
        }
    }
}

TEST(SelectionPass, HugeBlocksAndLinesAreHandledWhole) {
    test::TempDir dir;
    std::string hugeDropped = "BEGIN_PRIMITIVE 0\n";
    for (int i = 0; i < 400000; ++i) hugeDropped += "PATCH_VERTEX 5.000000000 5.000000000 1 2 3\n";
    hugeDropped += "END_PRIMITIVE\n";
    std::string longType = "BEGIN_PRIMITIVE 2" + std::string(100000, ' ') + "\n";
    std::string kept = longType + "PATCH_VERTEX 0.5 0.5 1\nEND_PRIMITIVE\n";
    std::string noise = std::string(200000, 'x') + "\n" + std::string(300000, '\0') + "\n";
    std::string hugeKept = hugeDropped;
    hugeKept.insert(hugeKept.size() - 14, "PATCH_VERTEX 0.5 0.5 1\r\n\n");
    test::writeFile(dir / "tile.txt", hugeDropped + noise + kept + hugeKept + hugeDropped);
    PassOutput result = select(dir, {-1, 1, -1, 1}, 1 << 16);
    EXPECT_EQ(result.failure, Failure::none);
    EXPECT_EQ(result.keptCount, 2);
    EXPECT_EQ(result.console, "Step 1:  1/ 2\r\nStep 1:  2/ 3\r\n");
    std::string keptHuge;
    for (int i = 0; i < 400000; ++i) keptHuge += "PATCH_VERTEX 5.000000000 5.000000000 1 2 3\r\n";
    EXPECT_EQ(result.temp, longType.substr(0, longType.size() - 1) +
                               "\r\nPATCH_VERTEX 0.5 0.5 1\r\nEND_PRIMITIVE\r\n" +
                               "BEGIN_PRIMITIVE 0\r\n" + keptHuge +
                               "PATCH_VERTEX 0.5 0.5 1\r\nEND_PRIMITIVE\r\n");
}

TEST(FindOrigin, HighestFirstVertexOrNone) {
    MeshBuffers mesh;
    EXPECT_EQ(findOrigin(mesh).index, -1);
    EXPECT_EQ(findOrigin(mesh).y, NO_ORIGIN_Y);
    for (double metres : {100.0, 300.0, -500.0, 300.0}) mesh.vertices.push({0, metres, 0, 0});
    EXPECT_EQ(findOrigin(mesh).index, 1);
    MeshBuffers deep;
    deep.vertices.push({1, -300000000.0, 1, 0});
    EXPECT_EQ(findOrigin(deep).index, -1);
    EXPECT_EQ(findOrigin(deep).x, 0);
}

TEST(VertexPosition, TakesThreeFieldsTheLastRunningToTheEnd) {
    const std::pair<std::string, VertexPosition> cases[] = {
        {"1 2 3", {1, 2, 3}}, {"1 2 3 4 5", {1, 2, 3}}, {"1 2", {1, 2, 0}},     {"1", {1, 0, 0}},
        {"", {0, 0, 0}},      {"1  3 4", {1, 0, 3}},    {"\t1 2 3", {1, 2, 3}},
    };
    for (const auto& [text, expected] : cases) {
        VertexPosition v = readVertexPosition(text);
        EXPECT_EQ(v.lon, expected.lon) << text;
        EXPECT_EQ(v.lat, expected.lat) << text;
        EXPECT_EQ(v.elev, expected.elev) << text;
    }
}

}  // namespace
}  // namespace mc
