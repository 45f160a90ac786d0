// Pixels of a damaged file may name entries beyond the palette it stores. The
// readers that keep such pixels extend the palette with black up to the
// largest index used, so every conversion finds an entry for every pixel.
#pragma once

#include "image/PGraphic.h"

namespace rastova {

// The largest palette index any pixel holds; 0 for true colour and empty images.
int MaxPixelIndex(const TPixelGraphic& graphic);

// Appends black entries so that the palette reaches the largest index used.
void ExtendPaletteToPixels(TPixelGraphic& graphic);

// Extends the palette on every way out of a reader's row loop, errors included,
// since an image keeps the rows read before an error.
struct TPaletteRepair {
    TPixelGraphic& graphic;
    ~TPaletteRepair() { ExtendPaletteToPixels(graphic); }
};

}  // namespace rastova
