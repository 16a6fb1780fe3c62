#include "base/byte_buffer.h"

#include <algorithm>

namespace qv {

void store_bytes(ByteBuffer& buffer, const uint8_t* bytes, size_t length)
{
    if (buffer.track_changes &&
        (buffer.data.size() != length || !std::equal(bytes, bytes + length, buffer.data.begin()))) {
        buffer.changed = true;
    }
    buffer.data.assign(bytes, bytes + length);
}

void append_bytes(ByteBuffer& buffer, const uint8_t* bytes, size_t length)
{
    buffer.data.insert(buffer.data.end(), bytes, bytes + length);
}

void release_bytes(ByteBuffer& buffer)
{
    buffer.data.clear();
    buffer.data.shrink_to_fit();
    buffer.track_changes = false;
    buffer.changed = false;
}

}  // namespace qv
