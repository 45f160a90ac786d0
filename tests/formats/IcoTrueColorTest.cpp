// Today's icon entries: 32-bit (alpha), 24-bit (AND mask) and PNG-compressed.
// The PNG entries and the alpha blending are checked against the PNG reader,
// which composites through libpng, on the same pixels stored as an RGBA PNG.
#include "formats/Ico.h"
#include "formats/Png.h"

#include "PngTestEncoder.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace rastova;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Random pixels, top row first: red, green, blue, alpha. Alpha takes the two
// extremes often so that fully transparent and opaque pixels both occur.
struct TRgbaImage {
    int width;
    int height;
    Bytes rgba;
    Bytes mask;  // 1 = transparent
};

TRgbaImage RandomRgba(int width, int height, std::uint32_t seed)
{
    std::mt19937 random(seed);
    TRgbaImage image{width, height, Bytes(std::size_t(width) * std::size_t(height) * 4),
                     Bytes(std::size_t(width) * std::size_t(height))};
    for (std::size_t i = 0; i < image.mask.size(); ++i) {
        for (int c = 0; c < 3; ++c)
            image.rgba[4 * i + std::size_t(c)] = std::uint8_t(random());
        const std::uint32_t r = random() % 4;
        image.rgba[4 * i + 3] = r == 0 ? 0 : r == 1 ? 255 : std::uint8_t(random());
        image.mask[i] = std::uint8_t(random() % 3 == 0);
    }
    return image;
}

Bytes EncodeRgbaPng(const TRgbaImage& image)
{
    test::TPngLayout layout;
    layout.width = image.width;
    layout.height = image.height;
    layout.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    for (int y = 0; y < image.height; ++y) {
        const auto* row = image.rgba.data() + std::size_t(y) * std::size_t(image.width) * 4;
        layout.rows.emplace_back(row, row + std::size_t(image.width) * 4);
    }
    return test::EncodePng(layout);
}

// BITMAPINFOHEADER, colour rows bottom-up (blue, green, red[, alpha]) and the
// AND mask, every row padded to four bytes with junk.
Bytes BitmapResource(const TRgbaImage& image, int bits, std::uint32_t compression = 0)
{
    test::TByteBuilder b;
    b.U32LE(40).U32LE(std::uint32_t(image.width)).U32LE(std::uint32_t(image.height * 2)).U16LE(1).U16LE(std::uint32_t(bits));
    b.U32LE(compression).U32LE(0).U32LE(0).U32LE(0).U32LE(0).U32LE(0);
    const std::size_t stride = (std::size_t(image.width) * std::size_t(bits) + 31) / 32 * 4;
    const std::size_t maskStride = (std::size_t(image.width) + 31) / 32 * 4;
    for (int y = image.height - 1; y >= 0; --y) {
        Bytes row(stride, 0xA5);
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.rgba.data() + (std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * 4;
            std::uint8_t* out = row.data() + std::size_t(x) * std::size_t(bits / 8);
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
            if (bits == 32)
                out[3] = p[3];
        }
        b.Bytes(row);
    }
    for (int y = image.height - 1; y >= 0; --y) {
        Bytes row(maskStride, 0);
        for (int x = 0; x < image.width; ++x)
            if (image.mask[std::size_t(y) * std::size_t(image.width) + std::size_t(x)])
                row[std::size_t(x) / 8] |= std::uint8_t(0x80 >> (x % 8));
        b.Bytes(row);
    }
    return b.Data();
}

Bytes BuildIcon(const std::vector<Bytes>& resources, std::int64_t sizeDelta = 0)
{
    test::TByteBuilder b;
    b.U16LE(0).U16LE(1).U16LE(std::uint32_t(resources.size()));
    std::uint32_t offset = std::uint32_t(6 + 16 * resources.size());
    for (const Bytes& r : resources) {
        b.U8(0).U8(0).U8(0).U8(0).U16LE(1).U16LE(32).U32LE(std::uint32_t(std::int64_t(r.size()) + sizeDelta)).U32LE(offset);
        offset += std::uint32_t(r.size());
    }
    for (const Bytes& r : resources)
        b.Bytes(r);
    if (sizeDelta > 0)
        b.Fill(std::size_t(sizeDelta), 0);
    return b.Data();
}

void ReadIcon(const Bytes& file, int index, TPixelGraphic& image)
{
    TReadOnlyMemoryStream stream(file.data(), file.size());
    tIcoFileFormatReader().Read(stream, image, index);
}

void ReadPng(const Bytes& file, TPixelGraphic& image)
{
    TReadOnlyMemoryStream stream(file.data(), file.size());
    TPNGFileFormatReader().Read(stream, image, 0);
}

int LargestDifference(const TPixelGraphic& a, const TPixelGraphic& b)
{
    int largest = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            for (int shift : {0, 8, 16})
                largest = std::max(largest, std::abs(int(a.GetColor(x, y) >> shift & 0xFF) -
                                                     int(b.GetColor(x, y) >> shift & 0xFF)));
    return largest;
}

}  // namespace

TEST(IcoTrueColor, EntriesAgreeWithThePngReader)
{
    struct Row {
        int width;
        int height;
        TRGB background;
    };
    const Row rows[] = {{16, 16, 0}, {13, 9, RGBValue(200, 40, 120)}, {48, 48, RGBValue(255, 255, 255)},
                        {256, 256, RGBValue(3, 250, 77)}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
        const TRgbaImage pixels = RandomRgba(row.width, row.height, std::uint32_t(row.width));
        const Bytes png = EncodeRgbaPng(pixels);
        const Bytes icon = BuildIcon({png, BitmapResource(pixels, 32), BitmapResource(pixels, 24)});

        TPixelGraphic reference, fromPng, from32, from24;
        for (TPixelGraphic* image : {&reference, &fromPng, &from32})
            image->SetBackGroundColor(row.background);
        ReadPng(png, reference);
        ReadIcon(icon, 0, fromPng);
        ReadIcon(icon, 1, from32);
        ReadIcon(icon, 2, from24);
        // Both keep alpha; laid over the background they are what a host without alpha shows.
        EXPECT_EQ(test::PixelValues(reference), test::PixelValues(from32));
        for (TPixelGraphic* image : {&reference, &fromPng, &from32})
            image->FlattenAlpha();

        std::string why;
        EXPECT_TRUE(test::SamePixels(reference, fromPng, &why)) << why;
        ASSERT_EQ(from32.Width(), row.width);
        ASSERT_EQ(from32.Height(), row.height);
        ASSERT_EQ(from32.BitCount(), bc24);
        // libpng and we round the blend on our own; they may part by one level.
        EXPECT_LE(LargestDifference(reference, from32), 1);
        // Transparent and opaque pixels have no rounding: background and colour.
        for (int y = 0; y < row.height; ++y)
            for (int x = 0; x < row.width; ++x) {
                const std::uint8_t* p = pixels.rgba.data() + (std::size_t(y) * std::size_t(row.width) + std::size_t(x)) * 4;
                const TRGB colour = RGBValue(p[0], p[1], p[2]);
                if (p[3] == 0) {
                    EXPECT_EQ(from32.GetColor(x, y), row.background);
                }
                if (p[3] == 255) {
                    EXPECT_EQ(from32.GetColor(x, y), colour);
                }
                const bool masked = pixels.mask[std::size_t(y) * std::size_t(row.width) + std::size_t(x)] != 0;
                EXPECT_EQ(from24.GetColor(x, y), masked ? IcoMaskColor : colour);
            }
        EXPECT_TRUE(from24.Transparent());
        EXPECT_FALSE(from32.Transparent());

        const TFileInfo info = test::InfoWith<tIcoFileFormatReader>(icon);
        EXPECT_EQ(info.Width, row.width);
        EXPECT_EQ(info.Height, row.height);
        EXPECT_EQ(info.BitsPerPixel, 32);
        EXPECT_EQ(info.ImageCount, 3);
    }
}

TEST(IcoTrueColor, DamagedEntriesAreRefused)
{
    const TRgbaImage pixels = RandomRgba(16, 16, 5);
    Bytes png = EncodeRgbaPng(pixels);
    Bytes brokenPng = png;
    brokenPng[40] ^= 0xFF;  // inside IDAT
    const Bytes resource32 = BitmapResource(pixels, 32);
    // A 32-bit entry without its mask is complete; one colour byte less is not.
    const Bytes withoutMask(resource32.begin(), resource32.end() - 16 * 4);
    const Bytes oneShort(withoutMask.begin(), withoutMask.end() - 1);
    const Bytes resource24 = BitmapResource(pixels, 24);
    const Bytes noMask24(resource24.begin(), resource24.end() - 16 * 4);
    struct Row {
        const char* name;
        Bytes file;
        bool loads;
    };
    const Row rows[] = {
        {"32-bit without mask", BuildIcon({withoutMask}), true},
        {"32-bit one byte short", BuildIcon({oneShort}), false},
        {"24-bit without mask", BuildIcon({noMask24}), false},
        {"32-bit bitfields", BuildIcon({BitmapResource(pixels, 32, 3)}), false},
        {"png entry", BuildIcon({png}), true},
        {"png entry damaged", BuildIcon({brokenPng}), false},
        {"png entry cut short", BuildIcon({Bytes(png.begin(), png.begin() + 60)}), false},
    };
    for (const Row& row : rows) {
        TPixelGraphic image;
        const std::string message = test::MessageOf([&] { ReadIcon(row.file, 0, image); });
        EXPECT_EQ(message == "(nothing raised)", row.loads) << row.name << ": " << message;
    }
}
