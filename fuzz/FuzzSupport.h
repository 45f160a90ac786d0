// Steps the reader fuzz targets share: each runs CheckSignature, GetInfo and
// Read on the bytes in memory and lets through nothing but library errors.
#pragma once

#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rastova::fuzz {

inline bool CheckSignatureOf(TFileFormatReader& reader, const std::uint8_t* data, std::size_t size)
{
    TSignatureHeader header;
    header.Count = int(std::min<std::size_t>(size, TSignatureHeader::kSize));
    if (header.Count > 0)
        std::memcpy(header.Bytes.data(), data, std::size_t(header.Count));
    return reader.CheckSignature(header);
}

inline void TryGetInfo(TFileFormatReader& reader, const std::uint8_t* data, std::size_t size, int imageIndex = 0)
{
    try {
        TReadOnlyMemoryStream stream(data, size);
        TFileInfo info;
        reader.GetInfo(stream, imageIndex, info);
    } catch (const EPixelGraphic&) {
    }
}

// True when the whole image was read.
inline bool TryRead(TFileFormatReader& reader, const std::uint8_t* data, std::size_t size, TPixelGraphic& image,
                    int imageIndex = 0)
{
    try {
        TReadOnlyMemoryStream stream(data, size);
        reader.Read(stream, image, imageIndex);
        return true;
    } catch (const EPixelGraphic&) {
        return false;
    }
}

}  // namespace rastova::fuzz
