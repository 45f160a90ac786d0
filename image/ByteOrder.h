// Little-endian fields in byte buffers. Each byte goes into a local before the
// bytes are combined, so the order of evaluation never matters.
#pragma once

#include <cstdint>

namespace rastova {

inline std::uint16_t U16LE(const std::uint8_t* p)
{
    const std::uint16_t lo = p[0];
    const std::uint16_t hi = p[1];
    return std::uint16_t(lo | hi << 8);
}

inline std::uint32_t U32LE(const std::uint8_t* p)
{
    const std::uint32_t lo = U16LE(p);
    const std::uint32_t hi = U16LE(p + 2);
    return lo | hi << 16;
}

inline void PutU16LE(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

inline void PutU32LE(std::uint8_t* p, std::uint32_t v)
{
    PutU16LE(p, v);
    PutU16LE(p + 2, v >> 16);
}

}  // namespace rastova
