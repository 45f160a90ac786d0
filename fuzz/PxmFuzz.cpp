// PBM/PGM/PPM reader on arbitrary bytes: signature, information and decoding.
#include "formats/Pxm.h"
#include "formats/Register.h"
#include "fuzz/FuzzSupport.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace rastova;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    TPPMFileFormatReader reader;  // every variant is decoded by the shared reader
    fuzz::CheckSignatureOf(reader, data, size);
    fuzz::TryGetInfo(reader, data, size);
    TPixelGraphic image;
    fuzz::TryRead(reader, data, size, image);
    return 0;
}
