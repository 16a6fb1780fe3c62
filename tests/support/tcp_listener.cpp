#include "support/tcp_listener.h"

#include "support/deadline.h"

namespace qv::test {

TcpListener::TcpListener(int port, uint32_t read_pause_ms, size_t read_size)
    : read_pause_ms_(read_pause_ms), read_size_(read_size)
{
    standin::start_sockets();
    std::string error;
    listener_ = standin::listen_on("127.0.0.1", port, port_, error);
    if (listener_ != standin::kNoSocket) {
        thread_ = std::thread([this] { serve(); });
    }
}

TcpListener::~TcpListener()
{
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    standin::close_socket(listener_);
}

void TcpListener::serve()
{
    std::vector<uint8_t> buffer(read_size_);
    while (!stop_) {
        std::vector<standin::Wait> waits(1);
        waits[0].socket = listener_;
        waits[0].want_read = true;
        if (!standin::wait_sockets(waits, 20) || !waits[0].readable) {
            continue;
        }
        standin::Socket connection = standin::accept_connection(listener_);
        if (connection == standin::kNoSocket) {
            continue;
        }
        ++connections_;
        while (!stop_) {
            waits[0].socket = connection;
            if (!standin::wait_sockets(waits, 20) || !waits[0].readable) {
                continue;
            }
            const long got = standin::receive_blocking(connection, buffer.data(), buffer.size());
            if (got <= 0) {
                break;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.insert(received_.end(), buffer.begin(), buffer.begin() + got);
            }
            // The pause is slept in short steps, so that the end of the test does not wait.
            const Deadline resume(read_pause_ms_);
            while (!stop_ && !resume.passed()) {
                platform::sleep_ms(read_pause_ms_ < 10 ? read_pause_ms_ : 10);
            }
        }
        standin::close_socket(connection);
        ++ended_;
    }
}

std::vector<uint8_t> TcpListener::received()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool TcpListener::wait_for_ended(int count, uint32_t timeout_ms)
{
    return wait_until([&] { return ended_.load() >= count; }, timeout_ms);
}

bool TcpListener::wait_for_bytes(size_t bytes, uint32_t timeout_ms)
{
    return wait_until(
        [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return received_.size() >= bytes;
        },
        timeout_ms);
}

int unused_port()
{
    standin::start_sockets();
    int port = 0;
    std::string error;
    standin::Socket socket = standin::listen_on("127.0.0.1", 0, port, error);
    standin::close_socket(socket);
    return port;
}

}  // namespace qv::test
