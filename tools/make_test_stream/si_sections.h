#pragma once
// PSI and SI sections of the test streams: PAT and PMT (ISO/IEC 13818-1 2.4.4), and the
// ARIB STD-B10 SDT, EIT present/following and TOT, each ending with its CRC_32. Broadcast times
// are Japan time, kept as plain calendar arithmetic (no time zone of the machine is consulted).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ts_writers.h"

namespace qv::test_stream {

/// A calendar date and time of the broadcast (Japan time).
struct BroadcastTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

/// Seconds since 1970-01-01 00:00:00 of the same calendar (plain arithmetic, no time zone).
int64_t seconds_from_broadcast_time(const BroadcastTime& time);
BroadcastTime broadcast_time_from_seconds(int64_t seconds);
/// Reads "YYYY-MM-DD HH:MM:SS" (or with "T" between date and time); false on anything else or a
/// field out of range.
[[nodiscard]] bool parse_broadcast_time(std::string_view text, BroadcastTime& time);

/// The 40-bit MJD + BCD time field (ARIB STD-B10 Part 2 Annex C).
void put_mjd_time(Bytes& out, int64_t seconds);
/// The 24-bit BCD duration field (hours, minutes, seconds).
void put_bcd_duration(Bytes& out, uint32_t seconds);

/// The PIDs and ids of one programme of a test stream.
struct ProgramLayout {
    uint16_t service_id = 0;
    uint16_t pmt_pid = 0;
    uint16_t video_pid = 0;  ///< also the PCR PID
    uint16_t audio_pid = 0;
    uint16_t caption_pid = 0;
    bool captions = true;  ///< the PMT lists the caption stream
};

/// One event of the EIT present/following.
struct EventDescription {
    uint16_t event_id = 0;
    int64_t start_seconds = 0;
    uint32_t duration_seconds = 0;
    bool running = false;
    std::string name;  ///< UTF-8
    std::string text;  ///< UTF-8
};

Bytes make_pat(uint16_t transport_stream_id, const std::vector<ProgramLayout>& programs);
Bytes make_pmt(const ProgramLayout& program);
/// SDT actual with one service descriptor per programme; names in UTF-8. False when a name has
/// a character the text writer does not know.
[[nodiscard]] bool make_sdt(uint16_t transport_stream_id, uint16_t original_network_id,
                            const std::vector<ProgramLayout>& programs,
                            std::string_view provider_name,
                            const std::vector<std::string>& service_names, Bytes& section);
/// EIT actual present (section 0) or following (section 1) with one short event descriptor.
[[nodiscard]] bool make_eit_pf(uint16_t service_id, uint16_t transport_stream_id,
                               uint16_t original_network_id, uint8_t section_number,
                               const EventDescription& event, Bytes& section);
/// TOT with the given Japan time and no descriptors.
Bytes make_tot(int64_t seconds);

}  // namespace qv::test_stream
