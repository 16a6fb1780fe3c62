#pragma once
// Merge mode: the caption items of a caption TS put into a main TS on the main TS's own time
// line. Two threads take turns: the caption-stream worker (slot 1) reassembles the caption TS's
// caption PES and hands them over one at a time; the main-stream worker (slot 0) copies the main
// TS without its own captions, announces the caption TS's caption stream in every PMT and
// inserts each item where the main TS reaches the item's time.
#include <cstdint>

#include "pump/worker_args.h"

namespace qv {

/// Thread 0: runs slot 0 (the main TS to merge_path). Returns 1 after a run and 0 when it
/// refused; on every path it leaves both hand-over events set and its slot finished.
int32_t run_merge_main_worker(WorkerArgs* args);

/// Thread 1: runs slot 1 (the caption TS, no output). Returns as run_merge_main_worker.
int32_t run_merge_caption_worker(WorkerArgs* args);

/// Ends a merge thread's part of the hand-over: its own event, then the other's, then its slot
/// is finished, so that the other thread never waits for it again.
void finish_merge_side(WorkerArgs& args, int32_t slot_index);

}  // namespace qv
