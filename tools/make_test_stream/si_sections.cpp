#include "si_sections.h"

#include "arib_text_encoder.h"

namespace qv::test_stream {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMjdOf1970 = 40587;  // 1970-01-01

// Days between 1970-01-01 and a date of the proleptic Gregorian calendar (the civil-days
// algorithm: March-based years of 400-year eras).
int64_t days_from_civil(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

void civil_from_days(int64_t days, BroadcastTime& time)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t month_index = (5 * day_of_year + 2) / 153;
    time.day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
    time.month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
    time.year = static_cast<int>(year_of_era + era * 400 + (time.month <= 2 ? 1 : 0));
}

uint8_t bcd(int value) { return static_cast<uint8_t>(((value / 10) << 4) | (value % 10)); }

/// Starts a long-form section: table_id, the length field (patched by close_section) with
/// section_syntax_indicator set, the 16-bit id, version 0 / current, section numbers.
Bytes begin_section(uint8_t table_id, uint16_t table_id_extension, uint8_t section_number,
                    uint8_t last_section_number)
{
    Bytes section;
    put_u8(section, table_id);
    put_u16(section, 0xB000);
    put_u16(section, table_id_extension);
    put_u8(section, 0xC1);  // reserved, version_number 0, current_next_indicator 1
    put_u8(section, section_number);
    put_u8(section, last_section_number);
    return section;
}

/// Sets section_length (keeping the four flag bits above it) and appends the CRC_32.
void close_section(Bytes& section)
{
    const uint32_t length = static_cast<uint32_t>(section.size() - 3 + 4);
    patch_u16(section, 1, ((section[1] & 0xF0u) << 8) | length);
    finish_section(section);
}

void put_descriptor_header(Bytes& out, uint8_t tag, size_t length)
{
    put_u8(out, tag);
    put_u8(out, static_cast<uint32_t>(length));
}

}  // namespace

int64_t seconds_from_broadcast_time(const BroadcastTime& time)
{
    return days_from_civil(time.year, time.month, time.day) * kSecondsPerDay + time.hour * 3600 +
           time.minute * 60 + time.second;
}

BroadcastTime broadcast_time_from_seconds(int64_t seconds)
{
    int64_t days = seconds / kSecondsPerDay;
    int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        days -= 1;
    }
    BroadcastTime time;
    civil_from_days(days, time);
    time.hour = static_cast<int>(rest / 3600);
    time.minute = static_cast<int>(rest / 60 % 60);
    time.second = static_cast<int>(rest % 60);
    return time;
}

bool parse_broadcast_time(std::string_view text, BroadcastTime& time)
{
    // "YYYY-MM-DD HH:MM:SS": 19 characters with fixed separators.
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':') {
        return false;
    }
    const auto number = [&](size_t from, size_t count, int& value) {
        value = 0;
        for (size_t index = from; index < from + count; ++index) {
            if (text[index] < '0' || text[index] > '9') {
                return false;
            }
            value = value * 10 + (text[index] - '0');
        }
        return true;
    };
    BroadcastTime read;
    if (!number(0, 4, read.year) || !number(5, 2, read.month) || !number(8, 2, read.day) ||
        !number(11, 2, read.hour) || !number(14, 2, read.minute) || !number(17, 2, read.second)) {
        return false;
    }
    // MJD in 16 bits reaches 2038-04-22; keep to years the field and the readers can hold.
    if (read.year < 1970 || read.year > 2037 || read.month < 1 || read.month > 12 ||
        read.day < 1 || read.hour > 23 || read.minute > 59 || read.second > 59) {
        return false;
    }
    BroadcastTime check = broadcast_time_from_seconds(seconds_from_broadcast_time(read));
    if (check.day != read.day || check.month != read.month) {
        return false;  // 31 April and the like
    }
    time = read;
    return true;
}

void put_mjd_time(Bytes& out, int64_t seconds)
{
    const BroadcastTime time = broadcast_time_from_seconds(seconds);
    const int64_t mjd = days_from_civil(time.year, time.month, time.day) + kMjdOf1970;
    put_u16(out, static_cast<uint32_t>(mjd));
    put_u8(out, bcd(time.hour));
    put_u8(out, bcd(time.minute));
    put_u8(out, bcd(time.second));
}

void put_bcd_duration(Bytes& out, uint32_t seconds)
{
    put_u8(out, bcd(static_cast<int>(seconds / 3600 % 100)));
    put_u8(out, bcd(static_cast<int>(seconds / 60 % 60)));
    put_u8(out, bcd(static_cast<int>(seconds % 60)));
}

Bytes make_pat(uint16_t transport_stream_id, const std::vector<ProgramLayout>& programs)
{
    Bytes section = begin_section(0x00, transport_stream_id, 0, 0);
    put_u16(section, 0x0000);  // program_number 0: the network PID of the NIT
    put_u16(section, 0xE000 | 0x0010);
    for (const ProgramLayout& program : programs) {
        put_u16(section, program.service_id);
        put_u16(section, 0xE000u | program.pmt_pid);
    }
    close_section(section);
    return section;
}

Bytes make_pmt(const ProgramLayout& program)
{
    Bytes section = begin_section(0x02, program.service_id, 0, 0);
    put_u16(section, 0xE000u | program.video_pid);  // PCR_PID
    put_u16(section, 0xF000);                       // program_info_length 0
    const auto put_stream = [&](uint8_t stream_type, uint16_t pid, const Bytes& descriptors) {
        put_u8(section, stream_type);
        put_u16(section, 0xE000u | pid);
        put_u16(section, 0xF000u | static_cast<uint32_t>(descriptors.size()));
        section.insert(section.end(), descriptors.begin(), descriptors.end());
    };
    // stream_identifier_descriptor (0x52) with the component_tag of each stream.
    put_stream(0x02, program.video_pid, {0x52, 0x01, 0x00});
    put_stream(0x0F, program.audio_pid, {0x52, 0x01, 0x10});
    if (program.captions) {
        // Component tag 0x30 marks the caption stream; the data_component_descriptor (0xFD)
        // names ARIB caption coding (data_component_id 0x0008).
        put_stream(0x06, program.caption_pid, {0x52, 0x01, 0x30, 0xFD, 0x03, 0x00, 0x08, 0x3D});
    }
    close_section(section);
    return section;
}

bool make_sdt(uint16_t transport_stream_id, uint16_t original_network_id,
              const std::vector<ProgramLayout>& programs, std::string_view provider_name,
              const std::vector<std::string>& service_names, Bytes& section)
{
    Bytes provider;
    if (!encode_arib_text(provider_name, TextProfile::si, provider)) {
        return false;
    }
    Bytes out = begin_section(0x42, transport_stream_id, 0, 0);
    out[1] = 0xF0;  // section_syntax_indicator, reserved_future_use, reserved
    put_u16(out, original_network_id);
    put_u8(out, 0xFF);  // reserved_future_use
    for (size_t index = 0; index < programs.size(); ++index) {
        Bytes name;
        if (index >= service_names.size() ||
            !encode_arib_text(service_names[index], TextProfile::si, name)) {
            return false;
        }
        Bytes descriptor;
        put_descriptor_header(descriptor, 0x48, 3 + provider.size() + name.size());
        put_u8(descriptor, 0x01);  // service_type: digital television
        put_u8(descriptor, static_cast<uint32_t>(provider.size()));
        descriptor.insert(descriptor.end(), provider.begin(), provider.end());
        put_u8(descriptor, static_cast<uint32_t>(name.size()));
        descriptor.insert(descriptor.end(), name.begin(), name.end());

        put_u16(out, programs[index].service_id);
        put_u8(out, 0xE3);  // reserved, EIT schedule and present/following flags
        put_u16(out, 0x8000u | static_cast<uint32_t>(descriptor.size()));  // running
        out.insert(out.end(), descriptor.begin(), descriptor.end());
    }
    close_section(out);
    section = std::move(out);
    return true;
}

bool make_eit_pf(uint16_t service_id, uint16_t transport_stream_id, uint16_t original_network_id,
                 uint8_t section_number, const EventDescription& event, Bytes& section)
{
    Bytes name;
    Bytes text;
    if (!encode_arib_text(event.name, TextProfile::si, name) ||
        !encode_arib_text(event.text, TextProfile::si, text)) {
        return false;
    }
    Bytes out = begin_section(0x4E, service_id, section_number, 1);
    out[1] = 0xF0;
    put_u16(out, transport_stream_id);
    put_u16(out, original_network_id);
    put_u8(out, 1);     // segment_last_section_number
    put_u8(out, 0x4E);  // last_table_id

    Bytes descriptor;
    put_descriptor_header(descriptor, 0x4D, 5 + name.size() + text.size());
    descriptor.insert(descriptor.end(), {'j', 'p', 'n'});
    put_u8(descriptor, static_cast<uint32_t>(name.size()));
    descriptor.insert(descriptor.end(), name.begin(), name.end());
    put_u8(descriptor, static_cast<uint32_t>(text.size()));
    descriptor.insert(descriptor.end(), text.begin(), text.end());

    put_u16(out, event.event_id);
    put_mjd_time(out, event.start_seconds);
    put_bcd_duration(out, event.duration_seconds);
    const uint32_t running_status = event.running ? 4 : 1;  // running / not yet running
    put_u16(out, (running_status << 13) | static_cast<uint32_t>(descriptor.size()));
    out.insert(out.end(), descriptor.begin(), descriptor.end());
    close_section(out);
    section = std::move(out);
    return true;
}

Bytes make_tot(int64_t seconds)
{
    Bytes section;
    put_u8(section, 0x73);
    put_u16(section, 0x7000);  // section_syntax_indicator 0, reserved bits; length patched
    put_mjd_time(section, seconds);
    put_u16(section, 0xF000);  // descriptors_loop_length 0
    close_section(section);
    return section;
}

}  // namespace qv::test_stream
