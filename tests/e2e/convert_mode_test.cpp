// Convert mode end to end: subtitle files become caption TS whose captions our own display mode
// reads back with the same texts at the right times; the erasure between entries, the options
// and the patch time file; real caption texts through SubRip and back; a converted caption TS
// merged into a recording.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e/stream_fixture.h"
#include "platform/text.h"

namespace qv::test {
namespace {

constexpr uint16_t kConvertedPid = 0x0416;

/// One caption PES of a converted stream: its PTS and its data group (0 management, 1 statement).
struct CaptionPes {
    uint64_t pts = 0;
    int group = -1;
    bool operator==(const CaptionPes&) const = default;
};

std::vector<CaptionPes> caption_pes(const StreamBytes& bytes, uint16_t pid)
{
    std::vector<CaptionPes> list;
    for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
        const uint8_t* p = bytes.data() + at;
        if ((((p[1] & 0x1F) << 8) | p[2]) != pid || (p[1] & 0x40) == 0) {
            continue;
        }
        size_t start = ((p[3] >> 4) & 0x03) == 0x03 ? 5 + p[4] : 4;
        const uint8_t* pes = p + start;
        const uint8_t* t = pes + 9;
        CaptionPes item;
        item.pts = (uint64_t{static_cast<uint8_t>((t[0] >> 1) & 0x07)} << 30) |
                   (uint64_t{t[1]} << 22) | (uint64_t{static_cast<uint8_t>(t[2] >> 1)} << 15) |
                   (uint64_t{t[3]} << 7) | static_cast<uint8_t>(t[4] >> 1);
        item.group = pes[14 + 3] >> 2;  // after the PES header and the 3-byte PES data header
        list.push_back(item);
    }
    return list;
}

/// UTF-8 text written as u8"…" whatever the compiler's execution character set (subtitle files
/// are UTF-8, Windows builds' plain literals are CP932).
std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

/// Console text (native: UTF-8 on POSIX, CP932 on Windows) as UTF-8.
std::string native_to_utf8(const std::string& native)
{
    return platform::utf16_to_utf8(platform::native_to_utf16(native));
}

/// ASCII letters, digits and marks as the caption decoder shows them: full-width.
std::string full_width(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c > 0x20 && c < 0x7F) {
            const unsigned code = 0xFF01 + (c - 0x21);
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            out.push_back(line);
        }
        at = end + 1;
    }
    return out;
}

std::string srt_time(int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld,%03lld",
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

/// A SubRip file of `texts`, one a second from 1 s, each shown for `length_ms`.
std::string srt_of(const std::vector<std::string>& texts, int64_t length_ms = 900)
{
    std::string srt;
    for (size_t i = 0; i < texts.size(); ++i) {
        const int64_t start = 1000 + static_cast<int64_t>(i) * 1000;
        srt += std::to_string(i + 1) + "\r\n" + srt_time(start) + " --> " +
               srt_time(start + length_ms) + "\r\n" + texts[i] + "\r\n\r\n";
    }
    return srt;
}

class ConvertMode : public ScratchStreamTest {
protected:
    ConvertMode() : ScratchStreamTest("convert") {}

    std::string write_text(const std::string& name, const std::string& text)
    {
        std::ofstream(dir_ + name, std::ios::binary) << text;
        return dir_ + name;
    }
    /// Converts the subtitle file `name` (holding `text`) with `options`; the caption TS.
    StreamBytes convert(const std::string& name, const std::string& text,
                        const std::vector<std::string>& options = {}, ProgramRun* run = nullptr)
    {
        const std::string path = write_text(name, text);
        std::vector<std::string> arguments = {"-mode", "convert", "-cappath", dir_ + "cap.ts"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(path);
        const ProgramRun done = run_quilvaren(arguments);
        if (run != nullptr) {
            *run = done;
        }
        return file_bytes(dir_ + "cap.ts");
    }
    /// The caption texts display mode prints for `path`, as UTF-8.
    std::vector<std::string> shown(const std::string& path)
    {
        std::vector<std::string> texts = lines(run_quilvaren({"-noprogress", path}).out);
        for (std::string& text : texts) {
            text = native_to_utf8(text);
        }
        return texts;
    }
};

TEST_F(ConvertMode, SubRipAndAssTextsComeBackThroughTheDecoder)
{
    // Kanji, kana, half-width katakana, ASCII, a character Shift_JIS lacks, one outside the
    // BMP, and two-line texts; the decoder shows ASCII full-width and katakana full-width.
    const std::vector<std::string> texts = {utf8(u8"字幕のテスト"), utf8(u8"ｶﾀｶﾅ と abc"),
                                            utf8(u8"café 😀"), utf8(u8"一行目"),
                                            utf8(u8"二行目 ABC")};
    const std::vector<std::string> expected = {
        utf8(u8"字幕のテスト"), utf8(u8"カタカナ と ａｂｃ"),
        utf8(u8"ｃａｆ＆＃ｘＥ９； ＆＃ｘ１Ｆ６００；"), utf8(u8"一行目二行目 ＡＢＣ")};
    const std::string srt = srt_of({texts[0], texts[1], texts[2], texts[3] + "\r\n" + texts[4]});
    (void)convert("sub.srt", srt);
    EXPECT_EQ(shown(dir_ + "cap.ts"), expected);

    const std::string ass = utf8(
        u8"\uFEFF[Script Info]\nPlayResX: 1920\nPlayResY: 1080\n\n[Events]\n"
        u8"Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
        u8"Dialogue: 0,0:00:01.00,0:00:01.90,Default,,0,0,0,,字幕のテスト\n"
        u8"Dialogue: 0,0:00:02.00,0:00:02.90,Default,,0,0,0,,ｶﾀｶﾅ と abc\n"
        u8"Dialogue: 0,0:00:03.00,0:00:03.90,Default,,0,0,0,,café 😀\n"
        u8"Dialogue: 0,0:00:04.00,0:00:04.90,Default,,0,0,0,,一行目\\N二行目 ABC\n");
    (void)convert("sub.ass", ass);
    EXPECT_EQ(shown(dir_ + "cap.ts"), expected);
}

TEST_F(ConvertMode, EachEntryIsErasedBeforeTheNextBeginsWhetherTheyMeetOrOverlap)
{
    struct Case {
        const char* name;
        const char* second;         // time line of the second entry
        uint64_t second_start;      // its start in ticks
        uint64_t erasure_of_first;  // PTS of the first entry's erasure
        uint64_t second_end = 6 * 90000;
    };
    const Case cases[] = {
        {"apart", "00:00:05,000 --> 00:00:06,000", 5 * 90000, 4 * 90000},
        {"meeting", "00:00:04,000 --> 00:00:06,000", 4 * 90000, 4 * 90000 - 540},
        // The first runs to 4 s but the second starts at 3 s: its erasure goes before 3 s.
        {"overlapping", "00:00:03,000 --> 00:00:06,000", 3 * 90000, 3 * 90000 - 540},
        // Out of order, the second before the first began: the first keeps its erasure.
        {"earlier", "00:00:00,500 --> 00:00:00,800", 45000, 4 * 90000 - 540, 72000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string srt =
            utf8(u8"1\r\n00:00:01,000 --> 00:00:04,000\r\n一\r\n\r\n2\r\n") + c.second +
            utf8(u8"\r\n二\r\n\r\n");
        const std::vector<CaptionPes> expected = {
            {1, 0},      {1, 1},                   // management and erasure before the first
            {90000, 1},                            // the first
            {c.erasure_of_first, 0}, {c.erasure_of_first, 1},
            {c.second_start, 1},                   // the second
            {c.second_end, 0}, {c.second_end, 1},  // the last erasure at its end
        };
        EXPECT_EQ(caption_pes(convert("sub.srt", srt), kConvertedPid), expected);
    }
}

TEST_F(ConvertMode, AnErasureAtExactlyTheLeadGoesToZero)
{
    // The first entry ends at 6 ms (540 ticks) where the second begins: its erasure moves 540
    // ticks earlier, to 0.
    const std::string srt = utf8(u8"1\r\n00:00:00,000 --> 00:00:00,006\r\n一\r\n\r\n"
                                 u8"2\r\n00:00:00,006 --> 00:00:01,000\r\n二\r\n\r\n");
    const std::vector<CaptionPes> expected = {{0, 0},   {0, 1},     {0, 1}, {0, 0},
                                              {0, 1},   {540, 1},   {90000, 0}, {90000, 1}};
    EXPECT_EQ(caption_pes(convert("sub.srt", srt), kConvertedPid), expected);
}

TEST_F(ConvertMode, OptionsAndThePatchTimeFileMoveAndShapeTheCaptions)
{
    const std::string srt = srt_of({utf8(u8"一"), utf8(u8"二")});
    // -piddef: the PMT on 0x1F0 (announced in the PAT), the captions on 0x130.
    StreamBytes bytes = convert("sub.srt", srt, {"-piddef", "pmt:0x1F0,caption:0x130"});
    const std::vector<uint16_t> pids = packet_pids(bytes);
    EXPECT_GT(std::count(pids.begin(), pids.end(), 0x01F0), 0);
    EXPECT_EQ(std::count(pids.begin(), pids.end(), kConvertedPid), 0);
    EXPECT_EQ(caption_pes(bytes, 0x0130).size(), 8u);
    EXPECT_EQ(shown(dir_ + "cap.ts"), (std::vector<std::string>{utf8(u8"一"), utf8(u8"二")}));

    // A PID that would clash or make no sense is named and left out; the defaults stay.
    ProgramRun run;
    bytes = convert("sub.srt", srt, {"-piddef", "pmt:0x1FFF,caption:0x10"}, &run);
    EXPECT_NE(run.out.find("－ -piddefの指定を無視しました pmt:0x1FFF\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("－ -piddefの指定を無視しました caption:0x10\n"), std::string::npos);
    EXPECT_EQ(caption_pes(bytes, kConvertedPid).size(), 8u);

    // -capmergepatch 90000: every caption one second later.
    const std::vector<CaptionPes> plain = caption_pes(convert("sub.srt", srt), kConvertedPid);
    const std::vector<CaptionPes> later =
        caption_pes(convert("sub.srt", srt, {"-capmergepatch", "90000"}), kConvertedPid);
    ASSERT_EQ(plain.size(), later.size());
    for (size_t i = 2; i < plain.size(); ++i) {  // the first erasure stays at PTS 1
        EXPECT_EQ(later[i].pts, plain[i].pts + 90000) << i;
    }

    // A patch time file: subtitle time 0 lies at stream time 0:00:10.
    write_text("sub.patchtime.txt", "<><><><><>PATCHTIME;20240102200000:00010\r\n"
                                    "<><><><><>PATCHTIME;20240102201000:03000\r\n");
    const std::vector<CaptionPes> patched = caption_pes(convert("sub.srt", srt), kConvertedPid);
    ASSERT_EQ(patched.size(), plain.size());
    EXPECT_EQ(patched[2].pts, plain[2].pts + 10 * 90000);
}

TEST_F(ConvertMode, RealCaptionTextsComeBackThroughSubRip)
{
    for (const char* name : {"chibi_maruko_chan.tot.ts", "toriko_subs.nopcr.ts"}) {
        SCOPED_TRACE(name);
        const std::vector<std::string> texts = shown(testdata_dir() + "/arib-ts/" + name);
        ASSERT_FALSE(texts.empty());
        std::vector<std::string> expected;
        for (const std::string& text : texts) {
            expected.push_back(full_width(text));
        }
        (void)convert("real.srt", srt_of(texts));
        EXPECT_EQ(shown(dir_ + "cap.ts"), expected);
    }
}

TEST_F(ConvertMode, AConvertedCaptionStreamMergesIntoARecording)
{
    (void)convert("sub.srt", srt_of({utf8(u8"字幕の"), utf8(u8"追加")}));
    const std::string recording = write_source(file_bytes(source_dir() + "/samples/sample.ts"));
    (void)run_quilvaren({"-mode", "merge", "-noprogress", "-cappath", dir_ + "cap.ts",
                         "-mergepath", dir_ + "merged.ts", recording});
    EXPECT_EQ(shown(dir_ + "merged.ts"),
              (std::vector<std::string>{utf8(u8"字幕の"), utf8(u8"追加")}));
}

TEST_F(ConvertMode, FilesThatAreNoSubtitlesAndOutputsThatWouldDestroyTheirInputAreRefused)
{
    const std::string ts = write_source(file_bytes(source_dir() + "/samples/sample.ts"));
    for (const std::string& path :
         {ts, write_text("empty.srt", ""), write_text("bom.srt", "\xEF\xBB\xBF"),
          write_text("utf16.srt", std::string("\xFF\xFE" "1\0\r\0\n\0", 8)),
          write_text("text.srt", "hello\r\nworld\r\n"), std::string("CON")}) {
        const ProgramRun run = run_quilvaren({"-mode", "convert", path});
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_NE(run.out.find("－ 字幕ファイルが認識できません " + path + "\n"), std::string::npos)
            << run.out;
    }
    const std::string before = srt_of({utf8(u8"一")});
    const std::string srt = write_text("sub.srt", before);
    for (const std::string& output : {srt, dir_ + "sub.patchtime.txt"}) {
        write_text("sub.patchtime.txt", "<><><><><>PATCHTIME;20240102200000:00010\r\n");
        const ProgramRun run = run_quilvaren({"-mode", "convert", "-cappath", output, srt});
        EXPECT_NE(run.out.find("－ 出力ファイルが入力ファイルと同じです " + output + "\n"),
                  std::string::npos)
            << run.out;
    }
    EXPECT_EQ(file_bytes(srt), StreamBytes(before.begin(), before.end()));
}

TEST_F(ConvertMode, StandardOutputCarriesTheCaptionStreamAlone)
{
    const std::string srt = srt_of({utf8(u8"一"), utf8(u8"二")});
    const StreamBytes expected = convert("sub.srt", srt);
    const ProgramRun run = run_quilvaren({"-mode", "convert", "-cappath", "CON", dir_ + "sub.srt"});
    EXPECT_EQ(StreamBytes(run.out.begin(), run.out.end()), expected);
    EXPECT_NE(run.err.find("CONVERT : PID 0x0416 , PCR 0:00:01.000 , "), std::string::npos)
        << run.err;
}

}  // namespace
}  // namespace qv::test
