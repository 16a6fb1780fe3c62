#include "platform/posix/wildcard.h"

#include <cstddef>

namespace qv::platform::posix {

namespace {

// Length of the character that starts at `pos`: a lead byte and its continuation bytes. A stray
// continuation byte or a cut sequence counts as one character per byte.
size_t character_length(std::string_view text, size_t pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    size_t length = 1;
    if (lead >= 0xF0 && lead <= 0xF7) {
        length = 4;
    } else if (lead >= 0xE0) {
        length = lead <= 0xEF ? 3 : 1;
    } else if (lead >= 0xC0) {
        length = 2;
    }
    for (size_t i = 1; i < length; ++i) {
        if (pos + i >= text.size() || (static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return length;
}

}  // namespace

bool wildcard_match(std::string_view pattern, std::string_view name)
{
    // Greedy matching with one remembered star: when a later literal fails, the last star takes
    // one more character and the rest of the pattern is tried again. Linear in practice, never
    // exponential.
    size_t p = 0;
    size_t n = 0;
    size_t star_p = std::string_view::npos;
    size_t star_n = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star_p = p++;
            star_n = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += character_length(name, n);
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star_p != std::string_view::npos) {
            p = star_p + 1;
            star_n += character_length(name, star_n);
            n = star_n;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace qv::platform::posix
