#include "stream_arguments.h"

#include <cstdint>

namespace qv::test_stream {

namespace {

/// Reads a whole unsigned number: decimal, or hexadecimal after "0x". False on anything else or
/// on overflow.
bool parse_unsigned(const std::string& text, uint64_t& value)
{
    size_t position = 0;
    uint64_t base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        position = 2;
    }
    if (position >= text.size()) {
        return false;
    }
    uint64_t result = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        uint64_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint64_t>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<uint64_t>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<uint64_t>(c - 'A' + 10);
        } else {
            return false;
        }
        if (result > (UINT64_MAX - digit) / base) {
            return false;
        }
        result = result * base + digit;
    }
    value = result;
    return true;
}

/// A number with an optional unit suffix: `scale` is 1000 (k, M, G) or 1024 (K, M, G, any case).
bool parse_scaled(const std::string& text, uint64_t scale, uint64_t& value)
{
    if (text.empty()) {
        return false;
    }
    uint64_t factor = 1;
    std::string digits = text;
    switch (text.back()) {
    case 'k': case 'K': factor = scale; break;
    case 'm': case 'M': factor = scale * scale; break;
    case 'g': case 'G': factor = scale * scale * scale; break;
    default: break;
    }
    if (factor > 1) {
        digits.pop_back();
    }
    uint64_t number = 0;
    if (!parse_unsigned(digits, number) || number > UINT64_MAX / factor) {
        return false;
    }
    value = number * factor;
    return true;
}

/// Seconds with up to three decimals, as milliseconds.
bool parse_seconds(const std::string& text, int64_t& milliseconds)
{
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (fraction.size() > 3) {
        return false;
    }
    fraction.resize(3, '0');
    uint64_t seconds = 0;
    uint64_t thousandths = 0;
    if (!parse_unsigned(whole, seconds) || !parse_unsigned(fraction, thousandths) ||
        whole.find_first_not_of("0123456789") != std::string::npos ||
        fraction.find_first_not_of("0123456789") != std::string::npos ||
        seconds > 100000000) {
        return false;
    }
    milliseconds = static_cast<int64_t>(seconds * 1000 + thousandths);
    return true;
}

}  // namespace

bool parse_stream_arguments(const std::vector<std::string>& arguments, StreamArguments& result,
                            std::string& error)
{
    StreamArguments read;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& option = arguments[index];
        if (option == "--help" || option == "-h") {
            read.help = true;
            continue;
        }
        if (option == "--no-captions") {
            read.options.captions = false;
            continue;
        }
        if (index + 1 >= arguments.size()) {
            error = option.rfind("-", 0) == 0 ? "missing value after " + option
                                              : "unexpected argument " + option;
            return false;
        }
        const std::string& value = arguments[++index];
        uint64_t number = 0;
        bool ok = true;
        if (option == "-o" || option == "--output") {
            read.output_path = value;
        } else if (option == "--duration") {
            ok = parse_seconds(value, read.options.duration_ms);
        } else if (option == "--size") {
            ok = parse_scaled(value, 1024, read.options.size_bytes) && read.options.size_bytes > 0;
        } else if (option == "--bitrate") {
            ok = parse_scaled(value, 1000, number) && number <= UINT32_MAX;
            read.options.bit_rate = static_cast<uint32_t>(number);
        } else if (option == "--programs") {
            ok = parse_unsigned(value, number) && number <= UINT32_MAX;
            read.options.programs = static_cast<uint32_t>(number);
        } else if (option == "--drop-every") {
            ok = parse_unsigned(value, number) && number <= UINT32_MAX;
            read.options.drop_every = static_cast<uint32_t>(number);
        } else if (option == "--drop-pid") {
            ok = parse_unsigned(value, number) && number < kNullPacketPid;
            read.options.drop_pid = static_cast<uint16_t>(number);
        } else if (option == "--packet-size") {
            ok = parse_unsigned(value, number) && (number == 188 || number == 192);
            read.options.packet_size = static_cast<uint32_t>(number);
        } else if (option == "--start") {
            ok = parse_broadcast_time(value, read.options.start);
        } else if (option == "--pcr-start") {
            ok = parse_unsigned(value, number) && number < kTimestampModulus;
            read.options.pcr_start = number;
        } else {
            error = "unknown option " + option;
            return false;
        }
        if (!ok) {
            error = "bad value for " + option + ": " + value;
            return false;
        }
    }
    if (!read.help && read.output_path.empty()) {
        error = "no output path (-o PATH)";
        return false;
    }
    if (!read.help && !check_stream_options(read.options, error)) {
        return false;
    }
    result = read;
    return true;
}

const char* stream_usage_text()
{
    return "usage: make_test_stream -o PATH [options]\n"
           "Writes a deterministic broadcast-like transport stream: PAT, PMT, SDT, EIT p/f, TOT,\n"
           "and per programme video-like PES with PCR, audio-like PES and ARIB captions.\n"
           "  -o, --output PATH       file to write\n"
           "  --duration SECONDS      stream time, up to 3 decimals (default 5)\n"
           "  --size BYTES            stop at this size instead (suffix K, M, G: 1024 powers)\n"
           "  --bitrate BITS          bits per second (suffix k, M: 1000 powers; default 1M)\n"
           "  --programs N            programmes, 1 to 8 (default 1)\n"
           "  --no-captions           no caption streams\n"
           "  --drop-every N          leave out every N-th packet of the drop PID\n"
           "  --drop-pid PID          PID that loses packets (default 0x0112, the first audio)\n"
           "  --packet-size 188|192   192 puts a 4-byte arrival time before each packet\n"
           "  --start 'YYYY-MM-DD HH:MM:SS'  Japan time of the first packet (TOT, EIT)\n"
           "                          (default 2025-04-01 21:10:00)\n"
           "  --pcr-start TICKS       PCR base of the first packet, 90 kHz (default 324000000)\n"
           "Without options other than -o it writes the committed sample stream.\n";
}

}  // namespace qv::test_stream
