// The process environment on POSIX: wildcards, $TMPDIR, compiled-in version strings, dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/library.h"
#include "platform/scratch_directory.h"

namespace qv::platform {
namespace {

using test::ScratchDirectory;
using test::write_new_file;

std::set<std::string> names_matching(const std::string& directory, const std::string& pattern)
{
    std::set<std::string> names;
    EXPECT_TRUE(find_in_directory(directory, pattern,
                                  [&](const DirectoryEntry& entry) { names.insert(entry.name); }));
    return names;
}

TEST(PosixEnvironment, VariablesAreReadAsSetAndAnUnsetOneIsAbsent)
{
    std::string value = "kept";
    ASSERT_EQ(::unsetenv("QV_TEST_VARIABLE"), 0);
    EXPECT_FALSE(environment_value("QV_TEST_VARIABLE", value));
    EXPECT_EQ(value, "kept");
    for (const char* set : {"1", ""}) {
        ASSERT_EQ(::setenv("QV_TEST_VARIABLE", set, 1), 0);
        EXPECT_TRUE(environment_value("QV_TEST_VARIABLE", value));
        EXPECT_EQ(value, set);
    }
    ASSERT_EQ(::unsetenv("QV_TEST_VARIABLE"), 0);
}

TEST(PosixDirectorySearch, WildcardsMatchWholeNamesCaseSensitively)
{
    ScratchDirectory scratch;
    for (const char* name : {"QVN1234.tmp", "QVN1234.tmp5", "QVN123.tmp", "qvn1234.tmp",
                             "QVN12345.tmp", "a.b.c", "abc", "QVNéé12.tmp"}) {
        ASSERT_TRUE(write_new_file(scratch.file(name), ""));
    }
    using Names = std::set<std::string>;
    EXPECT_EQ(names_matching(scratch.dir(), "QVN????.tmp*"),
              (Names{"QVN1234.tmp", "QVN1234.tmp5", "QVNéé12.tmp"}));  // é is one character
    EXPECT_EQ(names_matching(scratch.dir(), "*.*.*"), (Names{"..", "a.b.c"}));
    EXPECT_EQ(names_matching(scratch.dir(), "*c"), (Names{"a.b.c", "abc"}));
    EXPECT_EQ(names_matching(scratch.dir(), "a*b*c*"), (Names{"a.b.c", "abc"}));
    EXPECT_EQ(names_matching(scratch.dir(), "QVN123.tmp"), Names{"QVN123.tmp"});
    EXPECT_EQ(names_matching(scratch.dir(), "?"), Names{"."});  // listed as the OS lists it
    EXPECT_EQ(names_matching(scratch.dir(), "*").size(), 10u);  // with "." and ".."
    EXPECT_TRUE(names_matching(scratch.dir(), "").empty());
}

TEST(PosixTempDirectory, ComesFromTmpdirWithOneTrailingSlash)
{
    std::optional<std::string> previous;
    if (const char* value = std::getenv("TMPDIR")) {
        previous = value;
    }
    ::setenv("TMPDIR", "/var/spool", 1);
    EXPECT_EQ(temp_directory(), "/var/spool/");
    ::setenv("TMPDIR", "/var/spool/", 1);
    EXPECT_EQ(temp_directory(), "/var/spool/");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(temp_directory(), "/tmp/");
    EXPECT_EQ(named_pipe_path("tuner0"), "/tmp/tuner0");
    if (previous) {
        ::setenv("TMPDIR", previous->c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

TEST(PosixExitStatus, TotalsAbove255AndOverflowedSumsGiveTheLargestStatus)
{
    const struct {
        int32_t total;
        int status;
    } cases[] = {{0, 0}, {3, 3}, {255, 255}, {256, 255}, {512, 255}, {INT32_MAX, 255}, {-1, 255},
                 {INT32_MIN, 255}};
    for (const auto& c : cases) {
        EXPECT_EQ(platform::exit_status(c.total), c.status) << c.total;
    }
}

TEST(PosixVersionStrings, OnlyTheTwoContactKeysAreAnswered)
{
    // The values come from the build configuration; an empty one means "no contact block".
    for (const char* key : {"CompanyName", "Comments"}) {
        std::string value;
        const bool found = read_version_string(key, value);
        EXPECT_EQ(found, !value.empty()) << key;
    }
    std::string value;
    EXPECT_FALSE(read_version_string("FileVersion", value));
    EXPECT_FALSE(read_version_string(nullptr, value));
    EXPECT_TRUE(value.empty());
}

TEST(PosixLibraryLoading, LoadsByPathAndByBareNameBesideTheExecutable)
{
    void* math = ::dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(math, nullptr);
    Dl_info origin{};
    ASSERT_NE(::dladdr(::dlsym(math, "cbrt"), &origin), 0);
    const std::string name = "libqv_beside_" + std::to_string(process_id()) + ".so";
    const std::string executable = executable_path();
    const std::string beside = executable.substr(0, executable.rfind('/') + 1) + name;
    std::filesystem::copy_file(origin.dli_fname, beside);

    LibraryHandle library = load_library(name);
    EXPECT_NE(library, nullptr);
    EXPECT_NE(find_symbol(library, "cbrt"), nullptr);
    EXPECT_EQ(find_symbol(library, "no_such_function_here"), nullptr);
    free_library(library);
    EXPECT_EQ(library, nullptr);
    std::filesystem::remove(beside);
    ::dlclose(math);

    EXPECT_STREQ(default_sender_library_name(), "libSendTSTCP.so");
}

TEST(PosixLibraryLoading, FindsABareNameInTheCurrentDirectoryLast)
{
    // Setup accepts a tuner driver or sender library named as a file of the current directory;
    // loading it must find that same file.
    void* math = ::dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(math, nullptr);
    Dl_info origin{};
    ASSERT_NE(::dladdr(::dlsym(math, "cbrt"), &origin), 0);
    ScratchDirectory scratch;
    const std::string name = "libqv_here_" + std::to_string(process_id()) + ".so";
    std::filesystem::copy_file(origin.dli_fname, scratch.file(name));
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(scratch.dir());

    LibraryHandle library = load_library(name);
    EXPECT_NE(library, nullptr);
    EXPECT_NE(find_symbol(library, "cbrt"), nullptr);
    free_library(library);
    EXPECT_EQ(load_library("libqv_nowhere_at_all.so"), nullptr);

    std::filesystem::current_path(before);
    ::dlclose(math);
}

}  // namespace
}  // namespace qv::platform
