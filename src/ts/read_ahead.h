#pragma once
// Reading a file on a thread of its own, a few slices ahead of the worker that walks its
// packets: the copy out of the file system overlaps the packet work. Each slice keeps room in
// front of its bytes for the undelivered tail of the slice before it, so the packets are walked
// where they were read, with no copy of the stream.
//
// Only for regular files: a read from one always comes back, so the thread can always be
// stopped. Pipes, standard input and tuners are read by the worker itself.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/file.h"
#include "platform/thread.h"

namespace qv {

/// One read from the file. Small on purpose: handing 1 MiB slices from one core to the other
/// tripled the kernel's copy time here (the destination lines sat dirty in the other core's
/// cache), while 64 KiB slices stay cheap to fill.
inline constexpr size_t kReadAheadSliceSize = size_t{64} << 10;
inline constexpr size_t kReadAheadSliceCount = 8;  ///< one held by the worker, the rest ahead
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
    explicit ReadAhead(size_t slice_size = kReadAheadSliceSize);
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
    bool read_failed(int& error_code);

private:
    struct Slice {
        std::unique_ptr<uint8_t[]> bytes;  ///< kReadAheadLead bytes of room, then the read
        size_t length = 0;
    };
    static constexpr size_t kNoSlice = SIZE_MAX;

    void read_slices();

    size_t slice_size_;
    platform::NativeHandle handle_ = platform::kClosedHandle;
    std::vector<Slice> slices_;
    size_t held_ = kNoSlice;  ///< the slice whose bytes the worker is walking

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<size_t> filled_;  ///< read and waiting, in file order
    std::deque<size_t> free_;    ///< ready for the thread
    bool ended_ = false;         ///< the thread saw the end of the file or a failed read
    bool failed_ = false;        ///< it was a failed read
    int error_code_ = 0;
    bool closing_ = false;
    platform::Thread thread_;
    bool started_ = false;
};

}  // namespace qv
