#include "subtitle/conversion_packets.h"

#include <algorithm>
#include <string_view>

#include "subtitle/caption_encoder.h"
#include "subtitle/subtitle_reader.h"
#include "ts/crc32_mpeg2.h"

namespace qv {
namespace {

constexpr size_t kMaxPsiSectionLength = 1021;  // ISO/IEC 13818-1 2.4.4.3: section_length limit
constexpr size_t kMaxInfoLength = 0x3FF;       // 12-bit fields with the two top bits 0

void put_u16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

/// A 13-bit PID with the 3 reserved bits above it set.
void put_pid(std::vector<uint8_t>& out, uint16_t pid)
{
    put_u16(out, static_cast<uint16_t>(0xE000 | (pid & 0x1FFF)));
}

/// A 12-bit length with the 4 reserved bits above it set.
void put_info_length(std::vector<uint8_t>& out, size_t length)
{
    put_u16(out, static_cast<uint16_t>(0xF000 | (length & 0x0FFF)));
}

/// TS header of a PSI packet: unit start and transport_priority set, payload only, counter 0.
void put_psi_header(std::vector<uint8_t>& out, uint16_t pid)
{
    out.push_back(0x47);
    out.push_back(static_cast<uint8_t>(0x60 | ((pid >> 8) & 0x1F)));
    out.push_back(static_cast<uint8_t>(pid));
    out.push_back(0x10);
}

void put_crc32(std::vector<uint8_t>& out, size_t from)
{
    const uint32_t crc = crc32_mpeg2(out.data() + from, out.data() + out.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(crc >> shift));
    }
}

bool write_run(CaptionEncoderState& state, uint16_t pid, const uint8_t* run, size_t length,
               PacketWriter& writer)
{
    PidCounter& counter = find_or_add_pid_counter(*state.pid_counters, pid);
    const std::vector<uint8_t> packets = packetize(run, length, &counter);
    if (packets.empty()) {
        return false;
    }
    (void)write_packets(writer, packets.data(), packets.size());
    return true;
}

/// The caption PES of the record's text; a text too long for the length fields is cut at the
/// longest character boundary that fits (found by halving, each try a whole build).
std::vector<uint8_t> build_fitting_caption_pes(CaptionEncoderState& state, size_t& cut_bytes)
{
    const std::string_view text = state.caption_text;
    cut_bytes = 0;
    std::vector<uint8_t> pes = build_caption_pes(state, text);
    if (!pes.empty() || text.empty()) {
        return pes;
    }
    std::vector<size_t> boundaries;  // where each character begins
    for (size_t at = 0; at < text.size();) {
        boundaries.push_back(at);
        at += is_sjis_lead_byte(static_cast<uint8_t>(text[at])) && at + 1 < text.size() ? 2 : 1;
    }
    size_t fits = 0;                      // index of a boundary whose prefix fits (checked below)
    size_t too_long = boundaries.size();  // the whole text does not fit
    while (too_long - fits > 1) {
        const size_t middle = fits + (too_long - fits) / 2;
        if (build_caption_pes(state, text.substr(0, boundaries[middle])).empty()) {
            too_long = middle;
        } else {
            fits = middle;
        }
    }
    const size_t kept = boundaries[fits];
    pes = build_caption_pes(state, text.substr(0, kept));
    if (!pes.empty()) {
        cut_bytes = text.size() - kept;
    }
    return pes;
}

}  // namespace

std::array<uint8_t, 188> build_pat_packet(const CaptionEncoderState& state)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(188);
    put_psi_header(bytes, state.pat_pid);
    bytes.push_back(0x00);  // pointer_field
    bytes.push_back(0x00);  // table_id
    bytes.push_back(0xB0);  // section_syntax_indicator, section_length 17
    bytes.push_back(0x11);
    put_u16(bytes, state.transport_stream_id);
    bytes.push_back(0xC3);  // version_number 1, current_next_indicator 1
    bytes.push_back(0x00);  // section_number
    bytes.push_back(0x00);  // last_section_number
    put_u16(bytes, 0);      // program 0: the network PID
    put_pid(bytes, state.network_pid);
    put_u16(bytes, state.program_number);
    put_pid(bytes, state.pat_pmt_pid);
    put_crc32(bytes, 5);
    std::array<uint8_t, 188> packet;
    packet.fill(0xFF);
    std::copy(bytes.begin(), bytes.end(), packet.begin());
    return packet;
}

std::vector<uint8_t> build_pmt_section(const CaptionEncoderState& state)
{
    std::vector<uint8_t> bytes;
    put_psi_header(bytes, state.pmt_pid);
    bytes.push_back(0x00);  // pointer_field
    bytes.push_back(0x02);  // table_id
    bytes.push_back(0xB0);  // section_length follows below
    bytes.push_back(0x00);
    put_u16(bytes, state.program_number);
    bytes.push_back(0xC3);  // version_number 1, current_next_indicator 1
    bytes.push_back(0x00);
    bytes.push_back(0x00);
    put_pid(bytes, state.pcr_pid);
    if (state.program_info.size() > kMaxInfoLength) {
        return {};
    }
    put_info_length(bytes, state.program_info.size());
    bytes.insert(bytes.end(), state.program_info.begin(), state.program_info.end());
    for (const PmtStreamEntry& stream : state.pmt_streams) {
        if (stream.descriptors.size() > kMaxInfoLength) {
            return {};
        }
        bytes.push_back(stream.stream_type);
        put_pid(bytes, stream.pid);
        put_info_length(bytes, stream.descriptors.size());
        bytes.insert(bytes.end(), stream.descriptors.begin(), stream.descriptors.end());
    }
    const size_t section_length = bytes.size() - 8 + 4;
    if (section_length > kMaxPsiSectionLength) {
        return {};
    }
    bytes[6] = static_cast<uint8_t>(0xB0 | (section_length >> 8));
    bytes[7] = static_cast<uint8_t>(section_length);
    put_crc32(bytes, 5);
    return bytes;
}

std::vector<uint8_t> build_pes_run(uint16_t pid, const std::vector<uint8_t>& pes)
{
    std::vector<uint8_t> run = {0x47, static_cast<uint8_t>(0x40 | ((pid >> 8) & 0x1F)),
                                static_cast<uint8_t>(pid)};
    if (pes.size() <= 182) {
        run.push_back(0x30);  // adaptation field and payload
        run.push_back(static_cast<uint8_t>(183 - pes.size()));
        run.push_back(0x00);  // no adaptation field flags
        run.insert(run.end(), 182 - pes.size(), 0xFF);
    } else {
        run.push_back(0x10);  // payload only; the packetizer pads the last packet
    }
    run.insert(run.end(), pes.begin(), pes.end());
    return run;
}

bool emit_conversion_packets(CaptionEncoderState& state, int step, PacketWriter& writer,
                             size_t* cut_bytes)
{
    if (cut_bytes != nullptr) {
        *cut_bytes = 0;
    }
    if (state.pid_counters == nullptr) {
        state.pid_counters = std::make_shared<PidCounterList>();
    }
    switch (step) {
        case kStepPat: {
            const std::array<uint8_t, 188> packet = build_pat_packet(state);
            return write_run(state, state.pat_pid, packet.data(), packet.size(), writer);
        }
        case kStepPmt: {
            const std::vector<uint8_t> section = build_pmt_section(state);
            return !section.empty() &&
                   write_run(state, state.pmt_pid, section.data(), section.size(), writer);
        }
        case kStepCaption: {
            size_t cut = 0;
            const std::vector<uint8_t> pes = build_fitting_caption_pes(state, cut);
            if (pes.empty()) {
                return false;
            }
            if (cut_bytes != nullptr) {
                *cut_bytes = cut;
            }
            const std::vector<uint8_t> run = build_pes_run(state.caption_pid, pes);
            return write_run(state, state.caption_pid, run.data(), run.size(), writer);
        }
        default:
            return false;
    }
}

}  // namespace qv
