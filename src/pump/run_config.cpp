#include "pump/run_config.h"

namespace qv {

uint32_t effective_read_buffer_size(const RunConfig& config)
{
    // A negative value would compare as a request for about 4 GiB: it counts as not given.
    if (config.buffer_size < 0 ||
        static_cast<uint32_t>(config.buffer_size) < kMinimumReadBufferSize) {
        return kDefaultReadBufferSize;
    }
    return static_cast<uint32_t>(config.buffer_size);
}

}  // namespace qv
