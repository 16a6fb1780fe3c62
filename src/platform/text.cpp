// Text conversions between code page 932, UTF-16 and UTF-8, done by the program's own tables so
// that both platforms give the bytes Windows gives for code page 932.
#include "platform/text.h"

#include <cstdint>

#include "platform/cp932_tables.h"

namespace qv::platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool is_high_surrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
bool is_surrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}

/// Decodes the code page 932 character at `pos` and moves `pos` past it. A lead byte whose next
/// byte cannot be a trail byte (or that ends the text) is replaced alone, so the byte after it
/// is read again as a character of its own; a well-formed pair without a mapping is replaced
/// as a whole.
char16_t decode_sjis_char(std::string_view sjis, size_t& pos)
{
    const auto lead = static_cast<uint8_t>(sjis[pos]);
    const uint16_t single = kCp932SingleToUnicode[lead];
    if (single != kCp932LeadByte) {
        ++pos;
        return single;
    }
    if (pos + 1 >= sjis.size() || !is_cp932_trail_byte(static_cast<uint8_t>(sjis[pos + 1]))) {
        ++pos;
        return kReplacement;
    }
    const auto trail = static_cast<uint8_t>(sjis[pos + 1]);
    pos += 2;
    const uint16_t unit = kCp932DoubleToUnicode[cp932_lead_index(lead)][trail - kCp932TrailFirst];
    return unit == kCp932Unmapped ? kReplacement : unit;
}

/// Binary search of a table sorted by `unicode`; null when the unit is not in it.
const Cp932Mapping* find_mapping(const Cp932Mapping* table, size_t count, char16_t unit)
{
    size_t low = 0;
    size_t high = count;
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (table[mid].unicode < unit) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    if (low < count && table[low].unicode == unit) {
        return &table[low];
    }
    return nullptr;
}

// The converters size their output for the longest possible result first and write through a
// pointer, then cut the output to what was written: appending byte by byte costs more than the
// conversion itself.

char* put_sjis(char* dst, uint16_t code)
{
    if (code >= 0x100) {
        *dst++ = static_cast<char>(code >> 8);
    }
    *dst++ = static_cast<char>(code & 0xFF);
    return dst;
}

char* put_utf8(char* dst, uint32_t code_point)
{
    if (code_point < 0x80) {
        *dst++ = static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        *dst++ = static_cast<char>(0xC0 | (code_point >> 6));
        *dst++ = static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        *dst++ = static_cast<char>(0xE0 | (code_point >> 12));
        *dst++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        *dst++ = static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        *dst++ = static_cast<char>(0xF0 | (code_point >> 18));
        *dst++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        *dst++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        *dst++ = static_cast<char>(0x80 | (code_point & 0x3F));
    }
    return dst;
}

char16_t* put_utf16(char16_t* dst, uint32_t code_point)
{
    if (code_point < 0x10000) {
        *dst++ = static_cast<char16_t>(code_point);
        return dst;
    }
    code_point -= 0x10000;
    *dst++ = static_cast<char16_t>(0xD800 + (code_point >> 10));
    *dst++ = static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
    return dst;
}

/// Decodes the UTF-8 sequence at `pos` and moves `pos` past it. An ill-formed sequence gives
/// U+FFFD for its maximal well-formed prefix (at least one byte), the substitution that the
/// Unicode Standard (3.9, "U+FFFD Substitution of Maximal Subparts") recommends and that the
/// system converters use: overlong forms, encoded surrogates and values past U+10FFFF are
/// ill-formed from their first impossible byte on.
uint32_t decode_utf8_char(std::string_view utf8, size_t& pos)
{
    const auto first = static_cast<uint8_t>(utf8[pos]);
    ++pos;
    if (first < 0x80) {
        return first;
    }
    size_t length = 0;
    uint32_t value = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
        value = first & 0x1F;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        value = first & 0x0F;
        low = first == 0xE0 ? 0xA0 : 0x80;   // no overlong three-byte forms
        high = first == 0xED ? 0x9F : 0xBF;  // no encoded surrogates
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        value = first & 0x07;
        low = first == 0xF0 ? 0x90 : 0x80;   // no overlong four-byte forms
        high = first == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return kReplacement;
    }
    for (size_t i = 1; i < length; ++i) {
        if (pos >= utf8.size()) {
            return kReplacement;
        }
        const auto next = static_cast<uint8_t>(utf8[pos]);
        if (next < low || next > high) {
            return kReplacement;
        }
        value = (value << 6) | (next & 0x3F);
        ++pos;
        low = 0x80;
        high = 0xBF;
    }
    return value;
}

}  // namespace

std::string sjis_to_native(std::string_view sjis)
{
#ifdef _WIN32
    return std::string(sjis);
#else
    // At most three UTF-8 bytes per byte (a lone lead byte becomes U+FFFD).
    std::string out(sjis.size() * 3, '\0');
    char* const begin = out.data();
    char* dst = begin;
    size_t pos = 0;
    while (pos < sjis.size()) {
        if (static_cast<uint8_t>(sjis[pos]) < 0x80) {
            *dst++ = sjis[pos++];
            continue;
        }
        dst = put_utf8(dst, decode_sjis_char(sjis, pos));
    }
    out.resize(static_cast<size_t>(dst - begin));
    return out;
#endif
}

std::u16string sjis_to_utf16(std::string_view sjis)
{
    std::u16string out(sjis.size(), u'\0');  // at most one unit per byte
    char16_t* const begin = out.data();
    char16_t* dst = begin;
    size_t pos = 0;
    while (pos < sjis.size()) {
        const auto byte = static_cast<uint8_t>(sjis[pos]);
        if (byte < 0x80) {
            *dst++ = byte;
            ++pos;
            continue;
        }
        *dst++ = decode_sjis_char(sjis, pos);
    }
    out.resize(static_cast<size_t>(dst - begin));
    return out;
}

std::u16string utf8_to_utf16(std::string_view utf8)
{
    std::u16string out(utf8.size(), u'\0');  // at most one unit per byte
    char16_t* const begin = out.data();
    char16_t* dst = begin;
    size_t pos = 0;
    while (pos < utf8.size()) {
        const auto byte = static_cast<uint8_t>(utf8[pos]);
        if (byte < 0x80) {
            *dst++ = byte;
            ++pos;
            continue;
        }
        dst = put_utf16(dst, decode_utf8_char(utf8, pos));
    }
    out.resize(static_cast<size_t>(dst - begin));
    return out;
}

std::string utf16_to_utf8(std::u16string_view utf16)
{
    std::string out(utf16.size() * 3, '\0');  // at most three bytes per unit
    char* const begin = out.data();
    char* dst = begin;
    for (size_t pos = 0; pos < utf16.size(); ++pos) {
        const char16_t unit = utf16[pos];
        if (unit < 0x80) {
            *dst++ = static_cast<char>(unit);
        } else if (is_high_surrogate(unit) && pos + 1 < utf16.size() &&
                   is_low_surrogate(utf16[pos + 1])) {
            const uint32_t code_point =
                0x10000 + ((uint32_t{unit} - 0xD800) << 10) + (utf16[pos + 1] - 0xDC00u);
            dst = put_utf8(dst, code_point);
            ++pos;
        } else if (is_surrogate(unit)) {
            dst = put_utf8(dst, kReplacement);
        } else {
            dst = put_utf8(dst, unit);
        }
    }
    out.resize(static_cast<size_t>(dst - begin));
    return out;
}

std::string utf16_to_sjis(std::u16string_view utf16, bool best_fit, char default_char,
                          bool& used_default)
{
    used_default = false;
    std::string out(utf16.size() * 2, '\0');  // at most two bytes per unit
    char* const begin = out.data();
    char* dst = begin;
    for (size_t pos = 0; pos < utf16.size(); ++pos) {
        const char16_t unit = utf16[pos];
        if (unit < 0x80) {
            *dst++ = static_cast<char>(unit);
            continue;
        }
        const Cp932Mapping* mapping = find_mapping(kCp932FromUnicode, kCp932FromUnicodeCount, unit);
        if (mapping == nullptr && best_fit) {
            mapping = find_mapping(kCp932BestFit, kCp932BestFitCount, unit);
        }
        if (mapping != nullptr) {
            dst = put_sjis(dst, mapping->sjis);
            continue;
        }
        // A character outside the Basic Multilingual Plane is one character, so its surrogate
        // pair becomes a single default character, as WideCharToMultiByte does.
        if (is_high_surrogate(unit) && pos + 1 < utf16.size() && is_low_surrogate(utf16[pos + 1])) {
            ++pos;
        }
        *dst++ = default_char;
        used_default = true;
    }
    out.resize(static_cast<size_t>(dst - begin));
    return out;
}

std::u16string native_to_utf16(std::string_view native)
{
#ifdef _WIN32
    return sjis_to_utf16(native);
#else
    return utf8_to_utf16(native);
#endif
}

std::string utf16_to_native(std::u16string_view utf16)
{
#ifdef _WIN32
    // The system's default conversion to the ANSI code page: best fit allowed, '?' otherwise.
    bool used_default = false;
    return utf16_to_sjis(utf16, true, '?', used_default);
#else
    return utf16_to_utf8(utf16);
#endif
}

}  // namespace qv::platform
