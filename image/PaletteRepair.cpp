#include "image/PaletteRepair.h"

#include "image/PackedPixels.h"

#include <algorithm>

namespace rastova {

int MaxPixelIndex(const TPixelGraphic& graphic)
{
    if (graphic.BitCount() == bc24 || graphic.GetEmpty() || graphic.Width() == 0)
        return 0;
    int maxIndex = 0;
    const int width = graphic.Width();
    const TBitCount format = graphic.BitCount();
    for (int y = 0; y < graphic.Height(); ++y) {
        const std::uint8_t* row = graphic.ScanLine(y);
        if (format == bc8) {
            maxIndex = std::max<int>(maxIndex, *std::max_element(row, row + width));
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const int index = int(format == bc4 ? GetPacked4(row, x) : GetPacked1(row, x));
            maxIndex = std::max(maxIndex, index);
        }
    }
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
