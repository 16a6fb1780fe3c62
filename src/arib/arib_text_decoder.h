#pragma once
// The ARIB STD-B24 8-unit code text decoder: turns caption statements and SI names and texts
// into Shift_JIS text for the console and the log.
#include <cstddef>
#include <cstdint>
#include <string>

#include "arib/arib_text_state.h"

namespace qv {

/// Decodes `length` bytes of 8-unit code with the designations held in `state` (which carry over
/// to the next call). Returns the Shift_JIS text; empty when there is no input or nothing was
/// produced. Control codes leave marks ("\n" as backslash and n, "0x08" and so on), additional
/// symbols become "&#x%04x;" references and characters without a text form "[MF…]" escapes.
std::string decode_arib_text(const uint8_t* bytes, uint32_t length, AribTextState& state);

// The two steps of the decoder, exposed for the decoder's own files and tests. Both advance
// `position` within bytes[0, length) and never read past `length`.

/// Consumes control codes and escape sequences from `position`, writing their visible marks to
/// `piece`. Returns true when it stopped in front of a graphic byte (0x21-0x7F, 0xA0-0xFF),
/// false when it consumed everything.
bool process_control_codes(std::string& piece, const uint8_t* bytes, size_t length,
                           size_t& position, AribTextState& state);

/// Consumes one escape sequence starting with the ESC at `position`; a sequence cut off by the
/// end of the input is dropped and the position moves to the end.
void process_escape(const uint8_t* bytes, size_t length, size_t& position, AribTextState& state);

/// Decodes the one character (1 or 2 bytes) at `position` through the set invoked into GL or GR.
/// A byte 0x7F or 0xFF, or a broken second byte, moves the position to the end of the input.
void decode_graphic_character(std::string& piece, const uint8_t* bytes, size_t length,
                              size_t& position, AribTextState& state);

}  // namespace qv
