#include "formats/Tiff.h"

#include "image/PGExceptions.h"
#include "image/Streams.h"

namespace rastova {

TTIFFileFormatReader::TTIFFileFormatReader()
{
    Extension = "tif";
    Description = "Tagged Image File Format";
    HasSignature = true;
}

bool TTIFFileFormatReader::CheckSignature(const TSignatureHeader&)
{
    return false;
}

void TTIFFileFormatReader::Read(TStream&, TPixelGraphic&, int)
{
    throw EPGTIFFileFormatReader("tif: reader not built yet");
}

void TTIFFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
}

TTIFFFileFormatReader::TTIFFFileFormatReader()
{
    Extension = "tiff";
    Description = "Tagged Image File Format";
    HasSignature = true;
}

TTIFFileFormatWriter::TTIFFileFormatWriter()
{
    Extension = "tif";
    Description = "Tagged Image File Format";
    CanWriteResolutions = TColorResolutions(0xFF & ~ResolutionBit(cr2Colors));
}

void TTIFFileFormatWriter::Write(TStream&, TPixelGraphic&)
{
    throw EPGTIFFileFormatWriter("tif: writer not built yet");
}

TTIFFFileFormatWriter::TTIFFFileFormatWriter()
{
    Extension = "tiff";
    Description = "Tagged Image File Format";
    CanWriteResolutions = TColorResolutions(0xFF & ~ResolutionBit(cr2Colors));
}

}  // namespace rastova
