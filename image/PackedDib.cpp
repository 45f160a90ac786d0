#include "image/PackedDib.h"

#include "image/BmpCodec.h"
#include "image/ByteOrder.h"
#include "image/ColorProfile.h"
#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PGSettings.h"
#include "image/PaletteRepair.h"
#include "image/Streams.h"

#include <algorithm>
#include <cmath>
#include <array>
#include <limits>
#include <vector>

namespace rastova {

namespace dib {

[[noreturn]] void Fail(const std::string& message)
{
    throw EPGBMPFileFormatReader(kTag + message);
}

[[noreturn]] void FailInvalid(const char* field)
{
    Fail(MessageText(kMsgInvalid, field));
}

bool IsInfoHeaderSize(std::uint32_t size)
{
    return size == kInfoHeaderSize || size == kV2HeaderSize || size == kV3HeaderSize || size == kV4HeaderSize ||
           size == kV5HeaderSize;
}

[[noreturn]] void FailHeaderSize()
{
    Fail(MessageText(kMsgInvalidSizeOf, "BitmapInfoHeader/BitmapCoreHeader"));
}

TCoreHeader ReadCoreHeader(TStream& stream)
{
    std::uint8_t bytes[kCoreHeaderSize];
    stream.ReadBuffer(bytes, sizeof bytes);
    TCoreHeader h;
    h.width = U16LE(bytes + 4);
    h.height = U16LE(bytes + 6);
    h.planes = U16LE(bytes + 8);
    h.bitCount = U16LE(bytes + 10);
    if (h.planes != 1)
        FailInvalid("BitmapCoreHeader.bcPlanes");
    if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 24)
        FailInvalid("BitmapCoreHeader.bcBitCount");
    return h;
}

namespace {

bool CompressionAllowed(const TInfoHeader& h)
{
    switch (h.compression) {
    case kBiRgb: return true;
    case kBiBitFields: return h.bitCount == 16 || h.bitCount == 32;
    // Run-length data is always bottom-up.
    case kBiRle4: return h.bitCount == 4 && h.height >= 0;
    case kBiRle8: return h.bitCount == 8 && h.height >= 0;
    default: return false;
    }
}

}  // namespace

TInfoHeader ReadInfoHeader(TStream& stream)
{
    std::uint8_t bytes[kV5HeaderSize];
    stream.ReadBuffer(bytes, kInfoHeaderSize);
    TInfoHeader h;
    h.headerSize = U32LE(bytes);
    if (!IsInfoHeaderSize(h.headerSize))
        FailHeaderSize();
    stream.ReadBuffer(bytes + kInfoHeaderSize, h.headerSize - kInfoHeaderSize);
    for (std::size_t i = 0; i < h.masks.size(); ++i)
        if (kInfoHeaderSize + 4 * (i + 1) <= h.headerSize)
            h.masks[i] = U32LE(bytes + kInfoHeaderSize + 4 * i);
    if (h.headerSize == kV5HeaderSize && U32LE(bytes + kV5CsType) == kProfileEmbedded) {
        h.profileData = U32LE(bytes + kV5ProfileData);
        h.profileSize = U32LE(bytes + kV5ProfileSize);
    }
    h.width = std::int32_t(U32LE(bytes + 4));
    h.height = std::int32_t(U32LE(bytes + 8));
    h.planes = U16LE(bytes + 12);
    h.bitCount = U16LE(bytes + 14);
    h.compression = U32LE(bytes + 16);
    h.sizeImage = U32LE(bytes + 20);
    h.clrUsed = U32LE(bytes + 32);
    h.xPelsPerMeter = std::int32_t(U32LE(bytes + 24));
    h.yPelsPerMeter = std::int32_t(U32LE(bytes + 28));
    if (h.planes != 1)
        FailInvalid("BitmapInfoHeader.biPlanes");
    static constexpr int kBitCounts[] = {1, 4, 8, 16, 24, 32};
    if (std::find(std::begin(kBitCounts), std::end(kBitCounts), h.bitCount) == std::end(kBitCounts))
        FailInvalid("BitmapInfoHeader.biBitCount");
    if (!CompressionAllowed(h))
        FailInvalid("BitmapInfoHeader.biCompression");
    return h;
}

}  // namespace dib

namespace {

using namespace dib;

// Heights are negative for top-down files; INT32_MIN has no positive twin.
int RowCount(const TInfoHeader& h)
{
    if (h.height == std::numeric_limits<std::int32_t>::min())
        FailInvalid("BitmapInfoHeader.biHeight");
    return h.height < 0 ? -h.height : h.height;
}

TBitCount PixelFormatOf(int bitCount)
{
    return bitCount > 8 ? bc24 : TPixelGraphic::BitCountFromNum(bitCount);
}

void SetPalette(TPixelGraphic& graphic, const std::vector<std::uint8_t>& table, int entrySize)
{
    const int count = int(table.size()) / entrySize;
    graphic.SetPaletteCount(count);
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* e = table.data() + std::size_t(i) * std::size_t(entrySize);
        graphic.SetPaletteColor(i, RGBValue(e[2], e[1], e[0]));
    }
}

// Top-down files: the first stored row becomes the top row. Only the first
// rowsRead stored rows came from the file; the others all hold what SetSize
// gave them, so a pair of two such rows needs no swap.
void FlipRows(TPixelGraphic& graphic, std::int64_t rowsRead)
{
    if (graphic.GetEmpty())
        return;
    const int height = graphic.Height();
    const std::size_t stride = std::size_t(graphic.RowStride());
    const std::int64_t pairs = std::min<std::int64_t>(rowsRead, height / 2);
    // Stored row i is image row height - 1 - i.
    for (std::int64_t i = 0; i < pairs; ++i) {
        std::uint8_t* stored = graphic.ScanLine(height - 1 - int(i));
        std::swap_ranges(stored, stored + stride, graphic.ScanLine(int(i)));
    }
}

void ReadCoreDib(TStream& stream, TPixelGraphic& graphic)
{
    const TCoreHeader h = ReadCoreHeader(stream);
    // The colour table is read before allocating, so a file cut inside it
    // fails without touching the image.
    std::vector<std::uint8_t> table;
    if (h.bitCount <= 8) {
        table.resize(std::size_t(kCoreEntrySize) << h.bitCount);
        stream.ReadBuffer(table.data(), std::int64_t(table.size()));
    }
    CheckImagePixels(h.width, h.height);
    graphic.SetSize(h.width, h.height, PixelFormatOf(h.bitCount));
    if (table.empty())
        graphic.SetPaletteIdent(pTrueColor);
    else
        SetPalette(graphic, table, kCoreEntrySize);
    std::int64_t bytesRead = 0;
    ReadUncompressedPixels(stream, graphic, bytesRead);
}

// Colour table of a palette file. A table longer than the pixel format can use
// (biClrUsed above 2^biBitCount) gives its first entries to the palette and the
// rest is skipped, as long as the whole table is in the stream; a count the
// stream cannot hold is refused rather than read as pixels.
std::vector<std::uint8_t> ReadInfoColorTable(TStream& stream, const TInfoHeader& h, std::int64_t& excessBytes)
{
    const std::int64_t capacity = std::int64_t(1) << h.bitCount;
    const std::int64_t entries = h.clrUsed == 0 ? capacity : std::int64_t(h.clrUsed);
    excessBytes = 0;
    if (entries > capacity) {
        if (entries * kInfoEntrySize > stream.Remaining())
            FailInvalid("BitmapInfoHeader.biClrUsed");
        excessBytes = (entries - capacity) * kInfoEntrySize;
    }
    std::vector<std::uint8_t> table(std::size_t(std::min(entries, capacity) * kInfoEntrySize));
    stream.ReadBuffer(table.data(), std::int64_t(table.size()));
    return table;
}

// 16- and 32-bit rows, converted pixel by pixel. Rows the stream no longer
// holds keep what SetSize gave them.
// With an alpha field the image is 32-bit and each pixel keeps its alpha.
void ReadBitFieldRows(TStream& stream, TPixelGraphic& graphic, const TInfoHeader& h,
                      const std::array<TBmpBitField, kMaskCount>& fields, const TBmpBitField* alpha)
{
    const int width = graphic.Width();
    const int height = graphic.Height();
    if (width == 0 || height == 0)
        return;
    const bool topDown = h.height < 0;
    const int bytesPerPixel = h.bitCount / 8;
    const std::int64_t stride = (std::int64_t(h.bitCount) * width + 31) / 32 * 4;
    std::vector<std::uint8_t> row(std::size_t(std::min(stride, stream.Remaining())));
    std::int64_t present = 0;
    for (int r = 0; r < height; ++r) {
        const std::int64_t got = stream.Read(row.data(), std::int64_t(row.size()));
        present += got;
        const int pixels = int(std::min<std::int64_t>(width, got / bytesPerPixel));
        // Stored first row is the bottom row, unless the file is top-down.
        std::uint8_t* dest = graphic.ScanLine(topDown ? r : height - 1 - r);
        const std::uint8_t* src = row.data();
        const int destBytes = alpha ? 4 : 3;
        for (int x = 0; x < pixels; ++x, src += bytesPerPixel, dest += destBytes) {
            const std::uint32_t p = bytesPerPixel == 2 ? U16LE(src) : U32LE(src);
            dest[0] = fields[2].Extract(p);
            dest[1] = fields[1].Extract(p);
            dest[2] = fields[0].Extract(p);
            if (alpha)
                dest[3] = alpha->Extract(p);
        }
        if (graphic.Progress(&graphic, r, height))
            return;
        if (got < stride)
            break;
    }
    WarnShortPixelData(graphic, present, PixelBytesNeeded(stride, std::int64_t(bytesPerPixel) * width, height));
}

std::array<TBmpBitField, kMaskCount> ReadBitFields(TStream& stream, const TInfoHeader& h)
{
    std::array<std::uint32_t, kMaskCount> masks{};
    if (h.compression == kBiBitFields && h.headerSize >= kV2HeaderSize) {
        masks = {h.masks[0], h.masks[1], h.masks[2]};  // the longer headers hold them
    } else if (h.compression == kBiBitFields) {
        std::uint8_t bytes[kMaskCount * 4];
        stream.ReadBuffer(bytes, sizeof bytes);
        for (int i = 0; i < kMaskCount; ++i)
            masks[std::size_t(i)] = U32LE(bytes + 4 * i);
    } else if (h.bitCount == 16) {
        masks = {0x7C00, 0x03E0, 0x001F};
    } else {
        masks = {0xFF0000, 0xFF00, 0xFF};
    }
    std::array<TBmpBitField, kMaskCount> fields;
    for (int i = 0; i < kMaskCount; ++i)
        fields[std::size_t(i)] = PrepareBitField(masks[std::size_t(i)], h.bitCount == 16);
    return fields;
}

// Run-length data places at most 255 pixels per two bytes; end-of-line and
// delta codes only move on. An image far larger than its data could ever fill
// would cost the allocation and every later step over an empty canvas, so it is
// refused; images up to kAlwaysLoaded pixels still load what a cut file holds.
constexpr std::int64_t kAlwaysLoaded = std::int64_t(1) << 24;

[[noreturn]] void RefuseUnfillable(int width, int height)
{
    throw EPGBMPFileFormatReader("BMP: Pixel data too short for " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels");
}

void CheckRunLengthCanFill(TStream& stream, int width, int height)
{
    constexpr std::int64_t kPixelsPerByte = 128;
    const std::int64_t pixels = std::int64_t(width) * height;
    if (pixels > kAlwaysLoaded && pixels > stream.Remaining() * kPixelsPerByte)
        RefuseUnfillable(width, height);
}

// Uncompressed rows likewise: a cut file loads what it holds, but a large image
// with less than a 64th of its rows present is refused before its canvas is made.
void CheckRowsCanFill(TStream& stream, int width, int height, int bitCount)
{
    constexpr std::int64_t kLeastShare = 64;
    const std::int64_t rowBytes = (std::int64_t(width) * bitCount + 31) / 32 * 4;
    if (std::int64_t(width) * height > kAlwaysLoaded && stream.Remaining() * kLeastShare < rowBytes * height)
        RefuseUnfillable(width, height);
}

// Only the bytes actually in the stream are buffered; biSizeImage still paces
// the progress events.
void ReadRunLengthData(TStream& stream, TPixelGraphic& graphic, const TInfoHeader& h)
{
    const std::int64_t declared = h.sizeImage;
    std::vector<std::uint8_t> data(std::size_t(std::min(declared, stream.Remaining())));
    if (ReadChunked(stream, graphic, data.data(), std::int64_t(data.size())))
        return;
    bool reachedEnd = false;
    const bool aborted = DecodeBmpRle(h.compression == kBiRle8 ? TBmpRle::Rle8 : TBmpRle::Rle4, data.data(),
                                      std::int64_t(data.size()), declared, graphic, &reachedEnd);
    // Data that holds its end code is whole, whatever biSizeImage claimed.
    if (!aborted && !reachedEnd)
        WarnShortPixelData(graphic, std::int64_t(data.size()), declared);
}

// An embedded profile placed between the header (and colour table) and the
// pixels is passed over; one after the pixels is simply never reached.
void SkipEmbeddedProfile(TStream& stream, const TInfoHeader& h, std::int64_t headerStart)
{
    if (h.profileSize > 0 && headerStart + std::int64_t(h.profileData) == stream.Position())
        stream.Seek(std::min<std::int64_t>(h.profileSize, stream.Remaining()), soCurrent);
}

// The resolution and an embedded profile wherever it lies; the stream is put back.
void ReadDibMetadata(TStream& stream, TPixelGraphic& graphic, const TInfoHeader& h, std::int64_t headerStart)
{
    TImageMetadata& metadata = graphic.Metadata();
    if (h.xPelsPerMeter > 0 && h.yPelsPerMeter > 0)
        metadata.Resolution = TImageResolution::PerMetre(h.xPelsPerMeter, h.yPelsPerMeter);
    if (h.profileSize == 0)
        return;
    const std::int64_t position = stream.Position();
    const std::int64_t at = headerStart + std::int64_t(h.profileData);
    TBytes profile;
    if (h.profileSize <= kMaxMetadataBlock && at <= stream.Size() && h.profileSize <= stream.Size() - at) {
        profile.resize(h.profileSize);
        stream.SetPosition(at);
        stream.ReadBuffer(profile.data(), std::int64_t(profile.size()));
    }
    stream.SetPosition(position);
    if (!AcceptProfile(metadata, std::move(profile)))
        ReadWarning<EPGBMPFileFormatReader>(graphic, kTag + std::string(kProfileDroppedText), "BMP-Warning");
}

void ReadInfoDib(TStream& stream, TPixelGraphic& graphic)
{
    const std::int64_t headerStart = stream.Position();
    const TInfoHeader h = ReadInfoHeader(stream);
    const int height = RowCount(h);
    std::array<TBmpBitField, kMaskCount> fields{};
    // A 32-bit image with an alpha mask keeps its alpha.
    const bool hasAlpha = h.bitCount == 32 && h.compression == kBiBitFields && h.headerSize >= kV3HeaderSize &&
                          h.masks[3] != 0;
    const TBmpBitField alpha = hasAlpha ? PrepareBitField(h.masks[3], false) : TBmpBitField{};
    if (h.bitCount > 8) {
        // The masks come first so that a file cut inside them allocates nothing.
        if (h.bitCount == 16 || h.bitCount == 32)
            fields = ReadBitFields(stream, h);
        CheckImagePixels(h.width, height);
        CheckRowsCanFill(stream, h.width, height, h.bitCount);
        graphic.SetSize(h.width, height, hasAlpha ? bc32 : bc24);
        graphic.SetPaletteIdent(pTrueColor);
        if (h.clrUsed > 0)
            stream.Seek(std::int64_t(h.clrUsed) * kInfoEntrySize, soCurrent);
    } else {
        std::int64_t excessBytes = 0;
        const std::vector<std::uint8_t> table = ReadInfoColorTable(stream, h, excessBytes);
        CheckImagePixels(h.width, height);
        if (h.compression == kBiRle8 || h.compression == kBiRle4)
            CheckRunLengthCanFill(stream, h.width, height);
        else
            CheckRowsCanFill(stream, h.width, height, h.bitCount);
        graphic.SetSize(h.width, height, PixelFormatOf(h.bitCount));
        SetPalette(graphic, table, kInfoEntrySize);
        stream.Seek(excessBytes, soCurrent);
    }
    SkipEmbeddedProfile(stream, h, headerStart);

    if (h.compression == kBiRle8 || h.compression == kBiRle4) {
        ReadRunLengthData(stream, graphic, h);
    } else if (h.bitCount == 16 || h.bitCount == 32) {
        // places top-down rows itself
        ReadBitFieldRows(stream, graphic, h, fields, hasAlpha ? &alpha : nullptr);
    } else {
        std::int64_t bytesRead = 0;
        ReadUncompressedPixels(stream, graphic, bytesRead);
        if (h.height < 0 && graphic.RowStride() > 0)
            FlipRows(graphic, (bytesRead + graphic.RowStride() - 1) / graphic.RowStride());
    }
    ReadDibMetadata(stream, graphic, h, headerStart);
}

}  // namespace

// ---- packed DIB coding of the raster image ---------------------------------------------------

void TPixelGraphic::ReadDIB(TStream& stream, bool coreHeader)
{
    TProgressScope progress(*this, this);
    // Pixels naming entries beyond a short colour table show black.
    TPaletteRepair repair{*this};
    if (coreHeader)
        ReadCoreDib(stream, *this);
    else
        ReadInfoDib(stream, *this);
}

void TPixelGraphic::WriteDIB(TStream& stream)
{
    // An image whose allocation failed has a size but no pixels to write.
    if (GetEmpty() && ImageSize() > 0)
        throw EPGEmpty(MessageText(kMsgIsEmpty, "PixelGraphic"));
    const int paletteCount = PaletteCount();
    std::vector<std::uint8_t> head(kInfoHeaderSize + std::size_t(kInfoEntrySize) * std::size_t(paletteCount), 0);
    std::uint8_t* h = head.data();
    PutU32LE(h + 0, kInfoHeaderSize);
    PutU32LE(h + 4, std::uint32_t(Width()));
    PutU32LE(h + 8, std::uint32_t(Height()));
    PutU16LE(h + 12, 1);
    PutU16LE(h + 14, std::uint32_t(BitCountNum()));
    PutU32LE(h + 16, kBiRgb);
    PutU32LE(h + 20, std::uint32_t(ImageSize()));
    // The resolution travels when the image came with one; else the fields stay 0.
    if (Metadata().Resolution.Known() && Metadata().Resolution.Unit != ruNone) {
        PutU32LE(h + 24, std::uint32_t(std::lround(Metadata().Resolution.XPerMetre())));
        PutU32LE(h + 28, std::uint32_t(std::lround(Metadata().Resolution.YPerMetre())));
    }
    PutU32LE(h + 32, std::uint32_t(paletteCount));
    for (int i = 0; i < paletteCount; ++i) {
        const TRGB c = PaletteColors()[i];
        std::uint8_t* e = h + kInfoHeaderSize + kInfoEntrySize * i;
        e[0] = BlueOf(c);
        e[1] = GreenOf(c);
        e[2] = RedOf(c);
    }
    stream.WriteBuffer(head.data(), std::int64_t(head.size()));
    stream.WriteBuffer(Bits(), ImageSize());
}

// ---- clipboard --------------------------------------------------------------------------

void TPixelGraphic::LoadFromClipboardFormat(std::uint32_t format, const std::uint8_t* data, std::size_t size,
                                            std::uint32_t)
{
    if ((format != CF_BITMAP && format != CF_DIB) || data == nullptr)
        throw EPGUnknownClipboardFormat(MessageText(kMsgUnknownClipboardFormat));
    {
        TUpdateBracket bracket(*this);
        TReadOnlyMemoryStream stream(data, size);
        ReadDIB(stream, false);
    }
    SetGamma(DisplayGamma);
    DetectPaletteIdent();
}

void TPixelGraphic::SaveToClipboardFormat(std::uint32_t& format, std::vector<std::uint8_t>& data,
                                          std::uint32_t& palette)
{
    TMemoryStream stream;
    WriteDIB(stream);
    std::vector<std::uint8_t> block(stream.Data());
    const std::size_t blockSize = std::size_t(PaletteCount()) * 4 + std::size_t(ImageSize()) + 58;
    if (block.size() < blockSize)
        block.resize(blockSize, 0);
    data = std::move(block);
    format = CF_DIB;
    palette = 0;
}

}  // namespace rastova
