#pragma once
// The output of a worker: a file created anew, standard output ("CON") or a TCP sender, written
// through a PacketWriter. The stream pump and the convert worker open, check and close it the
// same way.
#include <cstdint>
#include <memory>
#include <string>

#include "pump/worker_args.h"
#include "ts/packet_writer.h"

namespace qv {

enum class OutputKind : int32_t { none = -1, file = 0, standard_output = 1, tcp_sender = 2 };

struct WorkerOutput {
    OutputKind kind = OutputKind::none;
    std::unique_ptr<PacketWriter> writer;
    bool created = false;       ///< a file that this pass created and opened
    bool write_failed = false;  ///< a failed write was reported; nothing more is written
};

/// Opens the slot's output. A file that cannot be created, and a sender that cannot be opened,
/// say so; the output is then unusable. `live` (a pipe, standard input or tuner source, or
/// pacing) hands every full buffer on at once instead of gathering large writes. A file or
/// standard output is written on a writer thread when it may stall (a pipe, a terminal) or
/// `writer_thread` asks for it, else by the worker itself.
void open_worker_output(WorkerSlot& slot, WorkerOutput& output, bool live,
                        bool writer_thread = false);

/// True when there is no output or it can take packets.
bool worker_output_usable(const WorkerOutput& output);

/// "－ 入力ファイルから読み込めません" for a source (a start offset after ';' is left out).
void report_read_failure(const std::string& source);

/// After bytes went to the writer: a failed write is reported once ("－ 出力ファイルに書き込めません",
/// or the source's failed read when bytes written in place could not be read from its view) and
/// ends the writing. True while the writer has not failed.
bool check_worker_output(const WorkerSlot& slot, WorkerOutput& output);

/// Hands on everything pending, waits until it reached the output, reports a failure once,
/// and closes the handle or the sender.
void close_worker_output(WorkerSlot& slot, WorkerOutput& output);

}  // namespace qv
