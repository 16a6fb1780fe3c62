// Reading packets from a file, pipe or tuner queue, resynchronising on the sync byte.
#include "ts/packet_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ts/tuner_buffer.h"

namespace qv {
namespace {

enum class Refill { read, empty, end };

/// Bytes before the read position of a block, for the tail that a read keeps.
constexpr size_t kReadLead = 4096;
/// The read position lies on a boundary of this many bytes.
constexpr size_t kReadAlignment = 4096;
/// Packets a run delivers at most (about 24 KiB, well inside the first-level data cache).
constexpr uint32_t kLongestRun = 128;
/// How many packets ahead the run's scan asks for the header lines (about 9 KiB: the next pages).
constexpr uint32_t kPrefetchPackets = 48;

/// Keeps the undelivered tail just before the read position and reads behind it. The cursor ends
/// at the start of the tail either way, so the tail is scanned again (never delivered twice: it
/// holds no delivered byte).
Refill refill(PacketReadBuffer& reader, const PacketSource& source)
{
    const uint8_t* old = reader.data;
    const uint32_t tail =
        old != nullptr && reader.cursor < reader.valid_length ? reader.valid_length - reader.cursor : 0;
    // A tail longer than the lead (a request of more than a few KiB) starts the block instead.
    uint8_t* block = tail <= kReadLead ? reader.read_position - tail : reader.block.get();
    if (tail > 0 && block != old + reader.cursor) {
        std::memmove(block, old + reader.cursor, tail);
    }
    reader.data = block;
    reader.cursor = 0;
    reader.valid_length = tail;
    const size_t room = std::min<size_t>(reader.capacity - tail, kReadSliceSize);
    size_t got = 0;
    if (source.tuner != nullptr) {
        got = take_from_tuner_buffer(*source.tuner, block + tail, room);
    } else {
        const platform::IoStatus status =
            source.regular_file
                ? platform::read_regular_file(source.handle, block + tail, room, got)
                : platform::read_file(source.handle, block + tail, room, got);
        if (status == platform::IoStatus::broken_pipe) {
            return Refill::end;
        }
        if (status != platform::IoStatus::ok) {
            reader.read_failed = true;
            reader.read_error = platform::last_error();
            return Refill::end;
        }
    }
    if (got == 0) {
        return Refill::empty;
    }
    reader.valid_length = tail + static_cast<uint32_t>(got);
    reader.bytes_read += got;
    reader.awaiting_more = false;
    return Refill::read;
}

/// The read-ahead form of refill: the tail goes in front of the next slice's bytes. At the end
/// of the file the tail stays where it is and becomes the start of the data.
Refill refill_ahead(PacketReadBuffer& reader)
{
    uint8_t* data = reader.data;
    const uint32_t tail = data != nullptr && reader.cursor < reader.valid_length
                              ? reader.valid_length - reader.cursor
                              : 0;
    const uint8_t* tail_bytes = data != nullptr ? data + reader.cursor : nullptr;
    ReadAheadBytes next;
    if (!reader.ahead->take_next(tail_bytes, tail, next)) {
        reader.read_failed = reader.ahead->read_failed(reader.read_error);
        if (data != nullptr) {
            reader.data = data + reader.cursor;
        }
        reader.cursor = 0;
        reader.valid_length = tail;
        return Refill::empty;
    }
    reader.data = next.data;
    reader.cursor = 0;
    reader.valid_length = static_cast<uint32_t>(next.length);
    reader.bytes_read += next.new_bytes;
    reader.awaiting_more = false;
    return Refill::read;
}

/// The mapped form of refill: the next bytes are the file's own, in a view that holds the tail
/// as well, so nothing is copied. At the end of the file the data is the tail alone.
Refill refill_mapped(PacketReadBuffer& reader)
{
    MappedFile& file = *reader.mapped;
    const bool started = reader.data != nullptr;
    const uint32_t kept_from = started ? std::min(reader.cursor, reader.valid_length) : 0;
    const int64_t from = file.offset() + kept_from;
    const int64_t old_end = file.offset() + (started ? reader.valid_length : 0);
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    if (!file.bytes_from(from, bytes, length)) {
        reader.read_failed = true;
        reader.read_error = file.error_code();
        // The views may be gone: nothing is left to deliver.
        reader.data = nullptr;
        reader.cursor = 0;
        reader.valid_length = 0;
        return Refill::end;
    }
    // The bytes stay where the file has them; only the pointer moves to the current view.
    reader.data = const_cast<uint8_t*>(bytes);
    reader.cursor = 0;
    reader.valid_length = static_cast<uint32_t>(length);
    const int64_t new_end = from + static_cast<int64_t>(length);
    if (new_end <= old_end) {
        return Refill::empty;
    }
    reader.bytes_read += static_cast<uint64_t>(new_end - old_end);
    reader.awaiting_more = false;
    return Refill::read;
}

constexpr size_t kPrefixSize = kTimestampedPacketSize - kPacketSize;

/// The length of the unit at `q`, a sync byte: 188 or 192 when the sync byte that far on
/// confirms it, the unit length of the stream so far tried first; 0 when neither does, and
/// `wait` when the answer lies beyond `end`. A prefix byte of 0x47 four bytes before a packet
/// confirmed 192 bytes on as well is a prefix: the packet behind it is taken (`q` moves on).
uint8_t confirmed_unit(const uint8_t* data, size_t& q, size_t end, uint8_t preferred, bool& wait)
{
    const size_t other = preferred == kPacketSize ? kTimestampedPacketSize : kPacketSize;
    const auto confirmed = [&](size_t at, size_t length) {
        return at + length < end && data[at + length] == kSyncByte;
    };
    wait = false;
    size_t length = 0;
    if (confirmed(q, preferred)) {
        length = preferred;
    } else if (preferred == kTimestampedPacketSize && q + preferred >= end) {
        wait = true;  // the stream's own unit cannot be confirmed yet: no guess at the other
        return 0;
    } else if (confirmed(q, other)) {
        length = other;
    } else {
        wait = q + kTimestampedPacketSize >= end;
        return 0;
    }
    if (length == kTimestampedPacketSize && data[q + kPrefixSize] == kSyncByte) {
        if (q + kPrefixSize + kTimestampedPacketSize >= end) {
            wait = true;
            return 0;
        }
        if (data[q + kPrefixSize + kTimestampedPacketSize] == kSyncByte) {
            q += kPrefixSize;
        }
    }
    return static_cast<uint8_t>(length);
}

/// Looks for the next packet from the cursor: a sync byte confirmed by another one 188 or 192
/// bytes on. Bytes before it are dropped. A sync byte too close to the end to be confirmed stops
/// the scan with `awaiting_more` set; with nothing found at all the data is dropped.
uint8_t scan_for_packet(PacketReadBuffer& reader, const uint8_t*& packet)
{
    const uint8_t* data = read_data(reader);
    if (data == nullptr) {
        return 0;
    }
    const size_t end = reader.valid_length;
    size_t q = reader.cursor;
    while (q < end) {
        const void* found = std::memchr(data + q, kSyncByte, end - q);
        if (found == nullptr) {
            break;
        }
        q = static_cast<size_t>(static_cast<const uint8_t*>(found) - data);
        bool wait = false;
        const uint8_t length = confirmed_unit(data, q, end, reader.unit_length, wait);
        if (wait) {
            reader.cursor = static_cast<uint32_t>(q);
            reader.remaining = 0;
            reader.awaiting_more = true;
            return 0;
        }
        if (length != 0) {
            // After a 192-byte unit the cursor skips the next unit's 4-byte prefix.
            packet = data + q;
            reader.unit_length = length;
            reader.cursor = static_cast<uint32_t>(q + length);
            reader.remaining = static_cast<uint32_t>(end - reader.cursor);
            return length;
        }
        ++q;
    }
    reader.cursor = static_cast<uint32_t>(end);
    reader.remaining = 0;
    return 0;
}

}  // namespace

uint8_t read_packet(PacketReadBuffer& reader, const PacketSource& source, uint32_t requested,
                    const uint8_t*& packet)
{
    packet = nullptr;
    if (source.tuner == nullptr && source.handle == platform::kClosedHandle) {
        return 0;
    }
    requested = std::max<uint32_t>(requested, kPacketSize);
    if (reader.ahead) {
        // The slices take the block's place; a request must fit in front of a slice.
        if (requested > kReadAheadLead) {
            return 0;
        }
    } else if (reader.mapped) {
        // A view always holds this much after the cursor, short of the end of the file.
        if (requested > kMappedViewOverlap - kTimestampedPacketSize) {
            return 0;
        }
    } else if (!reader.block && reader.capacity == 0) {
        return 0;
    } else if (!reader.block) {
        // Room for two requests, and never more than a read slice behind the kept tail (a
        // possible packet start, at most one unit long): a larger block would only hold bytes
        // that are never read into it.
        const uint64_t least = uint64_t{requested} * 2 + 8;
        const uint64_t most = std::max<uint64_t>(least, kReadSliceSize + kTimestampedPacketSize);
        const uint64_t capacity = std::min(std::max<uint64_t>(reader.capacity, least), most);
        if (capacity > UINT32_MAX) {
            return 0;
        }
        reader.block.reset(new (std::nothrow) uint8_t[kReadLead + kReadAlignment + capacity]);
        if (!reader.block) {
            return 0;
        }
        const uintptr_t lead_end = reinterpret_cast<uintptr_t>(reader.block.get()) + kReadLead;
        reader.read_position = reader.block.get() + kReadLead +
                               (kReadAlignment - lead_end % kReadAlignment) % kReadAlignment;
        reader.data = nullptr;
        reader.capacity = static_cast<uint32_t>(capacity);
        reader.cursor = reader.capacity;
        reader.valid_length = reader.capacity;
        reader.awaiting_more = false;
    }
    if (!reader.ahead && !reader.mapped && reader.capacity < requested) {
        return 0;
    }

    // In a synchronised stream the cursor sits on a sync byte confirmed by the next one.
    const uint32_t unit = reader.unit_length;
    if (!reader.awaiting_more && reader.valid_length - reader.cursor > unit &&
        reader.valid_length - reader.cursor >= requested) {
        const uint8_t* at = read_data(reader) + reader.cursor;
        if (at[0] == kSyncByte && at[unit] == kSyncByte) {
            packet = at;
            reader.cursor += unit;
            reader.remaining = reader.valid_length - reader.cursor;
            return static_cast<uint8_t>(unit);
        }
    }
    bool read_now = reader.valid_length - reader.cursor < requested || reader.awaiting_more;
    for (;;) {
        if (read_now) {
            const Refill result = reader.ahead    ? refill_ahead(reader)
                                  : reader.mapped ? refill_mapped(reader)
                                                  : refill(reader, source);
            if (result != Refill::read) {
                // Nothing more for now. At the end of the input a sync byte with one packet
                // behind it is the last packet, also when up to three stray bytes follow (a cut
                // recording, a unit cut inside the next prefix); a tuner queue that has run
                // empty while reception goes on has not ended, so its last packet waits for
                // the next one.
                const bool input_ended = source.tuner == nullptr || !source.tuner->running.load();
                if (input_ended && reader.valid_length >= kPacketSize &&
                    reader.valid_length < kTimestampedPacketSize &&
                    read_data(reader)[0] == kSyncByte) {
                    packet = read_data(reader);
                    reader.cursor = reader.valid_length;
                    reader.remaining = 0;
                    reader.awaiting_more = false;
                    return kPacketSize;
                }
                return 0;
            }
        }
        const uint8_t length = scan_for_packet(reader, packet);
        if (length != 0) {
            return length;
        }
        // Nothing deliverable in the block (only noise, or a possible packet start at its end):
        // read on. A 0 result would end a file's reading although packets may follow the
        // damaged stretch; the loop ends when the source has nothing more (above).
        read_now = true;
    }
}

uint32_t read_packet_run(PacketReadBuffer& reader, const PacketSource& source,
                         const uint8_t*& first)
{
    // The fast path of read_packet, repeated while it holds.
    if (reader.unit_length == kPacketSize && next_run_in_block(reader)) {
        const uint8_t* at = read_data(reader) + reader.cursor;
        // A run is kept short enough that its headers, brought into the cache by this scan, are
        // still there when the packets are handled.
        const uint32_t available = std::min<uint32_t>(reader.valid_length - reader.cursor,
                                                      kLongestRun * kPacketSize);
        uint32_t count = 1;
        for (uint32_t next = 2 * kPacketSize; next < available && at[next] == kSyncByte;
             next += kPacketSize) {
            // Asks for the header lines a little further on while these are checked (a
            // prefetch never faults, past the end of the bytes neither).
            __builtin_prefetch(reinterpret_cast<const void*>(
                reinterpret_cast<uintptr_t>(at) + next + kPrefetchPackets * kPacketSize));
            ++count;
        }
        first = at;
        reader.cursor += count * static_cast<uint32_t>(kPacketSize);
        reader.remaining = reader.valid_length - reader.cursor;
        return count;
    }
    return read_packet(reader, source, kPacketSize, first) != 0 ? 1 : 0;
}

namespace {

/// A reader whose bytes come from a source of its own (a ring or views) starts with none.
void start_empty(PacketReadBuffer& reader)
{
    reader.data = nullptr;
    reader.cursor = 0;
    reader.valid_length = 0;
    reader.awaiting_more = false;
}

}  // namespace

bool start_read_ahead(PacketReadBuffer& reader, platform::NativeHandle handle)
{
    if (reader.ahead || reader.mapped || reader.block) {
        return false;  // bytes already read would be skipped
    }
    // A -bufsize smaller than a slice keeps the reads that small.
    const size_t slice =
        std::min<size_t>(kReadSliceSize, std::max<uint32_t>(reader.capacity, kPacketSize * 2));
    auto ahead = std::make_unique<ReadAhead>(slice);
    if (!ahead->start(handle)) {
        return false;
    }
    reader.ahead = std::move(ahead);
    start_empty(reader);
    return true;
}

bool start_mapped_reading(PacketReadBuffer& reader, platform::NativeHandle handle,
                          int64_t position, bool populate_ahead, size_t view_size)
{
    if (reader.ahead || reader.mapped || reader.block) {
        return false;  // bytes already read would be skipped
    }
    auto mapped = std::make_unique<MappedFile>(view_size);
    if (!mapped->start(handle, position, populate_ahead)) {
        return false;
    }
    reader.mapped = std::move(mapped);
    start_empty(reader);
    return true;
}

void release_read_buffer(PacketReadBuffer& reader)
{
    reader.ahead.reset();
    reader.mapped.reset();
    reader.data = nullptr;
    reader.read_position = nullptr;
    reader.block.reset();
}

}  // namespace qv
