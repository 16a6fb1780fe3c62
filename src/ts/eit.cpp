// The EIT present/following handler: start, duration, name and text of the events, with the
// previous latest event moved aside when a later one arrives.
#include <string>

#include "base/console_output.h"
#include "arib/arib_text_decoder.h"
#include "ts/broadcast_time.h"
#include "ts/section_assembly.h"
#include "ts/si_tables.h"

namespace qv {
namespace {

// table_id through last_table_id (ARIB STD-B10 Part 2 5.2.7).
constexpr size_t kEitHeaderSize = 14;
constexpr uint8_t kShortEventDescriptorTag = 0x4D;
constexpr size_t kLanguageCodeSize = 3;

/// Decodes a name or text field into `slot` from a fresh designation state and stores it, change
/// tracked; when the event caused a shift, also into `changed`.
void take_event_text(AribTextState& slot, AribTextState& changed, bool shifted, ByteCursor field)
{
    size_t length = remaining(field);
    if (length == 0) {
        return;
    }
    reset_designations(slot);
    std::string text = decode_arib_text(field.pos, static_cast<uint32_t>(length), slot);
    slot.track_changes = true;
    store_text(slot, text);
    if (shifted) {
        changed.track_changes = true;
        store_text(changed, text);
    }
}

void take_event_descriptors(EventInfo& events, ByteCursor descriptors)
{
    while (remaining(descriptors) >= 2 && stop_requested.load() == 0) {
        uint8_t tag = read_u8(descriptors);
        uint8_t length = read_u8(descriptors);
        ByteCursor body = take_cursor(descriptors, length);
        if (!descriptors.ok) {
            return;
        }
        if (tag != kShortEventDescriptorTag || length <= 6) {
            continue;
        }
        skip_bytes(body, kLanguageCodeSize);
        ByteCursor name = take_cursor(body, read_u8(body));
        if (!body.ok) {
            continue;
        }
        take_event_text(events.latest.name, events.changed_name, events.shifted, name);
        ByteCursor text = take_cursor(body, read_u8(body));
        if (body.ok) {
            take_event_text(events.latest.text, events.changed_text, events.shifted, text);
        }
    }
}

void take_event(EventInfo& events, const uint8_t* start_field, const uint8_t* duration_field,
                ByteCursor descriptors)
{
    platform::CalendarTime start_time = {0, 0, 0, 0, 0, 0, 0, 0};
    int64_t start_seconds = 0;
    if (decode_mjd_time(start_field, start_time)) {
        start_seconds = broadcast_time_to_seconds(start_time);
    }
    EventDuration duration;
    if (!decode_bcd_duration(duration_field, duration)) {
        duration = EventDuration{};
    }

    events.shifted = false;
    if (events.latest.start_seconds > 0 && events.latest.start_seconds < start_seconds) {
        events.preceding = events.latest;
        events.shifted = true;
    }
    events.latest.start_seconds = start_seconds;
    events.latest.start_time = start_time;
    events.latest.duration = duration;
    take_event_descriptors(events, descriptors);
}

}  // namespace

bool parse_eit(StreamContext& context, PidState& state, const uint8_t* packet, ByteBuffer* copy)
{
    if (!is_eit_pid(state.pid)) {
        return false;
    }
    SectionStatus status = collect_section(state, packet, kEitPresentFollowingTableId,
                                           UnitStartRule::continue_if_pending);
    if (status == SectionStatus::in_progress) {
        return true;
    }
    if (status != SectionStatus::complete) {
        return false;
    }
    if (copy != nullptr) {
        copy->track_changes = true;
        store_bytes(*copy, state.section_buffer.data(), state.section_buffer.size());
    }

    ByteCursor body = section_body(state);
    skip_bytes(body, kEitHeaderSize);
    while (remaining(body) > 0 && stop_requested.load() == 0) {
        read_u16(body);  // event_id
        const uint8_t* start_field = body.pos;
        skip_bytes(body, 5);
        const uint8_t* duration_field = body.pos;
        skip_bytes(body, 3);
        uint16_t loop_length = read_u16(body) & 0x0FFF;
        ByteCursor descriptors = take_cursor(body, loop_length);
        if (!body.ok) {
            break;  // the event runs into the CRC_32
        }
        take_event(context.events, start_field, duration_field, descriptors);
    }
    reset_section(state);
    return true;
}

}  // namespace qv
