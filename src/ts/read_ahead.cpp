// The reading thread of a file source and the ring of slices it fills.
#include "ts/read_ahead.h"

#include <cstring>
#include <new>

namespace qv {
namespace {

/// A sleeping side is woken once this many slices are ready for it.
constexpr uint32_t kWakeBatch = kReadAheadSliceCount / 2;

}  // namespace

ReadAhead::ReadAhead(size_t slice_size) : slice_size_(slice_size) {}

ReadAhead::~ReadAhead()
{
    if (!started_) {
        return;
    }
    released_.store(released_.load() | kFinal);
    wake();
    thread_.join();
}

void ReadAhead::wake()
{
    std::lock_guard<std::mutex> lock(sleep_lock_);
    woken_.notify_all();
}

uint8_t* ReadAhead::slice(uint32_t index) const
{
    return bytes_.get() + size_t{index % kReadAheadSliceCount} * (kReadAheadLead + slice_size_);
}

bool ReadAhead::start(platform::NativeHandle handle)
{
    if (started_ || slice_size_ == 0 || handle == platform::kClosedHandle) {
        return false;
    }
    bytes_.reset(new (std::nothrow) uint8_t[kReadAheadSliceCount * (kReadAheadLead + slice_size_)]);
    if (!bytes_) {
        return false;
    }
    handle_ = handle;
    started_ = thread_.start([this] { read_slices(); });
    if (!started_) {
        bytes_.reset();
    }
    return started_;
}

bool ReadAhead::take_next(const uint8_t* tail, size_t tail_length, ReadAheadBytes& bytes)
{
    if (!started_ || tail_length > kReadAheadLead) {
        return false;
    }
    uint32_t filled = filled_.load(std::memory_order_acquire);
    while ((filled & ~kFinal) == taken_) {
        if ((filled & kFinal) != 0) {
            return false;  // every slice read has been taken
        }
        // The ring is empty: sleep until the thread has read half of it, or has ended.
        std::unique_lock<std::mutex> lock(sleep_lock_);
        worker_sleeps_.store(true);
        woken_.wait(lock, [this] { return filled_.load() != taken_; });
        worker_sleeps_.store(false);
        lock.unlock();
        filled = filled_.load(std::memory_order_acquire);
    }
    // The tail may lie in the slice handed over last time: it is copied before that slice goes
    // back to the thread.
    uint8_t* start = slice(taken_) + kReadAheadLead - tail_length;
    if (tail_length > 0) {
        std::memmove(start, tail, tail_length);
    }
    const size_t length = lengths_[taken_ % kReadAheadSliceCount];
    bytes.data = start;
    bytes.length = tail_length + length;
    bytes.new_bytes = length;
    // Every slice before this one goes back.
    released_.store(taken_);
    if (reader_sleeps_.load() && (filled & ~kFinal) - taken_ <= kReadAheadSliceCount - kWakeBatch) {
        wake();
    }
    ++taken_;
    return true;
}

bool ReadAhead::read_failed(int& error_code) const
{
    error_code = error_code_;
    return failed_;
}

/// The thread: fills the slices in file order until the end of the file, a failed read, or
/// closing. A slice is filled only once the worker has given it back.
void ReadAhead::read_slices()
{
    uint32_t filled = 0;
    for (;;) {
        uint32_t released = released_.load(std::memory_order_acquire);
        while ((released & kFinal) == 0 && filled - released >= kReadAheadSliceCount) {
            // The ring is full: sleep until the worker has given half of it back, or closes.
            std::unique_lock<std::mutex> lock(sleep_lock_);
            reader_sleeps_.store(true);
            woken_.wait(lock, [this, released] { return released_.load() != released; });
            reader_sleeps_.store(false);
            lock.unlock();
            released = released_.load(std::memory_order_acquire);
        }
        if ((released & kFinal) != 0) {
            return;
        }
        size_t got = 0;
        const platform::IoStatus status =
            platform::read_regular_file(handle_, slice(filled) + kReadAheadLead, slice_size_, got);
        if (status != platform::IoStatus::ok || got == 0) {
            failed_ = status == platform::IoStatus::failed;
            error_code_ = failed_ ? platform::last_error() : 0;
            filled_.store(filled | kFinal);
            wake();
            return;
        }
        lengths_[filled % kReadAheadSliceCount] = got;
        ++filled;
        filled_.store(filled);
        if (worker_sleeps_.load() && filled - released >= kWakeBatch + 1) {
            wake();
        }
    }
}

}  // namespace qv
