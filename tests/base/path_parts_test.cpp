#include "base/path_parts.h"

#include <gtest/gtest.h>

#include "platform/environment.h"

namespace qv {
namespace {

TEST(PathSplit, DirectoryNameAndLastExtension)
{
    if (platform::path_separator() != '/') {
        GTEST_SKIP() << "POSIX path forms";
    }
    PathParts parts = split_path("/rec/2026/news.x.ts");
    EXPECT_EQ(parts.drive, "");
    EXPECT_EQ(parts.directory, "/rec/2026/");
    EXPECT_EQ(parts.name, "news.x");
    EXPECT_EQ(parts.extension, ".ts");

    PathParts bare = split_path("rec");
    EXPECT_EQ(bare.directory, "");
    EXPECT_EQ(bare.name, "rec");
    EXPECT_EQ(bare.extension, "");

    PathParts dotted_dir = split_path("a.b/c");
    EXPECT_EQ(dotted_dir.directory, "a.b/");
    EXPECT_EQ(dotted_dir.name, "c");
    EXPECT_EQ(dotted_dir.extension, "");
}

TEST(PathSplit, WindowsDriveAndShiftJisTrailBackslash)
{
    if (platform::path_separator() != '\\') {
        GTEST_SKIP() << "Windows path forms";
    }
    // "表" is 0x95 0x5C in Shift_JIS: its trail byte is not a separator.
    PathParts parts = split_path("C:\\rec\\\x95\x5C.ts");
    EXPECT_EQ(parts.drive, "C:");
    EXPECT_EQ(parts.directory, "\\rec\\");
    EXPECT_EQ(parts.name, "\x95\x5C");
    EXPECT_EQ(parts.extension, ".ts");
}

}  // namespace
}  // namespace qv
