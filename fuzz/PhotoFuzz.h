// The steps of the WebP, HEIC, AVIF and JPEG XL reader targets: signature,
// information and decoding, under the converter's warning action and the
// raising one.
#pragma once

#include "formats/PhotoCodecs.h"
#include "formats/Register.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>

namespace rastova::fuzz {

inline int FuzzPhotoReader(TFileFormatReader& reader, const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    // Large images the limit lets through only cost time; one thread keeps runs repeatable.
    MaxImagePixels = std::uint64_t(1) << 22;
    PhotoCodecThreads = 1;
    CheckSignatureOf(reader, data, size);
    TryGetInfo(reader, data, size);
    TPixelGraphic image;
    // The last byte picks the warning action, so both ways through a warning are explored.
    image.SetReadWarningAction(size > 0 && (data[size - 1] & 1) ? pgwaRaise : pgwaIgnore);
    TryRead(reader, data, size, image);
    return 0;
}

}  // namespace rastova::fuzz
