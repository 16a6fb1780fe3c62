// Merge mode end to end: round trips (extract, filter, merge) that give back every caption PES
// with its bytes and time, placement on the main stream's clock, the options for tables, and
// the cases where either stream ends first or an item has nowhere to go.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "e2e/stream_fixture.h"
#include "support/ffprobe.h"
#include "support/section_builders.h"
#include "e2e/generated_stream.h"

namespace qv::test {
namespace {

constexpr uint64_t kFirst = 900000;  // first PTS of the hand-built streams
constexpr uint64_t kClock33 = uint64_t{1} << 33;

/// Offset of the payload of a 188-byte packet, or 188 when it has none.
size_t payload_offset(const uint8_t* packet)
{
    const int control = (packet[3] >> 4) & 0x03;
    if ((control & 0x01) == 0) {
        return 188;
    }
    return control == 0x03 ? std::min<size_t>(5 + packet[4], 188) : 4;
}

/// The PES of `pid` in `bytes`, each from its 00 00 01 to the end of PES_packet_length.
std::vector<StreamBytes> pes_list(const StreamBytes& bytes, uint16_t pid)
{
    std::vector<StreamBytes> list;
    for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
        const uint8_t* packet = bytes.data() + at;
        if ((((packet[1] & 0x1F) << 8) | packet[2]) != pid) {
            continue;
        }
        const size_t start = payload_offset(packet);
        if ((packet[1] & 0x40) != 0) {
            list.emplace_back();
        }
        if (!list.empty()) {
            list.back().insert(list.back().end(), packet + start, packet + 188);
        }
    }
    for (StreamBytes& pes : list) {
        if (pes.size() >= 6) {
            pes.resize(std::min<size_t>(pes.size(), 6 + ((pes[4] << 8) | pes[5])));
        }
    }
    return list;
}

uint64_t pes_pts(const StreamBytes& pes)
{
    const uint8_t* p = pes.data() + 9;
    const auto bits = [](int value) { return static_cast<uint64_t>(value); };
    return (bits((p[0] >> 1) & 0x07) << 30) | (bits(p[1]) << 22) | (bits(p[2] >> 1) << 15) |
           (bits(p[3]) << 7) | bits(p[4] >> 1);
}

/// The packets of `bytes` whose PID is not `pid`.
StreamBytes without_pid(const StreamBytes& bytes, uint16_t pid)
{
    return keep_packets(bytes, [pid](size_t, uint16_t each) { return each != pid; });
}

/// Index of the first packet of `pid` in `bytes`, or SIZE_MAX.
size_t first_packet_of(const StreamBytes& bytes, uint16_t pid)
{
    const std::vector<uint16_t> pids = packet_pids(bytes);
    const auto found = std::find(pids.begin(), pids.end(), pid);
    return found == pids.end() ? SIZE_MAX : static_cast<size_t>(found - pids.begin());
}

/// A main stream: tables, then every 100 ms a PCR and a video PES on 0x100 with PTS kFirst + k
/// × 9000 (modulo 2^33) for `tenths` tenths of a second; optionally an SDT each second.
StreamBytes main_stream(int tenths, uint64_t first = kFirst, bool sdt = false)
{
    StreamWriter writer;
    for (int k = 0; k < tenths; ++k) {
        if (k % 10 == 0) {
            put_program(writer);
            if (sdt) {
                put_section(writer, 0x0011, sdt_section(0x0400, {0x46, 0x7C}, {0x4B, 0x5C}));
            }
        }
        const uint64_t pts = (first + static_cast<uint64_t>(k) * 9000) % kClock33;
        put_pcr(writer, kPcrPid, pts);
        put_pes(writer, kVideoPid, 0xE0, pts, std::nullopt, StreamBytes(20, 0x11));
    }
    return writer.bytes;
}

/// A caption stream as extract leaves it: tables, the first PTS packet of the recording, then a
/// caption at each of `seconds` (after the first PTS) with alternating texts.
StreamBytes caption_stream(const std::vector<double>& seconds, bool with_sdt = false)
{
    StreamWriter writer;
    put_program(writer);
    put_pes(writer, kVideoPid, 0xE0, kFirst, std::nullopt, StreamBytes(20, 0x11));
    int n = 0;
    for (const double s : seconds) {
        if (with_sdt) {
            put_section(writer, 0x0011, sdt_section(0x0400, {0x46, 0x7C}, {0x4B, 0x5C}));
        }
        put_caption(writer, kCaptionPid,
                    static_cast<uint64_t>(static_cast<int64_t>(kFirst) + static_cast<int64_t>(s * 90000)),
                    n++ % 2 == 0 ? kNihon : kHonjitsu);
    }
    return writer.bytes;
}

class MergeMode : public ScratchStreamTest {
protected:
    MergeMode() : ScratchStreamTest("merge") {}

    /// Merges `caption` into `main` (written as files) with extra options; the merged bytes.
    StreamBytes merge(const StreamBytes& main, const StreamBytes& caption,
                      const std::vector<std::string>& options = {}, ProgramRun* run = nullptr)
    {
        const std::string main_path = write_source(main, "main.ts");
        const std::string caption_path = write_source(caption, "cap.ts");
        std::vector<std::string> arguments = {"-mode", "merge", "-noprogress", "-cappath",
                                              caption_path, "-mergepath", dir_ + "merged.ts"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(main_path);
        const ProgramRun done = run_quilvaren(arguments);
        if (run != nullptr) {
            *run = done;
        }
        return file_bytes(dir_ + "merged.ts");
    }

    /// extract, filter and merge of `source`: the merged stream and the merge run.
    StreamBytes round_trip(const StreamBytes& source, ProgramRun& run)
    {
        const std::string path = write_source(source, "rec.ts");
        (void)run_quilvaren({"-mode", "extract", "-noprogress", path});
        (void)run_quilvaren({"-mode", "filter", "-noprogress", path});
        run = run_quilvaren({"-mode", "merge", "-noprogress", "-cappath",
                             dir_ + "rec.quilvaren.ts", "-mergepath", dir_ + "merged.ts",
                             dir_ + "rec.quilvarenFilter.ts"});
        return file_bytes(dir_ + "merged.ts");
    }

    std::string display(const std::string& path, const std::string& option = "-noprogress")
    {
        return run_quilvaren({option, path}).out;
    }
};

TEST_F(MergeMode, RoundTripsGiveBackEveryCaptionPesWithItsBytesAndTime)
{
    test_stream::StreamOptions twenty;
    twenty.duration_ms = 20000;
    const StreamBytes generated = generated_stream(twenty);
    // Cut where a video PES starts a few seconds in: the audio and captions after it carry
    // earlier PTS values, which move a clock's origin back (the merged items must not follow).
    const std::vector<uint16_t> pids = packet_pids(generated);
    size_t cut = 0;
    for (size_t i = pids.size() / 5; i < pids.size(); ++i) {
        if (pids[i] == 0x0111 && (generated[i * 188 + 1] & 0x40) != 0) {
            cut = i;
            break;
        }
    }
    ASSERT_NE(cut, 0u);
    const StreamBytes at_picture(generated.begin() + static_cast<std::ptrdiff_t>(cut * 188),
                                 generated.end());
    struct Case {
        const char* name;
        StreamBytes source;
    };
    const Case cases[] = {{"sample", file_bytes(source_dir() + "/samples/sample.ts")},
                          {"generated 20 s", generated},
                          {"cut at a picture", at_picture}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run;
        const StreamBytes merged = round_trip(c.source, run);
        const std::vector<StreamBytes> original = pes_list(c.source, kCaptionPid);
        ASSERT_FALSE(original.empty());
        EXPECT_EQ(pes_list(merged, kCaptionPid), original);
        // Everything else comes back unchanged, the rebuilt PMT included.
        EXPECT_EQ(without_pid(merged, kCaptionPid), without_pid(c.source, kCaptionPid));
        const std::string shown = display(dir_ + "merged.ts");
        EXPECT_EQ(shown, display(dir_ + "rec.ts"));
        // The merge counts what it inserted and the texts it printed.
        EXPECT_EQ(run.exit_code, expected_exit_status(static_cast<long long>(original.size()) +
                                                      static_cast<long long>(
                                                          std::count(shown.begin(), shown.end(), '\n') - 1)))
            << run.out;
        EXPECT_EQ(display(dir_ + "merged.ts", "-drop").find(" Drops "), std::string::npos);
    }
}

TEST_F(MergeMode, RealCaptionStreamsMergedBackShowWhatTheOriginalsShow)
{
    for (const char* name : {"chibi_maruko_chan.tot.ts", "aijin.ts192-padff.ts",
                             "pokemon-2023.wrap.ts", "toriko_subs.nopcr.ts",
                             "libaribcaption_drcs_1.ts"}) {
        SCOPED_TRACE(name);
        const std::string original = testdata_dir() + "/arib-ts/" + name;
        const std::string caption = dir_ + "cap.ts";
        (void)run_quilvaren({"-mode", "extract", "-noprogress", "-cappath", caption, original});
        (void)run_quilvaren({"-mode", "merge", "-noprogress", "-cappath", caption, "-mergepath",
                             dir_ + "merged.ts", original});
        const std::string shown = display(dir_ + "merged.ts");
        EXPECT_FALSE(shown.empty());
        EXPECT_EQ(shown, display(original));
        // Merged back into the recording they came from, the items get their own times again:
        // every caption PES comes back byte for byte.
        EXPECT_EQ(pes_list(file_bytes(dir_ + "merged.ts"), kCaptionPid),
                  pes_list(file_bytes(caption), kCaptionPid));
    }
}

TEST_F(MergeMode, EveryPmtPidOfSeveralProgramsContinuesWithoutDrops)
{
    test_stream::StreamOptions three;
    three.programs = 3;
    three.duration_ms = 4000;
    ProgramRun run;
    const StreamBytes merged = round_trip(generated_stream(three), run);
    ASSERT_FALSE(merged.empty());
    // through counts the packets with a drop: none on any PID, the three PMT PIDs included.
    EXPECT_EQ(run_quilvaren({"-mode", "through", "-noprogress", "-throughpath", dir_ + "copy.ts",
                             dir_ + "merged.ts"})
                  .exit_code,
              0);
}

TEST_F(MergeMode, AnItemLandsWhereTheMainClockPassesItsTime)
{
    struct Case {
        const char* name;
        double seconds;     // the item's time after the first PTS
        int64_t patch;      // -capmergepatch
        uint64_t first;     // the main stream's first PTS
        int next_tenth;     // the video PES right after the item (at exactly 10 s the main
                            // clock has not passed it)
    };
    const Case cases[] = {
        {"10 s", 10.0, 0, kFirst, 101},
        {"10 s, one second later", 10.0, 90000, kFirst, 101},
        // The main clock wraps 5 s in: the item goes in at its time after the wrap.
        {"10 s across a wrap", 10.0, 0, kClock33 - 5 * 90000, 101},
        // A caption for just before the first picture: it keeps its place in time (a PTS below
        // the main stream's first) and goes in before that picture.
        {"before the first picture", -0.05, 0, kFirst, 0},
        // Further back than a second (captions that trail the pictures): still before it, not
        // taken for a time a whole wrap of the clock later, which would hold back every item.
        {"1.5 s before the first picture", -1.5, 0, kFirst, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StreamBytes main = main_stream(150, c.first);
        std::vector<std::string> options;
        if (c.patch != 0) {
            options = {"-capmergepatch", std::to_string(c.patch)};
        }
        const StreamBytes merged = merge(main, caption_stream({c.seconds}), options);
        const std::vector<uint16_t> pids = packet_pids(merged);
        const size_t at = first_packet_of(merged, kCaptionPid);
        ASSERT_NE(at, SIZE_MAX);
        size_t next = at;
        while (next < pids.size() && pids[next] == kCaptionPid) {
            ++next;
        }
        ASSERT_LT(next + 1, pids.size());
        const StreamBytes after(merged.begin() + static_cast<std::ptrdiff_t>(next * 188),
                                merged.end());
        const std::vector<StreamBytes> video = pes_list(after, kVideoPid);
        ASSERT_FALSE(video.empty());
        EXPECT_EQ(pes_pts(video.front()),
                  (c.first + static_cast<uint64_t>(c.next_tenth) * 9000) % kClock33);
        // A caption is two items: its management data and its statement, both at its time.
        const std::vector<StreamBytes> items = pes_list(merged, kCaptionPid);
        ASSERT_EQ(items.size(), 2u);
        for (const StreamBytes& item : items) {
            const int64_t ticks = static_cast<int64_t>(c.seconds * 90000) + c.patch;
            EXPECT_EQ(pes_pts(item), (c.first + static_cast<uint64_t>(ticks)) % kClock33);
        }
        // The main stream is otherwise untouched.
        EXPECT_EQ(without_pid(merged, kCaptionPid), main);
    }
}

TEST_F(MergeMode, ItemsThatAreLateOrOutliveTheMainStream)
{
    // Each caption is two items (management data, then the statement with the text).
    struct Case {
        const char* name;
        std::vector<double> captions;  // seconds after the first PTS
        int main_tenths;
        size_t inserted;  // items
    };
    const Case cases[] = {
        // The caption of 1 s is older than the main clock: it goes in at once, and the one of
        // 6 s still finds its place (a held-back item would block every later one).
        {"late item", {3.0, 1.0, 6.0}, 100, 6},
        // The main stream ends at 5 s: the item held then (the management data of 8 s) goes
        // in at the end; the rest of the caption stream is read but not merged.
        {"main ends first", {2.0, 8.0, 9.0}, 50, 3},
        {"caption stream ends first", {1.0, 2.0}, 100, 4},
        {"no items", {}, 30, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StreamBytes main = main_stream(c.main_tenths);
        ProgramRun run;
        const StreamBytes merged = merge(main, caption_stream(c.captions), {"-detail"}, &run);
        EXPECT_EQ(pes_list(merged, kCaptionPid).size(), c.inserted);
        EXPECT_EQ(without_pid(merged, kCaptionPid), main);
        // One caption line per handed-over item, never repeated once the main stream ended.
        size_t lines = 0;
        const std::string line = "－ CAPTION PTS ";
        for (size_t at = run.out.find(line); at != std::string::npos;
             at = run.out.find(line, at + 1)) {
            ++lines;
        }
        EXPECT_EQ(lines, 2 * c.captions.size()) << run.out;
        // Every caption changes the text (they alternate): one printed text each.
        EXPECT_EQ(run.exit_code, static_cast<int>(c.inserted + c.captions.size())) << run.out;
    }
}

TEST_F(MergeMode, APmtOverTwoPacketsIsReplacedWholeAndItsCountersRunOn)
{
    // No packet of the main stream's PMT is copied while the caption stream's entry is known:
    // a copied first packet followed by the rebuilt section would break both.
    Bytes loop;
    for (uint16_t pid = 0x0200; pid < 0x0228; ++pid) {
        const Bytes entry = es_entry(0x0F, pid);
        loop.insert(loop.end(), entry.begin(), entry.end());
    }
    const Bytes caption = es_entry(0x06, kCaptionPid, stream_identifier(0x30));
    loop.insert(loop.end(), caption.begin(), caption.end());
    const Bytes section = test::pmt_section(1, kPcrPid, loop);
    StreamWriter writer;
    uint8_t counter = 9;
    for (int k = 0; k < 30; ++k) {
        if (k % 10 == 0) {
            put_section(writer, 0x0000, pat_section(1, kPmtPid));
            for (const Bytes& packet : section_packets(section, kPmtPid, counter)) {
                writer.bytes.insert(writer.bytes.end(), packet.begin(), packet.end());
            }
        }
        const uint64_t pts = kFirst + static_cast<uint64_t>(k) * 9000;
        put_pcr(writer, kPcrPid, pts);
        put_pes(writer, kVideoPid, 0xE0, pts, std::nullopt, StreamBytes(20, 0x11));
    }
    const StreamBytes merged = merge(writer.bytes, caption_stream({1.0}));
    const std::vector<uint16_t> pids = packet_pids(merged);
    EXPECT_EQ(std::count(pids.begin(), pids.end(), kPmtPid), 6);  // three PMTs of two packets
    // through counts packets with a drop: the rebuilt PMT packets continue one another.
    EXPECT_EQ(run_quilvaren({"-mode", "through", "-noprogress", "-throughpath", dir_ + "copy.ts",
                             dir_ + "merged.ts"})
                  .exit_code,
              0);
    // And the PMT still announces the caption stream: extract finds the inserted captions.
    EXPECT_GT(run_quilvaren({"-mode", "extract", "-noprogress", "-cappath", dir_ + "again.ts",
                             dir_ + "merged.ts"})
                  .exit_code,
              0);
}

TEST_F(MergeMode, FfprobeReadsTheMergedProgramWithItsSubtitles)
{
    std::string unavailable;
    if (!ffprobe_available(unavailable)) {
        GTEST_SKIP() << unavailable;
    }
    ProgramRun run;
    (void)round_trip(file_bytes(source_dir() + "/samples/sample.ts"), run);
    std::string probed;
    ASSERT_TRUE(run_ffprobe("stream=id,codec_type", "csv", dir_ + "merged.ts", probed)) << probed;
    EXPECT_NE(probed.find("subtitle"), std::string::npos) << probed;
    EXPECT_EQ(probed.find("CRC"), std::string::npos) << probed;
}

TEST_F(MergeMode, TablesOfTheCaptionStreamJoinOnlyWhereTheMainStreamHasNone)
{
    for (const bool main_has_sdt : {false, true}) {
        SCOPED_TRACE(main_has_sdt);
        const StreamBytes main = main_stream(60, kFirst, main_has_sdt);
        const StreamBytes merged = merge(main, caption_stream({1.0, 2.0}, true), {"-sdt"});
        const size_t main_sdt = pes_list(main, 0x0011).size();
        const auto sdt_packets = [](const StreamBytes& bytes) {
            const std::vector<uint16_t> pids = packet_pids(bytes);
            return std::count(pids.begin(), pids.end(), 0x0011);
        };
        (void)main_sdt;
        EXPECT_EQ(sdt_packets(merged), sdt_packets(main) + (main_has_sdt ? 0 : 2));
    }
}

TEST_F(MergeMode, AnItemOnAPidTheMainStreamUsesIsRefusedOnce)
{
    // Captions on the main stream's video PID would corrupt it.
    StreamWriter writer;
    put_section(writer, 0x0000, pat_section(1, kPmtPid));
    put_section(writer, kPmtPid, pmt_section(1, kPcrPid, kVideoPid, 0x0101));
    put_pes(writer, 0x0101, 0xE0, kFirst, std::nullopt, StreamBytes(20, 0x11));
    put_caption(writer, kVideoPid, kFirst + 90000, kNihon);
    put_caption(writer, kVideoPid, kFirst + 180000, kHonjitsu);
    const StreamBytes main = main_stream(50);
    ProgramRun run;
    const StreamBytes merged = merge(main, writer.bytes, {}, &run);
    const std::string message = "－ 字幕TSのPID 0x0100は本体TSで使用中のため挿入しません\n";
    const size_t at = run.out.find(message);
    EXPECT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(message, at + 1), std::string::npos);
    EXPECT_EQ(without_pid(merged, kPmtPid), without_pid(main, kPmtPid));
}

TEST_F(MergeMode, AMainStreamWithoutAPmtIsNamedAsTheReasonNothingWasMerged)
{
    const std::string message = "－ 本体TSにPMTがないため字幕を挿入できません\n";
    const StreamBytes captions = caption_stream({1.0, 2.0});
    ProgramRun run;
    (void)merge(without_pid(without_pid(main_stream(50), 0x0000), kPmtPid), captions, {}, &run);
    EXPECT_NE(run.out.find(message), std::string::npos) << run.out;
    (void)merge(main_stream(50), captions, {}, &run);
    EXPECT_EQ(run.out.find(message), std::string::npos) << run.out;
}

TEST_F(MergeMode, ACaptionStreamThatAnnouncesNoCaptionsLeavesThePmtAsItIs)
{
    // Its PMT lists video alone: nothing replaces the main stream's entries, so the main
    // stream's PMT passes unchanged; only the main stream's own caption packets leave.
    StreamWriter caption;
    put_section(caption, 0x0000, pat_section(1, kPmtPid));
    put_section(caption, kPmtPid,
                test::pmt_section(1, kPcrPid, es_entry(0x02, 0x0101, stream_identifier(0x00))));
    put_pes(caption, 0x0101, 0xE0, kFirst, std::nullopt, StreamBytes(20, 0x11));
    StreamWriter main;
    put_program(main);
    put_pcr(main, kPcrPid, kFirst);
    put_pes(main, kVideoPid, 0xE0, kFirst, std::nullopt, StreamBytes(20, 0x11));
    put_caption(main, kCaptionPid, kFirst, kNihon);
    put_program(main);
    const StreamBytes merged = merge(main.bytes, caption.bytes);
    EXPECT_EQ(merged, without_pid(main.bytes, kCaptionPid));
}

TEST_F(MergeMode, StandardOutputCarriesTheMergedStreamAlone)
{
    const StreamBytes main = main_stream(40);
    const StreamBytes expected = merge(main, caption_stream({1.0, 2.0}));
    const ProgramRun run =
        run_quilvaren({"-mode", "merge", "-detail", "-cappath", dir_ + "cap.ts", "-mergepath",
                       "CON", dir_ + "main.ts"});
    EXPECT_EQ(StreamBytes(run.out.begin(), run.out.end()), expected);
    EXPECT_NE(run.err.find("－ CAPTION PTS "), std::string::npos) << run.err;
}

TEST_F(MergeMode, TwoMergesAtOnceInTwoProcessesDoNotMeet)
{
    // The hand-over events are the process's own: two runs never signal each other.
    const StreamBytes main = main_stream(80);
    const StreamBytes expected = merge(main, caption_stream({1.0, 3.0, 5.0}));
    ProgramRun first;
    ProgramRun second;
    const auto run = [this](ProgramRun& done, const std::string& out) {
        done = run_quilvaren({"-mode", "merge", "-noprogress", "-cappath", dir_ + "cap.ts",
                              "-mergepath", dir_ + out, dir_ + "main.ts"});
    };
    std::thread a(run, std::ref(first), "a.ts");
    std::thread b(run, std::ref(second), "b.ts");
    a.join();
    b.join();
    EXPECT_EQ(first.exit_code, second.exit_code);
    EXPECT_EQ(file_bytes(dir_ + "a.ts"), expected);
    EXPECT_EQ(file_bytes(dir_ + "b.ts"), expected);
}

}  // namespace
}  // namespace qv::test
