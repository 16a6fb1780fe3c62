#pragma once
// Time limits for tests that wait for threads, sockets or a paced stream, on the platform's tick
// count. (Tests are built with the Shift_JIS execution character set on Windows, in which
// <chrono> does not compile.)
#include <cstdint>

#include "platform/clock.h"
#include "platform/thread.h"

namespace qv::test {

class Deadline {
public:
    explicit Deadline(uint32_t milliseconds)
        : start_(platform::tick_count_ms()), limit_(milliseconds)
    {
    }
    bool passed() const { return elapsed_ms() >= limit_; }
    uint32_t elapsed_ms() const { return platform::tick_count_ms() - start_; }

private:
    uint32_t start_;
    uint32_t limit_;
};

/// Waits until `done()` holds, polling every few milliseconds; false when the time ran out.
template <typename Condition>
bool wait_until(Condition done, uint32_t timeout_ms)
{
    const Deadline deadline(timeout_ms);
    while (!done()) {
        if (deadline.passed()) {
            return false;
        }
        platform::sleep_ms(2);
    }
    return true;
}

}  // namespace qv::test
