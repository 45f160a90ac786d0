// Metadata kept through a save and a load must cost nothing next to the
// codec: JPEG and PNG coding with and without a camera's blocks, side by side.
// And the sRGB conversion of a 24-Mpx Adobe RGB photo, the price of a target
// without profiles (goal: 0.3 s on one core).
#include "bench/BenchImages.h"
#include "formats/Jpeg.h"
#include "formats/Png.h"
#include "image/ColorProfile.h"
#include "image/Streams.h"
#include "tests/support/IccProfiles.h"

#include <benchmark/benchmark.h>

using namespace rastova;

namespace {

constexpr int kCodedWidth = 3000;
constexpr int kCodedHeight = 2000;


// What a camera writes: a large EXIF block (maker notes, thumbnail), XMP and a profile.
TImageMetadata CameraMetadata()
{
    TImageMetadata metadata;
    metadata.Exif = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    metadata.Exif.resize(60000, 0x33);
    metadata.Xmp.assign(8000, 'x');
    metadata.IccProfile = test::AdobeRgbProfile();
    metadata.Resolution = {300, 300, ruInch};
    return metadata;
}

TPixelGraphic& Coded(bool withMetadata)
{
    static TPixelGraphic plain, tagged;
    if (plain.GetEmpty()) {
        bench::MakePhoto(plain, kCodedWidth, kCodedHeight);
        tagged.Assign(&plain);
        tagged.SetMetadata(CameraMetadata());
    }
    return withMetadata ? tagged : plain;
}

template <class TWriter, class TReader>
void SaveAndLoad(benchmark::State& state)
{
    TPixelGraphic& image = Coded(state.range(0) != 0);
    TPixelGraphic back;
    for (auto _ : state) {
        TMemoryStream stream;
        TWriter().Write(stream, image);
        stream.SetPosition(0);
        TReader().Read(stream, back, 0);
        benchmark::DoNotOptimize(back.Bits());
    }
    state.SetLabel(state.range(0) ? "with metadata" : "without");
}

void BM_JpegSaveLoad(benchmark::State& state) { SaveAndLoad<TJPGFileFormatWriter, TJPGFileFormatReader>(state); }
void BM_PngSaveLoad(benchmark::State& state) { SaveAndLoad<TPNGFileFormatWriter, TPNGFileFormatReader>(state); }

void BM_AdobeRgbToSrgb24Mpx(benchmark::State& state)
{
    const TBytes profile = test::AdobeRgbProfile();
    TPixelGraphic image;
    image.Assign(&bench::Photo());
    for (auto _ : state)
        benchmark::DoNotOptimize(ConvertToSRGB(image, profile));
    state.SetItemsProcessed(state.iterations() * std::int64_t(image.Width()) * image.Height());
}

// What a reader adds per file that carries a profile: lcms's look at it.
void BM_AcceptProfile(benchmark::State& state)
{
    const TBytes profile = test::AdobeRgbProfile();
    for (auto _ : state) {
        TImageMetadata metadata;
        benchmark::DoNotOptimize(AcceptProfile(metadata, profile));
    }
}

}  // namespace

BENCHMARK(BM_AcceptProfile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JpegSaveLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngSaveLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdobeRgbToSrgb24Mpx)->Unit(benchmark::kMillisecond);
