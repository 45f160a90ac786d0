#include "formats/Pcx.h"

#include "image/ByteOrder.h"
#include "formats/PcxCodec.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PackedPixels.h"
#include "image/Streams.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace rastova {

namespace {

const char* const kTag = "PCX: ";
constexpr int kHeaderSize = 128;
constexpr std::uint8_t kManufacturer = 0x0A;
constexpr int kHeaderColorMap = 16;
constexpr int kPaletteBlockSize = 769;  // marker byte and 256 red, green, blue entries
constexpr std::uint8_t kPaletteMarker = 12;
constexpr std::uint8_t kRunFlags = 0xC0;
constexpr std::uint8_t kRunLength = 0x3F;

[[noreturn]] void Fail(const std::string& message)
{
    throw EPGPCXFileFormatReader(kTag + message);
}

struct TPcxHeader {
    int version = 0;
    int bitsPerPixel = 0;
    int xMin = 0;
    int yMin = 0;
    int xMax = 0;
    int yMax = 0;
    std::uint8_t colorMap[48] = {};
    int reserved = 0;
    int planes = 0;
    int bytesPerLine = 0;
    int paletteInfo = 0;

    int Width() const { return xMax - xMin + 1; }
    int Height() const { return yMax - yMin + 1; }
};

// A file shorter than the header would leave fields undefined: refused.
TPcxHeader ReadHeader(TStream& stream)
{
    std::uint8_t b[kHeaderSize];
    if (stream.Read(b, kHeaderSize) != kHeaderSize)
        Fail(MessageText(kMsgUnknownSubformat));
    TPcxHeader h;
    h.version = b[1];
    h.bitsPerPixel = b[3];
    h.xMin = std::int16_t(U16LE(b + 4));
    h.yMin = std::int16_t(U16LE(b + 6));
    h.xMax = std::int16_t(U16LE(b + 8));
    h.yMax = std::int16_t(U16LE(b + 10));
    std::memcpy(h.colorMap, b + kHeaderColorMap, sizeof h.colorMap);
    h.reserved = b[64];
    h.planes = b[65];
    h.bytesPerLine = U16LE(b + 66);
    h.paletteInfo = U16LE(b + 68);
    return h;
}

void CheckPaletteInfo(const TPcxHeader& h)
{
    if (h.paletteInfo != 1 || h.reserved != 0)
        Fail(MessageText(kMsgUnknownSubformat));
}

TBitCount PixelFormatOf(const TPcxHeader& h)
{
    if (h.bitsPerPixel == 1 && h.planes == 1)
        return bc1;
    if (h.bitsPerPixel == 1 && h.planes == 4)
        return bc4;
    if (h.bitsPerPixel == 8 && h.planes == 1)
        return bc8;
    if (h.bitsPerPixel == 8 && h.planes == 3)
        return bc24;
    Fail(MessageText(kMsgUnknownSubformat));
}

// The 256-colour palette is the last 769 bytes of the file; the stream is put
// back where it was on every path.
void ReadEndPalette(TStream& stream, TPixelGraphic& graphic)
{
    graphic.SetPaletteCount(256);
    const std::int64_t back = stream.Position();
    const std::int64_t size = stream.Size();
    std::uint8_t marker = 0;
    if (size >= kPaletteBlockSize) {
        stream.SetPosition(size - kPaletteBlockSize);
        if (stream.Read(&marker, 1) != 1)
            marker = 0;
    }
    if (marker != kPaletteMarker) {
        stream.SetPosition(back);
        Fail(MessageText(kMsgUnknownSubformat));
    }
    std::uint8_t entries[3 * 256];
    stream.ReadBuffer(entries, sizeof entries);
    for (int i = 0; i < 256; ++i)
        graphic.SetPaletteColor(i, RGBValue(entries[3 * i], entries[3 * i + 1], entries[3 * i + 2]));
    stream.SetPosition(back);
}

void SetPalette(TStream& stream, TPixelGraphic& graphic, const TPcxHeader& h)
{
    switch (graphic.BitCount()) {
    case bc1:
        graphic.SetPaletteCount(2);
        graphic.SetPaletteColor(0, RGBValue(0, 0, 0));
        graphic.SetPaletteColor(1, RGBValue(255, 255, 255));
        break;
    case bc4:
        if (h.version == 3) {
            graphic.SetPaletteIdent(pSys16);
        } else {
            graphic.SetPaletteCount(16);
            for (int i = 0; i < 16; ++i)
                graphic.SetPaletteColor(i, RGBValue(h.colorMap[3 * i], h.colorMap[3 * i + 1], h.colorMap[3 * i + 2]));
        }
        break;
    case bc8: ReadEndPalette(stream, graphic); break;
    case bc24:
    case bc32: graphic.SetPaletteIdent(pTrueColor); break;
    }
}

// Bytes one plane of a row needs for the width.
std::int64_t PlaneBytesNeeded(TBitCount bitCount, int width)
{
    return bitCount == bc1 || bitCount == bc4 ? (std::int64_t(width) + 7) / 8 : std::int64_t(width);
}

// A run of two bytes gives at most 63 bytes, so a scan line of L bytes takes at
// least min(L, 2 * ceil(L / 63)) bytes of the file.
std::int64_t MinimumDataBytes(std::int64_t lineLength, std::int64_t height)
{
    const std::int64_t perLine = std::min(lineLength, 2 * ((lineLength + kRunLength - 1) / kRunLength));
    return perLine * height;
}

void MoveScanLine(const std::uint8_t* line, int length, const TPcxHeader& h, TPixelGraphic& graphic, int y)
{
    const int width = graphic.Width();
    std::uint8_t* row = graphic.ScanLine(y);
    switch (graphic.BitCount()) {
    case bc1: {
        const int count = std::min(length, graphic.RowStride());
        for (int j = 0; j < count; ++j) {
            // Bits of the last partial byte beyond the width are cleared.
            const std::uint8_t mask = j == width / 8 ? std::uint8_t(0xFF << (8 - width % 8)) : std::uint8_t(0xFF);
            row[j] = line[j] & mask;
        }
        break;
    }
    case bc4: {
        const int bpl = h.bytesPerLine;
        for (int x = 0; x < width; ++x) {
            const int k = x / 8;
            const int bit = 7 - x % 8;
            const int value = ((line[k] >> bit) & 1) | ((line[bpl + k] >> bit) & 1) << 1 |
                              ((line[2 * bpl + k] >> bit) & 1) << 2 | ((line[3 * bpl + k] >> bit) & 1) << 3;
            SetPacked4(row, x, unsigned(value));
        }
        break;
    }
    case bc8: std::memcpy(row, line, std::size_t(width)); break;
    case bc24: {
        const int bpl = h.bytesPerLine;
        for (int x = 0; x < width; ++x) {
            row[3 * x] = line[2 * bpl + x];
            row[3 * x + 1] = line[bpl + x];
            row[3 * x + 2] = line[x];
        }
        break;
    }
    case bc32: break;  // PCX has no alpha: never chosen
    }
}

void ReadRows(TStream& stream, TPixelGraphic& graphic, const TPcxHeader& h, TObject* sender)
{
    const int length = h.planes * h.bytesPerLine;
    std::vector<std::uint8_t> line(static_cast<std::size_t>(length));
    TPcxByteSource source(stream);
    TProgressScope progress(graphic, sender);
    const int height = graphic.Height();
    for (int y = 0; y < height; ++y) {
        DecodePcxScanLine(source, line.data(), length);
        if (!graphic.GetEmpty())
            MoveScanLine(line.data(), length, h, graphic, y);
        if (graphic.Progress(sender, y, height))
            break;
    }
}

std::string ColorsTextOf(int bitsPerPixel)
{
    if (bitsPerPixel == 24)
        return "16.7M";
    // Odd bits/planes products reach 65025; beyond 63 bits the count is named, not spelled out.
    if (bitsPerPixel > 63)
        return "2^" + std::to_string(bitsPerPixel);
    return std::to_string(std::uint64_t(1) << bitsPerPixel);
}

std::string VersionText(int version)
{
    switch (version) {
    case 0: return "Version 2.5 (0)";
    case 2: return "Version 2.8 (2) with Palette";
    case 3: return "Version 2.8 (3) without Palette";
    case 5: return "Version 3.0 (5)";
    default: return "";
    }
}

}  // namespace

// ---- byte source and scan-line decoder -------------------------------------------------------

void FailPcxEndOfData()
{
    Fail(MessageText(kMsgUnexpectedEndOfFile));
}

void DecodePcxScanLine(TPcxByteSource& source, std::uint8_t* line, int length)
{
    int i = 0;
    while (i < length) {
        const std::uint8_t b = source.Next();
        int run = 1;
        std::uint8_t value = b;
        if ((b & kRunFlags) == kRunFlags) {
            run = b & kRunLength;
            value = source.Next();
        }
        const int stored = std::min(run, length - i);
        std::memset(line + i, value, std::size_t(std::max(stored, 0)));
        i += run;
    }
}

// ---- reader ---------------------------------------------------------------------------------

TPCXFileFormatReader::TPCXFileFormatReader()
{
    Extension = "pcx";
    Description = "Paintbrush";
    HasSignature = true;
}

bool TPCXFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= 1 && header[0] == kManufacturer;
}

void TPCXFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalid, "Index"));
    graphic.SetGamma(Settings().DisplayGamma);
    const TPcxHeader h = ReadHeader(stream);
    graphic.SetHeight(0);
    CheckPaletteInfo(h);
    graphic.SetBitCount(PixelFormatOf(h));
    SetPalette(stream, graphic, h);

    const int width = h.Width();
    const int height = h.Height();
    CheckImagePixels(width, height);
    graphic.SetWidth(width);
    // Checks of our own, before the pixels are allocated: every plane must hold
    // the row, and the file must be able to hold every scan line.
    if (h.bytesPerLine < PlaneBytesNeeded(graphic.BitCount(), width))
        Fail(MessageText(kMsgInvalidValueFor, "BytesPerLine"));
    const std::int64_t length = std::int64_t(h.planes) * h.bytesPerLine;
    if (height > 0 && MinimumDataBytes(length, height) > stream.Remaining())
        Fail(MessageText(kMsgUnexpectedEndOfFile));
    graphic.SetHeight(height);
    ReadRows(stream, graphic, h, this);
}

void TPCXFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalidValueFor, "Index"));
    const TPcxHeader h = ReadHeader(stream);
    CheckPaletteInfo(h);
    info.BitsPerPixel = h.bitsPerPixel * h.planes;
    info.Width = h.Width();
    info.Height = h.Height();
    info.SubFormatText = VersionText(h.version);
    info.ColorsText = ColorsTextOf(info.BitsPerPixel);
    info.ImageCount = 1;
}

}  // namespace rastova
