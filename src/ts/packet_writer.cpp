// The write buffer of an output and its hand-over to a file, standard output or TCP sender.
#include "ts/packet_writer.h"

#include <algorithm>
#include <cstring>

namespace qv {
namespace {

void mark_failed(PacketWriter& writer, int error_code)
{
    if (!writer.failed) {
        writer.error_code = error_code;
    }
    writer.failed = true;
}

/// Where the pending bytes live: the writer's own buffer, or the window of its writer thread.
uint8_t* pending_area(PacketWriter& writer)
{
    return writer.behind ? writer.behind->window() : writer.buffer.data();
}

/// Passes the pending bytes to the writer thread; `send_now` also sends the chunk they joined.
/// Once the thread reported a failed write, the writer is failed too.
size_t hand_on_behind(PacketWriter& writer, bool send_now)
{
    const size_t pending = writer.pending > 0 ? static_cast<size_t>(writer.pending) : 0;
    writer.behind->advance(pending, send_now);
    writer.pending = 0;
    if (writer.behind->failed()) {
        mark_failed(writer, writer.behind->error_code());
    }
    return pending;
}

/// Hands all pending bytes on; what is not handed on moves to the front and stays pending.
size_t hand_on(PacketWriter& writer, bool flush)
{
    if (writer.behind) {
        return hand_on_behind(writer, flush);
    }
    if (writer.pending <= 0) {
        return 0;
    }
    const size_t pending = static_cast<size_t>(writer.pending);
    size_t handed = 0;
    if (writer.handle != platform::kClosedHandle) {
        size_t written = 0;
        const bool ok = platform::write_file(writer.handle, writer.buffer.data(), pending, written);
        handed = ok ? std::min(pending, written) : 0;
        if (!ok) {
            mark_failed(writer, platform::last_error());
        } else if (handed < pending) {
            mark_failed(writer, 0);
        }
    } else if (writer.sender_id != kNoSender && writer.send_data != nullptr) {
        // The library takes the bytes over in full.
        writer.send_data(static_cast<uint32_t>(writer.sender_id), writer.buffer.data(),
                         static_cast<uint32_t>(pending));
        handed = pending;
    }
    if (handed > 0 && handed < pending) {
        std::memmove(writer.buffer.data(), writer.buffer.data() + handed, pending - handed);
    }
    writer.pending = static_cast<int32_t>(pending - handed);
    return handed;
}

}  // namespace

void settle_packets(PacketWriter& writer)
{
    const size_t length = writer.in_place_length;
    if (length == 0) {
        return;
    }
    const uint8_t* bytes = writer.in_place;
    writer.in_place = nullptr;
    writer.in_place_length = 0;
    if (length < kInPlaceWriteMinimum || !writer.behind || !writer.behind->direct()) {
        (void)write_packets(writer, bytes, length);
        return;
    }
    // The pending bytes, the chunk they close and the run go out in one write, in that order.
    const size_t pending = writer.pending > 0 ? static_cast<size_t>(writer.pending) : 0;
    writer.behind->write_chunk_and(pending, bytes, length);
    writer.pending = 0;
    if (writer.behind->failed()) {
        mark_failed(writer, writer.behind->error_code());
    }
}

void start_packets_in_place(PacketWriter& writer, const uint8_t* packet)
{
    if (!writer.behind || !writer.behind->direct() || writer.hand_on_each_buffer) {
        (void)write_packet(writer, packet);
        return;
    }
    settle_packets(writer);
    writer.in_place = packet;
    writer.in_place_length = kPacketSize;
}

size_t write_packets(PacketWriter& writer, const uint8_t* data, size_t length)
{
    if (!has_destination(writer) || writer.capacity <= 0) {
        return 0;
    }
    settle_packets(writer);  // packets written in place come first
    const size_t capacity = std::min(static_cast<size_t>(writer.capacity), writer.buffer.size());
    if (data == nullptr || length == 0) {
        return hand_on(writer, true);  // a flush request
    }
    size_t handed = 0;
    while (length > 0) {
        if (static_cast<size_t>(writer.pending) >= capacity) {
            // Still full from a failed or short write: retry it before taking more.
            const size_t retried = hand_on(writer, false);
            handed += retried;
            if (retried == 0) {
                mark_failed(writer, writer.error_code);
                return handed;  // the rest of this call's bytes are dropped
            }
        }
        // Everything the call brings is stored: a run of several packets that meets a full
        // buffer continues behind the flush instead of losing its tail.
        const size_t count = std::min(length, capacity - static_cast<size_t>(writer.pending));
        std::memcpy(pending_area(writer) + writer.pending, data, count);
        writer.pending += static_cast<int32_t>(count);
        data += count;
        length -= count;
        if (static_cast<size_t>(writer.pending) >= capacity) {
            handed += hand_on(writer, writer.hand_on_each_buffer);
        }
    }
    return handed;
}

namespace {

bool start_chunks(PacketWriter& writer, bool threaded)
{
    if (writer.behind || writer.handle == platform::kClosedHandle) {
        return false;
    }
    auto behind = std::make_unique<WriteBehind>(writer.buffer.size());
    if (!(threaded ? behind->start(writer.handle) : behind->start_direct(writer.handle))) {
        return false;
    }
    // Bytes already pending move into the first window.
    if (writer.pending > 0) {
        std::memcpy(behind->window(), writer.buffer.data(), static_cast<size_t>(writer.pending));
    }
    writer.behind = std::move(behind);
    writer.behind_threaded = threaded;
    return true;
}

}  // namespace

bool start_write_behind(PacketWriter& writer)
{
    return start_chunks(writer, true);
}

bool start_gathered_writes(PacketWriter& writer)
{
    return start_chunks(writer, false);
}

void finish_packets(PacketWriter& writer)
{
    flush_packets(writer);
    if (!writer.behind) {
        return;
    }
    writer.behind->wait_until_written();
    if (writer.behind->failed()) {
        mark_failed(writer, writer.behind->error_code());
    }
    writer.behind.reset();
    writer.behind_threaded = false;
}

}  // namespace qv
