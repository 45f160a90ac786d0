#include "formats/Tga.h"
#include "image/PaletteRepair.h"

#include "image/ByteOrder.h"
#include "formats/TgaCodec.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/Streams.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace rastova {

namespace {

const char* const kTag = "TGA: ";
constexpr int kHeaderSize = 18;
constexpr std::uint8_t kRunLengthType = 0x08;   // image type bit 3
constexpr std::uint8_t kRightToLeft = 0x10;     // descriptor bit 4
constexpr std::uint8_t kTopToBottom = 0x20;     // descriptor bit 5
constexpr int kMaxPacketPixels = 128;
constexpr int kPaletteCapacity = 256;
constexpr int kMaxDimension = 0xFFFF;

[[noreturn]] void Fail(const std::string& message)
{
    throw EPGTGAFileFormatReader(kTag + message);
}

struct TTgaHeader {
    int idLength = 0;
    int colorMapType = 0;
    int imageType = 0;
    int firstEntry = 0;
    int mapLength = 0;
    int entrySize = 0;
    int width = 0;
    int height = 0;
    int depth = 0;
    int descriptor = 0;

    int BytesPerPixel() const { return depth / 8; }
    bool RunLength() const { return (imageType & kRunLengthType) != 0; }
    bool HasColorMap() const { return depth == 8 && colorMapType == 1 && mapLength > 0; }
    // 32-bit pixels whose descriptor gives their fourth byte as attribute (alpha) bits.
    bool HasAlpha() const { return depth == 32 && (descriptor & 0x0F) != 0; }
};

// Offsets of the header's fields; the origin (8..11) is always 0 here.
enum TTgaField : std::uint8_t {
    hfIdLength = 0,
    hfColorMapType = 1,
    hfImageType = 2,
    hfFirstEntry = 3,
    hfMapLength = 5,
    hfEntrySize = 7,
    hfWidth = 12,
    hfHeight = 14,
    hfDepth = 16,
    hfDescriptor = 17,
};

TTgaHeader ReadHeader(TStream& stream)
{
    std::uint8_t b[kHeaderSize];
    stream.ReadBuffer(b, sizeof b);
    TTgaHeader h;
    h.idLength = b[hfIdLength];
    h.colorMapType = b[hfColorMapType];
    h.imageType = b[hfImageType];
    h.firstEntry = U16LE(b + hfFirstEntry);
    h.mapLength = U16LE(b + hfMapLength);
    h.entrySize = b[hfEntrySize];
    h.width = U16LE(b + hfWidth);
    h.height = U16LE(b + hfHeight);
    h.depth = b[hfDepth];
    h.descriptor = b[hfDescriptor];
    return h;
}

// Every field fits its bytes: the writer checks the sizes first.
void PutHeader(const TTgaHeader& h, std::uint8_t* b)
{
    b[hfIdLength] = std::uint8_t(h.idLength);
    b[hfColorMapType] = std::uint8_t(h.colorMapType);
    b[hfImageType] = std::uint8_t(h.imageType);
    PutU16LE(b + hfFirstEntry, std::uint32_t(h.firstEntry));
    PutU16LE(b + hfMapLength, std::uint32_t(h.mapLength));
    b[hfEntrySize] = std::uint8_t(h.entrySize);
    PutU16LE(b + hfWidth, std::uint32_t(h.width));
    PutU16LE(b + hfHeight, std::uint32_t(h.height));
    b[hfDepth] = std::uint8_t(h.depth);
    b[hfDescriptor] = std::uint8_t(h.descriptor);
}

// A 5-bit channel over the full range: 31 becomes 255.
constexpr std::uint8_t Expand5(std::uint32_t v)
{
    return std::uint8_t(((v & 0x1F) * 255 + 15) / 31);
}

TRGB DecodeMapEntry(const std::uint8_t* e, int entrySize)
{
    if (entrySize == 16) {
        const std::uint32_t v = U16LE(e);
        return RGBValue(Expand5(v >> 10), Expand5(v >> 5), Expand5(v));
    }
    return RGBValue(e[2], e[1], e[0]);
}

// The stored entries belong to the palette indices first, first + 1, ...: the
// pixels of such a file use those indices. Entries past index 255 cannot be
// used by 8-bit pixels, and indices below the first stay black.
std::vector<TRGB> ReadColorMap(TStream& stream, const TTgaHeader& h)
{
    if (h.entrySize != 16 && h.entrySize != 24 && h.entrySize != 32)
        Fail(MessageText(kMsgNotSupportedSubformat));
    const int entryBytes = h.entrySize / 8;
    std::vector<std::uint8_t> raw(std::size_t(h.mapLength) * std::size_t(entryBytes));
    stream.ReadBuffer(raw.data(), std::int64_t(raw.size()));
    std::vector<TRGB> palette(std::size_t(std::min(kPaletteCapacity, h.firstEntry + h.mapLength)), 0);
    for (int j = 0; j < h.mapLength && h.firstEntry + j < kPaletteCapacity; ++j)
        palette[std::size_t(h.firstEntry + j)] = DecodeMapEntry(raw.data() + std::size_t(j) * entryBytes, h.entrySize);
    return palette;
}

// Refuses, before the image is allocated, pixel data that the rest of the
// stream cannot hold, with the error reading it would end in.
void CheckDataPresent(TStream& stream, const TTgaHeader& h)
{
    const std::int64_t pixels = std::int64_t(h.width) * h.height;
    const std::int64_t remaining = stream.Remaining();
    if (h.RunLength()) {
        const std::int64_t packets = (pixels + kMaxPacketPixels - 1) / kMaxPacketPixels;
        if (packets * (1 + h.BytesPerPixel()) > remaining)
            Fail(MessageText(kMsgUnexpectedEndOfFile));
    } else if (pixels * h.BytesPerPixel() > remaining) {
        throw EReadError("Stream read error");
    }
}

// A file row in the order of the file into an image row; right-to-left files
// are mirrored here. alpha: the image is 32-bit and takes the fourth byte.
void ConvertRow(const std::uint8_t* src, std::uint8_t* dest, int width, int bytesPerPixel, bool rightToLeft,
                bool alpha)
{
    for (int x = 0; x < width; ++x, src += bytesPerPixel) {
        const int column = rightToLeft ? width - 1 - x : x;
        if (bytesPerPixel == 1) {
            dest[column] = src[0];
            continue;
        }
        if (alpha) {
            std::memcpy(dest + 4 * std::size_t(column), src, 4);
            continue;
        }
        std::uint8_t* p = dest + 3 * column;
        if (bytesPerPixel == 2) {
            const std::uint32_t v = U16LE(src);
            p[2] = Expand5(v >> 10);
            p[1] = Expand5(v >> 5);
            p[0] = Expand5(v);
        } else {
            p[0] = src[0];
            p[1] = src[1];
            p[2] = src[2];
        }
    }
}

void ReadRows(TStream& stream, TPixelGraphic& graphic, const TTgaHeader& h, TObject* sender)
{
    const int width = h.width;
    const int height = h.height;
    const int bytesPerPixel = h.BytesPerPixel();
    const bool rightToLeft = (h.descriptor & kRightToLeft) != 0;
    const bool topToBottom = (h.descriptor & kTopToBottom) != 0;
    // Uncompressed indices and blue-green-red(-alpha) pixels are already in the image's layout.
    const bool direct = !h.RunLength() && (bytesPerPixel == 1 || bytesPerPixel == 3 || h.HasAlpha()) && !rightToLeft;
    const std::int64_t rowBytes = std::int64_t(width) * bytesPerPixel;
    std::vector<std::uint8_t> rowBuffer(direct ? 0 : std::size_t(rowBytes));
    TTgaByteSource source(stream);
    TTgaRleDecoder decoder(source, bytesPerPixel);

    TProgressScope progress(graphic, sender);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* dest = graphic.ScanLine(topToBottom ? y : height - 1 - y);
        if (direct) {
            stream.ReadBuffer(dest, rowBytes);
        } else {
            if (h.RunLength())
                decoder.DecodeRow(rowBuffer.data(), width);
            else
                stream.ReadBuffer(rowBuffer.data(), rowBytes);
            ConvertRow(rowBuffer.data(), dest, width, bytesPerPixel, rightToLeft, h.HasAlpha());
        }
        if (graphic.Progress(sender, y, height))
            break;
    }
}

std::string ColorsTextOf(int depth)
{
    if (depth < 24)
        return std::to_string(std::uint32_t(1) << depth);
    return depth == 24 ? "16.7M" : "16.7M ?";
}

}  // namespace

// ---- byte source and run-length decoder -------------------------------------------------

void FailTgaEndOfData()
{
    Fail(MessageText(kMsgUnexpectedEndOfFile));
}

void TTgaRleDecoder::DecodeRow(std::uint8_t* row, int width)
{
    const int n = m_bytesPerPixel;
    int x = 0;
    while (x < width) {
        if (m_repeat == 0 && m_literal == 0) {
            const std::uint8_t header = m_source.Next();
            const int count = (header & 0x7F) + 1;
            if (header & 0x80) {
                m_source.Read(m_pixel, n);
                m_repeat = count;
            } else {
                m_literal = count;
            }
        }
        if (m_repeat > 0) {
            const int k = std::min(m_repeat, width - x);
            for (int i = 0; i < k; ++i)
                std::memcpy(row + std::size_t(x + i) * std::size_t(n), m_pixel, std::size_t(n));
            x += k;
            m_repeat -= k;
        } else {
            const int k = std::min(m_literal, width - x);
            m_source.Read(row + std::size_t(x) * std::size_t(n), k * n);
            x += k;
            m_literal -= k;
        }
    }
}

// ---- reader ---------------------------------------------------------------------------------

TTGAFileFormatReader::TTGAFileFormatReader()
{
    Extension = "tga";
    Description = "Truevision Targa";
    HasSignature = false;
}

bool TTGAFileFormatReader::CheckSignature(const TSignatureHeader&)
{
    return false;
}

void TTGAFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalid, "Index"));
    const TTgaHeader h = ReadHeader(stream);
    if (h.depth != 8 && h.depth != 16 && h.depth != 24 && h.depth != 32)
        Fail(MessageText(kMsgNotSupportedSubformat));
    stream.Seek(h.idLength, soCurrent);
    const std::int64_t mapStart = stream.Position();
    std::vector<TRGB> palette;
    if (h.HasColorMap())
        palette = ReadColorMap(stream, h);
    // Skips the whole map, also one that a true-colour file carries.
    stream.SetPosition(mapStart + std::int64_t(h.mapLength) * h.entrySize / 8);
    CheckDataPresent(stream, h);

    CheckImagePixels(h.width, h.height);
    graphic.SetSize(h.width, h.height, h.depth == 8 ? bc8 : h.HasAlpha() ? bc32 : bc24);
    if (h.depth == 8 && palette.empty()) {
        graphic.SetPaletteIdent(pGray256);
    } else if (h.depth == 8) {
        graphic.SetPaletteCount(int(palette.size()));
        for (std::size_t i = 0; i < palette.size(); ++i)
            graphic.SetPaletteColor(int(i), palette[i]);
    }
    // Pixels naming entries beyond a short colour map show black.
    TPaletteRepair repair{graphic};
    if (h.height > 0)
        ReadRows(stream, graphic, h, this);
}

void TTGAFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalidValueFor, "Index"));
    const TTgaHeader h = ReadHeader(stream);
    static const char* const kBlackAndWhite = "\"Black-and-white\"";
    switch (h.imageType) {
    case 1: info.SubFormatText = "Uncompressed", info.ExtraText = "Color-mapped"; break;
    case 2: info.SubFormatText = "Uncompressed", info.ExtraText = "True-color"; break;
    case 3: info.SubFormatText = "Uncompressed", info.ExtraText = kBlackAndWhite; break;
    case 9: info.SubFormatText = "Run-length encoded", info.ExtraText = "Color-mapped"; break;
    case 10: info.SubFormatText = "Run-length encoded", info.ExtraText = "True-color"; break;
    case 11: info.SubFormatText = "Run-length encoded", info.ExtraText = kBlackAndWhite; break;
    default: Fail(MessageText(kMsgInvalidValueFor, "ImageType"));
    }
    info.Width = h.width;
    info.Height = h.height;
    info.BitsPerPixel = h.depth;
    info.ColorsText = ColorsTextOf(h.depth);
    info.HasAlpha = h.HasAlpha();
    info.ImageCount = 1;
}

// ---- writer ---------------------------------------------------------------------------------

namespace {

// One row as run-length packets: two or more equal pixels as a repeat packet,
// the rest as raw packets; no packet crosses the row.
void AppendRlePackets(const std::uint8_t* row, int width, int pixelBytes, std::vector<std::uint8_t>& out)
{
    const std::size_t size = std::size_t(pixelBytes);
    const auto same = [&](int a, int b) { return std::memcmp(row + a * size, row + b * size, size) == 0; };
    for (int x = 0; x < width;) {
        int run = 1;
        while (x + run < width && run < 128 && same(x, x + run))
            ++run;
        if (run >= 2) {
            out.push_back(std::uint8_t(0x80 | (run - 1)));
            out.insert(out.end(), row + x * size, row + (x + 1) * size);
            x += run;
            continue;
        }
        int raw = 1;
        while (x + raw < width && raw < 128 && !(x + raw + 1 < width && same(x + raw, x + raw + 1)))
            ++raw;
        out.push_back(std::uint8_t(raw - 1));
        out.insert(out.end(), row + x * size, row + (x + raw) * size);
        x += raw;
    }
}

}  // namespace

TTGAFileFormatWriter::TTGAFileFormatWriter()
{
    Extension = "tga";
    Description = "Truevision Targa";
    CanWriteResolutions = TColorResolutions(ResolutionBit(cr256Colors) | ResolutionBit(crTrueColor));
    CanWriteAlpha = true;
}

void TTGAFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
    const bool alpha = graphic.HasAlpha();
    const bool trueColor = graphic.IsTrueColorFormat();
    // The save path converts first; a direct call with another format would
    // otherwise read rows of the wrong length.
    if (!trueColor && graphic.BitCount() != bc8)
        throw EPGCannotWriteColorRes(MessageText(kMsgCannotWriteColorRes, Description,
                                                 MessageText(std::uint8_t(kMsgBlackAndWhite + graphic.ColorResolution()))));
    const int width = graphic.GetWidth();
    const int height = graphic.GetHeight();
    // The header has 16 bits per dimension; a larger image cannot be described.
    if (width > kMaxDimension)
        throw EPixelGraphic(kTag + MessageText(kMsgInvalidValueFor, "Width"));
    if (height > kMaxDimension)
        throw EPixelGraphic(kTag + MessageText(kMsgInvalidValueFor, "Height"));
    if (graphic.GetEmpty() && graphic.ImageSize() > 0)
        throw EPGEmpty(MessageText(kMsgIsEmpty, "PixelGraphic"));

    // 256 shades of gray are written as a gray image (type 3) without a colour
    // map, so they read back as gray.
    const bool gray = !trueColor && graphic.PaletteIdent() == pGray256;
    const bool mapped = !trueColor && !gray;
    const int paletteCount = mapped ? graphic.PaletteCount() : 0;
    TTgaHeader h;
    h.colorMapType = mapped ? 1 : 0;
    const bool rle = Settings().TGAWriteRLE;
    // Uncompressed true colour, gray or colour-mapped; 8 more for run-length packets.
    h.imageType = (trueColor ? 2 : gray ? 3 : 1) + (rle ? 8 : 0);
    h.mapLength = paletteCount;
    h.entrySize = mapped ? 24 : 0;
    h.width = width;
    h.height = height;
    h.depth = alpha ? 32 : trueColor ? 24 : 8;
    h.descriptor = alpha ? 8 : 0;  // eight attribute (alpha) bits
    std::vector<std::uint8_t> head(kHeaderSize + 3 * std::size_t(paletteCount), 0);
    PutHeader(h, head.data());
    for (int i = 0; i < paletteCount; ++i) {
        const TRGB c = graphic.GetPaletteColor(i);
        std::uint8_t* e = head.data() + kHeaderSize + 3 * i;
        e[0] = BlueOf(c);
        e[1] = GreenOf(c);
        e[2] = RedOf(c);
    }
    stream.WriteBuffer(head.data(), std::int64_t(head.size()));
    if (height == 0)
        return;

    TProgressScope progress(graphic, &graphic);
    const std::int64_t rowBytes = std::int64_t(width) * (alpha ? 4 : trueColor ? 3 : 1);
    std::vector<std::uint8_t> packets;
    for (int r = 0; r < height; ++r) {
        // Memory row r from the bottom, without its alignment bytes.
        const std::uint8_t* row = graphic.ScanLine(height - 1 - r);
        if (rle) {
            packets.clear();
            AppendRlePackets(row, width, alpha ? 4 : trueColor ? 3 : 1, packets);
            stream.WriteBuffer(packets.data(), std::int64_t(packets.size()));
        } else {
            stream.WriteBuffer(row, rowBytes);
        }
        graphic.Progress(&graphic, r, height);
    }
}

}  // namespace rastova
