// The stand-in TCP sender: destinations, queues and the sending thread.
#include "sender.h"

#include <algorithm>

namespace standin {

Sender::Sender() = default;

Sender::~Sender()
{
    stop();
    for (auto& destination : destinations_) {
        close_socket(destination->socket);
    }
}

void Sender::add_destination(const std::string& host, int32_t port)
{
    auto destination = std::make_unique<Destination>();
    destination->host = host;
    destination->port = port;
    if (port < 1 || port > 65535) {
        destination->state = State::invalid;
        destination->problem = "port " + std::to_string(port) + " is not a TCP port";
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const bool late = running_;
    destinations_.push_back(std::move(destination));
    if (late) {
        // Added to a running sender: resolved now, connected by the sending thread.
        Destination& added = *destinations_.back();
        if (added.state != State::invalid) {
            std::string error;
            added.addresses = resolve(added.host, added.port, error);
            if (added.addresses.empty()) {
                added.state = State::unresolved;
                added.problem = error;
            }
            added.next_attempt = Clock::now();
        }
        waker_.wake();
    }
}

void Sender::clear_destinations()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& destination : destinations_) {
        destination->retired = true;
    }
    waker_.wake();
}

void Sender::resolve_all()
{
    for (auto& destination : destinations_) {
        if (destination->state != State::down || !destination->addresses.empty()) {
            continue;
        }
        std::string error;
        destination->addresses = resolve(destination->host, destination->port, error);
        if (destination->addresses.empty()) {
            destination->state = State::unresolved;
            destination->problem = error;
        }
    }
}

bool Sender::try_next_address(Destination& destination, Clock::time_point now)
{
    while (destination.address_index < destination.addresses.size()) {
        std::string error;
        destination.socket = begin_connect(destination.addresses[destination.address_index], error);
        if (destination.socket != kNoSocket) {
            destination.state = State::connecting;
            destination.attempt_deadline = now + kConnectTimeout;
            return true;
        }
        destination.problem = error;
        ++destination.address_index;
    }
    return false;
}

void Sender::fail_attempt(Destination& destination, const std::string& problem,
                          Clock::time_point now)
{
    close_socket(destination.socket);
    destination.problem = problem;
    ++destination.address_index;
    if (!try_next_address(destination, now)) {
        destination.state = State::down;
        destination.next_attempt = now + kRetryInterval;
    }
}

void Sender::connect_all_once()
{
    const Clock::time_point start = Clock::now();
    for (auto& destination : destinations_) {
        if (destination->state == State::down) {
            destination->address_index = 0;
            if (!try_next_address(*destination, start)) {
                destination->state = State::down;
                destination->next_attempt = start + kRetryInterval;
            }
        }
    }
    // All attempts share one second: a destination that is down must not delay the others.
    const Clock::time_point deadline = start + kConnectTimeout;
    for (;;) {
        std::vector<Wait> waits;
        std::vector<Destination*> owners;
        for (auto& destination : destinations_) {
            if (destination->state == State::connecting) {
                Wait wait;
                wait.socket = destination->socket;
                wait.want_write = true;
                waits.push_back(wait);
                owners.push_back(destination.get());
            }
        }
        const Clock::time_point now = Clock::now();
        if (waits.empty() || now >= deadline) {
            break;
        }
        if (!wait_sockets(waits, std::chrono::duration_cast<std::chrono::milliseconds>(
                                     deadline - now + std::chrono::milliseconds(1))
                                     .count())) {
            break;
        }
        for (size_t i = 0; i < waits.size(); ++i) {
            if (!waits[i].writable) {
                continue;
            }
            const int error = connect_result(owners[i]->socket);
            if (error == 0) {
                owners[i]->state = State::connected;
            } else {
                fail_attempt(*owners[i], socket_error_text(error), Clock::now());
            }
        }
    }
    // What has not connected within the second is tried again by the sending thread.
    const Clock::time_point now = Clock::now();
    for (auto& destination : destinations_) {
        if (destination->state == State::connecting) {
            close_socket(destination->socket);
            destination->problem = "connection timed out";
            destination->state = State::down;
            destination->next_attempt = now + kRetryInterval;
        }
    }
}

void Sender::start()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (running_) {
        return;
    }
    resolve_all();
    connect_all_once();
    stopping_ = false;
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void Sender::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) {
            return;
        }
        stopping_ = true;
        stop_deadline_ = Clock::now() + kDrainLimit;
        waker_.wake();
    }
    room_.notify_all();
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
}

void Sender::drop_queue(Destination& destination)
{
    destination.dropped += destination.queued;
    destination.queue.clear();
    destination.front_offset = 0;
    destination.queued = 0;
}

void Sender::lose_connection(Destination& destination, const std::string& problem,
                             Clock::time_point now)
{
    close_socket(destination.socket);
    destination.problem = problem;
    drop_queue(destination);
    destination.state = State::down;
    destination.address_index = 0;
    destination.next_attempt = now + kRetryInterval;
}

void Sender::add_data(const uint8_t* data, uint32_t length)
{
    if (data == nullptr || length == 0) {
        return;
    }
    const Block block = std::make_shared<const std::vector<uint8_t>>(data, data + length);
    std::unique_lock<std::mutex> lock(mutex_);
    const Clock::time_point deadline = Clock::now() + kBackPressureLimit;
    // By index: the wait below lets go of the lock, and a destination added meanwhile may
    // move the list (never the destinations, which are not removed).
    for (size_t index = 0; index < destinations_.size(); ++index) {
        Destination& destination = *destinations_[index];
        if (destination.retired || destination.state == State::finished) {
            continue;
        }
        // A full queue of a connected destination holds the caller: the reader is slow, and a
        // slow reader should lose nothing as long as it keeps up within the limit.
        while (running_ && !stopping_ && destination.state == State::connected &&
               destination.queued > 0 && destination.queued + length > kQueueLimit) {
            if (room_.wait_until(lock, deadline) == std::cv_status::timeout &&
                destination.queued + length > kQueueLimit) {
                const size_t queued = destination.queued;
                close_socket(destination.socket);
                drop_queue(destination);
                destination.state = State::given_up;
                destination.problem = "reader too slow, dropped";
                std::fprintf(stderr,
                             "SendTSTCP: %s: no room for %lld ms in a queue of %zu bytes: "
                             "destination dropped\n",
                             destination.label().c_str(),
                             static_cast<long long>(kBackPressureLimit.count()), queued);
                break;
            }
        }
        if (running_ && !stopping_ && destination.state == State::connected) {
            destination.queue.push_back(block);
            destination.queued += length;
        } else {
            destination.dropped += length;
            if (destination.problem.empty()) {
                destination.problem = !running_   ? "sender not started"
                                      : stopping_ ? "sender stopping"
                                                  : "not connected";
            }
        }
    }
    waker_.wake();
}

void Sender::clear_queues()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& destination : destinations_) {
        if (destination->queued > 0) {
            destination->problem = "queue cleared";
        }
        drop_queue(*destination);
    }
    room_.notify_all();
}

void Sender::report(std::FILE* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& destination : destinations_) {
        if (destination->dropped > 0) {
            std::fprintf(
                out, "SendTSTCP: %s: %llu bytes dropped, %llu sent (%s)\n",
                destination->label().c_str(), static_cast<unsigned long long>(destination->dropped),
                static_cast<unsigned long long>(destination->sent), destination->problem.c_str());
        }
    }
    std::fflush(out);
}

void Sender::send_queued(Destination& destination, Clock::time_point now)
{
    while (!destination.queue.empty()) {
        const std::vector<uint8_t>& front = *destination.queue.front();
        int error = 0;
        const long sent = send_some(destination.socket, front.data() + destination.front_offset,
                                    front.size() - destination.front_offset, error);
        if (sent < 0) {
            lose_connection(destination, "connection lost (" + socket_error_text(error) + ")", now);
            return;
        }
        if (sent == 0) {
            return;  // the socket's buffer is full
        }
        destination.front_offset += static_cast<size_t>(sent);
        destination.queued -= static_cast<size_t>(sent);
        destination.sent += static_cast<uint64_t>(sent);
        if (destination.front_offset == front.size()) {
            destination.queue.pop_front();
            destination.front_offset = 0;
        }
    }
}

void Sender::check_peer(Destination& destination, Clock::time_point now)
{
    // The stream only goes out; anything the peer sends is read and ignored. The end of its
    // stream means it went away.
    uint8_t bytes[4096];
    int error = 0;
    const long got = receive_some(destination.socket, bytes, sizeof bytes, error);
    if (got == 0) {
        lose_connection(destination, "connection closed by the reader", now);
    } else if (got < 0 && error != 0) {
        lose_connection(destination, "connection lost (" + socket_error_text(error) + ")", now);
    }
}

bool Sender::drained() const
{
    return std::none_of(destinations_.begin(), destinations_.end(), [](const auto& destination) {
        return destination->state == State::connected && destination->queued > 0;
    });
}

void Sender::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Clock::time_point now = Clock::now();
        if (stopping_ && (drained() || now >= stop_deadline_)) {
            break;
        }
        Clock::time_point wake_at = now + std::chrono::seconds(1);
        if (stopping_) {
            wake_at = std::min(wake_at, stop_deadline_);
        }
        std::vector<Wait> waits;
        std::vector<Destination*> owners;
        Wait waker;
        waker.socket = waker_.socket();
        waker.want_read = waker_.usable();
        waits.push_back(waker);
        owners.push_back(nullptr);
        for (auto& owned : destinations_) {
            Destination& destination = *owned;
            if (destination.retired && destination.queued == 0 &&
                destination.state != State::invalid && destination.state != State::unresolved &&
                destination.state != State::given_up) {
                // Cleared from the list with nothing left to send: done with it.
                close_socket(destination.socket);
                destination.state = State::finished;
            }
            if (destination.state == State::down && !destination.retired && !stopping_ &&
                now >= destination.next_attempt) {
                destination.address_index = 0;
                if (!try_next_address(destination, now)) {
                    destination.next_attempt = now + kRetryInterval;
                }
            }
            if (destination.state == State::connecting && now >= destination.attempt_deadline) {
                fail_attempt(destination, "connection timed out", now);
            }
            Wait wait;
            wait.socket = destination.socket;
            if (destination.state == State::connecting) {
                wait.want_write = true;
                wake_at = std::min(wake_at, destination.attempt_deadline);
            } else if (destination.state == State::connected) {
                wait.want_write = destination.queued > 0;
                wait.want_read = true;
            } else {
                if (destination.state == State::down && !destination.retired && !stopping_) {
                    wake_at = std::min(wake_at, destination.next_attempt);
                }
                continue;
            }
            waits.push_back(wait);
            owners.push_back(&destination);
        }
        lock.unlock();
        const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(
            wake_at - now + std::chrono::milliseconds(1));
        if (!wait_sockets(waits, timeout.count())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        lock.lock();
        if (waits[0].readable) {
            waker_.drain();
        }
        now = Clock::now();
        for (size_t i = 1; i < waits.size(); ++i) {
            Destination& destination = *owners[i];
            if (destination.socket != waits[i].socket) {
                continue;  // changed while the lock was free (dropped for being too slow)
            }
            if (destination.state == State::connecting && waits[i].writable) {
                const int error = connect_result(destination.socket);
                if (error == 0) {
                    destination.state = State::connected;
                } else {
                    fail_attempt(destination, socket_error_text(error), now);
                }
                continue;
            }
            if (destination.state == State::connected && waits[i].writable) {
                send_queued(destination, now);
            }
            if (destination.state == State::connected && waits[i].readable) {
                check_peer(destination, now);
            }
        }
        room_.notify_all();
    }
    // Whatever could not be sent in time is dropped with the connections.
    for (auto& destination : destinations_) {
        if (destination->queued > 0) {
            destination->problem = "not sent before the sender stopped";
        }
        drop_queue(*destination);
        close_socket(destination->socket);
        if (destination->state == State::connected || destination->state == State::connecting) {
            destination->state = State::down;
        }
    }
    room_.notify_all();
}

std::string utf16_to_utf8(const char16_t* text)
{
    std::string result;
    if (text == nullptr) {
        return result;
    }
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            result.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            result.push_back(static_cast<char>(0xC0 | (code >> 6)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            result.push_back(static_cast<char>(0xE0 | (code >> 12)));
            result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            result.push_back(static_cast<char>(0xF0 | (code >> 18)));
            result.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return result;
}

}  // namespace standin
