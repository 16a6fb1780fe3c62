#pragma once
// What the PSI and SI tables of a stream leave behind in its StreamContext: the programs of the
// PAT with the elementary streams of their PMTs, the services of the SDT, the present/following
// events of the EIT and the broadcast wall clock of the TOT/TDT.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "arib/arib_text_state.h"
#include "platform/clock.h"

namespace qv {

/// One elementary stream of a program, as its PMT entry announced it.
struct EsEntry {
    uint16_t stream_type = 0;
    uint16_t pid = 0;
    /// The 5-byte entry header and its descriptors, as they stood in the PMT.
    std::vector<uint8_t> raw;
    bool is_caption = false;  ///< announced as a caption or superimposed-text stream
};

/// One program of the PAT and the elementary streams of its last valid PMT.
struct ProgramEntry {
    uint16_t program_number = 0;  ///< 0 is the network_PID entry
    uint16_t pmt_pid = 0;
    std::vector<EsEntry> streams;  ///< in PMT order
};

inline constexpr size_t kMaxServices = 6;

/// The services of the last valid SDT section.
struct ServiceTable {
    uint16_t service_count = 0;  ///< services stored, at most kMaxServices
    std::array<uint16_t, kMaxServices> service_ids = {};
    /// Per service: the provider name and the service name (Shift_JIS, change tracked).
    std::array<AribTextState, kMaxServices> provider_names;
    std::array<AribTextState, kMaxServices> service_names;
};

/// Hours, minutes and seconds of an event duration as broadcast.
struct EventDuration {
    uint16_t hours = 0;
    uint16_t minutes = 0;
    uint16_t seconds = 0;
};

/// One event of EIT present/following.
struct EventSlot {
    int64_t start_seconds = 0;          ///< seconds since 1970-01-01 UTC; 0 when undefined
    platform::CalendarTime start_time;  ///< local calendar time of the broadcast
    EventDuration duration;
    AribTextState name;  ///< event_name_char
    AribTextState text;  ///< text_char
};

/// The last two events that passed through EIT present/following.
struct EventInfo {
    EventSlot preceding;
    EventSlot latest;
    bool shifted = false;  ///< the event just read started later than the previous latest one
    /// Name and text of an event only when it caused a shift: text_changed marks a new programme.
    AribTextState changed_name;
    AribTextState changed_text;
};

/// The broadcast wall clock from the TOT or TDT.
struct StreamTimeInfo {
    int64_t current_seconds = 0;  ///< last JST_time taken, seconds since 1970-01-01 UTC; 0 none
    platform::CalendarTime current_time;  ///< the same as calendar time; day of week and ms 0
};

}  // namespace qv
