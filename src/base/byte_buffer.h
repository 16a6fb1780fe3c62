#pragma once
// A growable byte buffer with optional change tracking (sections, packets and texts handed
// between threads and passes).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

struct ByteBuffer {
    std::vector<uint8_t> data;
    bool track_changes = false;  ///< compare a new content with the old one when storing
    bool changed = false;        ///< set by a store that changed the content (while tracking)
};

/// Replaces the content. While tracking changes, `changed` is set when the bytes differ and left
/// as it is otherwise.
void store_bytes(ByteBuffer& buffer, const uint8_t* bytes, size_t length);
/// Appends bytes behind the content.
void append_bytes(ByteBuffer& buffer, const uint8_t* bytes, size_t length);
/// Frees the content and clears both flags.
void release_bytes(ByteBuffer& buffer);

}  // namespace qv
