// The consumer half of the tuner queue.
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

}  // namespace qv
