#pragma once
// Plays one channel's file: a reading thread reads it ahead (at most 4 MiB), the PCR pacer gives
// each packet its play time, and the hand-outs take the packets whose time has come. The play
// clock starts with the first hand-out, so nothing is due, and nothing dropped, before a reader
// asks.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channels_file.h"
#include "pcr_pacer.h"

namespace standin {

/// Time between two hand-outs, and the longest a hand-out waits for packets.
inline constexpr std::chrono::milliseconds kHandoutInterval{10};

class Player {
public:
    explicit Player(const ChannelEntry& entry);
    ~Player();  ///< stops the reading thread and waits for it
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    /// Opens the file and starts reading; false with `error` when the file cannot be opened.
    bool start(std::string& error);

    /// Puts the packets whose play time has come into `out` (replacing its content, at most
    /// `max_bytes`); waits for them as described in file_tuner_core.h. `remain` receives the
    /// packets still due after these.
    void hand_out(std::vector<uint8_t>& out, size_t max_bytes, uint32_t& remain);
    /// Drops the packets whose play time has come.
    void purge();
    uint32_t ready_count();
    /// True as soon as a packet is due, false after `timeout`.
    bool wait(std::chrono::milliseconds timeout);
    double bit_rate();

private:
    using Clock = std::chrono::steady_clock;

    /// Packets read in one go with the play time of each (microseconds of stream time).
    struct Chunk {
        std::vector<uint8_t> bytes;
        std::vector<uint64_t> times;
        size_t next = 0;  ///< first packet not handed out
    };

    void read_loop();
    /// Cuts the packets out of `pending` (188-byte packets or 192-byte units); `at_end` takes a
    /// last packet that has nothing behind it.
    void cut_packets(std::vector<uint8_t>& pending, bool at_end, Chunk& chunk);
    bool due(uint64_t time, Clock::time_point now) const;
    Clock::time_point play_time(uint64_t time) const;
    /// Takes due packets into `out` (nullptr: drops them); returns the count.
    size_t take_due(Clock::time_point now, std::vector<uint8_t>* out, size_t max_bytes);
    size_t count_due(Clock::time_point now) const;
    void start_clock(Clock::time_point now);

    ChannelEntry entry_;
    std::FILE* file_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> chunks_;
    size_t buffered_ = 0;
    bool reading_done_ = false;
    bool stopping_ = false;
    bool clock_started_ = false;
    Clock::time_point clock_start_;
    Clock::time_point last_handout_;
    uint32_t unit_ = 0;  ///< 188 or 192 once known
    PcrPacer pacer_;     ///< used by the reading thread only
    double bit_rate_ = 0.0;
};

/// Opens a file for reading by its UTF-8 path.
std::FILE* open_for_reading(const std::string& path);

}  // namespace standin
