// Laying a colour sample with alpha over a background sample, the way readers
// that flatten transparency onto the image's BackGroundColor all do it.
#pragma once

#include <algorithm>
#include <cstdint>

namespace rastova {

// Straight alpha: c x a + bg x (1 - a), rounded.
inline std::uint8_t OverBackground(unsigned c, unsigned a, unsigned bg)
{
    return std::uint8_t((c * a + bg * (255 - a) + 127) / 255);
}

// Premultiplied alpha: c already holds c x a.
inline std::uint8_t PremultipliedOverBackground(unsigned c, unsigned a, unsigned bg)
{
    return std::uint8_t(std::min(255u, (c * 255 + bg * (255 - a) + 127) / 255));
}

}  // namespace rastova
