// Merge mode on two arbitrary streams: the input split into a main TS and a caption TS (or the
// same bytes as both), written to scratch files and run through both merge workers, each on its
// own thread, with the options that change what is inserted (-eit, -sdt, -tot, -capmergepatch,
// -duration) chosen by the first bytes.
//
// Both threads end (a watchdog stops the process otherwise); the output is whole 188-byte
// packets; no more items are inserted than the caption stream handed over; and on every PID
// that only inserted items use, the continuity counters run on without a gap.
//
// The count of handed-over items comes from the log of the run (-detail logs one "CAPTION PTS"
// line per item the caption worker hands over); the run's count less the caption texts it
// logged is the number of inserted items.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "base/console_output.h"
#include "fuzz/fuzz_support.h"
#include "modes/merge_worker.h"
#include "support/merge_threads.h"

namespace {

using qv::fuzz::require;

constexpr size_t kPacket = 188;
constexpr uint32_t kThreadDeadlineMs = 30000;

constexpr int64_t kPatches[] = {0,
                                90000,
                                -90000,
                                int64_t{1} << 33,
                                -(int64_t{1} << 40),
                                std::numeric_limits<int64_t>::max(),
                                std::numeric_limits<int64_t>::min(),
                                45};
constexpr const char* kDurations[] = {nullptr, "0-2", "1-", "0:0:0.500-0:0:3,5-"};

struct Paths {
    std::string main = qv::fuzz::scratch_path("merge_main.ts");
    std::string caption = qv::fuzz::scratch_path("merge_caption.ts");
    std::string output = qv::fuzz::scratch_path("merge_out.ts");
    std::string log = qv::fuzz::scratch_path("merge.log");
};

const Paths& paths()
{
    static const Paths p;
    return p;
}

/// A pass's arguments for merge mode, as run_pass builds them.
void prepare(qv::WorkerArgs& args, const qv::RunConfig& config)
{
    args.mode = qv::RunMode::merge;
    args.config = &config;
    for (qv::WorkerSlot& slot : args.slots) {
        slot.shared = &args.buffers[0];
        slot.lock_event = std::make_unique<qv::platform::ManualResetEvent>(false);
    }
    args.slots[0].source = paths().main;
    args.slots[0].output = paths().output;
    args.slots[1].source = paths().caption;
}

/// What the caption side logged: one "CAPTION PTS" line per item it handed over (-detail), and
/// one line ending in CR LF per caption text it printed. No other message of a merge run ends in
/// CR LF, and decoded texts hold no CR or LF of their own.
struct CaptionLog {
    size_t items = 0;
    int32_t texts = 0;
};

CaptionLog read_caption_log()
{
    const std::vector<uint8_t> log = qv::fuzz::read_scratch_file(paths().log);
    static const std::string kItemLine = "\xEF\xBC\x8D CAPTION PTS ";  // "－ CAPTION PTS "
    CaptionLog result;
    size_t line = 0;
    for (size_t at = 0; at < log.size(); ++at) {
        if (log[at] != '\n') {
            continue;
        }
        if (at - line >= kItemLine.size() &&
            std::memcmp(log.data() + line, kItemLine.data(), kItemLine.size()) == 0) {
            ++result.items;
        } else if (at > line && log[at - 1] == '\r') {
            ++result.texts;
        }
        line = at + 1;
    }
    return result;
}

/// Both workers on their own threads, each ending within the deadline.
void run_both(qv::WorkerArgs& args)
{
    require(qv::test::run_merge_workers_within(args, kThreadDeadlineMs), "both merge threads end");
}

uint16_t pid_of(const uint8_t* packet)
{
    return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
}

std::array<bool, 8192> pids_in(const std::vector<uint8_t>& stream)
{
    std::array<bool, 8192> used = {};
    for (size_t at = 0; at + 4 <= stream.size(); ++at) {
        if (stream[at] == 0x47) {
            used[pid_of(stream.data() + at)] = true;  // any position a packet could start at
        }
    }
    return used;
}

/// On PIDs the main stream never carries, every packet comes from an inserted item: a packet
/// with payload takes the next counter, one without keeps it.
void check_inserted_counters(const std::vector<uint8_t>& output, const std::vector<uint8_t>& main)
{
    const std::array<bool, 8192> main_pids = pids_in(main);
    std::array<int, 8192> last = {};
    last.fill(-1);
    for (size_t at = 0; at + kPacket <= output.size(); at += kPacket) {
        const uint8_t* packet = output.data() + at;
        const uint16_t pid = pid_of(packet);
        if (main_pids[pid]) {
            continue;
        }
        const int counter = packet[3] & 0x0F;
        const bool payload = (packet[3] & 0x10) != 0;
        if (last[pid] >= 0) {
            const int expected = payload ? (last[pid] + 1) & 0x0F : last[pid];
            require(counter == expected, "inserted packets have continuous counters");
        }
        last[pid] = counter;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) {
        return 0;
    }
    static const bool quiet = [] {
        qv::console_flags = 0;  // no console text; the log keeps what the checks read
        qv::set_log_file(paths().log);
        qv::log_active = qv::kLogOn;
        return true;
    }();
    (void)quiet;

    const uint8_t flags = data[0];
    qv::RunConfig config;
    config.mode = qv::RunMode::merge;
    config.no_progress = true;
    config.detail = true;
    config.keep_eit = (flags & 0x01) != 0;
    config.keep_sdt = (flags & 0x02) != 0;
    config.keep_tot = (flags & 0x04) != 0;
    config.buffer_size = 48128;
    config.io_threads = (size & 1) != 0;  // populating and writing threads on odd lengths
    config.capmerge_patch = kPatches[data[1] & 0x07];
    if (const char* duration = kDurations[(flags >> 4) & 0x03]) {
        config.duration_spec = duration;
    }
    const uint8_t* streams = data + 4;
    const size_t length = size - 4;
    const size_t split =
        (flags & 0x08) ? length : (static_cast<size_t>(data[2]) << 8 | data[3]) % (length + 1);
    qv::fuzz::write_scratch_file(paths().main, streams, split);
    if (flags & 0x08) {
        qv::fuzz::write_scratch_file(paths().caption, streams, length);
    } else {
        qv::fuzz::write_scratch_file(paths().caption, streams + split, length - split);
    }

    (void)qv::platform::delete_file(paths().log);
    qv::WorkerArgs args;
    prepare(args, config);
    run_both(args);
    require(args.slots[0].finished && args.slots[1].finished, "both slots are finished");

    const std::vector<uint8_t> output = qv::fuzz::read_scratch_file(paths().output);
    require(output.size() % kPacket == 0, "the output is whole packets");
    for (size_t at = 0; at < output.size(); at += kPacket) {
        require(output[at] == 0x47, "every output packet starts with its sync byte");
    }
    const CaptionLog log = read_caption_log();
    const int32_t inserted = args.result_count.load() - log.texts;
    require(inserted >= 0, "every printed caption text is counted");
    require(static_cast<size_t>(inserted) <= log.items, "no more items inserted than handed over");
    check_inserted_counters(output, std::vector<uint8_t>(streams, streams + split));
    return 0;
}
