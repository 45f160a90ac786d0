#include "formats/Ico.h"

#include "image/PGExceptions.h"
#include "image/Streams.h"

namespace rastova {

tIcoFileFormatReader::tIcoFileFormatReader()
{
    Extension = "ico";
    Description = "Windows Icon";
    HasSignature = true;
}

bool tIcoFileFormatReader::CheckSignature(const TSignatureHeader&)
{
    return false;
}

void tIcoFileFormatReader::Read(TStream&, TPixelGraphic&, int)
{
    throw EPixelGraphic("ico: reader not built yet");
}

void tIcoFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
}

}  // namespace rastova
