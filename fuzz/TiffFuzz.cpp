// TIFF reader on arbitrary bytes: signature, information and decoding, with the
// library defaults and again walking the whole IFD chain to read its last image;
// then the LZW and Deflate strip decoders on the bytes themselves, in pieces.
#include "formats/Register.h"
#include "formats/Tiff.h"
#include "formats/TiffDecode.h"
#include "fuzz/FuzzSupport.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace rastova;

namespace {

int InfoAndRead(const std::uint8_t* data, std::size_t size, int imageIndex)
{
    TTIFFileFormatReader reader;
    int count = 0;
    try {
        TReadOnlyMemoryStream stream(data, size);
        TFileInfo info;
        reader.GetInfo(stream, imageIndex, info);
        count = info.ImageCount;
    } catch (const EPixelGraphic&) {
    }
    try {
        TReadOnlyMemoryStream stream(data, size);
        TPixelGraphic image;
        image.SetReadWarningAction(pgwaIgnore);
        image.SetBackGroundColor(RGBValue(0x12, 0x80, 0xFE));  // alpha is laid over it
        reader.Read(stream, image, imageIndex);
    } catch (const EPixelGraphic&) {
    }
    return count;
}

// Pulls up to a few times the input's size out of the decoder in uneven pieces.
void DrainDecoder(tiff::TStripDecoder& decoder, std::size_t size)
{
    std::uint8_t piece[4099];
    const std::size_t limit = 4 * size + 8192;
    std::size_t total = 0;
    for (std::size_t step = 1; total < limit; step = step * 7 % sizeof piece + 1) {
        const std::size_t n = decoder.Read(piece, step);
        total += n;
        if (n < step)
            break;
    }
}

void Decoders(const std::uint8_t* data, std::size_t size)
{
    try {
        tiff::TLzwDecoder lzw(data, size);
        DrainDecoder(lzw, size);
    } catch (const EPixelGraphic&) {
    }
    try {
        tiff::TInflateDecoder inflate(data, size);
        DrainDecoder(inflate, size);
    } catch (const EPixelGraphic&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    TTIFFileFormatReader reader;
    fuzz::CheckSignatureOf(reader, data, size);

    TIFFScanAllIFDs = false;
    InfoAndRead(data, size, 0);
    TIFFScanAllIFDs = true;
    const int count = InfoAndRead(data, size, 0);
    if (count > 1)
        InfoAndRead(data, size, count - 1);
    TIFFScanAllIFDs = false;
    Decoders(data, size);
    return 0;
}
