#include "subtitle/sjis_text.h"

#include <cstdint>
#include <cstdio>

#include "base/console_output.h"
#include "platform/text.h"

namespace qv {
namespace {

/// Bytes that open a two-byte character in code page 932. The converted text can hold the IBM
/// extension rows (0xFA-0xFC) and the user-defined rows (0xF0-0xF9) too, so the walk must step
/// over their trail bytes as well or it would pair every later character with the wrong unit.
bool opens_two_byte_character(uint8_t byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool is_high_surrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void append_reference(std::string& out, int style, uint32_t value)
{
    char buffer[16] = {};
    int length = 0;
    if (style == kSjisEscapeU) {
        length = std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(value));
    } else if (style == kSjisHexReference) {
        length = std::snprintf(buffer, sizeof buffer, "&#x%X;", static_cast<unsigned>(value));
    } else if (style == kSjisDecimalReference) {
        length = std::snprintf(buffer, sizeof buffer, "&#%d;", static_cast<int>(value));
    }
    if (length > 0) {
        out.append(buffer, static_cast<size_t>(length));
    }
}

}  // namespace

std::optional<std::string> utf8_to_sjis(std::string_view utf8)
{
    if (utf8.empty()) {
        return std::nullopt;
    }
    const std::u16string wide = platform::utf8_to_utf16(utf8);
    if (wide.empty()) {
        return std::nullopt;
    }
    return wide_to_sjis(wide, kSjisHexReference);
}

std::optional<std::string> wide_to_sjis(std::u16string_view wide, int style)
{
    const bool best_fit = style <= 0;
    bool used_default = false;
    std::string converted =
        platform::utf16_to_sjis(wide, best_fit, best_fit ? ' ' : '?', used_default);
    if (!used_default || best_fit || style > kSjisDecimalReference) {
        return converted;  // no reference form is defined past style 3
    }

    // Each UTF-16 unit became one character (one or two bytes), except a surrogate pair,
    // which became a single '?'; walk both side by side and replace the '?' that stand for
    // characters without a mapping.
    std::string out;
    out.reserve(converted.size() + converted.size() / 2);
    size_t copied = 0;  // converted bytes before this one are already in `out`
    size_t pos = 0;
    size_t unit_pos = 0;
    while (pos < converted.size() && unit_pos < wide.size()) {
        if (stop_requested.load(std::memory_order_relaxed) != 0) {
            break;
        }
        const auto byte = static_cast<uint8_t>(converted[pos]);
        if (opens_two_byte_character(byte) && pos + 1 < converted.size()) {
            pos += 2;
            ++unit_pos;
            continue;
        }
        const char16_t unit = wide[unit_pos];
        ++pos;
        ++unit_pos;
        if (byte != '?' || unit == u'?') {
            continue;
        }
        out.append(converted, copied, pos - 1 - copied);
        copied = pos;
        if (is_high_surrogate(unit) && unit_pos < wide.size() && is_low_surrogate(wide[unit_pos])) {
            const char16_t low = wide[unit_pos];
            ++unit_pos;
            if (style == kSjisEscapeU) {
                append_reference(out, style, unit);
                append_reference(out, style, low);
            } else {
                append_reference(out, style,
                                 0x10000 + ((uint32_t{unit} - 0xD800) << 10) + (low - 0xDC00u));
            }
            continue;
        }
        append_reference(out, style, unit);
    }
    out.append(converted, copied, std::string::npos);
    return out;
}

}  // namespace qv
