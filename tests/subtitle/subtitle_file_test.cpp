#include "subtitle/subtitle_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scratch_directory.h"

namespace qv {
namespace {

using test::ScratchDirectory;
using test::write_new_file;

constexpr const char* kBom = "\xEF\xBB\xBF";
constexpr const char* kTimeLine = "00:00:01,000 --> 00:00:02,500";

int64_t file_position(platform::NativeHandle handle)
{
    int64_t position = -1;
    EXPECT_TRUE(platform::seek_file(handle, 0, platform::SeekOrigin::current, position));
    return position;
}

TEST(SubtitleProbe, RecognisesEachFormatWithEitherLineEnd)
{
    struct Case {
        std::string content;
        int32_t ass;
        int32_t srt;
    };
    const std::string srt_block = std::string(kTimeLine) + "\r\nText\r\n";
    const Case cases[] = {
        {"[Script Info]\r\nScriptType: v4.00+\r\n", 0, -1},
        {std::string(kBom) + "[script INFO]\r\n; comment line\r\n", 3, -1},
        {"[Script Info]\nScriptType: v4.00+\n", 0, -1},  // LF alone
        {"[Script Info]\n", 0, -1},                      // shorter than the CR LF head
        {" [Script Info]\r\nScriptType: v4.00+\r\n", -1, -1},
        {"[Script Info]x\r\nScriptType: v4.00+\r\n", -1, -1},
        {"[Script Info]\r", -1, -1},
        {std::string("\xFF\xFE[\0S\0c\0r\0i\0p\0t\0 \0I\0n\0f\0o\0]\0\r\0\n\0", 32), -1, -1},
        {"1\r\n" + srt_block, -1, 0},
        {std::string(kBom) + "1\r\n" + srt_block, -1, 3},
        {"1\n" + std::string(kTimeLine) + "\nText\n", -1, 0},
        {"1\r\n" + std::string(kTimeLine) + "\nT\n", -1, 0},  // the ends may switch
        {"1\n" + std::string(kTimeLine) + "\n", -1, 0},       // 32 bytes in all
        {"2\r\n" + srt_block, -1, -1},                        // the first index must be 1
        {"1 \r\n" + srt_block, -1, -1},
        {"1\r\n00:00:01.000 --> 00:00:02,500\r\nText\r\n", -1, -1},
        {"1\r\n" + std::string(kTimeLine) + " \r\nText\r\n", -1, -1},
        {"1\r\n00:00:01,000 --> 00:00:02,500", -1, -1},  // no line end after the times
        {"", -1, -1},
        {kBom, -1, -1},
    };
    ScratchDirectory scratch;
    const std::string path = scratch.file("probe.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        ASSERT_TRUE(write_new_file(path, c.content));
        EXPECT_EQ(probe_ass_path(path), c.ass);
        EXPECT_EQ(probe_srt_path(path), c.srt);
    }
}

TEST(SubtitleProbe, LeavesThePositionAfterTheMarkOrWhereItWas)
{
    ScratchDirectory scratch;
    const std::string path = scratch.file("probe.ass");
    ASSERT_TRUE(write_new_file(path, std::string(kBom) + "[Script Info]\r\nTitle: x\r\n"));
    platform::NativeHandle handle = platform::open_for_reading(path);
    ASSERT_NE(handle, platform::kClosedHandle);
    int64_t position = 0;
    ASSERT_TRUE(platform::seek_file(handle, 7, platform::SeekOrigin::begin, position));
    EXPECT_EQ(probe_srt(handle), -1);
    EXPECT_EQ(file_position(handle), 7);
    EXPECT_EQ(probe_ass(handle), 3);
    EXPECT_EQ(file_position(handle), 3);
    platform::close_handle(handle);
    EXPECT_EQ(probe_ass(platform::kClosedHandle), -1);
    EXPECT_EQ(probe_srt_path(""), -1);
    EXPECT_EQ(probe_ass_path(scratch.file("missing.ass")), -1);
    EXPECT_EQ(probe_srt_path(scratch.dir()), -1);
}

/// Every line of `content` as the line reader delivers it, with the position after each.
std::vector<std::pair<std::string, int64_t>> read_lines(const std::string& content)
{
    ScratchDirectory scratch;
    const std::string path = scratch.file("lines.txt");
    EXPECT_TRUE(write_new_file(path, content));
    platform::NativeHandle handle = platform::open_for_reading(path);
    SubtitleLineReader reader = open_line_reader(handle);
    std::vector<std::pair<std::string, int64_t>> lines;
    std::string line;
    while (read_subtitle_line(reader, line)) {
        lines.emplace_back(line, reader.position);
    }
    platform::close_handle(handle);
    return lines;
}

TEST(SubtitleLineReading, LineEndsNulBytesAndTheLastLine)
{
    using Lines = std::vector<std::pair<std::string, int64_t>>;
    EXPECT_EQ(read_lines("a\r\nb\nc\r\n"), (Lines{{"a", 3}, {"b", 5}, {"c", 8}}));
    EXPECT_EQ(read_lines("a\n\nlast"), (Lines{{"a", 2}, {"", 3}, {"last", 7}}));
    EXPECT_EQ(read_lines("a\rb\r\r\n"), (Lines{{"a\rb\r", 6}}));  // only the CR before LF goes
    EXPECT_EQ(read_lines(std::string("x\0y\n\0\0\nz\0", 10)),
              (Lines{{"xy", 4}, {"", 7}, {"z", 10}}));
    EXPECT_EQ(read_lines(""), Lines{});
}

TEST(SubtitleLineReading, LinesLongerThanOneBlock)
{
    const std::string long_line(kLineReadBlock * 2 + 17, 'q');
    const auto lines = read_lines("first\r\n" + long_line + "\r\nnext\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].first, long_line);
    EXPECT_EQ(lines[2].first, "next");
    EXPECT_EQ(lines[2].second, static_cast<int64_t>(7 + long_line.size() + 2 + 5));
}

TEST(SubtitleLineReading, AnUnreadLineComesAgainWithItsPosition)
{
    ScratchDirectory scratch;
    const std::string path = scratch.file("unread.txt");
    ASSERT_TRUE(write_new_file(path, "one\ntwo\nthree\n"));
    platform::NativeHandle handle = platform::open_for_reading(path);
    SubtitleLineReader reader = open_line_reader(handle);
    std::string line;
    ASSERT_TRUE(read_subtitle_line(reader, line));
    const int64_t before = reader.position;
    ASSERT_TRUE(read_subtitle_line(reader, line));
    unread_subtitle_line(reader, line, before);
    EXPECT_EQ(reader.position, 4);
    ASSERT_TRUE(read_subtitle_line(reader, line));
    EXPECT_EQ(line, "two");
    EXPECT_EQ(reader.position, 8);
    ASSERT_TRUE(read_subtitle_line(reader, line));
    EXPECT_EQ(line, "three");
    EXPECT_FALSE(read_subtitle_line(reader, line));
    platform::close_handle(handle);
    EXPECT_FALSE(reader.read_failed);  // the end of the file is no failure
    SubtitleLineReader closed = open_line_reader(platform::kClosedHandle);
    EXPECT_FALSE(read_subtitle_line(closed, line));
}

TEST(SubtitleLineReading, AFailedReadIsToldApartFromTheEnd)
{
    ScratchDirectory scratch;
    platform::NativeHandle write_only = platform::create_for_writing(scratch.file("w.srt"));
    ASSERT_NE(write_only, platform::kClosedHandle);
    SubtitleLineReader reader = open_line_reader(write_only);  // every read fails
    std::string line;
    EXPECT_FALSE(read_subtitle_line(reader, line));
    EXPECT_TRUE(reader.read_failed);
    platform::close_handle(write_only);
}

}  // namespace
}  // namespace qv
