#pragma once
// The progress line and the drop line of the stream pump, built without allocating or formatting
// with printf: through mode prints one per packet.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ts/stream_clock.h"

namespace qv {

struct StreamPump;
struct PumpPacket;

/// A console line of pieces in the making, in a fixed buffer: building one allocates nothing.
struct LineText {
    char text[320];
    size_t length = 0;  ///< bytes of `text` in use (at most 319)
    int pieces = 0;     ///< non-empty pieces joined so far
};

/// The progress line between packets. Through builds one per packet, and from one packet to the
/// next mostly the file offset alone changes: the pieces before it are built again only when
/// one of them changed.
struct ProgressLine {
    LineText line;
    bool head_valid = false;
    size_t head_length = 0;  ///< the line up to the offset piece
    int head_pieces = 0;
    int64_t share = -1;    ///< the percent shown, -1 for none (no file position)
    ClockTime time;        ///< the clock time shown
    std::string tot_text;  ///< the TOT text shown
};

/// The status line of the packet ("－ P % , PCR h:mm:ss.mmm , TOT … , +0xOFFSET\r"), or for a
/// packet that broke its PID's continuity the drop line (with -drop; through counts it too).
void report_progress(StreamPump& pump, PumpPacket& packet);

}  // namespace qv
