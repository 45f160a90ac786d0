// TIFF writing and reading of a 6000 x 4000 24-bit image in memory, uncompressed,
// PackBits, LZW and Deflate (5, 8). bytes_processed counts the image's pixel bytes (72 MB a pass).
#include "formats/Tiff.h"
#include "image/Streams.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

using namespace rastova;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr std::int64_t kPixelBytes = std::int64_t(kWidth) * kHeight * 3;

// Left half flat gray blocks (long PackBits runs), right half noise (literals).
const TPixelGraphic& TestImage()
{
    static TPixelGraphic image;
    if (image.GetEmpty()) {
        image.SetSize(kWidth, kHeight, bc24);
        std::mt19937 random(42);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = image.ScanLine(y);
            for (int x = 0; x < kWidth; ++x) {
                std::uint8_t* p = row + 3 * x;
                if (x < kWidth / 2) {
                    const std::uint8_t v = std::uint8_t((x / 64) * 7 + (y / 64) * 13);
                    p[0] = p[1] = p[2] = v;
                } else {
                    const std::uint32_t r = random();
                    p[0] = std::uint8_t(r);
                    p[1] = std::uint8_t(r >> 8);
                    p[2] = std::uint8_t(r >> 16);
                }
            }
        }
    }
    return image;
}

struct TCompressionSetting {
    explicit TCompressionSetting(TTIFFWriteCompression compression) : saved(TIFFWriteCompression)
    {
        TIFFWriteCompression = compression;
    }
    ~TCompressionSetting() { TIFFWriteCompression = saved; }
    TTIFFWriteCompression saved;
};

void BM_TiffWrite(benchmark::State& state)
{
    TCompressionSetting setting(TTIFFWriteCompression(state.range(0)));
    TPixelGraphic& image = const_cast<TPixelGraphic&>(TestImage());
    TTIFFileFormatWriter writer;
    TMemoryStream stream;
    for (auto _ : state) {
        stream.SetPosition(0);  // keep the memory: measure the writer, not the allocator
        writer.Write(stream, image);
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(state.iterations() * kPixelBytes);
    state.counters["file_MB"] = double(stream.Position()) / 1e6;
}

void BM_TiffRead(benchmark::State& state)
{
    TCompressionSetting setting(TTIFFWriteCompression(state.range(0)));
    TPixelGraphic& source = const_cast<TPixelGraphic&>(TestImage());
    TMemoryStream file;
    TTIFFileFormatWriter().Write(file, source);
    TTIFFileFormatReader reader;
    TPixelGraphic image;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(file.Memory(), std::size_t(file.Size()));
        reader.Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
    state.SetBytesProcessed(state.iterations() * kPixelBytes);
}

}  // namespace

BENCHMARK(BM_TiffWrite)->Arg(1)->Arg(32773)->Arg(5)->Arg(8)->ArgName("compression")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TiffRead)->Arg(1)->Arg(32773)->Arg(5)->Arg(8)->ArgName("compression")->Unit(benchmark::kMillisecond)->UseRealTime();
