#pragma once
// Reading a regular file on a thread of its own, a ring of slices ahead of the worker that walks
// its packets. One thread fills the slices in file order, the worker takes them in the same
// order: a single-producer single-consumer ring whose two counters are the only shared state.
// Neither side takes a lock to hand a slice over; a side sleeps (on a condition variable) only
// when the ring is full (the reader) or empty (the worker), and is woken once half the ring is
// ready for it again, so a long run costs a few wake-ups per ring instead of several per slice.
//
// Only for regular files: a read from one always comes back, so the thread can always be
// stopped. Pipes, standard input and tuners are read by the worker itself.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/file.h"
#include "platform/thread.h"

namespace qv {

/// Slices in the ring: one held by the worker, the others read or being read.
inline constexpr uint32_t kReadAheadSliceCount = 16;
/// Room in front of a slice's bytes for the tail of the slice before it: the reader never
/// leaves more than a packet unit (192 bytes) behind, and refuses requests longer than this.
inline constexpr size_t kReadAheadLead = 4096;

/// What take_next() hands over: the tail of the previous slice followed by the new bytes.
struct ReadAheadBytes {
    uint8_t* data = nullptr;  ///< start of the tail copy
    size_t length = 0;        ///< tail and new bytes
    size_t new_bytes = 0;     ///< bytes that came from the file with this slice
};

class ReadAhead {
public:
    /// `slice_size` bytes per read.
    explicit ReadAhead(size_t slice_size);
    ~ReadAhead();  ///< stops the thread after the read it is in
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    /// Allocates the slices and starts reading `handle` (borrowed: it stays open until this
    /// object is gone) from its current position. False when memory or the thread is missing.
    [[nodiscard]] bool start(platform::NativeHandle handle);

    /// Waits for the next slice read from the file, copies `tail` (at most kReadAheadLead bytes,
    /// possibly inside the slice handed over last time) in front of its bytes, and gives the
    /// previous slice back to the thread. False at the end of the file or after a failed read:
    /// then nothing changes, the previous slice stays valid, and every later call is false too.
    [[nodiscard]] bool take_next(const uint8_t* tail, size_t tail_length, ReadAheadBytes& bytes);

    /// After take_next answered false: true when a read failed (not the end of the file), with
    /// the OS error code of that read.
    bool read_failed(int& error_code) const;

private:
    /// Set in `filled_` once the thread has read its last slice; in `released_` when the
    /// worker closes the ring. The counters below it count slices and never reach it.
    static constexpr uint32_t kFinal = 0x80000000u;

    void read_slices();
    uint8_t* slice(uint32_t index) const;
    /// Wakes the other side: under the lock, so that a side between its last look at the
    /// counters and its wait cannot miss it.
    void wake();

    size_t slice_size_;
    platform::NativeHandle handle_ = platform::kClosedHandle;
    std::unique_ptr<uint8_t[]> bytes_;  ///< the slices, each kReadAheadLead + slice_size_ long
    size_t lengths_[kReadAheadSliceCount] = {};  ///< bytes read into each slice

    /// Slices read so far (written by the thread only), kFinal once it has read its last.
    std::atomic<uint32_t> filled_{0};
    /// Slices the worker gave back (written by the worker only), kFinal when it closes.
    std::atomic<uint32_t> released_{0};
    /// A side about to sleep says so (under `sleep_lock_`), so that the other side wakes it;
    /// without a sleeper nothing is signalled and no lock is taken.
    std::atomic<bool> worker_sleeps_{false};
    std::atomic<bool> reader_sleeps_{false};
    std::mutex sleep_lock_;
    std::condition_variable woken_;
    uint32_t taken_ = 0;   ///< the worker's own count of slices taken
    bool failed_ = false;  ///< set by the thread before it publishes kFinal
    int error_code_ = 0;
    platform::Thread thread_;
    bool started_ = false;
};

}  // namespace qv
