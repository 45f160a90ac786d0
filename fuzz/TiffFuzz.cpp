// TIFF reader on arbitrary bytes: signature, information and decoding, with the
// library defaults and again walking the whole IFD chain to read its last image.
#include "formats/Register.h"
#include "formats/Tiff.h"
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
        reader.Read(stream, image, imageIndex);
    } catch (const EPixelGraphic&) {
    }
    return count;
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
    return 0;
}
