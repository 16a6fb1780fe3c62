// Sockets for the stand-ins: POSIX sockets with poll, or Winsock with select.
#include "net.h"

#include <cstring>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace standin {

namespace {

#if defined(_WIN32)
using NativeSocket = SOCKET;
NativeSocket native(Socket socket)
{
    return static_cast<SOCKET>(socket);
}
int last_error()
{
    return WSAGetLastError();
}
bool busy(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}
int close_native(NativeSocket socket)
{
    return closesocket(socket);
}
bool set_nonblocking(NativeSocket socket)
{
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
}
#else
using NativeSocket = int;
NativeSocket native(Socket socket)
{
    return static_cast<int>(socket);
}
int last_error()
{
    return errno;
}
bool busy(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
}
int close_native(NativeSocket socket)
{
    return ::close(socket);
}
bool set_nonblocking(NativeSocket socket)
{
    const int flags = ::fcntl(socket, F_GETFL, 0);
    return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}
#endif

Socket wrap(NativeSocket socket)
{
#if defined(_WIN32)
    return socket == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(socket);
#else
    return socket < 0 ? kNoSocket : static_cast<Socket>(socket);
#endif
}

}  // namespace

bool start_sockets()
{
#if defined(_WIN32)
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
#else
    return true;
#endif
}

std::vector<Address> resolve(const std::string& host, int port, std::string& error)
{
    std::vector<Address> addresses;
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int result = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (result != 0) {
#if defined(_WIN32)
        error = "host not found (" + socket_error_text(result) + ")";
#else
        error = std::string("host not found (") + ::gai_strerror(result) + ")";
#endif
        return addresses;
    }
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        Address address;
        const auto* bytes = reinterpret_cast<const uint8_t*>(entry->ai_addr);
        address.bytes.assign(bytes, bytes + entry->ai_addrlen);
        address.family = entry->ai_family;
        addresses.push_back(std::move(address));
    }
    ::freeaddrinfo(found);
    if (addresses.empty()) {
        error = "host has no address";
    }
    return addresses;
}

Socket begin_connect(const Address& address, std::string& error)
{
    NativeSocket socket = ::socket(address.family, SOCK_STREAM, IPPROTO_TCP);
    Socket result = wrap(socket);
    if (result == kNoSocket) {
        error = socket_error_text(last_error());
        return kNoSocket;
    }
    if (!set_nonblocking(socket)) {
        error = socket_error_text(last_error());
        close_socket(result);
        return kNoSocket;
    }
    // A transport stream goes out in large blocks; Nagle's delay would only add latency.
    int on = 1;
    (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                       sizeof on);
    const auto* sockaddr_bytes = reinterpret_cast<const sockaddr*>(address.bytes.data());
    if (::connect(socket, sockaddr_bytes, static_cast<int>(address.bytes.size())) != 0 &&
        !busy(last_error())) {
        error = socket_error_text(last_error());
        close_socket(result);
        return kNoSocket;
    }
    return result;
}

int connect_result(Socket socket)
{
    int error = 0;
#if defined(_WIN32)
    int length = sizeof error;
#else
    socklen_t length = sizeof error;
#endif
    if (::getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &length) != 0) {
        return last_error();
    }
    return error;
}

long send_some(Socket socket, const uint8_t* data, size_t size, int& error)
{
    error = 0;
#if defined(_WIN32)
    const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    const int sent = ::send(native(socket), reinterpret_cast<const char*>(data), chunk, 0);
#else
    // No SIGPIPE for a peer that went away: the error is reported instead.
    const ssize_t sent = ::send(native(socket), data, size, MSG_NOSIGNAL);
#endif
    if (sent >= 0) {
        return static_cast<long>(sent);
    }
    const int code = last_error();
    if (busy(code)) {
        return 0;
    }
    error = code;
    return -1;
}

long receive_some(Socket socket, uint8_t* data, size_t size, int& error)
{
    error = 0;
#if defined(_WIN32)
    const int got = ::recv(native(socket), reinterpret_cast<char*>(data),
                           size > 0x40000000 ? 0x40000000 : static_cast<int>(size), 0);
#else
    const ssize_t got = ::recv(native(socket), data, size, 0);
#endif
    if (got >= 0) {
        return static_cast<long>(got);
    }
    const int code = last_error();
    error = busy(code) ? 0 : code;
    return -1;
}

void close_socket(Socket& socket)
{
    if (socket != kNoSocket) {
        (void)close_native(native(socket));
        socket = kNoSocket;
    }
}

Socket listen_on(const std::string& bind_address, int port, int& bound_port, std::string& error)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(bind_address.c_str(), service.c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        error = "not a numeric address: " + bind_address;
        return kNoSocket;
    }
    NativeSocket socket = ::socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
    Socket result = wrap(socket);
    if (result == kNoSocket) {
        error = socket_error_text(last_error());
        ::freeaddrinfo(found);
        return kNoSocket;
    }
#if !defined(_WIN32)
    // A port that a previous run left in TIME_WAIT can be listened on again at once.
    int on = 1;
    (void)::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    const bool bound = ::bind(socket, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
                       ::listen(socket, 16) == 0;
    ::freeaddrinfo(found);
    if (!bound) {
        error = socket_error_text(last_error());
        close_socket(result);
        return kNoSocket;
    }
    sockaddr_storage local;
#if defined(_WIN32)
    int length = sizeof local;
#else
    socklen_t length = sizeof local;
#endif
    bound_port = port;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        if (local.ss_family == AF_INET) {
            bound_port = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
        } else if (local.ss_family == AF_INET6) {
            bound_port = ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
        }
    }
    return result;
}

Socket accept_connection(Socket listener)
{
    return wrap(::accept(native(listener), nullptr, nullptr));
}

long receive_blocking(Socket socket, uint8_t* data, size_t size)
{
    for (;;) {
        int error = 0;
        const long got = receive_some(socket, data, size, error);
#if !defined(_WIN32)
        if (got < 0 && error == EINTR) {
            continue;
        }
#endif
        return got;
    }
}

bool wait_sockets(std::vector<Wait>& waits, long long timeout_ms)
{
    const long long milliseconds = timeout_ms < 0 ? 0 : timeout_ms;
#if defined(_WIN32)
    // select, not WSAPoll: WSAPoll does not report a connection attempt that failed.
    fd_set readers;
    fd_set writers;
    fd_set failures;
    FD_ZERO(&readers);
    FD_ZERO(&writers);
    FD_ZERO(&failures);
    for (Wait& wait : waits) {
        wait.readable = wait.writable = false;
        if (wait.want_read) {
            FD_SET(native(wait.socket), &readers);
        }
        if (wait.want_write) {
            FD_SET(native(wait.socket), &writers);
            FD_SET(native(wait.socket), &failures);
        }
    }
    timeval limit;
    limit.tv_sec = static_cast<long>(milliseconds / 1000);
    limit.tv_usec = static_cast<long>(milliseconds % 1000 * 1000);
    if (::select(0, &readers, &writers, &failures, &limit) == SOCKET_ERROR) {
        // An empty set makes select fail on Windows: it is then only a sleep.
        if (WSAGetLastError() == WSAEINVAL) {
            Sleep(static_cast<DWORD>(milliseconds));
            return true;
        }
        return false;
    }
    for (Wait& wait : waits) {
        wait.readable = wait.want_read && FD_ISSET(native(wait.socket), &readers);
        wait.writable = wait.want_write && (FD_ISSET(native(wait.socket), &writers) ||
                                            FD_ISSET(native(wait.socket), &failures));
    }
    return true;
#else
    std::vector<pollfd> entries(waits.size());
    for (size_t i = 0; i < waits.size(); ++i) {
        entries[i].fd = native(waits[i].socket);
        entries[i].events = static_cast<short>((waits[i].want_read ? POLLIN : 0) |
                                               (waits[i].want_write ? POLLOUT : 0));
        entries[i].revents = 0;
    }
    const int result = ::poll(entries.data(), entries.size(),
                              static_cast<int>(milliseconds > 60000 ? 60000 : milliseconds));
    if (result < 0 && errno != EINTR) {
        return false;
    }
    for (size_t i = 0; i < waits.size(); ++i) {
        const short events = result > 0 ? entries[i].revents : 0;
        const bool trouble = (events & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        waits[i].readable = waits[i].want_read && ((events & POLLIN) != 0 || trouble);
        waits[i].writable = waits[i].want_write && ((events & POLLOUT) != 0 || trouble);
    }
    return true;
#endif
}

Waker::Waker()
{
    Socket socket = wrap(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (socket == kNoSocket) {
        return;
    }
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    sockaddr_in bound;
#if defined(_WIN32)
    int length = sizeof bound;
#else
    socklen_t length = sizeof bound;
#endif
    const bool ok =
        ::bind(native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(native(socket), reinterpret_cast<sockaddr*>(&bound), &length) == 0 &&
        ::connect(native(socket), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0 &&
        set_nonblocking(native(socket));
    if (!ok) {
        close_socket(socket);
        return;
    }
    socket_ = socket;
}

Waker::~Waker()
{
    close_socket(socket_);
}

void Waker::wake()
{
    if (socket_ != kNoSocket) {
        const char byte = 1;
        (void)::send(native(socket_), &byte, 1, 0);
    }
}

void Waker::drain()
{
    char bytes[64];
    while (socket_ != kNoSocket && ::recv(native(socket_), bytes, sizeof bytes, 0) > 0) {
    }
}

std::string socket_error_text(int error)
{
#if defined(_WIN32)
    switch (error) {
        case WSAECONNREFUSED:
            return "connection refused";
        case WSAETIMEDOUT:
            return "connection timed out";
        case WSAECONNRESET:
            return "connection reset by peer";
        case WSAECONNABORTED:
            return "connection aborted";
        case WSAENETUNREACH:
            return "network unreachable";
        case WSAEHOSTUNREACH:
            return "host unreachable";
        case WSAHOST_NOT_FOUND:
            return "no such host";
        case WSATRY_AGAIN:
            return "temporary failure in name resolution";
        case WSANO_DATA:
            return "no address for the host";
        default:
            return "socket error " + std::to_string(error);
    }
#else
    return std::strerror(error);
#endif
}

}  // namespace standin
