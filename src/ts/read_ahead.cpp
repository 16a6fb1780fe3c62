// The reading thread of a file source and the slices it fills.
#include "ts/read_ahead.h"

#include <cstring>
#include <new>

namespace qv {

ReadAhead::ReadAhead(size_t slice_size) : slice_size_(slice_size) {}

ReadAhead::~ReadAhead()
{
    if (!started_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool ReadAhead::start(platform::NativeHandle handle)
{
    if (started_ || slice_size_ == 0 || handle == platform::kClosedHandle) {
        return false;
    }
    slices_.resize(kReadAheadSliceCount);
    for (size_t i = 0; i < slices_.size(); ++i) {
        slices_[i].bytes.reset(new (std::nothrow) uint8_t[kReadAheadLead + slice_size_]);
        if (!slices_[i].bytes) {
            slices_.clear();
            free_.clear();
            return false;
        }
        free_.push_back(i);
    }
    handle_ = handle;
    started_ = thread_.start([this] { read_slices(); });
    if (!started_) {
        slices_.clear();
        free_.clear();
    }
    return started_;
}

bool ReadAhead::take_next(const uint8_t* tail, size_t tail_length, ReadAheadBytes& bytes)
{
    if (!started_ || tail_length > kReadAheadLead) {
        return false;
    }
    size_t next = kNoSlice;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !filled_.empty() || ended_; });
        if (filled_.empty()) {
            return false;
        }
        next = filled_.front();
        filled_.pop_front();
    }
    // The tail may lie in the held slice, which the thread cannot touch until it is given back.
    Slice& slice = slices_[next];
    uint8_t* start = slice.bytes.get() + kReadAheadLead - tail_length;
    if (tail_length > 0) {
        std::memmove(start, tail, tail_length);
    }
    bytes.data = start;
    bytes.length = tail_length + slice.length;
    bytes.new_bytes = slice.length;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (held_ != kNoSlice) {
            free_.push_back(held_);
        }
        held_ = next;
    }
    changed_.notify_all();
    return true;
}

bool ReadAhead::read_failed(int& error_code)
{
    std::lock_guard<std::mutex> lock(mutex_);
    error_code = error_code_;
    return failed_;
}

/// The thread: fills free slices in file order until the end of the file, a failed read, or
/// closing.
void ReadAhead::read_slices()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !free_.empty() || closing_; });
        if (closing_) {
            return;
        }
        const size_t index = free_.front();
        free_.pop_front();
        lock.unlock();

        Slice& slice = slices_[index];
        size_t got = 0;
        const platform::IoStatus status =
            platform::read_file(handle_, slice.bytes.get() + kReadAheadLead, slice_size_, got);
        const int error = status == platform::IoStatus::failed ? platform::last_error() : 0;

        lock.lock();
        if (status == platform::IoStatus::ok && got > 0) {
            slice.length = got;
            filled_.push_back(index);
        } else {
            free_.push_back(index);
            ended_ = true;
            failed_ = status == platform::IoStatus::failed;
            error_code_ = error;
        }
        changed_.notify_all();
        if (ended_) {
            return;
        }
    }
}

}  // namespace qv
