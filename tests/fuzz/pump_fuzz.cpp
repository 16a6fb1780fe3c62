// Display, extract and filter over one arbitrary stream, written to a scratch file, with the
// options chosen by the first two bytes (-detail, -sdt, -eit, -tot, -dump, -duration, -drop,
// -wraparound, -nodel, -noprogress, a start offset, -bufsize; extract runs with -capstr).
//
// Every worker runs and ends; the outputs are whole 188-byte packets; extract deletes its output
// exactly when it counted nothing without -nodel; extract's output is a sub-sequence of the
// packets read from the input, and so is filter's apart from the PMT PIDs (whose sections it
// rebuilds); without -duration, display and extract -capstr count the same caption texts. The
// packets read are those the packet reader delivers from the same start, without the read-ahead
// thread.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/console_output.h"
#include "fuzz/fuzz_support.h"
#include "modes/display_worker.h"
#include "modes/extract_worker.h"
#include "modes/filter_worker.h"
#include "ts/packet_header.h"
#include "ts/packet_reader.h"
#include "ts/pat_pmt.h"

namespace {

using qv::fuzz::require;
using Packet = std::array<uint8_t, 188>;

constexpr const char* kDumps[] = {"all", "pmt", "0x130", "CAPTION", "0x", "eit"};
constexpr const char* kDurations[] = {"0-1", "1-", "0:0:0.200-0:0:0.400,0:0:1-0:0:2", ","};
constexpr int64_t kOffsets[] = {0, 188, -189, 7};

struct Paths {
    std::string source = qv::fuzz::scratch_path("pump_in.ts");
    std::string extract = qv::fuzz::scratch_path("pump_extract.ts");
    std::string filter = qv::fuzz::scratch_path("pump_filter.ts");
};

const Paths& paths()
{
    static const Paths p;
    return p;
}

/// The packets the reader delivers from the start the pump takes, and every PID a PAT among
/// them names as a PMT PID.
struct InputPackets {
    std::vector<Packet> packets;
    std::array<bool, qv::kPidCount> pmt_pids = {};
};

InputPackets read_input(int64_t offset)
{
    InputPackets input;
    qv::platform::NativeHandle handle = qv::platform::open_for_reading(paths().source);
    require(handle != qv::platform::kClosedHandle, "the source opens");
    int64_t position = 0;
    if (offset > 0) {
        (void)qv::platform::seek_file(handle, offset, qv::platform::SeekOrigin::begin, position);
    } else if (offset < 0) {
        (void)qv::platform::seek_file(handle, offset + 1, qv::platform::SeekOrigin::end, position);
    }
    qv::PacketReadBuffer reader;
    reader.capacity = 48128;
    const qv::PacketSource source{handle, nullptr};
    qv::StreamContext context;
    const uint8_t* packet = nullptr;
    while (qv::read_packet(reader, source, 188, packet) != 0 && packet != nullptr) {
        Packet copy;
        std::memcpy(copy.data(), packet, copy.size());
        input.packets.push_back(copy);
        qv::PidState* state = qv::parse_packet(context, packet);
        if (state == nullptr || !state->header_valid || state->pid != qv::kPatPid) {
            continue;
        }
        (void)qv::check_continuity(context, *state);
        if (qv::parse_pat(context, *state, packet)) {
            for (const qv::ProgramEntry& program : context.programs) {
                input.pmt_pids[program.pmt_pid & 0x1FFF] = true;
            }
        }
    }
    qv::release_read_buffer(reader);
    qv::platform::close_handle(handle);
    return input;
}

/// One worker over the source with its own pass arguments; returns the pass's count.
int32_t run_worker(int32_t (*worker)(qv::WorkerArgs*), const qv::RunConfig& config,
                   const std::string& source, const std::string& output)
{
    qv::WorkerArgs args;
    args.mode = config.mode;
    args.config = &config;
    for (qv::WorkerSlot& slot : args.slots) {
        slot.shared = &args.buffers[0];
    }
    args.slots[0].source = source;
    args.slots[0].output = output;
    require(worker(&args) == 1, "the worker runs");
    require(args.slots[0].finished, "the worker's slot is finished");
    return args.result_count.load();
}

uint16_t pid_of(const uint8_t* packet)
{
    return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
}

/// The output's packets, in order, among the input's; packets on `skipped` PIDs are left out of
/// the comparison.
void require_sub_sequence(const std::vector<uint8_t>& output, const InputPackets& input,
                          const std::array<bool, qv::kPidCount>* skipped, const char* property)
{
    require(output.size() % 188 == 0, "the output is whole packets");
    size_t next = 0;
    for (size_t at = 0; at < output.size(); at += 188) {
        const uint8_t* packet = output.data() + at;
        if (skipped != nullptr && (*skipped)[pid_of(packet)]) {
            continue;
        }
        while (next < input.packets.size() &&
               std::memcmp(input.packets[next].data(), packet, 188) != 0) {
            ++next;
        }
        require(next < input.packets.size(), property);
        ++next;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    static const bool quiet = [] {
        qv::console_flags = 0;  // the texts are formatted all the same, and then not shown
        return true;
    }();
    (void)quiet;

    const uint8_t flags = data[0];
    const uint8_t more = data[1];
    qv::RunConfig config;
    config.no_progress = (more & 0x80) != 0;
    config.detail = (flags & 0x01) != 0;
    config.keep_eit = (flags & 0x02) != 0;
    config.keep_sdt = (flags & 0x04) != 0;
    config.keep_tot = (flags & 0x08) != 0;
    config.report_drops = (flags & 0x10) != 0;
    config.report_wraparound = (flags & 0x20) != 0;
    if (flags & 0x40) {
        config.dump_spec = kDumps[more % 6];
    }
    const bool ranges = (more & 0x08) != 0;
    if (ranges) {
        config.duration_spec = kDurations[(more >> 4) & 0x03];
    }
    config.buffer_size = (more & 0x40) ? 48128 : 65536 + 188;
    // Mapped views (the reference reads), with the populating and writing threads on inputs of
    // odd length.
    config.io_threads = (size & 1) != 0;
    const int64_t offset = kOffsets[(flags & 0x80) ? (more & 0x03) : 0];
    const std::string source =
        offset == 0 ? paths().source : paths().source + ";" + std::to_string(offset);

    qv::fuzz::write_scratch_file(paths().source, data + 2, size - 2);
    const InputPackets input = read_input(offset);

    config.mode = qv::RunMode::display;
    const int32_t shown = run_worker(qv::run_display_worker, config, source, "");

    config.mode = qv::RunMode::extract;
    config.caption_by_text = true;
    // An output that counted nothing is deleted unless -nodel: then there is nothing to compare.
    config.no_delete = (more & 0x04) != 0;
    const int32_t extracted = run_worker(qv::run_extract_worker, config, source, paths().extract);
    require(qv::platform::path_exists(paths().extract) == (config.no_delete || extracted > 0),
            "extract's output stays unless it counted nothing and -nodel is off");
    require_sub_sequence(qv::fuzz::read_scratch_file(paths().extract), input, nullptr,
                         "extract's output is a sub-sequence of the input");
    if (!ranges) {
        require(shown == extracted, "display and extract -capstr count the same texts");
    }

    config.mode = qv::RunMode::filter;
    (void)run_worker(qv::run_filter_worker, config, source, paths().filter);
    require_sub_sequence(qv::fuzz::read_scratch_file(paths().filter), input, &input.pmt_pids,
                         "filter's output is a sub-sequence of the input apart from the PMTs");
    return 0;
}
