// Mirror, rotation and resampling of a 6000 x 4000 photo-like picture, single thread.
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

// The converter's rotations: the target made 24-bit, then turned about the
// pivots that map every pixel.
void RotateLikeConverter(benchmark::State& state, int rotation, const TPixelGraphic& source = Photo())
{
    const int w = source.Width(), h = source.Height();
    const int ew = w % 2 == 0, eh = h % 2 == 0;
    TPixelGraphic target;
    // Every target pixel is written, so the target is made once; a source
    // with alpha keeps it, as in the converter.
    const TBitCount format = source.HasAlpha() ? bc32 : bc24;
    if (rotation == 180)
        target.SetSize(w, h, format);
    else
        target.SetSize(h, w, format);
    for (auto _ : state) {
        if (rotation == 180)
            target.Rotate(source, 0, 0, w, h, w / 2, h / 2, w / 2 - ew, h / 2 - eh, 180);
        else if (rotation == 90)
            target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2 - eh, w / 2, 90);
        else
            target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2, w / 2 - ew, -90);
        benchmark::DoNotOptimize(target.ScanLine(0));
    }
    SetPixelsProcessed(state, source);
}

void BM_Rotate90(benchmark::State& state)
{
    RotateLikeConverter(state, 90);
}
BENCHMARK(BM_Rotate90)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_RotateMinus90(benchmark::State& state)
{
    RotateLikeConverter(state, -90);
}
BENCHMARK(BM_RotateMinus90)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Rotate180(benchmark::State& state)
{
    RotateLikeConverter(state, 180);
}
BENCHMARK(BM_Rotate180)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The photo as an 8-bit gray picture, as a gray JPEG loads.
const TPixelGraphic& GrayPhoto()
{
    static const TPixelGraphic* gray = [] {
        auto* image = new TPixelGraphic;
        image->SetSize(Photo().Width(), Photo().Height(), bc8);
        image->SetPaletteIdent(pGray256);
        image->CopyFrom(Photo());
        return image;
    }();
    return *gray;
}

void BM_Rotate90Gray8(benchmark::State& state)
{
    RotateLikeConverter(state, 90, GrayPhoto());
}
BENCHMARK(BM_Rotate90Gray8)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_RotateMinus90Gray8(benchmark::State& state)
{
    RotateLikeConverter(state, -90, GrayPhoto());
}
BENCHMARK(BM_RotateMinus90Gray8)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Rotate180Gray8(benchmark::State& state)
{
    RotateLikeConverter(state, 180, GrayPhoto());
}
BENCHMARK(BM_Rotate180Gray8)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The photo with an alpha channel: a gradient across, as a logo's soft edges.
const TPixelGraphic& AlphaPhoto()
{
    static const TPixelGraphic* alpha = [] {
        auto* image = new TPixelGraphic;
        image->SetSize(Photo().Width(), Photo().Height(), bc32);
        image->CopyFrom(Photo());
        for (int y = 0; y < image->Height(); ++y)
            for (int x = 0; x < image->Width(); ++x)
                image->ScanLine(y)[4 * x + 3] = std::uint8_t(x * 255 / image->Width());
        return image;
    }();
    return *alpha;
}

void BM_Rotate90Alpha32(benchmark::State& state)
{
    RotateLikeConverter(state, 90, AlphaPhoto());
}
BENCHMARK(BM_Rotate90Alpha32)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_RotateMinus90Alpha32(benchmark::State& state)
{
    RotateLikeConverter(state, -90, AlphaPhoto());
}
BENCHMARK(BM_RotateMinus90Alpha32)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Rotate180Alpha32(benchmark::State& state)
{
    RotateLikeConverter(state, 180, AlphaPhoto());
}
BENCHMARK(BM_Rotate180Alpha32)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Rotate30Bilinear(benchmark::State& state)
{
    const TPixelGraphic& source = Photo();
    TPixelGraphic target;
    target.SetSize(source.Width(), source.Height(), bc24);
    for (auto _ : state) {
        target.Rotate(source, 0, 0, source.Width(), source.Height(), 3000, 2000, 3000, 2000, 30);
        benchmark::DoNotOptimize(target.ScanLine(0));
    }
    SetPixelsProcessed(state, source);
}
BENCHMARK(BM_Rotate30Bilinear)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_MirrorHorizontal(benchmark::State& state)
{
    TPixelGraphic image;
    image.Assign(&Photo());
    for (auto _ : state) {
        image.MirrorHorizontal();
        benchmark::DoNotOptimize(image.ScanLine(0));
    }
    SetPixelsProcessed(state, image);
}
BENCHMARK(BM_MirrorHorizontal)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_MirrorHorizontalAlpha32(benchmark::State& state)
{
    TPixelGraphic image;
    image.Assign(&AlphaPhoto());
    for (auto _ : state) {
        image.MirrorHorizontal();
        benchmark::DoNotOptimize(image.ScanLine(0));
    }
    SetPixelsProcessed(state, image);
}
BENCHMARK(BM_MirrorHorizontalAlpha32)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_MirrorVertical(benchmark::State& state)
{
    TPixelGraphic image;
    image.Assign(&Photo());
    for (auto _ : state) {
        image.MirrorVertical();
        benchmark::DoNotOptimize(image.ScanLine(0));
    }
    SetPixelsProcessed(state, image);
}
BENCHMARK(BM_MirrorVertical)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Counted in source pixels (the picture being shrunk).
void Shrink(benchmark::State& state, int divisor, TStretchMode mode, const TPixelGraphic& source = Photo())
{
    TPixelGraphic target;
    target.SetSize(source.Width() / divisor, source.Height() / divisor, source.HasAlpha() ? bc32 : bc24);
    target.SetStretchMode(mode);
    for (auto _ : state) {
        target.CopyFrom(source);
        benchmark::DoNotOptimize(target.ScanLine(0));
    }
    SetPixelsProcessed(state, source);
}

void BM_ShrinkToQuarterAreaPrecise(benchmark::State& state)
{
    Shrink(state, 2, smPrecise);
}
BENCHMARK(BM_ShrinkToQuarterAreaPrecise)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ShrinkToQuarterAreaPreciseAlpha32(benchmark::State& state)
{
    Shrink(state, 2, smPrecise, AlphaPhoto());
}
BENCHMARK(BM_ShrinkToQuarterAreaPreciseAlpha32)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ShrinkToQuarterSidesPrecise(benchmark::State& state)
{
    Shrink(state, 4, smPrecise);
}
BENCHMARK(BM_ShrinkToQuarterSidesPrecise)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Counted in target pixels (the picture being made).
void BM_EnlargeTwiceMedium(benchmark::State& state)
{
    TPixelGraphic source;
    rastova::bench::MakePhoto(source, 3000, 2000);
    TPixelGraphic target;
    target.SetSize(6000, 4000, bc24);
    target.SetStretchMode(smMedium);
    for (auto _ : state) {
        target.CopyFrom(source);
        benchmark::DoNotOptimize(target.ScanLine(0));
    }
    SetPixelsProcessed(state, target);
}
BENCHMARK(BM_EnlargeTwiceMedium)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
