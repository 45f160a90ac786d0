#include "image/PaletteRepair.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace rastova {

namespace {

// Largest byte and largest low nibble of a run of bytes: plain loops the
// compiler turns into vector code, for images of hundreds of megabytes.
std::uint8_t MaxByte(const std::uint8_t* p, std::size_t count)
{
    std::uint8_t m = 0;
    for (std::size_t i = 0; i < count; ++i)
        m = std::max(m, p[i]);
    return m;
}

std::uint8_t MaxLowNibble(const std::uint8_t* p, std::size_t count)
{
    std::uint8_t m = 0;
    for (std::size_t i = 0; i < count; ++i)
        m = std::max(m, std::uint8_t(p[i] & 0x0F));
    return m;
}

// The largest value of one row; the padding bits after its last pixel do not count.
int MaxRowIndex(const std::uint8_t* row, int width, TBitCount format)
{
    const auto w = std::size_t(width);
    switch (format) {
    case bc8:
        return MaxByte(row, w);
    case bc4: {
        const int high = MaxByte(row, (w + 1) / 2) >> 4;
        return std::max(high, int(MaxLowNibble(row, w / 2)));
    }
    default: {
        const std::size_t whole = w / 8;
        const int rest = width % 8;
        const bool last = rest > 0 && (row[whole] & (0xFF00 >> rest) & 0xFF) != 0;
        return MaxByte(row, whole) != 0 || last ? 1 : 0;
    }
    }
}

}  // namespace

int MaxPixelIndex(const TPixelGraphic& graphic)
{
    if (graphic.BitCount() == bc24 || graphic.GetEmpty() || graphic.Width() == 0)
        return 0;
    const int highest = (1 << TPixelGraphic::BitCountNumOf(graphic.BitCount())) - 1;
    int maxIndex = 0;
    for (int y = 0; y < graphic.Height() && maxIndex < highest; ++y)
        maxIndex = std::max(maxIndex, MaxRowIndex(graphic.ScanLine(y), graphic.Width(), graphic.BitCount()));
    return maxIndex;
}

void ExtendPaletteToPixels(TPixelGraphic& graphic)
{
    // A palette already as large as the pixel format allows has an entry for
    // every value a pixel can hold.
    if (graphic.BitCount() == bc24 || graphic.PaletteCount() >= graphic.PaletteCapacity() || graphic.Width() == 0)
        return;
    const int maxIndex = MaxPixelIndex(graphic);
    if (maxIndex >= graphic.PaletteCount())
        graphic.SetPaletteCount(maxIndex + 1);  // new entries are black
}

}  // namespace rastova
