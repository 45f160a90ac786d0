// CCITT bilevel coding of TIFF strips and tiles: Modified Huffman rows
// (Compression 2), T.4 one- and two-dimensional coding with EOLs (Group 3,
// Compression 3) and T.6 (Group 4, Compression 4).
#pragma once

#include <cstddef>
#include <cstdint>

namespace rastova::tiff {

enum class TFaxCoding : std::uint8_t {
    fcModifiedHuffman,  // 1D rows, each starting on a byte boundary, no EOLs
    fcGroup3,           // T.4: EOL before each row, 1D or (with the option) tagged 2D rows
    fcGroup4,           // T.6: 2D rows against the row above, no EOLs
};

struct TFaxOptions {
    TFaxCoding coding = TFaxCoding::fcGroup4;
    bool twoDimensional = false;  // T4Options bit 0 (Group 3 only)
};

// Decodes rows of width pixels into packed rows of rowBytes bytes, highest bit
// first, white runs as 0 bits and black runs as 1 bits (the photometric
// interpretation says which is which on screen). Data that does not decode
// raises EPGTIFFileFormatReader naming the row.
void DecodeFax(const std::uint8_t* data, std::size_t size, const TFaxOptions& options, int width, int rows,
               std::uint8_t* out, std::size_t rowBytes);

// The run-length code tables as (length, code, run) for tests that check them
// for being prefix-free: white first, then black.
struct TFaxCode {
    std::uint8_t length;
    std::uint16_t code;
    std::uint16_t run;
};
std::size_t FaxCodes(bool black, const TFaxCode** codes);

}  // namespace rastova::tiff
