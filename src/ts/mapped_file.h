#pragma once
// Reading a regular file through views mapped in turn: each view is a few MiB of the file, the
// next one overlapping its last bytes, so that a packet cut by the end of one view lies whole in
// the next. The packets are walked in the system's cached pages themselves, without the copy that
// a read makes; a second thread maps the pages of the next view in while the worker walks the
// current one, so that the worker takes no page faults either.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/file.h"
#include "platform/file_view.h"
#include "platform/thread.h"

namespace qv {

/// Bytes a view maps by default.
inline constexpr size_t kMappedViewSize = 4u << 20;
/// Bytes each view shares with the next: a caller always gets at least this many bytes from the
/// offset it asks for (short of the end of the file), and asks for less than this at a time.
inline constexpr size_t kMappedViewOverlap = 64u << 10;

/// Maps the pages of the view after the current one while the worker walks the current one, and
/// unmaps the views the worker has left (unmapping costs about as much as mapping in).
class ViewPopulator {
public:
    ViewPopulator() = default;
    ~ViewPopulator();  ///< stops and joins the thread
    ViewPopulator(const ViewPopulator&) = delete;
    ViewPopulator& operator=(const ViewPopulator&) = delete;

    [[nodiscard]] bool start();
    /// Populates `length` bytes at `data` from now on, in place of any earlier request.
    void request(const uint8_t* data, size_t length);
    /// Makes sure the thread neither works on nor will touch the bytes at `data`: call it before
    /// unmapping a view that was requested.
    void withdraw(const uint8_t* data);
    /// Unmaps `view` (left empty) on the thread; on the caller's thread when the thread is not
    /// running or has a view to unmap already. The caller withdraws it first.
    void retire(platform::FileView& view);

private:
    void run();
    void unmap_retired(std::unique_lock<std::mutex>& hold);

    std::mutex lock_;
    std::condition_variable changed_;
    const uint8_t* wanted_ = nullptr;  ///< the request not taken up yet
    size_t wanted_length_ = 0;
    const uint8_t* working_ = nullptr;  ///< the request being populated
    bool cancel_ = false;               ///< the request being populated is withdrawn
    platform::FileView retired_;        ///< a view left by the worker, to be unmapped
    bool stop_ = false;
    platform::Thread thread_;
    bool started_ = false;
};

class MappedFile {
public:
    /// Views of `view_size` bytes (rounded up to the system's view alignment, at least twice the
    /// overlap).
    explicit MappedFile(size_t view_size = kMappedViewSize);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    /// Starts at `position` of `handle` (borrowed: it stays open until this object is gone),
    /// with a populating thread when `populate_ahead` (reading goes on without one when it
    /// cannot start). False when the system maps no views of this file.
    [[nodiscard]] bool start(platform::NativeHandle handle, int64_t position, bool populate_ahead);

    /// The file's bytes from `offset` (not before the offset of the last call) up to the end of a
    /// view or of the file: `data` stays valid until the next call. Bytes that were handed out
    /// before count again. At the end of the file as far as it is known, the size is asked
    /// again, so a file that grows is read on. False when a view could not be mapped or a page
    /// could not be read (error_code() says why).
    [[nodiscard]] bool bytes_from(int64_t offset, const uint8_t*& data, size_t& length);

    /// The offset of the bytes handed out by the last bytes_from call (the start position
    /// before the first).
    int64_t offset() const { return offset_; }
    int error_code() const { return error_code_; }

private:
    bool switch_view(int64_t offset);
    void request_next_view();
    int64_t view_end(const platform::FileView& view, int64_t start) const;

    size_t view_size_;
    size_t alignment_ = 0;
    size_t overlap_ = 0;  ///< kMappedViewOverlap rounded up to the alignment
    platform::NativeHandle handle_ = platform::kClosedHandle;
    int64_t known_size_ = 0;
    int64_t offset_ = 0;
    int64_t handed_end_ = 0;  ///< the end of the bytes handed out so far
    platform::FileView current_;
    int64_t current_start_ = 0;
    platform::FileView next_;  ///< mapped ahead, one step after the current view
    int64_t next_start_ = 0;
    int error_code_ = 0;
    bool populating_ = false;
    ViewPopulator populator_;
};

}  // namespace qv
