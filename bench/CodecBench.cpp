// JPEG and PNG coding of a 6000 x 4000 photo-like image through the library's
// readers and writers, each beside the bare codec doing the same work memory to
// memory with the same settings. The glue's share is the difference.
#include "formats/Jpeg.h"
#include "formats/Png.h"
#include "image/Streams.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <png.h>

using namespace rastova;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr int kQuality = 90;

// Smooth gradients with fine noise: compresses like a photograph, not like a test card.
const TPixelGraphic& Photo()
{
    static TPixelGraphic* photo = [] {
        auto* image = new TPixelGraphic;
        image->SetSize(kWidth, kHeight, bc24);
        std::uint32_t seed = 1;
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = image->ScanLine(y);
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = int(seed >> 28) - 8;
                const double u = x / 700.0, v = y / 500.0;
                row[3 * x] = std::uint8_t(std::clamp(int(120 + 90 * std::sin(u + 0.5 * v)) + noise, 0, 255));
                row[3 * x + 1] = std::uint8_t(std::clamp(int(110 + 80 * std::cos(0.7 * u - v)) + noise, 0, 255));
                row[3 * x + 2] = std::uint8_t(std::clamp(int(130 + 100 * std::sin(1.3 * v) * std::cos(u)) + noise, 0, 255));
            }
        }
        return image;
    }();
    return *photo;
}

TPixelGraphic& MutablePhoto() { return const_cast<TPixelGraphic&>(Photo()); }

const std::vector<std::uint8_t>& PhotoJpeg()
{
    static const std::vector<std::uint8_t> bytes = [] {
        JPEGQuality = kQuality;
        TMemoryStream stream;
        TJPGFileFormatWriter().Write(stream, MutablePhoto());
        return stream.Data();
    }();
    return bytes;
}

const std::vector<std::uint8_t>& PhotoPng()
{
    static const std::vector<std::uint8_t> bytes = [] {
        TMemoryStream stream;
        TPNGFileFormatWriter().Write(stream, MutablePhoto());
        return stream.Data();
    }();
    return bytes;
}

// Output of a bare decode: fresh memory per image, as a reader must take.
std::unique_ptr<std::uint8_t[]> NewPixels(std::size_t size)
{
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]);
}

// ---- JPEG -------------------------------------------------------------------------------

void BM_JpegEncodeLibrary(benchmark::State& state)
{
    JPEGQuality = kQuality;
    for (auto _ : state) {
        TMemoryStream stream;
        TJPGFileFormatWriter().Write(stream, MutablePhoto());
        benchmark::DoNotOptimize(stream.Size());
    }
}

void BM_JpegEncodeBare(benchmark::State& state)
{
    const TPixelGraphic& photo = Photo();
    for (auto _ : state) {
        jpeg_compress_struct info{};
        jpeg_error_mgr error{};
        info.err = jpeg_std_error(&error);
        jpeg_create_compress(&info);
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&info, &buffer, &size);
        info.image_width = kWidth;
        info.image_height = kHeight;
        info.input_components = 3;
        info.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, kQuality, TRUE);
        info.dct_method = JPEGWriteDCTMethod;
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(photo.ScanLine(int(info.next_scanline)));
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        benchmark::DoNotOptimize(size);
        std::free(buffer);
    }
}

void BM_JpegDecodeLibrary(benchmark::State& state)
{
    const auto& bytes = PhotoJpeg();
    for (auto _ : state) {
        TPixelGraphic image;
        TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
        TJPGFileFormatReader().Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
}

void BM_JpegDecodeBare(benchmark::State& state)
{
    const auto& bytes = PhotoJpeg();
    for (auto _ : state) {
        jpeg_decompress_struct info{};
        jpeg_error_mgr error{};
        info.err = jpeg_std_error(&error);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info, TRUE);
        info.dct_method = JPEGReadDCTMethod;
        info.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&info);
        const std::size_t stride = (std::size_t(info.output_width) * 3 + 3) / 4 * 4;
        auto pixels = NewPixels(stride * info.output_height);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = pixels.get() + stride * (info.output_height - 1 - info.output_scanline);
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(pixels.get());
    }
}

// ---- PNG --------------------------------------------------------------------------------

void AppendBytes(png_structp png, png_bytep data, std::size_t length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

struct TMemoryInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

void ReadBytes(png_structp png, png_bytep data, std::size_t length)
{
    auto* in = static_cast<TMemoryInput*>(png_get_io_ptr(png));
    if (length > in->size - in->position)
        png_error(png, "Read Error");
    std::copy_n(in->data + in->position, length, data);
    in->position += length;
}

void BM_PngEncodeLibrary(benchmark::State& state)
{
    for (auto _ : state) {
        TMemoryStream stream;
        TPNGFileFormatWriter().Write(stream, MutablePhoto());
        benchmark::DoNotOptimize(stream.Size());
    }
}

void BM_PngEncodeBare(benchmark::State& state)
{
    const TPixelGraphic& photo = Photo();
    for (auto _ : state) {
        std::vector<std::uint8_t> out;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(png, &out, AppendBytes, NoFlush);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_gAMA(png, info, 1 / 1.8);
        png_write_info(png, info);
        png_set_bgr(png);
        for (int y = 0; y < kHeight; ++y) {
            png_bytep row = const_cast<png_bytep>(photo.ScanLine(y));
            png_write_rows(png, &row, 1);
        }
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        benchmark::DoNotOptimize(out.size());
    }
}

void BM_PngDecodeLibrary(benchmark::State& state)
{
    const auto& bytes = PhotoPng();
    for (auto _ : state) {
        TPixelGraphic image;
        TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
        TPNGFileFormatReader().Read(stream, image, 0);
        benchmark::DoNotOptimize(image.Bits());
    }
}

void BM_PngDecodeBare(benchmark::State& state)
{
    const auto& bytes = PhotoPng();
    for (auto _ : state) {
        TMemoryInput input{bytes.data(), bytes.size()};
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_read_fn(png, &input, ReadBytes);
        png_read_info(png, info);
        png_set_bgr(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        const std::size_t stride = (png_get_rowbytes(png, info) + 3) / 4 * 4;
        auto pixels = NewPixels(stride * height);
        for (png_uint_32 y = 0; y < height; ++y) {
            png_bytep row = pixels.get() + stride * (height - 1 - y);
            png_read_rows(png, &row, nullptr, 1);
        }
        png_read_end(png, info);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(pixels.get());
    }
}

}  // namespace

BENCHMARK(BM_JpegEncodeBare)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_JpegEncodeLibrary)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_JpegDecodeBare)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_JpegDecodeLibrary)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_PngEncodeBare)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PngEncodeLibrary)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PngDecodeBare)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_PngDecodeLibrary)->Unit(benchmark::kMillisecond)->Iterations(6);
