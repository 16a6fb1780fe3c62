#pragma once
// The byte queue between a tuner's reception thread (which appends) and the worker that reads
// packets from it (which takes from the front). Append and take are mutually exclusive.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/thread.h"

namespace qv {

struct TunerReceiveBuffer {
    std::mutex lock;             ///< held across every append and every take
    std::vector<uint8_t> bytes;  ///< the queue; guarded by `lock`
    std::atomic<bool> running{false};  ///< cleared when reception ends: nothing more is taken
    /// Signalled after every append and when reception ends, so that a reader waiting for the
    /// queue wakes at once instead of after a sleep (which can last a whole timer tick, long
    /// enough for the queue to fill and deliveries to be thrown away).
    platform::ManualResetEvent arrived{false};
};

/// Appends `count` bytes under the lock when fewer than `limit` bytes are queued, and wakes a
/// waiting reader. False (nothing appended) when the queue is that long already.
bool append_to_tuner_buffer(TunerReceiveBuffer& tuner, const uint8_t* data, size_t count,
                            size_t limit);

/// Wakes a reader waiting in wait_for_tuner_data (reception has ended, say).
void wake_tuner_reader(TunerReceiveBuffer& tuner);

/// Waits until the queue holds bytes, or a wake-up, or `timeout_ms` milliseconds have passed.
void wait_for_tuner_data(TunerReceiveBuffer& tuner, uint32_t timeout_ms);

/// Takes up to `wanted` bytes from the front of the queue into `destination`; never waits for
/// data. Returns the count taken (0 when the queue is empty or reception is not running).
size_t take_from_tuner_buffer(TunerReceiveBuffer& tuner, uint8_t* destination, size_t wanted);

}  // namespace qv
