// JPEG-compressed TIFF strips and tiles (Compression 7) through libjpeg: each
// strip or tile is an abbreviated JPEG stream whose tables may come from the
// JPEGTables tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rastova::tiff {

struct TJpegChunk {
    const std::vector<std::uint8_t>* tables = nullptr;  // JPEGTables, may be empty
    int photometric = 0;  // YCbCr is converted to RGB, RGB, gray and CMYK are taken as they are
    int samples = 0;      // components the chunk must have
    int width = 0;        // of the strip or tile
    int rows = 0;
    bool bgr = false;     // colour delivered as blue, green, red
};

// Decodes data into width x rows pixels of samples bytes each (rows of
// width x samples bytes, top first). Parts of the chunk the JPEG stream does
// not cover stay as they were. Errors raise EPGTIFFileFormatReader.
void DecodeJpegChunk(const TJpegChunk& chunk, const std::uint8_t* data, std::size_t size, std::uint8_t* out);

// Decodes a whole interchange-format JPEG stream (old-style Compression 6 with
// JPEGInterchangeFormat) the same way, its size as the chunk says.
void DecodeJpegStream(const TJpegChunk& chunk, const std::uint8_t* data, std::size_t size, std::uint8_t* out);

}  // namespace rastova::tiff
