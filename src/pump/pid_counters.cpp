#include "pump/pid_counters.h"

#include "ts/ts_packet.h"

namespace qv {

PidCounters::PidCounters(PidCounter* first_shared)
    : by_pid_(kPidCount, nullptr), shared_(first_shared)
{
}

PidCounter& PidCounters::for_pid(uint16_t pid)
{
    PidCounter*& counter = by_pid_[pid & 0x1FFF];
    if (counter == nullptr) {
        if (shared_ != nullptr) {
            counter = shared_;
            shared_ = nullptr;
        } else {
            own_.push_back(std::make_unique<PidCounter>());
            counter = own_.back().get();
        }
        *counter = PidCounter{};
        counter->pid = pid;
    }
    return *counter;
}

}  // namespace qv
