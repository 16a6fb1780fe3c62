#include "app/entry.h"

#include <string>

#include "app/command_line.h"
#include "app/console_control.h"
#include "app/process_environment.h"
#include "app/run_pass.h"
#include "app/usage.h"
#include "base/console_output.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/thread.h"
#include "pump/stream_pump.h"

namespace qv {
namespace {

void start_up()
{
    console_flags = kConsoleTextOn;
    console_on_stderr = false;
    log_active = 0;
    prepare_process();
    platform::allocate_console();
    platform::install_console_handler(console_ctrl_handler);
}

void print_process_id()
{
    write_console("－ プロセスID " + std::to_string(platform::process_id()) + "\r\n");
    line_closed = true;
}

void pause_for_key()
{
    write_console("－ 続行するには何かキーを押してください . . .\r\n");
    line_closed = true;
    platform::wait_for_key(stop_requested);
}

void tear_down(RunConfig& config)
{
    release_plugins(config.plugin_host);
    config.duration_spec.reset();
    config.dump_spec.reset();
    config.piddef_spec.reset();
    config.paramhex_spec.reset();
    cleanup_process();
}

/// The paths a pass may default. Each source gets the defaults derived from its own name: a
/// path that setup filled in for one source must not make the next source's pass overwrite the
/// first one's output.
struct PassPaths {
    std::string log_path;
    std::string cap_path;
    std::string merge_path;
    std::string through_path;
    std::string filter_path;

    explicit PassPaths(const RunConfig& config)
        : log_path(config.log_path), cap_path(config.cap_path), merge_path(config.merge_path),
          through_path(config.through_path), filter_path(config.filter_path)
    {
    }
    void restore(RunConfig& config) const
    {
        config.log_path = log_path;
        config.cap_path = cap_path;
        config.merge_path = merge_path;
        config.through_path = through_path;
        config.filter_path = filter_path;
    }
};

/// Standard input ("CON", also with a ";offset") that has ended never brings more: a pass over
/// it again would read nothing.
bool is_finished_standard_input(const std::string& source)
{
    return standard_input_exhausted() &&
           platform::names_console(std::string_view(source).substr(0, source.find(';')));
}

}  // namespace

int32_t run_cycles(RunConfig& config, const PassRunner& run)
{
    const int32_t initial_count = config.loop_count;
    int32_t cycles_left = initial_count;
    uint32_t total = 0;  // the exit code wraps like the int32 sum it is
    bool ended = false;
    do {
        // A cycle that ran no pass (no source, or only standard input that has ended) would run
        // no pass the next time either: the loop ends instead of spinning.
        bool ran_a_pass = false;
        for (const std::string& source : config.source_list) {
            if (stop_requested.load() != 0) {
                ended = true;
                break;
            }
            if (is_finished_standard_input(source)) {
                continue;
            }
            ran_a_pass = true;
            const PassPaths saved_paths(config);
            const uint32_t saved_flags = console_flags.load();
            config.source_path = source;
            total += static_cast<uint32_t>(run(config));
            saved_paths.restore(config);
            console_flags = saved_flags;
        }
        ended = ended || !ran_a_pass;
        if (cycles_left > 0) {
            --cycles_left;
        }
    } while (!ended && config.loop_enabled && (initial_count <= 0 || cycles_left > 0) &&
             stop_requested.load() == 0);
    return static_cast<int32_t>(total);
}

namespace {

/// A run that writes a stream to standard output sends its console text to standard error,
/// from the first line (the process ID, the pause prompt) to the last.
void keep_console_text_off_the_stream(const RunConfig& config)
{
    if (writes_stream_to_stdout(config)) {
        console_on_stderr = true;
    }
}

}  // namespace

int run_program(int argc, char** argv, const PassRunner& run)
{
    start_up();
    if (argc <= 1) {
        platform::write_stdout(usage_text(program_name()));
        platform::write_stdout(contact_block());
        return 0;
    }
    RunConfig config;
    scan_arguments(config, argc, argv);
    std::string io_threads;
    config.io_threads = platform::environment_value("QV_IO_THREADS", io_threads)
                            ? io_threads == "1"
                            : platform::processor_to_spare();
    std::string map_files;
    if (platform::environment_value("QV_MAP_FILES", map_files) && map_files == "0") {
        config.file_reading = FileReading::read;
    }
    if (config.no_progress) {
        console_flags |= kNoProgress;
    }
    keep_console_text_off_the_stream(config);
    if (config.show_process_id) {
        print_process_id();
    }
    if (config.pause_at_start) {
        pause_for_key();
    }
    int32_t total = run_cycles(config, run);
    tear_down(config);
    if (config.detail) {
        print_message(260, "－ 終了します. ( 戻り値 : %d )\n", total);
    }
    return total;
}

int run_program(int argc, char** argv) { return run_program(argc, argv, run_pass); }

}  // namespace qv
