#pragma once
// The -dump layout of a packet: a column header and rows of 16 bytes, each row labelled with its
// position in the source.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

/// Header line, then per 16 bytes "%016X " of the row's position and "XX " per byte, each line
/// ended by "\r\n".
std::string hex_dump(const uint8_t* bytes, size_t length, uint64_t start_position);

}  // namespace qv
