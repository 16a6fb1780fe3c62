#pragma once
// Convert mode: an ASS or SubRip subtitle file becomes a caption TS. For every entry a PAT, a PMT,
// caption management data, a statement that clears the screen and the statement with the
// entry's text go out, each caption PES stamped with the entry's time (remapped through the
// patch time file beside the subtitle file, and moved by -capmergepatch).
#include <cstdint>
#include <string>

#include "pump/worker_args.h"

namespace qv {

/// Runs slot 0 of `args`: `source` is the subtitle file, `output` the caption TS. Returns 1 after
/// a run and 0 when it refused.
int32_t run_convert_worker(WorkerArgs* args);

/// The patch time file of a subtitle file: its drive, directory and name with
/// ".patchtime.txt" (C:\tv\show.srt → C:\tv\show.patchtime.txt).
std::string patch_time_path(const std::string& subtitle_path);

}  // namespace qv
