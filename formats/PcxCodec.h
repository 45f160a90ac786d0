// The PCX reader's byte source and scan-line decoder, on their own.
#pragma once

#include "formats/ByteSource.h"

#include <cstdint>

namespace rastova {

class TStream;

// Raises EPGPCXFileFormatReader "PCX: Unexpected end of file".
[[noreturn]] void FailPcxEndOfData();

// Running dry raises the PCX end-of-file error.
class TPcxByteSource : public TBufferedByteSource {
public:
    explicit TPcxByteSource(TStream& stream) : TBufferedByteSource(stream, &FailPcxEndOfData) {}
};

// One scan line of length bytes. A byte with both top bits set is a run of
// (byte and 0x3F) copies of the next byte, any other byte stands for itself.
// Runs never continue into the next scan line: what reaches past the end is lost.
void DecodePcxScanLine(TPcxByteSource& source, std::uint8_t* line, int length);

}  // namespace rastova
