#include "support/section_builders.h"

#include <algorithm>

#include "ts/crc32_mpeg2.h"
#include "ts/packet_header.h"
#include "ts/stream_context.h"

namespace qv::test {
namespace {

void append_bytes(Bytes& to, const Bytes& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

void append_u16(Bytes& to, uint16_t value)
{
    to.push_back(static_cast<uint8_t>(value >> 8));
    to.push_back(static_cast<uint8_t>(value));
}

uint8_t bcd_byte(int value)
{
    return static_cast<uint8_t>(((value / 10) << 4) | (value % 10));
}

/// Writes section_length (with syntax indicator and reserved bits) for the section as it stands,
/// the CRC_32 included.
void put_length(Bytes& section, bool syntax)
{
    size_t length = section.size() - 3;
    section[1] = static_cast<uint8_t>((syntax ? 0xB0 : 0x70) | ((length >> 8) & 0x0F));
    section[2] = static_cast<uint8_t>(length);
}

}  // namespace

Bytes concat_bytes(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts) {
        append_bytes(joined, part);
    }
    return joined;
}

void put_crc(Bytes& section)
{
    if (section.size() < 4) {
        return;
    }
    uint32_t crc = crc32_mpeg2(section.data(), section.data() + section.size() - 4);
    for (int n = 0; n < 4; ++n) {
        section[section.size() - 4 + static_cast<size_t>(n)] =
            static_cast<uint8_t>(crc >> (24 - 8 * n));
    }
}

Bytes long_section(uint8_t table_id, uint16_t extension, const Bytes& body, uint8_t version,
                   uint8_t section_number, uint8_t last_section_number)
{
    Bytes section = {table_id, 0, 0};
    append_u16(section, extension);
    section.push_back(static_cast<uint8_t>(0xC1 | ((version & 0x1F) << 1)));
    section.push_back(section_number);
    section.push_back(last_section_number);
    append_bytes(section, body);
    section.insert(section.end(), 4, 0);
    put_length(section, true);
    put_crc(section);
    return section;
}

Bytes pat_section(uint16_t transport_stream_id,
                  const std::vector<std::pair<uint16_t, uint16_t>>& programs)
{
    Bytes body;
    for (const auto& [number, pid] : programs) {
        append_u16(body, number);
        append_u16(body, static_cast<uint16_t>(0xE000 | pid));
    }
    return long_section(0x00, transport_stream_id, body);
}

Bytes es_entry(uint8_t stream_type, uint16_t pid, const Bytes& descriptors)
{
    Bytes entry = {stream_type};
    append_u16(entry, static_cast<uint16_t>(0xE000 | pid));
    append_u16(entry, static_cast<uint16_t>(0xF000 | descriptors.size()));
    append_bytes(entry, descriptors);
    return entry;
}

Bytes descriptor(uint8_t tag, const Bytes& body)
{
    Bytes result = {tag, static_cast<uint8_t>(body.size())};
    append_bytes(result, body);
    return result;
}

Bytes stream_identifier(uint8_t component_tag)
{
    return descriptor(0x52, {component_tag});
}

Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid, const Bytes& es_loop,
                  const Bytes& program_info)
{
    Bytes body;
    append_u16(body, static_cast<uint16_t>(0xE000 | pcr_pid));
    append_u16(body, static_cast<uint16_t>(0xF000 | program_info.size()));
    append_bytes(body, program_info);
    append_bytes(body, es_loop);
    return long_section(0x02, program_number, body);
}

Bytes service_descriptor(uint8_t service_type, const Bytes& provider, const Bytes& name)
{
    Bytes body = {service_type, static_cast<uint8_t>(provider.size())};
    append_bytes(body, provider);
    body.push_back(static_cast<uint8_t>(name.size()));
    append_bytes(body, name);
    return descriptor(0x48, body);
}

Bytes sdt_service(uint16_t service_id, const Bytes& descriptors)
{
    Bytes service;
    append_u16(service, service_id);
    service.push_back(0xE3);  // EIT schedule and present/following flags
    append_u16(service, static_cast<uint16_t>(0x8000 | descriptors.size()));  // running
    append_bytes(service, descriptors);
    return service;
}

Bytes sdt_section(uint16_t transport_stream_id, uint16_t original_network_id, const Bytes& services)
{
    Bytes body;
    append_u16(body, original_network_id);
    body.push_back(0xFF);
    append_bytes(body, services);
    return long_section(0x42, transport_stream_id, body);
}

Bytes short_event_descriptor(const Bytes& name, const Bytes& text)
{
    Bytes body = {'j', 'p', 'n', static_cast<uint8_t>(name.size())};
    append_bytes(body, name);
    body.push_back(static_cast<uint8_t>(text.size()));
    append_bytes(body, text);
    return descriptor(0x4D, body);
}

Bytes eit_event(uint16_t event_id, const Bytes& start_time, const Bytes& duration,
                const Bytes& descriptors)
{
    Bytes event;
    append_u16(event, event_id);
    append_bytes(event, start_time);
    append_bytes(event, duration);
    append_u16(event, static_cast<uint16_t>(0x8000 | descriptors.size()));
    append_bytes(event, descriptors);
    return event;
}

Bytes eit_section(uint16_t service_id, const Bytes& events, uint8_t section_number)
{
    Bytes body;
    append_u16(body, 0x7E87);  // transport_stream_id
    append_u16(body, 0x7E87);  // original_network_id
    body.push_back(0x01);      // segment_last_section_number
    body.push_back(0x4E);      // last_table_id
    append_bytes(body, events);
    return long_section(0x4E, service_id, body, 0, section_number, 1);
}

Bytes mjd_time(int year, int month, int day, int hour, int minute, int second)
{
    // ETSI EN 300 468 Annex C, from date to MJD.
    int leap = (month == 1 || month == 2) ? 1 : 0;
    int y = year - 1900;
    int mjd = 14956 + day + static_cast<int>((y - leap) * 365.25) +
              static_cast<int>((month + 1 + leap * 12) * 30.6001);
    return {static_cast<uint8_t>(mjd >> 8), static_cast<uint8_t>(mjd), bcd_byte(hour),
            bcd_byte(minute), bcd_byte(second)};
}

Bytes bcd_duration(int hours, int minutes, int seconds)
{
    return {bcd_byte(hours), bcd_byte(minutes), bcd_byte(seconds)};
}

Bytes time_section(uint8_t table_id, const Bytes& time)
{
    Bytes section = {table_id, 0, 0};
    append_bytes(section, time);
    if (table_id == 0x70) {
        put_length(section, false);
        return section;
    }
    append_u16(section, 0xF000);  // empty descriptor loop
    section.insert(section.end(), 4, 0);
    put_length(section, false);
    put_crc(section);
    return section;
}

std::vector<Bytes> section_packets(const Bytes& section, uint16_t pid, uint8_t& counter)
{
    std::vector<Bytes> packets;
    size_t at = 0;
    do {
        Bytes packet(188, 0xFF);
        bool first = packets.empty();
        packet[0] = 0x47;
        packet[1] = static_cast<uint8_t>((first ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
        packet[2] = static_cast<uint8_t>(pid);
        packet[3] = static_cast<uint8_t>(0x10 | (counter & 0x0F));
        size_t payload_at = 4;
        if (first) {
            packet[payload_at++] = 0;  // pointer_field
        }
        size_t count = std::min(section.size() - at, packet.size() - payload_at);
        std::copy_n(section.begin() + static_cast<ptrdiff_t>(at), count,
                    packet.begin() + static_cast<ptrdiff_t>(payload_at));
        at += count;
        counter = static_cast<uint8_t>((counter + 1) & 0x0F);
        packets.push_back(std::move(packet));
    } while (at < section.size());
    return packets;
}

PidState* ingest_packet(StreamContext& context, const Bytes& packet)
{
    if (packet.size() < 188) {
        return nullptr;
    }
    PidState* state = parse_packet(context, packet.data());
    if (state != nullptr) {
        check_continuity(context, *state);
    }
    return state;
}

}  // namespace qv::test
