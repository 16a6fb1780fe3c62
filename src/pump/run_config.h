#pragma once
// The process-wide run configuration, written by the command-line scan (app/command_line.h) and
// read by run setup and every mode worker.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "external/plugin_host.h"
#include "ts/packet_reader.h"  // kDefaultReadBufferSize

namespace qv {

enum class RunMode : int32_t { extract = 0, merge = 1, display = 2, through = 3, filter = 4, convert = 5 };

/// -bufsize values below this (the write buffer size) select the default.
inline constexpr uint32_t kMinimumReadBufferSize = 48128;

enum class FileReading { read, mapped };

struct RunConfig {
    RunMode mode = RunMode::display;
    std::vector<std::string> source_list;
    std::string source_path;
    std::string cap_path;
    std::string merge_path;
    std::string through_path;
    std::string filter_path;
    bool log_enabled = false;
    std::string log_path;
    bool sync = false;
    bool caption_by_text = false;
    bool detail = false;
    int32_t buffer_size = 0;
    std::optional<std::string> duration_spec;
    int32_t window_width = -1;
    int32_t window_height = -1;
    PluginList plugin_host;
    int64_t capmerge_patch = 0;
    std::optional<std::string> dump_spec;
    std::optional<std::string> piddef_spec;
    std::optional<std::string> paramhex_spec;
    bool keep_sdt = false;
    bool keep_eit = false;
    bool keep_tot = false;
    bool pause_at_start = false;
    bool show_process_id = false;
    bool report_drops = false;
    bool report_wraparound = false;
    bool no_progress = false;  ///< -noprogress; applied to bit 0 of console_flags by main
    bool loop_enabled = false;
    int32_t loop_count = 0;
    bool no_delete = false;
    /// A file source is read with a second thread (one that maps the pages of the next view in,
    /// or one that reads ahead where views are not available) and a file output written on a
    /// thread of its own. Environment variable QV_IO_THREADS: "1" on, "0" off; unset, on when a
    /// processor is free (the threads cost more than they save on a busy machine). Otherwise
    /// each worker reads and writes on its own thread, and only an output that may stall (a
    /// pipe, a terminal) has a writer thread.
    bool io_threads = false;
    /// How a file source is read: through mapped views, or ("0" in the environment variable
    /// QV_MAP_FILES) by reads into the worker's block.
    FileReading file_reading = FileReading::mapped;
};

/// The read buffer size a worker uses: the -bufsize value, or 104857600 when that is below
/// 48128 or negative.
uint32_t effective_read_buffer_size(const RunConfig& config);

}  // namespace qv
