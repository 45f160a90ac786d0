// Per-image work state of colour conversion: the one-entry memo, the 64 K
// nearest-colour cell cache and the dithering buffers. Never copied or saved.
#pragma once

#include "image/PGTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace rastova {

struct TColorState {
    // One-entry memo of the last nearest-colour lookup.
    TRGB LastColor = 0;
    int LastIndex = 0;
    bool LastColorValid = false;

    // One palette index per 5-6-5 colour cell, with one validity bit per cell.
    std::unique_ptr<std::uint8_t[]> ColorCache;
    std::unique_ptr<std::uint8_t[]> ColorCacheValid;
    bool ColorCacheBuilt = false;

    // Error diffusion rows, present only between DitherBegin and DitherEnd.
    std::vector<std::int32_t> ErrorRowCurrent;
    std::vector<std::int32_t> ErrorRowNext;
    std::vector<std::int32_t> ErrorLimitTable;
};

}  // namespace rastova
