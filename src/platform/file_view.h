#pragma once
// Read-only views of a regular file mapped into memory: the walker reads the system's cached
// pages of the file where they are, so no read copies them into a buffer first.
//
// A page that cannot be read once mapped (the file was cut shorter by another program, or the
// device failed) would stop the process; instead its bytes, and those of the view after it, read
// as zeros and the view reports itself damaged, which its owner treats as a failed read.
#include <cstddef>
#include <cstdint>

#include "platform/file.h"

namespace qv::platform {

struct FileView {
    const uint8_t* data = nullptr;  ///< the file's bytes from the view's offset on
    size_t length = 0;              ///< mapped bytes (may reach past the end of the file)
    int guard = -1;                 ///< the view's place in the damage guard, -1 unguarded
};

/// What a view's offset must be a multiple of; 0 where views are not available (the caller then
/// reads the file).
size_t file_view_alignment();

/// Maps `length` bytes of `handle` from `offset` (a multiple of file_view_alignment()). Bytes
/// past the end of the file must not be touched: the caller keeps to the file size it knows.
/// False, with `view` left empty, when the system refuses.
[[nodiscard]] bool map_file_view(NativeHandle handle, int64_t offset, size_t length,
                                 FileView& view);
/// Unmaps a view; an empty view is a no-op.
void unmap_file_view(FileView& view);
/// Brings the pages of `length` bytes at `data` (inside a view, within the file) into the view
/// ahead of their use, so that walking them later costs no page faults. Best effort: a failure
/// leaves the pages to be faulted in when they are touched.
void populate_file_view(const uint8_t* data, size_t length);
/// True when a page of the view could not be read: its bytes from there on read as zeros.
bool file_view_damaged(const FileView& view);
/// The OS error code that a damaged view stands for (an I/O error).
int file_view_damage_error();

}  // namespace qv::platform
