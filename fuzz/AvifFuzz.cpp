// AVIF reader on arbitrary bytes.
#include "formats/Heif.h"
#include "fuzz/PhotoFuzz.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    rastova::TAVIFFileFormatReader reader;
    return rastova::fuzz::FuzzPhotoReader(reader, data, size);
}
