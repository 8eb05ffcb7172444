#include "text/output_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "test_support.h"

namespace mc {
namespace {

using test::captured;
using test::openForWriting;

TEST(Output, LinesEndInCrLfAndIntegersKeepASignPosition) {
    EXPECT_EQ(captured([](OutputFile& t) { writeLine(t, ""); }), "\r\n");
    EXPECT_EQ(captured([](OutputFile& t) { writeLine(t, "trailing  "); }), "trailing  \r\n");
    EXPECT_EQ(captured([](OutputFile& t) {
                  writeText(t, "Step 1: ");
                  writeInteger(t, 3, false);
                  writeText(t, "/");
                  writeInteger(t, 10, true);
              }),
              "Step 1:  3/ 10\r\n");
    EXPECT_EQ(captured([](OutputFile& t) { writeInteger(t, -5, false); }), "-5");
    EXPECT_EQ(captured([](OutputFile& t) { writeInteger(t, 0, false); }), " 0");
    EXPECT_EQ(captured([](OutputFile& t) { writeInteger(t, 2147483647, false); }), " 2147483647");
    EXPECT_EQ(captured([](OutputFile& t) { writeInteger(t, -2147483647 - 1, false); }),
              "-2147483648");
}

TEST(Output, FilesAreEmptiedOnOpenAndKeepBytesUnchanged) {
    test::TempDir dir;
    test::writeFile(dir / "out", "old content that is longer");
    OutputFile file;
    ASSERT_TRUE(openForWriting(file, dir / "out"));
    writeLine(file, "a\rb");
    writeText(file, std::string("\0\x1A", 2));
    EXPECT_TRUE(closeFile(file));
    EXPECT_EQ(test::readFile(dir / "out"), std::string("a\rb\r\n\0\x1A", 7));

    ASSERT_TRUE(openForWriting(file, dir / "out"));
    EXPECT_TRUE(closeFile(file));
    EXPECT_EQ(test::readFile(dir / "out"), "");
}

TEST(Output, WritesToAFileThatCouldNotBeCreatedAreDropped) {
    test::TempDir dir;
    OutputFile file;
    EXPECT_FALSE(openForWriting(file, dir / "missing/out"));
    writeLine(file, "lost");
    EXPECT_TRUE(closeFile(file));
    EXPECT_FALSE(test::fileExists(dir / "missing/out"));
}

TEST(Output, DropTailTakesBackBytesBufferedOrAlreadyWritten) {
    test::TempDir dir;
    OutputFile file;
    ASSERT_TRUE(openForWriting(file, dir / "out"));
    writeLine(file, "kept");
    uint64_t mark = bytesWritten(file);
    writeLine(file, "dropped while buffered");
    EXPECT_TRUE(dropTail(file, mark));
    // a block larger than what is held in memory goes to the file and is truncated away
    std::string big(40 << 20, 'x');
    writeText(file, big);
    EXPECT_TRUE(dropTail(file, mark));
    writeLine(file, "end");
    EXPECT_TRUE(closeFile(file));
    EXPECT_EQ(test::readFile(dir / "out"), "kept\r\nend\r\n");
}

// Text written into the buffer and blocks handed over whole reach the file in the order they
// were given, with or without the write-behind thread, however many blocks wait at once.
TEST(Output, HandedOverBlocksKeepTheirPlace) {
    std::mt19937 random(8);
    for (bool behind : {false, true}) {
        test::TempDir dir;
        OutputFile file;
        ASSERT_TRUE(openForWriting(file, dir / "out"));
        if (behind) startWriteBehind(file);
        std::string expected;
        TextBlock block;
        for (int k = 0; k < 60; ++k) {
            std::string text(random() % (3 * OUTPUT_BUFFER_SIZE / 2), char('a' + k % 26));
            expected += text;
            if (random() % 2) {
                writeText(file, text);
                continue;
            }
            if (block.bytes.size() < text.size()) block.bytes.resize(text.size());
            std::copy(text.begin(), text.end(), block.bytes.begin());
            block.used = text.size();
            handOver(file, block);
            EXPECT_EQ(block.used, 0u);
        }
        EXPECT_EQ(bytesWritten(file), expected.size());
        EXPECT_TRUE(closeFile(file));
        EXPECT_EQ(test::readFile(dir / "out"), expected) << (behind ? "write-behind" : "direct");
    }
}

}  // namespace
}  // namespace mc
