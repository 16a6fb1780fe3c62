#include "subtitle/convert_options.h"

#include "base/ascii_text.h"
#include "base/console_output.h"
#include "platform/console.h"

namespace qv {
namespace {

constexpr uint16_t kFirstUsablePid = 0x0020;  // below: PAT, CAT and the SI tables
constexpr uint64_t kValueLimit = 0xFFFFFFFF;  // far past 13 bits; keeps the value from wrapping

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

uint64_t hex_value(std::string_view text)
{
    uint64_t value = 0;
    for (const char c : text) {
        const int digit = hex_digit(c);
        if (digit >= 0) {
            value = value <= kValueLimit ? (value << 4) | static_cast<uint64_t>(digit) : value;
        }
    }
    return value;
}

/// The last usable item for one name.
struct PidCandidate {
    bool given = false;
    uint16_t pid = 0;
    std::string item;
};

}  // namespace

PidDefinitions parse_piddef(std::string_view text)
{
    PidDefinitions result;
    PidCandidate pmt;
    PidCandidate caption;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = text.find(',', at);
        const size_t end = comma == std::string_view::npos ? text.size() : comma;
        const std::string_view item = text.substr(at, end - at);
        at = end + 1;
        if (item.empty()) {
            continue;
        }
        const size_t separator = item.find(":0x");
        if (separator == std::string_view::npos) {
            result.ignored.push_back({std::string(item), PidItemProblem::no_value});
            continue;
        }
        const std::string_view name = item.substr(0, separator);
        PidCandidate* target = starts_with_ignoring_case(name, "pmt")       ? &pmt
                               : starts_with_ignoring_case(name, "caption") ? &caption
                                                                            : nullptr;
        if (target == nullptr) {
            result.ignored.push_back({std::string(item), PidItemProblem::unknown_name});
            continue;
        }
        const uint64_t value = hex_value(item.substr(separator + 3));
        if (value < kFirstUsablePid || value >= kNullPid) {
            result.ignored.push_back({std::string(item), PidItemProblem::out_of_range});
            continue;
        }
        *target = PidCandidate{true, static_cast<uint16_t>(value), std::string(item)};
    }
    const uint16_t pmt_pid = pmt.given ? pmt.pid : result.pmt_pid;
    const uint16_t caption_pid = caption.given ? caption.pid : result.caption_pid;
    if (pmt_pid == caption_pid) {
        // Either item alone may be fine; together they would clash. Both are left out.
        for (const PidCandidate* candidate : {&pmt, &caption}) {
            if (candidate->given) {
                result.ignored.push_back({candidate->item, PidItemProblem::same_as_other});
            }
        }
        return result;
    }
    result.pmt_pid = pmt_pid;
    result.caption_pid = caption_pid;
    return result;
}

ParamBytes parse_paramhex(std::string_view text)
{
    ParamBytes result;
    result.odd_character_dropped = text.size() % 2 != 0;
    for (size_t at = 0; at + 1 < text.size(); at += 2) {
        int value = 0;
        for (size_t k = 0; k < 2; ++k) {
            const char c = text[at + k];
            int digit = hex_digit(c);
            if (digit < 0) {
                digit = static_cast<unsigned char>(c);
                ++result.non_hex_characters;
            }
            value = value * 16 + digit;
        }
        result.bytes.push_back(static_cast<uint8_t>(value));
        platform::pump_messages();
        if (stop_requested.load(std::memory_order_relaxed) != 0) {
            result.stopped = true;
            break;
        }
    }
    return result;
}

}  // namespace qv
