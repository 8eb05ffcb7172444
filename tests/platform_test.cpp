// What the platform room answers on every system: file sizes and the console's ownership.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace mc {
namespace {

TEST(FileSize, GivesBytesOfRegularFilesAndZeroOtherwise) {
    test::TempDir dir;
    test::writeFile(dir / "hundred", std::string(100, 'x'));
    test::writeFile(dir / "empty", "");
    EXPECT_EQ(fileSize(dir / "hundred"), 100);
    EXPECT_EQ(fileSize(dir / "empty"), 0);
    EXPECT_EQ(fileSize(dir / "missing"), 0);
    EXPECT_EQ(fileSize(dir.path), 0);
}

// Started from Explorer the console is the run's alone: only then does it wait at the end.
TEST(Platform, ConsoleIsOursOnlyWhenAloneAndNotRedirected) {
    EXPECT_TRUE(isConsoleOursAlone(1, true, true));
    EXPECT_FALSE(isConsoleOursAlone(2, true, true));   // a command prompt shares it
    EXPECT_FALSE(isConsoleOursAlone(0, true, true));   // no console at all
    EXPECT_FALSE(isConsoleOursAlone(1, false, true));  // standard input redirected
    EXPECT_FALSE(isConsoleOursAlone(1, true, false));  // standard output redirected
    EXPECT_FALSE(consoleIsOursAlone());                // the tests' own run is never one
}

}  // namespace
}  // namespace mc
