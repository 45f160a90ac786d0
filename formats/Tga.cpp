#include "formats/Tga.h"

#include "image/PGExceptions.h"
#include "image/Streams.h"

namespace rastova {

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

void TTGAFileFormatReader::Read(TStream&, TPixelGraphic&, int)
{
    throw EPGTGAFileFormatReader("tga: reader not built yet");
}

void TTGAFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
}

TTGAFileFormatWriter::TTGAFileFormatWriter()
{
    Extension = "tga";
    Description = "Truevision Targa";
    CanWriteResolutions = TColorResolutions(ResolutionBit(cr256Colors) | ResolutionBit(crTrueColor));
}

void TTGAFileFormatWriter::Write(TStream&, TPixelGraphic&)
{
    throw EPGTGAFileFormatReader("tga: writer not built yet");
}

}  // namespace rastova
