// Reading packets from a file, pipe or tuner queue, resynchronising on the sync byte.
#include "ts/packet_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ts/tuner_buffer.h"

namespace qv {
namespace {

enum class Refill { read, empty, end };

/// Keeps the undelivered tail at the start of the block and reads behind it. The cursor ends at
/// the start of the block either way, so the tail is scanned again (never delivered twice: it
/// holds no delivered byte).
Refill refill(PacketReadBuffer& reader, const PacketSource& source)
{
    uint8_t* block = reader.block.get();
    const uint32_t tail = reader.cursor < reader.valid_length ? reader.valid_length - reader.cursor : 0;
    if (tail > 0 && reader.cursor > 0) {
        std::memmove(block, block + reader.cursor, tail);
    }
    reader.cursor = 0;
    reader.valid_length = tail;
    const size_t room = reader.capacity - tail;
    size_t got = 0;
    if (source.tuner != nullptr) {
        got = take_from_tuner_buffer(*source.tuner, block + tail, room);
    } else {
        const platform::IoStatus status = platform::read_file(source.handle, block + tail, room, got);
        if (status == platform::IoStatus::broken_pipe) {
            return Refill::end;
        }
        if (status != platform::IoStatus::ok) {
            got = 0;
        }
    }
    if (got == 0) {
        return Refill::empty;
    }
    reader.valid_length = tail + static_cast<uint32_t>(got);
    reader.awaiting_more = false;
    return Refill::read;
}

}  // namespace

uint32_t read_buffer_capacity(int64_t bufsize_option)
{
    // Compared signed: a negative value is no request for a 4 GiB block.
    if (bufsize_option < int64_t{kMinimumReadBufferOption}) {
        return kDefaultReadBufferSize;
    }
    return static_cast<uint32_t>(std::min<int64_t>(bufsize_option, UINT32_MAX));
}

uint8_t read_packet(PacketReadBuffer& reader, const PacketSource& source, uint32_t requested,
                    const uint8_t*& packet)
{
    packet = nullptr;
    if (source.tuner == nullptr && source.handle == platform::kClosedHandle) {
        return 0;
    }
    if (!reader.block && reader.capacity == 0) {
        return 0;
    }
    requested = std::max<uint32_t>(requested, kPacketSize);
    if (!reader.block) {
        const uint64_t least = uint64_t{requested} * 2 + 8;
        const uint64_t capacity = std::max<uint64_t>(reader.capacity, least);
        if (capacity > UINT32_MAX) {
            return 0;
        }
        reader.block.reset(new (std::nothrow) uint8_t[capacity]);
        if (!reader.block) {
            return 0;
        }
        reader.capacity = static_cast<uint32_t>(capacity);
        reader.cursor = reader.capacity;
        reader.valid_length = reader.capacity;
        reader.awaiting_more = false;
    }
    if (reader.capacity < requested) {
        return 0;
    }

    if (reader.valid_length - reader.cursor < requested || reader.awaiting_more) {
        if (refill(reader, source) != Refill::read) {
            return 0;
        }
    }

    const uint8_t* data = reader.block.get();
    const size_t end = reader.valid_length;
    size_t q = reader.cursor;
    while (q < end) {
        const void* found = std::memchr(data + q, kSyncByte, end - q);
        if (found == nullptr) {
            break;
        }
        q = static_cast<size_t>(static_cast<const uint8_t*>(found) - data);
        uint8_t length = 0;
        if (q + kPacketSize < end && data[q + kPacketSize] == kSyncByte) {
            length = kPacketSize;
        } else if (q + kTimestampedPacketSize < end && data[q + kTimestampedPacketSize] == kSyncByte) {
            length = kTimestampedPacketSize;  // the cursor skips the next unit's 4-byte prefix
        } else if (q == reader.cursor && end - q == kPacketSize) {
            length = kPacketSize;  // the last packet of the data
        } else if (q + kTimestampedPacketSize >= end) {
            // A possible packet start whose confirming sync byte is not read yet (a short read
            // of a pipe or tuner): keep it for the next read rather than dropping a packet.
            reader.cursor = static_cast<uint32_t>(q);
            reader.remaining = 0;
            reader.awaiting_more = true;
            return 0;
        }
        if (length != 0) {
            packet = data + q;
            reader.cursor = static_cast<uint32_t>(q + length);
            reader.remaining = static_cast<uint32_t>(end - reader.cursor);
            return length;
        }
        ++q;
    }
    // Nothing recognisable: the bytes are dropped and the next call reads afresh.
    reader.cursor = static_cast<uint32_t>(end);
    reader.remaining = 0;
    return 0;
}

}  // namespace qv
