// Targa reader on arbitrary bytes: information and decoding; what it decodes
// must come back unchanged through the writer.
#include "formats/Register.h"
#include "formats/Tga.h"
#include "fuzz/FuzzSupport.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace rastova;

namespace {

constexpr int kRoundTripLimit = 1 << 22;

bool SameRows(const TPixelGraphic& a, const TPixelGraphic& b)
{
    const std::size_t rowBytes = std::size_t(a.Width()) * (a.BitCount() == bc24 ? 3 : 1);
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), rowBytes) != 0)
            return false;
    return true;
}

void CheckRoundTrip(TPixelGraphic& image)
{
    if (image.GetEmpty() || image.ImageSize() > kRoundTripLimit)
        return;
    TMemoryStream stream;
    TTGAFileFormatWriter().Write(stream, image);
    stream.SetPosition(0);
    TPixelGraphic again;
    TTGAFileFormatReader().Read(stream, again, 0);
    if (again.Width() != image.Width() || again.Height() != image.Height() || again.BitCount() != image.BitCount() ||
        again.PaletteCount() != image.PaletteCount() || !SameRows(image, again))
        std::abort();
    for (int i = 0; i < image.PaletteCount(); ++i)
        if (again.GetPaletteColor(i) != image.GetPaletteColor(i))
            std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    TTGAFileFormatReader reader;
    fuzz::TryGetInfo(reader, data, size);
    TPixelGraphic image;
    if (fuzz::TryRead(reader, data, size, image))
        CheckRoundTrip(image);
    return 0;
}
