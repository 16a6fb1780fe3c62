#include "app/find_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "base/console_output.h"
#include "app/process_environment.h"
#include "support/test_data.h"
#include "platform/environment.h"
#include "platform/file.h"

namespace qv {
namespace {

std::string sep() { return std::string(1, platform::path_separator()); }

void touch(const std::string& path) { std::ofstream(path) << "x"; }

std::set<std::string> paths_of(const CFindFileInfo* list)
{
    std::set<std::string> paths;
    for (; list != nullptr; list = list->next.get()) {
        paths.insert(list->path);
    }
    return paths;
}

TEST(FindFiles, PatternsRecursionAndDirectories)
{
    std::string root = test::unique_temp_path("qv_find_files_test", "");
    std::string sub = root + sep() + "sub";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(sub);
    touch(root + sep() + "a.ts");
    touch(root + sep() + "b.srt");
    touch(sub + sep() + "c.ts");

    std::unique_ptr<CFindFileInfo> flat;
    find_files(root, "*.ts;*.srt", flat, false, false);
    EXPECT_EQ(paths_of(flat.get()),
              (std::set<std::string>{root + sep() + "a.ts", root + sep() + "b.srt"}));

    std::unique_ptr<CFindFileInfo> deep;
    find_files(root, "*.ts", deep, true, false);
    EXPECT_EQ(paths_of(deep.get()),
              (std::set<std::string>{root + sep() + "a.ts", sub + sep() + "c.ts"}));

    std::unique_ptr<CFindFileInfo> with_dirs;
    find_files(root, "s*", with_dirs, false, true);
    EXPECT_EQ(paths_of(with_dirs.get()), (std::set<std::string>{sub}));
    ASSERT_NE(with_dirs, nullptr);

    std::unique_ptr<CFindFileInfo> none;
    find_files(root, "", none, true, true);
    find_files("", "*", none, true, true);
    EXPECT_EQ(none, nullptr);
    std::filesystem::remove_all(root);
}

TEST(FindFiles, LongListsAreReleasedWithoutDeepRecursion)
{
    auto head = std::make_unique<CFindFileInfo>();
    CFindFileInfo* tail = head.get();
    for (int i = 0; i < 200000; ++i) {
        tail->next = std::make_unique<CFindFileInfo>();
        tail = tail->next.get();
    }
    head.reset();
    SUCCEED();
}

TEST(TemporarySweep, CleanupDeletesOnlyTheProgramsTemporaryFiles)
{
    prepare_process();
    std::string dir = temp_dir();
    const std::string ours[] = {"QVN1234.tmp", "QVNabcd.tmp5"};
    const std::string theirs[] = {"QVN123.tmp", "QVN12345.tmp", "XQVN1234.tmp"};
    for (const auto& name : ours) touch(dir + name);
    for (const auto& name : theirs) touch(dir + name);
    cleanup_process();
    stop_requested = 0;
    for (const auto& name : ours) EXPECT_FALSE(platform::path_exists(dir + name)) << name;
    for (const auto& name : theirs) {
        EXPECT_TRUE(platform::path_exists(dir + name)) << name;
        (void)platform::delete_file(dir + name);
    }
}

}  // namespace
}  // namespace qv
