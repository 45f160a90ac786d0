// GIF reader on arbitrary bytes: signature, information and decoding of the
// first two frames (the second makes the parse step over the first), once
// more with a progress handler that aborts part-way.
#include "formats/Gif.h"
#include "formats/Register.h"
#include "fuzz/FuzzSupport.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace rastova;

namespace {

void ReadFrame(TFileFormatReader& reader, const std::uint8_t* data, std::size_t size, int index, int abortAtRow)
{
    TPixelGraphic image;
    if (abortAtRow > 0)
        image.SetOnProgress([abortAtRow](TObject*, int step, int, bool& abort) { abort = step >= abortAtRow; });
    fuzz::TryRead(reader, data, size, image, index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    tGifFileFormatReader reader;
    fuzz::CheckSignatureOf(reader, data, size);
    fuzz::TryGetInfo(reader, data, size);
    ReadFrame(reader, data, size, 0, 0);
    ReadFrame(reader, data, size, 1, 0);
    ReadFrame(reader, data, size, 0, size > 0 ? data[size - 1] % 8 + 1 : 1);
    return 0;
}
