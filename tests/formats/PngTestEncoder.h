// Builds PNG files for the tests with libpng's own writer, so the reader is tested
// on files it did not write itself.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <png.h>

namespace rastova::test {

struct TPngLayout {
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    bool interlace = false;
    // One packed row per image row, as the file stores it (16-bit samples big-endian).
    std::vector<std::vector<std::uint8_t>> rows;
    std::vector<png_color> palette;
    std::vector<png_byte> transAlpha;       // palette tRNS
    std::optional<png_color_16> transColor;  // gray or RGB tRNS
    std::optional<png_color_16> background;
    std::optional<double> gamma;
    bool sRGB = false;
    bool offs = false;
    bool phys = false;
    bool time = false;
    bool sbit = false;
    bool checkIndices = true;  // false: let pixels name entries past the palette
    std::vector<std::pair<std::string, std::string>> texts;
};

namespace detail {
inline void AppendPngBytes(png_structp png, png_bytep data, std::size_t length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
inline void NoFlush(png_structp) {}
}  // namespace detail

// Empty on any libpng error.
inline std::vector<std::uint8_t> EncodePng(const TPngLayout& layout)
{
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    for (const auto& row : layout.rows)
        rows.push_back(const_cast<png_bytep>(row.data()));
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, detail::AppendPngBytes, detail::NoFlush);
    if (!layout.checkIndices)
        png_set_check_for_invalid_index(png, 0);
    png_set_IHDR(png, info, png_uint_32(layout.width), png_uint_32(layout.height), layout.bitDepth, layout.colorType,
                 layout.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!layout.palette.empty())
        png_set_PLTE(png, info, layout.palette.data(), int(layout.palette.size()));
    if (!layout.transAlpha.empty())
        png_set_tRNS(png, info, layout.transAlpha.data(), int(layout.transAlpha.size()), nullptr);
    if (layout.transColor) {
        png_color_16 trans = *layout.transColor;
        png_set_tRNS(png, info, nullptr, 0, &trans);
    }
    if (layout.background) {
        png_color_16 background = *layout.background;
        png_set_bKGD(png, info, &background);
    }
    if (layout.gamma)
        png_set_gAMA(png, info, *layout.gamma);
    if (layout.sRGB)
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (layout.offs)
        png_set_oFFs(png, info, 3, 4, PNG_OFFSET_PIXEL);
    if (layout.phys)
        png_set_pHYs(png, info, 2835, 2835, PNG_RESOLUTION_METER);
    if (layout.time) {
        png_time time{2020, 1, 2, 3, 4, 5};
        png_set_tIME(png, info, &time);
    }
    if (layout.sbit) {
        png_color_8 bits{5, 5, 5, 5, 0};
        png_set_sBIT(png, info, &bits);
    }
    std::vector<png_text> texts;
    for (const auto& [key, text] : layout.texts) {
        png_text entry{};
        entry.compression = PNG_TEXT_COMPRESSION_NONE;
        entry.key = const_cast<char*>(key.c_str());
        entry.text = const_cast<char*>(text.c_str());
        texts.push_back(entry);
    }
    if (!texts.empty())
        png_set_text(png, info, texts.data(), int(texts.size()));
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Offset of the first chunk of that type (its length field), or 0.
inline std::size_t FindPngChunk(const std::vector<std::uint8_t>& bytes, const std::string& type)
{
    std::size_t pos = 8;
    while (pos + 12 <= bytes.size()) {
        const std::uint32_t length = std::uint32_t(bytes[pos]) << 24 | std::uint32_t(bytes[pos + 1]) << 16 |
                                     std::uint32_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
        if (std::string(bytes.begin() + long(pos) + 4, bytes.begin() + long(pos) + 8) == type)
            return pos;
        pos += 12 + std::size_t(length);
    }
    return 0;
}

// Packs sample values of 1, 2, 4 or 8 bits into a file row.
inline std::vector<std::uint8_t> PackSamples(const std::vector<int>& samples, int bitDepth)
{
    std::vector<std::uint8_t> row((samples.size() * std::size_t(bitDepth) + 7) / 8, 0);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::size_t bit = i * std::size_t(bitDepth);
        row[bit / 8] |= std::uint8_t(samples[i] << (8 - bitDepth - int(bit % 8)));
    }
    return row;
}

}  // namespace rastova::test
