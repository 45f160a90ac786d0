// Per-image work state of colour conversion: the one-entry memo, the 64 K
// nearest-colour cell cache and the dithering buffers. Never copied or saved.
#pragma once

#include "image/PGTypes.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace rastova {

constexpr int kColorCacheCells = 32 * 64 * 32;  // 5 bits red, 6 green, 5 blue

// Cell of a colour in the nearest-colour cache.
constexpr int ColorCacheCell(int r, int g, int b)
{
    return (r >> 3) * 2048 + (g >> 2) * 32 + (b >> 3);
}

struct TColorState {
    // One-entry memo of the last nearest-colour lookup.
    TRGB LastColor = 0;
    int LastIndex = 0;
    bool LastColorValid = false;

    // One palette index per 5-6-5 colour cell, with one validity bit per cell
    // (cell k is bit k mod 8 of byte k div 8).
    std::unique_ptr<std::uint8_t[]> ColorCache;
    std::unique_ptr<std::uint8_t[]> ColorCacheValid;
    bool ColorCacheBuilt = false;
    // Cells holding palette colours (one bit each), and those colours with the
    // first index of each: a colour of the palette always finds its own entry,
    // not the one its cell was given.
    std::unique_ptr<std::uint8_t[]> PaletteCells;
    std::unordered_map<TRGB, std::uint8_t> PaletteColorIndex;

    // Error diffusion rows, present only between DitherBegin and DitherEnd:
    // (Width + 2) x 3 errors in sixteenths, column x at (x + 1) x 3, red, green,
    // blue; one guard entry at each end.
    std::vector<std::int32_t> ErrorRowCurrent;
    std::vector<std::int32_t> ErrorRowNext;
    // Limited error for -255..255, stored at index error + 255.
    std::vector<std::int32_t> ErrorLimitTable;
};

}  // namespace rastova
