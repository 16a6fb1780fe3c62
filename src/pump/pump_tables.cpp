#include "pump/pump_tables.h"

#include <cinttypes>

#include "base/console_output.h"
#include "caption/caption_pes.h"
#include "platform/text.h"
#include "ts/pat_pmt.h"
#include "ts/si_tables.h"

namespace qv {
namespace {

std::string tot_text(const StreamTimeInfo& time)
{
    const platform::CalendarTime& t = time.current_time;
    char text[64];
    std::snprintf(text, sizeof text, "TOT %04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

void take_tot(StreamPump& pump)
{
    StreamContext& context = *pump.context;
    if (context.stream_time.current_seconds > 0) {
        pump.tot_text = tot_text(context.stream_time);
    }
    if (pump.config->report_wraparound && context.wrap_report_pending && context.wrap_time != 0) {
        const platform::CalendarTime& w = context.wrap_local_time;
        close_status_line();
        print_message(260, "PCR Wrap-around %04d/%02d/%02d %02d:%02d:%02d\r\n", w.year, w.month,
                      w.day, w.hour, w.minute, w.second);
        line_closed = true;
        context.wrap_report_pending = false;
    }
}

/// The PIDs whose parsers may take a later packet although they refused this one.
bool is_table_pid(uint16_t pid)
{
    return pid == kPatPid || pid == kSdtPid || pid == kTotPid || is_eit_pid(pid);
}

TableDispatch dispatch_by_pid(StreamPump& pump, PumpPacket& packet, const TableCopies& copies)
{
    StreamContext& context = *pump.context;
    PidState& state = *packet.state;
    const uint16_t pid = state.pid;
    TableDispatch result;
    if (pid == kPatPid) {
        if (parse_pat(context, state, packet.data)) {
            result.kind = PacketKind::pat;
            return result;
        }
    } else if (is_eit_pid(pid)) {
        if (parse_eit(context, state, packet.data, copies.eit)) {
            result.kind = PacketKind::eit;
            return result;
        }
    } else if (pid == kSdtPid) {
        if (parse_sdt(context, state, packet.data, copies.sdt)) {
            result.kind = PacketKind::sdt;
            return result;
        }
    } else if (pid == kTotPid) {
        if (parse_tot(context, state, packet.data, copies.tot)) {
            take_tot(pump);
            result.kind = PacketKind::tot;
            return result;
        }
    }
    if (ProgramEntry* program = find_program_by_pmt_pid(context, pid)) {
        result.pmt_result = parse_pmt(context, *program, state, packet.data);
        result.kind = PacketKind::pmt;
        result.program = program;
        return result;
    }
    if (CaptionEntry* entry = find_caption_entry(context, pid)) {
        result.kind = PacketKind::caption;
        result.caption = entry;
    }
    return result;
}

}  // namespace

TableDispatch dispatch_tables(StreamPump& pump, PumpPacket& packet, const TableCopies& copies)
{
    TableDispatch result;
    const uint16_t pid = packet.state->pid;
    if (pump.plain_pid[pid]) {
        return result;
    }
    result = dispatch_by_pid(pump, packet, copies);
    packet.kind = result.kind;
    if (result.kind == PacketKind::pat || result.kind == PacketKind::pmt) {
        forget_plain_pids(pump);  // programs or caption PIDs may have changed
    } else if (result.kind == PacketKind::other && !is_table_pid(pid)) {
        pump.plain_pid[pid] = true;
        pump.plain_pids.push_back(pid);
    }
    return result;
}

void forget_plain_pids(StreamPump& pump)
{
    for (uint16_t plain : pump.plain_pids) {
        pump.plain_pid[plain] = false;
    }
    pump.plain_pids.clear();
}

bool print_new_caption_text(StreamPump& pump, PumpPacket& packet, CaptionEntry& entry)
{
    (void)parse_caption_pes(entry, *pump.context, *packet.state, packet.data);
    AribTextState& text = entry.text_state;
    if (text.text.empty() || !text.text_changed) {
        return false;
    }
    close_status_line();
    const std::string shown = platform::sjis_to_native(text.text);
    print_message(shown.size() + 260, "%s\r\n", shown.c_str());
    line_closed = true;
    text.text_changed = false;
    return true;
}

}  // namespace qv
