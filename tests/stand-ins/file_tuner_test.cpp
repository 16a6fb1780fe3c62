// The file tuner library as a program sees it: loaded by path, its channel list beside it, its
// driver object driven through the program's own declaration of the interfaces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/library.h"
#include "platform/thread.h"
#include "platform/tuner_driver.h"
#include "support/deadline.h"
#include "support/file_tuner_setup.h"

#if defined(QV_FILE_TUNER)

namespace qv {
namespace {

/// A copy of the file tuner in a scratch directory with `channels` beside it and `stream` as
/// stream.ts; the driver object is created and opened.
class FileTuner : public ::testing::Test {
protected:
    void load(const std::string& channels, const std::vector<uint8_t>& stream)
    {
        ASSERT_TRUE(directory_.write("stream.ts", stream));
        const std::string copy = directory_.copy_library(QV_FILE_TUNER);
        ASSERT_TRUE(directory_.write_channels(copy, channels));
        library_ = platform::load_library(copy);
        ASSERT_NE(library_, nullptr);
        create_ = reinterpret_cast<platform::CreateBonDriverFunction>(
            platform::find_symbol(library_, "CreateBonDriver"));
        ASSERT_NE(create_, nullptr);
        IBonDriver* driver = create_();
        ASSERT_NE(driver, nullptr);
        driver_ = platform::bon_driver2_view(driver);
        ASSERT_NE(driver_, nullptr);
        ASSERT_NE(driver_->open_tuner(), 0);
    }
    void TearDown() override
    {
        if (driver_ != nullptr) {
            driver_->close_tuner();
            driver_->release();
        }
        platform::free_library(library_);
    }

    /// Fetches with the pointer fetch until `wanted` bytes came or the time-out passed.
    std::vector<uint8_t> fetch(size_t wanted, uint32_t timeout_ms)
    {
        std::vector<uint8_t> received;
        const test::Deadline deadline(timeout_ms);
        while (received.size() < wanted && !deadline.passed()) {
            uint8_t* data = nullptr;
            uint32_t size = 0;
            uint32_t remain = 0;
            if (driver_->fetch_stream(&data, &size, &remain) != 0) {
                received.insert(received.end(), data, data + size);
            }
        }
        return received;
    }

    test::TunerDirectory directory_;
    platform::LibraryHandle library_ = nullptr;
    platform::CreateBonDriverFunction create_ = nullptr;
    IBonDriver2* driver_ = nullptr;
};

TEST_F(FileTuner, EightTimesAsFastPlaysInAnEighthOfTheStreamsLength)
{
    const std::vector<uint8_t> stream = test::generated_stream(4000, 1000000);
    load("0 13 stream.ts x8\n", stream);
    ASSERT_NE(driver_->tune(0, 13), 0);
    const test::Deadline clock(5000);
    const std::vector<uint8_t> received = fetch(stream.size(), 5000);
    const double seconds = clock.elapsed_ms() / 1000.0;
    EXPECT_TRUE(received == stream);
    // 4 s of stream time / 8 = 0.5 s; the upper bound leaves room for a busy machine, and is
    // still far from unpaced (about 0 s) or real time (4 s).
    EXPECT_GT(seconds, 0.45);
    EXPECT_LT(seconds, 0.9);
    EXPECT_EQ(driver_->current_space(), 0u);
    EXPECT_EQ(driver_->current_channel(), 13u);
}

TEST_F(FileTuner, CopyingFetchAndLoopingGiveTheFileAgainAndAgain)
{
    const std::vector<uint8_t> stream = test::generated_stream(1000, 1000000);
    load("0 1 stream.ts fast loop\n", stream);
    ASSERT_NE(driver_->tune(0, 1), 0);
    std::vector<uint8_t> received;
    std::vector<uint8_t> block(48128);
    const test::Deadline deadline(5000);
    while (received.size() < stream.size() * 5 / 2 && !deadline.passed()) {
        uint32_t size = static_cast<uint32_t>(block.size());
        uint32_t remain = 0;
        if (driver_->copy_stream(block.data(), &size, &remain) != 0) {
            ASSERT_LE(size, block.size());
            received.insert(received.end(), block.begin(), block.begin() + size);
        }
    }
    ASSERT_GE(received.size(), stream.size() * 5 / 2);
    for (size_t pass = 0; pass < 2; ++pass) {
        EXPECT_TRUE(std::equal(stream.begin(), stream.end(),
                               received.begin() + static_cast<long>(pass * stream.size())))
            << "pass " << pass;
    }
}

TEST_F(FileTuner, UnitsOf192BytesArriveAsPackets)
{
    const std::vector<uint8_t> units = test::generated_stream(500, 1000000, 192);
    load("0 1 stream.ts fast\n", units);
    ASSERT_NE(driver_->tune(0, 1), 0);
    std::vector<uint8_t> packets;
    for (size_t at = 4; at + 188 <= units.size(); at += 192) {
        packets.insert(packets.end(), units.begin() + static_cast<long>(at),
                       units.begin() + static_cast<long>(at + 188));
    }
    EXPECT_TRUE(fetch(packets.size(), 5000) == packets);
}

TEST_F(FileTuner, PurgeDropsWhatIsDue)
{
    load("0 1 stream.ts realtime\n", test::generated_stream(3000, 1000000));
    ASSERT_NE(driver_->tune(0, 1), 0);
    driver_->purge_stream();  // before the first fetch nothing is due: nothing lost
    EXPECT_EQ(driver_->ready_count(), 0u);
    EXPECT_FALSE(fetch(1, 1000).empty());  // starts the play clock
    platform::sleep_ms(200);
    const uint32_t due = driver_->ready_count();  // about 130 packets at 1 Mbit/s
    EXPECT_GT(due, 10u);
    driver_->purge_stream();
    // The play clock runs on: a packet every 1.5 ms falls due again after the purge, and a slow
    // (sanitized, loaded) machine may take a few of those before it asks.
    EXPECT_LT(driver_->ready_count(), due / 2);
}

TEST_F(FileTuner, ChannelsAndNamesComeFromTheList)
{
    load("0 1 stream.ts\n0 2 stream.ts x2\n5 1 stream.ts\n", test::generated_stream(500, 1000000));
    EXPECT_EQ(driver_->tune(0, 3), 0);  // not listed
    EXPECT_EQ(driver_->tune(5, 1), 1);
    EXPECT_EQ(driver_->current_space(), 5u);
    EXPECT_EQ(std::u16string(driver_->enum_tuning_space(0)), u"Space 0");
    EXPECT_EQ(std::u16string(driver_->enum_tuning_space(1)), u"Space 5");
    EXPECT_EQ(driver_->enum_tuning_space(2), nullptr);
    EXPECT_EQ(std::u16string(driver_->enum_channel_name(0, 1)), u"stream.ts");
    EXPECT_EQ(driver_->enum_channel_name(1, 1), nullptr);
    EXPECT_NE(driver_->is_tuner_open(), 0);
    EXPECT_EQ(create_(), nullptr);  // one object at a time
}

TEST_F(FileTuner, AMissingFileFailsTheTune)
{
    load("0 1 missing.ts\n", test::generated_stream(500, 1000000));
    EXPECT_EQ(driver_->tune(0, 1), 0);
    uint8_t* data = nullptr;
    uint32_t size = 1;
    uint32_t remain = 1;
    EXPECT_EQ(driver_->fetch_stream(&data, &size, &remain), 0);
    EXPECT_EQ(size, 0u);
}

}  // namespace
}  // namespace qv

#endif
