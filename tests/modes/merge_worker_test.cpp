// The hand-over of the two merge threads when one of them never runs or refuses: the other
// must neither wait for ever nor leave its partner waiting.
#include "modes/merge_worker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "base/console_output.h"
#include "platform/thread.h"
#include "support/merge_threads.h"
#include "support/run_program.h"
#include "support/stream_builder.h"
#include "support/test_data.h"

namespace qv {
namespace {

using test::StreamBytes;
using test::StreamWriter;

constexpr uint16_t kPmtPid = 0x01F0;
constexpr uint16_t kPcrPid = 0x01FF;
constexpr uint16_t kCaptionPid = 0x0130;
constexpr uint16_t kVideoPid = 0x0100;

/// A stream with its own captions: tables, then per tenth a PCR, a video PES and every second a
/// caption.
StreamBytes stream_with_captions(int tenths)
{
    StreamWriter writer;
    for (int k = 0; k < tenths; ++k) {
        const uint64_t pts = 900000 + static_cast<uint64_t>(k) * 9000;
        if (k % 10 == 0) {
            test::put_section(writer, 0x0000, test::pat_section(1, kPmtPid));
            test::put_section(writer, kPmtPid,
                              test::pmt_section(1, kPcrPid, kCaptionPid, kVideoPid));
            test::put_caption(writer, kCaptionPid, pts,
                              k % 20 == 0 ? StreamBytes{0x46, 0x7C} : StreamBytes{0x4B, 0x5C});
        }
        test::put_pcr(writer, kPcrPid, pts);
        test::put_pes(writer, kVideoPid, 0xE0, pts, std::nullopt, StreamBytes(20, 0x11));
    }
    return writer.bytes;
}

class MergeHandOver : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = test::make_scratch_directory("handover");
        ASSERT_TRUE(test::write_file_bytes(dir_ + "stream.ts", stream_with_captions(30)));
        config_.mode = RunMode::merge;
        config_.no_progress = true;
        args_.mode = RunMode::merge;
        args_.config = &config_;
        for (WorkerSlot& slot : args_.slots) {
            slot.shared = &args_.buffers[0];
            slot.lock_event = std::make_unique<platform::ManualResetEvent>(false);
        }
        args_.slots[0].source = dir_ + "stream.ts";
        args_.slots[0].output = dir_ + "merged.ts";
        args_.slots[1].source = dir_ + "stream.ts";
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    /// What run_pass does for a thread that could not start.
    void never_started(int32_t slot)
    {
        args_.slots[static_cast<size_t>(slot)].finished = true;
        for (WorkerSlot& each : args_.slots) {
            each.lock_event->set();
        }
    }

    std::string dir_;
    RunConfig config_;
    WorkerArgs args_;
};

TEST_F(MergeHandOver, AMainStreamWhosePartnerNeverRanIsCopiedWithoutItsCaptions)
{
    never_started(1);
    EXPECT_EQ(run_merge_main_worker(&args_), 1);
    const std::vector<uint16_t> pids = test::packet_pids(test::read_whole_file(dir_ + "merged.ts"));
    EXPECT_FALSE(pids.empty());
    EXPECT_EQ(std::count(pids.begin(), pids.end(), kCaptionPid), 0);
    EXPECT_TRUE(args_.slots[0].finished);
}

TEST_F(MergeHandOver, ACaptionStreamWhosePartnerNeverRanIsReadToItsEnd)
{
    never_started(0);
    EXPECT_EQ(run_merge_caption_worker(&args_), 1);
    EXPECT_EQ(args_.result_count.load(), 3);  // its three texts, nothing inserted
    EXPECT_TRUE(args_.buffers[1].data.empty());
    EXPECT_TRUE(args_.slots[1].finished);
}

TEST_F(MergeHandOver, ARefusingThreadStillReleasesItsPartner)
{
    // The caption thread refuses (no hand-over buffer): the main thread, already waiting for
    // its first item, goes on and copies the main stream.
    args_.slots[1].shared = nullptr;
    std::thread main([this] { (void)run_merge_main_worker(&args_); });
    EXPECT_EQ(run_merge_caption_worker(&args_), 0);
    main.join();
    EXPECT_TRUE(args_.slots[1].finished);
    EXPECT_TRUE(args_.slots[0].finished);
    EXPECT_FALSE(test::read_whole_file(dir_ + "merged.ts").empty());
}

TEST_F(MergeHandOver, BothThreadsTogetherPutTheCaptionsBack)
{
    std::thread main([this] { (void)run_merge_main_worker(&args_); });
    std::thread caption([this] { (void)run_merge_caption_worker(&args_); });
    main.join();
    caption.join();
    const std::vector<uint16_t> pids = test::packet_pids(test::read_whole_file(dir_ + "merged.ts"));
    // Three captions of two PES each (management data and statement), one packet apiece.
    EXPECT_EQ(std::count(pids.begin(), pids.end(), kCaptionPid), 6);
    EXPECT_EQ(args_.result_count.load(), 6 + 3);
}

struct EndingOrder {
    const char* name;
    int main_tenths;     ///< length of the main stream
    int caption_tenths;  ///< length of the caption stream
    bool main_refuses;   ///< the main thread has no hand-over buffer
    bool stop_midway;    ///< a stop request arrives while the paced caption stream is read
};

TEST_F(MergeHandOver, BothThreadsEndWhicheverStreamEndsFirstOrStops)
{
    const EndingOrder orders[] = {
        {"main stream ends first", 5, 40, false, false},
        {"caption stream ends first", 40, 5, false, false},
        {"main thread refuses", 30, 30, true, false},
        {"stop request midway", 40, 40, false, true},
    };
    for (const EndingOrder& order : orders) {
        SCOPED_TRACE(order.name);
        ASSERT_TRUE(
            test::write_file_bytes(dir_ + "main.ts", stream_with_captions(order.main_tenths)));
        ASSERT_TRUE(test::write_file_bytes(dir_ + "caption.ts",
                                           stream_with_captions(order.caption_tenths)));
        WorkerArgs args;
        args.mode = RunMode::merge;
        args.config = &config_;
        for (WorkerSlot& slot : args.slots) {
            slot.shared = &args.buffers[0];
            slot.lock_event = std::make_unique<platform::ManualResetEvent>(false);
        }
        args.slots[0].source = dir_ + "main.ts";
        args.slots[0].output = dir_ + "merged.ts";
        args.slots[1].source = dir_ + "caption.ts";
        args.slots[0].shared = order.main_refuses ? nullptr : args.slots[0].shared;
        args.slots[1].sync = order.stop_midway;  // paced: the stop finds it mid-stream
        std::thread stopper;
        if (order.stop_midway) {
            stopper = std::thread([] {
                platform::sleep_ms(100);
                stop_requested = 1;
            });
        }
        const bool ended = test::run_merge_workers_within(args, 20000);
        if (stopper.joinable()) {
            stopper.join();
        }
        stop_requested = 0;
        EXPECT_TRUE(ended);
        EXPECT_TRUE(args.slots[0].finished && args.slots[1].finished);
    }
}

}  // namespace
}  // namespace qv
