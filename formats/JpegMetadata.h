// The metadata segments of JPEG files: APP1 EXIF and XMP, APP2 ICC profile
// chunks, APP13 IPTC, comments, and the JFIF density.
#pragma once

#include "image/Metadata.h"

#include <cstdio>
#include <vector>
#include <jpeglib.h>

namespace rastova {

class TPixelGraphic;

// Asks the codec to keep the segments read below; call before jpeg_read_header.
void KeepJpegMetadataMarkers(jpeg_decompress_struct& info);

// Collects the kept segments and the density into metadata. damaged is set
// when a block had to be dropped (the caller warns).
void ReadJpegMetadata(const jpeg_decompress_struct& info, TImageMetadata& metadata, bool& damagedExif,
                      bool& damagedProfile);

// Sets the JFIF density from the resolution; call before jpeg_start_compress.
void SetJpegDensity(jpeg_compress_struct& info, const TImageResolution& resolution);
// The segments to write right after jpeg_start_compress, built beforehand so
// that the trapped codec call allocates nothing. Blocks too large for one
// segment (EXIF, XMP, IPTC) are left out; the profile is split.
struct TJpegSegment {
    int Marker = 0;
    TBytes Payload;
};
std::vector<TJpegSegment> JpegMetadataSegments(const TImageMetadata& metadata, int width, int height);

}  // namespace rastova
