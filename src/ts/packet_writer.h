#pragma once
// The output side of a worker: a 48128-byte write buffer (256 packets) handed on in full blocks
// to a file, standard output, or the TCP sender library.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/file.h"
#include "ts/ts_packet.h"
#include "ts/write_behind.h"

namespace qv {

inline constexpr int32_t kWriteBufferSize = 48128;  ///< 256 packets of 188 bytes
inline constexpr int32_t kNoSender = -1;

/// The TCP sender library's "AddSendDataDLL": takes `length` bytes over in full.
using SendDataFunction = void (*)(uint32_t sender_id, const uint8_t* data, uint32_t length);

/// One output of a worker with its pending bytes.
struct PacketWriter {
    platform::NativeHandle handle = platform::kClosedHandle;  ///< file or standard output
    int32_t sender_id = kNoSender;         ///< TCP sender, used when there is no handle
    SendDataFunction send_data = nullptr;  ///< the sender library's bound "AddSendDataDLL"
    std::array<uint8_t, kWriteBufferSize> buffer = {};
    int32_t capacity = kWriteBufferSize;   ///< bytes of `buffer` in use (at most its size)
    int32_t pending = 0;                   ///< bytes waiting in `buffer`
    /// Sticky: a write failed or fell short, or bytes had to be dropped. Once set, the output is
    /// incomplete; the worker reports it and ends.
    bool failed = false;
    int error_code = 0;  ///< OS error of the first failed write (0 when none was reported)
    /// For a file or standard output: the chunks that gather the full buffers, which then live
    /// inside them instead of `buffer`, written by a writer thread or by the worker itself.
    /// Null: each full buffer is written at once.
    std::unique_ptr<WriteBehind> behind;
    /// Every full buffer is handed on at once instead of gathering a large chunk: a reader of a
    /// live stream gets it as it comes.
    bool hand_on_each_buffer = false;
    /// Packets written in place (write_packet_in_place): bytes that still lie in the caller's
    /// read block and follow the pending ones. settle_packets() copies or writes them before
    /// the block changes; every other write call settles them first.
    const uint8_t* in_place = nullptr;
    size_t in_place_length = 0;
    /// `behind` has a writer thread: packets written in place are copied into its window at
    /// once (the thread writes later, when the packets' block may have changed).
    bool behind_threaded = false;
};

/// Copies one packet in 16-byte moves. For a copy of 188 bytes inside a large function a compiler
/// may choose a string instruction, which costs several times as much.
inline void copy_packet(uint8_t* to, const uint8_t* from)
{
    constexpr size_t kMove = 16;
    for (size_t at = 0; at + kMove <= kPacketSize; at += kMove) {
        std::memcpy(to + at, from + at, kMove);
    }
    std::memcpy(to + kPacketSize - kMove, from + kPacketSize - kMove, kMove);  // the last 12
}

/// True when the writer has a handle, or a sender id with a bound "AddSendDataDLL".
inline bool has_destination(const PacketWriter& writer)
{
    return writer.handle != platform::kClosedHandle ||
           (writer.sender_id != kNoSender && writer.send_data != nullptr);
}

/// Adds `length` bytes behind the pending ones, handing the buffer on each time it fills; a call
/// with no data is a flush request. Returns the bytes handed on by this call. Bytes a failed or
/// short write leaves stay pending and are retried first; when that retry hands on nothing the
/// new bytes are dropped and `failed` is set.
size_t write_packets(PacketWriter& writer, const uint8_t* data, size_t length);
/// Hands on all pending bytes; returns the count handed on.
inline size_t flush_packets(PacketWriter& writer) { return write_packets(writer, nullptr, 0); }

/// write_packets for a single packet: one that fits the pending bytes without filling them is
/// copied in place (most packets), any other goes through write_packets.
inline size_t write_packet(PacketWriter& writer, const uint8_t* packet)
{
    const int32_t after = writer.pending + static_cast<int32_t>(kPacketSize);
    if (after < writer.capacity && writer.capacity <= kWriteBufferSize && has_destination(writer)) {
        uint8_t* area = writer.behind ? writer.behind->window() : writer.buffer.data();
        copy_packet(area + writer.pending, packet);
        writer.pending = after;
        return 0;
    }
    return write_packets(writer, packet, kPacketSize);
}

/// A run of packets in place that is at least this long is written from where it lies; a
/// shorter one is copied behind the pending bytes.
inline constexpr size_t kInPlaceWriteMinimum = 16384;

/// Copies or writes the packets written in place (see PacketWriter::in_place), so that the
/// block they lie in may change.
void settle_packets(PacketWriter& writer);

/// write_packet_in_place for a packet that does not continue the run in place.
void start_packets_in_place(PacketWriter& writer, const uint8_t* packet);

/// Writes one packet that stays where it is until the next settle_packets() call (the pump's
/// read block): packets that follow each other there are written together, without a copy,
/// when the writer gathers large writes to a regular file (and does not hand on each buffer);
/// any other writer copies the packet as write_packet does.
inline void write_packet_in_place(PacketWriter& writer, const uint8_t* packet)
{
    if (writer.in_place_length != 0 && writer.in_place + writer.in_place_length == packet) {
        writer.in_place_length += kPacketSize;  // most packets: the run goes on
        return;
    }
    if (writer.behind_threaded) {
        // Most packets behind a writer thread: copied into the window, which they do not fill.
        const int32_t after = writer.pending + static_cast<int32_t>(kPacketSize);
        if (after < writer.capacity && writer.capacity <= kWriteBufferSize) {
            copy_packet(writer.behind->window() + writer.pending, packet);
            writer.pending = after;
            return;
        }
    }
    start_packets_in_place(writer, packet);
}

/// Moves the writing of the writer's file or standard output onto a thread of its own. False
/// (and nothing changes) when the writer has no handle or the thread cannot start.
bool start_write_behind(PacketWriter& writer);
/// Gathers the full buffers of the writer's regular file into large chunks that the worker
/// writes itself. False (and nothing changes) when the writer has no handle or no memory.
bool start_gathered_writes(PacketWriter& writer);
/// Hands on all pending bytes and waits until they, and everything handed on before, reached
/// the destination; `failed` then tells whether all of it did. Ends the writer thread.
void finish_packets(PacketWriter& writer);

}  // namespace qv
