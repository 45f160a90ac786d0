// PNG reader on arbitrary bytes: signature, information and decoding, under the
// converter's warning action and the raising one; what decodes must come back
// unchanged through the writer.
#include "formats/Png.h"
#include "formats/Register.h"
#include "fuzz/FuzzSupport.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace rastova;

namespace {

constexpr int kRoundTripLimit = 1 << 20;

void CheckRoundTrip(TPixelGraphic& image)
{
    if (image.GetEmpty() || image.ImageSize() > kRoundTripLimit)
        return;
    TMemoryStream stream;
    TPNGFileFormatWriter().Write(stream, image);
    stream.SetPosition(0);
    TPixelGraphic again;
    again.SetReadWarningAction(pgwaRaise);
    TPNGFileFormatReader().Read(stream, again, 0);
    bool same = again.Width() == image.Width() && again.Height() == image.Height() &&
                again.PaletteCount() == image.PaletteCount() &&
                (image.PaletteCount() == 0 || std::memcmp(again.PaletteColors(), image.PaletteColors(),
                                                          sizeof(TRGB) * std::size_t(image.PaletteCount())) == 0);
    for (int y = 0; same && y < image.Height(); ++y)
        for (int x = 0; same && x < image.Width(); ++x)
            same = again.GetPixel(x, y) == image.GetPixel(x, y);
    if (!same)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    TPNGFileFormatReader reader;
    fuzz::CheckSignatureOf(reader, data, size);
    fuzz::TryGetInfo(reader, data, size);
    TPixelGraphic image;
    // The last byte picks the warning action, so both ways through a warning are explored.
    image.SetReadWarningAction(size > 0 && (data[size - 1] & 1) ? pgwaRaise : pgwaIgnore);
    if (fuzz::TryRead(reader, data, size, image))
        CheckRoundTrip(image);
    return 0;
}
