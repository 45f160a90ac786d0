// The 32-bit format's own work: flattening alpha onto a background, opaque
// rows into it, and the alpha-aware resampling copy.
#include "image/AlphaBlend.h"
#include "image/PGColorInternal.h"

#include <algorithm>
#include <cstring>

namespace rastova {

void FlattenRow(const std::uint8_t* bgra, int count, TRGB background, std::uint8_t* bgr)
{
    const unsigned back[3] = {BlueOf(background), GreenOf(background), RedOf(background)};
    for (int k = 0; k < count; ++k, bgra += 4, bgr += 3) {
        const unsigned a = bgra[3];
        if (a == 255) {
            std::memcpy(bgr, bgra, 3);
            continue;
        }
        for (int c = 0; c < 3; ++c)
            bgr[c] = OverBackground(bgra[c], a, back[c]);
    }
}

void OpaqueRow(const std::uint8_t* bgr, int count, std::uint8_t* bgra, const std::uint8_t* skip)
{
    for (int k = 0; k < count; ++k, bgr += 3, bgra += 4) {
        if (skip && skip[k])
            continue;
        std::memcpy(bgra, bgr, 3);
        bgra[3] = 255;
    }
}

void TPixelGraphic::FlattenAlpha()
{
    if (m_bitCount != bc32)
        return;
    TPixelGraphic flat;
    flat.SetSize(m_width, m_height, bc24);
    const TRGB background = GetBackGroundColor();
    for (int y = 0; y < m_height && !GetEmpty(); ++y)
        FlattenRow(ScanLine(y), m_width, background, flat.ScanLine(y));
    // The pixels change hands; every setting of this image stays.
    BeginUpdate();
    struct TEnd {
        TPixelGraphic& g;
        ~TEnd() { g.EndUpdate(); }
    } end{*this};
    SetSize(m_width, m_height, bc24);
    if (!GetEmpty())
        std::memcpy(Bits(), flat.Bits(), std::size_t(ImageSize()));
    SetBackGroundColor(background);
}

bool TPixelGraphic::AnyTranslucentPixel() const
{
    if (m_bitCount != bc32 || GetEmpty())
        return false;
    for (int y = 0; y < m_height; ++y) {
        const std::uint8_t* row = ScanLine(y);
        unsigned all = 255;
        for (int x = 0; x < m_width; ++x)
            all &= row[4 * std::size_t(x) + 3];
        if (all != 255)
            return true;
    }
    return false;
}

}  // namespace rastova
