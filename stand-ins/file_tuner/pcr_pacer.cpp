// Pacing a transport stream by its PCR.
#include "pcr_pacer.h"

namespace standin {
namespace {

/// The PCR counts 27 MHz ticks modulo 2^33 × 300.
constexpr uint64_t kPcrModulus = (uint64_t{1} << 33) * 300;
/// A step between two PCRs beyond this is a discontinuity, not time passing (the standard allows
/// 100 ms between PCRs).
constexpr uint64_t kLargestStep = uint64_t{27000000} * 3;

}  // namespace

bool packet_pcr(const uint8_t* packet, uint16_t& pid, uint64_t& pcr)
{
    if (packet[0] != 0x47 || (packet[3] & 0x20) == 0) {
        return false;
    }
    const uint8_t length = packet[4];
    // adaptation_field_length, flags, and the 6 bytes of program_clock_reference
    if (length < 7 || (packet[5] & 0x10) == 0) {
        return false;
    }
    pid = static_cast<uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
    const uint64_t base = (uint64_t{packet[6]} << 25) | (uint64_t{packet[7]} << 17) |
                          (uint64_t{packet[8]} << 9) | (uint64_t{packet[9]} << 1) |
                          (packet[10] >> 7);
    const uint64_t extension = (uint64_t{packet[10]} & 0x01) << 8 | packet[11];
    pcr = base * 300 + extension;
    return true;
}

uint64_t PcrPacer::place(const uint8_t* packet)
{
    uint16_t pid = 0;
    uint64_t pcr = 0;
    uint64_t time = last_time_;
    // Microseconds that `bytes` take at the rate of the last interval (0 before one is known).
    const auto spread = [this](uint64_t bytes) {
        return interval_bytes_ > 0 ? bytes * interval_us_ / interval_bytes_ : 0;
    };
    const bool timed = packet_pcr(packet, pid, pcr) && (!have_pid_ || pid == pid_);
    if (timed) {
        if (!have_pid_) {
            have_pid_ = true;
            pid_ = pid;
        }
        if (have_pcr_) {
            const uint64_t step = (pcr + kPcrModulus - last_pcr_) % kPcrModulus;
            if (step > 0 && step <= kLargestStep) {
                time = last_pcr_time_ + step / 27;
                interval_us_ = step / 27;
                interval_bytes_ = bytes_since_pcr_;
            } else {
                // A jump: carry on from where the spreading had got to, one packet later.
                time = last_time_ + spread(kPacketSize);
            }
        }
        have_pcr_ = true;
        last_pcr_ = pcr;
        last_pcr_time_ = time < last_time_ ? last_time_ : time;
        bytes_since_pcr_ = 0;
        time = last_pcr_time_;
    } else if (have_pcr_ && interval_bytes_ > 0) {
        time = last_pcr_time_ + spread(bytes_since_pcr_);
    }
    if (time < last_time_) {
        time = last_time_;
    }
    bytes_since_pcr_ += kPacketSize;
    last_time_ = time;
    return time;
}

}  // namespace standin
