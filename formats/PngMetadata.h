// The metadata chunks of PNG files: eXIf, iTXt XML:com.adobe.xmp, iCCP, pHYs
// and tEXt/iTXt comments.
#pragma once

#include "image/Metadata.h"

namespace rastova {

class TStream;

struct TPngMetadataDamage {
    bool exif = false;
    bool profile = false;
};

// Walks the chunks from the signature at the stream position to IEND (the
// image data is passed over by seeking) and collects what they hold. The
// stream is put back. A chunk with a wrong checksum or content is dropped.
TPngMetadataDamage ReadPngMetadata(TStream& stream, TImageMetadata& metadata);

// The chunk payloads the writer hands to libpng, built before the trapped call.
struct TPngMetadataChunks {
    TBytes exif;
    TBytes profile;
    std::string xmp;
    std::vector<std::string> comments;
    bool physical = false;
    std::uint32_t xPerMetre = 0;
    std::uint32_t yPerMetre = 0;
};
TPngMetadataChunks PngMetadataChunks(const TImageMetadata& metadata, int width, int height);

}  // namespace rastova
