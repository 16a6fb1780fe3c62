#include "subtitle/caption_encoder_state.h"

namespace qv {

void release_caption_encoder_state(CaptionEncoderState& state)
{
    state = CaptionEncoderState{};
}

void share_pid_counters(CaptionEncoderState& state, const CaptionEncoderState& owner)
{
    state.pid_counters = owner.pid_counters;
}

PidCounter& find_or_add_pid_counter(PidCounterList& counters, uint16_t pid)
{
    for (PidCounter& counter : counters) {
        if (counter.pid == pid) {
            return counter;
        }
    }
    PidCounter& added = counters.emplace_back();
    added.pid = pid;
    return added;
}

void add_pmt_stream(std::vector<PmtStreamEntry>& streams, uint8_t stream_type, uint16_t pid,
                    const uint8_t* descriptors, size_t length)
{
    PmtStreamEntry* entry = nullptr;
    for (PmtStreamEntry& stream : streams) {
        if (stream.pid == pid) {
            entry = &stream;
            break;
        }
    }
    if (entry == nullptr) {
        entry = &streams.emplace_back();
    }
    entry->stream_type = stream_type;
    entry->pid = pid;
    if (descriptors != nullptr && length > 0) {
        entry->descriptors.insert(entry->descriptors.end(), descriptors, descriptors + length);
    }
}

}  // namespace qv
