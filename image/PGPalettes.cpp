#include "image/PGPalettes.h"

#include "image/PGColorState.h"
#include "image/PGraphic.h"

#include <algorithm>
#include <cstring>

namespace rastova {

const std::array<TRGB, 16> kSystemColors = {
    RGBValue(0, 0, 0),       RGBValue(128, 0, 0),   RGBValue(0, 128, 0),   RGBValue(128, 128, 0),
    RGBValue(0, 0, 128),     RGBValue(128, 0, 128), RGBValue(0, 128, 128), RGBValue(192, 192, 192),
    RGBValue(128, 128, 128), RGBValue(255, 0, 0),   RGBValue(0, 255, 0),   RGBValue(255, 255, 0),
    RGBValue(0, 0, 255),     RGBValue(255, 0, 255), RGBValue(0, 255, 255), RGBValue(255, 255, 255),
};

namespace {

// Entries 129-251 of the 252-colour palette, as RRGGBB.
constexpr std::uint32_t kSpecial252Tints[123] = {
    0xFFE0FF, 0xE0E0FF, 0xE0FFFF, 0xE0FFE0, 0xFFFFE0, 0xFFE0E0, 0xFFC0E0, 0xE0C0FF, 0xC0E0FF, 0xC0FFE0, 0xE0FFC0,
    0xFFE0C0, 0xE0C0E0, 0xC0C0E0, 0xC0E0E0, 0xC0E0C0, 0xE0E0C0, 0xE0C0C0, 0xFFA0C0, 0xFFA0E0, 0xFFA0FF, 0xE0A0FF,
    0xC0A0FF, 0xA0A0FF, 0xA0C0FF, 0xA0E0FF, 0xA0FFFF, 0xA0FFE0, 0xA0FFC0, 0xA0FFA0, 0xC0FFA0, 0xE0FFA0, 0xFFFFA0,
    0xFFE0A0, 0xFFC0A0, 0xFFA0A0, 0xE0A0C0, 0xE0A0E0, 0xC0A0E0, 0xA0A0E0, 0xA0C0E0, 0xA0E0E0, 0xA0E0C0, 0xA0E0A0,
    0xC0E0A0, 0xE0E0A0, 0xE0C0A0, 0xE0A0A0, 0xFF80A0, 0xFF80E0, 0xE080FF, 0xA080FF, 0x80A0FF, 0x80E0FF, 0x80FFE0,
    0x80FFA0, 0xA0FF80, 0xE0FF80, 0xFFE080, 0xFFA080, 0xC0A0C0, 0xA0A0C0, 0xA0C0C0, 0xA0C0A0, 0xC0C0A0, 0xC0A0A0,
    0xE080A0, 0xE080C0, 0xE080E0, 0xC080E0, 0xA080E0, 0x8080E0, 0x80A0E0, 0x80C0E0, 0x80E0E0, 0x80E0C0, 0x80E0A0,
    0x80E080, 0xA0E080, 0xC0E080, 0xE0E080, 0xE0C080, 0xE0A080, 0xE08080, 0xFF6080, 0xFF60A0, 0xFF60C0, 0xFF60E0,
    0xFF60FF, 0xE060FF, 0xC060FF, 0xA060FF, 0x8060FF, 0x6060FF, 0x6080FF, 0x60A0FF, 0x60C0FF, 0x60E0FF, 0x60FFFF,
    0x60FFE0, 0x60FFC0, 0x60FFA0, 0x60FF80, 0x60FF60, 0x80FF60, 0xA0FF60, 0xC0FF60, 0xE0FF60, 0xFFFF60, 0xFFE060,
    0xFFC060, 0xFFA060, 0xFF8060, 0xFF6060, 0xC080A0, 0xA080C0, 0x80A0C0, 0x80C0A0, 0xA0C080, 0xC0A080, 0xE06080,
    0xE060A0, 0xE060C0,
};

TRGB Gray(int level)
{
    return RGBValue(std::uint8_t(level), std::uint8_t(level), std::uint8_t(level));
}

std::array<TRGB, 252> BuildSpecial252()
{
    std::array<TRGB, 252> palette{};
    std::size_t n = 0;
    for (const TRGB c : kSystemColors)
        palette[n++] = c;
    static constexpr int kLevels[5] = {0, 64, 128, 192, 255};
    for (int r : kLevels)
        for (int g : kLevels)
            for (int b : kLevels) {
                const TRGB c = RGBValue(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
                if (std::find(kSystemColors.begin(), kSystemColors.end(), c) == kSystemColors.end())
                    palette[n++] = c;
            }
    for (int level : {32, 96, 160, 224})
        palette[n++] = Gray(level);
    for (const std::uint32_t rrggbb : kSpecial252Tints)
        palette[n++] = RGBValue(std::uint8_t(rrggbb >> 16), std::uint8_t(rrggbb >> 8), std::uint8_t(rrggbb));
    return palette;
}

std::vector<TRGB> Cube(int levels)
{
    std::vector<TRGB> palette;
    const int top = levels - 1;
    for (int r = 0; r < levels; ++r)
        for (int g = 0; g < levels; ++g)
            for (int b = 0; b < levels; ++b)
                palette.push_back(RGBValue(std::uint8_t((r * 255 + top - 1) / top),
                                           std::uint8_t((g * 255 + top - 1) / top),
                                           std::uint8_t((b * 255 + top - 1) / top)));
    return palette;
}

std::vector<TRGB> GrayRamp(int count)
{
    std::vector<TRGB> palette;
    const int top = count - 1;
    for (int i = 0; i < count; ++i)
        palette.push_back(Gray((i * 255 * 2 + top) / (2 * top)));  // nearest; no ties occur
    return palette;
}

struct TStandardPalettes {
    std::vector<TRGB> none;
    std::vector<TRGB> blackWhite{Gray(0), Gray(255)};
    std::vector<TRGB> sysGray4{Gray(0), Gray(128), Gray(192), Gray(255)};
    std::vector<TRGB> sys16{kSystemColors.begin(), kSystemColors.end()};
    std::vector<TRGB> gray4{Gray(0), Gray(85), Gray(170), Gray(255)};
    std::vector<TRGB> gray16 = GrayRamp(16);
    std::vector<TRGB> gray236 = GrayRamp(236);
    std::vector<TRGB> gray256 = GrayRamp(256);
    std::vector<TRGB> special125 = Cube(5);
    std::vector<TRGB> special216 = Cube(6);
    std::vector<TRGB> special252{Special252Palette().begin(), Special252Palette().end()};
};

const TStandardPalettes& Standard()
{
    static const TStandardPalettes palettes;
    return palettes;
}

bool Equal(const TRGB* entries, int count, const std::vector<TRGB>& palette)
{
    return std::size_t(count) == palette.size() &&
           std::equal(palette.begin(), palette.end(), entries);
}

}  // namespace

const std::array<TRGB, 252>& Special252Palette()
{
    static const std::array<TRGB, 252> palette = BuildSpecial252();
    return palette;
}

const std::vector<TRGB>& StandardPalette(TPaletteIdent ident)
{
    const TStandardPalettes& s = Standard();
    switch (ident) {
    case pBlackWhite: return s.blackWhite;
    case pSysGray4: return s.sysGray4;
    case pSys16: return s.sys16;
    case pGray4: return s.gray4;
    case pGray16: return s.gray16;
    case pGray236: return s.gray236;
    case pGray256: return s.gray256;
    case pSpecial125: return s.special125;
    case pSpecial216: return s.special216;
    case pSpecial252: return s.special252;
    default: return s.none;
    }
}

TPaletteIdent RecognizePalette(const TRGB* entries, int count)
{
    static constexpr TPaletteIdent kOrder[] = {pBlackWhite, pGray4,   pSysGray4,   pGray16,     pGray236,
                                               pGray256,    pSys16,   pSpecial216, pSpecial125, pSpecial252};
    for (const TPaletteIdent ident : kOrder)
        if (Equal(entries, count, StandardPalette(ident)))
            return ident;
    return pUnknown;
}

// ---- the image's palette kind ------------------------------------------------------

void TPixelGraphic::SetPaletteIdent(TPaletteIdent ident)
{
    if (ident == m_paletteIdent)
        return;
    switch (ident) {
    case pUnknown:
        break;
    case pOptimized252Sys16:
    case pSource:
        // Names only: nothing is installed and the kind stays, but the caches
        // are dropped all the same.
        InvalidatePaletteCaches();
        return;
    default: {
        const std::vector<TRGB>& palette = StandardPalette(ident);
        SetPaletteCount(int(palette.size()));
        std::copy(palette.begin(), palette.end(), m_paletteColors.begin());
        break;
    }
    }
    m_paletteIdent = ident;
    m_isGray = ident != pTrueColor &&
               std::all_of(m_paletteColors.begin(), m_paletteColors.end(),
                           [](TRGB c) { return RedOf(c) == GreenOf(c) && GreenOf(c) == BlueOf(c); });
    InvalidatePaletteCaches();
}

void TPixelGraphic::DetectPaletteIdent()
{
    m_isGray = !IsTrueColorFormat() &&
               std::all_of(m_paletteColors.begin(), m_paletteColors.end(),
                           [](TRGB c) { return RedOf(c) == GreenOf(c) && GreenOf(c) == BlueOf(c); });
    const int count = PaletteCount();
    TPaletteIdent ident = RecognizePalette(m_paletteColors.data(), count);
    if (ident == pUnknown && count == 0)
        ident = IsTrueColorFormat() ? pTrueColor : pNone;
    m_paletteIdent = ident;
}

}  // namespace rastova
