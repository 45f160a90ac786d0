// BMP reader on arbitrary bytes: signature, information and decoding; what it
// decodes must come back unchanged through the writer.
#include "formats/Bmp.h"
#include "formats/Register.h"
#include "fuzz/FuzzSupport.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace rastova;

namespace {

// Round trips of larger images only cost memory and time.
constexpr int kRoundTripLimit = 1 << 22;

void CheckRoundTrip(TPixelGraphic& image)
{
    if (image.GetEmpty() || image.ImageSize() > kRoundTripLimit)
        return;
    TMemoryStream stream;
    TBMPFileFormatWriter().Write(stream, image);
    stream.SetPosition(0);
    TPixelGraphic again;
    TBMPFileFormatReader().Read(stream, again, 0);
    if (again.Width() != image.Width() || again.Height() != image.Height() ||
        again.BitCount() != image.BitCount() || again.PaletteCount() != image.PaletteCount() ||
        std::memcmp(again.Bits(), image.Bits(), std::size_t(image.ImageSize())) != 0 ||
        (image.PaletteCount() > 0 && std::memcmp(again.PaletteColors(), image.PaletteColors(),
                                                 sizeof(TRGB) * std::size_t(image.PaletteCount())) != 0))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    TBMPFileFormatReader reader;
    fuzz::CheckSignatureOf(reader, data, size);
    fuzz::TryGetInfo(reader, data, size);
    TPixelGraphic image;
    if (fuzz::TryRead(reader, data, size, image))
        CheckRoundTrip(image);
    return 0;
}
