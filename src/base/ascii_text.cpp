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

int64_t parse_bounded_decimal(std::string_view text, int64_t limit)
{
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value < limit ? value * 10 + (text[at] - '0') : limit;
    }
    if (value > limit) {
        value = limit;
    }
    return negative ? -value : value;
}

}  // namespace qv
