// Basic types shared by the whole image library.
#pragma once

#include <cstdint>
#include <functional>

namespace rastova {

// A colour value 0x00BBGGRR: red in the low byte.
using TRGB = std::uint32_t;
using TColor = std::uint32_t;

constexpr TRGB RGBValue(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return TRGB(r) | (TRGB(g) << 8) | (TRGB(b) << 16);
}
constexpr std::uint8_t RedOf(TRGB c) { return std::uint8_t(c); }
constexpr std::uint8_t GreenOf(TRGB c) { return std::uint8_t(c >> 8); }
constexpr std::uint8_t BlueOf(TRGB c) { return std::uint8_t(c >> 16); }
// The raw value of a 32-bit pixel: a colour with its alpha in the top byte.
constexpr std::uint8_t AlphaOf(std::uint32_t value) { return std::uint8_t(value >> 24); }
constexpr std::uint32_t WithAlpha(TRGB c, std::uint8_t alpha) { return (c & 0x00FFFFFFu) | std::uint32_t(alpha) << 24; }

// Pixel formats; the numeric values are stored in files and tables. bc32
// holds blue, green, red and a straight (unassociated) alpha, in that order.
enum TBitCount : std::uint8_t { bc1 = 0, bc4 = 1, bc8 = 2, bc24 = 3, bc32 = 4 };

enum TPaletteIdent : std::uint8_t {
    pNone,
    pTrueColor,
    pUnknown,
    pBlackWhite,
    pSysGray4,
    pSys16,
    pGray4,
    pGray16,
    pGray236,
    pGray256,
    pSpecial125,
    pSpecial216,
    pSpecial252,
    pOptimized252Sys16,
    pSource,
};

enum TPGWarningAction : std::uint8_t { pgwaIgnore, pgwaOKBox, pgwaOKCancelBox, pgwaRaise };

enum TStretchMode : std::uint8_t { smFast = 0, smMedium = 1, smPrecise = 2 };

// Root of everything that can be the Sender of an event.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;
using TPGProgressEvent = std::function<void(TObject* sender, int step, int max, bool& abort)>;

}  // namespace rastova
