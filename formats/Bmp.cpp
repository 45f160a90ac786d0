#include "formats/Bmp.h"

#include "image/ByteOrder.h"
#include "image/PGMessages.h"
#include "image/PackedDib.h"
#include "image/Streams.h"

#include <string>

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
    return header.Count >= 2 && header[0] == 'B' && header[1] == 'M';
}

void TBMPFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalid, "Index"));
    const std::uint32_t headerSize = ReadHeaderSize(stream);
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

TBMPFileFormatWriter::TBMPFileFormatWriter()
{
    Extension = "bmp";
    Description = "Bitmap";
    CanWriteResolutions = TColorResolutions(0xFF);
}

void TBMPFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
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
