#include "formats/Bmp.h"
#include "formats/Jpeg.h"
#include "formats/Png.h"

#include "image/ByteOrder.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PackedDib.h"
#include "image/Streams.h"

#include "image/PGSettings.h"

#include <string>
#include <vector>

namespace rastova {

namespace {

using dib::Fail;
using dib::FailHeaderSize;
using dib::IsInfoHeaderSize;
using dib::kBiRgb;
using dib::kBiRle4;
using dib::kBiRle8;
using dib::kCoreHeaderSize;
using dib::kInfoEntrySize;
using dib::kInfoHeaderSize;
using dib::ReadCoreHeader;
using dib::ReadInfoHeader;
using dib::TCoreHeader;
using dib::TInfoHeader;

constexpr int kFileHeaderSize = 14;
constexpr int kHeaderSizeField = 4;

// Skips the file header (its fields are not used) and peeks at the size of the
// header that follows, leaving the stream at that header.
std::uint32_t ReadHeaderSize(TStream& stream)
{
    std::uint8_t bytes[kFileHeaderSize + kHeaderSizeField];
    stream.ReadBuffer(bytes, sizeof bytes);
    stream.Seek(-kHeaderSizeField, soCurrent);
    return U32LE(bytes + kFileHeaderSize);
}

constexpr std::uint32_t kBiJpeg = 4;
constexpr std::uint32_t kBiPng = 5;
constexpr int kArrayHeaderSize = 14;  // OS/2 bitmap array: 'BA', size, next, screen size
constexpr int kCompressionField = 16;  // in the info header

// Bitmaps whose pixels are a whole JPEG or PNG file (biCompression 4 and 5)
// are decoded by those readers, from the file header's bfOffBits on. The
// stream is at the info header; false leaves it there for an ordinary bitmap.
bool ReadEmbeddedImage(TStream& stream, std::int64_t fileStart, TPixelGraphic& graphic)
{
    const std::int64_t headerStart = stream.Position();
    if (stream.Remaining() < kCompressionField + 4)
        return false;
    std::uint8_t header[kCompressionField + 4];
    stream.ReadBuffer(header, sizeof header);
    stream.SetPosition(headerStart);
    const std::uint32_t compression = U32LE(header + kCompressionField);
    // OS/2 2.x headers (other sizes) use 4 for their own 24-bit run lengths.
    const std::uint32_t size = U32LE(header);
    const bool windows = size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
    if (!windows || (compression != kBiJpeg && compression != kBiPng))
        return false;
    std::uint8_t offBits[4];
    stream.SetPosition(fileStart + 10);
    stream.ReadBuffer(offBits, 4);
    const std::int64_t dataStart = fileStart + U32LE(offBits);
    if (dataStart < headerStart || dataStart > stream.Size())
        Fail(MessageText(kMsgInvalid, "bfOffBits"));
    std::vector<std::uint8_t> data(std::size_t(stream.Size() - dataStart));
    stream.SetPosition(dataStart);
    stream.ReadBuffer(data.data(), std::int64_t(data.size()));
    TReadOnlyMemoryStream embedded(data.data(), data.size());
    if (compression == kBiJpeg)
        TJPGFileFormatReader().Read(embedded, graphic, 0);
    else
        TPNGFileFormatReader().Read(embedded, graphic, 0);
    return true;
}

// The first bitmap of an OS/2 bitmap array: its file header follows the array
// header, and its pixels lie where its bfOffBits (counted from the start of the
// array) says, usually after the headers of all the array's bitmaps. The
// header, colour table and pixels are gathered into one plain bitmap file.
std::vector<std::uint8_t> FirstArrayBitmap(TStream& stream, std::int64_t start)
{
    std::uint8_t head[kArrayHeaderSize + kFileHeaderSize + kHeaderSizeField + 12];
    stream.ReadBuffer(head, sizeof head);
    const std::uint8_t* file = head + kArrayHeaderSize;
    if (file[0] != 'B' || file[1] != 'M')
        Fail(MessageText(kMsgInvalid, "BitmapArray"));
    const std::uint32_t headerSize = U32LE(file + kFileHeaderSize);
    const bool core = headerSize == kCoreHeaderSize;
    if (!core && !IsInfoHeaderSize(headerSize))
        FailHeaderSize();
    const std::uint8_t* info = file + kFileHeaderSize;
    const int bits = core ? U16LE(info + 10) : U16LE(info + 14);
    std::int64_t entries = bits <= 8 ? (std::int64_t(1) << bits) : 0;
    stream.SetPosition(start + kArrayHeaderSize + kFileHeaderSize + 32);
    std::uint8_t clrUsed[4] = {};
    if (!core)
        stream.ReadBuffer(clrUsed, 4);
    if (!core && U32LE(clrUsed) != 0 && U32LE(clrUsed) <= 256)
        entries = U32LE(clrUsed);
    const std::int64_t tableBytes = entries * (core ? 3 : kInfoEntrySize);
    const std::int64_t headerBytes = kFileHeaderSize + headerSize + tableBytes;
    const std::int64_t pixelStart = start + U32LE(file + 10);
    if (pixelStart > stream.Size() || headerBytes > stream.Size())
        throw EReadError("Stream read error");
    std::vector<std::uint8_t> out(std::size_t(headerBytes + stream.Size() - pixelStart));
    stream.SetPosition(start + kArrayHeaderSize);
    stream.ReadBuffer(out.data(), headerBytes);
    stream.SetPosition(pixelStart);
    stream.ReadBuffer(out.data() + headerBytes, std::int64_t(out.size()) - headerBytes);
    return out;
}

std::string ColorsTextOf(int bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 1: return "2";
    case 4: return "16";
    case 8: return "256";
    case 16: return "64K";
    default: return "16.7M";
    }
}

}  // namespace

// ---- reader ---------------------------------------------------------------------------

TBMPFileFormatReader::TBMPFileFormatReader()
{
    Extension = "bmp";
    Description = "Bitmap";
    HasSignature = true;
}

bool TBMPFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= 2 && header[0] == 'B' && (header[1] == 'M' || header[1] == 'A');
}

void TBMPFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalid, "Index"));
    const std::int64_t start = stream.Position();
    std::uint8_t magic[2] = {};
    if (stream.Remaining() >= 2)
        stream.ReadBuffer(magic, 2);
    stream.SetPosition(start);
    if (magic[0] == 'B' && magic[1] == 'A') {
        const std::vector<std::uint8_t> first = FirstArrayBitmap(stream, start);
        TReadOnlyMemoryStream bitmap(first.data(), first.size());
        Read(bitmap, graphic, 0);
        return;
    }
    const std::uint32_t headerSize = ReadHeaderSize(stream);
    if (ReadEmbeddedImage(stream, start, graphic))
        return;
    if (headerSize == kCoreHeaderSize)
        graphic.ReadDIB(stream, true);
    else if (IsInfoHeaderSize(headerSize))
        graphic.ReadDIB(stream, false);
    else
        FailHeaderSize();
}

void TBMPFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalidValueFor, "Index"));
    const std::uint32_t headerSize = ReadHeaderSize(stream);
    if (headerSize == kCoreHeaderSize) {
        info.SubFormatText = "OS/2";
        const TCoreHeader h = ReadCoreHeader(stream);
        info.Width = h.width;
        info.Height = h.height;
        info.BitsPerPixel = h.bitCount;
    } else if (IsInfoHeaderSize(headerSize)) {
        info.SubFormatText = "Windows";
        const TInfoHeader h = ReadInfoHeader(stream);
        info.Width = h.width;
        info.Height = h.height;
        info.BitsPerPixel = h.bitCount;
        if (h.compression == kBiRgb)
            info.SubFormatText += ", RGB";
        else if (h.compression == kBiRle8)
            info.SubFormatText += ", RLE8";
        else if (h.compression == kBiRle4)
            info.SubFormatText += ", RLE4";
        if (h.height < 0)
            info.SubFormatText += ", Top-Down";
        info.HasAlpha = h.bitCount == 32 && h.compression == dib::kBiBitFields && h.headerSize >= dib::kV3HeaderSize &&
                        h.masks[3] != 0;
    } else {
        FailHeaderSize();
    }
    info.ColorsText = ColorsTextOf(info.BitsPerPixel);
}

TDIBFileFormatReader::TDIBFileFormatReader()
{
    Extension = "dib";
    Description = "Bitmap";
    HasSignature = true;
}

TRLEFileFormatReader::TRLEFileFormatReader()
{
    Extension = "rle";
    Description = "Bitmap";
    HasSignature = true;
}

// ---- writer ---------------------------------------------------------------------------

namespace {

// Run-length pixels of 4- and 8-bit images, bottom row first: runs of equal
// pixels as encoded packets, stretches of three or more unequal ones in
// absolute mode, each row closed by an end of line, the last by end of bitmap.
class TBmpRleEncoder {
public:
    TBmpRleEncoder(const TPixelGraphic& graphic) : m_graphic(graphic), m_four(graphic.BitCount() == bc4) {}

    std::vector<std::uint8_t> Encode()
    {
        for (int y = m_graphic.Height() - 1; y >= 0; --y) {
            EncodeRow(m_graphic.ScanLine(y));
            m_out.insert(m_out.end(), {0, std::uint8_t(y == 0 ? 1 : 0)});
        }
        return std::move(m_out);
    }

private:
    std::uint8_t Pixel(const std::uint8_t* line, int x) const
    {
        return m_four ? std::uint8_t(x % 2 == 0 ? line[x / 2] >> 4 : line[x / 2] & 0x0F) : line[x];
    }
    int RunAt(const std::uint8_t* line, int x, int width) const
    {
        int run = 1;
        while (x + run < width && run < 255 && Pixel(line, x + run) == Pixel(line, x))
            ++run;
        return run;
    }
    void EncodeRow(const std::uint8_t* line)
    {
        const int width = m_graphic.Width();
        for (int x = 0; x < width;) {
            int literal = 0;
            while (x + literal < width && literal < 255 && RunAt(line, x + literal, width) == 1)
                ++literal;
            if (literal >= 3) {
                Absolute(line, x, literal);
                x += literal;
                continue;
            }
            const int run = literal > 0 ? 1 : RunAt(line, x, width);
            const std::uint8_t value = Pixel(line, x);
            m_out.insert(m_out.end(), {std::uint8_t(run), m_four ? std::uint8_t(value << 4 | value) : value});
            x += run;
        }
    }
    void Absolute(const std::uint8_t* line, int x, int count)
    {
        m_out.insert(m_out.end(), {0, std::uint8_t(count)});
        const std::size_t start = m_out.size();
        for (int i = 0; i < count; ++i) {
            if (!m_four)
                m_out.push_back(Pixel(line, x + i));
            else if (i % 2 == 0)
                m_out.push_back(std::uint8_t(Pixel(line, x + i) << 4));
            else
                m_out.back() |= Pixel(line, x + i);
        }
        if ((m_out.size() - start) % 2 != 0)
            m_out.push_back(0);  // absolute runs end on a word boundary
    }

    const TPixelGraphic& m_graphic;
    bool m_four;
    std::vector<std::uint8_t> m_out;
};

void WriteRleBmp(TStream& stream, TPixelGraphic& graphic)
{
    const std::vector<std::uint8_t> pixels = TBmpRleEncoder(graphic).Encode();
    TMemoryStream dib;
    graphic.WriteDIB(dib);
    std::vector<std::uint8_t> head(dib.Data().begin(), dib.Data().end() - std::ptrdiff_t(graphic.ImageSize()));
    PutU32LE(head.data() + 16, graphic.BitCount() == bc4 ? kBiRle4 : kBiRle8);
    PutU32LE(head.data() + 20, std::uint32_t(pixels.size()));
    std::uint8_t header[kFileHeaderSize] = {'B', 'M'};
    PutU32LE(header + 2, std::uint32_t(kFileHeaderSize + head.size() + pixels.size()));
    PutU32LE(header + 10, std::uint32_t(kFileHeaderSize + head.size()));
    stream.WriteBuffer(header, sizeof header);
    stream.WriteBuffer(head.data(), std::int64_t(head.size()));
    stream.WriteBuffer(pixels.data(), std::int64_t(pixels.size()));
}

}  // namespace

TBMPFileFormatWriter::TBMPFileFormatWriter()
{
    Extension = "bmp";
    Description = "Bitmap";
    CanWriteResolutions = TColorResolutions(0xFF);
}

void TBMPFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
    if (Settings().BMPWriteRLE && (graphic.BitCount() == bc4 || graphic.BitCount() == bc8) && !graphic.GetEmpty()) {
        WriteRleBmp(stream, graphic);
        return;
    }
    const std::uint32_t offBits = kFileHeaderSize + kInfoHeaderSize + kInfoEntrySize * std::uint32_t(graphic.PaletteCount());
    std::uint8_t header[kFileHeaderSize] = {'B', 'M'};
    PutU32LE(header + 2, offBits + std::uint32_t(graphic.ImageSize()));
    PutU32LE(header + 10, offBits);
    stream.WriteBuffer(header, sizeof header);
    graphic.WriteDIB(stream);
}

TDIBFileFormatWriter::TDIBFileFormatWriter()
{
    Extension = "dib";
    Description = "Bitmap";
    CanWriteResolutions = TColorResolutions(0xFF);
}

}  // namespace rastova
