#include "modes/display_worker.h"

#include <cinttypes>
#include <cstdio>

#include "base/ascii_text.h"
#include "base/console_output.h"
#include "pump/pump_tables.h"
#include "pump/stream_pump.h"
#include "modes/hex_dump.h"
#include "platform/text.h"
#include "ts/pat_pmt.h"

namespace qv {
namespace {

std::string native(const AribTextState& state) { return platform::sjis_to_native(state.text); }

/// The caption PTS line of -detail, at each PTS a caption PID starts.
void after_pts_update_display(StreamPump& pump, PumpPacket& packet)
{
    if (!pump.config->detail ||
        find_caption_entry(*pump.context, packet.state->pid) == nullptr) {
        return;
    }
    close_status_line();
    const ClockTime& t = pump.context->pts_clock.current_time;
    const int64_t position = packet_position(pump, packet.data);
    print_message(520,
                  "－ %s PID 0x%04x PTS %d:%02d:%02d.%03d 0x%09" PRIx64 " %s%s+0x%" PRIX64
                  "        %s\r",
                  "CAPTION", packet.state->pid, t.hours, t.minutes, t.seconds, t.milliseconds,
                  packet.state->pes.pts, pump.tot_text.c_str(), pump.tot_text.empty() ? "" : " ",
                  static_cast<uint64_t>(position < 0 ? 0 : position), "\n");
    line_closed = true;
}

void print_event_slot(const EventSlot& slot, const EventInfo& events)
{
    if (!slot.name.text.empty() && events.changed_name.text_changed) {
        close_status_line();
        const platform::CalendarTime& s = slot.start_time;
        print_message(260, "%04d/%02d/%02d %02d:%02d:%02d\r\n", s.year, s.month, s.day, s.hour,
                      s.minute, s.second);
        print_message(260, "%d:%02d:%02d\r\n", slot.duration.hours, slot.duration.minutes,
                      slot.duration.seconds);
        const std::string name = native(slot.name);
        print_message(name.size() + 260, "%s\r\n", name.c_str());
        line_closed = true;
    }
    if (!slot.text.text.empty() && events.changed_text.text_changed) {
        close_status_line();
        const std::string text = native(slot.text);
        print_message(text.size() + 260, "%s\r\n", text.c_str());
        line_closed = true;
    }
}

/// Programme lines when a new event began (-detail).
void show_events(StreamPump& pump)
{
    EventInfo& events = pump.context->events;
    if (!events.shifted) {
        return;
    }
    if (pump.config->detail) {
        print_event_slot(events.preceding, events);
        print_event_slot(events.latest, events);
    }
    events.changed_name.text_changed = false;
    events.changed_text.text_changed = false;
}

/// Service lines for names the last SDT changed (-detail).
void show_services(StreamPump& pump)
{
    ServiceTable& services = pump.context->services;
    for (size_t i = 0; i < services.service_count && i < kMaxServices; ++i) {
        AribTextState& provider = services.provider_names[i];
        AribTextState& service = services.service_names[i];
        if (!provider.text_changed && !service.text_changed) {
            continue;
        }
        if (pump.config->detail) {
            close_status_line();
            const std::string provider_text = native(provider);
            const std::string service_text = native(service);
            print_message(provider_text.size() + service_text.size() + 260, "0x%04x %s%s%s%s\r\n",
                          services.service_ids[i], provider_text.c_str(),
                          provider_text.empty() ? "" : " ", service_text.c_str(),
                          service_text.empty() ? "" : " ");
            line_closed = true;
        }
        provider.text_changed = false;
        service.text_changed = false;
    }
}

void dispatch_display(StreamPump& pump, PumpPacket& packet)
{
    const TableDispatch table = dispatch_tables(pump, packet);
    switch (table.kind) {
    case PacketKind::eit:
        show_events(pump);
        break;
    case PacketKind::sdt:
        show_services(pump);
        break;
    case PacketKind::caption:
        if (print_new_caption_text(pump, packet, *table.caption)) {
            pump.args->result_count.fetch_add(1);
        }
        break;
    case PacketKind::pat:
    case PacketKind::tot:
    case PacketKind::pmt:
    case PacketKind::other:
        break;
    }
}

void dump_display(StreamPump& pump, PumpPacket& packet)
{
    const auto& wanted = pump.config->dump_spec;
    if (!wanted || !dump_requested(*wanted, packet.state->pid, packet.kind)) {
        return;
    }
    const int64_t position = packet_position(pump, packet.data);
    const std::string text =
        hex_dump(packet.data, kPacketSize, static_cast<uint64_t>(position < 0 ? 0 : position));
    close_status_line();
    print_message(text.size() + 10, "%s", text.c_str());
    line_closed = true;
}

}  // namespace

bool dump_requested(std::string_view wanted, uint16_t pid, PacketKind kind)
{
    if (starts_with_ignoring_case(wanted, "all")) {
        return true;
    }
    char pid_text[16];
    std::snprintf(pid_text, sizeof pid_text, "0x%x", static_cast<unsigned>(pid));
    if (starts_with_ignoring_case(wanted, pid_text)) {
        return true;
    }
    struct Named {
        const char* name;
        PacketKind kind;
    };
    static constexpr Named kNamed[] = {{"pat", PacketKind::pat},   {"pmt", PacketKind::pmt},
                                       {"eit", PacketKind::eit},   {"sdt", PacketKind::sdt},
                                       {"tot", PacketKind::tot},   {"caption", PacketKind::caption}};
    for (const Named& named : kNamed) {
        if (kind == named.kind && starts_with_ignoring_case(wanted, named.name)) {
            return true;
        }
    }
    return false;
}

int32_t run_display_worker(WorkerArgs* args)
{
    PumpHooks hooks;
    hooks.after_pts_update = after_pts_update_display;
    hooks.dispatch = dispatch_display;
    const bool dumping = args != nullptr && args->config != nullptr &&
                         args->config->dump_spec && !args->config->dump_spec->empty();
    hooks.after_packet = dumping ? dump_display : nullptr;
    hooks.mark_first_clocks = false;
    hooks.pes_clocks_at_pes_start = true;  // the caption PTS line belongs to the PES start
    hooks.skip_plain_pids = true;
    return run_stream_pump(args, 0, hooks);
}

}  // namespace qv
