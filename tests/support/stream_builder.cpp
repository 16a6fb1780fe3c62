#include "support/stream_builder.h"

#include <cstring>
#include <fstream>

namespace qv::test {
namespace {

uint8_t bcd(int value) { return static_cast<uint8_t>(((value / 10) << 4) | (value % 10)); }

/// Modified Julian Date of a calendar day (ETSI EN 300 468 Annex C, inverted).
int mjd_of(int year, int month, int day)
{
    const int l = (month == 1 || month == 2) ? 1 : 0;
    const int y = year - 1900;
    return 14956 + day + static_cast<int>((y - l) * 365.25) +
           static_cast<int>((month + 1 + l * 12) * 30.6001);
}

void put_time(StreamBytes& out, const int (&t)[6])
{
    const int mjd = mjd_of(t[0], t[1], t[2]);
    out.push_back(static_cast<uint8_t>(mjd >> 8));
    out.push_back(static_cast<uint8_t>(mjd));
    out.push_back(bcd(t[3]));
    out.push_back(bcd(t[4]));
    out.push_back(bcd(t[5]));
}

/// Fills in section_length (bytes 1-2, with the given top bits) and appends the CRC.
StreamBytes finish_section(StreamBytes section, uint8_t top_bits)
{
    const size_t length = section.size() - 3 + 4;
    section[1] = static_cast<uint8_t>(top_bits | ((length >> 8) & 0x0F));
    section[2] = static_cast<uint8_t>(length);
    return with_crc(section);
}

uint16_t crc16(const StreamBytes& bytes)
{
    uint16_t crc = 0;
    for (uint8_t byte : bytes) {
        crc ^= static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                      : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

StreamBytes stream_data_group(uint8_t id, const StreamBytes& body)
{
    StreamBytes group = {static_cast<uint8_t>(id << 2), 0x00, 0x00,
                         static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
    append(group, body);
    const uint16_t crc = crc16(group);
    group.push_back(static_cast<uint8_t>(crc >> 8));
    group.push_back(static_cast<uint8_t>(crc));
    return group;
}

}  // namespace

void put_packet(StreamWriter& writer, uint16_t pid, bool unit_start, const StreamBytes& payload,
                const std::optional<StreamBytes>& adaptation)
{
    StreamBytes packet(188, 0xFF);
    const bool has_payload = !payload.empty() || !adaptation;
    uint8_t& counter = writer.counters[pid];
    packet[0] = 0x47;
    packet[1] = static_cast<uint8_t>((unit_start ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
    packet[2] = static_cast<uint8_t>(pid);
    packet[3] = static_cast<uint8_t>(((adaptation ? 2 : 0) | (has_payload ? 1 : 0)) << 4 |
                                     (counter & 0x0F));
    size_t at = 4;
    if (adaptation) {
        // Without payload the adaptation field fills the packet.
        const size_t length = has_payload ? adaptation->size() : 183;
        packet[at++] = static_cast<uint8_t>(length);
        for (size_t i = 0; i < adaptation->size() && at < 188; ++i) {
            packet[at++] = (*adaptation)[i];
        }
        at = 5 + length;
    }
    for (size_t i = 0; i < payload.size() && at < 188; ++i) {
        packet[at++] = payload[i];
    }
    if (has_payload) {
        counter = static_cast<uint8_t>((counter + 1) & 0x0F);
    }
    append(writer.bytes, packet);
}

void put_section(StreamWriter& writer, uint16_t pid, const StreamBytes& section)
{
    StreamBytes payload = {0x00};
    append(payload, section);
    put_packet(writer, pid, true, payload);
}

void put_pcr(StreamWriter& writer, uint16_t pid, uint64_t base)
{
    StreamBytes adaptation = {0x10,
                              static_cast<uint8_t>(base >> 25),
                              static_cast<uint8_t>(base >> 17),
                              static_cast<uint8_t>(base >> 9),
                              static_cast<uint8_t>(base >> 1),
                              static_cast<uint8_t>(((base & 1) << 7) | 0x7E),
                              0x00};
    put_packet(writer, pid, false, {}, adaptation);
}

namespace {

void put_stamp(StreamBytes& out, uint8_t prefix, uint64_t value)
{
    out.push_back(static_cast<uint8_t>((prefix << 4) | (((value >> 30) & 0x07) << 1) | 1));
    out.push_back(static_cast<uint8_t>(value >> 22));
    out.push_back(static_cast<uint8_t>(((value >> 15) & 0x7F) << 1 | 1));
    out.push_back(static_cast<uint8_t>(value >> 7));
    out.push_back(static_cast<uint8_t>((value & 0x7F) << 1 | 1));
}

StreamBytes pes_bytes(uint8_t stream_id, uint64_t pts, std::optional<uint64_t> dts,
                      const StreamBytes& data)
{
    StreamBytes header;
    put_stamp(header, dts ? 0x3 : 0x2, pts);
    if (dts) {
        put_stamp(header, 0x1, *dts);
    }
    const size_t length = 3 + header.size() + data.size();
    StreamBytes pes = {0x00, 0x00, 0x01, stream_id, static_cast<uint8_t>(length >> 8),
                       static_cast<uint8_t>(length), 0x80,
                       static_cast<uint8_t>(dts ? 0xC0 : 0x80), static_cast<uint8_t>(header.size())};
    append(pes, header);
    append(pes, data);
    return pes;
}

}  // namespace

void put_pes(StreamWriter& writer, uint16_t pid, uint8_t stream_id, uint64_t pts,
             std::optional<uint64_t> dts, const StreamBytes& data)
{
    put_packet(writer, pid, true, pes_bytes(stream_id, pts, dts, data));
}

void put_caption(StreamWriter& writer, uint16_t pid, uint64_t pts, const StreamBytes& jis_text)
{
    // Management: TMD 00, one language "jpn" (tag 0, DMF 0), format/TCS byte, no data units.
    const StreamBytes management = {0x00, 0x01, 0x00, 'j', 'p', 'n', 0x00, 0x00, 0x00, 0x00};
    // Statement: TMD 00, one data unit (0x1F separator, parameter 0x20 = statement body).
    StreamBytes statement = {0x00, 0x00, 0x00, 0x00};
    const size_t unit_size = jis_text.size();
    statement.back() = static_cast<uint8_t>(5 + unit_size);
    statement[1] = 0x00;
    statement[2] = 0x00;
    StreamBytes unit = {0x1F, 0x20, static_cast<uint8_t>(unit_size >> 16),
                        static_cast<uint8_t>(unit_size >> 8), static_cast<uint8_t>(unit_size)};
    append(unit, jis_text);
    append(statement, unit);

    StreamBytes data = {0x80, 0xFF, 0xF0};
    const StreamBytes first = stream_data_group(0x00, management);
    const StreamBytes second = stream_data_group(0x01, statement);
    StreamBytes run = data;
    append(run, first);
    StreamBytes statement_run = data;
    append(statement_run, second);

    for (const StreamBytes* body : {&run, &statement_run}) {
        const StreamBytes pes = pes_bytes(0xBD, pts, std::nullopt, *body);
        size_t at = 0;
        bool start = true;
        while (at < pes.size()) {
            const size_t take = std::min<size_t>(184, pes.size() - at);
            put_packet(writer, pid, start,
                       StreamBytes(pes.begin() + static_cast<std::ptrdiff_t>(at),
                                   pes.begin() + static_cast<std::ptrdiff_t>(at + take)));
            at += take;
            start = false;
        }
    }
}

uint32_t crc32_of(const StreamBytes& bytes)
{
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t byte : bytes) {
        crc ^= static_cast<uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000) != 0 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
        }
    }
    return crc;
}

StreamBytes with_crc(StreamBytes section)
{
    const uint32_t crc = crc32_of(section);
    for (int shift = 24; shift >= 0; shift -= 8) {
        section.push_back(static_cast<uint8_t>(crc >> shift));
    }
    return section;
}

StreamBytes pat_section(uint16_t program_number, uint16_t pmt_pid)
{
    return finish_section({0x00, 0, 0, 0x00, 0x01, 0xC1, 0x00, 0x00,
                           static_cast<uint8_t>(program_number >> 8),
                           static_cast<uint8_t>(program_number),
                           static_cast<uint8_t>(0xE0 | (pmt_pid >> 8)),
                           static_cast<uint8_t>(pmt_pid)},
                          0xB0);
}

StreamBytes pmt_section(uint16_t program_number, uint16_t pcr_pid, uint16_t caption_pid,
                        uint16_t video_pid)
{
    return finish_section(
        {0x02, 0, 0, static_cast<uint8_t>(program_number >> 8),
         static_cast<uint8_t>(program_number), 0xC1, 0x00, 0x00,
         static_cast<uint8_t>(0xE0 | (pcr_pid >> 8)), static_cast<uint8_t>(pcr_pid), 0xF0, 0x00,
         // video: stream_type 0x02, no descriptors
         0x02, static_cast<uint8_t>(0xE0 | (video_pid >> 8)), static_cast<uint8_t>(video_pid),
         0xF0, 0x03, 0x52, 0x01, 0x00,
         // caption: stream_type 0x06, stream_identifier_descriptor with component_tag 0x30
         0x06, static_cast<uint8_t>(0xE0 | (caption_pid >> 8)), static_cast<uint8_t>(caption_pid),
         0xF0, 0x03, 0x52, 0x01, 0x30},
        0xB0);
}

StreamBytes sdt_section(uint16_t service_id, const StreamBytes& provider, const StreamBytes& name)
{
    StreamBytes descriptor = {0x48, 0, 0x01, static_cast<uint8_t>(provider.size())};
    append(descriptor, provider);
    descriptor.push_back(static_cast<uint8_t>(name.size()));
    append(descriptor, name);
    descriptor[1] = static_cast<uint8_t>(descriptor.size() - 2);
    StreamBytes section = {0x42, 0, 0, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x04, 0xFF,
                           static_cast<uint8_t>(service_id >> 8), static_cast<uint8_t>(service_id),
                           0xFC, static_cast<uint8_t>(0x80 | (descriptor.size() >> 8)),
                           static_cast<uint8_t>(descriptor.size())};
    append(section, descriptor);
    return finish_section(section, 0xF0);
}

StreamBytes eit_section(uint16_t service_id, uint8_t section_number, uint16_t event_id,
                        const int (&start)[6], int duration_minutes, const StreamBytes& name)
{
    StreamBytes descriptor = {0x4D, 0, 'j', 'p', 'n', static_cast<uint8_t>(name.size())};
    append(descriptor, name);
    descriptor.push_back(0x00);  // no text
    descriptor[1] = static_cast<uint8_t>(descriptor.size() - 2);
    StreamBytes section = {0x4E, 0, 0, static_cast<uint8_t>(service_id >> 8),
                           static_cast<uint8_t>(service_id), 0xC1, section_number, 0x01,
                           0x00, 0x01, 0x00, 0x04, 0x01, 0x4E,
                           static_cast<uint8_t>(event_id >> 8), static_cast<uint8_t>(event_id)};
    put_time(section, start);
    section.push_back(bcd(duration_minutes / 60));
    section.push_back(bcd(duration_minutes % 60));
    section.push_back(0x00);
    section.push_back(static_cast<uint8_t>(0x80 | (descriptor.size() >> 8)));
    section.push_back(static_cast<uint8_t>(descriptor.size()));
    append(section, descriptor);
    return finish_section(section, 0xF0);
}

StreamBytes tot_section(const int (&time)[6])
{
    StreamBytes section = {0x73, 0, 0};
    put_time(section, time);
    section.push_back(0xF0);
    section.push_back(0x00);
    return finish_section(section, 0x30);
}

[[gnu::noinline]] void append(StreamBytes& out, const StreamBytes& more)
{
    if (more.empty()) {
        return;
    }
    const size_t old = out.size();
    out.resize(old + more.size());
    std::memcpy(out.data() + old, more.data(), more.size());
}

bool write_file_bytes(const std::string& path, const StreamBytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<uint16_t> packet_pids(const StreamBytes& bytes)
{
    std::vector<uint16_t> pids;
    for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
        pids.push_back(static_cast<uint16_t>(((bytes[at + 1] & 0x1F) << 8) | bytes[at + 2]));
    }
    return pids;
}

}  // namespace qv::test
