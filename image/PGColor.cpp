// Colour resolution conversion: standard palettes, nearest-colour search,
// optimal palettes, error diffusion and the converting pixel copy.
#include "image/PGraphic.h"

#include "image/PGColorState.h"
#include "image/PGExceptions.h"

namespace rastova {

int GrayValue(TRGB color, bool weighted)
{
    const int r = RedOf(color), g = GreenOf(color), b = BlueOf(color);
    return weighted ? (b * 342 + g * 1761 + r * 897) / 1000 : r + g + b;
}

void TPixelGraphic::ClearColorCache()
{
    TColorState& state = ColorState();
    state.ColorCache.reset();
    state.ColorCacheValid.reset();
    state.ColorCacheBuilt = false;
}

int TPixelGraphic::NearestPaletteIndex(TRGB)
{
    throw EPixelGraphic("NearestPaletteIndex not built yet");
}

void TPixelGraphic::CopyRect(int, int, const TPixelGraphic&, int, int, int, int)
{
    throw EPixelGraphic("CopyRect not built yet");
}

void TPixelGraphic::CopyFrom(const TPixelGraphic&)
{
    throw EPixelGraphic("CopyFrom not built yet");
}

void TPixelGraphic::CreateOptimalPalette(const TPixelGraphic&, int, bool)
{
    throw EPixelGraphic("CreateOptimalPalette not built yet");
}

}  // namespace rastova
