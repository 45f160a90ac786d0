// Colour conversion machinery shared by the converting copies, the optimal
// palette and the geometric operations. Internal to the image core.
#pragma once

#include "image/PGColorState.h"
#include "image/PGColorTables.h"
#include "image/PGraphic.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace rastova {

// Access to the image fields the conversion work state keeps current.
struct TColorAccess {
    static void SetIsGray(TPixelGraphic& image, bool value) { image.m_isGray = value; }
};

inline int GrayValueOf(int r, int g, int b, bool weighted)
{
    return weighted ? (b * 342 + g * 1761 + r * 897) / 1000 : r + g + b;
}

// Nearest entry by plain squared distance; the first of equally near entries wins.
int ExactNearestIndex(const TRGB* palette, int count, int r, int g, int b);

// ---- error diffusion ------------------------------------------------------------------
void DitherBegin(TPixelGraphic& image);
void DitherEnd(TPixelGraphic& image);
void DitherNextRow(TPixelGraphic& image);
void DitherPixel(TPixelGraphic& image, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b);

// The error limit L and soft flag S DitherBegin uses for an image.
void DitherLimit(const TPixelGraphic& image, int& limit, bool& soft);
// T[e] for e = -255..255 at index e + 255.
std::vector<std::int32_t> BuildErrorLimitTable(int limit, bool soft);

// DitherBegin on entry when `dither`, else DitherEnd; DitherEnd on every exit.
class TDitherScope {
public:
    TDitherScope(TPixelGraphic& image, bool dither);
    ~TDitherScope();
    TDitherScope(const TDitherScope&) = delete;
    TDitherScope& operator=(const TDitherScope&) = delete;

private:
    TPixelGraphic& m_image;
};

// ---- reading source colours -------------------------------------------------------------

// The colours a source's pixel values stand for, as GetColor sees them.
struct TSourcePalette {
    std::uint8_t Bgr[256 * 3] = {};
    int ValidCount = 0;  // values from here on raise EPGInvalidPaletteIndex in GetColor
    explicit TSourcePalette(const TPixelGraphic& source);
};

// Blue, green, red of the source columns x0..x1 of row y into bgr. False when a
// pixel value lies outside the palette (GetColor would raise); bgr is then partial.
bool DecodeRow(const TPixelGraphic& source, const TSourcePalette& palette, int y, int x0, int x1,
               std::uint8_t* bgr);

// ---- 32-bit pixels ----------------------------------------------------------------------

// Blue, green, red of count 32-bit pixels, each laid over the background.
void FlattenRow(const std::uint8_t* bgra, int count, TRGB background, std::uint8_t* bgr);
// count colours stored as opaque 32-bit pixels; skip as in TRowStore::Store.
void OpaqueRow(const std::uint8_t* bgr, int count, std::uint8_t* bgra, const std::uint8_t* skip);

// ---- storing colours into a target ------------------------------------------------------

// Stores colours into the target exactly as SetColor (24-bit target or no
// dithering) or DitherPixel (palette target with dithering) would, pixel by
// pixel in serpentine order, with the palette lookup and error diffusion
// specialised per palette kind. Create it after DitherBegin.
class TRowStore {
public:
    TRowStore(TPixelGraphic& target, bool dither);

    // Columns x0..x1 of row y: left to right on even rows, right to left on odd
    // ones. bgr holds blue, green, red of column x at 3 (x - x0); skip is null or
    // holds one flag per column at (x - x0), nonzero leaving that pixel alone.
    void Store(int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip = nullptr);

    // One pixel, through the image's own per-pixel operations.
    void StorePixel(int x, int y, TRGB color);

    // Columns x0..x1 of row y in the same order as Store, pixel by pixel, each
    // stored before the next colour is asked for: colorOf(x) gives the colour
    // of column x, or nothing to leave it alone. The defined order, for
    // sources that are the target and for failures that must happen at their pixel.
    template <class TColorOf>
    void StorePixels(int y, int x0, int x1, TColorOf colorOf)
    {
        const bool odd = (y & 1) != 0;
        for (int k = x0; k <= x1; ++k) {
            const int x = odd ? x0 + x1 - k : k;
            if (const std::optional<TRGB> color = colorOf(x))
                StorePixel(x, y, *color);
        }
    }

    using TRowFunction = void (*)(TRowStore& store, int y, const std::uint8_t* bgr, int x0, int x1,
                                  const std::uint8_t* skip);

    // Read by the specialised row functions.
    TPixelGraphic& Target;
    bool Dither;
    bool Weighted = true;
    const TRGB* Palette = nullptr;
    int PaletteCount = 0;
    std::vector<std::uint8_t> Indices;
    // Limited error of an accumulated error a (sixteenths), T[round(a / 16)],
    // at a + kMaxAccumulatedError. Every entry of an error row sums at most
    // 16 shares of an error of at most 255.
    static constexpr int kMaxAccumulatedError = 16 * 255;
    std::vector<std::int16_t> LimitedError;
    // For gray palettes whose lookup keeps no state: for a corrected gray
    // g + 255 (before clamping, g = -255..510), the index chosen and the error
    // left, packed as error x 256 + index.
    std::vector<std::int32_t> GrayQuantize;

private:
    void StoreGeneric(int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip);
    TRowFunction m_row = nullptr;  // null: per pixel through the image
};

// Writes palette indices of columns x0..x1 (index of x at x - x0) into a row of
// a 1-, 4- or 8-bit image with SetPixel's meaning.
void PackIndices(std::uint8_t* row, TBitCount bitCount, const std::uint8_t* indices, int x0, int x1,
                 const std::uint8_t* skip);

}  // namespace rastova
