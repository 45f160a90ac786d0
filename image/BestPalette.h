// The best palette of up to N colours for an image: variance-minimising cuts of
// the colour histogram (Wu's method) refined by a few k-means passes, so that
// the palette comes close to the least squared error of any N colours. Slower
// than the median cut, and better: the choice of `--quantizer best`.
#pragma once

#include "image/PGTypes.h"

#include <vector>

namespace rastova {

class TPixelGraphic;

// Up to colorCount (1..256) colours for source; fewer when the source has
// fewer colours, which it then keeps exactly. Deterministic.
std::vector<TRGB> BestPaletteColors(const TPixelGraphic& source, int colorCount);

// Installs BestPaletteColors as the palette of target (a palette image).
void CreateBestPalette(TPixelGraphic& target, const TPixelGraphic& source, int colorCount);

// Copies source into target (a palette image of the same size) with Floyd-Steinberg
// error diffusion onto the exactly nearest palette entries. The general copy
// looks colours up in a cache of 5-6-5 bits, which costs a close palette
// several decibels.
void DitherToBestPalette(const TPixelGraphic& source, TPixelGraphic& target);

}  // namespace rastova
