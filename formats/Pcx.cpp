#include "formats/Pcx.h"

#include "image/PGExceptions.h"
#include "image/Streams.h"

namespace rastova {

TPCXFileFormatReader::TPCXFileFormatReader()
{
    Extension = "pcx";
    Description = "Paintbrush";
    HasSignature = true;
}

bool TPCXFileFormatReader::CheckSignature(const TSignatureHeader&)
{
    return false;
}

void TPCXFileFormatReader::Read(TStream&, TPixelGraphic&, int)
{
    throw EPGPCXFileFormatReader("pcx: reader not built yet");
}

void TPCXFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
}

}  // namespace rastova
