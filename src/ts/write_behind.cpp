// The writer thread of an output and the chunks it writes.
#include "ts/write_behind.h"

#include <new>
#include <optional>

#include "base/console_output.h"
#include "platform/clock.h"

namespace qv {

WriteBehind::WriteBehind(size_t buffer_size)
    : buffer_size_(buffer_size), chunk_size_(buffer_size * kWriteBehindChunkBuffers)
{
}

WriteBehind::~WriteBehind()
{
    if (!started_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();  // the thread writes what is queued before it ends
}

bool WriteBehind::start_direct(platform::NativeHandle handle)
{
    if (started_ || direct_ || buffer_size_ == 0) {
        return false;
    }
    chunks_.resize(1);
    chunks_[0].bytes.reset(new (std::nothrow) uint8_t[chunk_size_]);
    if (!chunks_[0].bytes) {
        chunks_.clear();
        return false;
    }
    current_ = 0;
    window_ = chunks_[0].bytes.get();
    handle_ = handle;
    direct_ = true;
    return true;
}

bool WriteBehind::start(platform::NativeHandle handle)
{
    if (started_ || direct_ || buffer_size_ == 0) {
        return false;
    }
    chunks_.resize(kWriteBehindChunkCount);
    for (Chunk& chunk : chunks_) {
        chunk.bytes.reset(new (std::nothrow) uint8_t[chunk_size_]);
        if (!chunk.bytes) {
            chunks_.clear();
            return false;
        }
    }
    for (size_t i = 1; i < chunks_.size(); ++i) {
        available_.push_back(i);
    }
    current_ = 0;
    window_ = chunks_[0].bytes.get();
    handle_ = handle;
    stop_grace_ms_ = platform::is_pipe_or_device(handle) ? kStopGraceMs : kFileStopGraceMs;
    started_ = thread_.start([this] { write_chunks(); });
    if (!started_) {
        chunks_.clear();
        available_.clear();
        window_ = nullptr;
    }
    return started_;
}

void WriteBehind::advance(size_t bytes, bool send_now)
{
    Chunk& chunk = chunks_[current_];
    chunk.length += bytes < buffer_size_ ? bytes : buffer_size_;
    if (chunk.length + buffer_size_ > chunk_size_ || (send_now && chunk.length > 0)) {
        if (direct_) {
            write_current_chunk();
        } else {
            send_current_chunk();
        }
    }
    window_ = chunks_[current_].bytes.get() + chunks_[current_].length;
}

template <typename Done>
void WriteBehind::wait_unless_stopped(std::unique_lock<std::mutex>& lock, Done done)
{
    // (<chrono> itself cannot be included: its literals do not convert to the Windows builds'
    // execution character set; the slice type comes with <condition_variable>.)
    const std::chrono::milliseconds slice(100);
    std::optional<uint32_t> stop_seen_ms;
    while (!changed_.wait_for(lock, slice, done)) {
        if (stop_requested.load() == 0) {
            continue;
        }
        const uint32_t now = platform::tick_count_ms();
        if (!stop_seen_ms) {
            stop_seen_ms = now;
        }
        if (now - *stop_seen_ms >= stop_grace_ms_) {
            abandon_locked();
        }
    }
}

void WriteBehind::abandon_locked()
{
    if (!abandoned_) {
        abandoned_ = true;
        failed_ = true;
        for (const size_t index : queued_) {
            available_.push_back(index);
        }
        queued_.clear();
        changed_.notify_all();
    }
    if (writing_) {
        thread_.interrupt_blocking_io();  // repeated each slice until the write gives up
    }
}

void WriteBehind::send_current_chunk()
{
    std::unique_lock<std::mutex> lock(mutex_);
    queued_.push_back(current_);
    changed_.notify_all();
    wait_unless_stopped(lock, [this] { return !available_.empty(); });
    current_ = available_.front();
    available_.pop_front();
    chunks_[current_].length = 0;
}

void WriteBehind::write_current_chunk()
{
    // After a failed write the rest is discarded unwritten, as the thread does.
    Chunk& chunk = chunks_[current_];
    if (!failed_) {
        size_t written = 0;
        const bool ok = platform::write_file(handle_, chunk.bytes.get(), chunk.length, written);
        if (!ok || written < chunk.length) {
            const int error = ok ? 0 : platform::last_error();
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = true;
            error_code_ = error;
        }
    }
    chunk.length = 0;
}

void WriteBehind::write_chunk_and(size_t window_bytes, const uint8_t* more, size_t length)
{
    Chunk& chunk = chunks_[current_];
    chunk.length += window_bytes < buffer_size_ ? window_bytes : buffer_size_;
    if (!failed_) {
        size_t written = 0;
        const bool ok = platform::write_file_pair(handle_, chunk.bytes.get(), chunk.length, more,
                                                  length, written);
        if (!ok || written < chunk.length + length) {
            const int error = ok ? 0 : platform::last_error();
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = true;
            error_code_ = error;
        }
    }
    chunk.length = 0;
    window_ = chunk.bytes.get();
}

void WriteBehind::wait_until_written()
{
    if (direct_) {
        return;  // every chunk handed on has been written
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wait_unless_stopped(lock, [this] { return queued_.empty() && !writing_; });
}

bool WriteBehind::failed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

int WriteBehind::error_code() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return error_code_;
}

/// The thread: writes the queued chunks in order until closing with nothing queued. After a
/// failed write the rest is given back unwritten, so the worker is never held up by it.
void WriteBehind::write_chunks()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queued_.empty() || closing_; });
        if (queued_.empty()) {
            return;
        }
        const size_t index = queued_.front();
        queued_.pop_front();
        writing_ = true;
        const bool skip = failed_;
        lock.unlock();

        const Chunk& chunk = chunks_[index];
        size_t written = 0;
        bool ok = true;
        int error = 0;
        if (!skip) {
            ok = platform::write_file(handle_, chunk.bytes.get(), chunk.length, written);
            error = ok ? 0 : platform::last_error();
        }

        lock.lock();
        if (!skip && (!ok || written < chunk.length)) {
            failed_ = true;
            error_code_ = error;
        }
        writing_ = false;
        available_.push_back(index);
        changed_.notify_all();
    }
}

}  // namespace qv
