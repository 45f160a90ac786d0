// GIF reader on arbitrary bytes: signature, information and decoding of the
// first two frames (the second makes the parse step over the first), once
// more with a progress handler that aborts part-way.
#include "formats/Gif.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace rastova;

namespace {

void ReadFrame(TFileFormatReader& reader, const std::uint8_t* data, std::size_t size, int index, int abortAtRow)
{
    try {
        TReadOnlyMemoryStream stream(data, size);
        TPixelGraphic image;
        if (abortAtRow > 0)
            image.SetOnProgress([abortAtRow](TObject*, int step, int, bool& abort) { abort = step >= abortAtRow; });
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

    tGifFileFormatReader reader;
    reader.CheckSignature(header);
    try {
        TReadOnlyMemoryStream stream(data, size);
        TFileInfo info;
        reader.GetInfo(stream, 0, info);
    } catch (const EPixelGraphic&) {
    }
    ReadFrame(reader, data, size, 0, 0);
    ReadFrame(reader, data, size, 1, 0);
    ReadFrame(reader, data, size, 0, size > 0 ? data[size - 1] % 8 + 1 : 1);
    return 0;
}
