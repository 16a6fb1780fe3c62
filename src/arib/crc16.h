#pragma once
// CRC-16 of caption data groups (ARIB STD-B24): polynomial 0x1021, initial value 0,
// most significant bit first, no reflection, no final inversion. Shared by the decoder's check
// and the encoder.
#include <array>
#include <cstddef>
#include <cstdint>

namespace qv {

namespace detail {
constexpr std::array<uint16_t, 256> make_crc16_table()
{
    std::array<uint16_t, 256> table{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint16_t crc = static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[byte] = crc;
    }
    return table;
}
inline constexpr std::array<uint16_t, 256> kCrc16Table = make_crc16_table();
}  // namespace detail

/// CRC-16 of `length` bytes, continuing from `crc` (0 to start).
constexpr uint16_t crc16(const uint8_t* bytes, size_t length, uint16_t crc = 0)
{
    for (size_t index = 0; index < length; ++index) {
        crc = static_cast<uint16_t>((crc << 8) ^ detail::kCrc16Table[(crc >> 8) ^ bytes[index]]);
    }
    return crc;
}

namespace detail {
constexpr uint16_t crc16_check_value()
{
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    return crc16(check, sizeof check);
}
static_assert(crc16_check_value() == 0x31C3);
}  // namespace detail

}  // namespace qv
