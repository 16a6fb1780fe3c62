#include "external/tuner_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/console_output.h"
#include "platform/thread.h"
#include "support/deadline.h"
#include "support/file_tuner_setup.h"

namespace qv {
namespace {

size_t count_of(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::string start_message(const char* outcome, const std::string& path)
{
    return std::string("－ BonDriverチューナー 開始") + outcome + " " + path + "\n";
}

std::string end_message(const std::string& path)
{
    return "－ BonDriverチューナー 終了 " + path + "\n";
}

TEST(TunerPath, SplitsSpaceChannelAndDriverAtTheFirstTwoBackslashes)
{
    struct Case {
        const char* path;
        bool ok;
        uint32_t space;
        uint32_t channel;
        const char* driver;
    };
    const Case cases[] = {
        {"\\\\.\\bondriver\\0\\13\\/opt/tuners/libfile_tuner.so", true, 0, 13,
         "/opt/tuners/libfile_tuner.so"},
        {"\\\\.\\bondriver\\2\\5\\C:\\drivers\\tuner.dll", true, 2, 5, "C:\\drivers\\tuner.dll"},
        {"\\\\.\\bondriver\\ +3\\-1\\d", true, 3, 4294967295u, "d"},  // blanks and sign
        {"\\\\.\\bondriver\\x\\7y\\d", true, 0, 7, "d"},              // digits up to a non-digit
        {"\\\\.\\bondriver\\4", true, 4, 0, ""},
        {"\\\\.\\pipe\\4\\5\\d", false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        uint32_t space = 99;
        uint32_t channel = 99;
        std::string driver = "unchanged";
        EXPECT_EQ(split_tuner_path(c.path, space, channel, driver), c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(space, c.space) << c.path;
            EXPECT_EQ(channel, c.channel) << c.path;
            EXPECT_EQ(driver, c.driver) << c.path;
        }
    }
}

#if defined(QV_FILE_TUNER)

/// A scratch directory with copies of both file tuner libraries and a 2 s stream on space 0,
/// channel 13, played eight times as fast.
class TunerConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        console_flags = kConsoleTextOn;
        stream_ = test::generated_stream(2000, 1000000);
        ASSERT_FALSE(stream_.empty());
        ASSERT_TRUE(directory_.write("stream.ts", stream_));
        driver_ = directory_.copy_library(QV_FILE_TUNER);
        basic_driver_ = directory_.copy_library(QV_FILE_TUNER_BASIC);
        ASSERT_TRUE(directory_.write_channels(driver_, "0 13 stream.ts x8\n"));
        ASSERT_TRUE(directory_.write_channels(basic_driver_, "0 13 stream.ts x8\n"));
    }
    void TearDown() override
    {
        release_tuner_connection(connection_);
        stop_requested = 0;
        console_flags = kConsoleTextOn;
    }

    void start(const std::string& driver, uint32_t space, uint32_t channel)
    {
        connection_.driver_path = driver;
        connection_.tuning_space = space;
        connection_.channel = channel;
        ASSERT_EQ(start_tuner_reception(connection_), 0);
    }

    /// Takes from the queue until `wanted` bytes came or the time-out passed.
    std::vector<uint8_t> take(size_t wanted, uint32_t timeout_ms)
    {
        std::vector<uint8_t> received;
        std::vector<uint8_t> block(1 << 20);
        const test::Deadline deadline(timeout_ms);
        while (received.size() < wanted && !deadline.passed()) {
            const size_t got =
                take_from_tuner_buffer(connection_.queue, block.data(), block.size());
            received.insert(received.end(), block.begin(), block.begin() + static_cast<long>(got));
            if (got == 0) {
                platform::sleep_ms(1);
            }
        }
        return received;
    }

    bool wait_until_ended(uint32_t timeout_ms)
    {
        return test::wait_until([this] { return tuner_reception_ended(connection_); }, timeout_ms);
    }

    size_t queued()
    {
        std::lock_guard<std::mutex> lock(connection_.queue.lock);
        return connection_.queue.bytes.size();
    }

    test::TunerDirectory directory_;
    std::vector<uint8_t> stream_;
    std::string driver_;
    std::string basic_driver_;
    TunerConnection connection_;
};

TEST_F(TunerConnectionTest, PlayedFileArrivesWholeInTheQueue)
{
    connection_.buffer_limit = 64 << 20;  // a test consumer may lag: nothing is discarded here
    ::testing::internal::CaptureStdout();
    start(driver_, 0, 13);
    const std::vector<uint8_t> received = take(stream_.size(), 10000);
    EXPECT_FALSE(tuner_reception_ended(connection_));  // the tuner plays on, silent at the end
    release_tuner_connection(connection_);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              start_message("成功", driver_) + end_message(driver_));
    ASSERT_EQ(received.size(), stream_.size());
    EXPECT_TRUE(received == stream_);
    EXPECT_EQ(connection_.library, nullptr);
    EXPECT_TRUE(connection_.driver_path.empty());
    EXPECT_FALSE(connection_.reception.running());
}

TEST_F(TunerConnectionTest, ReceptionThatCannotStartEndsTheSource)
{
    const std::string factoryless = directory_.copy_library(QV_SENDER_LIBRARY);
    const std::string unopenable = directory_.file("unopenable/libfile_tuner.so");
    std::filesystem::create_directories(directory_.file("unopenable"));
    std::filesystem::copy_file(driver_, unopenable);  // no channel list beside it: open fails
    struct Case {
        const char* what;
        std::string driver;
        uint32_t channel;
        bool loaded;
        bool object_released;
    };
    const Case cases[] = {
        {"IBonDriver only", basic_driver_, 13, true, true},
        {"unknown channel", driver_, 99, true, true},
        {"open fails", unopenable, 13, true, true},
        {"no CreateBonDriver", factoryless, 13, false, false},
        {"no driver file", directory_.file("missing.so"), 13, false, false},
        {"no driver path", "", 13, false, false},
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        start(c.driver, 0, c.channel);
        EXPECT_TRUE(wait_until_ended(5000)) << c.what;
        EXPECT_EQ(connection_.driver_loaded, c.loaded) << c.what;
        EXPECT_EQ(queued(), 0u) << c.what;
        release_tuner_connection(connection_);
        const std::string expected = start_message(c.loaded ? "成功" : "失敗", c.driver) +
                                     (c.object_released ? end_message(c.driver) : std::string());
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected) << c.what;
    }
}

TEST_F(TunerConnectionTest, StopRequestEndsReceptionAndTheQueueDrainsFirst)
{
    ::testing::internal::CaptureStdout();
    start(driver_, 0, 13);
    ASSERT_TRUE(test::wait_until([this] { return queued() > 0; }, 5000));
    stop_requested = 1;
    connection_.reception.join();
    EXPECT_TRUE(connection_.reception_ended.load());
    // Bytes still queued are read before the source counts as ended.
    ASSERT_GT(queued(), 0u);
    EXPECT_FALSE(tuner_reception_ended(connection_));
    EXPECT_FALSE(take(1 << 20, 50).empty());
    EXPECT_TRUE(tuner_reception_ended(connection_));
    release_tuner_connection(connection_);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(count_of(printed, end_message(driver_)), 1u) << printed;
}

TEST_F(TunerConnectionTest, QueueStopsGrowingAtTheLimitWhileNobodyReads)
{
    ASSERT_TRUE(directory_.write_channels(driver_, "0 13 stream.ts loop\n"));
    console_flags = kConsoleTextOn | kNoProgress;
    ::testing::internal::CaptureStdout();
    start(driver_, 0, 13);
    platform::sleep_ms(200);
    const size_t first = queued();
    platform::sleep_ms(200);
    // Hand-outs went in while fewer than 940 bytes were queued; every later one was discarded
    // in the driver.
    EXPECT_GT(first, 0u);
    EXPECT_EQ(queued(), first);
    // Taking it lets the stream in again.
    EXPECT_EQ(take(first, 100).size(), first);
    EXPECT_FALSE(take(1, 1000).empty());
    release_tuner_connection(connection_);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");  // -noprogress
}

TEST_F(TunerConnectionTest, ReleaseWhileReceivingJoinsTheThreadAndPrintsTheEndOnce)
{
    ASSERT_TRUE(directory_.write_channels(driver_, "0 13 stream.ts realtime loop\n"));
    ::testing::internal::CaptureStdout();
    start(driver_, 0, 13);
    EXPECT_FALSE(take(1, 2000).empty());
    release_tuner_connection(connection_);
    EXPECT_FALSE(connection_.reception.running());
    EXPECT_EQ(connection_.library, nullptr);
    EXPECT_EQ(connection_.buffer_limit, kTunerQueueLimit);
    release_tuner_connection(connection_);  // a second release finds nothing to do
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              start_message("成功", driver_) + end_message(driver_));
}

#endif  // QV_FILE_TUNER

}  // namespace
}  // namespace qv
