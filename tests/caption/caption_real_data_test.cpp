// Real caption data cut from Japanese broadcasts: runs of caption PES payloads, wrapped here into
// PES packets with PTS and TS packets behind a PAT and a PMT that announce one caption PID, and
// transport streams made from some of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "caption/caption_pes.h"
#include "support/caption_builders.h"
#include "support/test_data.h"
#include "ts/pat_pmt.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

using test::Bytes;
using test::CaptionFeed;

constexpr uint16_t kCaptionPid = 0x0130;
constexpr uint16_t kPmtPid = 0x01F0;

std::string es_path(const std::string& name)
{
    return test::testdata_dir() + "/arib-es/" + name;
}

/// The decoded texts of a run of PES payloads, in UTF-8, as a worker reports them.
std::vector<std::string> decode_payloads(const std::vector<Bytes>& payloads)
{
    auto feed = CaptionFeed::announced(kCaptionPid, kPmtPid);
    EXPECT_NE(feed->entry, nullptr);
    if (feed->entry == nullptr) {
        return {};
    }
    for (const Bytes& payload : payloads) {
        test::feed_payload(*feed, payload);
    }
    std::vector<std::string> texts;
    for (const std::string& text : feed->texts) {
        texts.push_back(test::sjis_to_utf8(text));
    }
    return texts;
}

struct RealFile {
    const char* name;
    size_t statement_groups;  // statement data groups of the Japanese language in the file
    /// Whole decoded statements (UTF-8, whatever the compiler's execution character set) that
    /// must be among the texts.
    std::vector<const char8_t*> statements;
};

// Statements that show kanji, kana, full-width alphanumerics, additional symbols ("&#x…;") and
// DRCS escapes ("[MF_DRCS_…]"); ruby is written into the text where it stands in the stream.
const std::vector<RealFile> kFiles = {
    {"ace_of_diamond_subs_pid276.es",
     355,
     {u8"ちかよ[MF_DRCS_1;0x21]つうか 近寄れねぇ…。",
      u8"れんしゅうじあい練習試合でもけっかのこつづ結果を残し続ける&#xe285;"}},
    {"aibou.es",
     1596,
     {u8"せっかく公式チャンネルまで開設して→", u8"２人はデキてるって噂？",
      u8"[MF_DRCS_1;0x21]（梶原）ただいま。"}},
    {"aijin.es",
     387,
     {u8"あじん亜人の佐藤だ。&#xe285;", u8"ゼロゼロサン００３番 永井圭。",
      u8"[MF_DRCS_2;0x42] やあ またまた会ったね。佐藤だ。"}},
    {"chibi_maruko_chan.es",
     415,
     {u8"もう１０時すぎよ。いいかげん 起きなさい！", u8"ジャーン。",
      u8"[MF_DRCS_1;0x21]（男性）んな アホな。"}},
    {"chibi_maruko_chan_11May2014.es",
     394,
     {u8"こ（まる子）今日も さくら ももこデビュー３０周年記念 原作まつりだよ。",
      u8"こすぎおれ（小杉）《俺は今日の体力テストに向けて&#xe285;"}},
    {"detective_conan_846.es",
     385,
     {u8"＜たった１つの真実 見抜く見た目は子供 頭脳は大人＞",
      u8"[MF_DRCS_1;0x21]待て 灰原。ん…。"}},
    {"dragonball-61.es",
     257,
     {u8"＜果たして未来は 変わったのか？＞", u8"（ザマス・ブラック）この２人だけだ！"}},
    {"gaki_defence_force.es",
     4088,
     {u8"まつもとさぁ 松本さん。", u8"&#xe2fa;あっ 来た&#xe2f9;",
      u8"「ＨＡＰＰＹコンベアーバトル&#x203c;」。",
      u8"[MF_DRCS_1;0x21] レスラーによるヘッドバット執行。"}},
    {"one_piss.es",
     335,
     {u8"ディーモンキー・Ｄ・ルフィといどその仲間たちが挑む！＞",
      u8"[MF_DRCS_1;0x21]（ギャッツ）私も好きだー！この男！ ギャハハ！"}},
    {"pokemon-2023.es",
     718,
     {u8"わたしきおく私の記憶とペンダント。", u8"いよいよあおばあちゃんに会うため[MF_DRCS_1;0x21]",
      u8"（ニャオハ）ニャオ？（ロイ）リコ！"}},
    {"samurai_flamenco_13.es",
     403,
     {u8"こくみんえいゆう（記者）羽佐間さん 国民英雄賞第１号に輝いた 感想を一言！",
      u8"[MF_DRCS_1;0x21]（通知音）うわ！"}},
    {"sangatsu-no-lion-4.es",
     370,
     {u8"呼んでよかったー。４ｋｇも買っちゃったから…。", u8"おっ　おばさん&#x2049;",
      u8"ねーねー　ボドローッッもっと折ってー[MF_DRCS_1;0x21]"}},
    {"toriko_subs.es",
     324,
     {u8"＜世はグルメ時代＞", u8"びしょくかいアイジーオー美食會とＩＧＯを敵に回すだけはある。"}},
};

TEST(CaptionRealData, EveryFileDecodesItsDistinctiveStatements)
{
    for (const RealFile& file : kFiles) {
        SCOPED_TRACE(file.name);
        const Bytes run = test::read_whole_file(es_path(file.name));
        ASSERT_FALSE(run.empty());
        const std::vector<Bytes> payloads = test::split_pes_payloads(run);
        size_t used = 0;
        for (const Bytes& payload : payloads) {
            used += payload.size();
        }
        ASSERT_EQ(used, run.size());  // the whole file is PES payloads laid end to end

        const std::vector<std::string> texts = decode_payloads(payloads);
        // At most one changed text per statement group; repeats and empty bodies cost a few.
        EXPECT_LE(texts.size(), file.statement_groups);
        EXPECT_GE(texts.size(), file.statement_groups * 3 / 4);
        for (const char8_t* statement : file.statements) {
            const std::string utf8(reinterpret_cast<const char*>(statement));
            EXPECT_NE(std::find(texts.begin(), texts.end(), utf8), texts.end()) << utf8;
        }
    }
}

TEST(CaptionRealData, AFileOfBareClearScreensPrintsNothing)
{
    // Every statement of this file, in both languages, is a lone CS: decoded, it is empty and
    // is never stored, so no text is reported.
    const Bytes run = test::read_whole_file(es_path("maho_koukou.es"));
    ASSERT_FALSE(run.empty());
    EXPECT_TRUE(decode_payloads(test::split_pes_payloads(run)).empty());
}

TEST(CaptionRealData, SingleStatementSamplesDecodeOnceAManagementGroupChoseThem)
{
    const std::string dir = test::testdata_dir() + "/caption-pes/";
    const Bytes management = test::pes_data(test::data_group(0x00, test::management_data({"jpn"})));
    const Bytes sample = test::read_whole_file(dir + "libaribcaption_sample_data_1.es");
    ASSERT_FALSE(sample.empty());
    // CS, SWF and layout codes, macro 0x61 by SS3, then the additional symbol 7D/7A (U+266C)
    // and JIS 0x2141 (Shift_JIS 0x8160)
    auto feed = CaptionFeed::announced(kCaptionPid, kPmtPid);
    ASSERT_NE(feed->entry, nullptr);
    test::feed_payload(*feed, sample);
    EXPECT_TRUE(feed->texts.empty());  // no management data yet
    test::feed_payload(*feed, management);
    test::feed_payload(*feed, sample);
    ASSERT_EQ(feed->texts.size(), 1u);
    EXPECT_TRUE(test::same_bytes(feed->texts[0], "&#x266c;\x81\x60"));

    const Bytes drcs = test::read_whole_file(dir + "libaribcaption_sample_data_drcs_1.es");
    ASSERT_FALSE(drcs.empty());
    test::feed_payload(*feed, drcs);
    ASSERT_EQ(feed->texts.size(), 2u);
    EXPECT_NE(feed->texts[1].find("[MF_DRCS_1;0x21]"), std::string::npos);
}

/// Runs a transport stream through the steps of a display worker for its caption PID: PAT, PMT,
/// then every caption packet. 192-byte units lose their 4-byte prefix.
std::vector<std::string> decode_stream(const std::string& name, size_t unit)
{
    const Bytes stream = test::read_whole_file(test::testdata_dir() + "/arib-ts/" + name);
    EXPECT_FALSE(stream.empty());
    StreamContext context;
    std::vector<std::string> texts;
    for (size_t at = 0; at + unit <= stream.size(); at += unit) {
        const uint8_t* packet = stream.data() + at + (unit - 188);
        PidState* state = parse_packet(context, packet);
        if (state == nullptr) {
            continue;
        }
        (void)check_continuity(context, *state);
        update_stream_clocks(context, *state);
        const uint16_t pid = state->pid;
        if (pid == 0) {
            (void)parse_pat(context, *state, packet);
        } else if (ProgramEntry* program = find_program_by_pmt_pid(context, pid)) {
            (void)parse_pmt(context, *program, *state, packet);
        } else if (CaptionEntry* entry = find_caption_entry(context, pid)) {
            (void)parse_caption_pes(*entry, context, *state, packet);
            if (!entry->text_state.text.empty() && entry->text_state.text_changed) {
                texts.push_back(test::sjis_to_utf8(entry->text_state.text));
                entry->text_state.text_changed = false;
            }
        }
    }
    return texts;
}

TEST(CaptionRealData, TransportStreamsGiveTheSameTextsAsTheirPayloads)
{
    struct Stream {
        const char* ts;
        size_t unit;
        const char* es;
        size_t payload_limit;
    };
    const Stream streams[] = {
        {"chibi_maruko_chan.tot.ts", 188, "chibi_maruko_chan.es", 0},
        {"aijin.ts192-padff.ts", 192, "aijin.es", 0},            // 0xFF fill behind each PES
        {"pokemon-2023.wrap.ts", 188, "pokemon-2023.es", 1500},  // PTS wraps at 2^33
    };
    for (const Stream& stream : streams) {
        SCOPED_TRACE(stream.ts);
        std::vector<Bytes> payloads =
            test::split_pes_payloads(test::read_whole_file(es_path(stream.es)));
        if (stream.payload_limit != 0 && payloads.size() > stream.payload_limit) {
            payloads.resize(stream.payload_limit);
        }
        const std::vector<std::string> expected = decode_payloads(payloads);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(decode_stream(stream.ts, stream.unit), expected);
    }
}

}  // namespace
}  // namespace qv
