#include "base/ascii_text.h"

namespace qv {

int64_t parse_decimal(const char* text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

}  // namespace qv
