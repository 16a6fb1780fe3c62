#include "pump/worker_output.h"

#include <string>

#include "base/console_output.h"
#include "external/sender_binding.h"
#include "platform/file.h"

namespace qv {
namespace {

/// Full write buffers gather into large chunks. A regular file is written by the worker itself
/// unless `writer_thread` asks otherwise; any other output (a pipe, a terminal) may stall, so a
/// thread of its own writes it and can be given up after a stop request. Without either every
/// full buffer is written directly.
void start_chunked_writes(PacketWriter& writer, bool writer_thread)
{
    if (!writer_thread && !platform::is_pipe_or_device(writer.handle) &&
        start_gathered_writes(writer)) {
        return;
    }
    (void)start_write_behind(writer);
}

/// A failed write is the output's fault, except when its bytes could not be read: packets
/// written in place go out from the source's view of the file, and the source was cut shorter
/// under it. That is a failed read of the source.
void report_write_failure(const WorkerSlot& slot, WorkerOutput& output)
{
    if (platform::is_unreadable_memory_error(output.writer->error_code)) {
        report_read_failure(slot.source);
    } else {
        close_status_line();
        print_message(520, "－ 出力ファイルに書き込めません %s\n", slot.output.c_str());
    }
    output.write_failed = true;
}

}  // namespace

void report_read_failure(const std::string& source)
{
    close_status_line();
    print_message(520, "－ 入力ファイルから読み込めません %s\n",
                  source.substr(0, source.find(';')).c_str());
}

void open_worker_output(WorkerSlot& slot, WorkerOutput& output, bool live, bool writer_thread)
{
    output.writer = std::make_unique<PacketWriter>();
    slot.writer = output.writer.get();
    output.writer->hand_on_each_buffer = live;
    const std::string& path = slot.output;
    if (path.empty()) {
        output.kind = OutputKind::none;
        return;
    }
    if (platform::names_console(path)) {
        output.kind = OutputKind::standard_output;
        output.writer->handle = platform::standard_output();
        // No console text may mix with the stream on standard output (a run that knew it from
        // the start sends its text to standard error instead).
        if (!console_on_stderr.load()) {
            console_flags &= ~kConsoleTextOn;
        }
        start_chunked_writes(*output.writer, writer_thread);
        return;
    }
    if (path.starts_with(kSenderPathPrefix)) {
        // The sender library takes every full buffer on the worker's own thread; a library that
        // is missing or refuses leaves the output unusable ("失敗" in its start message).
        output.kind = OutputKind::tcp_sender;
        std::string target;
        std::string library;
        (void)split_sender_path(path, target, library);
        sender_binding().sender_library_path = library;
        slot.tcp_sender = open_sender(target);
        const SendTsTcpApi* api = sender_api();
        if (slot.tcp_sender != kNoSender && api != nullptr) {
            output.writer->sender_id = slot.tcp_sender;
            output.writer->send_data = api->add_send_data;
        }
        return;
    }
    output.kind = OutputKind::file;
    output.writer->handle = platform::create_for_writing(path);
    if (output.writer->handle == platform::kClosedHandle) {
        print_message(520, "－ 出力ファイルが作成できません %s\n", path.c_str());
        return;
    }
    output.created = true;
    start_chunked_writes(*output.writer, writer_thread);
}

bool worker_output_usable(const WorkerOutput& output)
{
    return output.kind == OutputKind::none || (output.writer && has_destination(*output.writer));
}

bool check_worker_output(const WorkerSlot& slot, WorkerOutput& output)
{
    if (output.write_failed) {
        return false;
    }
    if (output.writer && output.writer->failed) {
        report_write_failure(slot, output);
        return false;
    }
    return true;
}

void close_worker_output(WorkerSlot& slot, WorkerOutput& output)
{
    if (output.kind != OutputKind::none && output.writer) {
        // Everything still pending or queued for the writer thread reaches the output before
        // its handle closes.
        finish_packets(*output.writer);
        if (output.writer->failed && !output.write_failed) {
            report_write_failure(slot, output);
        }
    }
    slot.writer = nullptr;
    if (output.kind == OutputKind::file && output.writer) {
        platform::close_handle(output.writer->handle);
    }
    if (output.kind == OutputKind::tcp_sender) {
        close_sender(slot.tcp_sender);  // sends what is queued, then stops
    }
}

}  // namespace qv
