#pragma once
// A TCP listener on the loopback address for the tests of the sender: it accepts connections one
// after the other on a thread of its own and keeps every byte it receives, optionally reading
// slowly.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net.h"

namespace qv::test {

class TcpListener {
public:
    /// Listens on 127.0.0.1 and `port` (0: a free one). `read_pause_ms` is slept after each read
    /// of at most `read_size` bytes (a slow reader).
    explicit TcpListener(int port = 0, uint32_t read_pause_ms = 0, size_t read_size = 64 * 1024);
    ~TcpListener();  ///< stops listening and reading
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    bool listening() const { return listener_ != standin::kNoSocket; }
    int port() const { return port_; }
    /// Everything received so far, all connections in order.
    std::vector<uint8_t> received();
    int connections() const { return connections_.load(); }
    /// Waits until `count` connections have ended (or the time-out passed); true when they have.
    bool wait_for_ended(int count, uint32_t timeout_ms);
    /// Waits until at least `bytes` have arrived; true when they have.
    bool wait_for_bytes(size_t bytes, uint32_t timeout_ms);

private:
    void serve();

    standin::Socket listener_ = standin::kNoSocket;
    int port_ = 0;
    uint32_t read_pause_ms_;
    size_t read_size_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> ended_{0};
    std::mutex mutex_;
    std::vector<uint8_t> received_;
    std::thread thread_;
};

/// A port on 127.0.0.1 that nothing listened on a moment ago (taken from a listener that was
/// closed again).
int unused_port();

}  // namespace qv::test
