// Strip encoders of the TIFF writer beyond PackBits: LZW and Deflate, and the
// horizontal differencing that makes photographs compress under both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rastova::tiff {

// TIFF's LZW as baseline readers and libtiff expect it: a ClearCode first,
// codes of 9 to 12 bits highest bit first, widened one code early, a new
// ClearCode when the table is full, EndOfInformation last.
std::vector<std::uint8_t> LzwEncode(const std::uint8_t* data, std::size_t size);

// zlib-wrapped Deflate (Compression 8) at level 0..9, or zlib's default for -1.
std::vector<std::uint8_t> DeflateEncode(const std::uint8_t* data, std::size_t size, int level);

// Horizontal differencing (Predictor 2) of one row of 8-bit samples, in place:
// every sample becomes its difference to the same sample of the pixel before.
void ApplyHorizontalPredictor(std::uint8_t* row, std::size_t bytes, int samplesPerPixel);

}  // namespace rastova::tiff
