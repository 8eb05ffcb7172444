#include "text/line_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "test_support.h"

namespace mc {
namespace {

using Lines = std::vector<std::string>;

Lines readAllLines(const std::string& path, size_t blockSize, size_t holdLimit = WHOLE_LINE) {
    LineReader reader;
    Lines lines;
    openForReading(reader, path, blockSize);
    while (!atEnd(reader)) {
        std::string_view line = readLine(reader, holdLimit);
        if (reader.lineCut) {
            lines.push_back(std::string(line) + "<cut>");
            skipLine(reader);
            continue;
        }
        lines.emplace_back(line);
    }
    closeReader(reader);
    return lines;
}

struct ReaderCase {
    std::string bytes;
    Lines lines;
};

const std::vector<ReaderCase>& readerCases() {
    static const std::vector<ReaderCase> cases = {
        {"", {}},
        {"abc", {"abc"}},
        {"abc\r\n", {"abc"}},
        {"abc\n\n", {"abc", ""}},
        {"a\rb\n", {"a\rb"}},
        {"abc\r", {"abc"}},
        {"abc\r\r\n", {"abc"}},
        {"abc\r\r\r\n", {"abc\r"}},
        {"abc\r\rdef\r\n", {"abc\r\rdef"}},
        {"\xEF\xBB\xBF"
         "BEGIN_PRIMITIVE 0\n",
         {"\xEF\xBB\xBF"
          "BEGIN_PRIMITIVE 0"}},
        {"one\ntwo\x1Athree\nfour\n", {"one", "two"}},
        {"one\n\x1A"
         "two\n",
         {"one"}},
        {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
        {std::string("ab\0\0\n", 5), {std::string("ab\0\0", 4)}},
        {std::string("ab\0\0", 4), {"ab"}},
        {std::string("ab\r\0\0", 5), {"ab"}},
        {std::string("ab\n\0\0", 5), {"ab", ""}},
        {std::string("\0\0\nx", 4), {std::string("\0\0", 2), "x"}},
        {"\r\n\r\n", {"", ""}},
        {"\n", {""}},
        {std::string(1000, 'x') + "\n", {std::string(1000, 'x')}},
        {std::string(510, 'x') + "\r" + std::string(5, 'y') + "\n",
         {std::string(510, 'x') + "\r" + std::string(5, 'y')}},
        {std::string(511, 'x') + std::string("\0\0", 2) + "z\n",
         {std::string(511, 'x') + std::string("\0\0", 2) + "z"}},
    };
    return cases;
}

TEST(LineReader, LinesDoNotDependOnBlockBoundaries) {
    test::TempDir dir;
    for (const ReaderCase& c : readerCases()) {
        test::writeFile(dir / "in", c.bytes);
        for (size_t blockSize : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(1) << 20}) {
            EXPECT_EQ(readAllLines(dir / "in", blockSize), c.lines)
                << "block " << blockSize << " input '" << c.bytes << "'";
        }
    }
}

TEST(LineReader, SeededRandomBytesGiveTheSameLinesForEveryBlockSize) {
    test::TempDir dir;
    std::mt19937_64 random(20261207);
    const char alphabet[] = {'a', 'b', ' ', '\r', '\n', '\0', '\r', '\n'};
    for (int round = 0; round < 200; ++round) {
        std::string bytes(random() % 300, ' ');
        for (char& b : bytes) b = alphabet[random() % sizeof alphabet];
        if (random() % 10 == 0) bytes.insert(random() % (bytes.size() + 1), 1, '\x1A');
        test::writeFile(dir / "in", bytes);
        Lines expected = readAllLines(dir / "in", 1 << 20);
        for (size_t blockSize : {1, 2, 3, 5, 7, 64}) {
            ASSERT_EQ(readAllLines(dir / "in", blockSize), expected) << "round " << round;
        }
    }
}

TEST(LineReader, LineOffsetsCountFileBytes) {
    test::TempDir dir;
    test::writeFile(dir / "in", "ab\r\ncd\n\nefg");
    for (size_t blockSize : {1, 3, 1 << 20}) {
        LineReader reader;
        ASSERT_TRUE(openForReading(reader, dir / "in", blockSize));
        std::vector<uint64_t> offsets;
        while (!atEnd(reader)) {
            readLine(reader);
            offsets.push_back(reader.lineOffset);
        }
        EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 4, 7, 8}));
        closeReader(reader);
    }
}

TEST(LineReader, HoldLimitHandsOutHeadsAndSkipsTheRest) {
    test::TempDir dir;
    test::writeFile(dir / "in",
                    "short\n" + std::string(100, 'x') + "\nafter\n" + std::string(50, 'y'));
    for (size_t blockSize : {1, 7, 1 << 20}) {
        EXPECT_EQ(readAllLines(dir / "in", blockSize, 10),
                  (Lines{"short", "xxxxxxxxxx<cut>", "after", "yyyyyyyyyy<cut>"}));
    }
}

// Whether a line is cut depends on its bytes in the file, never on where reads end.
TEST(LineReader, CutCountsTheFileBytesOfTheLine) {
    test::TempDir dir;
    const std::pair<std::string, Lines> cases[] = {
        {std::string("\n\f\0\0\0\0\0\0\0", 9), {"", std::string("\f\0\0<cut>", 8)}},
        {"abc\r\r\nabc\n", {"abc<cut>", "abc"}},
        {"abcd", {"abc<cut>"}},
    };
    for (const auto& [bytes, lines] : cases) {
        test::writeFile(dir / "in", bytes);
        for (size_t blockSize : {1, 2, 11, 1 << 20}) {
            EXPECT_EQ(readAllLines(dir / "in", blockSize, 3), lines) << blockSize;
        }
    }
}

TEST(LineReader, CutLineCanStillBeReadWhole) {
    test::TempDir dir;
    test::writeFile(dir / "in", "BEGIN_PRIMITIVE " + std::string(70, '7') + "\nnext\n");
    LineReader reader;
    ASSERT_TRUE(openForReading(reader, dir / "in", 4));
    std::string_view head = readLine(reader, 20);
    EXPECT_TRUE(reader.lineCut);
    EXPECT_EQ(head, "BEGIN_PRIMITIVE 7777");
    EXPECT_EQ(readLine(reader), "BEGIN_PRIMITIVE " + std::string(70, '7'));
    EXPECT_FALSE(reader.lineCut);
    EXPECT_EQ(readLine(reader), "next");
    EXPECT_TRUE(atEnd(reader));
}

TEST(LineReader, MissingFilesAndDirectoriesReadAsEmpty) {
    test::TempDir dir;
    LineReader reader;
    EXPECT_FALSE(openForReading(reader, dir / "missing"));
    EXPECT_TRUE(atEnd(reader));
    EXPECT_EQ(readLine(reader), "");
    EXPECT_FALSE(openForReading(reader, dir.path));
    EXPECT_TRUE(atEnd(reader));
}

}  // namespace
}  // namespace mc
