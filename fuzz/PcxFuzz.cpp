// PCX reader on arbitrary bytes: signature, information and decoding.
#include "formats/Pcx.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace rastova;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    TSignatureHeader header;
    header.Count = int(size < 17 ? size : 17);
    if (header.Count > 0)
        std::memcpy(header.Bytes.data(), data, std::size_t(header.Count));

    TPCXFileFormatReader reader;
    reader.CheckSignature(header);
    try {
        TReadOnlyMemoryStream stream(data, size);
        TFileInfo info;
        reader.GetInfo(stream, 0, info);
    } catch (const EPixelGraphic&) {
    }
    try {
        TReadOnlyMemoryStream stream(data, size);
        TPixelGraphic image;
        reader.Read(stream, image, 0);
    } catch (const EPixelGraphic&) {
    }
    return 0;
}
