#include "subtitle/subtitle_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scratch_directory.h"
#include "support/bytes_compare.h"

namespace qv {
namespace {

using test::bytes_equal;

struct Entry {
    int64_t start = 0;
    int64_t end = 0;
    std::string text;  // Shift_JIS
};

constexpr int64_t ticks(int hours, int minutes, int seconds, int milliseconds)
{
    return ((int64_t{hours} * 60 + minutes) * 60 + seconds) * 90000 + int64_t{milliseconds} * 90;
}

/// Writes `content` to a file, probes it and reads every entry with the probed format (with the
/// state's format when neither probe accepts the file).
std::vector<Entry> read_entries(const std::string& content, CaptionEncoderState& state)
{
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("subtitle.txt");
    EXPECT_TRUE(test::write_new_file(path, content));
    platform::NativeHandle handle = platform::open_for_reading(path);
    if (probe_ass(handle) >= 0) {
        state.subtitle_format = kSubtitleAss;
    } else if (probe_srt(handle) >= 0) {
        state.subtitle_format = kSubtitleSrt;
    }
    SubtitleLineReader reader = open_line_reader(handle);
    std::vector<Entry> entries;
    while (state.subtitle_format == kSubtitleAss ? read_ass_entry(reader, state)
                                                 : read_srt_entry(reader, state)) {
        entries.push_back({state.start_time, state.end_time, state.caption_text});
    }
    platform::close_handle(handle);
    return entries;
}

/// A literal with its NUL bytes.
template <size_t N>
std::string with_nuls(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

constexpr const char* kFormat =
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text";

std::string dialogue(const std::string& start, const std::string& end, const std::string& text)
{
    return "Dialogue: 0," + start + "," + end + ",Default,,0,0,0,," + text;
}

/// An ASS script: the head, the events section with the usual Format line, then `lines`.
std::string ass(const std::vector<std::string>& lines, const std::string& eol = "\r\n")
{
    std::string script =
        "[Script Info]" + eol + "ScriptType: v4.00+" + eol + eol + "[Events]" + eol + kFormat + eol;
    for (const std::string& line : lines) {
        script += line + eol;
    }
    return script;
}

std::string srt_block(int index, const std::string& times, const std::string& text,
                      const std::string& eol = "\r\n")
{
    return std::to_string(index) + eol + times + eol + text + eol + eol;
}

struct ReaderCase {
    const char* name;
    std::string content;
    std::vector<Entry> entries;
    int64_t time_offset = 0;
};

TEST(SubtitleEntries, AssAndSubRipFiles)
{
    const std::string one_to_two = "0:00:01.00";
    const std::string two = "0:00:02.50";
    const std::string srt_times = "00:00:01,000 --> 00:00:02,500";
    const Entry hello = {ticks(0, 0, 1, 0), ticks(0, 0, 2, 500), "Hello"};
    const std::string huge(100000, 'x');
    const ReaderCase cases[] = {
        {"ass crlf with a byte order mark",
         "\xEF\xBB\xBF" + ass({dialogue(one_to_two, two, "Hello"),
                               dialogue("1:02:03.04", "1:02:04.00", "\xE3\x81\x82")}),
         {hello, {ticks(1, 2, 3, 40), ticks(1, 2, 4, 0), "\x82\xA0"}}},
        {"ass lf", ass({dialogue(one_to_two, two, "Hello")}, "\n"), {hello}},
        {"ass line ends switch",
         ass({dialogue(one_to_two, two, "Hello")}, "\n") + "\r\n" +
             dialogue("0:00:03.00", "0:00:04.00", "B") + "\r\n",
         {hello, {ticks(0, 0, 3, 0), ticks(0, 0, 4, 0), "B"}}},
        {"ass last line without line end", ass({}) + dialogue(one_to_two, two, "Hello"), {hello}},
        {"ass text keeps its commas",
         ass({dialogue(one_to_two, two, "Hi, you,there")}),
         {{hello.start, hello.end, "Hi, you,there"}}},
        {"ass both break marks, by character",  // 表 95 5C and 能 94 5C before 'n'
         ass({dialogue(one_to_two, two, "a\\Nb\\nc\\\\N"),
              dialogue(one_to_two, two, "\xE8\xA1\xA8n\xE8\x83\xBD\\N")}),
         {{hello.start, hello.end, "a\nb\nc\\\n"},
          {hello.start, hello.end, "\x95\x5Cn\x94\x5C\n"}}},
        {"ass start at zero", ass({dialogue("0:00:00.00", two, "Z")}), {{0, hello.end, "Z"}}},
        {"ass centiseconds",
         ass({dialogue("00:00:01.5", "0:00:02.05", "C")}),
         {{ticks(0, 0, 1, 50), ticks(0, 0, 2, 50), "C"}}},
        {"ass time separators must lie inside the piece",
         "[Script Info]\n[Events]\nFormat: Start, Layer, End, Text\n"
         "Dialogue: aaaaaaaaa:,x:59.5,0:00:02.00,T\n",
         {}},
        {"ass other column orders",
         "[Script Info]\n[Events]\nFormat: Start, End, Text\n"
         "Dialogue: 0:00:01.00,0:00:02.50,Hello\n"
         "[Events]\nFormat: Text, End, Start\nDialogue: Hi,0:00:03.00,0:00:02.00\n",
         {hello, {ticks(0, 0, 2, 0), ticks(0, 0, 3, 0), "Hi"}}},
        {"ass dialogue before format, comments",
         "[Script Info]\r\n[Events]\r\n" + dialogue(one_to_two, two, "early") + "\r\n; note\r\n" +
             kFormat + "\r\nComment: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,no\r\n" +
             dialogue(one_to_two, two, "Hello") + "\r\n",
         {hello}},
        {"ass empty text", ass({dialogue(one_to_two, two, "")}), {{hello.start, hello.end, ""}}},
        {"ass character without shift_jis form",
         ass({dialogue(one_to_two, two, "caf\xC3\xA9")}),
         {{hello.start, hello.end, "caf&#xE9;"}}},
        {"ass 100 KB dialogue",
         ass({dialogue(one_to_two, two, huge), dialogue(two, two, "n")}),
         {{hello.start, hello.end, huge}, {hello.end, hello.end, "n"}}},
        {"ass nul bytes",
         ass({with_nuls("Dia\0logue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,He\0llo")}),
         {hello}},
        {"ass offset moves, clamps at 0 and drops entries that end by then",
         ass({dialogue(one_to_two, two, "Hello"), dialogue("0:00:00.00", "0:00:01.00", "gone"),
              dialogue("0:00:02.00", "0:00:03.00", "late")}),
         {{0, ticks(0, 0, 0, 500), "Hello"}, {0, ticks(0, 0, 1, 0), "late"}},
         -ticks(0, 0, 2, 0)},
        {"srt crlf",
         srt_block(1, srt_times, "Line one\r\nLine two") + srt_block(2, srt_times, "B"),
         {{hello.start, hello.end, "Line one\nLine two\n"}, {hello.start, hello.end, "B\n"}}},
        {"srt lf, last block without blank line nor line end",
         srt_block(1, srt_times, "A", "\n") + "2\n" + srt_times + "\nlast",
         {{hello.start, hello.end, "A\n"}, {hello.start, hello.end, "last\n"}}},
        {"srt start at zero takes the offset",
         srt_block(1, "00:00:00,000 --> 00:00:01,000", "Z"),
         {{ticks(0, 0, 1, 0), ticks(0, 0, 2, 0), "Z\n"}},
         ticks(0, 0, 1, 0)},
        {"srt block without text lines",
         "1\r\n" + srt_times + "\r\n\r\n" + srt_block(2, "00:00:03,000 --> 00:00:04,000", "C"),
         {{ticks(0, 0, 3, 0), ticks(0, 0, 4, 0), "C\n"}}},
        {"srt block without text lines, the next one numbered lower",
         srt_block(1, srt_times, "A") + "5\r\n" + srt_times + "\r\n\r\n" +
             srt_block(3, "00:00:03,000 --> 00:00:04,000", "C"),
         {{hello.start, hello.end, "A\n"}, {ticks(0, 0, 3, 0), ticks(0, 0, 4, 0), "C\n"}}},
        {"srt blank line before the text",
         "1\r\n" + srt_times + "\r\n\r\n12\r\nText\r\n\r\n",
         {{hello.start, hello.end, "12\nText\n"}}},
        {"srt bad index or time line drops the block",
         srt_block(1, srt_times, "A") + "x\r\n" + srt_times + "\r\nA\r\n\r\n" +
             "1\r\n00:00:01.000 --> x\r\nB\r\n\r\n" + srt_block(3, srt_times, "<i>C</i>"),
         {{hello.start, hello.end, "A\n"}, {hello.start, hello.end, "<i>C</i>\n"}}},
        {"srt nul bytes",  // after the first block, which the probe reads as it is
         srt_block(1, srt_times, "A") + with_nuls("2\n00:00:01,000 --> 00:00:02,5\0"
                                                  "00\nA\0B\n"),
         {{hello.start, hello.end, "A\n"}, {hello.start, hello.end, "AB\n"}}},
    };
    for (const ReaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        CaptionEncoderState state;
        state.time_offset = c.time_offset;
        const std::vector<Entry> entries = read_entries(c.content, state);
        ASSERT_EQ(entries.size(), c.entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].start, c.entries[i].start) << i;
            EXPECT_EQ(entries[i].end, c.entries[i].end) << i;
            EXPECT_TRUE(bytes_equal(c.entries[i].text, entries[i].text)) << i;
        }
    }
}

TEST(SubtitleEntries, PlayResolutionFromTheHeadOfTheScript)
{
    struct Case {
        std::string head;
        int32_t width;
        int32_t height;
    };
    const Case cases[] = {
        {"PlayResX: 1280\nPlayResY:720\n", 1280, 720},
        {"[V4+ Styles]\nPlayResX:  -5\nplayresy: 0\n", 620, 480},  // sizes below 1 are kept out
        {"[V4+ Styles]\nPLAYRESY: 4\nPlayResX: 99999999999\n", 0x7FFFFFFF, 4},
        {"PlayResX: wide\n", 620, 480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        CaptionEncoderState state;
        const std::string script = "[Script Info]\n" + c.head + "[Events]\n" + kFormat +
                                   "\nPlayResX: 100\n" + dialogue("0:00:01.00", "0:00:02.00", "x");
        EXPECT_EQ(read_entries(script, state).size(), 1u);
        EXPECT_EQ(state.display_width, c.width);
        EXPECT_EQ(state.display_height, c.height);
    }
}

TEST(SubtitleEntries, PatchTableMapsTimesBeforeTheOffset)
{
    CaptionEncoderState state;
    state.patch_table = {{0, 10, 0, ticks(0, 0, 10, 0), 0},
                         {600, 1800, 600, ticks(0, 30, 0, 0), ticks(0, 10, 0, 0)}};
    state.time_offset = 90000;
    const std::string content = srt_block(1, "00:00:05,000 --> 00:11:40,000", "A");
    const std::vector<Entry> entries = read_entries(content, state);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].start, ticks(0, 0, 16, 0));
    EXPECT_EQ(entries[0].end, ticks(0, 31, 41, 0));
}

TEST(SubtitleEntries, ClosedHandleReadsNothing)
{
    CaptionEncoderState state;
    SubtitleLineReader reader = open_line_reader(platform::kClosedHandle);
    EXPECT_FALSE(read_ass_entry(reader, state));
    EXPECT_FALSE(read_srt_entry(reader, state));
}

TEST(SubtitleClock, TicksWithMillisecondsCappedAt999)
{
    EXPECT_EQ(subtitle_time_to_ticks(1, 2, 3, 4), ticks(1, 2, 3, 4));
    EXPECT_EQ(subtitle_time_to_ticks(0, 0, 0, 5000), 999 * 90);
    EXPECT_EQ(subtitle_time_to_ticks(65535, 65535, 65535, 0),
              ((65535LL * 60 + 65535) * 60 + 65535) * 90000);
}

}  // namespace
}  // namespace qv
