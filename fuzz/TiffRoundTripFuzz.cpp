// TIFF writer then reader on images built from the fuzz bytes: pixel format,
// size, palette, pixels and every writer setting come from the input. The
// reader must give back the colours written; anything else aborts.
#include "formats/Register.h"
#include "formats/Tiff.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    // Rows are taken from the input as they are (runs in the input give PackBits
    // runs); palette indices are then brought inside the palette.
    const std::size_t rowBytes = (std::size_t(width) * std::size_t(image.BitCountNum()) + 7) / 8;
    const int limit = bitCount == bc4 || bitCount == bc8 ? image.PaletteCount() : 0;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.ScanLine(y);
        for (std::size_t i = 0; i < rowBytes; ++i)
            row[i] = in.Next();
        if (bitCount == bc8)
            for (int x = 0; x < width; ++x)
                row[x] = std::uint8_t(row[x] % limit);
        if (bitCount == bc4)
            for (int x = 0; x < width; ++x)
                image.SetPixel(x, y, image.GetPixel(x, y) % std::uint32_t(limit));
    }
}

void ApplySettings(TFuzzBytes& in)
{
    const std::uint8_t s = in.Next();
    TIFFWriteCompression = (s & 1) ? twcPackBits : twcNone;
    TIFFWriteMotorola = (s & 2) != 0;
    TIFFWriteWhiteIsZero = (s & 4) != 0;
    TIFFWriteCMYK = (s & 8) != 0;
    TIFFWriteResolutionUnit = TTIFFResolutionUnit((s >> 4) % 3);
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
    // Same indices (or colours) byte for byte, and the palette entries they name.
    for (int i = 0; i < image.PaletteCount(); ++i)
        if (back.GetPaletteColor(i) != image.GetPaletteColor(i))
            Mismatch("palette entry", i, 0);
    const int bits = image.BitCountNum();
    const std::size_t fullBytes = std::size_t(image.Width()) * std::size_t(bits) / 8;
    const int restBits = int((std::int64_t(image.Width()) * bits) % 8);
    for (int y = 0; y < image.Height(); ++y) {
        const std::uint8_t* a = image.ScanLine(y);
        const std::uint8_t* b = back.ScanLine(y);
        if (std::memcmp(a, b, fullBytes) != 0)
            Mismatch("row bytes", 0, y);
        const std::uint8_t mask = std::uint8_t(0xFF << (8 - restBits));
        if (restBits != 0 && ((a[fullBytes] ^ b[fullBytes]) & mask) != 0)
            Mismatch("last pixels of the row", image.Width() - 1, y);
    }
    return 0;
}
