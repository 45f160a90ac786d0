// The standard palettes and their recognition.
#pragma once

#include "image/PGTypes.h"

#include <array>
#include <vector>

namespace rastova {

// The 16 system colours, in their fixed order.
extern const std::array<TRGB, 16> kSystemColors;

// Entries 0-15 system colours, then the rest of the five-level cube, four grays
// and 123 light tints.
const std::array<TRGB, 252>& Special252Palette();

// The entries a standard palette kind installs; empty for pNone and pTrueColor.
// pUnknown, pOptimized252Sys16 and pSource have no entries of their own.
const std::vector<TRGB>& StandardPalette(TPaletteIdent ident);

// The kind a palette is recognised as (never pTrueColor/pNone/pUnknown; pUnknown
// is returned when no standard palette matches).
TPaletteIdent RecognizePalette(const TRGB* entries, int count);

}  // namespace rastova
