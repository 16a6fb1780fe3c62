#pragma once
// Continuity counters for packets a mode builds itself (rebuilt PMTs, inserted caption items):
// one per PID, each continuing from that PID's own first packet. A single counter for several
// PIDs would make every other PID jump.
#include <cstdint>
#include <memory>
#include <vector>

#include "ts/packetizer.h"

namespace qv {

class PidCounters {
public:
    /// `first_shared`, when given, serves the first PID asked for (the pass keeps that record).
    explicit PidCounters(PidCounter* first_shared = nullptr);

    /// The counter of `pid`, made fresh (first use pending) on the first call for it.
    PidCounter& for_pid(uint16_t pid);

private:
    std::vector<PidCounter*> by_pid_;
    std::vector<std::unique_ptr<PidCounter>> own_;
    PidCounter* shared_ = nullptr;
};

}  // namespace qv
