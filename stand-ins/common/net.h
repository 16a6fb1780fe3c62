#pragma once
// The little of the sockets API the stand-ins need, the same on POSIX and Windows: non-blocking
// TCP connections, a listener, waiting on several sockets, and the texts of socket errors.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

using Socket = intptr_t;
inline constexpr Socket kNoSocket = -1;

/// Starts the sockets library (Windows); true on POSIX.
bool start_sockets();

/// One resolved address of a destination.
struct Address {
    std::vector<uint8_t> bytes;  ///< a sockaddr of the family
    int family = 0;
};

/// Resolves `host` and `port` for a TCP connection; empty with `error` set when it fails.
std::vector<Address> resolve(const std::string& host, int port, std::string& error);

/// Starts a non-blocking connection. Returns the socket (the connection may still be under way:
/// wait for it to become writable, then ask connect_result) or kNoSocket with `error`.
Socket begin_connect(const Address& address, std::string& error);
/// 0 when the connection came up, else the socket error code.
int connect_result(Socket socket);

/// Bytes sent, 0 when the socket cannot take more now, -1 on error (`error` set).
long send_some(Socket socket, const uint8_t* data, size_t size, int& error);
/// Bytes received, 0 when the peer closed, -1 on error (`error` set) or when nothing is there
/// (`error` is then 0).
long receive_some(Socket socket, uint8_t* data, size_t size, int& error);

void close_socket(Socket& socket);

/// A listening TCP socket on `bind_address` (numeric) and `port` (0: any free one); kNoSocket
/// with `error` when it fails. `bound_port` receives the port it listens on.
Socket listen_on(const std::string& bind_address, int port, int& bound_port, std::string& error);
/// Accepts one connection (blocking); kNoSocket when the listener failed or was closed.
Socket accept_connection(Socket listener);
/// Blocking receive on an accepted socket: bytes, 0 at the end, -1 on error.
long receive_blocking(Socket socket, uint8_t* data, size_t size);

/// A socket to wait on and what happened to it.
struct Wait {
    Socket socket = kNoSocket;
    bool want_read = false;
    bool want_write = false;
    bool readable = false;  ///< data, the end of the stream, or an error
    bool writable = false;  ///< room to send, or a finished (or failed) connection attempt
};
/// Waits until one of the sockets is ready or `timeout_ms` passed; false on a failure of the wait
/// itself. (Plain milliseconds: this header is also read by code built with a Shift_JIS
/// execution character set, in which <chrono> does not compile.)
bool wait_sockets(std::vector<Wait>& waits, long long timeout_ms);

/// A way to wake a thread that waits on sockets: a UDP socket on the loopback address that
/// sends to itself.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    bool usable() const { return socket_ != kNoSocket; }
    Socket socket() const { return socket_; }
    void wake();
    void drain();  ///< reads the wake-ups that arrived

private:
    Socket socket_ = kNoSocket;
};

/// The text of a socket error code ("connection refused" …).
std::string socket_error_text(int error);

}  // namespace standin
