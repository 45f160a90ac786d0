#include "formats/Png.h"

#include "image/PGExceptions.h"
#include "image/Streams.h"

namespace rastova {

TPNGFileFormatReader::TPNGFileFormatReader()
{
    Extension = "png";
    Description = "Portable Network Graphics";
    HasSignature = true;
}

bool TPNGFileFormatReader::CheckSignature(const TSignatureHeader&)
{
    return false;
}

void TPNGFileFormatReader::Read(TStream&, TPixelGraphic&, int)
{
    throw EPGPNGFileFormatReaderWriter("png: reader not built yet");
}

void TPNGFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
}

TPNGFileFormatWriter::TPNGFileFormatWriter()
{
    Extension = "png";
    Description = "Portable Network Graphics";
    CanWriteResolutions = TColorResolutions(0xFF);
}

void TPNGFileFormatWriter::Write(TStream&, TPixelGraphic&)
{
    throw EPGPNGFileFormatReaderWriter("png: writer not built yet");
}

}  // namespace rastova
