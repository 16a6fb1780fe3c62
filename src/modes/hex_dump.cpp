#include "modes/hex_dump.h"

namespace qv {
namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
constexpr const char* kHeaderLine =
    "                 +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F\r\n";

}  // namespace

std::string hex_dump(const uint8_t* bytes, size_t length, uint64_t start_position)
{
    std::string text;
    text.reserve(length / 16 * 68 + 204);
    text += kHeaderLine;
    if (bytes == nullptr) {
        return text;
    }
    for (size_t row = 0; row < length; row += 16) {
        const uint64_t position = start_position + row;
        for (int shift = 60; shift >= 0; shift -= 4) {
            text += kUpperHexDigits[(position >> shift) & 0x0F];
        }
        text += ' ';
        for (size_t i = row; i < length && i < row + 16; ++i) {
            text += kUpperHexDigits[bytes[i] >> 4];
            text += kUpperHexDigits[bytes[i] & 0x0F];
            text += ' ';
        }
        text += "\r\n";
    }
    return text;
}

}  // namespace qv
