// Colour resolution conversions of a 6000 x 4000 photo-like picture, single thread.
#include "bench/BenchImages.h"
#include "image/PGraphic.h"

#include <benchmark/benchmark.h>

using namespace rastova;
using rastova::bench::Photo;

namespace {

void SetPixelsProcessed(benchmark::State& state, const TPixelGraphic& image)
{
    state.SetItemsProcessed(state.iterations() * std::int64_t(image.Width()) * image.Height());
}

// The converter's "256 colors": optimal palette with system colours, dithered copy.
void BM_CopyFrom24To8OptimalPalette(benchmark::State& state)
{
    const TPixelGraphic& source = Photo();
    TPixelGraphic target;
    target.SetSize(source.Width(), source.Height(), bc8);
    target.CreateOptimalPalette(source, 256, true);
    for (auto _ : state) {
        state.PauseTiming();
        target.ClearColorCache();  // every conversion starts with an empty cache
        state.ResumeTiming();
        target.CopyFrom(source);
        benchmark::DoNotOptimize(target.ScanLine(0));
    }
    SetPixelsProcessed(state, source);
}
BENCHMARK(BM_CopyFrom24To8OptimalPalette)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_CreateOptimalPalette256(benchmark::State& state)
{
    const TPixelGraphic& source = Photo();
    TPixelGraphic target;
    target.SetSize(source.Width(), source.Height(), bc8);
    for (auto _ : state) {
        target.CreateOptimalPalette(source, 256, true);
        benchmark::DoNotOptimize(target.PaletteColors());
    }
    SetPixelsProcessed(state, source);
}
BENCHMARK(BM_CreateOptimalPalette256)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void ConvertTo(benchmark::State& state, TBitCount bitCount, TPaletteIdent ident)
{
    const TPixelGraphic& source = Photo();
    TPixelGraphic target;
    target.SetSize(source.Width(), source.Height(), bitCount);
    target.SetPaletteIdent(ident);
    for (auto _ : state) {
        target.CopyFrom(source);
        benchmark::DoNotOptimize(target.ScanLine(0));
    }
    SetPixelsProcessed(state, source);
}

void BM_CopyFrom24ToBlackWhiteDithered(benchmark::State& state)
{
    ConvertTo(state, bc1, pBlackWhite);
}
BENCHMARK(BM_CopyFrom24ToBlackWhiteDithered)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_CopyFrom24ToGray256Dithered(benchmark::State& state)
{
    ConvertTo(state, bc8, pGray256);
}
BENCHMARK(BM_CopyFrom24ToGray256Dithered)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_CopyFrom24ToSys16Dithered(benchmark::State& state)
{
    ConvertTo(state, bc4, pSys16);
}
BENCHMARK(BM_CopyFrom24ToSys16Dithered)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_CopyFrom24ToGray16Dithered(benchmark::State& state)
{
    ConvertTo(state, bc4, pGray16);
}
BENCHMARK(BM_CopyFrom24ToGray16Dithered)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_CopyFrom24ToSpecial252Dithered(benchmark::State& state)
{
    ConvertTo(state, bc8, pSpecial252);
}
BENCHMARK(BM_CopyFrom24ToSpecial252Dithered)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
