#pragma once
// CRC-32/MPEG-2 over PSI and SI sections (ISO/IEC 13818-1 Annex A): polynomial 0x04C11DB7,
// initial value 0xFFFFFFFF, bits taken most significant first, no final inversion. Over a whole
// section including its CRC_32 field the result is 0.
#include <array>
#include <cstddef>
#include <cstdint>

namespace qv {

inline constexpr uint32_t kCrc32Mpeg2Polynomial = 0x04C11DB7;

/// The 256-entry table of the polynomial, built at compile time.
inline constexpr std::array<uint32_t, 256> kCrc32Mpeg2Table = [] {
    std::array<uint32_t, 256> table = {};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t value = byte << 24;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 0x80000000u) ? (value << 1) ^ kCrc32Mpeg2Polynomial : value << 1;
        }
        table[byte] = value;
    }
    return table;
}();

/// CRC-32/MPEG-2 of the bytes [from, to); 0xFFFFFFFF for an empty range.
constexpr uint32_t crc32_mpeg2(const uint8_t* from, const uint8_t* to)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (const uint8_t* at = from; at < to; ++at) {
        crc = (crc << 8) ^ kCrc32Mpeg2Table[((crc >> 24) ^ *at) & 0xFF];
    }
    return crc;
}

namespace detail {
inline constexpr uint8_t kCrcCheckInput[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
}
static_assert(crc32_mpeg2(detail::kCrcCheckInput, detail::kCrcCheckInput + 9) == 0x0376E6E7,
              "CRC-32/MPEG-2 check value");

}  // namespace qv
