#pragma once
// Both merge workers on threads of their own, each given a time limit, for tests and fuzz
// targets that must show a hang as a failure rather than wait for ever.
#include <atomic>
#include <cstdint>
#include <thread>

#include "modes/merge_worker.h"
#include "platform/thread.h"

namespace qv::test {

/// Runs the main and the caption worker on one argument block; false when either has not ended
/// within `timeout_ms` (both are joined all the same).
inline bool run_merge_workers_within(WorkerArgs& args, uint32_t timeout_ms)
{
    std::atomic<int> running{2};
    platform::ManualResetEvent ended(false);
    const auto run = [&](int32_t (*worker)(WorkerArgs*)) {
        (void)worker(&args);
        if (running.fetch_sub(1) == 1) {
            ended.set();
        }
    };
    std::thread main(run, run_merge_main_worker);
    std::thread caption(run, run_merge_caption_worker);
    const bool in_time = ended.wait(timeout_ms);
    main.join();
    caption.join();
    return in_time;
}

}  // namespace qv::test
