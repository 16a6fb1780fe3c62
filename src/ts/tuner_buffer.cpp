// The tuner queue: the reception thread appends, the worker takes from the front and waits.
#include "ts/tuner_buffer.h"

#include <algorithm>
#include <cstring>

namespace qv {

size_t take_from_tuner_buffer(TunerReceiveBuffer& tuner, uint8_t* destination, size_t wanted)
{
    if (destination == nullptr || wanted == 0) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(tuner.lock);
    if (tuner.bytes.empty() || !tuner.running.load()) {
        return 0;
    }
    const size_t count = std::min(wanted, tuner.bytes.size());
    std::memcpy(destination, tuner.bytes.data(), count);
    tuner.bytes.erase(tuner.bytes.begin(), tuner.bytes.begin() + static_cast<ptrdiff_t>(count));
    return count;
}

namespace {

/// The queue's block grows by what is needed plus this step.
constexpr size_t kQueueGrowth = 9400;

}  // namespace

bool append_to_tuner_buffer(TunerReceiveBuffer& tuner, const uint8_t* data, size_t count,
                            size_t limit)
{
    {
        std::lock_guard<std::mutex> guard(tuner.lock);
        if (tuner.bytes.size() >= limit) {
            return false;
        }
        const size_t needed = tuner.bytes.size() + count;
        if (needed > tuner.bytes.capacity()) {
            tuner.bytes.reserve(needed + kQueueGrowth);
        }
        tuner.bytes.insert(tuner.bytes.end(), data, data + count);
    }
    tuner.arrived.set();
    return true;
}

void wake_tuner_reader(TunerReceiveBuffer& tuner) { tuner.arrived.set(); }

void wait_for_tuner_data(TunerReceiveBuffer& tuner, uint32_t timeout_ms)
{
    {
        // The event is cleared only while the queue is seen empty under the lock: bytes appended
        // after this set it again, so the wait below cannot miss them.
        std::lock_guard<std::mutex> guard(tuner.lock);
        if (!tuner.bytes.empty()) {
            return;
        }
        tuner.arrived.reset();
    }
    (void)tuner.arrived.wait(timeout_ms);
}

}  // namespace qv
