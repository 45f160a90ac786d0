// The Targa reader's byte source and run-length decoder, on their own.
#pragma once

#include "formats/ByteSource.h"

#include <cstdint>

namespace rastova {

class TStream;

// Raises EPGTGAFileFormatReader "TGA: Unexpected end of file".
[[noreturn]] void FailTgaEndOfData();

// Running dry raises the Targa end-of-file error.
class TTgaByteSource : public TBufferedByteSource {
public:
    explicit TTgaByteSource(TStream& stream) : TBufferedByteSource(stream, &FailTgaEndOfData) {}
};

// Run-length packets: a header byte h, n = (h and 0x7F) + 1 pixels; with bit 7
// one pixel repeated n times, else n pixels as stored. A packet that reaches past
// the end of a row goes on in the next row, as many writers produce them.
class TTgaRleDecoder {
public:
    TTgaRleDecoder(TTgaByteSource& source, int bytesPerPixel) : m_source(source), m_bytesPerPixel(bytesPerPixel) {}
    // Fills width pixels of bytesPerPixel bytes each.
    void DecodeRow(std::uint8_t* row, int width);

private:
    TTgaByteSource& m_source;
    int m_bytesPerPixel;
    int m_repeat = 0;   // pixels of the current repeat packet still to come
    int m_literal = 0;  // pixels of the current raw packet still to come
    std::uint8_t m_pixel[4] = {};
};

}  // namespace rastova
