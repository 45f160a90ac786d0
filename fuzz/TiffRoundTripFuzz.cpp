// TIFF writer then reader on images built from the fuzz bytes: pixel format,
// size, palette, pixels and every writer setting come from the input. The
// reader must give back the colours written; anything else aborts.
#include "formats/Tiff.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace rastova;

namespace {

// The fuzz bytes as a source that repeats itself (zeros when there are none).
class TFuzzBytes {
public:
    TFuzzBytes(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint8_t Next()
    {
        if (m_size == 0)
            return 0;
        const std::uint8_t b = m_data[m_pos % m_size];
        ++m_pos;
        return b;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

[[noreturn]] void Mismatch(const char* what, int x, int y)
{
    std::fprintf(stderr, "TIFF round trip mismatch: %s at %d,%d\n", what, x, y);
    std::abort();
}

void BuildImage(TFuzzBytes& in, TPixelGraphic& image)
{
    static constexpr TBitCount kFormats[4] = {bc1, bc4, bc8, bc24};
    const std::uint8_t kind = in.Next();
    const TBitCount bitCount = kFormats[kind & 3];
    const int lo = in.Next();
    const int hi = in.Next();
    const int width = 1 + (lo | hi << 8) % 1500;
    const int height = 1 + in.Next() % 80;
    image.SetSize(width, height, bitCount);
    const bool gray = (kind & 4) != 0;
    if (bitCount == bc1) {
        image.SetPaletteIdent(pBlackWhite);
    } else if (bitCount != bc24 && gray) {
        image.SetPaletteIdent(bitCount == bc4 ? pGray16 : pGray256);
    } else if (bitCount != bc24) {
        const int count = 1 + in.Next() % image.PaletteCapacity();
        image.SetPaletteCount(count);
        for (int i = 0; i < count; ++i) {
            const std::uint8_t r = in.Next();
            const std::uint8_t g = in.Next();
            const std::uint8_t b = in.Next();
            image.SetPaletteColor(i, RGBValue(r, g, b));
        }
    }
    // Pixel values stay inside the palette; raw bytes give runs when the input has them.
    const std::uint32_t mask = bitCount == bc24 ? 0xFFFFFFu : std::uint32_t(image.PaletteCapacity() - 1);
    const std::uint32_t limit = bitCount == bc24 || bitCount == bc1 ? 0 : std::uint32_t(image.PaletteCount());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint32_t v = in.Next();
            if (bitCount == bc24)
                v |= std::uint32_t(in.Next()) << 8 | std::uint32_t(in.Next()) << 16;
            v &= mask;
            if (limit != 0)
                v %= limit;
            image.SetPixel(x, y, v);
        }
}

void ApplySettings(TFuzzBytes& in)
{
    const std::uint8_t s = in.Next();
    TIFFWriteCompression = (s & 1) ? 32773 : 1;
    TIFFWriteMotorola = (s & 2) != 0;
    TIFFWriteWhiteIsZero = (s & 4) != 0;
    TIFFWriteCMYK = (s & 8) != 0;
    TIFFWriteResolutionUnit = (s >> 4) % 3;
    TIFFWriteXResNum = in.Next();
    TIFFWriteYResDen = in.Next();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    TFuzzBytes in(data, size);
    ApplySettings(in);
    TPixelGraphic image;
    BuildImage(in, image);

    TMemoryStream stream;
    TTIFFileFormatWriter writer;
    TPixelGraphic back;
    try {
        // A few bytes in front: offsets must be relative to where the file starts.
        const std::uint8_t lead = in.Next() % 4;
        for (int i = 0; i < lead; ++i)
            stream.WriteByte(0xEE);
        writer.Write(stream, image);
        TReadOnlyMemoryStream file(stream.Memory(), std::size_t(stream.Size()));
        file.SetPosition(lead);
        TTIFFileFormatReader reader;
        reader.Read(file, back, 0);
    } catch (const EPixelGraphic& e) {
        std::fprintf(stderr, "TIFF round trip failed: %s\n", e.what());
        std::abort();
    }
    if (back.Width() != image.Width() || back.Height() != image.Height())
        Mismatch("size", back.Width(), back.Height());
    if (back.BitCount() != image.BitCount())
        Mismatch("pixel format", 0, 0);
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            if (back.GetColor(x, y) != image.GetColor(x, y))
                Mismatch("colour", x, y);
    return 0;
}
