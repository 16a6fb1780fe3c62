#pragma once
// Comparisons of command-line words and option values, where case does not matter for the
// ASCII letters and every other byte (CP932 lead and trail bytes included) compares as it is.
#include <cstdint>
#include <string_view>

namespace qv {

constexpr char to_lower_ascii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

/// True when `text` begins with `word`, ASCII letters compared without case.
constexpr bool starts_with_ignoring_case(std::string_view text, std::string_view word)
{
    if (text.size() < word.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        if (to_lower_ascii(text[i]) != to_lower_ascii(word[i])) {
            return false;
        }
    }
    return true;
}

/// Decimal value as atoi reads it: leading blanks and a sign, digits up to the first other
/// character, 0 when there are none (64 bits).
int64_t parse_decimal(const char* text);

/// The same for the start of `text`, kept within ±`limit` (it saturates instead of
/// overflowing, so sums of a few such values stay exact).
int64_t parse_bounded_decimal(std::string_view text, int64_t limit);

}  // namespace qv
