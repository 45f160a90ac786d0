// Tiled, JPEG-compressed and Group 4 TIFF reading: our reader from memory
// beside libtiff decoding every tile or strip of the same file (JPEG to RGB, as
// we deliver it). The photo is 3000 x 2000 (18 MB of pixels a pass); the fax
// page is an A4 page at 300 dpi (2480 x 3508) of text-like lines.
#include "bench/BenchImages.h"
#include "formats/Tiff.h"
#include "image/Streams.h"

#include <benchmark/benchmark.h>

#ifdef RASTOVA_HAVE_LIBTIFF

#include <tiffio.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace rastova;

namespace {

constexpr int kWidth = 3000;
constexpr int kHeight = 2000;
constexpr int kPageWidth = 2480;
constexpr int kPageHeight = 3508;

enum TKind { kTiledRgb = 1, kTiledLzw, kJpegStrips, kJpegTiles, kGroup4 };

const TPixelGraphic& SmallPhoto()
{
    static const TPixelGraphic* photo = [] {
        auto* image = new TPixelGraphic;
        bench::MakePhoto(*image, kWidth, kHeight);
        return image;
    }();
    return *photo;
}

// Lines of word-like black blocks on white, as a scanned letter looks.
std::vector<std::uint8_t> PageRow(int y, std::mt19937& random)
{
    std::vector<std::uint8_t> row(std::size_t(kPageWidth + 7) / 8, 0);
    if (y % 50 >= 30 || y < 200 || y > kPageHeight - 200)
        return row;
    for (int x = 150; x < kPageWidth - 150;) {
        const int word = 20 + int(random() % 120);
        for (int i = x; i < std::min(x + word, kPageWidth - 150); ++i)
            if (random() % 4 != 0)
                row[std::size_t(i) / 8] |= std::uint8_t(0x80 >> (i % 8));
        x += word + 15 + int(random() % 20);
    }
    return row;
}

void WriteFile(const std::string& file, TKind kind)
{
    TIFF* tif = TIFFOpen(file.c_str(), "w");
    const bool fax = kind == kGroup4;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, fax ? kPageWidth : kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, fax ? kPageHeight : kHeight);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, fax ? 1 : 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, fax ? 1 : 8);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    const bool jpeg = kind == kJpegStrips || kind == kJpegTiles;
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, fax ? PHOTOMETRIC_MINISWHITE : jpeg ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, fax ? COMPRESSION_CCITTFAX4 : jpeg ? COMPRESSION_JPEG
                                          : kind == kTiledLzw ? COMPRESSION_LZW : COMPRESSION_NONE);
    if (jpeg) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 85);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    const bool tiled = kind == kTiledRgb || kind == kTiledLzw || kind == kJpegTiles;
    if (fax) {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kPageHeight);
        std::mt19937 random(7);
        for (int y = 0; y < kPageHeight; ++y) {
            std::vector<std::uint8_t> row = PageRow(y, random);
            TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0);
        }
        TIFFClose(tif);
        return;
    }
    std::vector<std::uint8_t> rgb(std::size_t(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* p = SmallPhoto().ScanLine(y);
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                rgb[(std::size_t(y) * kWidth + std::size_t(x)) * 3 + std::size_t(c)] = p[3 * x + 2 - c];
    }
    if (!tiled) {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
        for (int y = 0; y < kHeight; ++y)
            TIFFWriteScanline(tif, rgb.data() + std::size_t(y) * kWidth * 3, std::uint32_t(y), 0);
        TIFFClose(tif);
        return;
    }
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 256);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 256);
    std::vector<std::uint8_t> tile(256 * 256 * 3);
    for (int ty = 0; ty < kHeight; ty += 256)
        for (int tx = 0; tx < kWidth; tx += 256) {
            for (int y = 0; y < 256; ++y)
                for (int x = 0; x < 256; ++x)
                    for (int c = 0; c < 3; ++c)
                        tile[(std::size_t(y) * 256 + std::size_t(x)) * 3 + std::size_t(c)] =
                            tx + x < kWidth && ty + y < kHeight
                                ? rgb[(std::size_t(ty + y) * kWidth + std::size_t(tx + x)) * 3 + std::size_t(c)]
                                : 0;
            TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, std::uint32_t(tx), std::uint32_t(ty), 0, 0), tile.data(),
                                 tmsize_t(tile.size()));
        }
    TIFFClose(tif);
}

const std::string& File(TKind kind)
{
    static std::map<int, std::string> files;
    std::string& file = files[kind];
    if (file.empty()) {
        file = "/tmp/rastova-bench-layout-" + std::to_string(kind) + ".tif";
        WriteFile(file, kind);
    }
    return file;
}

std::int64_t PixelBytes(TKind kind)
{
    return kind == kGroup4 ? std::int64_t(kPageWidth + 7) / 8 * kPageHeight : std::int64_t(kWidth) * kHeight * 3;
}

void BM_OurRead(benchmark::State& state)
{
    const TKind kind = TKind(state.range(0));
    std::ifstream in(File(kind), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TTIFFileFormatReader reader;
    TPixelGraphic image;
    for (auto _ : state) {
        TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
        reader.Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
    state.SetBytesProcessed(state.iterations() * PixelBytes(kind));
}

// Every tile or strip decoded into one buffer; the file is memory-mapped by libtiff.
void BM_LibtiffDecode(benchmark::State& state)
{
    const TKind kind = TKind(state.range(0));
    TIFF* tif = TIFFOpen(File(kind).c_str(), "r");
    if (kind == kJpegStrips || kind == kJpegTiles)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const bool tiled = TIFFIsTiled(tif) != 0;
    std::vector<std::uint8_t> buffer(std::size_t(tiled ? TIFFTileSize(tif) : TIFFStripSize(tif)));
    const std::uint32_t chunks = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (auto _ : state) {
        for (std::uint32_t c = 0; c < chunks; ++c) {
            if (tiled)
                TIFFReadEncodedTile(tif, c, buffer.data(), tmsize_t(buffer.size()));
            else
                TIFFReadEncodedStrip(tif, c, buffer.data(), tmsize_t(buffer.size()));
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    TIFFClose(tif);
    state.SetBytesProcessed(state.iterations() * PixelBytes(kind));
}

}  // namespace

// Interleaved, so that both decoders see the same load on a shared machine.
#define RASTOVA_LAYOUT_BENCH(kind, name)                                                                          \
    BENCHMARK(BM_OurRead)->Arg(kind)->ArgName(name)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3); \
    BENCHMARK(BM_LibtiffDecode)->Arg(kind)->ArgName(name)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)
RASTOVA_LAYOUT_BENCH(kTiledRgb, "tiled");
RASTOVA_LAYOUT_BENCH(kTiledLzw, "tiled_lzw");
RASTOVA_LAYOUT_BENCH(kJpegStrips, "jpeg");
RASTOVA_LAYOUT_BENCH(kJpegTiles, "jpeg_tiles");
RASTOVA_LAYOUT_BENCH(kGroup4, "group4");

#endif  // RASTOVA_HAVE_LIBTIFF
