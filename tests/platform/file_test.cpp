#include "platform/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/scratch_directory.h"

namespace qv::platform {
namespace {

using test::read_to_end;
using test::ScratchDirectory;
using test::write_new_file;

TEST(FileRoundTrip, WriteSeekReadAndSizeAgree)
{
    ScratchDirectory scratch;
    const std::string path = scratch.file("data.bin");
    std::string bytes(70000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    ASSERT_TRUE(write_new_file(path, bytes));

    NativeHandle handle = open_for_reading(path);
    ASSERT_NE(handle, kClosedHandle);
    int64_t size = 0;
    ASSERT_TRUE(file_size(handle, size));
    EXPECT_EQ(size, 70000);
    EXPECT_FALSE(is_pipe_or_device(handle));

    int64_t position = 0;
    ASSERT_TRUE(seek_file(handle, -100, SeekOrigin::end, position));
    EXPECT_EQ(position, 69900);
    ASSERT_TRUE(seek_file(handle, -900, SeekOrigin::current, position));
    EXPECT_EQ(position, 69000);
    EXPECT_EQ(read_to_end(handle), bytes.substr(69000));

    size_t got = 1;
    char byte = 0;
    EXPECT_EQ(read_file(handle, &byte, 1, got), IoStatus::ok);  // end of file: ok, nothing
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(seek_file(handle, -1, SeekOrigin::begin, position));
    close_handle(handle);
    EXPECT_EQ(handle, kClosedHandle);
    close_handle(handle);  // closed again: nothing happens
}

TEST(FileRoundTrip, RegularFileReadsAndPairedWritesMoveTheSameBytes)
{
    ScratchDirectory scratch;
    const std::string path = scratch.file("pairs.bin");
    NativeHandle out = create_for_writing(path);
    ASSERT_NE(out, kClosedHandle);
    // Each pair goes out as its two parts one after the other, an empty part included.
    const std::string first(5000, 'a');
    const std::string second = "0123456789";
    const struct {
        std::string_view a;
        std::string_view b;
    } pairs[] = {{first, second}, {"", second}, {first, ""}, {"x", "y"}};
    std::string expected;
    for (const auto& pair : pairs) {
        size_t written = 0;
        ASSERT_TRUE(write_file_pair(out, pair.a.data(), pair.a.size(), pair.b.data(), pair.b.size(),
                                    written));
        EXPECT_EQ(written, pair.a.size() + pair.b.size());
        expected.append(pair.a).append(pair.b);
    }
    close_handle(out);

    NativeHandle in = open_for_reading(path);
    ASSERT_NE(in, kClosedHandle);
    std::string read_back;
    char buffer[4096];
    size_t got = 0;
    while (read_regular_file(in, buffer, sizeof buffer, got) == IoStatus::ok && got > 0) {
        read_back.append(buffer, got);
    }
    EXPECT_EQ(got, 0u);  // the end of the file: ok with nothing
    EXPECT_EQ(read_back, expected);
    close_handle(in);

    size_t written = 0;
    EXPECT_FALSE(write_file_pair(kClosedHandle, "a", 1, "b", 1, written));
    EXPECT_EQ(read_regular_file(kClosedHandle, buffer, 1, got), IoStatus::failed);
}

TEST(FileCreation, CreateTruncatesAppendKeepsAndCreates)
{
    ScratchDirectory scratch;
    const std::string path = scratch.file("out.ts");
    ASSERT_TRUE(write_new_file(path, "0123456789"));

    NativeHandle handle = open_for_appending(path);
    ASSERT_NE(handle, kClosedHandle);
    size_t written = 0;
    ASSERT_TRUE(write_file(handle, "ab", 2, written));
    close_handle(handle);
    handle = open_for_reading(path);
    EXPECT_EQ(read_to_end(handle), "0123456789ab");
    close_handle(handle);

    ASSERT_TRUE(write_new_file(path, "xy"));
    handle = open_for_reading(path);
    EXPECT_EQ(read_to_end(handle), "xy");
    close_handle(handle);

    const std::string log = scratch.file("new.log");
    handle = open_for_appending(log);
    EXPECT_NE(handle, kClosedHandle);
    close_handle(handle);
    EXPECT_EQ(path_kind(log), PathKind::regular);
}

TEST(FileCreation, FailuresLeaveAnErrorCode)
{
    ScratchDirectory scratch;
    EXPECT_EQ(open_for_reading(scratch.file("missing")), kClosedHandle);
    EXPECT_NE(last_error(), 0);
    EXPECT_FALSE(error_text(last_error()).empty());
    EXPECT_EQ(open_for_reading(scratch.dir()), kClosedHandle);  // a directory holds no data
    EXPECT_EQ(create_for_writing(scratch.file("no/such/dir")), kClosedHandle);
    size_t got = 0;
    EXPECT_EQ(read_file(kClosedHandle, &got, 1, got), IoStatus::failed);
}

TEST(FileIdentity, KindsSameFileAndDelete)
{
    ScratchDirectory scratch;
    const std::string a = scratch.file("a.ts");
    const std::string copy = scratch.file("copy.ts");
    ASSERT_TRUE(write_new_file(a, "same bytes"));
    ASSERT_TRUE(write_new_file(copy, "same bytes"));
    const std::string linked = scratch.file("linked.ts");
    std::filesystem::create_hard_link(a, linked);

    EXPECT_EQ(path_kind(a), PathKind::regular);
    EXPECT_EQ(path_kind(scratch.dir()), PathKind::directory);
    EXPECT_EQ(path_kind(scratch.file("none")), PathKind::missing);
    EXPECT_FALSE(path_exists(scratch.file("none")));

    EXPECT_TRUE(same_file(a, linked));
    EXPECT_TRUE(same_file(a, scratch.dir() + "/./a.ts"));
    EXPECT_FALSE(same_file(a, copy));
    EXPECT_FALSE(same_file(a, scratch.file("none")));
    EXPECT_FALSE(same_file(scratch.file("none"), scratch.file("none")));

    EXPECT_TRUE(delete_file(copy));
    EXPECT_FALSE(path_exists(copy));
    EXPECT_FALSE(delete_file(copy));
}

}  // namespace
}  // namespace qv::platform
