// Reading and writing a 6000 x 4000 true-colour BMP memory to memory. The
// pixel block moves in one piece (ten slices), so these run near memory speed.
#include "BenchImages.h"

#include "formats/Bmp.h"
#include "image/Streams.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace rastova;

namespace {

const std::vector<std::uint8_t>& PhotoBmp()
{
    static const std::vector<std::uint8_t> bytes = [] {
        TMemoryStream stream;
        TBMPFileFormatWriter().Write(stream, const_cast<TPixelGraphic&>(bench::Photo()));
        return stream.Data();
    }();
    return bytes;
}

// As a load does it: a fresh image for every file.
void BM_BmpRead24(benchmark::State& state)
{
    PGInitialize();
    const std::vector<std::uint8_t>& file = PhotoBmp();
    TBMPFileFormatReader reader;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(file.data(), file.size());
        TPixelGraphic image;
        reader.Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.size()));
}
BENCHMARK(BM_BmpRead24)->Unit(benchmark::kMillisecond);

// Into an image of the same size again (SetSize then clears instead of allocating).
void BM_BmpRead24Reused(benchmark::State& state)
{
    PGInitialize();
    const std::vector<std::uint8_t>& file = PhotoBmp();
    TBMPFileFormatReader reader;
    TPixelGraphic image;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(file.data(), file.size());
        reader.Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.size()));
}
BENCHMARK(BM_BmpRead24Reused)->Unit(benchmark::kMillisecond);

void BM_BmpWrite24(benchmark::State& state)
{
    PGInitialize();
    TPixelGraphic& photo = const_cast<TPixelGraphic&>(bench::Photo());
    TBMPFileFormatWriter writer;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        TMemoryStream stream;
        writer.Write(stream, photo);
        bytes += stream.Size();
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_BmpWrite24)->Unit(benchmark::kMillisecond);

// The memory stream's own growth left out: the stream keeps its buffer.
void BM_BmpWrite24PresizedStream(benchmark::State& state)
{
    PGInitialize();
    TPixelGraphic& photo = const_cast<TPixelGraphic&>(bench::Photo());
    TBMPFileFormatWriter writer;
    TMemoryStream stream;
    stream.SetSize(std::int64_t(PhotoBmp().size()));
    for (auto _ : state) {
        stream.SetPosition(0);
        writer.Write(stream, photo);
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * stream.Size());
}
BENCHMARK(BM_BmpWrite24PresizedStream)->Unit(benchmark::kMillisecond);

}  // namespace
