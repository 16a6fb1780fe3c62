// File views on POSIX: a view reads the file's bytes, and a page the file lost after mapping
// reads as zeros and marks the view damaged instead of ending the process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/file.h"
#include "platform/file_view.h"
#include "platform/scratch_directory.h"

namespace qv::platform {
namespace {

using test::ScratchDirectory;
using test::write_new_file;

std::string numbered_bytes(size_t count)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 4096);
    }
    return bytes;
}

TEST(PosixFileView, ShowsTheFileFromAnAlignedOffsetAndRefusesOthers)
{
    ScratchDirectory scratch;
    const size_t page = file_view_alignment();
    ASSERT_GE(page, 4096u);
    const std::string bytes = numbered_bytes(page * 5 + 100);
    ASSERT_TRUE(write_new_file(scratch.file("data"), bytes));
    NativeHandle handle = open_for_reading(scratch.file("data"));
    ASSERT_NE(handle, kClosedHandle);

    FileView view;
    ASSERT_TRUE(map_file_view(handle, static_cast<int64_t>(page * 2), page * 8, view));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.data), page * 3 + 100),
              bytes.substr(page * 2));
    populate_file_view(view.data, page * 3 + 100);  // within the file: no effect on the bytes
    EXPECT_EQ(view.data[page * 3 + 99], static_cast<uint8_t>(bytes.back()));
    EXPECT_FALSE(file_view_damaged(view));
    unmap_file_view(view);
    EXPECT_EQ(view.data, nullptr);
    unmap_file_view(view);  // an empty view: nothing

    FileView refused;
    EXPECT_FALSE(map_file_view(handle, 100, page, refused));  // not aligned
    EXPECT_FALSE(map_file_view(kClosedHandle, 0, page, refused));
    EXPECT_FALSE(map_file_view(handle, 0, 0, refused));
    EXPECT_EQ(refused.data, nullptr);
    close_handle(handle);
}

TEST(PosixFileView, APageLostToATruncationReadsAsZerosAndDamagesOnlyItsView)
{
    ScratchDirectory scratch;
    const size_t page = file_view_alignment();
    const std::string bytes = numbered_bytes(page * 6);
    ASSERT_TRUE(write_new_file(scratch.file("data"), bytes));
    NativeHandle handle = open_for_reading(scratch.file("data"));
    FileView cut;
    FileView other;
    ASSERT_TRUE(map_file_view(handle, 0, page * 6, cut));
    ASSERT_TRUE(map_file_view(handle, 0, page * 2, other));
    EXPECT_EQ(cut.data[page * 4 + 1], static_cast<uint8_t>(bytes[page * 4 + 1]));

    std::filesystem::resize_file(scratch.file("data"), page * 3);
    EXPECT_EQ(cut.data[page * 2 + 5], static_cast<uint8_t>(bytes[page * 2 + 5]));  // kept
    EXPECT_FALSE(file_view_damaged(cut));
    EXPECT_EQ(cut.data[page * 4 + 1], 0);  // gone with the truncation
    EXPECT_TRUE(file_view_damaged(cut));
    EXPECT_EQ(cut.data[page * 5 + 9], 0);
    EXPECT_FALSE(file_view_damaged(other));
    EXPECT_EQ(file_view_damage_error(), EIO);
    unmap_file_view(cut);
    unmap_file_view(other);

    // A new view that takes the same guard place starts undamaged.
    FileView again;
    ASSERT_TRUE(map_file_view(handle, 0, page, again));
    EXPECT_FALSE(file_view_damaged(again));
    unmap_file_view(again);
    close_handle(handle);
}

/// Ended by the bus error: killed by SIGBUS, or (under a sanitizer, whose handler came first)
/// reported and exited with a failure code other than the test's own 3 and 4.
bool ended_by_bus_error(int status)
{
    if (WIFSIGNALED(status)) {
        return WTERMSIG(status) == SIGBUS;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 3 &&
           WEXITSTATUS(status) != 4;
}

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QV_UNDER_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QV_UNDER_TSAN 1
#endif

TEST(PosixFileViewDeathTest, ABusErrorOutsideEveryViewStillEndsTheProcess)
{
#ifdef QV_UNDER_TSAN
    GTEST_SKIP() << "ThreadSanitizer reports the expected bus error as a finding of the run";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScratchDirectory scratch;
    const size_t page = file_view_alignment();
    ASSERT_TRUE(write_new_file(scratch.file("data"), numbered_bytes(page * 2)));
    const std::string path = scratch.file("data");
    EXPECT_EXIT(
        {
            NativeHandle handle = open_for_reading(path);
            FileView view;  // installs the guard
            if (!map_file_view(handle, 0, page, view)) {
                _exit(3);
            }
            void* plain = ::mmap(nullptr, page * 2, PROT_READ, MAP_SHARED,
                                 static_cast<int>(handle), 0);
            std::filesystem::resize_file(path, 0);
            (void)*static_cast<volatile const uint8_t*>(plain);
            _exit(4);
        },
        ended_by_bus_error, "");
    EXPECT_EXIT(
        {
            NativeHandle handle = open_for_reading(path);
            FileView view;
            if (!map_file_view(handle, 0, page, view)) {
                _exit(3);
            }
            ::raise(SIGBUS);  // sent, not a fault
            _exit(4);
        },
        ended_by_bus_error, "");
}

}  // namespace
}  // namespace qv::platform
