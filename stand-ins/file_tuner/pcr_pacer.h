#pragma once
// The play time of each packet of a transport stream from its PCR (ISO/IEC 13818-1 2.4.2.2):
// packets that carry a PCR of the chosen PID play at that clock's time, the packets between
// two of them at times spread by their byte position at the rate of the last interval. Time
// never runs backwards; a PCR that jumps back or ahead by more than a few seconds (a loop to the
// file's start, a splice) continues the time line instead of restarting it.
#include <cstdint>

namespace standin {

inline constexpr uint32_t kPacketSize = 188;

class PcrPacer {
public:
    /// The play time of the next packet (188 bytes) in microseconds from the stream's start.
    uint64_t place(const uint8_t* packet);

    /// The bit rate of the last PCR interval in bits per second (0 before two PCRs).
    double bit_rate() const
    {
        return interval_us_ > 0 ? static_cast<double>(interval_bytes_) * 8e6 / interval_us_ : 0.0;
    }

private:
    bool have_pid_ = false;
    uint16_t pid_ = 0;  ///< the PID whose PCR paces the stream: the first one seen
    bool have_pcr_ = false;
    uint64_t last_pcr_ = 0;       ///< 27 MHz
    uint64_t last_pcr_time_ = 0;  ///< play time of the packet with the last PCR, microseconds
    uint64_t bytes_since_pcr_ = 0;
    /// The last interval between two PCRs: its length and the bytes in it. Times between PCRs
    /// are computed in integers from these, so they come out the same on every machine.
    uint64_t interval_us_ = 0;
    uint64_t interval_bytes_ = 0;
    uint64_t last_time_ = 0;
};

/// The 27 MHz PCR of a packet; false when it carries none.
bool packet_pcr(const uint8_t* packet, uint16_t& pid, uint64_t& pcr);

}  // namespace standin
