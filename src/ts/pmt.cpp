// The PMT handler: records a program's elementary streams and caption PIDs and, on request,
// writes the PMT again without its caption entries or with replacement entries in their place.
#include <algorithm>
#include <vector>

#include "ts/crc32_mpeg2.h"
#include "ts/pat_pmt.h"
#include "ts/section_assembly.h"

namespace qv {
namespace {

// table_id through program_info_length (ISO/IEC 13818-1 Table 2-33).
constexpr size_t kPmtHeaderSize = 12;
constexpr size_t kEsEntryHeaderSize = 5;
constexpr uint8_t kStreamIdentifierTag = 0x52;
constexpr uint8_t kPrivateDataStreamType = 0x06;
// section_length is a 12-bit field; a longer rebuilt section cannot be written.
constexpr size_t kMaxSectionLength = 0x0FFF;

enum class RebuildMode { parse_only, filter, replace };

/// component_tag values of the caption and superimposed-text streams (ARIB TR-B14 / TR-B15:
/// 0x30 and 0x38 for the full service, 0x87 and 0x88 for the partial-reception service).
bool is_caption_component_tag(uint8_t tag)
{
    return tag == 0x30 || tag == 0x38 || tag == 0x87 || tag == 0x88;
}

/// Video stream types that get a stream_identifier_descriptor when the entry has none:
/// MPEG-1 and MPEG-2 video, MPEG-4 visual, H.264.
bool gets_component_tag(uint8_t stream_type)
{
    return stream_type == 0x01 || stream_type == 0x02 || stream_type == 0x10 || stream_type == 0x1B;
}

bool has_caption_descriptor(ByteCursor descriptors)
{
    while (remaining(descriptors) >= 2) {
        uint8_t tag = read_u8(descriptors);
        uint8_t length = read_u8(descriptors);
        ByteCursor body = take_cursor(descriptors, length);
        if (!descriptors.ok) {
            return false;
        }
        if (tag == kStreamIdentifierTag && length > 0 && is_caption_component_tag(read_u8(body))) {
            return true;
        }
    }
    return false;
}

EsEntry& find_or_append_stream(ProgramEntry& program, uint16_t pid)
{
    for (EsEntry& stream : program.streams) {
        if (stream.pid == pid) {
            return stream;
        }
    }
    program.streams.emplace_back();
    program.streams.back().pid = pid;
    return program.streams.back();
}

void note_caption_pid(StreamContext& context, uint16_t pid, uint16_t pmt_pid)
{
    if (find_caption_entry(context, pid) != nullptr) {
        return;  // an existing entry keeps its profile
    }
    uint16_t profile =
        pmt_pid == kPartialReceptionPmtPid ? kProfilePartialService : kProfileFullService;
    context.captions.push_back(make_caption_entry(pid, profile));
}

bool keeps_entry(RebuildMode mode, const EsEntry& stream, uint32_t request_word)
{
    switch (mode) {
        case RebuildMode::replace:
            return !stream.is_caption;
        case RebuildMode::filter: {
            bool remove_captions = (request_word & kRemoveCaptionEntries) != 0;
            uint16_t remove_pid = static_cast<uint16_t>(request_word & kRemovePidMask);
            return !((remove_captions && stream.is_caption) ||
                     (remove_pid != 0 && stream.pid == remove_pid));
        }
        case RebuildMode::parse_only:
            break;
    }
    return false;
}

void append_kept_entry(std::vector<uint8_t>& loop, RebuildMode mode, const EsEntry& stream)
{
    const std::vector<uint8_t>& raw = stream.raw;
    bool without_descriptors = raw.size() == kEsEntryHeaderSize;
    if (mode == RebuildMode::replace && without_descriptors &&
        gets_component_tag(static_cast<uint8_t>(stream.stream_type))) {
        // component_tag 0 marks the main video of the service (ARIB TR-B14); the reserved top
        // bits of ES_info_length stay as they were.
        loop.insert(loop.end(), raw.begin(), raw.begin() + 3);
        loop.push_back(static_cast<uint8_t>(raw[3] & 0xF0));
        loop.push_back(0x03);
        loop.insert(loop.end(), {kStreamIdentifierTag, 0x01, 0x00});
        return;
    }
    loop.insert(loop.end(), raw.begin(), raw.end());
}

/// True when an entry of the ES loop `loop` has `pid`.
bool loop_has_pid(const std::vector<uint8_t>& loop, uint16_t pid)
{
    ByteCursor entries{loop.data(), loop.data() + loop.size()};
    while (remaining(entries) >= kEsEntryHeaderSize) {
        read_u8(entries);  // stream_type
        const uint16_t entry_pid = read_u16(entries) & 0x1FFF;
        skip_bytes(entries, read_u16(entries) & 0x0FFF);
        if (entries.ok && entry_pid == pid) {
            return true;
        }
    }
    return false;
}

/// Appends the replacement entries to `buffer`, leaving out any whose PID a kept entry already
/// has: a PMT that listed one PID twice (a caption stream on the PID of the sound, say) would
/// announce the wrong stream.
void append_replacement_entries(std::vector<uint8_t>& buffer, const std::vector<uint8_t>& entries,
                                const std::vector<uint8_t>& loop)
{
    ByteCursor cursor{entries.data(), entries.data() + entries.size()};
    while (remaining(cursor) >= kEsEntryHeaderSize) {
        const uint8_t* entry_start = cursor.pos;
        read_u8(cursor);
        const uint16_t pid = read_u16(cursor) & 0x1FFF;
        skip_bytes(cursor, read_u16(cursor) & 0x0FFF);
        if (!cursor.ok) {
            return;
        }
        if (!loop_has_pid(loop, pid)) {
            buffer.insert(buffer.end(), entry_start, cursor.pos);
        }
    }
}

/// Replaces the ES loop of the collected section by `loop` (and the replacement entries), fixes
/// section_length and the CRC_32 and writes the packets. False when the section cannot be
/// written.
bool write_rebuilt_pmt(PidState& state, size_t loop_start, uint8_t length_top_bits,
                       const std::vector<uint8_t>& loop, const ByteBuffer* replacement,
                       const PmtRewriteRequest& request)
{
    std::vector<uint8_t>& buffer = state.section_buffer;
    size_t start = section_offset(state);
    buffer.resize(loop_start);
    buffer.insert(buffer.end(), loop.begin(), loop.end());
    if (replacement != nullptr) {
        append_replacement_entries(buffer, replacement->data, loop);
    }
    // section_length counts from after its own field through the CRC_32.
    size_t section_length = buffer.size() - start + 1;
    if (section_length > kMaxSectionLength) {
        return false;
    }
    buffer[start + 1] = static_cast<uint8_t>(length_top_bits | (section_length >> 8));
    buffer[start + 2] = static_cast<uint8_t>(section_length & 0xFF);
    uint32_t crc = crc32_mpeg2(buffer.data() + start, buffer.data() + buffer.size());
    buffer.insert(buffer.end(), {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                                 static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)});
    std::vector<uint8_t> packets = packetize(buffer.data(), buffer.size(), request.counter);
    if (packets.empty()) {
        return false;
    }
    write_packets(*request.output, packets.data(), packets.size());
    return true;
}

/// What a rewrite request asks of the PMT: new caption entries in place of the old ones, the
/// caption entries or one PID taken out, or only parsing.
RebuildMode rebuild_mode(const PmtRewriteRequest& request)
{
    if (request.output == nullptr || request.counter == nullptr) {
        return RebuildMode::parse_only;
    }
    if (request.replacement_entries != nullptr && !request.replacement_entries->data.empty()) {
        return RebuildMode::replace;
    }
    return request.request_word != 0 ? RebuildMode::filter : RebuildMode::parse_only;
}

}  // namespace

uint32_t parse_pmt(StreamContext& context, ProgramEntry& program, PidState& state,
                   const uint8_t* packet, const PmtRewriteRequest& request)
{
    if (collect_section(state, packet, kPmtTableId) != SectionStatus::complete) {
        return 0;
    }
    ByteCursor body = section_body(state);
    read_u8(body);  // table_id
    uint8_t length_top_bits = read_u8(body) & 0xF0;
    read_u8(body);
    skip_bytes(body, 5);  // program_number, version, section numbers
    uint16_t pcr_pid = read_u16(body) & 0x1FFF;
    uint16_t program_info_length = read_u16(body) & 0x0FFF;
    if (!body.ok) {
        reset_section(state);
        return 0;
    }
    register_pcr_pid(context, pcr_pid);
    program.streams.clear();
    skip_bytes(body, program_info_length);
    if (!body.ok) {
        // A program_info_length past the CRC_32 leaves no ES loop, and nothing to rebuild on.
        reset_section(state);
        return 0;
    }
    size_t loop_start = section_offset(state) + kPmtHeaderSize + program_info_length;

    const RebuildMode mode = rebuild_mode(request);
    const ByteBuffer* replacement =
        mode == RebuildMode::replace ? request.replacement_entries : nullptr;

    uint32_t result = 0;
    std::vector<uint8_t> loop;
    while (remaining(body) > 0) {
        const uint8_t* entry_start = body.pos;
        uint8_t stream_type = read_u8(body);
        uint16_t pid = read_u16(body) & 0x1FFF;
        uint16_t es_info_length = read_u16(body) & 0x0FFF;
        ByteCursor descriptors = take_cursor(body, es_info_length);
        if (!body.ok) {
            break;  // the entry runs into the CRC_32
        }
        EsEntry& stream = find_or_append_stream(program, pid);
        stream.stream_type = stream_type;
        stream.raw.assign(entry_start, body.pos);
        stream.is_caption = pid != 0 && stream_type == kPrivateDataStreamType &&
                            has_caption_descriptor(descriptors);
        result |= kPmtTaken;
        if (stream.is_caption) {
            note_caption_pid(context, pid, state.pid);
        }
        if (keeps_entry(mode, stream, request.request_word)) {
            append_kept_entry(loop, mode, stream);
        }
    }

    // In replace mode the new caption entries follow even when every entry was a caption:
    // a programme of captions alone must not lose its PMT.
    const bool rebuilt = !loop.empty() || mode == RebuildMode::replace;
    if (rebuilt &&
        write_rebuilt_pmt(state, loop_start, length_top_bits, loop, replacement, request)) {
        result |= kPmtWritten;
    }
    reset_section(state);
    return result;
}

}  // namespace qv
