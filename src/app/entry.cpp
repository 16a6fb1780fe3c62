#include "app/entry.h"

#include <string>

#include "app/console_control.h"
#include "app/console_output.h"
#include "app/process_environment.h"
#include "app/run_pass.h"
#include "app/usage.h"
#include "platform/console.h"

namespace qv {
namespace {

void start_up()
{
    console_flags = kConsoleTextOn;
    log_active = 0;
    prepare_process();
    platform::allocate_console();
    platform::install_console_handler(console_ctrl_handler);
}

void print_process_id()
{
    platform::write_stdout("－ プロセスID " + std::to_string(platform::process_id()) + "\r\n");
    line_closed = true;
}

void pause_for_key()
{
    platform::write_stdout("－ 続行するには何かキーを押してください . . .\r\n");
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

}  // namespace

int32_t run_cycles(RunConfig& config, const PassRunner& run)
{
    const int32_t initial_count = config.loop_count;
    int32_t cycles_left = initial_count;
    uint32_t total = 0;  // the exit code wraps like the int32 sum it is
    do {
        for (const std::string& source : config.source_list) {
            if (stop_requested.load() != 0) {
                break;
            }
            std::string saved_log_path = config.log_path;
            uint32_t saved_flags = console_flags.load();
            config.source_path = source;
            total += static_cast<uint32_t>(run(config));
            if ((console_flags.load() & kConsoleTextOn) == 0 &&
                (saved_flags & kConsoleTextOn) != 0) {
                config.stream_on_stdout = true;
            }
            config.log_path = saved_log_path;
            console_flags = saved_flags;
        }
        if (cycles_left > 0) {
            --cycles_left;
        }
    } while (config.loop_enabled && (initial_count <= 0 || cycles_left > 0) &&
             stop_requested.load() == 0);
    return static_cast<int32_t>(total);
}

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
    if (config.no_progress) {
        console_flags |= kNoProgress;
    }
    if (config.show_process_id) {
        print_process_id();
    }
    if (config.pause_at_start) {
        pause_for_key();
    }
    int32_t total = run_cycles(config, run);
    tear_down(config);
    if (config.detail) {
        // After a stream went to standard output the exit line goes to the log only, so that
        // the stream a caller captured ends with its last packet.
        if (config.stream_on_stdout) {
            console_flags &= ~kConsoleTextOn;
        }
        print_message(260, "－ 終了します. ( 戻り値 : %d )\n", total);
    }
    return total;
}

int run_program(int argc, char** argv) { return run_program(argc, argv, run_pass); }

}  // namespace qv
