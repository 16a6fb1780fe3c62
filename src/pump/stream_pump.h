#pragma once
// The read loop that every stream worker shares: it opens the slot's source and output, walks
// the packets (continuity, clocks, the -duration gate, pacing, writing, plug-ins, progress and
// drop lines) and closes everything again. What a mode does with a packet lives in its hooks.
//
// Per packet, in this order:
//   read → parse header → continuity → clocks (first-clock marking when the mode wants it)
//   → hooks.after_pts_update → range gate → hooks.dispatch (sets `selected`) → -sync pacing
//   → hooks.before_write → write when selected (or marked) → plug-ins → progress / drop line
//   → hooks.after_packet. hooks.before_loop and hooks.after_loop frame the loop.
// A mode that needs more (merge's second thread) reads `StreamPump` from its hooks.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "external/tuner_connection.h"
#include "platform/file.h"
#include "pump/progress_line.h"
#include "pump/time_ranges.h"
#include "pump/worker_args.h"
#include "pump/worker_output.h"
#include "ts/packet_reader.h"
#include "ts/packet_writer.h"

namespace qv {

enum class SourceKind : uint8_t { file = 0, standard_input = 1, pipe = 2, tuner = 3, invalid = 255 };

inline constexpr std::string_view kPipePrefix = "\\\\.\\pipe\\";

/// What the shared table dispatch made of a packet (see pump_tables.h).
enum class PacketKind : uint8_t { other, pat, eit, sdt, tot, pmt, caption };

/// The packet in hand, as the pump and the hooks see it.
struct PumpPacket {
    const uint8_t* data = nullptr;  ///< the 188 bytes of the packet inside the read block
    PidState* state = nullptr;      ///< null when the header did not parse
    bool drop = false;              ///< this packet broke its PID's continuity
    bool marked = false;            ///< it starts one of the clocks: written even if not selected
    bool pts_updated = false;       ///< the PTS clock took a value from it (when watched)
    bool selected = false;          ///< set by the dispatch hook: write it
    PacketKind kind = PacketKind::other;  ///< set by the table dispatch
};

struct StreamPump;

/// What one mode adds to the pump. Hooks left null do nothing.
struct PumpHooks {
    /// After a PTS clock update that reported true, before the range gate (display's caption
    /// PTS line).
    void (*after_pts_update)(StreamPump& pump, PumpPacket& packet) = nullptr;
    /// A packet inside the ranges, by PID; sets `packet.selected` for packets to write.
    void (*dispatch)(StreamPump& pump, PumpPacket& packet) = nullptr;
    /// Last step of every packet whose header parsed (display's dump); leave it null when there
    /// is nothing to do, it runs for every packet.
    void (*after_packet)(StreamPump& pump, PumpPacket& packet) = nullptr;
    /// Right after the header parse; returning true takes the packet out of the pump's steps
    /// (no continuity check, clocks, range gate, dispatch, write, progress line or after_packet):
    /// it is still paced and offered to plug-ins (filter's caption packets). Never asked about
    /// a packet of a plain PID (see skip_plain_pids).
    bool (*take_packet)(StreamPump& pump, PumpPacket& packet) = nullptr;
    /// After the source and output are open, before the first read (merge's main stream waits
    /// for its first caption item here; a tuner starts receiving only after it).
    void (*before_loop)(StreamPump& pump) = nullptr;
    /// Every packet whose header parsed, in range or not and whatever its PID, after the
    /// dispatch and pacing and before the packet is written (merge's insertion check).
    void (*before_write)(StreamPump& pump, PumpPacket& packet) = nullptr;
    /// After the last packet, with the output still open (merge inserts its held item).
    void (*after_loop)(StreamPump& pump) = nullptr;
    void* user = nullptr;  ///< the mode's own state

    /// Write the first packet that starts each of PCR, PTS and DTS (extract).
    bool mark_first_clocks = false;
    /// Progress or drop line after every packet instead of every 1001, and drops count into the
    /// result (through).
    bool progress_every_packet = false;
    /// Delete a file output when the pass counted nothing (unless -nodel).
    bool delete_empty_output = true;
    /// Only a packet that starts a PES feeds its PTS and DTS to the clocks (display, merge's
    /// caption stream); otherwise every packet of a PID feeds the PTS of its last PES start.
    bool pes_clocks_at_pes_start = false;
    /// The dispatch never selects a packet of a plain PID (one the table dispatch found to be no
    /// table, PMT or caption PID): the pump skips the dispatch call for those (extract, display).
    bool skip_plain_pids = false;
    /// The dispatch selects every packet of a plain PID and does nothing else with it: the pump
    /// selects those itself without the call (filter, through, merge's main stream).
    bool select_plain_pids = false;
};

/// Per-packet steps that depend only on the pass, decided once before the first packet.
struct PacketSteps {
    bool pacing = false;   ///< -sync: paced against the wall clock
    bool plugins = false;  ///< a plug-in list is offered every packet
    bool output = false;   ///< there is an output for the selected packets
    /// Any of pacing, plug-ins, -duration ranges, a before_write or an after_packet hook, a
    /// progress line per packet: the pump's loop without them leaves their tests out.
    bool optional = false;
};

/// The frame of one worker run.
struct StreamPump {
    WorkerArgs* args = nullptr;
    WorkerSlot* slot = nullptr;
    const RunConfig* config = nullptr;
    PumpHooks hooks;
    PacketSteps steps;

    StreamContext* context = nullptr;
    SourceKind source_kind = SourceKind::invalid;
    std::string source_path;  ///< the path opened (a pipe's native path), without ";offset"
    int64_t start_offset = 0;
    int64_t source_origin = 0;  ///< file position of a file source when reading began
    int64_t total_size = 1;
    PacketSource input;
    PacketReadBuffer reader;
    std::unique_ptr<TunerConnection> tuner;  ///< a tuner source's driver and reception thread

    WorkerOutput output;

    bool ranges_active = false;
    TimeRangeCursor range_cursor;
    TimeRange range;

    bool first_pcr = true;
    bool first_pts = true;
    bool first_dts = true;
    /// take_clock_updates has work to do: a first clock still to mark, or a PTS hook. Most
    /// packets of a video PID feed a time stamp again, and most runs watch nothing after the
    /// first few.
    bool clock_updates_watched = false;
    int32_t packets_since_progress = 0;
    std::string tot_text;  ///< "TOT yyyy/mm/dd hh:mm:ss" once a TOT was read
    /// PIDs known to be none of the tables, PMTs or caption PIDs; forgotten whenever a PAT or
    /// PMT packet is parsed (the table dispatch keeps it, so most packets skip the lookups).
    std::array<bool, kPidCount> plain_pid = {};
    std::vector<uint16_t> plain_pids;  ///< the PIDs marked in `plain_pid`
    /// File position that the last progress or drop line computed (0 before the first one).
    int64_t progress_position = 0;
    ProgressLine progress_line;
    bool stopped = false;  ///< the loop has ended (end of input, last range, stop, failure)
};

/// Runs the pump for `slot_index` of `args` with the mode's hooks. Returns 1 after a run, 0
/// when it refused (no args, no slot, no shared buffer).
int32_t run_stream_pump(WorkerArgs* args, int32_t slot_index, const PumpHooks& hooks);

/// True when the process asks every loop to end.
bool stop_asked();

/// True once a pass read standard input to its end: later passes over it would end at once.
bool standard_input_exhausted();

/// Byte position of `packet` in the source file, or -1 for sources that are not files.
int64_t packet_position(const StreamPump& pump, const uint8_t* packet);

/// The current stream clock (PCR, else PTS, else DTS).
const ClockTracker& current_clock(const StreamPump& pump);

/// "+0x%I64X" of a file position, empty for -1.
std::string position_text(int64_t position);

/// After bytes went to `pump.output.writer` by another route (a rebuilt table): a failed write ends
/// the pump with the same one message. True when the writer has not failed.
bool check_pump_writer(StreamPump& pump);

/// Hands one 188-byte packet of the pump's read block to the output (written in place: it is
/// copied or written before the block changes); a failed write ends the pump with one message.
inline void write_pump_packet(StreamPump& pump, const uint8_t* packet)
{
    if (pump.output.write_failed) {
        return;
    }
    PacketWriter& writer = *pump.output.writer;
    write_packet_in_place(writer, packet);
    if (writer.failed) {
        (void)check_pump_writer(pump);
    }
}

}  // namespace qv
