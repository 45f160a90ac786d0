// Pixels of 1 and 4 bits packed into a row: the leftmost pixel sits in the
// high bit (1-bit) or the high nibble (4-bit) of its byte.
#pragma once

#include <cstdint>

namespace rastova {

inline unsigned GetPacked1(const std::uint8_t* row, int x)
{
    return (row[x >> 3] >> (7 - (x & 7))) & 1u;
}

inline void SetPacked1(std::uint8_t* row, int x, bool on)
{
    const std::uint8_t mask = std::uint8_t(0x80u >> (x & 7));
    row[x >> 3] = on ? std::uint8_t(row[x >> 3] | mask) : std::uint8_t(row[x >> 3] & ~mask);
}

inline unsigned GetPacked4(const std::uint8_t* row, int x)
{
    return (x & 1) ? (row[x >> 1] & 0x0Fu) : unsigned(row[x >> 1] >> 4);
}

// Only the low four bits of value are stored.
inline void SetPacked4(std::uint8_t* row, int x, unsigned value)
{
    std::uint8_t& b = row[x >> 1];
    b = (x & 1) ? std::uint8_t((b & 0xF0) | (value & 0x0Fu)) : std::uint8_t((b & 0x0F) | ((value & 0x0Fu) << 4));
}

}  // namespace rastova
