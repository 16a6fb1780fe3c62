// The per-packet path every worker runs (read_packet, parse_packet, check_continuity, clock
// updates) over a 100 MiB broadcast-like stream held in memory: a video PID with a PES (PTS and
// DTS) per frame, an audio PID, a caption PID, PAT and PMT every 100 ms, a PCR every 40 ms and
// null packets, at about 16 Mbit/s.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ts/packet_header.h"
#include "ts/packet_reader.h"
#include "ts/stream_clock.h"
#include "ts/stream_context.h"
#include "ts/tuner_buffer.h"

namespace {

using qv::kPacketSize;

constexpr size_t kStreamBytes = size_t{100} << 20;
/// A stream that stays in the cache: the parser's own cost without the memory traffic.
constexpr size_t kCachedStreamBytes = size_t{4} << 20;
constexpr uint16_t kVideoPid = 0x111;
constexpr uint16_t kAudioPid = 0x112;
constexpr uint16_t kCaptionPid = 0x130;
constexpr uint16_t kPcrPid = 0x1FF;
constexpr uint16_t kPmtPid = 0x1F0;
constexpr uint64_t kStartClock = 8589934592ull - 90000ull * 20;  // wraps 20 s in

struct StreamWriter {
    std::vector<uint8_t> bytes;
    uint8_t counters[0x2000] = {};

    uint8_t* add(uint16_t pid, bool unit_start, bool payload, bool adaptation)
    {
        const size_t at = bytes.size();
        bytes.resize(at + kPacketSize, 0xFF);
        uint8_t* packet = bytes.data() + at;
        packet[0] = 0x47;
        packet[1] = static_cast<uint8_t>((unit_start ? 0x40 : 0) | (pid >> 8));
        packet[2] = static_cast<uint8_t>(pid);
        packet[3] = static_cast<uint8_t>(((adaptation ? 2 : 0) | (payload ? 1 : 0)) << 4 | (counters[pid] & 0x0F));
        if (payload && pid != qv::kNullPid) {
            ++counters[pid];
        }
        for (size_t i = 4; i < kPacketSize; ++i) {
            packet[i] = static_cast<uint8_t>(i * 7 + pid);
        }
        return packet;
    }
    static void put_stamp(uint8_t* field, uint8_t prefix, uint64_t value)
    {
        field[0] = static_cast<uint8_t>((prefix << 4) | ((value >> 29) & 0x0E) | 1);
        field[1] = static_cast<uint8_t>(value >> 22);
        field[2] = static_cast<uint8_t>(((value >> 14) & 0xFE) | 1);
        field[3] = static_cast<uint8_t>(value >> 7);
        field[4] = static_cast<uint8_t>(((value << 1) & 0xFE) | 1);
    }
    void pes_start(uint16_t pid, uint8_t stream_id, uint64_t pts, bool with_dts)
    {
        uint8_t* packet = add(pid, true, true, false);
        const uint8_t header[] = {0x00, 0x00, 0x01, stream_id, 0x00, 0x00, 0x80,
                                  static_cast<uint8_t>(with_dts ? 0xC0 : 0x80),
                                  static_cast<uint8_t>(with_dts ? 10 : 5)};
        std::memcpy(packet + 4, header, sizeof header);
        put_stamp(packet + 13, with_dts ? 3 : 2, pts & qv::kClockMask);
        if (with_dts) {
            put_stamp(packet + 18, 1, (pts - 3003) & qv::kClockMask);
        }
    }
    void pcr(uint64_t base)
    {
        uint8_t* packet = add(kPcrPid, false, false, true);
        base &= qv::kClockMask;
        const uint8_t field[] = {183, 0x10, static_cast<uint8_t>(base >> 25), static_cast<uint8_t>(base >> 17),
                                 static_cast<uint8_t>(base >> 9), static_cast<uint8_t>(base >> 1),
                                 static_cast<uint8_t>(((base & 1) << 7) | 0x7E), 0x00};
        std::memcpy(packet + 4, field, sizeof field);
    }
};

std::vector<uint8_t> make_stream(size_t stream_bytes)
{
    StreamWriter writer;
    writer.bytes.reserve(stream_bytes + 64 * kPacketSize);
    // 16 Mbit/s is about 10638 packets per second: one 90 kHz tick every ~8.46 packets.
    const double ticks_per_packet = 90000.0 / 10638.0;
    double clock = 0;
    uint64_t next_pcr = 0, next_video = 0, next_audio = 0, next_psi = 0, next_caption = 0;
    for (size_t n = 0; writer.bytes.size() < stream_bytes; ++n) {
        const uint64_t now = static_cast<uint64_t>(clock);
        if (now >= next_pcr) {
            writer.pcr(kStartClock + now);
            next_pcr += 3600;  // 40 ms
        } else if (now >= next_psi) {
            (void)writer.add(0x0000, true, true, false);
            (void)writer.add(kPmtPid, true, true, false);
            next_psi += 9000;
        } else if (now >= next_video) {
            writer.pes_start(kVideoPid, 0xE0, kStartClock + now + 45000, true);
            next_video += 3003;
        } else if (now >= next_audio) {
            writer.pes_start(kAudioPid, 0xC0, kStartClock + now + 45000, false);
            next_audio += 1920;
        } else if (now >= next_caption) {
            writer.pes_start(kCaptionPid, 0xBD, kStartClock + now + 45000, false);
            next_caption += 90000;
        } else if (n % 50 == 0) {
            (void)writer.add(qv::kNullPid, false, true, false);
        } else {
            (void)writer.add(n % 9 == 0 ? kAudioPid : kVideoPid, false, true, false);
        }
        clock += ticks_per_packet;
    }
    return writer.bytes;
}

enum class Stages { read, read_parse, all, all_but_wall_clock };

const std::vector<uint8_t>& stream_bytes(size_t size)
{
    static const std::vector<uint8_t> large = make_stream(kStreamBytes);
    static const std::vector<uint8_t> small = make_stream(kCachedStreamBytes);
    return size == kStreamBytes ? large : small;
}

void run_stages(benchmark::State& state, Stages stages)
{
    const std::vector<uint8_t>& stream = stream_bytes(static_cast<size_t>(state.range(0)));
    qv::PacketReadBuffer reader;
    // The stream lies where a read would have put it: behind a lead of room for the kept tail.
    constexpr size_t kLead = 4096;
    reader.capacity = static_cast<uint32_t>(stream.size());
    reader.block.reset(new uint8_t[kLead + stream.size()]);
    reader.read_position = reader.block.get() + kLead;
    qv::TunerReceiveBuffer empty;  // in-memory source: nothing more to read
    const qv::PacketSource source{qv::platform::kClosedHandle, &empty};
    int64_t packets = 0;
    int64_t drops = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(reader.read_position, stream.data(), stream.size());
        reader.data = reader.read_position;
        reader.cursor = 0;
        reader.valid_length = static_cast<uint32_t>(stream.size());
        reader.awaiting_more = false;
        auto context = std::make_unique<qv::StreamContext>();
        context->pcr_pid_set[0] = kPcrPid;
        state.ResumeTiming();

        const uint8_t* packet = nullptr;
        while (qv::read_packet(reader, source, 188, packet) != 0) {
            ++packets;
            if (stages == Stages::read) {
                benchmark::DoNotOptimize(packet);
                continue;
            }
            qv::PidState* pid_state = qv::parse_packet(*context, packet);
            if (pid_state == nullptr || stages == Stages::read_parse) {
                continue;
            }
            drops += qv::check_continuity(*context, *pid_state) ? 1 : 0;
            if (stages == Stages::all) {
                qv::update_stream_clocks(*context, *pid_state);
            } else {  // the same without reading the system tick count
                if (pid_state->adaptation_parsed && pid_state->adaptation.pcr_flag) {
                    qv::update_pcr_clock(context->pcr_clock, pid_state->adaptation);
                }
                if (pid_state->pes_parsed && (pid_state->pes.pts_dts_flags & 2)) {
                    qv::update_pts_clock(context->pts_clock, pid_state->pes);
                    qv::update_dts_clock(context->dts_clock, pid_state->pes);
                }
            }
        }
        benchmark::DoNotOptimize(qv::select_clock(*context, qv::ClockPreference::pcr).elapsed);
    }
    state.SetItemsProcessed(packets);
    state.SetBytesProcessed(packets * static_cast<int64_t>(kPacketSize));
    // Seconds per packet (shown with an SI prefix: "n" is nanoseconds).
    state.counters["per_packet"] = benchmark::Counter(static_cast<double>(packets),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["drops"] = static_cast<double>(drops);
}

void BM_Read(benchmark::State& state) { run_stages(state, Stages::read); }
void BM_ReadParse(benchmark::State& state) { run_stages(state, Stages::read_parse); }
void BM_ReadParseContinuityClocks(benchmark::State& state) { run_stages(state, Stages::all); }
void BM_WithoutWallClock(benchmark::State& state) { run_stages(state, Stages::all_but_wall_clock); }
BENCHMARK(BM_Read)->Unit(benchmark::kMillisecond)->Arg(kStreamBytes)->Arg(kCachedStreamBytes);
BENCHMARK(BM_ReadParse)->Unit(benchmark::kMillisecond)->Arg(kStreamBytes)->Arg(kCachedStreamBytes);
BENCHMARK(BM_ReadParseContinuityClocks)->Unit(benchmark::kMillisecond)->Arg(kStreamBytes)->Arg(kCachedStreamBytes);
BENCHMARK(BM_WithoutWallClock)->Unit(benchmark::kMillisecond)->Arg(kStreamBytes)->Arg(kCachedStreamBytes);

}  // namespace
