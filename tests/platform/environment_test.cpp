#include "platform/environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/library.h"
#include "platform/scratch_directory.h"

namespace qv::platform {
namespace {

using test::ScratchDirectory;
using test::write_new_file;

TEST(ProcessEnvironment, ExecutableAndTempDirectoryExist)
{
    EXPECT_EQ(path_kind(executable_path()), PathKind::regular);
    const std::string temp = temp_directory();
    ASSERT_FALSE(temp.empty());
    EXPECT_TRUE(is_path_separator(temp.back()));
    EXPECT_EQ(path_kind(temp), PathKind::directory);
    EXPECT_TRUE(is_path_separator(path_separator()));
}

TEST(DirectorySearch, ReportsMatchesWithKindSizeAndWriteTime)
{
    ScratchDirectory scratch;
    ASSERT_TRUE(write_new_file(scratch.file("QVN1234.tmp"), "12345"));
    ASSERT_TRUE(write_new_file(scratch.file("other.ts"), ""));
    std::filesystem::create_directory(scratch.file("QVN5678.tmp"));

    std::map<std::string, DirectoryEntry> seen;
    ASSERT_TRUE(find_in_directory(scratch.dir(), "QVN*",
                                  [&](const DirectoryEntry& entry) { seen[entry.name] = entry; }));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(seen["QVN1234.tmp"].is_directory);
    EXPECT_EQ(seen["QVN1234.tmp"].size, 5u);
    EXPECT_TRUE(seen["QVN5678.tmp"].is_directory);

    // FILETIME: 100 ns units since 1601; the file was written within the last minute.
    const uint64_t now = (static_cast<uint64_t>(current_unix_time()) + 11644473600u) * 10000000u;
    const uint64_t written = seen["QVN1234.tmp"].last_write;
    EXPECT_LE(written, now + 20000000u);
    EXPECT_GE(written + 600000000u, now);

    int count = 0;
    EXPECT_FALSE(
        find_in_directory(scratch.file("missing"), "*", [&](const DirectoryEntry&) { ++count; }));
    EXPECT_EQ(count, 0);
}

TEST(LibraryLoading, AMissingLibraryGivesNullAndAnError)
{
    ScratchDirectory scratch;
    LibraryHandle library = load_library(scratch.file("no_such_library"));
    EXPECT_EQ(library, nullptr);
    EXPECT_NE(last_error(), 0);
    EXPECT_EQ(find_symbol(library, "anything"), nullptr);
    free_library(library);
    EXPECT_EQ(library, nullptr);
}

}  // namespace
}  // namespace qv::platform
