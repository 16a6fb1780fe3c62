#pragma once
// The byte queue between a tuner's reception thread (which appends) and the worker that reads
// packets from it (which takes from the front). Append and take are mutually exclusive.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qv {

struct TunerReceiveBuffer {
    std::mutex lock;             ///< held across every append and every take
    std::vector<uint8_t> bytes;  ///< the queue; guarded by `lock`
    std::atomic<bool> running{false};  ///< cleared when reception ends: nothing more is taken
};

/// Takes up to `wanted` bytes from the front of the queue into `destination`; never waits for
/// data. Returns the count taken (0 when the queue is empty or reception is not running).
size_t take_from_tuner_buffer(TunerReceiveBuffer& tuner, uint8_t* destination, size_t wanted);

}  // namespace qv
