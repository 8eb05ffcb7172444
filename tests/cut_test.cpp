#include "cut/cut.h"
#include "cut/selection.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace mc {
namespace {

struct PassOutput {
    Failure failure;
    int32_t keptCount;
    std::string console;
    std::string temp;
};

PassOutput select(const test::TempDir& dir, const SelectionWindow& window, size_t blockSize) {
    PassOutput result;
    OutputFile console;
    test::openForWriting(console, dir / "console");
    TempFile temp{dir / "mesh_carver.tmp"};
    Selection found;
    found.window = window;
    selectFromText(dir / "tile.txt", temp, console, found, nullptr, blockSize);
    result.failure = found.status.failure;
    result.keptCount = found.keptCount;
    releaseTempFile(temp);
    closeFile(console);
    result.console = test::readFile(dir / "console");
    result.temp = test::readFile(temp.path);
    return result;
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
