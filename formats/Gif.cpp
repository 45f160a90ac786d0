#include "formats/Gif.h"

#include "image/PGExceptions.h"
#include "image/Streams.h"

namespace rastova {

tGifFileFormatReader::tGifFileFormatReader()
{
    Extension = "gif";
    Description = "GIF";
    HasSignature = true;
}

bool tGifFileFormatReader::CheckSignature(const TSignatureHeader&)
{
    return false;
}

void tGifFileFormatReader::Read(TStream&, TPixelGraphic&, int)
{
    throw EPixelGraphic("gif: reader not built yet");
}

void tGifFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
}

}  // namespace rastova
