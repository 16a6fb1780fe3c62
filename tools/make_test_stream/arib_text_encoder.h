#pragma once
// A small ARIB STD-B24 8-unit code writer for the texts of the test streams: kanji through the
// Kanji set in GL, hiragana through GR, katakana through G3 and GR, alphanumerics through G1 in
// GL, each invoked only when the previous character used another set.
#include <string_view>

#include "ts_writers.h"

namespace qv::test_stream {

/// Which default designations the reader starts from (ARIB STD-B24 Part 1 Table 7-3 for
/// captions; the SI default for service and event names).
enum class TextProfile {
    caption,  ///< G0 Kanji, G1 alphanumeric, G2 hiragana, G3 macro; GL G0, GR G2
    si,       ///< G0 Kanji, G1 alphanumeric, G2 hiragana, G3 katakana; GL G0, GR G2
};

/// Appends the 8-unit code of the UTF-8 `text`, assuming the designations and invocations of
/// `profile` hold at its start. Knows printable ASCII (except backslash and tilde, which the
/// alphanumeric set shows as yen and overline), the space, hiragana, katakana, the long vowel
/// mark, the ideographic space and the kanji of the generator's own texts. False, with `out`
/// unchanged, for any other character.
[[nodiscard]] bool encode_arib_text(std::string_view text, TextProfile profile, Bytes& out);

}  // namespace qv::test_stream
