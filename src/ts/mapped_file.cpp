// Views of a file source, mapped one after the other, and the thread that populates the next.
#include "ts/mapped_file.h"

#include <algorithm>

namespace qv {
namespace {

/// The populating thread looks for a withdrawal between pieces of this many bytes.
constexpr size_t kPopulatePiece = 1u << 20;

size_t round_up(size_t value, size_t step) { return (value + step - 1) / step * step; }

}  // namespace

ViewPopulator::~ViewPopulator()
{
    if (!started_) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        changed_.notify_all();
    }
    thread_.join();
    platform::unmap_file_view(retired_);
}

bool ViewPopulator::start()
{
    if (!started_) {
        started_ = thread_.start([this] { run(); });
    }
    return started_;
}

void ViewPopulator::request(const uint8_t* data, size_t length)
{
    std::lock_guard<std::mutex> hold(lock_);
    wanted_ = data;
    wanted_length_ = length;
    changed_.notify_all();
}

void ViewPopulator::withdraw(const uint8_t* data)
{
    if (data == nullptr || !started_) {
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    if (wanted_ == data) {
        wanted_ = nullptr;
    }
    if (working_ == data) {
        cancel_ = true;
        changed_.wait(hold, [&] { return working_ != data; });
    }
}

void ViewPopulator::retire(platform::FileView& view)
{
    if (view.data == nullptr) {
        return;
    }
    if (started_) {
        std::lock_guard<std::mutex> hold(lock_);
        if (retired_.data == nullptr) {
            retired_ = view;
            view = platform::FileView{};
            changed_.notify_all();
            return;
        }
    }
    platform::unmap_file_view(view);
}

void ViewPopulator::unmap_retired(std::unique_lock<std::mutex>& hold)
{
    platform::FileView view = retired_;
    retired_ = platform::FileView{};
    hold.unlock();
    platform::unmap_file_view(view);
    hold.lock();
}

void ViewPopulator::run()
{
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [&] { return stop_ || wanted_ != nullptr || retired_.data != nullptr; });
        if (stop_) {
            return;
        }
        if (wanted_ == nullptr) {
            unmap_retired(hold);  // the next view's pages come first, when both are waiting
            continue;
        }
        const uint8_t* data = wanted_;
        const size_t length = wanted_length_;
        wanted_ = nullptr;
        working_ = data;
        cancel_ = false;
        for (size_t done = 0; done < length && !cancel_ && !stop_;) {
            const size_t piece = std::min(kPopulatePiece, length - done);
            hold.unlock();
            platform::populate_file_view(data + done, piece);
            hold.lock();
            done += piece;
        }
        working_ = nullptr;
        changed_.notify_all();
    }
}

MappedFile::MappedFile(size_t view_size) : view_size_(view_size) {}

MappedFile::~MappedFile()
{
    populator_.withdraw(next_.data);
    populator_.withdraw(current_.data);
    platform::unmap_file_view(next_);
    platform::unmap_file_view(current_);
}

bool MappedFile::start(platform::NativeHandle handle, int64_t position, bool populate_ahead)
{
    alignment_ = platform::file_view_alignment();
    if (alignment_ == 0 || handle == platform::kClosedHandle || current_.data != nullptr ||
        position < 0) {
        return false;
    }
    overlap_ = round_up(kMappedViewOverlap, alignment_);
    view_size_ = std::max(round_up(view_size_, alignment_), 2 * overlap_);
    // A file that says it is empty may be one whose size the system does not know (a special
    // file): it is read instead.
    if (!platform::file_size(handle, known_size_) || known_size_ <= 0) {
        return false;
    }
    handle_ = handle;
    offset_ = position;
    handed_end_ = position;
    populating_ = populate_ahead && populator_.start();
    if (!switch_view(position)) {
        handle_ = platform::kClosedHandle;
        return false;
    }
    return true;
}

int64_t MappedFile::view_end(const platform::FileView& view, int64_t start) const
{
    return std::min<int64_t>(start + static_cast<int64_t>(view.length), known_size_);
}

void MappedFile::request_next_view()
{
    if (!populating_) {
        return;
    }
    const int64_t start = current_start_ + static_cast<int64_t>(view_size_ - overlap_);
    if (start >= known_size_ || !platform::map_file_view(handle_, start, view_size_, next_)) {
        return;  // the view after the end of the file is mapped when it is needed
    }
    next_start_ = start;
    populator_.request(next_.data, static_cast<size_t>(view_end(next_, start) - start));
}

bool MappedFile::switch_view(int64_t offset)
{
    if (current_.data != nullptr) {
        populator_.withdraw(current_.data);
        if (platform::file_view_damaged(current_)) {
            error_code_ = platform::file_view_damage_error();
            return false;
        }
        populator_.retire(current_);
    }
    const auto overlap = static_cast<int64_t>(overlap_);
    if (next_.data != nullptr && next_start_ <= offset &&
        offset + overlap <= next_start_ + static_cast<int64_t>(next_.length)) {
        current_ = next_;
        current_start_ = next_start_;
        next_ = platform::FileView{};
    } else {
        populator_.withdraw(next_.data);
        platform::unmap_file_view(next_);
        const int64_t start = offset - offset % static_cast<int64_t>(alignment_);
        if (!platform::map_file_view(handle_, start, view_size_, current_)) {
            error_code_ = platform::last_error();
            return false;
        }
        current_start_ = start;
    }
    request_next_view();
    return true;
}

bool MappedFile::bytes_from(int64_t offset, const uint8_t*& data, size_t& length)
{
    data = nullptr;
    length = 0;
    if (handle_ == platform::kClosedHandle || offset < offset_) {
        return false;
    }
    if (platform::file_view_damaged(current_)) {
        error_code_ = platform::file_view_damage_error();
        return false;
    }
    const auto overlap = static_cast<int64_t>(overlap_);
    if (offset < current_start_ ||
        offset + overlap > current_start_ + static_cast<int64_t>(current_.length)) {
        if (!switch_view(offset)) {
            return false;
        }
    }
    int64_t end = view_end(current_, current_start_);
    if (end <= handed_end_) {
        // Nothing beyond what was handed out: the file may have grown since its size was asked.
        int64_t size = 0;
        if (platform::file_size(handle_, size) && size > known_size_) {
            known_size_ = size;
            end = view_end(current_, current_start_);
        }
    }
    offset_ = offset;
    handed_end_ = std::max(end, offset);
    data = current_.data + (offset - current_start_);
    length = end > offset ? static_cast<size_t>(end - offset) : 0;
    return true;
}

}  // namespace qv
