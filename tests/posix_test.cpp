// What only a POSIX system shows: FIFOs, /dev/full and "\\" taken as a folder separator.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "platform/platform.h"
#include "test_support.h"
#include "text/line_reader.h"
#include "text/output_file.h"

namespace mc {
namespace {

std::vector<std::string> readAllLines(const std::string& path, size_t blockSize) {
    LineReader reader;
    std::vector<std::string> lines;
    if (!openForReading(reader, path, blockSize)) return lines;
    while (!atEnd(reader)) lines.emplace_back(readLine(reader));
    closeReader(reader);
    return lines;
}

TEST(LineReader, PipesAreReadToTheirEnd) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::thread writer([&] { test::writeFile(dir / "fifo", "one\r\ntwo\nthree"); });
    EXPECT_EQ(readAllLines(dir / "fifo", 2), (std::vector<std::string>{"one", "two", "three"}));
    writer.join();
}

TEST(Output, FullDeviceIsReportedAtClose) {
    for (bool behind : {false, true}) {
        OutputFile file;
        ASSERT_TRUE(test::openForWriting(file, "/dev/full"));
        if (behind) startWriteBehind(file);
        writeLine(file, "nowhere to go");
        for (int k = 0; k < 5; ++k) {
            TextBlock block{std::vector<char>(3 * OUTPUT_BUFFER_SIZE, 'x'), 3 * OUTPUT_BUFFER_SIZE};
            handOver(file, block);
        }
        EXPECT_FALSE(closeFile(file)) << (behind ? "write-behind" : "direct");
    }
}

TEST(ToPlatformPath, TakesBackslashesAsSeparators) {
    EXPECT_EQ(toPlatformPath("tiles\\+47+012.txt"), "tiles/+47+012.txt");
    EXPECT_EQ(toPlatformPath("/abs/path.txt"), "/abs/path.txt");
}

TEST(NarrowFromUtf16, GivesUtf8AndQuestionMarksForLoneSurrogates) {
    EXPECT_EQ(narrowFromUtf16(u"a\u00E9\u20AC\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(narrowFromUtf16(std::u16string(1, char16_t(0xD800)) + u"x" + char16_t(0xDC00)),
              "?x?");
}

}  // namespace
}  // namespace mc
