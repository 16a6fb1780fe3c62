// Arbitrary bytes, delivered in arbitrary read sizes, through the per-packet path of a worker:
// read_packet -> parse_packet -> check_continuity -> clock updates and clock selection.
// The first input bytes choose the read sizes, the block size and the registered PCR PIDs.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ts/packet_header.h"
#include "ts/packet_reader.h"
#include "ts/stream_clock.h"
#include "ts/stream_context.h"
#include "ts/tuner_buffer.h"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace qv;
    if (size < 4) {
        return 0;
    }
    const uint8_t chunk_seed = data[0];
    const uint32_t capacity = 384u + data[1] * 7u;  // small blocks: many refills and tails
    StreamContext context;
    context.pcr_pid_set[0] = static_cast<uint16_t>(((data[2] & 0x1F) << 8) | data[3]);
    data += 4;
    size -= 4;

    TunerReceiveBuffer tuner;
    tuner.running = true;
    PacketReadBuffer reader;
    reader.capacity = capacity;
    const PacketSource source{platform::kClosedHandle, &tuner};
    size_t fed = 0;
    size_t step = 0;
    int idle = 0;
    while (idle < 3) {
        if (fed < size) {
            // Read sizes from 1 byte to about two blocks, varying per call.
            const size_t chunk = 1 + (static_cast<size_t>(chunk_seed) * 131 + step * 37) % (2 * capacity);
            const size_t count = chunk < size - fed ? chunk : size - fed;
            std::lock_guard<std::mutex> guard(tuner.lock);
            tuner.bytes.insert(tuner.bytes.end(), data + fed, data + fed + count);
            fed += count;
        } else {
            tuner.running = false;
        }
        ++step;
        const uint8_t* packet = nullptr;
        const uint8_t length = read_packet(reader, source, 188, packet);
        require(reader.cursor <= reader.valid_length && reader.valid_length <= reader.capacity);
        if (length == 0) {
            require(packet == nullptr);
            idle = fed >= size ? idle + 1 : 0;
            continue;
        }
        idle = 0;
        require(length == 188 || length == 192);
        require(packet >= read_data(reader) && packet + 188 <= read_data(reader) + reader.valid_length);
        require(packet[0] == 0x47);
        PidState* state = parse_packet(context, packet);
        if (state == nullptr) {
            continue;
        }
        require(state->payload_offset <= 188 && state->unit_start_offset <= 188);
        (void)check_continuity(context, *state);
        update_stream_clocks(context, *state);
        const ClockTracker& clock = select_clock(context, ClockPreference(step % 3));
        const ClockTime time = ticks_to_clock_time(static_cast<int64_t>(clock.elapsed));
        require(time.minutes >= 0 && time.minutes < 60 && time.seconds >= 0 && time.seconds < 60 &&
                time.milliseconds >= 0 && time.milliseconds < 1000);
    }
    // The index and the ordered list agree.
    for (const auto& state : context.pid_states) {
        require(find_pid_state(context, state->pid) == state.get());
    }
    return 0;
}
