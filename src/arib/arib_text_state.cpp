#include "arib/arib_text_state.h"

namespace qv {
namespace {

GraphicSetSlot make_slot(int32_t final_byte, int32_t kind)
{
    return GraphicSetSlot{final_byte, kind, bytes_per_character(final_byte, kind)};
}

}  // namespace

int32_t bytes_per_character(int32_t final_byte, int32_t kind)
{
    if (kind == kSetKindGraphic) {
        return (final_byte == 0x39 || final_byte == 0x3A || final_byte == 0x3B ||
                final_byte == 0x42)
                   ? 2
                   : 1;
    }
    return final_byte == 0x40 ? 2 : 1;
}

void reset_designations(AribTextState& state)
{
    // Initial designations per text profile: captions of the full service (writing format 14
    // starts G0 in DRCS-1) and of the partial-reception service (ARIB STD-B24), SI text
    // (ARIB STD-B10).
    const GraphicSetSlot kanji = make_slot(0x39, kSetKindGraphic);
    const GraphicSetSlot alphanumeric = make_slot(0x4A, kSetKindGraphic);
    const GraphicSetSlot macro = make_slot(0x70, kSetKindDrcs);
    switch (state.text_profile) {
        case kProfileFullService:
            if (state.writing_format == 14) {
                state.slots = {make_slot(0x41, kSetKindDrcs), alphanumeric, kanji, macro};
            } else {
                state.slots = {kanji, alphanumeric, make_slot(0x30, kSetKindGraphic), macro};
            }
            break;
        case kProfilePartialService:
            state.slots = {kanji, alphanumeric, kanji, macro};
            break;
        default:
            state.slots = {kanji, alphanumeric, make_slot(0x30, kSetKindGraphic),
                           make_slot(0x31, kSetKindGraphic)};
            break;
    }
    state.gl = 0;
    state.gr = 2;
    state.saved_gl = kNoSlot;
    state.saved_gr = kNoSlot;
}

void store_text(AribTextState& state, std::string_view text)
{
    if (state.track_changes) {
        state.text_changed = false;
    }
    if (text.empty()) {
        return;
    }
    if (state.track_changes) {
        // Nothing held yet counts as different: the held text is never empty once stored.
        state.text_changed = state.text.empty() || state.text != text;
    }
    state.text.assign(text);
}

}  // namespace qv
