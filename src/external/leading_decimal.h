#pragma once
// The decimal numbers of the tuner source and TCP sender paths: leading white space, an optional
// sign and the digits up to the first other character; 0 when there are none. Overlong numbers
// wrap, as the C library's conversion would leave them undefined.
#include <cstdint>
#include <string_view>

namespace qv {

inline int64_t parse_leading_decimal(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

}  // namespace qv
