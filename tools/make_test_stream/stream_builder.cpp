#include "stream_builder.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "caption_data.h"

namespace qv::test_stream {

namespace {

// All scheduling runs on the 27 MHz system clock (ISO/IEC 13818-1 2.4.2.1), counted from the
// first packet; PES time stamps are that clock / 300 plus the PCR origin and a decoder delay.
constexpr uint64_t kSystemClock = 27000000;
constexpr uint64_t kPsiPeriod = kSystemClock / 10;    // PAT and PMT every 100 ms
constexpr uint64_t kSiPeriod = kSystemClock;          // SDT and EIT p/f every second
constexpr uint64_t kTotPeriod = 5 * kSystemClock;     // TOT every 5 seconds
constexpr uint64_t kTotPhase = kSystemClock / 10;     // … after the first PCR
constexpr uint64_t kPcrPeriod = kSystemClock / 25;    // PCR every 40 ms
constexpr uint64_t kVideoFrame = 900900;              // 1001/30000 s
constexpr uint64_t kVideoFrameTicks = 3003;           // the same in 90 kHz ticks
constexpr uint64_t kAudioFrame = 576000;              // 1024 samples at 48 kHz
constexpr uint64_t kAudioFrameTicks = 1920;
constexpr uint64_t kManagementPeriod = kSystemClock;  // caption management data every second
constexpr uint64_t kStatementPhase = kSystemClock / 2;
constexpr uint64_t kStatementPeriod = kSystemClock * 3 / 2;
constexpr uint64_t kDecoderDelay = 45000;  // 0.5 s between a packet's PCR time and its PTS
constexpr uint32_t kGopLength = 15;        // I P B B P B B …, coded order
constexpr uint32_t kBitsPerPacket = 188 * 8;

constexpr uint16_t kPatPid = 0x0000;
constexpr uint16_t kSdtPid = 0x0011;
constexpr uint16_t kEitPid = 0x0012;
constexpr uint16_t kTotPid = 0x0014;
constexpr uint16_t kTransportStreamId = 0x7FE0;
constexpr uint16_t kOriginalNetworkId = 0x7FE0;

constexpr uint8_t kVideoStreamId = 0xE0;
constexpr uint8_t kAudioStreamId = 0xC0;
constexpr uint8_t kPrivateStream1 = 0xBD;

/// Deterministic filler for the video and audio payloads (xorshift64).
struct FillerSource {
    uint64_t state = 0x9E3779B97F4A7C15ull;
};

void fill_bytes(FillerSource& source, uint8_t* out, size_t length)
{
    for (size_t index = 0; index < length; ++index) {
        if (index % 8 == 0) {
            source.state ^= source.state << 13;
            source.state ^= source.state >> 7;
            source.state ^= source.state << 17;
        }
        out[index] = static_cast<uint8_t>(source.state >> (8 * (index % 8)));
    }
}

struct ProgramState {
    ProgramLayout layout;
    ContinuityCounter pmt_counter;
    ContinuityCounter video_counter;
    ContinuityCounter audio_counter;
    ContinuityCounter caption_counter;
    PesCutter video;
    uint64_t next_video_frame = 0;
    uint64_t next_audio_frame = 0;
    uint64_t next_pcr = 1;  ///< the first PCR follows the PAT in the first slot
    uint64_t next_management = 0;
    uint64_t next_statement = 0;  ///< index of the next statement
};

struct MuxState {
    StreamOptions options;
    std::vector<ProgramState> programs;
    std::deque<Bytes> ready;  ///< built packets waiting for a slot, in the order they fell due
    FillerSource filler;
    ContinuityCounter pat_counter;
    ContinuityCounter sdt_counter;
    ContinuityCounter eit_counter;
    ContinuityCounter tot_counter;
    uint64_t next_psi = 0;
    uint64_t next_si = 0;
    uint64_t next_tot = kTotPhase;
    size_t next_video_program = 0;  ///< round robin among the video streams
    size_t video_frame_bytes = 0;   ///< mean coded size of a video frame
    size_t audio_frame_bytes = 0;
    uint64_t drop_pid_packets = 0;
    Bytes pat;
    Bytes sdt;
    std::vector<Bytes> pmts;
    std::vector<Bytes> eits;  ///< present and following section per programme
    Bytes management;               ///< caption PES data of the management group
    std::vector<Bytes> statements;  ///< one per caption text
};

uint64_t pts_at(const MuxState& mux, uint64_t clock)
{
    return mux.options.pcr_start + clock / 300 + kDecoderDelay;
}

void queue_section(MuxState& mux, const Bytes& section, uint16_t pid, ContinuityCounter& counter)
{
    for (Bytes& packet : packetize_section(section, pid, counter)) {
        mux.ready.push_back(std::move(packet));
    }
}

void queue_pes(MuxState& mux, Bytes pes, uint16_t pid, ContinuityCounter& counter)
{
    PesCutter cutter;
    cutter.pes = std::move(pes);
    cutter.pid = pid;
    while (has_pending(cutter)) {
        Bytes packet(kTsPacketSize);
        cut_next_packet(cutter, counter, false, 0, packet.data());
        mux.ready.push_back(std::move(packet));
    }
}

/// Relative size of a frame by its place in the group of pictures; the weights of one group
/// add up to 16.
size_t frame_size(const MuxState& mux, uint64_t frame)
{
    const uint64_t place = frame % kGopLength;
    const size_t tenths = place == 0 ? 40 : (place % 3 == 0 ? 15 : 6);
    return mux.video_frame_bytes * tenths * kGopLength / 160;
}

void start_video_frame(MuxState& mux, ProgramState& program)
{
    const uint64_t frame = program.next_video_frame++;
    const uint64_t place = frame % kGopLength;
    const bool reference = place == 0 || place % 3 == 0;
    Bytes payload(std::max<size_t>(frame_size(mux, frame), 16));
    fill_bytes(mux.filler, payload.data(), payload.size());
    // Start codes of a sequence header (I frames) or a picture, as MPEG-2 video begins.
    const uint8_t start_code[] = {0x00, 0x00, 0x01, static_cast<uint8_t>(place == 0 ? 0xB3 : 0x00)};
    std::memcpy(payload.data(), start_code, sizeof start_code);
    const uint64_t dts = mux.options.pcr_start + frame * kVideoFrameTicks + kDecoderDelay;
    // Reference frames are shown after the two B frames that follow them in coded order.
    const uint64_t pts = reference ? dts + 3 * kVideoFrameTicks : dts;
    program.video.pes = make_pes(kVideoStreamId, payload, pts, reference, dts, true);
    program.video.position = 0;
    program.video.pid = program.layout.video_pid;
}

void queue_audio_frame(MuxState& mux, ProgramState& program)
{
    const uint64_t frame = program.next_audio_frame++;
    Bytes payload(mux.audio_frame_bytes);
    fill_bytes(mux.filler, payload.data(), payload.size());
    // An ADTS-like sync word (ISO/IEC 13818-7), MPEG-2 AAC LC, 48 kHz.
    const uint8_t header[] = {0xFF, 0xF1, 0x4C, 0x80};
    std::memcpy(payload.data(), header, sizeof header);
    const uint64_t pts = mux.options.pcr_start + frame * kAudioFrameTicks + kDecoderDelay;
    queue_pes(mux, make_pes(kAudioStreamId, payload, pts, false, 0, false),
              program.layout.audio_pid, program.audio_counter);
}

/// Puts everything that falls due at `clock` into the ready queue.
void queue_due_items(MuxState& mux, uint64_t clock)
{
    if (clock >= mux.next_psi) {
        queue_section(mux, mux.pat, kPatPid, mux.pat_counter);
        for (size_t index = 0; index < mux.programs.size(); ++index) {
            ProgramState& program = mux.programs[index];
            queue_section(mux, mux.pmts[index], program.layout.pmt_pid, program.pmt_counter);
        }
        mux.next_psi += kPsiPeriod;
    }
    if (clock >= mux.next_si) {
        queue_section(mux, mux.sdt, kSdtPid, mux.sdt_counter);
        for (const Bytes& eit : mux.eits) {
            queue_section(mux, eit, kEitPid, mux.eit_counter);
        }
        mux.next_si += kSiPeriod;
    }
    if (clock >= mux.next_tot) {
        const int64_t now = seconds_from_broadcast_time(mux.options.start) +
                            static_cast<int64_t>(clock / kSystemClock);
        queue_section(mux, make_tot(now), kTotPid, mux.tot_counter);
        mux.next_tot += kTotPeriod;
    }
    for (ProgramState& program : mux.programs) {
        if (mux.options.captions) {
            const uint16_t pid = program.layout.caption_pid;
            if (clock >= program.next_management) {
                queue_pes(mux, make_pes(kPrivateStream1, mux.management, pts_at(mux, clock),
                                        false, 0, false),
                          pid, program.caption_counter);
                program.next_management += kManagementPeriod;
            }
            if (clock >= kStatementPhase + program.next_statement * kStatementPeriod) {
                const Bytes& data = mux.statements[program.next_statement % mux.statements.size()];
                queue_pes(mux, make_pes(kPrivateStream1, data, pts_at(mux, clock), false, 0, false),
                          pid, program.caption_counter);
                program.next_statement += 1;
            }
        }
        if (clock >= program.next_audio_frame * kAudioFrame) {
            queue_audio_frame(mux, program);
        }
    }
}

/// Builds the next video packet of `program` into `packet`, with a PCR when `with_pcr`.
void cut_video_packet(MuxState& mux, ProgramState& program, bool with_pcr, uint64_t clock,
                      uint8_t* packet)
{
    if (!has_pending(program.video)) {
        start_video_frame(mux, program);
    }
    const uint64_t pcr = (mux.options.pcr_start % kTimestampModulus) * 300 + clock;
    cut_next_packet(program.video, program.video_counter, with_pcr, pcr, packet);
}

/// Fills `packet` with what the slot at `clock` carries: a due PCR first, then the ready queue,
/// then video that may be sent by now, else a null packet.
void fill_slot(MuxState& mux, uint64_t clock, uint8_t* packet)
{
    for (ProgramState& program : mux.programs) {
        if (clock >= program.next_pcr) {
            program.next_pcr += kPcrPeriod;
            cut_video_packet(mux, program, true, clock, packet);
            return;
        }
    }
    if (!mux.ready.empty()) {
        std::memcpy(packet, mux.ready.front().data(), kTsPacketSize);
        mux.ready.pop_front();
        return;
    }
    // A video frame may go out from its own frame time on (the decoder delay keeps its time
    // stamps ahead of the PCR), so the video never runs ahead of the clock.
    for (size_t turn = 0; turn < mux.programs.size(); ++turn) {
        ProgramState& program = mux.programs[(mux.next_video_program + turn) % mux.programs.size()];
        if (has_pending(program.video) || clock >= program.next_video_frame * kVideoFrame) {
            mux.next_video_program = (mux.next_video_program + turn + 1) % mux.programs.size();
            cut_video_packet(mux, program, false, clock, packet);
            return;
        }
    }
    make_null_packet(packet);
}

/// Sizes the elementary streams so that about 85 % of what the tables, audio and captions
/// leave goes to video and the rest to null packets. Integer arithmetic in packets per
/// 1000 seconds, so that every compiler and platform makes the same bytes.
bool plan_rates(MuxState& mux, std::string& error)
{
    const int64_t programs = mux.options.programs;
    const int64_t packets = int64_t{mux.options.bit_rate} * 1000 / kBitsPerPacket;
    const uint32_t audio_bit_rate =
        std::clamp<uint32_t>(mux.options.bit_rate / 16 / mux.options.programs, 32000, 192000);
    mux.audio_frame_bytes = audio_bit_rate / 8 * 1024 / 48000;
    const int64_t audio_packets_per_frame =
        static_cast<int64_t>((mux.audio_frame_bytes + 14 + kTsPayloadSize - 1) / kTsPayloadSize);
    const int64_t audio_packets = audio_packets_per_frame * 46875 * programs;  // 46.875 frames/s
    // PAT and PMTs 10/s, SDT 2/s at most, EIT p/f 2/s and captions about 2/s per programme,
    // TOT 0.2/s.
    const int64_t table_packets = (10 * (1 + programs) + 2 + 4 * programs) * 1000 + 200;
    const int64_t video_packets = (packets - audio_packets - table_packets) * 85 / 100;
    const int64_t frame_bytes =
        video_packets * static_cast<int64_t>(kTsPayloadSize) * 1001 / (programs * 30000 * 1000) - 19;
    if (frame_bytes < 256) {
        error = "bit rate too low for " + std::to_string(programs) + " programme(s)";
        return false;
    }
    mux.video_frame_bytes = static_cast<size_t>(frame_bytes);
    return true;
}

bool build_tables(MuxState& mux, std::string& error)
{
    std::vector<ProgramLayout> layouts;
    std::vector<std::string> service_names;
    for (uint32_t index = 0; index < mux.options.programs; ++index) {
        ProgramState program;
        program.layout = program_layout(index, mux.options.captions);
        layouts.push_back(program.layout);
        service_names.push_back("字幕テスト " + std::to_string(index + 1));
        mux.programs.push_back(program);
        mux.pmts.push_back(make_pmt(program.layout));
    }
    mux.pat = make_pat(kTransportStreamId, layouts);
    if (!make_sdt(kTransportStreamId, kOriginalNetworkId, layouts, "試験放送", service_names,
                  mux.sdt)) {
        error = "a service name cannot be written in 8-unit code";
        return false;
    }
    // The present event is the half hour in which the stream starts; the following one the
    // hour after it.
    const int64_t start = seconds_from_broadcast_time(mux.options.start);
    const int64_t present_start = start - (start % 1800 + 1800) % 1800;
    EventDescription present{0x0100, present_start, 1800, true, "字幕の試験番組",
                             "日本語の字幕を表示します"};
    EventDescription following{0x0101, present_start + 1800, 3600, false, "次の番組",
                               "確認のための番組"};
    for (const ProgramLayout& layout : layouts) {
        Bytes present_section;
        Bytes following_section;
        if (!make_eit_pf(layout.service_id, kTransportStreamId, kOriginalNetworkId, 0, present,
                         present_section) ||
            !make_eit_pf(layout.service_id, kTransportStreamId, kOriginalNetworkId, 1, following,
                         following_section)) {
            error = "an event text cannot be written in 8-unit code";
            return false;
        }
        mux.eits.push_back(std::move(present_section));
        mux.eits.push_back(std::move(following_section));
    }
    mux.management = make_caption_pes_data(make_management_group());
    for (const std::string& text : caption_texts()) {
        Bytes group;
        if (!make_statement_group(text, group)) {
            error = "a caption text cannot be written in 8-unit code";
            return false;
        }
        mux.statements.push_back(make_caption_pes_data(group));
    }
    return true;
}

/// The 4-byte prefix of a 192-byte packet: copy permission 0 and the 30-bit arrival time on the
/// 27 MHz clock.
void put_arrival_time(uint8_t* prefix, uint64_t clock)
{
    const uint32_t value = static_cast<uint32_t>(clock & 0x3FFFFFFF);
    prefix[0] = static_cast<uint8_t>(value >> 24);
    prefix[1] = static_cast<uint8_t>(value >> 16);
    prefix[2] = static_cast<uint8_t>(value >> 8);
    prefix[3] = static_cast<uint8_t>(value);
}

}  // namespace

ProgramLayout program_layout(uint32_t index, bool captions)
{
    ProgramLayout layout;
    const auto shift = static_cast<uint16_t>(0x0100 * index);
    layout.service_id = static_cast<uint16_t>(0x0400 + index);
    layout.pmt_pid = static_cast<uint16_t>(0x01F0 + index);
    layout.video_pid = static_cast<uint16_t>(0x0111 + shift);
    layout.audio_pid = static_cast<uint16_t>(0x0112 + shift);
    layout.caption_pid = static_cast<uint16_t>(0x0130 + shift);
    layout.captions = captions;
    return layout;
}

const std::vector<std::string>& caption_texts()
{
    static const std::vector<std::string> texts = {"こんにちは", "字幕のテスト", "ABC 123"};
    return texts;
}

bool check_stream_options(const StreamOptions& options, std::string& error)
{
    if (options.programs < 1 || options.programs > kMaxPrograms) {
        error = "the number of programmes must lie between 1 and " + std::to_string(kMaxPrograms);
        return false;
    }
    if (options.packet_size != 188 && options.packet_size != 192) {
        error = "the packet size must be 188 or 192";
        return false;
    }
    if (options.bit_rate < 100000 || options.bit_rate > 200000000) {
        error = "the bit rate must lie between 100000 and 200000000";
        return false;
    }
    if (options.size_bytes == 0 && options.duration_ms <= 0) {
        error = "the duration must be positive";
        return false;
    }
    if (options.drop_pid >= kNullPacketPid) {
        error = "the PID to drop packets from must lie below 0x1FFF";
        return false;
    }
    MuxState probe;
    probe.options = options;
    return plan_rates(probe, error);
}

uint64_t stream_packet_count(const StreamOptions& options)
{
    if (options.size_bytes > 0) {
        return options.size_bytes / options.packet_size;
    }
    return static_cast<uint64_t>(options.duration_ms) * options.bit_rate /
           (kBitsPerPacket * 1000ull);
}

bool generate_stream(const StreamOptions& options, const StreamSink& sink, std::string& error)
{
    if (!check_stream_options(options, error)) {
        return false;
    }
    MuxState mux;
    mux.options = options;
    if (!plan_rates(mux, error) || !build_tables(mux, error)) {
        return false;
    }
    const uint64_t packets = stream_packet_count(options);
    const size_t prefix = options.packet_size - kTsPacketSize;
    uint8_t unit[192] = {};
    for (uint64_t index = 0; index < packets; ++index) {
        // Slot time on the 27 MHz clock, split so that the product cannot overflow.
        const uint64_t bits = index * kBitsPerPacket;
        const uint64_t clock = bits / options.bit_rate * kSystemClock +
                               bits % options.bit_rate * kSystemClock / options.bit_rate;
        queue_due_items(mux, clock);
        uint8_t* packet = unit + prefix;
        fill_slot(mux, clock, packet);
        const uint16_t pid = static_cast<uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
        if (options.drop_every > 0 && pid == options.drop_pid &&
            ++mux.drop_pid_packets % options.drop_every == 0) {
            make_null_packet(packet);  // the packet is lost: its counter value is skipped
        }
        if (prefix > 0) {
            put_arrival_time(unit, clock);
        }
        if (!sink(unit, options.packet_size)) {
            error = "the output cannot be written";
            return false;
        }
    }
    return true;
}

}  // namespace qv::test_stream
