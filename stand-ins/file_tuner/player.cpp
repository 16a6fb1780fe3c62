// Playing a transport stream file at its own pace.
#include "player.h"

#include <algorithm>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>
#endif

namespace standin {
namespace {

constexpr size_t kReadAhead = size_t{4} << 20;
constexpr size_t kReadSize = kPacketSize * 348;  // about 64 KiB

}  // namespace

std::FILE* open_for_reading(const std::string& path)
{
#if defined(_WIN32)
    const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (length <= 0) {
        return nullptr;
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
    return _wfopen(wide.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

Player::Player(const ChannelEntry& entry) : entry_(entry) {}

Player::~Player()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool Player::start(std::string& error)
{
    file_ = open_for_reading(entry_.path);
    if (file_ == nullptr) {
        error = "cannot open " + entry_.path;
        return false;
    }
    thread_ = std::thread([this] { read_loop(); });
    return true;
}

void Player::cut_packets(std::vector<uint8_t>& pending, bool at_end, Chunk& chunk)
{
    const size_t size = pending.size();
    size_t p = 0;
    if (unit_ == 0) {
        // The packet size from the first sync byte with another one a packet behind it.
        for (size_t i = 0; i + 192 < size && unit_ == 0; ++i) {
            if (pending[i] == 0x47 && pending[i + 188] == 0x47) {
                unit_ = 188;
            } else if (pending[i] == 0x47 && pending[i + 192] == 0x47) {
                unit_ = 192;
            }
        }
        if (unit_ == 0 && !at_end) {
            return;  // not enough to decide yet
        }
        if (unit_ == 0) {
            unit_ = 188;
        }
    }
    while (p + kPacketSize <= size) {
        if (pending[p] != 0x47) {
            ++p;  // out of step: find the next sync byte
            continue;
        }
        const bool whole =
            p + unit_ < size ? pending[p + unit_] == 0x47 : at_end || p + unit_ == size;
        if (!whole && p + unit_ < size) {
            ++p;  // a stray 0x47
            continue;
        }
        if (!whole) {
            break;  // the rest comes with the next read
        }
        chunk.bytes.insert(chunk.bytes.end(), pending.begin() + static_cast<ptrdiff_t>(p),
                           pending.begin() + static_cast<ptrdiff_t>(p + kPacketSize));
        chunk.times.push_back(pacer_.place(pending.data() + p));
        p += std::min<size_t>(unit_, size - p);
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(std::min(p, size)));
}

void Player::read_loop()
{
    std::vector<uint8_t> pending;
    std::vector<uint8_t> block(kReadSize);
    uint64_t packets_this_pass = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || buffered_ < kReadAhead; });
            if (stopping_) {
                return;
            }
        }
        const size_t got = std::fread(block.data(), 1, block.size(), file_);
        pending.insert(pending.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(got));
        const bool at_end = got == 0;
        Chunk chunk;
        cut_packets(pending, at_end, chunk);
        packets_this_pass += chunk.times.size();
        bool done = false;
        if (at_end) {
            pending.clear();
            // Looping starts the file again, unless a whole pass gave no packet at all.
            done = !entry_.loop || packets_this_pass == 0 || std::fseek(file_, 0, SEEK_SET) != 0;
            packets_this_pass = 0;
            unit_ = 0;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        bit_rate_ = pacer_.bit_rate();
        if (!chunk.times.empty()) {
            buffered_ += chunk.bytes.size();
            chunks_.push_back(std::move(chunk));
        }
        if (done) {
            reading_done_ = true;
        }
        changed_.notify_all();
        if (done) {
            return;
        }
    }
}

Player::Clock::time_point Player::play_time(uint64_t time) const
{
    const double scaled = static_cast<double>(time) / entry_.speed;
    return clock_start_ + std::chrono::microseconds(static_cast<int64_t>(scaled));
}

bool Player::due(uint64_t time, Clock::time_point now) const
{
    return entry_.pace == Pace::fast || play_time(time) <= now;
}

void Player::start_clock(Clock::time_point now)
{
    if (!clock_started_) {
        clock_started_ = true;
        clock_start_ = now;
        last_handout_ = now - kHandoutInterval;
    }
}

size_t Player::take_due(Clock::time_point now, std::vector<uint8_t>* out, size_t max_bytes)
{
    size_t taken = 0;
    while (!chunks_.empty()) {
        Chunk& chunk = chunks_.front();
        const size_t count = chunk.times.size();
        while (chunk.next < count && due(chunk.times[chunk.next], now)) {
            if (out != nullptr) {
                if (out->size() + kPacketSize > max_bytes) {
                    return taken;
                }
                const auto first =
                    chunk.bytes.begin() + static_cast<ptrdiff_t>(chunk.next * kPacketSize);
                out->insert(out->end(), first, first + kPacketSize);
            }
            ++chunk.next;
            ++taken;
        }
        if (chunk.next < count) {
            break;
        }
        buffered_ -= chunk.bytes.size();
        chunks_.pop_front();
        changed_.notify_all();  // room for the reading thread
    }
    return taken;
}

size_t Player::count_due(Clock::time_point now) const
{
    size_t count = 0;
    for (const Chunk& chunk : chunks_) {
        size_t i = chunk.next;
        while (i < chunk.times.size() && due(chunk.times[i], now)) {
            ++i;
        }
        count += i - chunk.next;
        if (i < chunk.times.size()) {
            break;
        }
    }
    return count;
}

void Player::hand_out(std::vector<uint8_t>& out, size_t max_bytes, uint32_t& remain)
{
    out.clear();
    std::unique_lock<std::mutex> lock(mutex_);
    Clock::time_point now = Clock::now();
    start_clock(now);
    // One hand-out per interval: the reader of the stream gets time to take each one.
    const Clock::time_point next_slot = last_handout_ + kHandoutInterval;
    if (entry_.pace != Pace::fast && now < next_slot) {
        changed_.wait_until(lock, next_slot, [this] { return stopping_; });
        now = Clock::now();
    }
    const Clock::time_point limit = now + kHandoutInterval;
    for (;;) {
        take_due(now, &out, max_bytes);
        if (!out.empty() || stopping_ || now >= limit) {
            break;
        }
        Clock::time_point wake = limit;
        if (!chunks_.empty()) {
            const Chunk& front = chunks_.front();
            if (front.next < front.times.size()) {
                wake = std::min(wake, play_time(front.times[front.next]));
            }
        }
        changed_.wait_until(lock, wake);
        now = Clock::now();
    }
    if (!out.empty()) {
        last_handout_ = now;
    }
    remain = static_cast<uint32_t>(count_due(now));
}

void Player::purge()
{
    std::lock_guard<std::mutex> lock(mutex_);
    // Before the clock starts nothing is due. Without pacing a packet is due only as it is
    // handed out, so nothing is waiting to be dropped either.
    if (!clock_started_ || entry_.pace == Pace::fast) {
        return;
    }
    take_due(Clock::now(), nullptr, 0);
}

uint32_t Player::ready_count()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!clock_started_ && entry_.pace != Pace::fast) {
        return 0;
    }
    return static_cast<uint32_t>(count_due(Clock::now()));
}

bool Player::wait(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const Clock::time_point limit = Clock::now() + timeout;
    start_clock(Clock::now());
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (count_due(now) > 0) {
            return true;
        }
        if (now >= limit || stopping_) {
            return false;
        }
        Clock::time_point wake = limit;
        if (!chunks_.empty() && chunks_.front().next < chunks_.front().times.size()) {
            wake = std::min(wake, play_time(chunks_.front().times[chunks_.front().next]));
        }
        changed_.wait_until(lock, wake);
    }
}

double Player::bit_rate()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return bit_rate_;
}

}  // namespace standin
