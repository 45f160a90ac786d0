// Icon reader on arbitrary bytes: signature, information and decoding of the
// first two directory entries, as true colour and as palette images.
#include "formats/Ico.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace rastova;

namespace {

void ReadEntry(TFileFormatReader& reader, const std::uint8_t* data, std::size_t size, int index)
{
    try {
        TReadOnlyMemoryStream stream(data, size);
        TPixelGraphic image;
        reader.Read(stream, image, index);
    } catch (const EPixelGraphic&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    TSignatureHeader header;
    header.Count = int(size < 17 ? size : 17);
    std::memcpy(header.Bytes.data(), data, std::size_t(header.Count));

    tIcoFileFormatReader reader;
    reader.CheckSignature(header);
    try {
        TReadOnlyMemoryStream stream(data, size);
        TFileInfo info;
        reader.GetInfo(stream, 0, info);
    } catch (const EPixelGraphic&) {
    }
    IcoTrueColor = true;
    ReadEntry(reader, data, size, 0);
    ReadEntry(reader, data, size, 1);
    IcoTrueColor = false;
    ReadEntry(reader, data, size, 0);
    IcoTrueColor = true;
    return 0;
}
