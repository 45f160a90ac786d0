// Parts of the bitmap reader that stand on their own: the sliced block read,
// colour bit fields of 16- and 32-bit pixels, and the run-length decoders.
#pragma once

#include <cstdint>

namespace rastova {

class TStream;
class TPixelGraphic;

// Reads count bytes into buffer: one read up to 100 bytes, otherwise ten slices,
// each followed by the graphic's OnProgress (Step 1..10, Max 10, Sender the
// graphic). A short read is not reported, but the bytes that arrived are counted
// into bytesRead when given. Returns true when a handler aborted.
bool ReadChunked(TStream& stream, TPixelGraphic& graphic, std::uint8_t* buffer, std::int64_t count,
                 std::int64_t* bytesRead = nullptr);

// One colour channel of a 16- or 32-bit pixel, prepared from its mask.
struct TBmpBitField {
    std::uint32_t mask = 0;
    int shift = 0;           // left when positive, right when negative
    std::uint32_t low = 0;   // added to every non-zero value
    bool correct = true;     // Correct16BitColors when prepared
    // Corrected 16-bit fields scale to the full range, v x 255 / max rounded
    // (5 bits: (v x 255 + 15) / 31), so their white is 255; 0 elsewhere.
    std::uint32_t max = 0;
    int trailing = 0;
    std::uint8_t Extract(std::uint32_t pixel) const;
};

// A zero mask gives a channel that is always 0: there is nothing to scale.
TBmpBitField PrepareBitField(std::uint32_t mask, bool sixteenBits);

enum class TBmpRle { Rle8, Rle4 };

// Decodes run-length data into graphic, starting at the bottom row. size is the
// number of bytes present (at most declaredSize, the header's biSizeImage, which
// paces the progress events). Pixels outside the image go through SetPixel's
// range rule. Returns true when a progress handler aborted.
// reachedEnd, when given, tells whether the data held its end-of-bitmap code.
bool DecodeBmpRle(TBmpRle kind, const std::uint8_t* data, std::int64_t size, std::int64_t declaredSize,
                  TPixelGraphic& graphic, bool* reachedEnd = nullptr);

// Pixel data that ends before the image is full leaves the rows it does not
// reach as SetSize made them. That is a reader warning: the graphic's
// ReadWarningAction decides whether the image is kept or
// EPGBMPFileFormatReader raised with the same text. Nothing happens when
// present covers needed.
void WarnShortPixelData(const TPixelGraphic& graphic, std::int64_t present, std::int64_t needed);

// Bytes rows need when every row but the last is padded to stride.
std::int64_t PixelBytesNeeded(std::int64_t stride, std::int64_t rowBytes, int rows);

// The graphic's whole pixel block, as stored, through ReadChunked; data that
// ends early is WarnShortPixelData's. Returns true when a handler aborted.
bool ReadUncompressedPixels(TStream& stream, TPixelGraphic& graphic, std::int64_t& bytesRead);

}  // namespace rastova
