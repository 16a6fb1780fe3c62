#include "ts/caption_entry.h"

namespace qv {

CaptionEntry make_caption_entry(uint16_t pid, uint16_t text_profile)
{
    CaptionEntry entry;
    entry.pid = pid;
    entry.text_state.text_profile = text_profile;
    reset_designations(entry.text_state);
    return entry;
}

}  // namespace qv
