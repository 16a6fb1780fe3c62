#include "support/caption_builders.h"

#include <algorithm>
#include <cstdio>

#include "caption/caption_pes.h"
#include "arib/crc16.h"
#include "platform/text.h"
#include "support/section_builders.h"
#include "ts/packet_header.h"
#include "ts/pat_pmt.h"
#include "ts/stream_context.h"

namespace qv::test {
namespace {

std::string hex_around(std::string_view bytes, size_t at)
{
    const size_t from = at > 8 ? at - 8 : 0;
    const size_t to = std::min(bytes.size(), at + 8);
    std::string text;
    char cell[8];
    for (size_t index = from; index < to; ++index) {
        std::snprintf(cell, sizeof cell, index == at ? "[%02X]" : " %02X ",
                      static_cast<uint8_t>(bytes[index]));
        text += cell;
    }
    return text.empty() ? "(none)" : text;
}

void put_u16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void put_u24(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 16));
    put_u16(out, value);
}

}  // namespace

::testing::AssertionResult same_bytes(std::string_view actual, std::string_view expected)
{
    const size_t common = std::min(actual.size(), expected.size());
    size_t at = 0;
    while (at < common && actual[at] == expected[at]) {
        ++at;
    }
    if (at == actual.size() && at == expected.size()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "bytes part at offset " << at << " (lengths " << actual.size() << " and "
           << expected.size() << ")\n  actual:   " << hex_around(actual, at)
           << "\n  expected: " << hex_around(expected, at);
}

std::string byte_string(std::initializer_list<uint8_t> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string sjis_to_utf8(std::string_view sjis)
{
    return platform::utf16_to_utf8(platform::sjis_to_utf16(sjis));
}

Bytes data_unit(uint8_t parameter, const Bytes& body)
{
    Bytes unit = {0x1F, parameter};
    put_u24(unit, static_cast<uint32_t>(body.size()));
    unit.insert(unit.end(), body.begin(), body.end());
    return unit;
}

Bytes management_data(const std::vector<std::string>& language_codes, const Bytes& units)
{
    Bytes data = {0x00, static_cast<uint8_t>(language_codes.size())};  // TMD 0 (free)
    uint8_t tag = 0;
    for (const std::string& code : language_codes) {
        data.push_back(static_cast<uint8_t>(tag++ << 5));  // language_tag, DMF 0
        for (size_t index = 0; index < 3; ++index) {
            data.push_back(index < code.size() ? static_cast<uint8_t>(code[index]) : 0x20);
        }
        data.push_back(0x00);  // Format, TCS, rollup_mode
    }
    put_u24(data, static_cast<uint32_t>(units.size()));
    data.insert(data.end(), units.begin(), units.end());
    return data;
}

Bytes statement_data(const Bytes& units)
{
    Bytes data = {0x00};  // TMD 0 (free)
    put_u24(data, static_cast<uint32_t>(units.size()));
    data.insert(data.end(), units.begin(), units.end());
    return data;
}

Bytes data_group(uint8_t data_group_id, const Bytes& body)
{
    Bytes group = {static_cast<uint8_t>(data_group_id << 2), 0x00, 0x00};
    put_u16(group, static_cast<uint32_t>(body.size()));
    group.insert(group.end(), body.begin(), body.end());
    put_u16(group, crc16(group.data(), group.size()));
    return group;
}

Bytes pes_data(const Bytes& groups)
{
    Bytes data = {0x80, 0xFF, 0xF0};
    data.insert(data.end(), groups.begin(), groups.end());
    return data;
}

Bytes pes_packet(const Bytes& payload, uint64_t pts)
{
    Bytes pes = {0x00, 0x00, 0x01, 0xBD};
    put_u16(pes, static_cast<uint32_t>(payload.size() + 8));
    pes.push_back(0x80);  // marker bits '10', no scrambling, no priority, no alignment
    pes.push_back(0x80);  // PTS only
    pes.push_back(0x05);  // PES_header_data_length
    pes.push_back(static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)));
    put_u16(pes, static_cast<uint32_t>(((pts >> 14) & 0xFFFE) | 1));
    put_u16(pes, static_cast<uint32_t>(((pts << 1) & 0xFFFE) | 1));
    pes.insert(pes.end(), payload.begin(), payload.end());
    return pes;
}

std::vector<Bytes> ts_packets(const Bytes& pes, uint16_t pid, uint8_t& counter)
{
    std::vector<Bytes> packets;
    size_t at = 0;
    do {
        const size_t left = pes.size() - at;
        Bytes packet = {0x47, static_cast<uint8_t>((at == 0 ? 0x40 : 0x00) | (pid >> 8)),
                        static_cast<uint8_t>(pid), 0};
        if (left >= 184) {
            packet[3] = static_cast<uint8_t>(0x10 | counter);
        } else {
            // Adaptation field of stuffing so that the payload ends the packet.
            const size_t field = 184 - left;  // length byte included
            packet[3] = static_cast<uint8_t>(0x30 | counter);
            packet.push_back(static_cast<uint8_t>(field - 1));
            if (field > 1) {
                packet.push_back(0x00);  // no flags
                packet.insert(packet.end(), field - 2, 0xFF);
            }
        }
        const size_t take = std::min<size_t>(left, 184);
        packet.insert(packet.end(), pes.begin() + static_cast<ptrdiff_t>(at),
                      pes.begin() + static_cast<ptrdiff_t>(at + take));
        at += take;
        counter = static_cast<uint8_t>((counter + 1) & 0x0F);
        packets.push_back(std::move(packet));
    } while (at < pes.size());
    return packets;
}

std::vector<Bytes> split_pes_payloads(const Bytes& run)
{
    std::vector<Bytes> payloads;
    size_t at = 0;
    while (run.size() - at >= 3 + 5) {
        const size_t header = 3 + (run[at + 2] & 0x0F);
        if (run.size() - at < header + 5) {
            break;
        }
        const size_t group_size = size_t{run[at + header + 3]} << 8 | run[at + header + 4];
        const size_t block = header + 5 + group_size + 2;
        if (run.size() - at < block) {
            break;
        }
        payloads.emplace_back(run.begin() + static_cast<ptrdiff_t>(at),
                              run.begin() + static_cast<ptrdiff_t>(at + block));
        at += block;
    }
    return payloads;
}

CaptionFeed::CaptionFeed(uint16_t caption_pid, uint16_t text_profile)
    : context(std::make_unique<StreamContext>()), pid(caption_pid)
{
    context->captions.push_back(make_caption_entry(caption_pid, text_profile));
    entry = &context->captions.back();
}

std::unique_ptr<CaptionFeed> CaptionFeed::announced(uint16_t caption_pid, uint16_t pmt_pid)
{
    auto feed = std::make_unique<CaptionFeed>(caption_pid);
    feed->context = std::make_unique<StreamContext>();
    feed->entry = nullptr;
    StreamContext& context = *feed->context;
    uint8_t pat_counter = 0;
    uint8_t pmt_counter = 0;
    for (const Bytes& packet :
         section_packets(pat_section(1, {{0x0400, pmt_pid}}), 0x0000, pat_counter)) {
        if (PidState* state = ingest_packet(context, packet)) {
            (void)parse_pat(context, *state, packet.data());
        }
    }
    const Bytes pmt =
        pmt_section(0x0400, 0x01FF, es_entry(0x06, caption_pid, stream_identifier(0x30)));
    for (const Bytes& packet : section_packets(pmt, pmt_pid, pmt_counter)) {
        PidState* state = ingest_packet(context, packet);
        ProgramEntry* program = find_program_by_pmt_pid(context, pmt_pid);
        if (state != nullptr && program != nullptr) {
            (void)parse_pmt(context, *program, *state, packet.data());
        }
    }
    feed->entry = find_caption_entry(context, caption_pid);
    return feed;
}

CaptionFeed::~CaptionFeed() = default;

bool feed_packet(CaptionFeed& feed, const Bytes& packet, ByteBuffer* merge_sink)
{
    PidState* state = parse_packet(*feed.context, packet.data());
    if (state == nullptr) {
        return false;
    }
    (void)check_continuity(*feed.context, *state);
    update_stream_clocks(*feed.context, *state);
    const bool result =
        parse_caption_pes(*feed.entry, *feed.context, *state, packet.data(), merge_sink);
    AribTextState& text = feed.entry->text_state;
    if (!text.text.empty() && text.text_changed) {
        feed.texts.push_back(text.text);
        text.text_changed = false;
    }
    return result;
}

void feed_payload(CaptionFeed& feed, const Bytes& payload, ByteBuffer* merge_sink)
{
    const Bytes pes = pes_packet(payload, feed.next_pts);
    feed.next_pts = (feed.next_pts + 9000) & ((uint64_t{1} << 33) - 1);
    for (const Bytes& packet : ts_packets(pes, feed.pid, feed.counter)) {
        (void)feed_packet(feed, packet, merge_sink);
    }
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

}  // namespace qv::test
