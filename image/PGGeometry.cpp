// Mirror, rotate and resampling copies.
#include "image/PGraphic.h"

#include "image/PGExceptions.h"

namespace rastova {

void TPixelGraphic::MirrorHorizontal()
{
    throw EPixelGraphic("MirrorHorizontal not built yet");
}

void TPixelGraphic::MirrorVertical()
{
    throw EPixelGraphic("MirrorVertical not built yet");
}

void TPixelGraphic::Rotate(const TPixelGraphic&, int, int, int, int, int, int, int, int, long double)
{
    throw EPixelGraphic("Rotate not built yet");
}

void TPixelGraphic::StretchCopyRect(int, int, int, int, const TPixelGraphic&, int, int, int, int)
{
    throw EPixelGraphic("StretchCopyRect not built yet");
}

}  // namespace rastova
