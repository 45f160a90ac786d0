#include "formats/Bmp.h"

#include "image/PGExceptions.h"
#include "image/Streams.h"

namespace rastova {

TBMPFileFormatReader::TBMPFileFormatReader()
{
    Extension = "bmp";
    Description = "Bitmap";
    HasSignature = true;
}

bool TBMPFileFormatReader::CheckSignature(const TSignatureHeader&)
{
    return false;
}

void TBMPFileFormatReader::Read(TStream&, TPixelGraphic&, int)
{
    throw EPGBMPFileFormatReader("bmp: reader not built yet");
}

void TBMPFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
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

TBMPFileFormatWriter::TBMPFileFormatWriter()
{
    Extension = "bmp";
    Description = "Bitmap";
    CanWriteResolutions = TColorResolutions(0xFF);
}

void TBMPFileFormatWriter::Write(TStream&, TPixelGraphic&)
{
    throw EPGBMPFileFormatReader("bmp: writer not built yet");
}

TDIBFileFormatWriter::TDIBFileFormatWriter()
{
    Extension = "dib";
    Description = "Bitmap";
    CanWriteResolutions = TColorResolutions(0xFF);
}

}  // namespace rastova

namespace rastova {

void TPixelGraphic::ReadDIB(TStream&, bool)
{
    throw EPGBMPFileFormatReader("BMP: DIB reading not built yet");
}

void TPixelGraphic::WriteDIB(TStream&)
{
    throw EPGBMPFileFormatReader("BMP: DIB writing not built yet");
}

}  // namespace rastova
