// Packed device-independent bitmaps from the clipboard on arbitrary bytes:
// ReadDIB through LoadFromClipboardFormat, then the way back through
// SaveToClipboardFormat must give the same image.
#include "formats/Bmp.h"
#include "formats/Register.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace rastova;

namespace {

constexpr int kRoundTripLimit = 1 << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    try {
        TPixelGraphic image;
        image.LoadFromClipboardFormat(CF_DIB, data, size);
        if (image.GetEmpty() || image.ImageSize() > kRoundTripLimit)
            return 0;
        std::uint32_t format = 0, palette = 0;
        std::vector<std::uint8_t> block;
        image.SaveToClipboardFormat(format, block, palette);
        TPixelGraphic again;
        again.LoadFromClipboardFormat(format, block.data(), block.size());
        if (again.Width() != image.Width() || again.Height() != image.Height() ||
            again.BitCount() != image.BitCount() || again.PaletteCount() != image.PaletteCount() ||
            std::memcmp(again.Bits(), image.Bits(), std::size_t(image.ImageSize())) != 0)
            std::abort();
    } catch (const EPixelGraphic&) {
    }
    return 0;
}
