#pragma once
// The output side of a worker: a 48128-byte write buffer (256 packets) handed on in full blocks
// to a file, standard output, or the TCP sender library.
#include <array>
#include <cstddef>
#include <cstdint>
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
    /// For a file or standard output: the writer thread that takes the full buffers, which then
    /// live inside its chunks instead of `buffer`. Null: each full buffer is written at once.
    std::unique_ptr<WriteBehind> behind;
    /// Every full buffer goes to the writer thread at once instead of gathering a large chunk:
    /// a reader of a live stream gets it as it comes.
    bool hand_on_each_buffer = false;
};

/// True when the writer has a handle, or a sender id with a bound "AddSendDataDLL".
bool has_destination(const PacketWriter& writer);

/// Adds `length` bytes behind the pending ones, handing the buffer on each time it fills; a call
/// with no data is a flush request. Returns the bytes handed on by this call. Bytes a failed or
/// short write leaves stay pending and are retried first; when that retry hands on nothing the
/// new bytes are dropped and `failed` is set.
size_t write_packets(PacketWriter& writer, const uint8_t* data, size_t length);
/// Hands on all pending bytes; returns the count handed on.
inline size_t flush_packets(PacketWriter& writer) { return write_packets(writer, nullptr, 0); }

/// Moves the writing of the writer's file or standard output onto a thread of its own. False
/// (and nothing changes) when the writer has no handle or the thread cannot start.
bool start_write_behind(PacketWriter& writer);
/// Hands on all pending bytes and waits until they, and everything handed on before, reached
/// the destination; `failed` then tells whether all of it did. Ends the writer thread.
void finish_packets(PacketWriter& writer);

}  // namespace qv
