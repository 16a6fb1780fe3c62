#pragma once
// One sender of the stand-in TCP sender library: its destinations, the data queued for each,
// and the thread that sends it.
//
// - start() resolves every destination and connects each once (1 s for all together) before it
//   returns, so a listener that is already up receives the stream from its first byte; then one
//   sending thread serves every destination of the sender.
// - add_data() copies the block once and queues it for every connected destination (at most
//   32 MiB each). A destination whose queue is full holds the caller up to 2 s in all; when it
//   is still full then, the destination is dropped for good, with a line on standard error.
//   Data for a destination that is not connected is dropped and counted: the stream is live. An
//   unconnected destination is tried again every second.
// - clear_destinations() takes no new data for the current destinations, but what is queued for
//   them is still sent; stop() sends what is queued (5 s at most), closes and joins.
// - Bad destinations (port outside 1..65535, a host that does not resolve) count every byte meant
//   for them as dropped; report() writes one line per destination that dropped anything.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net.h"

namespace standin {

inline constexpr size_t kQueueLimit = size_t{32} << 20;
inline constexpr std::chrono::milliseconds kConnectTimeout{1000};
inline constexpr std::chrono::milliseconds kRetryInterval{1000};
inline constexpr std::chrono::milliseconds kBackPressureLimit{2000};
inline constexpr std::chrono::milliseconds kDrainLimit{5000};

using Clock = std::chrono::steady_clock;

class Sender {
public:
    Sender();
    ~Sender();  ///< stops a sender still running
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    void add_destination(const std::string& host, int32_t port);
    void clear_destinations();
    void start();
    void stop();
    void add_data(const uint8_t* data, uint32_t length);
    /// Drops everything queued (counted as dropped).
    void clear_queues();
    /// One line per destination that dropped anything.
    void report(std::FILE* out);

private:
    enum class State { invalid, unresolved, down, connecting, connected, given_up, finished };
    using Block = std::shared_ptr<const std::vector<uint8_t>>;

    struct Destination {
        std::string host;
        int32_t port = 0;
        State state = State::down;
        std::string problem;  ///< why data was dropped last
        std::vector<Address> addresses;
        size_t address_index = 0;  ///< the address being tried
        Socket socket = kNoSocket;
        Clock::time_point next_attempt;
        Clock::time_point attempt_deadline;
        std::deque<Block> queue;
        size_t front_offset = 0;  ///< bytes of the front block already sent
        size_t queued = 0;        ///< bytes queued and not yet sent
        uint64_t sent = 0;
        uint64_t dropped = 0;
        bool retired = false;  ///< cleared from the list: sends what it has, takes nothing new

        std::string label() const { return host + ":" + std::to_string(port); }
    };

    void resolve_all();
    void connect_all_once();
    bool try_next_address(Destination& destination, Clock::time_point now);
    void fail_attempt(Destination& destination, const std::string& problem, Clock::time_point now);
    void lose_connection(Destination& destination, const std::string& problem,
                         Clock::time_point now);
    void drop_queue(Destination& destination);
    void send_queued(Destination& destination, Clock::time_point now);
    void check_peer(Destination& destination, Clock::time_point now);
    bool drained() const;
    void run();

    std::mutex mutex_;
    std::condition_variable room_;  ///< a queue became shorter or a destination changed state
    std::vector<std::unique_ptr<Destination>> destinations_;
    std::thread thread_;
    bool running_ = false;
    bool stopping_ = false;
    Clock::time_point stop_deadline_;
    Waker waker_;
};

/// UTF-16 text → UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(const char16_t* text);

}  // namespace standin
