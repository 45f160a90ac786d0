// Pixels naming entries beyond the stored palette: the palette grows with black
// to the largest index used, within what the pixel format can hold, and the
// image converts instead of failing on the first such pixel.
#include "image/PaletteRepair.h"
#include "formats/Tga.h"

#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace rastova;

TEST(PaletteRepair, GrowsToTheLargestIndexUsed)
{
    struct Row {
        TBitCount format;
        int paletteCount;
        std::vector<std::uint32_t> pixels;
        int expectedCount;
        std::uint8_t padding = 0;  // bits set after the last pixel of the row's last byte
    };
    const Row rows[] = {
        {bc8, 4, {0, 3, 2, 1, 0}, 4},           // nothing beyond: unchanged
        {bc8, 4, {0, 3, 200, 1, 0}, 201},       // up to the largest index
        {bc8, 0, {0, 0, 0, 0, 7}, 8},           // no palette at all
        {bc4, 3, {2, 0, 15, 1, 0}, 16},         // odd and even columns of a nibble row
        {bc4, 3, {2, 0, 1, 9, 0}, 10},
        {bc1, 1, {0, 0, 0, 0, 1}, 2},           // the last pixel of a partial byte
        {bc8, 256, {255, 0, 0, 0, 0}, 256},     // a full palette has every entry
        {bc1, 1, {0, 0, 0, 0, 0}, 1, 0x07},     // bits after the last pixel are no pixels
        {bc4, 3, {2, 0, 1, 0, 0}, 3, 0x0F},
    };
    for (const Row& row : rows) {
        TPixelGraphic image;
        image.SetSize(int(row.pixels.size()), 2, row.format);
        image.SetPaletteCount(row.paletteCount);
        for (int i = 0; i < row.paletteCount; ++i)
            image.SetPaletteColor(i, RGBValue(std::uint8_t(i + 1), 9, 9));
        for (int x = 0; x < int(row.pixels.size()); ++x)
            image.SetPixel(x, 1, row.pixels[std::size_t(x)]);
        const int lastByte = (TPixelGraphic::BitCountNumOf(row.format) * image.Width() + 7) / 8 - 1;
        image.ScanLine(1)[lastByte] |= row.padding;
        ExtendPaletteToPixels(image);
        ASSERT_EQ(image.PaletteCount(), row.expectedCount) << row.expectedCount;
        for (int i = 0; i < row.expectedCount; ++i)
            EXPECT_EQ(image.GetPaletteColor(i), i < row.paletteCount ? RGBValue(std::uint8_t(i + 1), 9, 9) : 0u);
        // Every pixel now has a colour, so a conversion to true colour succeeds.
        TPixelGraphic copy;
        copy.SetSize(image.Width(), image.Height(), bc24);
        EXPECT_NO_THROW(copy.CopyFrom(image));
    }
}

// A Targa colour map of 4 entries with a pixel naming entry 9.
TEST(PaletteRepair, TargaMapShorterThanItsPixels)
{
    test::TByteBuilder b;
    b.U8(0).U8(1).U8(1).U16LE(0).U16LE(4).U8(24).U16LE(0).U16LE(0).U16LE(4).U16LE(1).U8(8).U8(0x20);
    for (int i = 0; i < 4; ++i)
        b.U8(std::uint32_t(10 * i)).U8(20).U8(30);
    b.U8(0).U8(3).U8(9).U8(1);
    TPixelGraphic image;
    test::ReadWith<TTGAFileFormatReader>(b.Data(), image);
    ASSERT_EQ(image.PaletteCount(), 10);
    EXPECT_EQ(image.GetColor(1, 0), RGBValue(30, 20, 30));
    EXPECT_EQ(image.GetColor(2, 0), 0u);
}
