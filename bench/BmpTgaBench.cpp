// Reading and writing a 6000 x 4000 true-colour BMP and Targa memory to memory.
// BMP moves its pixel block in one piece (ten slices), Targa one row at a time,
// straight between the file and the image, so both run near memory speed.
#include "BenchImages.h"

#include "formats/Bmp.h"
#include "formats/Register.h"
#include "formats/Tga.h"
#include "image/Streams.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace rastova;

namespace {

template <class Writer>
const std::vector<std::uint8_t>& PhotoFile()
{
    static const std::vector<std::uint8_t> bytes = [] {
        TMemoryStream stream;
        Writer().Write(stream, const_cast<TPixelGraphic&>(bench::Photo()));
        return stream.Data();
    }();
    return bytes;
}

// As a load does it: a fresh image for every file.
template <class Reader, class Writer>
void BM_Read24(benchmark::State& state)
{
    PGInitialize();
    const std::vector<std::uint8_t>& file = PhotoFile<Writer>();
    Reader reader;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(file.data(), file.size());
        TPixelGraphic image;
        reader.Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.size()));
}

// Into an image of the same size again (SetSize then clears instead of allocating).
template <class Reader, class Writer>
void BM_Read24Reused(benchmark::State& state)
{
    PGInitialize();
    const std::vector<std::uint8_t>& file = PhotoFile<Writer>();
    Reader reader;
    TPixelGraphic image;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(file.data(), file.size());
        reader.Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.size()));
}

template <class Writer>
void BM_Write24(benchmark::State& state)
{
    PGInitialize();
    TPixelGraphic& photo = const_cast<TPixelGraphic&>(bench::Photo());
    Writer writer;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        TMemoryStream stream;
        writer.Write(stream, photo);
        bytes += stream.Size();
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(bytes);
}

// The memory stream's own growth left out: the stream keeps its buffer.
template <class Writer>
void BM_Write24PresizedStream(benchmark::State& state)
{
    PGInitialize();
    TPixelGraphic& photo = const_cast<TPixelGraphic&>(bench::Photo());
    Writer writer;
    TMemoryStream stream;
    stream.SetSize(std::int64_t(PhotoFile<Writer>().size()));
    for (auto _ : state) {
        stream.SetPosition(0);
        writer.Write(stream, photo);
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * stream.Size());
}

BENCHMARK_TEMPLATE(BM_Read24, TBMPFileFormatReader, TBMPFileFormatWriter)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Read24Reused, TBMPFileFormatReader, TBMPFileFormatWriter)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Write24, TBMPFileFormatWriter)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Write24PresizedStream, TBMPFileFormatWriter)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Read24, TTGAFileFormatReader, TTGAFileFormatWriter)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Read24Reused, TTGAFileFormatReader, TTGAFileFormatWriter)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Write24, TTGAFileFormatWriter)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Write24PresizedStream, TTGAFileFormatWriter)->Unit(benchmark::kMillisecond);

}  // namespace
