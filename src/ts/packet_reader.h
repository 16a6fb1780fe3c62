#pragma once
// The input side of a worker: packets of a file, pipe, standard input or tuner queue, found by
// their sync bytes (188-byte packets, or 192-byte units with a 4-byte prefix) and delivered as
// pointers to where they were read: a mapped view of the file, the worker's read block, or a
// slice of the read-ahead ring.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/file.h"
#include "ts/mapped_file.h"
#include "ts/read_ahead.h"
#include "ts/ts_packet.h"

namespace qv {

struct TunerReceiveBuffer;

inline constexpr uint32_t kDefaultReadBufferSize = 104857600;  ///< 100 MiB
/// One read from the source asks for at most this much: a slice that the kernel copies into a
/// block which stays in the CPU's second-level cache while its packets are walked and, written
/// in place, copied out again. 64 KiB slices cost 5-10 % more time in display and filter (more
/// system calls, smaller writes); 512 KiB and more gain nothing.
inline constexpr uint32_t kReadSliceSize = 256u << 10;

/// Where the bytes come from: the tuner queue when one is given, else the handle.
struct PacketSource {
    platform::NativeHandle handle = platform::kClosedHandle;
    TunerReceiveBuffer* tuner = nullptr;  ///< borrowed
    /// The handle is a regular file (or block device): its reads never wait for a writer, so
    /// no readiness wait comes before them.
    bool regular_file = false;
};

/// The read block of one worker and source. Before the first call only `capacity` is set.
struct PacketReadBuffer {
    std::unique_ptr<uint8_t[]> block;  ///< allocated by the first read_packet call
    /// The read buffer size asked for; the first read_packet call sets it to the most bytes the
    /// block holds at a time, never more than a read slice and the tail it keeps.
    uint32_t capacity = 0;
    uint32_t cursor = 0;        ///< offset of the first byte not yet delivered
    uint32_t valid_length = 0;  ///< valid bytes from the start of the block
    uint32_t remaining = 0;     ///< valid bytes after the packet just delivered
    uint64_t bytes_read = 0;    ///< bytes read from the source into the block so far
    /// The last scan stopped at a possible packet start whose confirming sync byte has not been
    /// read yet: the next call reads before scanning again.
    bool awaiting_more = false;
    /// Length of the unit last delivered: 188, or 192 with a 4-byte prefix. The next packet is
    /// confirmed at that distance first, so that a prefix byte of 0x47 one packet length on
    /// (arrival times pass through it for over half a second at a time) is never taken for
    /// the next sync byte.
    uint8_t unit_length = kPacketSize;
    /// Where the valid bytes start (null before the first read): inside `block`, or inside a
    /// slice of the read-ahead ring.
    uint8_t* data = nullptr;
    /// Where a read into `block` goes: a page boundary, so that the system copies whole cache
    /// lines; the kept tail lies just before it.
    uint8_t* read_position = nullptr;
    /// A file read on a thread of its own (start_read_ahead): its slices then take the place
    /// of `block`.
    std::unique_ptr<ReadAhead> ahead;
    /// A file read through mapped views (start_mapped_reading): `data` then points into a view.
    std::unique_ptr<MappedFile> mapped;
    /// A read from the source failed (not the end of the input): read_packet then answers 0
    /// like at the end, and the caller reports it. `read_error` is the OS error code.
    bool read_failed = false;
    int read_error = 0;
};

/// Where the reader's valid bytes start: `cursor`, `valid_length` and delivered packets are
/// relative to it. Null before the first read.
inline const uint8_t* read_data(const PacketReadBuffer& reader) { return reader.data; }

/// Reads `handle`, a regular file, on a thread of its own from now on (call it before the first
/// read_packet, with the file at its start position). False, and nothing changes, when the
/// thread cannot start. The handle must stay open until release_read_buffer().
bool start_read_ahead(PacketReadBuffer& reader, platform::NativeHandle handle);
/// Reads `handle`, a regular file, through mapped views from `position` on (call it before the
/// first read_packet), with a thread that populates the next view when `populate_ahead`. False,
/// and nothing changes, where the system maps no views of the file: it is then read. Requests
/// are limited to kMappedViewOverlap less a packet unit. The handle must stay open until
/// release_read_buffer().
bool start_mapped_reading(PacketReadBuffer& reader, platform::NativeHandle handle,
                          int64_t position, bool populate_ahead,
                          size_t view_size = kMappedViewSize);
/// Stops a read-ahead or populating thread, unmaps the views and frees the block.
void release_read_buffer(PacketReadBuffer& reader);

/// Delivers the next packet: `packet` points at its sync byte inside the block and stays valid
/// until the next call. Returns 188 or 192 (a unit whose 4-byte prefix the next delivery skips);
/// callers use the 188 bytes at `packet` either way. Bytes without a recognisable packet are
/// dropped and reading goes on; a possible packet start at the end of the data waits for the
/// next read. Returns 0 when no packet is available now: end of input, or a failed or empty read.
uint8_t read_packet(PacketReadBuffer& reader, const PacketSource& source, uint32_t requested,
                    const uint8_t*& packet);

/// True when the packet at the cursor is in the block and confirmed by the sync byte one unit
/// on: the next read_packet_run call delivers it without reading, and the packets delivered
/// before stay where they are.
inline bool next_run_in_block(const PacketReadBuffer& reader)
{
    const uint8_t* data = read_data(reader);
    const uint32_t unit = reader.unit_length;
    if (data == nullptr || reader.awaiting_more || reader.cursor >= reader.valid_length ||
        reader.valid_length - reader.cursor <= unit) {
        return false;
    }
    const uint8_t* at = data + reader.cursor;
    return at[0] == kSyncByte && at[unit] == kSyncByte;
}

/// Delivers the packets that read_packet(reader, source, 188, …) would deliver one by one from
/// here while none of them needs a read or a scan: 188-byte packets back to back in the block,
/// each confirmed by the sync byte of the next (units with a prefix come one at a time). When there is no such packet it makes one
/// read_packet call and delivers what that call delivers. `first` points at the first packet;
/// the run stays valid until the next call. Returns the number of packets (0 as read_packet).
uint32_t read_packet_run(PacketReadBuffer& reader, const PacketSource& source,
                         const uint8_t*& first);

}  // namespace qv
