// Icon reader on arbitrary bytes: signature, information and decoding of the
// first three directory entries (palette, 24-bit, 32-bit with alpha over a
// background, PNG-compressed), as true colour and as palette images.
#include "formats/Ico.h"
#include "formats/Register.h"
#include "fuzz/FuzzSupport.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace rastova;

namespace {

void ReadEntry(TFileFormatReader& reader, const std::uint8_t* data, std::size_t size, int index)
{
    TPixelGraphic image;
    image.SetBackGroundColor(RGBValue(0x20, 0x90, 0xF0));
    fuzz::TryRead(reader, data, size, image, index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    tIcoFileFormatReader reader;
    fuzz::CheckSignatureOf(reader, data, size);
    fuzz::TryGetInfo(reader, data, size);
    IcoTrueColor = true;
    ReadEntry(reader, data, size, 0);
    ReadEntry(reader, data, size, 1);
    ReadEntry(reader, data, size, 2);
    IcoTrueColor = false;
    ReadEntry(reader, data, size, 0);
    IcoTrueColor = true;
    return 0;
}
