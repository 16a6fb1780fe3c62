#pragma once
// What a pass hands its worker threads: one record per pass with a slot per thread, the two
// hand-over buffers and the counter states of merge mode, and the pass's count.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/byte_buffer.h"
#include "pump/run_config.h"
#include "platform/thread.h"
#include "ts/packetizer.h"
#include "ts/stream_context.h"

namespace qv {

struct PacketWriter;

/// The part of a pass that belongs to one worker thread.
struct WorkerSlot {
    bool sync = false;   ///< pace output against the wall clock (-sync)
    std::string source;  ///< input path of this thread
    std::string output;  ///< output path of this thread; empty: none
    /// Stream contexts made by the worker; kept after it ends for the end-of-pass reports.
    StreamContextList context_list;
    StreamContext* context = nullptr;  ///< the worker's context with id 0
    /// Merge mode only: the hand-over event of this thread (process-local, never named).
    std::unique_ptr<platform::ManualResetEvent> lock_event;
    std::atomic<bool> finished{false};  ///< set by the worker when it has ended
    int32_t tcp_sender = -1;            ///< sender id of a TCP output
    /// The worker's writer while it runs; else null. Only the thread of this slot writes to it
    /// (in merge mode thread 0 alone writes the output, inserted items included).
    PacketWriter* writer = nullptr;
    ByteBuffer* shared = nullptr;  ///< both slots point at the first hand-over buffer
};

inline constexpr int32_t kWorkerSlotCount = 2;

/// One per pass, owned by run_pass and alive until all threads of the pass have ended.
struct WorkerArgs {
    std::array<WorkerSlot, kWorkerSlotCount> slots;
    /// Counter states of the rebuilt PMT and of inserted caption packets (merge mode).
    std::array<PidCounter, 2> merge_states;
    /// The two hand-over buffers: the caption stream's PMT entry and the pending item.
    std::array<ByteBuffer, 2> buffers;
    const PluginList* plugin_host = nullptr;  ///< -tvtppath entries, or null
    RunMode mode = RunMode::display;
    const RunConfig* config = nullptr;  ///< read-only while workers run
    std::atomic<int32_t> result_count{0};  ///< the pass's count; workers add to it
};

/// A mode's worker: returns 1 after a run, 0 when it refused.
using WorkerEntry = int32_t (*)(WorkerArgs* args);

}  // namespace qv
