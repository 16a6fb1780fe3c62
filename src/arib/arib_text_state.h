#pragma once
// State of one ARIB STD-B24 8-unit code text stream: the four designation slots G0-G3, the
// invocations into GL and GR, and the last stored text with its change flag. One lives in every
// caption entry and in every service/event text slot.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

inline constexpr int32_t kSetKindGraphic =
    1;                                      ///< a graphic set (kanji, kana, alphanumeric, mosaic)
inline constexpr int32_t kSetKindDrcs = 2;  ///< a DRCS set or the macro set

inline constexpr uint16_t kProfileFullService = 0;     ///< caption of the full service
inline constexpr uint16_t kProfilePartialService = 1;  ///< caption of the partial-reception service
inline constexpr uint16_t kProfileSiText = 0xFFFF;     ///< service and event names and texts

inline constexpr int kNoSlot = -1;  ///< no single shift pending

/// What one of G0-G3 holds: the final byte F of its designation, its kind and bytes per character.
struct GraphicSetSlot {
    int32_t final_byte = 0;
    int32_t kind = 0;
    int32_t bytes_per_character = 0;
};

struct AribTextState {
    /// The last stored text (Shift_JIS bytes, without the terminating NUL). Empty: none held.
    std::string text;
    bool track_changes = false;  ///< storing a text computes text_changed
    bool text_changed = false;   ///< the last store replaced a different text
    int16_t writing_format = 0;  ///< last SWF value read
    uint16_t text_profile = kProfileSiText;
    /// G0-G3; the initial contents are what reset_designations gives the SI text profile.
    std::array<GraphicSetSlot, 4> slots = {{{0x39, kSetKindGraphic, 2},
                                            {0x4A, kSetKindGraphic, 1},
                                            {0x30, kSetKindGraphic, 1},
                                            {0x31, kSetKindGraphic, 1}}};
    int gl = 0;              ///< slot invoked into GL (0x21-0x7E)
    int gr = 2;              ///< slot invoked into GR (0xA1-0xFE)
    int saved_gl = kNoSlot;  ///< GL before a pending single shift
    int saved_gr = kNoSlot;  ///< GR before a pending single shift
};

/// Bytes per character of a set: the Kanji sets and DRCS-0 take two bytes, all others one.
int32_t bytes_per_character(int32_t final_byte, int32_t kind);

/// Designates G0-G3 from text_profile and writing_format; GL := G0, GR := G2, no single shift.
void reset_designations(AribTextState& state);

/// Replaces the held text with `text`. With track_changes set, text_changed tells whether the new
/// bytes differ from the held ones (the first text ever stored differs). An empty text stores
/// nothing and, with track_changes set, leaves text_changed cleared.
void store_text(AribTextState& state, std::string_view text);

}  // namespace qv
