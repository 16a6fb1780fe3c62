#pragma once
// Conversion of subtitle text (UTF-8, or UTF-16) to the Shift_JIS (code page 932) text that the
// caption encoder reads. Characters that Shift_JIS cannot hold are kept as references.
#include <optional>
#include <string>
#include <string_view>

namespace qv {

/// Reference styles of wide_to_sjis for characters that Shift_JIS cannot hold.
inline constexpr int kSjisBestFit = 0;           ///< best fit allowed, ' ' for the rest
inline constexpr int kSjisEscapeU = 1;           ///< "\u%04x"
inline constexpr int kSjisHexReference = 2;      ///< "&#x%X;"
inline constexpr int kSjisDecimalReference = 3;  ///< "&#%d;"

/// UTF-8 → Shift_JIS with hexadecimal references (style 2); malformed UTF-8 becomes U+FFFD
/// first. None for an empty text.
std::optional<std::string> utf8_to_sjis(std::string_view utf8);

/// UTF-16 → Shift_JIS. Style > 0: exact mappings only, and every character without one is
/// written as a reference of that style (a '?' of the text itself stays '?'). Style ≤ 0: best
/// fit allowed and ' ' for the rest. A character outside the Basic Multilingual Plane is
/// referenced by its code point ("&#x1F600;", "&#128512;"), in style 1 by its two units
/// ("\ud83d\ude00"). Styles past 3 leave the '?'; so does the rest of the text once the stop
/// flag is raised. An empty text converts to an empty text (never none).
std::optional<std::string> wide_to_sjis(std::u16string_view wide, int style);

}  // namespace qv
