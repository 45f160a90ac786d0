// The PCX reader's byte source and scan-line decoder, on their own.
#pragma once

#include <cstdint>

namespace rastova {

class TStream;

// Bytes of the stream through a 1024-byte buffer; running dry raises
// EPGPCXFileFormatReader "PCX: Unexpected end of file".
class TPcxByteSource {
public:
    explicit TPcxByteSource(TStream& stream) : m_stream(stream) {}
    std::uint8_t Next();

private:
    static constexpr int kBufferSize = 1024;
    TStream& m_stream;
    std::uint8_t m_buffer[kBufferSize];
    int m_count = 0;
    int m_pos = 0;
};

// One scan line of length bytes. A byte with both top bits set is a run of
// (byte and 0x3F) copies of the next byte, any other byte stands for itself.
// Runs never continue into the next scan line: what reaches past the end is lost.
void DecodePcxScanLine(TPcxByteSource& source, std::uint8_t* line, int length);

}  // namespace rastova
