// Reading and writing a 6000 x 4000 true-colour Targa memory to memory. Rows
// move one read or write each, straight between the file and the image.
#include "BenchImages.h"

#include "formats/Tga.h"
#include "image/Streams.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace rastova;

namespace {

const std::vector<std::uint8_t>& PhotoTga()
{
    static const std::vector<std::uint8_t> bytes = [] {
        TMemoryStream stream;
        TTGAFileFormatWriter().Write(stream, const_cast<TPixelGraphic&>(bench::Photo()));
        return stream.Data();
    }();
    return bytes;
}

// As a load does it: a fresh image for every file.
void BM_TgaRead24(benchmark::State& state)
{
    PGInitialize();
    const std::vector<std::uint8_t>& file = PhotoTga();
    TTGAFileFormatReader reader;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(file.data(), file.size());
        TPixelGraphic image;
        reader.Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.size()));
}
BENCHMARK(BM_TgaRead24)->Unit(benchmark::kMillisecond);

// Into an image of the same size again (SetSize then clears instead of allocating).
void BM_TgaRead24Reused(benchmark::State& state)
{
    PGInitialize();
    const std::vector<std::uint8_t>& file = PhotoTga();
    TTGAFileFormatReader reader;
    TPixelGraphic image;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(file.data(), file.size());
        reader.Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.size()));
}
BENCHMARK(BM_TgaRead24Reused)->Unit(benchmark::kMillisecond);

void BM_TgaWrite24(benchmark::State& state)
{
    PGInitialize();
    TPixelGraphic& photo = const_cast<TPixelGraphic&>(bench::Photo());
    TTGAFileFormatWriter writer;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        TMemoryStream stream;
        writer.Write(stream, photo);
        bytes += stream.Size();
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_TgaWrite24)->Unit(benchmark::kMillisecond);

// The memory stream's own growth left out: the stream keeps its buffer.
void BM_TgaWrite24PresizedStream(benchmark::State& state)
{
    PGInitialize();
    TPixelGraphic& photo = const_cast<TPixelGraphic&>(bench::Photo());
    TTGAFileFormatWriter writer;
    TMemoryStream stream;
    stream.SetSize(std::int64_t(PhotoTga().size()));
    for (auto _ : state) {
        stream.SetPosition(0);
        writer.Write(stream, photo);
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * stream.Size());
}
BENCHMARK(BM_TgaWrite24PresizedStream)->Unit(benchmark::kMillisecond);

}  // namespace
