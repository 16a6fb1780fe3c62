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

/// Hands all pending bytes on; what is not handed on moves to the front and stays pending.
size_t hand_on(PacketWriter& writer)
{
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
    } else if (writer.sender_id != kNoSender && writer.sender != nullptr &&
               writer.sender->add_send_data != nullptr) {
        // The library takes the bytes over in full.
        writer.sender->add_send_data(static_cast<uint32_t>(writer.sender_id), writer.buffer.data(),
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

bool has_destination(const PacketWriter& writer)
{
    return writer.handle != platform::kClosedHandle ||
           (writer.sender_id != kNoSender && writer.sender != nullptr &&
            writer.sender->add_send_data != nullptr);
}

size_t write_packets(PacketWriter& writer, const uint8_t* data, size_t length)
{
    if (!has_destination(writer) || writer.capacity <= 0) {
        return 0;
    }
    const size_t capacity = std::min(static_cast<size_t>(writer.capacity), writer.buffer.size());
    if (data == nullptr || length == 0) {
        return hand_on(writer);  // a flush request
    }
    size_t handed = 0;
    while (length > 0) {
        if (static_cast<size_t>(writer.pending) >= capacity) {
            // Still full from a failed or short write: retry it before taking more.
            const size_t retried = hand_on(writer);
            handed += retried;
            if (retried == 0) {
                mark_failed(writer, writer.error_code);
                return handed;  // the rest of this call's bytes are dropped
            }
        }
        // Everything the call brings is stored: a run of several packets that meets a full
        // buffer continues behind the flush instead of losing its tail.
        const size_t count = std::min(length, capacity - static_cast<size_t>(writer.pending));
        std::memcpy(writer.buffer.data() + writer.pending, data, count);
        writer.pending += static_cast<int32_t>(count);
        data += count;
        length -= count;
        if (static_cast<size_t>(writer.pending) >= capacity) {
            handed += hand_on(writer);
        }
    }
    return handed;
}

}  // namespace qv
