// JPEG reader on arbitrary bytes: signature, EXIF orientation, information and decoding, under the
// converter's warning action and the raising one; what decodes must encode again
// and come back with the same size and kind.
#include "formats/Jpeg.h"
#include "formats/JpegExif.h"
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

// Re-encoding larger images only costs time.
constexpr int kRoundTripLimit = 1 << 20;

void CheckRoundTrip(TPixelGraphic& image)
{
    if (image.GetEmpty() || image.ImageSize() > kRoundTripLimit)
        return;
    TMemoryStream stream;
    TJPGFileFormatWriter().Write(stream, image);
    stream.SetPosition(0);
    TPixelGraphic again;
    again.SetReadWarningAction(pgwaRaise);
    TJPGFileFormatReader().Read(stream, again, 0);
    if (again.Width() != image.Width() || again.Height() != image.Height() || again.BitCount() != image.BitCount())
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    TJPGFileFormatReader reader;
    fuzz::CheckSignatureOf(reader, data, size);
    fuzz::TryGetInfo(reader, data, size);
    {
        TReadOnlyMemoryStream stream(data, size);
        const TExifOrientation orientation = ReadJpegOrientation(stream);
        if (orientation < eoNone || orientation > eoLeftBottom)
            std::abort();
    }
    TPixelGraphic image;
    // The last byte picks the warning action, so both ways through a warning are explored.
    image.SetReadWarningAction(size > 0 && (data[size - 1] & 1) ? pgwaRaise : pgwaIgnore);
    if (fuzz::TryRead(reader, data, size, image))
        CheckRoundTrip(image);
    return 0;
}
