#include "ts/packet_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/file_view.h"
#include "support/test_data.h"
#include "support/ts_builders.h"
#include "ts/tuner_buffer.h"

namespace qv {
namespace {

using test::Bytes;

struct Delivered {
    std::vector<Bytes> packets;  // the 188 bytes at each delivered position
    std::vector<uint8_t> lengths;
};

void push(TunerReceiveBuffer& tuner, const uint8_t* bytes, size_t count)
{
    std::lock_guard<std::mutex> guard(tuner.lock);
    tuner.bytes.insert(tuner.bytes.end(), bytes, bytes + count);
}

void record(Delivered& out, const uint8_t* packet, uint8_t length)
{
    out.packets.emplace_back(packet, packet + 188);
    out.lengths.push_back(length);
}

/// Feeds `stream` through a tuner queue `chunk` bytes before each call, so that every read
/// sees what arrived since the last one and the queue is never empty before the end.
Delivered read_steadily(const Bytes& stream, size_t chunk, uint32_t capacity = 48128)
{
    TunerReceiveBuffer tuner;
    tuner.running = true;
    PacketReadBuffer reader;
    reader.capacity = capacity;
    const PacketSource source{platform::kClosedHandle, &tuner};
    Delivered out;
    size_t fed = 0;
    int idle = 0;
    while (idle < 3) {
        if (fed < stream.size()) {
            const size_t count = std::min(chunk, stream.size() - fed);
            push(tuner, stream.data() + fed, count);
            fed += count;
        }
        const uint8_t* packet = nullptr;
        const uint8_t length = read_packet(reader, source, 188, packet);
        if (length != 0) {
            record(out, packet, length);
        }
        if (fed >= stream.size() && length == 0) {
            tuner.running = false;  // reception has ended: the queue's last packet is final
            ++idle;
        } else {
            idle = 0;
        }
    }
    return out;
}

/// Feeds `stream` in chunks and, after each, calls until the reader returns 0: every chunk
/// boundary meets a read that yields nothing.
Delivered read_with_pauses(const Bytes& stream, size_t chunk, uint32_t capacity = 48128)
{
    TunerReceiveBuffer tuner;
    tuner.running = true;
    PacketReadBuffer reader;
    reader.capacity = capacity;
    const PacketSource source{platform::kClosedHandle, &tuner};
    Delivered out;
    for (size_t fed = 0; fed < stream.size(); fed += chunk) {
        push(tuner, stream.data() + fed, std::min(chunk, stream.size() - fed));
        const uint8_t* packet = nullptr;
        while (const uint8_t length = read_packet(reader, source, 188, packet)) {
            record(out, packet, length);
        }
        // Further calls on an empty queue deliver nothing again.
        EXPECT_EQ(read_packet(reader, source, 188, packet), 0);
        EXPECT_EQ(packet, nullptr);
    }
    tuner.running = false;
    const uint8_t* packet = nullptr;
    while (const uint8_t length = read_packet(reader, source, 188, packet)) {
        record(out, packet, length);
    }
    return out;
}

void expect_numbered(const Delivered& out, const Bytes& originals)
{
    ASSERT_EQ(out.packets.size(), originals.size() / 188);
    for (size_t i = 0; i < out.packets.size(); ++i) {
        ASSERT_EQ(std::memcmp(out.packets[i].data(), originals.data() + i * 188, 188), 0)
            << "packet " << i;
    }
}

Bytes as_units(const Bytes& packets)
{
    Bytes units;
    for (size_t at = 0; at < packets.size(); at += 188) {
        const Bytes unit = test::with_prefix(Bytes(packets.begin() + at, packets.begin() + at + 188),
                                             static_cast<uint32_t>(at));
        units.insert(units.end(), unit.begin(), unit.end());
    }
    return units;
}

constexpr size_t kChunkSizes[] = {1, 187, 188, 189, 384, 1000, 65536};

TEST(PacketReading, EveryPacketOnceInOrderWhateverTheReadSizes)
{
    const Bytes packets = test::numbered_packets(0x100, 300);
    for (size_t chunk : kChunkSizes) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        expect_numbered(read_steadily(packets, chunk), packets);
        expect_numbered(read_with_pauses(packets, chunk), packets);
    }
}

TEST(PacketReading, TimestampedUnitsDeliverTheirPacketsWhateverTheReadSizes)
{
    const Bytes packets = test::numbered_packets(0x100, 300);
    const Bytes units = as_units(packets);
    for (size_t chunk : kChunkSizes) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        const Delivered steady = read_steadily(units, chunk);
        expect_numbered(steady, packets);
        expect_numbered(read_with_pauses(units, chunk), packets);
        if (chunk >= 384) {  // whole units in view: the length says 192
            EXPECT_EQ(steady.lengths.front(), 192);
        }
    }
}

/// Units whose prefix begins with 0x47 (a copy-permission or time-stamp byte) in two
/// stretches, the first from the very first unit on.
Bytes units_with_sync_like_prefixes(const Bytes& packets)
{
    Bytes units = as_units(packets);
    for (size_t unit = 0; unit * 192 < units.size(); ++unit) {
        if (unit < 40 || (unit >= 120 && unit < 200)) {
            units[unit * 192] = 0x47;
        }
    }
    return units;
}

TEST(PacketReading, APrefixByteLikeASyncByteIsNeverTakenForAPacket)
{
    const Bytes packets = test::numbered_packets(0x100, 300);
    const Bytes units = units_with_sync_like_prefixes(packets);
    for (size_t chunk : kChunkSizes) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        expect_numbered(read_steadily(units, chunk), packets);
        expect_numbered(read_with_pauses(units, chunk), packets);
    }
}

TEST(PacketReading, TheLastPacketIsDeliveredWithStrayBytesBehindIt)
{
    // A recording cut a few bytes into what follows its last packet (or into the next unit's
    // prefix) still ends with that packet; more than a prefix's worth of bytes is noise.
    const Bytes packets = test::numbered_packets(0x100, 10);
    for (size_t stray : {1, 2, 3}) {
        SCOPED_TRACE("stray " + std::to_string(stray));
        const Bytes cut_after(stray, 0x00);
        expect_numbered(read_steadily(test::concat({packets, cut_after}), 65536), packets);
        expect_numbered(read_steadily(test::concat({as_units(packets), cut_after}), 65536),
                        packets);
    }
    const Delivered noisy = read_steadily(test::concat({packets, Bytes(4, 0x00)}), 65536);
    EXPECT_EQ(noisy.packets.size(), 9u);
}

TEST(PacketReading, SmallBlockIsRaisedToTwoPacketsAndCarriesPartialPacketsAcrossReads)
{
    // capacity 1 asks for the minimum block of 2 x 188 + 8 bytes: every read leaves a partial
    // packet that the next one completes.
    const Bytes packets = test::numbered_packets(0x100, 50);
    expect_numbered(read_steadily(packets, 65536, 1), packets);
    expect_numbered(read_steadily(as_units(packets), 65536, 1), packets);
}

TEST(PacketReading, GarbageBeforeSyncIsSkippedAndAFalseSyncByteIsNotTaken)
{
    Bytes garbage(250, 0x00);
    garbage[10] = 0x47;   // 188 and 192 bytes on lie inside the garbage: no packet
    garbage[100] = 0x47;  // 188 bytes on lands in the first packet's payload (0xFF)
    const Bytes packets = test::numbered_packets(0x100, 20);
    const Bytes stream = test::concat({garbage, packets});
    for (size_t chunk : {size_t{1}, size_t{189}, size_t{65536}}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        expect_numbered(read_steadily(stream, chunk), packets);
    }
}

TEST(PacketReading, PacketNotFollowedByASyncByteIsDroppedWithTheNoiseAfterIt)
{
    const Bytes packets = test::numbered_packets(0x100, 4);
    Bytes noise(100, 0x11);  // part of a packet without its start
    Delivered out = read_steadily(test::concat({packets, noise, packets}), 65536);
    ASSERT_EQ(out.packets.size(), 7u);
    EXPECT_EQ(test::packet_number(out.packets[2].data()), 2u);
    EXPECT_EQ(test::packet_number(out.packets[3].data()), 0u);

    out = read_steadily(test::concat({packets, noise}), 65536);
    EXPECT_EQ(out.packets.size(), 3u);
}

TEST(PacketReading, PacketsOf204BytesAreNotRecognised)
{
    Bytes stream;
    for (int i = 0; i < 40; ++i) {
        Bytes packet = test::make_packet(0x100, static_cast<uint8_t>(i), {0x01, 0x02});
        packet.resize(204, 0x00);  // Reed-Solomon parity in place of the next sync byte
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    for (size_t chunk : {size_t{1}, size_t{1000}, size_t{65536}}) {
        EXPECT_TRUE(read_steadily(stream, chunk).packets.empty()) << "chunk " << chunk;
    }
}

TEST(PacketReading, RefusesWithoutSourceOrBlock)
{
    PacketReadBuffer reader;
    reader.capacity = 48128;
    const uint8_t* packet = nullptr;
    EXPECT_EQ(read_packet(reader, PacketSource{}, 188, packet), 0);
    EXPECT_FALSE(reader.block);

    TunerReceiveBuffer tuner;
    tuner.running = true;
    PacketReadBuffer no_capacity;
    EXPECT_EQ(read_packet(no_capacity, PacketSource{platform::kClosedHandle, &tuner}, 188, packet), 0);
    EXPECT_FALSE(no_capacity.block);
}

TEST(TunerQueue, TakesFromTheFrontWithoutWaiting)
{
    TunerReceiveBuffer tuner;
    uint8_t out[8] = {};
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    push(tuner, bytes, sizeof bytes);
    EXPECT_EQ(take_from_tuner_buffer(tuner, out, 8), 0u);  // reception not running
    tuner.running = true;
    EXPECT_EQ(take_from_tuner_buffer(tuner, out, 0), 0u);
    EXPECT_EQ(take_from_tuner_buffer(tuner, nullptr, 8), 0u);
    EXPECT_EQ(take_from_tuner_buffer(tuner, out, 3), 3u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(take_from_tuner_buffer(tuner, out, 8), 2u);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(take_from_tuner_buffer(tuner, out, 8), 0u);  // empty: no wait
}

class FileReading : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (!path_.empty()) {
            (void)platform::delete_file(path_);
        }
    }
    std::string write_temp(const Bytes& bytes)
    {
        path_ = test::unique_temp_path("qv_reader_test", ".ts");
        platform::NativeHandle handle = platform::create_for_writing(path_);
        size_t written = 0;
        EXPECT_TRUE(platform::write_file(handle, bytes.data(), bytes.size(), written));
        platform::close_handle(handle);
        return path_;
    }
    std::string path_;
};

TEST_F(FileReading, FileEndingInTheLastPacketDeliversItThenEnds)
{
    const Bytes packets = test::numbered_packets(0x100, 10);
    platform::NativeHandle handle = platform::open_for_reading(write_temp(packets));
    ASSERT_NE(handle, platform::kClosedHandle);
    PacketReadBuffer reader;
    reader.capacity = 1;  // 384-byte block: many reads, the file ends on a packet boundary
    const PacketSource source{handle, nullptr};
    const uint8_t* packet = nullptr;
    for (uint32_t i = 0; i < 10; ++i) {
        ASSERT_EQ(read_packet(reader, source, 188, packet), 188) << i;
        EXPECT_EQ(test::packet_number(packet), i);
    }
    EXPECT_EQ(read_packet(reader, source, 188, packet), 0);
    EXPECT_EQ(read_packet(reader, source, 188, packet), 0);
    platform::close_handle(handle);
}

TEST_F(FileReading, DamagedStretchLongerThanTheBlockDoesNotEndTheFile)
{
    const Bytes packets = test::numbered_packets(0x100, 6);
    const Bytes stream = test::concat({Bytes(packets.begin(), packets.begin() + 3 * 188),
                                       Bytes(5000, 0x00), Bytes(packets.begin() + 3 * 188, packets.end())});
    platform::NativeHandle handle = platform::open_for_reading(write_temp(stream));
    PacketReadBuffer reader;
    reader.capacity = 1;  // 384-byte block: whole blocks of zeros
    const PacketSource source{handle, nullptr};
    const uint8_t* packet = nullptr;
    std::vector<uint32_t> numbers;
    while (read_packet(reader, source, 188, packet) != 0) {
        numbers.push_back(test::packet_number(packet));
    }
    // The third packet is followed by zeros, not by a sync byte: it goes with the damage.
    EXPECT_EQ(numbers, (std::vector<uint32_t>{0, 1, 3, 4, 5}));
    platform::close_handle(handle);
}

TEST_F(FileReading, RealTimestampedRecordingDeliversEveryUnit)
{
    const std::string path = test::testdata_dir() + "/arib-ts/aijin.ts192-padff.ts";
    platform::NativeHandle handle = platform::open_for_reading(path);
    ASSERT_NE(handle, platform::kClosedHandle);
    int64_t size = 0;
    ASSERT_TRUE(platform::file_size(handle, size));
    // An odd block size puts every kind of tail at the block boundaries.
    PacketReadBuffer reader;
    reader.capacity = 100003;
    const PacketSource source{handle, nullptr};
    const uint8_t* packet = nullptr;
    int64_t count = 0;
    while (read_packet(reader, source, 188, packet) != 0) {
        ASSERT_EQ(packet[0], 0x47);
        ++count;
    }
    EXPECT_EQ(count, size / 192);
    platform::close_handle(handle);
}

enum class Reading { single, runs, runs_ahead, single_mapped, runs_mapped, runs_populated };

/// Views of 128 KiB (the least: twice the overlap), so that a file of a few MiB crosses many.
constexpr size_t kSmallView = 1;

bool mapped(Reading reading)
{
    return reading == Reading::single_mapped || reading == Reading::runs_mapped ||
           reading == Reading::runs_populated;
}

/// Every packet of the file at `path`: one read_packet call per packet, or in runs read by the
/// worker or on a read-ahead thread, or walked in mapped views (alone or populated ahead).
Delivered read_whole_file(const std::string& path, uint32_t capacity, Reading reading,
                          uint64_t* bytes_read = nullptr)
{
    Delivered out;
    platform::NativeHandle handle = platform::open_for_reading(path);
    EXPECT_NE(handle, platform::kClosedHandle);
    PacketReadBuffer reader;
    reader.capacity = capacity;
    if (reading == Reading::runs_ahead) {
        EXPECT_TRUE(start_read_ahead(reader, handle));
    }
    if (mapped(reading) && !start_mapped_reading(reader, handle, 0,
                                                 reading == Reading::runs_populated, kSmallView)) {
        EXPECT_EQ(platform::file_view_alignment(), 0u);  // only where views are not available
    }
    const PacketSource source{handle, nullptr, true};
    const uint8_t* packet = nullptr;
    if (reading != Reading::single && reading != Reading::single_mapped) {
        while (const uint32_t count = read_packet_run(reader, source, packet)) {
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t* at = packet + i * 188;
                EXPECT_GE(at, read_data(reader));
                EXPECT_LE(at + 188, read_data(reader) + reader.valid_length);
                record(out, at, 188);
            }
        }
        EXPECT_EQ(read_packet_run(reader, source, packet), 0u);  // the end stays the end
    } else {
        while (const uint8_t length = read_packet(reader, source, 188, packet)) {
            record(out, packet, length);
        }
        EXPECT_EQ(read_packet(reader, source, 188, packet), 0);
    }
    if (bytes_read != nullptr) {
        *bytes_read = reader.bytes_read;
    }
    release_read_buffer(reader);
    platform::close_handle(handle);
    return out;
}

TEST_F(FileReading, RunsDeliverWhatSinglePacketsDoAtEveryBlockSize)
{
    // Packets, timed units, noise, a false sync byte and a cut packet at the end: every kind of
    // tail meets the block boundaries.
    const Bytes packets = test::numbered_packets(0x100, 3000);
    Bytes noise(700, 0x00);
    noise[5] = 0x47;
    const Bytes cut(packets.begin(), packets.begin() + 100);
    const Bytes stream = test::concat({packets, noise, as_units(packets), noise, packets, cut});
    const std::string path = write_temp(stream);
    for (uint32_t capacity : {1u, 1000u, 100003u, kDefaultReadBufferSize}) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        const Delivered single = read_whole_file(path, capacity, Reading::single);
        ASSERT_EQ(single.packets.size(), 8998u);  // the packet before each noise stretch goes
        const Delivered single_mapped = read_whole_file(path, capacity, Reading::single_mapped);
        EXPECT_EQ(single_mapped.packets, single.packets);
        EXPECT_EQ(single_mapped.lengths, single.lengths);
        for (const Reading reading : {Reading::runs, Reading::runs_ahead, Reading::runs_mapped,
                                      Reading::runs_populated}) {
            uint64_t bytes_read = 0;
            const Delivered runs = read_whole_file(path, capacity, reading, &bytes_read);
            EXPECT_EQ(runs.packets, single.packets);
            EXPECT_EQ(bytes_read, stream.size());
        }
    }
}

TEST_F(FileReading, ReadAheadRingWrapsManyTimesAndStartsOnlyBeforeTheFirstRead)
{
    // Slices of 376 bytes: the ring of 16 goes round hundreds of times, every tail crossing a
    // slice boundary, while the worker sleeps on an empty ring and the thread on a full one.
    const Bytes packets = test::numbered_packets(0x100, 20000);
    const std::string path = write_temp(packets);
    const Delivered ahead = read_whole_file(path, 376, Reading::runs_ahead);
    ASSERT_EQ(ahead.packets.size(), 20000u);
    for (uint32_t i = 0; i < 20000; ++i) {
        ASSERT_EQ(test::packet_number(ahead.packets[i].data()), i);
    }

    platform::NativeHandle handle = platform::open_for_reading(path);
    PacketReadBuffer reader;
    reader.capacity = 48128;
    const PacketSource source{handle, nullptr, true};
    const uint8_t* packet = nullptr;
    ASSERT_EQ(read_packet(reader, source, 188, packet), 188);
    EXPECT_FALSE(start_read_ahead(reader, handle));  // the block holds bytes already read
    PacketReadBuffer fresh;
    EXPECT_FALSE(start_read_ahead(fresh, platform::kClosedHandle));
    release_read_buffer(reader);
    platform::close_handle(handle);
}

TEST_F(FileReading, RunsKeepTheUnitsOfATimestampedRecordingWithSyncLikePrefixes)
{
    const Bytes packets = test::numbered_packets(0x100, 3000);
    const Bytes units = units_with_sync_like_prefixes(packets);
    const std::string path = write_temp(test::concat({units, Bytes(2, 0x00)}));
    for (uint32_t capacity : {1u, 1000u, 100003u}) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        for (const Reading reading : {Reading::single, Reading::single_mapped, Reading::runs,
                                      Reading::runs_ahead, Reading::runs_mapped}) {
            expect_numbered(read_whole_file(path, capacity, reading), packets);
        }
    }
}

TEST_F(FileReading, RunsOnARealTimestampedRecording)
{
    const std::string path = test::testdata_dir() + "/arib-ts/aijin.ts192-padff.ts";
    const Delivered single = read_whole_file(path, 100003, Reading::single);
    ASSERT_FALSE(single.packets.empty());
    EXPECT_EQ(read_whole_file(path, 100003, Reading::runs).packets, single.packets);
    EXPECT_EQ(read_whole_file(path, 100003, Reading::runs_ahead).packets, single.packets);
    EXPECT_EQ(read_whole_file(path, 100003, Reading::runs_populated).packets, single.packets);
}

TEST_F(FileReading, ARunLeavesTheBlockAloneWhileTheNextPacketIsInIt)
{
    // The pump writes the packets of a run from where they lie: they must stay there until a
    // call that reads, and next_run_in_block must say when the next call will not read.
    const Bytes packets = test::numbered_packets(0x100, 2000);
    platform::NativeHandle handle = platform::open_for_reading(write_temp(packets));
    PacketReadBuffer reader;
    reader.capacity = kDefaultReadBufferSize;
    const PacketSource source{handle, nullptr, true};
    const uint8_t* first = nullptr;
    uint32_t delivered = 0;
    int runs_in_block = 0;
    uint32_t count = read_packet_run(reader, source, first);
    while (count != 0) {
        for (uint32_t i = 0; i < count; ++i) {
            ASSERT_EQ(test::packet_number(first + i * 188), delivered + i);
        }
        delivered += count;
        const bool in_block = next_run_in_block(reader);
        const uint8_t* kept = first;
        const Bytes before(first, first + count * 188);
        const uint64_t read_before = reader.bytes_read;
        count = read_packet_run(reader, source, first);
        if (in_block) {
            ++runs_in_block;
            EXPECT_GT(count, 0u);
            EXPECT_EQ(reader.bytes_read, read_before);  // no read
            EXPECT_EQ(Bytes(kept, kept + before.size()), before);
            EXPECT_EQ(first, kept + before.size());  // the next run follows on directly
        }
    }
    EXPECT_EQ(delivered, 2000u);
    EXPECT_GT(runs_in_block, 0);  // a read slice ends inside a packet: its first packet waits
    // However large the read buffer asked for, the block holds one read and the kept tail, and
    // reads go to a page boundary.
    EXPECT_LE(reader.capacity, kReadSliceSize + 192);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(reader.read_position) % 4096, 0u);
    release_read_buffer(reader);
    platform::close_handle(handle);
}

/// Every packet read_packet_run delivers from `reader` until it answers 0, by number.
std::vector<uint32_t> numbers_until_the_end(PacketReadBuffer& reader, const PacketSource& source,
                                            std::vector<int64_t>* positions = nullptr,
                                            int64_t origin = 0)
{
    std::vector<uint32_t> numbers;
    const uint8_t* first = nullptr;
    while (const uint32_t count = read_packet_run(reader, source, first)) {
        for (uint32_t i = 0; i < count; ++i) {
            numbers.push_back(test::packet_number(first + i * 188));
            if (positions != nullptr) {
                // Where the pump says a packet lies: counted from the bytes read.
                const int64_t block_start = origin + static_cast<int64_t>(reader.bytes_read) -
                                            static_cast<int64_t>(reader.valid_length);
                positions->push_back(block_start + (first + i * 188 - read_data(reader)));
            }
        }
    }
    return numbers;
}

TEST_F(FileReading, MappedViewsStartAtAnyPositionAndCountTheBytesFromIt)
{
    // 100 bytes of noise, then packets: the start lies inside the file, off every alignment.
    const Bytes packets = test::numbered_packets(0x100, 3000);
    const Bytes stream = test::concat({Bytes(100, 0x11), packets});
    platform::NativeHandle handle = platform::open_for_reading(write_temp(stream));
    const int64_t origin = 100 + 188 * 5;
    PacketReadBuffer reader;
    reader.capacity = kDefaultReadBufferSize;
    if (!start_mapped_reading(reader, handle, origin, false, kSmallView)) {
        platform::close_handle(handle);
        GTEST_SKIP() << "no file views on this system";
    }
    EXPECT_FALSE(start_mapped_reading(reader, handle, 0, false));  // already mapping
    EXPECT_FALSE(start_read_ahead(reader, handle));
    const PacketSource source{handle, nullptr, true};
    std::vector<int64_t> positions;
    const std::vector<uint32_t> numbers = numbers_until_the_end(reader, source, &positions, origin);
    ASSERT_EQ(numbers.size(), 2995u);
    for (uint32_t i = 0; i < numbers.size(); ++i) {
        ASSERT_EQ(numbers[i], i + 5);
        ASSERT_EQ(positions[i], 100 + 188 * static_cast<int64_t>(i + 5));
    }
    EXPECT_EQ(reader.bytes_read, stream.size() - static_cast<uint64_t>(origin));
    EXPECT_FALSE(reader.read_failed);
    release_read_buffer(reader);
    platform::close_handle(handle);
}

TEST_F(FileReading, MappedFileThatGrowsIsReadOnAndAnEmptyOneIsRead)
{
    const Bytes packets = test::numbered_packets(0x100, 1500);
    const std::string path = write_temp(Bytes(packets.begin(), packets.begin() + 1000 * 188));
    platform::NativeHandle handle = platform::open_for_reading(path);
    PacketReadBuffer reader;
    reader.capacity = kDefaultReadBufferSize;
    if (!start_mapped_reading(reader, handle, 0, true, kSmallView)) {
        platform::close_handle(handle);
        GTEST_SKIP() << "no file views on this system";
    }
    const PacketSource source{handle, nullptr, true};
    std::vector<uint32_t> numbers = numbers_until_the_end(reader, source);
    EXPECT_EQ(numbers.size(), 1000u);
    {
        std::ofstream more(path, std::ios::binary | std::ios::app);
        more.write(reinterpret_cast<const char*>(packets.data()) + 1000 * 188, 500 * 188);
    }
    const std::vector<uint32_t> after = numbers_until_the_end(reader, source);
    numbers.insert(numbers.end(), after.begin(), after.end());
    ASSERT_EQ(numbers.size(), 1500u);
    for (uint32_t i = 0; i < numbers.size(); ++i) {
        ASSERT_EQ(numbers[i], i);
    }
    release_read_buffer(reader);
    platform::close_handle(handle);

    // A file that says it is empty is read, not mapped (special files report no size).
    platform::NativeHandle empty = platform::open_for_reading(write_temp(Bytes()));
    PacketReadBuffer fresh;
    fresh.capacity = kDefaultReadBufferSize;
    EXPECT_FALSE(start_mapped_reading(fresh, empty, 0, true));
    EXPECT_FALSE(fresh.mapped);
    platform::close_handle(empty);
}

TEST_F(FileReading, MappedViewsLeftBehindAreAllUnmappedRunAfterRun)
{
    // The populating thread unmaps the views the walk has left. A view it kept would hold one of
    // the few places of the bus-error guard, and a later run could then map nothing.
    const Bytes packets = test::numbered_packets(0x100, 4000);
    const std::string path = write_temp(packets);
    for (int run = 0; run < 24; ++run) {
        platform::NativeHandle handle = platform::open_for_reading(path);
        PacketReadBuffer reader;
        reader.capacity = kDefaultReadBufferSize;
        if (!start_mapped_reading(reader, handle, 0, true, kSmallView)) {
            platform::close_handle(handle);
            if (run == 0) {
                GTEST_SKIP() << "no file views on this system";
            }
            FAIL() << "run " << run << " could not map its views";
        }
        const PacketSource source{handle, nullptr, true};
        ASSERT_EQ(numbers_until_the_end(reader, source).size(), 4000u) << "run " << run;
        release_read_buffer(reader);
        platform::close_handle(handle);
    }
}

TEST_F(FileReading, MappedFileCutShorterWhileReadEndsInAReadFailure)
{
    // The file loses its end after mapping: the walk meets pages that are gone. It must end
    // with a failed read (reported by the pump), not with the process.
    const Bytes packets = test::numbered_packets(0x100, 5000);
    const std::string path = write_temp(packets);
    platform::NativeHandle handle = platform::open_for_reading(path);
    PacketReadBuffer reader;
    reader.capacity = kDefaultReadBufferSize;
    if (!start_mapped_reading(reader, handle, 0, false, kSmallView)) {
        platform::close_handle(handle);
        GTEST_SKIP() << "no file views on this system";
    }
    const PacketSource source{handle, nullptr, true};
    const uint8_t* first = nullptr;
    ASSERT_GT(read_packet_run(reader, source, first), 0u);
    std::filesystem::resize_file(path, 188 * 1000 + 50);
    const std::vector<uint32_t> numbers = numbers_until_the_end(reader, source);
    EXPECT_TRUE(reader.read_failed);
    EXPECT_EQ(reader.read_error, platform::file_view_damage_error());
    // What was delivered is the file's own packets, in order, up to where it was cut.
    ASSERT_FALSE(numbers.empty());
    EXPECT_LE(numbers.size(), 1000u);
    for (size_t i = 1; i < numbers.size(); ++i) {
        ASSERT_EQ(numbers[i], numbers[i - 1] + 1);
    }
    EXPECT_EQ(read_packet_run(reader, source, first), 0u);  // the failure stays
    release_read_buffer(reader);
    platform::close_handle(handle);
}

}  // namespace
}  // namespace qv
