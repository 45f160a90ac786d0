#include "image/BmpCodec.h"

#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PGSettings.h"
#include "image/PGraphic.h"
#include "image/Streams.h"

#include <algorithm>
#include <bit>
#include <string>

namespace rastova {

bool ReadChunked(TStream& stream, TPixelGraphic& graphic, std::uint8_t* buffer, std::int64_t count,
                 std::int64_t* bytesRead)
{
    constexpr int kSlices = 10;
    std::int64_t total = 0;
    struct TCount {
        std::int64_t& total;
        std::int64_t* out;
        ~TCount()
        {
            if (out)
                *out = total;
        }
    } report{total, bytesRead};
    if (count <= 100) {
        total += std::max<std::int64_t>(stream.Read(buffer, count), 0);
        return false;
    }
    const std::int64_t slice = count / kSlices;
    for (int step = 1; step < kSlices; ++step) {
        total += std::max<std::int64_t>(stream.Read(buffer, slice), 0);
        buffer += slice;
        if (graphic.Progress(&graphic, step, kSlices))
            return true;
    }
    total += std::max<std::int64_t>(stream.Read(buffer, count - (kSlices - 1) * slice), 0);
    return graphic.Progress(&graphic, kSlices, kSlices);
}

// ---- bit fields ------------------------------------------------------------------------

std::uint8_t TBmpBitField::Extract(std::uint32_t pixel) const
{
    const std::uint64_t value = pixel & mask;
    if (value == 0 && (correct || mask == 0))
        return 0;
    if (max != 0)
        return std::uint8_t(((value >> trailing) * 255 + max / 2) / max);
    const std::uint64_t scaled = (shift >= 0 ? value << shift : value >> -shift) + low;
    return std::uint8_t(std::min<std::uint64_t>(scaled, 255));
}

TBmpBitField PrepareBitField(std::uint32_t mask, bool sixteenBits)
{
    TBmpBitField field;
    if (mask == 0)
        return field;
    field.mask = mask;
    field.correct = Settings().Correct16BitColors;
    const int trailing = std::countr_zero(mask);
    const std::uint32_t bits = mask >> trailing;
    // bits is odd, so at most seven shifts bring one of its bits to bit 7.
    int k = 0;
    while (((std::uint64_t(bits) << k) & 0x80) == 0)
        ++k;
    field.shift = k - trailing;
    field.low = sixteenBits && field.correct ? (1u << k) : 0;
    if (sixteenBits && field.correct) {
        field.max = bits;
        field.trailing = trailing;
    }
    return field;
}

// ---- run-length data ---------------------------------------------------------------------

namespace {

class TRleTarget {
public:
    explicit TRleTarget(TPixelGraphic& graphic)
        : m_graphic(graphic), m_width(graphic.Width()), m_height(graphic.Height())
    {
    }

    std::int64_t Width() const { return m_width; }

    // Positions run far outside the image on hostile data; SetPixel gets (-1, -1)
    // for them so that it applies its own out-of-range rule.
    void Put(std::int64_t x, std::int64_t y, std::uint32_t value)
    {
        const bool inside = x >= 0 && x < m_width && y >= 0 && y < m_height;
        m_graphic.SetPixel(inside ? int(x) : -1, inside ? int(y) : -1, value);
    }

private:
    TPixelGraphic& m_graphic;
    std::int64_t m_width;
    std::int64_t m_height;
};

constexpr std::uint8_t kEscape = 0;
constexpr std::uint8_t kEndOfLine = 0;
constexpr std::uint8_t kEndOfBitmap = 1;
constexpr std::uint8_t kDelta = 2;

std::uint32_t Nibble(std::uint8_t byte, bool high)
{
    return high ? std::uint32_t(byte >> 4) : std::uint32_t(byte & 0x0F);
}

// An encoded run: count pixels of one value, or of two alternating nibbles in RLE4.
void PutEncodedRun(TRleTarget& target, bool rle4, std::int64_t x, std::int64_t y, int count, std::uint8_t value)
{
    for (int i = 0; i < count; ++i) {
        if (!rle4)
            target.Put(x + i, y, value);
        else if (x + i < target.Width())
            target.Put(x + i, y, Nibble(value, (i & 1) == 0));
    }
}

// An absolute run of m pixels whose escape starts at pos; returns the position
// after it. Data cut short ends it at the last byte present.
std::int64_t PutAbsoluteRun(TRleTarget& target, bool rle4, const std::uint8_t* data, std::int64_t size, std::int64_t pos,
                            std::int64_t x, std::int64_t y, int m)
{
    if (!rle4) {
        const std::int64_t present = std::min<std::int64_t>(m, size - (pos + 2));
        for (std::int64_t i = 0; i < present; ++i)
            target.Put(x + i, y, data[pos + 2 + i]);
        pos += m + 2;
    } else {
        for (int k = 1; k <= m; ++k) {
            const std::int64_t at = pos + 1 + (k + 1) / 2;
            if (at >= size)
                break;
            if (x + k - 1 < target.Width())
                target.Put(x + k - 1, y, Nibble(data[at], (k & 1) == 1));
        }
        pos += (m + 1) / 2 + 2;
    }
    return pos + (pos & 1);  // absolute runs are padded to a 16-bit boundary
}

}  // namespace

bool DecodeBmpRle(TBmpRle kind, const std::uint8_t* data, std::int64_t size, std::int64_t declaredSize,
                  TPixelGraphic& graphic, bool* reachedEnd)
{
    if (reachedEnd)
        *reachedEnd = false;
    TRleTarget target(graphic);
    const bool rle4 = kind == TBmpRle::Rle4;
    // Data under 10 bytes has no tenth to report; it is decoded without events.
    const std::int64_t progressStep = declaredSize / 10;
    std::int64_t x = 0;
    std::int64_t y = graphic.Height() - 1;
    std::int64_t pos = 0;
    while (pos + 1 < size) {
        const std::uint8_t count = data[pos];
        const std::uint8_t value = data[pos + 1];
        if (count != kEscape) {
            PutEncodedRun(target, rle4, x, y, count, value);
            x += count;
            pos += 2;
        } else if (value == kEndOfLine) {
            x = 0;
            --y;
            pos += 2;
        } else if (value == kEndOfBitmap) {
            if (reachedEnd)
                *reachedEnd = true;
            break;
        } else if (value == kDelta) {
            if (pos + 3 >= size)
                break;
            x += data[pos + 2];
            y -= data[pos + 3];
            pos += 4;
        } else {
            pos = PutAbsoluteRun(target, rle4, data, size, pos, x, y, value);
            x += value;
        }
        if (progressStep > 0 && pos % progressStep == 0 && graphic.Progress(&graphic, int(pos / progressStep), 10))
            return true;
    }
    return false;
}

void WarnShortPixelData(const TPixelGraphic& graphic, std::int64_t present, std::int64_t needed)
{
    if (present >= needed)
        return;
    ReadWarning<EPGBMPFileFormatReader>(
        graphic, "BMP: Pixel data ends after " + std::to_string(present) + " of " + std::to_string(needed) + " bytes",
        "BMP " + MessageText(kMsgWarning));
}

std::int64_t PixelBytesNeeded(std::int64_t stride, std::int64_t rowBytes, int rows)
{
    return rows > 0 && rowBytes > 0 ? stride * (rows - 1) + rowBytes : 0;
}

bool ReadUncompressedPixels(TStream& stream, TPixelGraphic& graphic, std::int64_t& bytesRead)
{
    if (ReadChunked(stream, graphic, graphic.Bits(), graphic.ImageSize(), &bytesRead))
        return true;
    const std::int64_t rowBytes = (std::int64_t(graphic.BitCountNum()) * graphic.Width() + 7) / 8;
    WarnShortPixelData(graphic, bytesRead, PixelBytesNeeded(graphic.RowStride(), rowBytes, graphic.Height()));
    return false;
}

}  // namespace rastova
