#pragma once
// Writing an output in large chunks. The write buffers of a PacketWriter are laid one after the
// other into a chunk of several buffers; a full chunk is written in one call, either on a thread
// of its own while the worker goes on reading and filling the next chunk (an output that may
// stall: standard output, a pipe), or directly by the worker (a regular file, whose writes never
// wait for a reader). The bytes and their order are exactly those of the write buffers; only the
// size of the write calls differs.
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

/// 16 write buffers of 48128 bytes: 770048 bytes, a whole number of 4 KiB pages, so the writes
/// of a long run stay page-aligned in the file.
inline constexpr size_t kWriteBehindChunkBuffers = 16;
/// Chunks in flight: one being filled, the others queued or being written.
inline constexpr size_t kWriteBehindChunkCount = 4;
/// How long an output that may stall for ever (a pipe, a terminal) may still take after a stop
/// request before it is given up.
inline constexpr uint32_t kStopGraceMs = 500;
/// The same for a regular file, which only a very slow disk holds up: what the pass has read
/// and handled is written, not dropped and reported as a failed write.
inline constexpr uint32_t kFileStopGraceMs = 60000;

class WriteBehind {
public:
    /// `buffer_size` is the size of one write buffer (the window handed out at a time).
    explicit WriteBehind(size_t buffer_size);
    ~WriteBehind();  ///< waits for every queued write
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    /// Allocates the chunks and starts the thread that writes to `handle` (borrowed: it stays
    /// open until this object is gone). False when memory or the thread is not available;
    /// the caller then writes directly.
    [[nodiscard]] bool start(platform::NativeHandle handle);
    /// Allocates one chunk and writes it to `handle` (borrowed) from advance() itself, without a
    /// thread. False when memory is missing.
    [[nodiscard]] bool start_direct(platform::NativeHandle handle);

    /// Where the current write buffer lives: `buffer_size` bytes inside the chunk being filled.
    uint8_t* window() const { return window_; }

    /// The first `bytes` of the window are done: the next window follows them in the chunk. A
    /// chunk without room for another window goes to the thread, and so does a partly filled
    /// one when `send_now` is set. Waits only when every chunk is in flight.
    void advance(size_t bytes, bool send_now);

    /// Without a thread (start_direct): the first `window_bytes` of the window join the chunk,
    /// and the chunk and then `length` bytes at `more` are written in one call.
    void write_chunk_and(size_t window_bytes, const uint8_t* more, size_t length);
    /// True when started without a thread.
    bool direct() const { return direct_; }

    /// Waits until every queued chunk has been written (the window's bytes are not queued by
    /// this: advance them first).
    void wait_until_written();

    /// True once a write failed or fell short; later chunks are discarded unwritten.
    bool failed() const;
    /// The OS error code of the failed write (0 when the write fell short without one).
    int error_code() const;

private:
    struct Chunk {
        std::unique_ptr<uint8_t[]> bytes;
        size_t length = 0;
    };

    void write_chunks();
    void send_current_chunk();
    void write_current_chunk();
    /// Waits under `lock` until `done()` holds. An output that does not follow a stop request
    /// within its grace (kStopGraceMs, a regular file kFileStopGraceMs) is given up: what is
    /// queued is dropped, the write in progress is interrupted, and the writer counts as
    /// failed, so the pass ends within a second whatever the reader of a pipe does.
    template <typename Done>
    void wait_unless_stopped(std::unique_lock<std::mutex>& lock, Done done);
    void abandon_locked();

    size_t buffer_size_;
    size_t chunk_size_;
    platform::NativeHandle handle_ = platform::kClosedHandle;
    std::vector<Chunk> chunks_;
    size_t current_ = 0;  ///< index of the chunk being filled
    uint8_t* window_ = nullptr;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<size_t> queued_;      ///< chunks waiting for the thread, oldest first
    std::deque<size_t> available_;   ///< chunks free to be filled
    bool writing_ = false;           ///< the thread holds a chunk
    bool closing_ = false;
    bool failed_ = false;
    bool abandoned_ = false;  ///< given up after a stop request; nothing more is written
    uint32_t stop_grace_ms_ = kStopGraceMs;
    int error_code_ = 0;
    platform::Thread thread_;
    bool started_ = false;  ///< the thread runs
    bool direct_ = false;   ///< no thread: advance() writes each chunk itself
};

}  // namespace qv
