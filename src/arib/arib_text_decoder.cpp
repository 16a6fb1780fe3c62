#include "arib/arib_text_decoder.h"

#include "base/console_output.h"

namespace qv {

std::string decode_arib_text(const uint8_t* bytes, uint32_t length, AribTextState& state)
{
    std::string text;
    if (bytes == nullptr || length == 0) {
        return text;
    }
    // Shift_JIS output is at most about twice the input apart from "[MF…]" escapes.
    text.reserve(static_cast<size_t>(length) * 2);
    size_t position = 0;
    while (position < length && stop_requested.load(std::memory_order_relaxed) == 0) {
        const bool graphic = process_control_codes(text, bytes, length, position, state);
        if (graphic) {
            decode_graphic_character(text, bytes, length, position, state);
        }
        // A single shift (SS2, SS3) lasts for one character.
        if (state.saved_gl != kNoSlot) {
            state.gl = state.saved_gl;
            state.saved_gl = kNoSlot;
        }
        if (state.saved_gr != kNoSlot) {
            state.gr = state.saved_gr;
            state.saved_gr = kNoSlot;
        }
        if (!graphic) {
            break;
        }
    }
    // The text is handed on as a C string: a NUL that an out-of-range JIS row produced ends it.
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.resize(nul);
    }
    return text;
}

}  // namespace qv
