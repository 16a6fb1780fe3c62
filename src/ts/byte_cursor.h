#pragma once
// A bounds-checked reader over borrowed bytes with a sticky error: the first read past the end
// clears `ok` and every later read returns 0, so a parser checks `ok` once after a group of
// reads. Inner lengths split off a sub-cursor, so a descriptor can never read past its entry and
// an entry never past the end of its loop.
#include <cstddef>
#include <cstdint>

namespace qv {

struct ByteCursor {
    const uint8_t* pos = nullptr;  ///< next byte; borrowed
    const uint8_t* end = nullptr;  ///< one past the last readable byte
    bool ok = true;                ///< cleared by the first read past `end`
};

inline ByteCursor make_cursor(const uint8_t* data, size_t length)
{
    return ByteCursor{data, data + length, true};
}

/// Bytes left to read (0 once the cursor has failed).
inline size_t remaining(const ByteCursor& cur)
{
    return cur.ok ? static_cast<size_t>(cur.end - cur.pos) : 0;
}

inline uint8_t read_u8(ByteCursor& cur)
{
    if (!cur.ok || cur.pos >= cur.end) {
        cur.ok = false;
        return 0;
    }
    return *cur.pos++;
}

inline uint16_t read_u16(ByteCursor& cur)
{
    uint16_t high = read_u8(cur);
    uint16_t low = read_u8(cur);
    return cur.ok ? static_cast<uint16_t>((high << 8) | low) : 0;
}

/// Moves past `length` bytes; fails (without moving) when fewer remain.
inline void skip_bytes(ByteCursor& cur, size_t length)
{
    if (remaining(cur) < length) {
        cur.ok = false;
        return;
    }
    cur.pos += length;
}

/// Splits off the next `length` bytes as a cursor of their own and moves past them. When fewer
/// remain, both cursors fail.
inline ByteCursor take_cursor(ByteCursor& cur, size_t length)
{
    if (remaining(cur) < length) {
        cur.ok = false;
        return ByteCursor{cur.pos, cur.pos, false};
    }
    ByteCursor inner{cur.pos, cur.pos + length, true};
    cur.pos += length;
    return inner;
}

}  // namespace qv
