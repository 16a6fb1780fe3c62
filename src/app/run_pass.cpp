#include "app/run_pass.h"

#include <cinttypes>
#include <cstring>
#include <string>

#include "base/console_output.h"
#include "app/default_paths.h"
#include "app/process_environment.h"
#include "pump/stream_pump.h"
#include "pump/worker_args.h"
#include "modes/worker_entries.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/thread.h"
#include "external/sender_binding.h"
#include "external/tuner_connection.h"
#include "modes/convert_worker.h"
#include "subtitle/subtitle_file.h"
#include "ts/ts_probe.h"

namespace qv {
namespace {

/// Refuses a source file that is missing, or that is not a transport stream (convert mode: not
/// an ASS or SubRip file).
bool check_source_file(const RunConfig& config, const std::string& source)
{
    if (!platform::path_exists(source)) {
        print_message(520, "－ ファイルがありません %s\n", source.c_str());
        return false;
    }
    if (config.mode == RunMode::convert) {
        if (probe_ass_path(source) < 0 && probe_srt_path(source) < 0) {
            print_message(520, "－ 字幕ファイルが認識できません %s\n", source.c_str());
            return false;
        }
        return true;
    }
    if (!probe_ts_file(source)) {
        print_message(520, "－ tsファイルではありません %s\n", source.c_str());
        return false;
    }
    return true;
}

/// Space, channel and driver of a tuner source ("\\.\bondriver\SPACE\CHANNEL\DRIVER").
bool check_tuner(const std::string& source)
{
    const std::string rest = source.substr(kTunerPathPrefix.size());
    const size_t first = rest.find('\\');
    const size_t second = first == std::string::npos ? std::string::npos : rest.find('\\', first + 1);
    const std::string space = rest.substr(0, first);
    const std::string channel =
        first == std::string::npos ? std::string() : rest.substr(first + 1, second - first - 1);
    const std::string driver = second == std::string::npos ? std::string() : rest.substr(second + 1);
    if (space.empty()) {
        print_message(520, "－ BonDriverチューナー空間番号がありません %s\n", source.c_str());
        return false;
    }
    if (channel.empty()) {
        print_message(520, "－ BonDriverチューナー内部チャンネル番号がありません %s\n",
                      source.c_str());
        return false;
    }
    if (driver.empty() || !platform::path_exists(driver)) {
        print_message(520, "－ BonDriverがありません %s\n", source.c_str());
        return false;
    }
    return true;
}

/// Host, port and library of a TCP sender target ("\\.\sendtstcp\HOST:PORT\LIBRARY"). The
/// library part must name an existing file for the through path; another mode's output may leave
/// it out for the default library.
bool check_sender(const std::string& target, bool library_required)
{
    const std::string rest = target.substr(kSenderPathPrefix.size());
    const size_t backslash = rest.find('\\');
    const std::string address = rest.substr(0, backslash);
    const std::string library =
        backslash == std::string::npos ? std::string() : rest.substr(backslash + 1);
    const size_t colon = address.find(':');
    const std::string host = address.substr(0, colon);
    const std::string port = colon == std::string::npos ? std::string() : address.substr(colon + 1);
    if (host.empty()) {
        print_message(520, "－ SendTSTCP送信先がありません %s\n", target.c_str());
        return false;
    }
    if (port.empty()) {
        print_message(520, "－ SendTSTCP送信先ポートがありません %s\n", target.c_str());
        return false;
    }
    if (library_required && (library.empty() || !platform::path_exists(library))) {
        print_message(520, "－ SendTSTCP.dllがありません %s\n", target.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string slot_output(const RunConfig& config)
{
    switch (config.mode) {
    case RunMode::extract:
    case RunMode::convert:
        return config.cap_path;
    case RunMode::merge:
        return config.merge_path;
    case RunMode::through:
        return config.through_path;
    case RunMode::filter:
        return config.filter_path;
    case RunMode::display:
        break;
    }
    return {};
}

bool writes_stream_to_stdout(const RunConfig& config)
{
    return platform::names_console(slot_output(config));
}

namespace {

/// Creating an output truncates it: refuse one that is the source, the merged caption TS or
/// the log, whatever the spelling.
bool check_output_distinct(const RunConfig& config, const std::string& source,
                           const std::string& output)
{
    if (output.empty() || platform::names_console(output) || output.starts_with(kSenderPathPrefix)) {
        return true;
    }
    const bool clash = platform::same_file(output, source) ||
                       (config.mode == RunMode::merge && platform::same_file(output, config.cap_path)) ||
                       (config.mode == RunMode::convert &&
                        platform::same_file(output, patch_time_path(source))) ||
                       (!config.log_path.empty() && platform::same_file(output, config.log_path));
    if (clash) {
        print_message(520, "－ 出力ファイルが入力ファイルと同じです %s\n", output.c_str());
        return false;
    }
    return true;
}

void report_slot(const RunConfig& config, const WorkerSlot& slot)
{
    if (slot.source.empty() || slot.context_list.empty() || !slot.context_list[0] ||
        slot.context_list[0]->pid_states.empty()) {
        return;
    }
    const StreamContext& context = *slot.context_list[0];
    if (config.report_wraparound && context.wrap_time != 0) {
        const platform::CalendarTime& w = context.wrap_local_time;
        print_message(520, "－ PCR Wrap-around %s\r\n", slot.source.c_str());
        print_message(260, "%04d/%02d/%02d %02d:%02d:%02d\r\n", w.year, w.month, w.day, w.hour,
                      w.minute, w.second);
    }
    if (config.report_drops) {
        print_message(520, "－ DROP %s\r\n", slot.source.c_str());
        for (const auto& state : context.pid_states) {
            const bool pcr = slot.context != nullptr && is_pcr_pid(*slot.context, state->pid);
            print_message(260, "0x%04X : 0x%02X : %" PRId64 " Drop%s : %" PRId64 " Total %s\r\n",
                          state->pid, state->last_counter, state->drops,
                          state->drops != 0 && state->drops != 1 ? "s" : "", state->packets,
                          pcr ? "対象外" : "");
        }
        print_message(260, "\r\n%s", "");
    }
}

/// The checks before a pass starts: a source file (and the default paths derived from it), a
/// tuner, a sender target, merge's caption TS, and the log. False, with one message, when the
/// pass cannot run.
bool prepare_pass(RunConfig& config, const std::string& checked)
{
    const bool named_stream = platform::names_console(checked) || checked.starts_with(kPipePrefix) ||
                              checked.starts_with(kTunerPathPrefix) ||
                              platform::path_kind(checked) == platform::PathKind::pipe_or_device;
    if (named_stream && config.mode == RunMode::convert) {
        // A subtitle file is probed and read from its start: the console, a pipe or a tuner
        // would give an empty conversion that looks like a success.
        print_message(520, "－ 字幕ファイルが認識できません %s\n", checked.c_str());
        return false;
    }
    if (!named_stream) {
        if (!check_source_file(config, checked)) {
            return false;
        }
        apply_default_paths(config, checked, program_name());
    }
    if (checked.starts_with(kTunerPathPrefix) && !check_tuner(checked)) {
        return false;
    }
    if (config.through_path.starts_with(kSenderPathPrefix) &&
        !check_sender(config.through_path, true)) {
        return false;
    }
    // Any other mode's output may be a sender too: without a host or a port it would start a
    // sender that sends nowhere and report success.
    const std::string output = slot_output(config);
    if (config.mode != RunMode::through && output.starts_with(kSenderPathPrefix) &&
        !check_sender(output, false)) {
        return false;
    }
    if (config.mode == RunMode::merge) {
        if (!platform::path_exists(config.cap_path)) {
            print_message(520, "－ ファイルがありません %s\n", config.cap_path.c_str());
            return false;
        }
        if (!probe_ts_file(config.cap_path)) {
            print_message(520, "－ tsファイルではありません %s\n", config.cap_path.c_str());
            return false;
        }
    }
    if (!config.log_path.empty()) {
        if (probe_ts_file(config.log_path)) {
            config.log_enabled = false;
            print_message(520, "－ ログファイルにtsファイルが指定されているためログ出力を無効にしました %s\n",
                          config.log_path.c_str());
            config.log_path.clear();
        }
        set_log_file(config.log_path);
        log_active = config.log_enabled ? kLogOn : 0;
    }
    return true;
}

/// The slots of the pass: thread 0 reads the source into `output`; in merge mode thread 1 reads
/// the caption TS, and the two hand over through their events.
void fill_worker_args(WorkerArgs& args, RunConfig& config, const std::string& output)
{
    args.mode = config.mode;
    args.config = &config;
    args.plugin_host = config.plugin_host.empty() ? nullptr : &config.plugin_host;
    for (WorkerSlot& slot : args.slots) {
        slot.shared = &args.buffers[0];
    }
    WorkerSlot& first = args.slots[0];
    first.source = config.source_path;
    first.output = output;
    if (config.mode == RunMode::merge) {
        args.slots[1].source = config.cap_path;
        args.slots[1].sync = config.sync;
        for (WorkerSlot& slot : args.slots) {
            slot.lock_event = std::make_unique<platform::ManualResetEvent>(false);
        }
    } else {
        first.sync = config.sync;
    }
}

/// Sets every hand-over event, so that no merge thread waits for one that will not come.
void release_lock_events(WorkerArgs& args)
{
    for (WorkerSlot& slot : args.slots) {
        if (slot.lock_event) {
            slot.lock_event->set();
        }
    }
}

/// Starts the mode's worker threads and waits until all have ended.
void run_workers(WorkerArgs& args)
{
    WorkerStart starts[2];
    const int32_t count = worker_starts(args.mode, starts);
    platform::Thread threads[2];
    for (int32_t i = 0; i < count; ++i) {
        const WorkerEntry entry = starts[i].entry;
        if (!threads[i].start([entry, &args] { (void)entry(&args); })) {
            print_message(260, "－ スレッド%d起動失敗 : %d .\n", starts[i].number,
                          platform::last_error());
            // A thread that never ran can never hand over: the other merge thread must not
            // wait for it.
            args.slots[static_cast<size_t>(i)].finished = true;
            release_lock_events(args);
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        threads[i].join();
    }
    release_lock_events(args);
    for (WorkerSlot& slot : args.slots) {
        slot.lock_event.reset();
    }
}

}  // namespace

int32_t run_pass(RunConfig& config)
{
    if (config.source_path.empty()) {
        return 0;
    }
    // The text after ';' is a start offset; the checks look at the file alone.
    const std::string checked = config.source_path.substr(0, config.source_path.find(';'));
    if (!prepare_pass(config, checked)) {
        return 0;
    }
    const std::string output = slot_output(config);
    if (!check_output_distinct(config, checked, output)) {
        return 0;
    }
    WorkerArgs args;
    fill_worker_args(args, config, output);
    run_workers(args);
    unload_sender_library(-1);  // every sender of the pass has stopped
    // A stream written to standard output must not get a stray line break.
    if ((console_flags.load() & kConsoleTextOn) != 0) {
        write_console("\n");
        line_closed = true;
    }
    for (const WorkerSlot& slot : args.slots) {
        report_slot(config, slot);
    }
    return args.result_count.load();
}

}  // namespace qv
