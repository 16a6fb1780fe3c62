// The process environment on Windows: the version resource, directory search semantics, the
// temporary directory, libraries and file-time based local time.
#include "platform/environment.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/library.h"
#include "platform/scratch_directory.h"

namespace qv::platform {
namespace {

using test::ScratchDirectory;
using test::write_new_file;

TEST(Win32ExitStatus, KeepsTheWhole32BitTotal)
{
    for (const int32_t total : {0, 3, 255, 256, 1940, INT32_MAX, -5}) {
        EXPECT_EQ(platform::exit_status(total), total);
    }
}

TEST(Win32VersionStrings, ComeFromTheExecutablesOwnResource)
{
    std::string value;
    EXPECT_TRUE(read_version_string("CompanyName", value));
    EXPECT_FALSE(value.empty());
    EXPECT_TRUE(read_version_string("Comments", value));
    EXPECT_FALSE(value.empty());
    EXPECT_TRUE(read_version_string("OriginalFilename", value));
    EXPECT_EQ(value, "Quilvaren.exe");
    EXPECT_FALSE(read_version_string("NoSuchString", value));
    EXPECT_TRUE(value.empty());
    EXPECT_FALSE(read_version_string("", value));
}

TEST(Win32DirectorySearch, WildcardsMatchWholeNamesIgnoringCaseAndQuestionMarkIsOneCharacter)
{
    ScratchDirectory scratch;
    for (const char* name : {"QVN1234.tmp", "qvn5678.TMP1", "QVN123.tmp", "QVN12345.tmp",
                             "QVNＡＢ12.tmp", "xQVN1234.tmp"}) {
        // Joined by hand: std::filesystem would not take the CP932 name as CP932.
        ASSERT_TRUE(write_new_file(scratch.dir() + "\\" + name, "")) << name;
    }
    std::set<std::string> found;
    ASSERT_TRUE(find_in_directory(scratch.dir(), "QVN????.tmp*", [&found](const DirectoryEntry& e) {
        found.insert(e.name);
    }));
    // "ＡＢ" are two double-byte characters: each is one '?'.
    EXPECT_EQ(found, (std::set<std::string>{"QVN1234.tmp", "qvn5678.TMP1", "QVNＡＢ12.tmp"}));
}

TEST(Win32DirectorySearch, ADirectoryPathWithOrWithoutItsSeparatorAndAMissingOne)
{
    ScratchDirectory scratch;
    ASSERT_TRUE(write_new_file(scratch.file("a.ts"), "12"));
    int count = 0;
    auto counter = [&count](const DirectoryEntry& entry) {
        count += entry.name == "a.ts" && entry.size == 2 && !entry.is_directory ? 1 : 0;
    };
    EXPECT_TRUE(find_in_directory(scratch.dir() + "\\", "*.ts", counter));
    EXPECT_TRUE(find_in_directory(scratch.dir(), "*.ts", counter));
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(find_in_directory(scratch.dir(), "*.none", counter));  // empty, not a failure
    EXPECT_FALSE(find_in_directory(scratch.dir() + "\\missing", "*", counter));
}

TEST(Win32Environment, TempDirectoryEndsInOneBackslashAndTheExecutableIsFound)
{
    const std::string temp = temp_directory();
    ASSERT_GE(temp.size(), 3u);
    EXPECT_EQ(temp.back(), '\\');
    EXPECT_NE(temp[temp.size() - 2], '\\');
    EXPECT_EQ(path_kind(temp), PathKind::directory);

    const std::string self = executable_path();
    const std::string name = "\\platform_tests.exe";
    ASSERT_GT(self.size(), name.size());
    EXPECT_EQ(self.substr(self.size() - name.size()), name);
    EXPECT_EQ(path_kind(self), PathKind::regular);
    EXPECT_EQ(path_separator(), '\\');
    EXPECT_TRUE(is_path_separator('/'));
}

TEST(Win32Libraries, SymbolsOfALoadedLibraryAndTheSenderDefault)
{
    LibraryHandle kernel = load_library("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(find_symbol(kernel, "GetTickCount"), nullptr);
    EXPECT_EQ(find_symbol(kernel, "NoSuchExport"), nullptr);
    free_library(kernel);
    EXPECT_EQ(kernel, nullptr);

    LibraryHandle missing = load_library("qv_no_such_driver.dll");
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(last_error(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(load_library(std::string(300, 'x') + ".dll"), nullptr);
    EXPECT_EQ(last_error(), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_STREQ(default_sender_library_name(), "SendTSTCP.dll");
}

TEST(Win32LocalTime, FollowsTheZoneBiasAndTheFileTimeRange)
{
    // 2023-11-14 22:13:20 UTC; local = UTC - bias.
    constexpr int64_t kSeconds = 1700000000;
    CalendarTime local;
    ASSERT_TRUE(unix_to_local(kSeconds, local));
    int64_t back = 0;
    ASSERT_TRUE(local_to_unix(local, back));
    EXPECT_EQ(back, kSeconds);
    const int64_t local_minutes = kSeconds / 60 - time_zone_bias_minutes();
    EXPECT_EQ(local.minute, static_cast<int>(local_minutes % 60));
    EXPECT_EQ(local.hour, static_cast<int>(local_minutes / 60 % 24));
    EXPECT_EQ(local.second, 20);

    // FILETIME starts in 1601; earlier instants are refused rather than wrapped.
    EXPECT_FALSE(unix_to_local(-11644473600 - 86400, local));
    EXPECT_FALSE(unix_to_local(INT64_MAX, local));
}

TEST(Win32CurrentTime, AgreesWithTheSystemClock)
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    FILETIME file_time{};
    ASSERT_TRUE(SystemTimeToFileTime(&now, &file_time));
    const int64_t expected =
        static_cast<int64_t>(((static_cast<uint64_t>(file_time.dwHighDateTime) << 32) |
                              file_time.dwLowDateTime) /
                                 10000000) -
        11644473600;
    EXPECT_LE(std::llabs(current_unix_time() - expected), 2);
}

}  // namespace
}  // namespace qv::platform
