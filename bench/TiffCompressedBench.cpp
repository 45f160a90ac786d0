// LZW and Deflate TIFF reading of the 6000 x 4000 photo (horizontal predictor,
// 16 rows per strip, as scanners write them): our reader from memory beside
// libtiff decoding every strip of the same file. bytes_processed counts the
// image's pixel bytes (72 MB a pass).
#include "bench/BenchImages.h"
#include "formats/Tiff.h"
#include "image/Streams.h"

#include <benchmark/benchmark.h>

#ifdef RASTOVA_HAVE_LIBTIFF

#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

using namespace rastova;

namespace {

constexpr std::int64_t kPixelBytes = std::int64_t(bench::kPhotoWidth) * bench::kPhotoHeight * 3;

// The photo written by libtiff with the given compression, once per process;
// the file stays for libtiff to read, its bytes are kept for ours.
const std::string& PhotoFile(int compression)
{
    static std::map<int, std::string> files;
    std::string& file = files[compression];
    if (!file.empty())
        return file;
    file = "/tmp/rastova-bench-" + std::to_string(compression) + ".tif";
    const TPixelGraphic& photo = bench::Photo();
    TIFF* tif = TIFFOpen(file.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, bench::kPhotoWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, bench::kPhotoHeight);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, 2);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<std::uint8_t> row(std::size_t(bench::kPhotoWidth) * 3);
    for (int y = 0; y < bench::kPhotoHeight; ++y) {
        const std::uint8_t* p = photo.ScanLine(y);
        for (std::size_t i = 0; i < row.size(); i += 3) {
            row[i] = p[i + 2];
            row[i + 1] = p[i + 1];
            row[i + 2] = p[i];
        }
        TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0);
    }
    TIFFClose(tif);
    return file;
}

void BM_OurRead(benchmark::State& state)
{
    const std::string& file = PhotoFile(int(state.range(0)));
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TTIFFileFormatReader reader;
    TPixelGraphic image;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
        reader.Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
    state.SetBytesProcessed(state.iterations() * kPixelBytes);
    state.counters["file_MB"] = double(bytes.size()) / 1e6;
}

// Every strip decoded into one buffer; the file is memory-mapped by libtiff.
void BM_LibtiffDecode(benchmark::State& state)
{
    const std::string& file = PhotoFile(int(state.range(0)));
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    std::vector<std::uint8_t> strip(std::size_t(TIFFStripSize(tif)));
    const std::uint32_t strips = TIFFNumberOfStrips(tif);
    for (auto _ : state) {
        for (std::uint32_t s = 0; s < strips; ++s)
            TIFFReadEncodedStrip(tif, s, strip.data(), tmsize_t(strip.size()));
        benchmark::DoNotOptimize(strip.data());
    }
    TIFFClose(tif);
    state.SetBytesProcessed(state.iterations() * kPixelBytes);
}

}  // namespace

// Interleaved, so that both decoders see the same load on a shared machine.
BENCHMARK(BM_OurRead)->Arg(COMPRESSION_LZW)->ArgName("lzw")->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_LibtiffDecode)->Arg(COMPRESSION_LZW)->ArgName("lzw")->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_OurRead)->Arg(COMPRESSION_ADOBE_DEFLATE)->ArgName("deflate")->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_LibtiffDecode)->Arg(COMPRESSION_ADOBE_DEFLATE)->ArgName("deflate")->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

#endif  // RASTOVA_HAVE_LIBTIFF
