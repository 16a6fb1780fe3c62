#include "modes/convert_worker.h"

#include <algorithm>
#include <cinttypes>
#include <string>

#include "base/console_output.h"
#include "base/path_parts.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/text.h"
#include "pump/stream_pump.h"
#include "pump/worker_output.h"
#include "subtitle/caption_encoder_state.h"
#include "subtitle/conversion_packets.h"
#include "subtitle/convert_options.h"
#include "subtitle/subtitle_file.h"
#include "subtitle/subtitle_reader.h"
#include "ts/stream_clock.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

/// How much earlier than an entry's start the erasure of an entry that runs into it goes out
/// (540 ticks, 6 ms), so that the erasure never wipes the entry that follows.
constexpr int64_t kErasureLead = 540;

struct Conversion {
    Conversion(WorkerArgs& worker_args, WorkerSlot& worker_slot)
        : args(worker_args), slot(worker_slot), config(*worker_args.config)
    {
    }

    WorkerArgs& args;
    WorkerSlot& slot;
    const RunConfig& config;
    platform::NativeHandle input = platform::kClosedHandle;
    int64_t total_size = 1;
    WorkerOutput output;
    CaptionEncoderState statement;   ///< reads the subtitle file; PAT, PMT and statements
    CaptionEncoderState management;  ///< caption management data
    SubtitleLineReader reader;
    int64_t clear_time = 1;  ///< PTS of the next management data and clearing statement
    int64_t previous_start = 0;  ///< start of the entry whose erasure `clear_time` is
};

/// The PID definitions of -piddef; items left out are named.
void apply_pid_definitions(Conversion& conversion)
{
    if (!conversion.config.piddef_spec) {
        return;
    }
    const PidDefinitions pids = parse_piddef(*conversion.config.piddef_spec);
    for (const IgnoredPidItem& ignored : pids.ignored) {
        print_message(ignored.item.size() + 260, "－ -piddefの指定を無視しました %s\n",
                      ignored.item.c_str());
    }
    for (CaptionEncoderState* state : {&conversion.statement, &conversion.management}) {
        state->pmt_pid = pids.pmt_pid;
        state->caption_pid = pids.caption_pid;
    }
}

/// -piddef, -paramhex, -capmergepatch, the patch time file and the PMT's caption stream.
void apply_options(Conversion& conversion)
{
    CaptionEncoderState& statement = conversion.statement;
    CaptionEncoderState& management = conversion.management;
    share_pid_counters(management, statement);
    (void)read_patch_time_file(statement.patch_table, patch_time_path(conversion.slot.source));
    apply_pid_definitions(conversion);
    if (conversion.config.paramhex_spec) {
        const ParamBytes extra = parse_paramhex(*conversion.config.paramhex_spec);
        statement.extra_bytes = extra.bytes;
        management.extra_bytes = extra.bytes;
    }
    if (conversion.config.capmerge_patch != 0) {
        statement.time_offset = conversion.config.capmerge_patch;
        management.time_offset = conversion.config.capmerge_patch;
    }
    statement.pat_pmt_pid = statement.pmt_pid;
    add_pmt_stream(statement.pmt_streams, kCaptionStreamType, statement.caption_pid,
                   kCaptionStreamDescriptors.data(), kCaptionStreamDescriptors.size());
}

/// Opens the subtitle file and the output; false when the conversion cannot run.
bool open_conversion(Conversion& conversion)
{
    const std::string& source = conversion.slot.source;
    if (!source.empty() && platform::path_exists(source)) {
        conversion.input = platform::open_for_reading(source);
        if (conversion.input == platform::kClosedHandle) {
            print_message(520, "－ 入力ファイルが開けません %s\n", source.c_str());
        }
    }
    open_worker_output(conversion.slot, conversion.output, false);
    if (conversion.input == platform::kClosedHandle || !worker_output_usable(conversion.output)) {
        return false;
    }
    int64_t size = 0;
    if (platform::file_size(conversion.input, size) && size > 0) {
        conversion.total_size = size;
    }
    if (probe_ass(conversion.input) >= 0) {
        conversion.statement.subtitle_format = kSubtitleAss;
    } else if (probe_srt(conversion.input) >= 0) {
        conversion.statement.subtitle_format = kSubtitleSrt;
    }
    conversion.reader = open_line_reader(conversion.input);  // just after a byte order mark
    apply_options(conversion);
    return true;
}

bool read_entry(Conversion& conversion)
{
    return conversion.statement.subtitle_format == kSubtitleSrt
               ? read_srt_entry(conversion.reader, conversion.statement)
               : read_ass_entry(conversion.reader, conversion.statement);
}

/// "PCR h:mm:ss.mmm" of a time in ticks.
std::string clock_text(int64_t ticks)
{
    const ClockTime t = ticks_to_clock_time(ticks);
    char text[64];
    std::snprintf(text, sizeof text, "PCR %d:%02d:%02d.%03d", t.hours, t.minutes, t.seconds,
                  t.milliseconds);
    return text;
}

/// Builds and writes one step from `state`; false once the output has failed (reported once).
bool emit(Conversion& conversion, CaptionEncoderState& state, int step)
{
    size_t cut = 0;
    (void)emit_conversion_packets(state, step, *conversion.output.writer, &cut);
    if (cut > 0) {
        close_status_line();
        print_message(520, "－ 字幕が長すぎるため%" PRIu64 "バイトを省きました %s\n",
                      static_cast<uint64_t>(cut), clock_text(state.start_time).c_str());
        line_closed = true;
    }
    return check_worker_output(conversion.slot, conversion.output);
}

/// The "CONVERT" line of an entry: PID, start time, position in the subtitle file and the text
/// with each line break shown as \n.
void report_entry(const Conversion& conversion)
{
    if (!progress_visible()) {
        return;
    }
    std::string text;
    for (const char c : conversion.statement.caption_text) {
        text += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    const std::string shown = platform::sjis_to_native(text);
    char offset[32];
    std::snprintf(offset, sizeof offset, "+0x%" PRIX64,
                  static_cast<uint64_t>(conversion.reader.position));
    close_status_line();
    print_message(shown.size() + 260, "CONVERT : PID 0x%04X , %s , %s , %s \r\n",
                  conversion.statement.caption_pid,
                  clock_text(conversion.statement.start_time).c_str(), offset, shown.c_str());
    line_closed = true;
}

/// The erasure of the entry before: at its end, or just before this entry's start when the two
/// meet or overlap (an erasure after the start would wipe this entry). An entry out of order,
/// starting before the one before began, leaves that erasure near its end: moved before this
/// start it would come before the caption it erases. After the last entry it goes out at the
/// last end (540 ticks later when that end is below 540).
void place_erasure(Conversion& conversion, bool entry_read)
{
    int64_t& clear = conversion.clear_time;
    const int64_t start = conversion.statement.start_time;
    if (start > clear) {
        return;
    }
    if (entry_read && start >= conversion.previous_start) {
        clear = std::min(clear, start);
    }
    if (clear >= kErasureLead) {
        clear -= kErasureLead;
    }
    if (!entry_read) {
        clear += kErasureLead;
    }
}

/// Management data and a clearing statement at the clear time.
bool emit_erasure(Conversion& conversion)
{
    CaptionEncoderState& management = conversion.management;
    management.management = 1;
    management.superimpose = 0;
    management.start_time = conversion.clear_time;
    management.caption_text.clear();
    if (!emit(conversion, management, kStepCaption)) {
        return false;
    }
    CaptionEncoderState& statement = conversion.statement;
    const int64_t start = statement.start_time;
    std::string text = std::move(statement.caption_text);
    statement.start_time = conversion.clear_time;
    statement.caption_text.clear();
    statement.management = 0;
    statement.superimpose = 0;
    const bool written = emit(conversion, statement, kStepCaption);
    statement.start_time = start;
    statement.caption_text = std::move(text);
    return written;
}

void convert_entries(Conversion& conversion)
{
    CaptionEncoderState& statement = conversion.statement;
    for (;;) {
        platform::pump_messages();
        if (stop_asked()) {
            return;
        }
        const bool entry_read = read_entry(conversion);
        if (!entry_read && conversion.reader.read_failed) {
            // A disk error is not the end of the file: the caption TS holds only a part.
            report_read_failure(conversion.slot.source);
        }
        if (entry_read) {
            if (!emit(conversion, statement, kStepPat) || !emit(conversion, statement, kStepPmt)) {
                return;
            }
        } else if (conversion.clear_time == 0) {
            return;
        }
        place_erasure(conversion, entry_read);
        if (!emit_erasure(conversion) || !entry_read) {
            return;
        }
        statement.management = 0;
        statement.superimpose = 0;
        if (!emit(conversion, statement, kStepCaption)) {
            return;
        }
        conversion.clear_time = statement.end_time;
        conversion.previous_start = statement.start_time;
        report_entry(conversion);
        if (stop_asked()) {
            return;
        }
    }
}

void close_conversion(Conversion& conversion)
{
    close_worker_output(conversion.slot, conversion.output);
    platform::close_handle(conversion.input);
    if (conversion.slot.lock_event) {
        conversion.slot.lock_event->set();
    }
    conversion.slot.finished = true;
    release_caption_encoder_state(conversion.statement);
    release_caption_encoder_state(conversion.management);
}

}  // namespace

std::string patch_time_path(const std::string& subtitle_path)
{
    const PathParts parts = split_path(subtitle_path);
    return parts.drive + parts.directory + parts.name + ".patchtime.txt";
}

int32_t run_convert_worker(WorkerArgs* args)
{
    if (args == nullptr || args->config == nullptr || args->slots[0].shared == nullptr) {
        return 0;
    }
    WorkerSlot& slot = args->slots[0];
    slot.context = get_stream_context(slot.context_list, 0);
    if (slot.context == nullptr) {
        return 0;
    }
    Conversion conversion(*args, slot);
    if (open_conversion(conversion)) {
        convert_entries(conversion);
    }
    close_conversion(conversion);
    return 1;
}

}  // namespace qv
