#include "ts/packet_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/thread.h"
#include "support/test_data.h"
#include "support/ts_builders.h"

namespace qv {
namespace {

using test::Bytes;

/// What the sender library was handed, per call.
std::vector<std::pair<uint32_t, Bytes>> g_sent;

void record_send(uint32_t sender_id, const uint8_t* data, uint32_t length)
{
    g_sent.emplace_back(sender_id, Bytes(data, data + length));
}

class SenderOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_sent.clear();
        writer_.sender_id = 7;
        writer_.send_data = record_send;
    }
    size_t sent_bytes() const
    {
        size_t total = 0;
        for (const auto& call : g_sent) {
            total += call.second.size();
        }
        return total;
    }
    PacketWriter writer_;
};

TEST_F(SenderOutput, TwoHundredFiftySixPacketsAreHandedOnOnceWhenTheBufferFills)
{
    const Bytes packet = test::make_packet(0x100, 0, {0xAB});
    for (int i = 0; i < 255; ++i) {
        EXPECT_EQ(write_packets(writer_, packet.data(), packet.size()), 0u) << i;
    }
    EXPECT_TRUE(g_sent.empty());
    EXPECT_EQ(write_packets(writer_, packet.data(), packet.size()), 48128u);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(g_sent[0].first, 7u);
    EXPECT_EQ(g_sent[0].second.size(), 48128u);
    EXPECT_EQ(writer_.pending, 0);
    // A flush request with nothing pending hands on nothing.
    EXPECT_EQ(flush_packets(writer_), 0u);
    EXPECT_EQ(g_sent.size(), 1u);
    EXPECT_FALSE(writer_.failed);
}

TEST_F(SenderOutput, FlushRequestHandsOnWhatIsPending)
{
    const Bytes packet = test::make_packet(0x100, 0);
    (void)write_packets(writer_, packet.data(), packet.size());
    (void)write_packets(writer_, packet.data(), packet.size());
    EXPECT_EQ(flush_packets(writer_), 376u);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(g_sent[0].second, test::concat({packet, packet}));
}

TEST_F(SenderOutput, RunOfSeveralPacketsMeetingAFullBufferKeepsItsTail)
{
    const Bytes packet = test::make_packet(0x100, 0);
    for (int i = 0; i < 255; ++i) {
        (void)write_packets(writer_, packet.data(), packet.size());
    }
    const Bytes run = test::concat({test::make_packet(0x1F0, 1, {1}), test::make_packet(0x1F0, 2, {2}),
                                    test::make_packet(0x1F0, 3, {3})});
    EXPECT_EQ(write_packets(writer_, run.data(), run.size()), 48128u);
    EXPECT_EQ(writer_.pending, 2 * 188);
    (void)flush_packets(writer_);
    ASSERT_EQ(g_sent.size(), 2u);
    EXPECT_EQ(sent_bytes(), 258u * 188);
    EXPECT_EQ(g_sent[1].second, Bytes(run.begin() + 188, run.end()));
    EXPECT_FALSE(writer_.failed);
}

TEST_F(SenderOutput, NoDestinationWritesNothing)
{
    const Bytes packet = test::make_packet(0x100, 0);
    writer_.send_data = nullptr;  // entry point not bound
    EXPECT_FALSE(has_destination(writer_));
    EXPECT_EQ(write_packets(writer_, packet.data(), packet.size()), 0u);
    EXPECT_EQ(writer_.pending, 0);

    writer_.send_data = record_send;
    writer_.sender_id = kNoSender;
    EXPECT_FALSE(has_destination(writer_));
    EXPECT_EQ(write_packets(writer_, packet.data(), packet.size()), 0u);
}

class FileOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = test::unique_temp_path("qv_writer_test", ".ts");
    }
    void TearDown() override
    {
        platform::close_handle(writer_.handle);
        (void)platform::delete_file(path_);
    }
    int64_t file_length()
    {
        platform::NativeHandle handle = platform::open_for_reading(path_);
        int64_t size = -1;
        EXPECT_TRUE(platform::file_size(handle, size));
        platform::close_handle(handle);
        return size;
    }
    std::string path_;
    PacketWriter writer_;
};

TEST_F(FileOutput, BuffersUntilFullThenWritesTheWholeBlock)
{
    writer_.handle = platform::create_for_writing(path_);
    ASSERT_NE(writer_.handle, platform::kClosedHandle);
    const Bytes packet = test::make_packet(0x100, 0);
    for (int i = 0; i < 300; ++i) {
        (void)write_packets(writer_, packet.data(), packet.size());
    }
    EXPECT_EQ(file_length(), 48128);
    EXPECT_EQ(flush_packets(writer_), 44u * 188);
    EXPECT_EQ(file_length(), 300 * 188);
    EXPECT_FALSE(writer_.failed);
}

TEST_F(FileOutput, FailedWriteKeepsTheBlockPendingDropsLaterDataAndStaysFailed)
{
    {
        platform::NativeHandle create = platform::create_for_writing(path_);
        platform::close_handle(create);
    }
    writer_.handle = platform::open_for_reading(path_);  // writes to it fail
    ASSERT_NE(writer_.handle, platform::kClosedHandle);
    const Bytes packet = test::make_packet(0x100, 0);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(write_packets(writer_, packet.data(), packet.size()), 0u);
    }
    EXPECT_TRUE(writer_.failed);
    EXPECT_NE(writer_.error_code, 0);
    EXPECT_EQ(writer_.pending, 48128);

    // The buffer stays full: the retry hands on nothing, the new packet is dropped.
    EXPECT_EQ(write_packets(writer_, packet.data(), packet.size()), 0u);
    EXPECT_EQ(writer_.pending, 48128);
    EXPECT_EQ(flush_packets(writer_), 0u);
    EXPECT_TRUE(writer_.failed);
    EXPECT_EQ(file_length(), 0);
}

/// Packets whose payload bytes count up, so any lost, doubled or reordered packet shows.
Bytes numbered_packets(size_t count)
{
    Bytes all;
    for (size_t i = 0; i < count; ++i) {
        Bytes packet = test::make_packet(0x100, static_cast<uint8_t>(i & 0x0F));
        for (size_t j = 4; j + 4 <= packet.size(); j += 4) {
            const uint32_t value = static_cast<uint32_t>(i * 64 + j);
            std::memcpy(packet.data() + j, &value, 4);
        }
        all.insert(all.end(), packet.begin(), packet.end());
    }
    return all;
}

class WriteBehindOutput : public FileOutput {
protected:
    Bytes file_bytes()
    {
        Bytes bytes(static_cast<size_t>(file_length()));
        platform::NativeHandle handle = platform::open_for_reading(path_);
        size_t got = 0;
        EXPECT_EQ(platform::read_file(handle, bytes.data(), bytes.size(), got),
                  platform::IoStatus::ok);
        EXPECT_EQ(got, bytes.size());
        platform::close_handle(handle);
        return bytes;
    }
};

TEST_F(WriteBehindOutput, ManyChunksArriveWholeAndInOrderWhateverTheCallSizes)
{
    writer_.handle = platform::create_for_writing(path_);
    ASSERT_NE(writer_.handle, platform::kClosedHandle);
    // A few packets pending before the thread starts move along with it.
    const size_t chunk_packets = kWriteBehindChunkBuffers * 256;
    const Bytes stream = numbered_packets(chunk_packets * (kWriteBehindChunkCount + 2) + 77);
    size_t offset = 3 * 188;
    (void)write_packets(writer_, stream.data(), offset);
    ASSERT_TRUE(start_write_behind(writer_));
    // Runs of 1, 2, ... 7 packets: they straddle the buffer and chunk ends.
    for (size_t run = 1; offset < stream.size(); run = run % 7 + 1) {
        const size_t length = std::min(run * 188, stream.size() - offset);
        (void)write_packets(writer_, stream.data() + offset, length);
        offset += length;
    }
    finish_packets(writer_);
    EXPECT_FALSE(writer_.failed);
    EXPECT_FALSE(writer_.behind);
    EXPECT_TRUE(file_bytes() == stream) << "the file differs from the packets written";
}

TEST_F(WriteBehindOutput, FlushSendsAPartChunkAtOnceAndWritingGoesOn)
{
    writer_.handle = platform::create_for_writing(path_);
    ASSERT_NE(writer_.handle, platform::kClosedHandle);
    ASSERT_TRUE(start_write_behind(writer_));
    const Bytes stream = numbered_packets(600);
    (void)write_packets(writer_, stream.data(), 300 * 188);  // one full buffer and 44 packets
    EXPECT_EQ(flush_packets(writer_), 44u * 188);
    writer_.behind->wait_until_written();
    EXPECT_EQ(file_length(), 300 * 188);  // the paced output is on disk before the pause

    (void)write_packets(writer_, stream.data() + 300 * 188, 300 * 188);
    finish_packets(writer_);
    EXPECT_TRUE(file_bytes() == stream);
}

TEST_F(WriteBehindOutput, ALiveOutputHandsEachFullBufferOnAtOnce)
{
    // A live stream must reach its reader a buffer at a time, not after a 770 KiB chunk has
    // gathered; otherwise the large chunks stay.
    for (const bool live : {false, true}) {
        SCOPED_TRACE(live);
        writer_ = PacketWriter{};
        writer_.handle = platform::create_for_writing(path_);
        ASSERT_NE(writer_.handle, platform::kClosedHandle);
        writer_.hand_on_each_buffer = live;
        ASSERT_TRUE(start_write_behind(writer_));
        const Bytes stream = numbered_packets(300);  // one full buffer and 44 packets
        (void)write_packets(writer_, stream.data(), stream.size());
        int64_t seen = 0;
        for (int wait = 0; wait < 50 && seen == 0 && live; ++wait) {
            platform::sleep_ms(10);
            seen = file_length();
        }
        EXPECT_EQ(file_length(), live ? kWriteBufferSize : 0);
        finish_packets(writer_);
        EXPECT_TRUE(file_bytes() == stream);
        platform::close_handle(writer_.handle);
    }
}

TEST_F(WriteBehindOutput, FailedWriteMarksTheWriterWithoutHoldingItUp)
{
    {
        platform::NativeHandle create = platform::create_for_writing(path_);
        platform::close_handle(create);
    }
    writer_.handle = platform::open_for_reading(path_);  // writes to it fail
    ASSERT_NE(writer_.handle, platform::kClosedHandle);
    ASSERT_TRUE(start_write_behind(writer_));
    // Far more than the chunks in flight: after the failure the rest is discarded, not waited on.
    const Bytes packet = test::make_packet(0x100, 0);
    const size_t packets = kWriteBehindChunkBuffers * 256 * (kWriteBehindChunkCount * 3);
    for (size_t i = 0; i < packets; ++i) {
        (void)write_packets(writer_, packet.data(), packet.size());
    }
    finish_packets(writer_);
    EXPECT_TRUE(writer_.failed);
    EXPECT_NE(writer_.error_code, 0);
    EXPECT_EQ(file_length(), 0);
}

TEST_F(WriteBehindOutput, PacketsWrittenInPlaceArriveWholeAndInOrderBetweenOtherWrites)
{
    // As the pump does it: packets written from a block that the next read overwrites, with
    // packets left out (short and long runs), a rebuilt table written by another route between
    // them, and the runs settled before the block changes.
    for (const bool gathered : {true, false}) {
        SCOPED_TRACE(gathered);
        writer_ = PacketWriter{};
        writer_.handle = platform::create_for_writing(path_);
        ASSERT_NE(writer_.handle, platform::kClosedHandle);
        ASSERT_TRUE(gathered ? start_gathered_writes(writer_) : start_write_behind(writer_));
        const Bytes stream = numbered_packets(12000);
        const Bytes table = test::make_packet(0x1F0, 3, {0x02, 0xB0});
        Bytes expected;
        Bytes block;
        size_t at = 0;
        for (size_t round = 0; at < stream.size(); ++round) {
            const size_t packets =
                std::min<size_t>(1 + round * 37 % 400, (stream.size() - at) / 188);
            block.assign(stream.begin() + at, stream.begin() + at + packets * 188);
            for (size_t i = 0; i < packets; ++i) {
                const size_t number = at / 188 + i;
                if (number % (round % 2 == 0 ? 23 : 301) == 5) {
                    continue;  // left out: the run ends here
                }
                if (number % 251 == 7) {
                    (void)write_packets(writer_, table.data(), table.size());
                    expected.insert(expected.end(), table.begin(), table.end());
                }
                write_packet_in_place(writer_, block.data() + i * 188);
                expected.insert(expected.end(), block.begin() + i * 188,
                                block.begin() + (i + 1) * 188);
            }
            settle_packets(writer_);
            std::fill(block.begin(), block.end(), 0xEE);  // the next read overwrites the block
            at += packets * 188;
        }
        finish_packets(writer_);
        EXPECT_FALSE(writer_.failed);
        EXPECT_TRUE(file_bytes() == expected) << "the file differs from the packets written";
        platform::close_handle(writer_.handle);
    }
}

TEST_F(WriteBehindOutput, GatheredWritesOfALiveOutputHandEachFullBufferOnAtOnce)
{
    for (const bool live : {false, true}) {
        SCOPED_TRACE(live);
        writer_ = PacketWriter{};
        writer_.handle = platform::create_for_writing(path_);
        writer_.hand_on_each_buffer = live;
        ASSERT_TRUE(start_gathered_writes(writer_));
        const Bytes stream = numbered_packets(300);  // one full buffer and 44 packets
        for (size_t i = 0; i < 300; ++i) {
            write_packet_in_place(writer_, stream.data() + i * 188);
        }
        // Live: the full buffer went out with the call that filled it. Otherwise the run waits
        // for the block to change (and then goes out from where it lies, in one write).
        EXPECT_EQ(file_length(), live ? kWriteBufferSize : 0);
        settle_packets(writer_);
        EXPECT_EQ(file_length(), live ? kWriteBufferSize : 300 * 188);
        finish_packets(writer_);
        EXPECT_TRUE(file_bytes() == stream);
        platform::close_handle(writer_.handle);
    }
}

TEST_F(WriteBehindOutput, AFailedGatheredWriteMarksTheWriterAndDropsTheRest)
{
    {
        platform::NativeHandle create = platform::create_for_writing(path_);
        platform::close_handle(create);
    }
    writer_.handle = platform::open_for_reading(path_);  // writes to it fail
    ASSERT_TRUE(start_gathered_writes(writer_));
    const Bytes stream = numbered_packets(kWriteBehindChunkBuffers * 256 * 3);
    for (size_t i = 0; i < stream.size() / 188; ++i) {
        write_packet_in_place(writer_, stream.data() + i * 188);
        if (i % 500 == 499) {
            settle_packets(writer_);
        }
    }
    finish_packets(writer_);
    EXPECT_TRUE(writer_.failed);
    EXPECT_NE(writer_.error_code, 0);
    EXPECT_EQ(file_length(), 0);
}

TEST(WriteBehindStart, NeedsAHandleAndStartsOnce)
{
    PacketWriter writer;
    EXPECT_FALSE(start_write_behind(writer));
    writer.handle = platform::standard_output();
    ASSERT_TRUE(start_write_behind(writer));
    EXPECT_FALSE(start_write_behind(writer));
    EXPECT_FALSE(start_gathered_writes(writer));
    finish_packets(writer);  // nothing was written: nothing appears on standard output
    EXPECT_FALSE(writer.failed);
}

}  // namespace
}  // namespace qv
