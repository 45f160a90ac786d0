#include "formats/Png.h"

#include "formats/PngTestEncoder.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rastova {
namespace {

using test::EncodePng;
using test::TFailingStream;
using test::TProgressLog;
using test::PackSamples;
using test::TPngLayout;

// ---- helpers ----------------------------------------------------------------------------

std::vector<std::uint8_t> WritePng(TPixelGraphic& image)
{
    return test::WriteWith<TPNGFileFormatWriter>(image);
}

void ReadPng(const std::vector<std::uint8_t>& bytes, TPixelGraphic& image, int index = 0)
{
    test::ReadWith<TPNGFileFormatReader>(bytes, image, index);
}

TFileInfo InfoOf(const std::vector<std::uint8_t>& bytes, int index = 0)
{
    return test::InfoWith<TPNGFileFormatReader>(bytes, index);
}

using test::MessageOf;

using test::TQuestionRecorder;

// Rows of one repeated pattern of samples per row.
TPngLayout PatternLayout(int width, int height, int bitDepth, int colorType = PNG_COLOR_TYPE_GRAY)
{
    TPngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bitDepth = bitDepth;
    layout.colorType = colorType;
    const int maxValue = (1 << std::min(bitDepth, 8)) - 1;
    for (int y = 0; y < height; ++y) {
        std::vector<int> samples;
        for (int x = 0; x < width; ++x)
            samples.push_back((x + 3 * y) % (maxValue + 1));
        layout.rows.push_back(PackSamples(samples, std::min(bitDepth, 8)));
    }
    return layout;
}

// ---- round trips per colour resolution ---------------------------------------------------

struct TRoundTripCase {
    TBitCount bitCount;
    TPaletteIdent ident;  // pUnknown: the random palette of FillRandom
    const char* subFormat;
    const char* extraText;
};

class PngRoundTripTest : public ::testing::TestWithParam<TRoundTripCase> {};

TEST_P(PngRoundTripTest, WrittenImageReadsBackUnchanged)
{
    const TRoundTripCase& c = GetParam();
    TPixelGraphic image;
    test::FillRandom(image, 37, 13, c.bitCount, 5);
    if (c.ident != pUnknown)
        image.SetPaletteIdent(c.ident);
    const auto bytes = WritePng(image);

    const TFileInfo info = InfoOf(bytes);
    EXPECT_EQ(info.SubFormatText, c.subFormat);
    EXPECT_EQ(info.ExtraText, c.extraText);
    EXPECT_EQ(info.Width, 37);
    EXPECT_EQ(info.Height, 13);

    TPixelGraphic back;
    ReadPng(bytes, back);
    std::string why;
    EXPECT_TRUE(test::SamePixels(image, back, &why)) << why;
    // gAMA 1/2.2 (0.45455) comes back as the image's own gamma.
    EXPECT_NEAR(double(back.Gamma()), 2.2, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, PngRoundTripTest,
    ::testing::Values(TRoundTripCase{bc1, pBlackWhite, "palette", "(gama, plte)"},
                      TRoundTripCase{bc1, pUnknown, "palette", "(gama, plte)"},
                      TRoundTripCase{bc4, pGray16, "palette", "(gama, plte)"},
                      TRoundTripCase{bc4, pSys16, "palette", "(gama, plte)"},
                      TRoundTripCase{bc4, pUnknown, "palette", "(gama, plte)"},
                      TRoundTripCase{bc8, pGray256, "GrayScale", "(gama)"},
                      TRoundTripCase{bc8, pUnknown, "palette", "(gama, plte)"},
                      TRoundTripCase{bc24, pUnknown, "RGB", "(gama)"}));

TEST(PngTest, GammaChunkFollowsTheSetting)
{
    TPixelGraphic image;
    test::FillRandom(image, 8, 8, bc1, 1);
    image.SetPaletteIdent(pBlackWhite);
    image.SetGamma(2.2L);
    TPixelGraphic back;
    ReadPng(WritePng(image), back);
    EXPECT_NEAR(double(back.Gamma()), 2.2, 1e-4);

    PNGWriteGamma = false;
    const auto bytes = WritePng(image);
    PNGWriteGamma = true;
    EXPECT_EQ(InfoOf(bytes).ExtraText, "(plte)");
    ReadPng(bytes, back);
    EXPECT_EQ(back.Gamma(), DisplayGamma);
}

// ---- pixel formats of the files -----------------------------------------------------------

TEST(PngTest, SixteenBitFilesAreStrippedToEightBits)
{
    TPngLayout rgb;
    rgb.width = 2;
    rgb.height = 1;
    rgb.bitDepth = 16;
    rgb.colorType = PNG_COLOR_TYPE_RGB;
    rgb.rows = {{0xAB, 0xCD, 0x12, 0x34, 0x00, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x01, 0x02}};
    TPixelGraphic image;
    ReadPng(EncodePng(rgb), image);
    ASSERT_EQ(image.BitCount(), bc24);
    EXPECT_EQ(image.GetColor(0, 0), RGBValue(0xAB, 0x12, 0x00));
    EXPECT_EQ(image.GetColor(1, 0), RGBValue(0xFF, 0x80, 0x01));

    TPngLayout gray = PatternLayout(2, 1, 16);
    gray.rows = {{0x7F, 0xFF, 0x01, 0x00}};
    ReadPng(EncodePng(gray), image);
    ASSERT_EQ(image.BitCount(), bc8);
    EXPECT_EQ(image.PaletteIdent(), pGray256);
    EXPECT_EQ(image.GetPixel(0, 0), 0x7Fu);
    EXPECT_EQ(image.GetPixel(1, 0), 0x01u);
}

TEST(PngTest, GrayDepthsMapToTheirPalettes)
{
    struct TCase {
        int bitDepth;
        TBitCount bitCount;
        TPaletteIdent ident;
    };
    for (const TCase& c : {TCase{1, bc1, pBlackWhite}, TCase{2, bc4, pGray4}, TCase{4, bc4, pGray16},
                           TCase{8, bc8, pGray256}}) {
        for (const bool interlace : {false, true}) {
            TPngLayout layout = PatternLayout(13, 9, c.bitDepth);
            layout.interlace = interlace;
            TPixelGraphic image;
            ReadPng(EncodePng(layout), image);
            ASSERT_EQ(image.BitCount(), c.bitCount) << c.bitDepth;
            EXPECT_EQ(image.PaletteIdent(), c.ident) << c.bitDepth;
            const int levels = 1 << c.bitDepth;
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 13; ++x)
                    ASSERT_EQ(int(image.GetPixel(x, y)), (x + 3 * y) % levels)
                        << "depth " << c.bitDepth << " interlace " << interlace << " at " << x << "," << y;
        }
    }
}

TEST(PngTest, TwoBitPaletteExpandsAndKeepsPlteColours)
{
    TPngLayout layout = PatternLayout(7, 3, 2, PNG_COLOR_TYPE_PALETTE);
    layout.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 8, 7}};
    TPixelGraphic image;
    ReadPng(EncodePng(layout), image);
    ASSERT_EQ(image.BitCount(), bc4);
    ASSERT_EQ(image.PaletteCount(), 4);
    EXPECT_EQ(image.GetPaletteColor(3), RGBValue(9, 8, 7));
    EXPECT_EQ(image.GetColor(2, 0), RGBValue(0, 0, 255));
    EXPECT_EQ(image.GetPixel(6, 2), std::uint32_t((6 + 6) % 4));
}

TEST(PngTest, IndicesBeyondAShortPaletteGetBlackEntries)
{
    TPngLayout layout = PatternLayout(16, 1, 4, PNG_COLOR_TYPE_PALETTE);
    layout.palette = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    layout.checkIndices = false;
    TPixelGraphic image;
    image.SetReadWarningAction(pgwaIgnore);
    ReadPng(EncodePng(layout), image);
    ASSERT_EQ(image.PaletteCount(), 16);
    EXPECT_EQ(image.GetPaletteColor(2), RGBValue(7, 8, 9));
    EXPECT_EQ(image.GetColor(15, 0), RGBValue(0, 0, 0));
}

// ---- transparency -------------------------------------------------------------------------

TPngLayout RgbaLayout(std::optional<png_color_16> background)
{
    TPngLayout layout;
    layout.width = 3;
    layout.height = 1;
    layout.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    // Opaque red, transparent green, half-transparent blue.
    layout.rows = {{255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128}};
    layout.background = background;
    return layout;
}

TEST(PngTest, AlphaIsCompositedOverFileOrImageBackground)
{
    struct TCase {
        std::optional<png_color_16> fileBackground;
        bool useFile;
        TRGB imageBackground;
        TRGB transparent;   // where alpha is 0
        TRGB half;          // blue at alpha 128
    };
    const png_color_16 white{0, 255, 255, 255, 0};
    const TCase cases[] = {
        {white, true, 0, RGBValue(255, 255, 255), RGBValue(127, 127, 255)},
        {std::nullopt, true, 0, 0, RGBValue(0, 0, 128)},
        {std::nullopt, true, RGBValue(0, 0, 255), RGBValue(0, 0, 255), RGBValue(0, 0, 255)},
        {std::nullopt, true, RGBValue(200, 100, 50), RGBValue(200, 100, 50), RGBValue(100, 50, 153)},
        {white, false, RGBValue(0, 100, 0), RGBValue(0, 100, 0), RGBValue(0, 50, 128)},
    };
    for (const TCase& c : cases) {
        PNGUseFileBackground = c.useFile;
        TPixelGraphic image;
        image.SetBackGroundColor(c.imageBackground);
        ReadPng(EncodePng(RgbaLayout(c.fileBackground)), image);
        PNGUseFileBackground = true;
        ASSERT_EQ(image.BitCount(), bc32);
        image.FlattenAlpha();
        ASSERT_EQ(image.BitCount(), bc24);
        EXPECT_EQ(image.GetColor(0, 0), RGBValue(255, 0, 0));
        EXPECT_EQ(image.GetColor(1, 0), c.transparent) << std::hex << image.GetColor(1, 0);
        const TRGB half = image.GetColor(2, 0);
        for (int shift : {0, 8, 16})
            EXPECT_NEAR(int((half >> shift) & 0xFF), int((c.half >> shift) & 0xFF), 1) << std::hex << half;
        if (c.fileBackground && c.useFile) {
            EXPECT_EQ(image.BackGroundColor(), RGBValue(255, 255, 255));
        }
    }
}

// libpng wants the background of a stripped 16-bit file at 8 bits; given at 16 bits
// it would wrap around when the codec scales it up.
TEST(PngTest, SixteenBitTransparencyCompositesOverTheRightLevel)
{
    TPngLayout grayAlpha = PatternLayout(2, 1, 16, PNG_COLOR_TYPE_GRAY_ALPHA);
    grayAlpha.rows = {{0x12, 0x34, 0xFF, 0xFF, 0x55, 0x55, 0x00, 0x00}};
    grayAlpha.background = png_color_16{0, 0, 0, 0, 0xAB84};
    TPixelGraphic image;
    ReadPng(EncodePng(grayAlpha), image);
    image.FlattenAlpha();
    EXPECT_EQ(image.GetColor(0, 0), RGBValue(0x12, 0x12, 0x12));
    EXPECT_EQ(image.GetColor(1, 0), RGBValue(0xAB, 0xAB, 0xAB));

    TPngLayout rgba = PatternLayout(1, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA);
    rgba.rows = {{1, 2, 3, 4, 5, 6, 0, 0}};
    TPixelGraphic colour;
    colour.SetBackGroundColor(RGBValue(200, 100, 50));
    ReadPng(EncodePng(rgba), colour);
    colour.FlattenAlpha();
    EXPECT_EQ(colour.GetColor(0, 0), RGBValue(200, 100, 50));
}

// A 1-bit gray file with a transparent level: only the pixels of that level
// become transparent, not their neighbours in a packed byte.
TEST(PngTest, LowDepthGrayTransparencyTouchesOnlyTransparentPixels)
{
    TPngLayout layout = PatternLayout(16, 2, 1);
    layout.transColor = png_color_16{0, 0, 0, 0, 0};
    TPixelGraphic image;
    image.SetBackGroundColor(RGBValue(255, 255, 255));
    ReadPng(EncodePng(layout), image);
    ASSERT_EQ(image.BitCount(), bc32);
    image.FlattenAlpha();
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(image.GetColor(x, 0), RGBValue(255, 255, 255)) << x;  // black pixels were transparent

    layout.transColor = png_color_16{0, 0, 0, 0, 1};
    TPixelGraphic other;
    ReadPng(EncodePng(layout), other);  // black background
    other.FlattenAlpha();
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(other.GetColor(x, 1), 0u) << x;
}

TEST(PngTest, BackgroundColourFromTheBkgdChunkOfEachKind)
{
    struct TCase {
        TPngLayout layout;
        png_color_16 background;
        TRGB expected;
    };
    TPngLayout gray4 = PatternLayout(4, 1, 4);
    gray4.transColor = png_color_16{0, 0, 0, 0, 3};
    TPngLayout gray16 = PatternLayout(2, 1, 16, PNG_COLOR_TYPE_GRAY_ALPHA);
    gray16.rows = {{0, 0, 0, 0, 0, 0, 0, 0}};
    TPngLayout rgb16 = PatternLayout(1, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA);
    rgb16.rows = {{0, 0, 0, 0, 0, 0, 0, 0}};
    TPngLayout palette = PatternLayout(4, 1, 8, PNG_COLOR_TYPE_PALETTE);
    palette.palette = {{1, 1, 1}, {2, 2, 2}, {10, 20, 30}, {4, 4, 4}};
    palette.transAlpha = {0};
    const TCase cases[] = {
        {gray4, png_color_16{0, 0, 0, 0, 5}, RGBValue(85, 85, 85)},
        {gray16, png_color_16{0, 0, 0, 0, 0x8040}, RGBValue(0x80, 0x80, 0x80)},
        {rgb16, png_color_16{0, 0x1234, 0xFFFF, 0x00FF, 0}, RGBValue(0x12, 0xFF, 0x00)},
        {palette, png_color_16{2, 0, 0, 0, 0}, RGBValue(10, 20, 30)},
    };
    for (const TCase& c : cases) {
        TPngLayout layout = c.layout;
        layout.background = c.background;
        TPixelGraphic image;
        ReadPng(EncodePng(layout), image);
        EXPECT_EQ(image.BackGroundColor(), c.expected) << std::hex << image.BackGroundColor();
    }
    // Without the setting the file's background changes nothing.
    TPngLayout layout = cases[0].layout;
    layout.background = cases[0].background;
    PNGUseFileBackground = false;
    TPixelGraphic image;
    ReadPng(EncodePng(layout), image);
    PNGUseFileBackground = true;
    EXPECT_EQ(image.BackGroundColor(), 0u);
    EXPECT_EQ(AlphaOf(image.GetPixel(3, 0)), 0);  // level 3 is transparent
    image.FlattenAlpha();
    EXPECT_EQ(image.GetColor(3, 0), 0u);  // and laid over black
}

TEST(PngTest, PaletteWithTransparencyKeepsPlteColoursAndTheirAlpha)
{
    TPngLayout layout = PatternLayout(6, 2, 8, PNG_COLOR_TYPE_PALETTE);
    for (int i = 0; i < 256; ++i)
        layout.palette.push_back({std::uint8_t(i), std::uint8_t(255 - i), 7});
    layout.transAlpha = {0, 128, 255, 0};
    TPixelGraphic image;
    ReadPng(EncodePng(layout), image);
    ASSERT_EQ(image.BitCount(), bc32);
    const std::uint8_t alpha[] = {0, 128, 255, 0};
    for (int x = 0; x < 6; ++x) {
        const int index = x + 3;
        EXPECT_EQ(image.GetPixel(x, 1),
                  WithAlpha(RGBValue(std::uint8_t(index), std::uint8_t(255 - index), 7), index < 4 ? alpha[index] : 255));
    }
}

// ---- GetInfo ------------------------------------------------------------------------------

TEST(PngTest, InfoDescribesColourTypeChunksAndDepth)
{
    struct TCase {
        TPngLayout layout;
        const char* subFormat;
        const char* extra;
        const char* colors;
        int bits;
    };
    TPngLayout offsOnly = PatternLayout(4, 4, 8);
    offsOnly.offs = true;
    TPngLayout many = PatternLayout(4, 4, 4, PNG_COLOR_TYPE_PALETTE);
    many.palette.assign(16, png_color{1, 1, 1});
    many.gamma = 0.45455;
    many.transAlpha = {0};
    many.background = png_color_16{1, 0, 0, 0, 0};
    many.phys = many.time = many.offs = many.sbit = true;
    TPngLayout srgbOnly = PatternLayout(4, 4, 8, PNG_COLOR_TYPE_RGB);
    srgbOnly.rows.assign(4, std::vector<std::uint8_t>(12, 9));
    srgbOnly.sRGB = true;
    TPngLayout rgba = PatternLayout(2, 2, 8, PNG_COLOR_TYPE_RGB_ALPHA);
    rgba.rows.assign(2, std::vector<std::uint8_t>(8, 9));
    rgba.interlace = true;
    TPngLayout gray16 = PatternLayout(2, 2, 16);
    gray16.rows.assign(2, std::vector<std::uint8_t>(4, 9));
    TPngLayout rgb16 = PatternLayout(2, 2, 16, PNG_COLOR_TYPE_RGB);
    rgb16.rows.assign(2, std::vector<std::uint8_t>(12, 9));
    TPngLayout grayAlpha = PatternLayout(2, 2, 8, PNG_COLOR_TYPE_GRAY_ALPHA);
    grayAlpha.rows.assign(2, std::vector<std::uint8_t>(4, 9));
    const TCase cases[] = {
        {offsOnly, "GrayScale", "(offs)", "256", 8},
        {many, "palette", "(gama, sbit, plte, trns, bkgd, phys, offs, time)", "16", 4},
        {srgbOnly, "RGB", "", "16.7M", 24},
        {rgba, "RGB, alpha, interlaced", "", "16.7M?", 32},
        {gray16, "GrayScale", "", "64K?", 16},
        {rgb16, "RGB", "", "?", 48},
        {grayAlpha, "GrayScale, alpha", "", "64K?", 16},
        {PatternLayout(9, 9, 1), "GrayScale", "", "2", 1},
        {PatternLayout(9, 9, 2), "GrayScale", "", "4", 2},
    };
    for (const TCase& c : cases) {
        const auto bytes = EncodePng(c.layout);
        ASSERT_FALSE(bytes.empty());
        const TFileInfo info = InfoOf(bytes);
        EXPECT_EQ(info.SubFormatText, c.subFormat);
        EXPECT_EQ(info.ExtraText, c.extra) << c.subFormat;
        EXPECT_EQ(info.ColorsText, c.colors) << c.subFormat;
        EXPECT_EQ(info.BitsPerPixel, c.bits) << c.subFormat;
        EXPECT_EQ(info.ImageCount, 1);
    }
}

// ---- refusals and warnings ----------------------------------------------------------------

TEST(PngTest, RefusalsCarryTheirMessages)
{
    const auto good = EncodePng(PatternLayout(8, 8, 8));
    auto badCrc = good;
    badCrc[29] ^= 0x01;  // IHDR's CRC
    const std::vector<std::uint8_t> empty;
    TPixelGraphic image;
    EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { ReadPng(good, image, 1); }), "PNG: Index invalid");
    EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { InfoOf(good, 1); }), "PNG: Invalid value for Index");
    EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { ReadPng(badCrc, image); }), "PNG: IHDR: CRC error");
    EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { ReadPng(empty, image); }), "PNG: Read Error");
}

// A header that promises far more pixels than the data left could inflate to is
// refused before any pixel memory is taken.
TEST(PngTest, HugeHeaderWithLittleDataIsRefusedBeforeAllocating)
{
    auto bytes = EncodePng(PatternLayout(8, 8, 8));
    const std::uint8_t big[8] = {0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20};  // 20000 x 20000
    std::memcpy(bytes.data() + 16, big, 8);
    const std::uint32_t crc = std::uint32_t(crc32(crc32(0, nullptr, 0), bytes.data() + 12, 17));
    for (int i = 0; i < 4; ++i)
        bytes[29 + std::size_t(i)] = std::uint8_t(crc >> (24 - 8 * i));
    TPixelGraphic image;
    EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { ReadPng(bytes, image); }),
              "PNG: Unexpected end of file");
    EXPECT_TRUE(image.GetEmpty());
    EXPECT_EQ(InfoOf(bytes).Width, 20000);
}

// Text-like chunks whose length claims far more than the file holds: libpng would
// take and clear a buffer that large before finding the data missing.
TEST(PngTest, UnusedChunkClaimingHugeLengthFailsOnTheMissingData)
{
    auto bytes = EncodePng(PatternLayout(1, 1, 1));
    for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "pCAL", "sCAL"}) {
        const std::vector<std::uint8_t> header = {0x3F, 0xFF, 0xFF, 0xFF, std::uint8_t(type[0]), std::uint8_t(type[1]),
                                                  std::uint8_t(type[2]), std::uint8_t(type[3])};
        std::vector<std::uint8_t> file = bytes;
        file.insert(file.begin() + 33, header.begin(), header.end());  // after signature and IHDR
        TPixelGraphic image;
        image.SetReadWarningAction(pgwaIgnore);
        EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { ReadPng(file, image); }), "PNG: Read Error") << type;
        // The description raises libpng's warning about the length instead.
        EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { InfoOf(file); }),
                  "PNG: " + std::string(type) + ": chunk data is too large");
    }
}

class PngWarningTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TPngLayout layout = PatternLayout(8, 8, 8);
        layout.texts = {{"Comment", "hello"}};
        m_bytes = EncodePng(layout);
        const std::size_t text = test::FindPngChunk(m_bytes, "tEXt");
        ASSERT_NE(text, 0u);
        m_bytes[text + 8 + 13] ^= 0x01;  // the CRC after "Comment\0hello"
    }
    std::vector<std::uint8_t> m_bytes;
};

TEST_F(PngWarningTest, ActionsDecideWhatAWarningDoes)
{
    struct TCase {
        TPGWarningAction action;
        TQuestionAnswer answer;
        int questions;
        const char* error;
    };
    const TCase cases[] = {{pgwaIgnore, qaCancel, 0, nullptr},
                           {pgwaOKBox, qaCancel, 1, nullptr},
                           {pgwaOKCancelBox, qaOK, 1, nullptr},
                           {pgwaOKCancelBox, qaCancel, 1, "PNG: Operation aborted on user request"},
                           {pgwaRaise, qaOK, 0, "PNG: tEXt: CRC error"}};
    for (const TCase& c : cases) {
        TQuestionRecorder questions(c.answer);
        TPixelGraphic image;
        image.SetReadWarningAction(c.action);
        EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { ReadPng(m_bytes, image); }),
                  c.error ? c.error : "(nothing raised)");
        ASSERT_EQ(int(questions.texts.size()), c.questions) << int(c.action);
        if (c.questions > 0) {
            EXPECT_EQ(questions.texts[0], "tEXt: CRC error");
            EXPECT_EQ(questions.captions[0], "PNG Warning");
        }
    }
    EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { InfoOf(m_bytes); }), "PNG: tEXt: CRC error");
}

TEST_F(PngWarningTest, ThrowingQuestionFunctionComesBackAsItself)
{
    SetQuestionFunction([](const std::string&, const std::string&, TQuestionButtons) -> TQuestionAnswer {
        throw std::runtime_error("host gave up");
    });
    TPixelGraphic image;
    EXPECT_EQ(MessageOf<std::runtime_error>([&] { ReadPng(m_bytes, image); }), "host gave up");
    SetQuestionFunction(nullptr);
}

// ---- truncation, abort and progress -------------------------------------------------------

std::vector<std::uint8_t> NoisyRgb(int width, int height, bool interlace)
{
    TPngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.interlace = interlace;
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        std::vector<std::uint8_t> row;
        for (int i = 0; i < 3 * width; ++i) {
            seed = seed * 1103515245u + 12345u;
            row.push_back(std::uint8_t(seed >> 24));
        }
        layout.rows.push_back(row);
    }
    return EncodePng(layout);
}

TEST(PngTest, TruncatedDataKeepsTheRowsRead)
{
    const auto bytes = NoisyRgb(64, 64, false);
    TPixelGraphic whole;
    ReadPng(bytes, whole);
    // libpng takes image data 8 KB at a time: cut into the second piece.
    ASSERT_GT(bytes.size(), 9000u);
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.end() - 500);
    TPixelGraphic image;
    EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { ReadPng(cut, image); }), "PNG: Read Error");
    ASSERT_EQ(image.Height(), 64);
    EXPECT_EQ(std::memcmp(image.ScanLine(0), whole.ScanLine(0), 192), 0);
    EXPECT_EQ(std::memcmp(image.ScanLine(30), whole.ScanLine(30), 192), 0);
}

TEST(PngTest, InterlacedReadReportsEveryPassAndMatchesPlainRead)
{
    TPixelGraphic plain;
    ReadPng(NoisyRgb(21, 11, false), plain);
    TPixelGraphic image;
    TProgressLog log;
    log.Attach(image);
    const auto bytes = NoisyRgb(21, 11, true);
    TReadOnlyMemoryStream interlaced(bytes.data(), bytes.size());
    TPNGFileFormatReader reader;
    reader.Read(interlaced, image, 0);
    EXPECT_TRUE(test::SamePixels(plain, image));
    ASSERT_EQ(log.steps.size(), 77u);
    for (std::size_t i = 0; i < 77; ++i) {
        EXPECT_EQ(log.steps[i], int(i));
        EXPECT_EQ(log.maxima[i], 77);
    }
    EXPECT_EQ(log.starts, 1);
    EXPECT_EQ(log.ends, 1);
    for (TObject* sender : log.senders)
        EXPECT_EQ(sender, &reader);
}

TEST(PngTest, AbortStopsQuietlyAndKeepsRows)
{
    const auto bytes = EncodePng(PatternLayout(10, 20, 2));
    TPixelGraphic whole;
    ReadPng(bytes, whole);
    TPixelGraphic image;
    TProgressLog log;
    log.abortAt = 4;
    log.Attach(image);
    ReadPng(bytes, image);
    EXPECT_EQ(log.steps.size(), 5u);
    EXPECT_EQ(log.ends, 1);
    // Rows read are spread to 4 bits like a complete load; the rest stay 0.
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(image.GetPixel(x, 4), whole.GetPixel(x, 4));
        EXPECT_EQ(image.GetPixel(x, 5), 0u);
    }
}

TEST(PngTest, WriterStepsFromZeroUpToTheLastRowFromTheWriter)
{
    TPixelGraphic image;
    test::FillRandom(image, 9, 6, bc24, 2);
    TProgressLog log;
    log.Attach(image);
    TMemoryStream stream;
    TPNGFileFormatWriter writer;
    writer.Write(stream, image);
    EXPECT_EQ(log.steps, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(log.maxima.back(), 5);
    EXPECT_EQ(log.senders.front(), &writer);
}

TEST(PngTest, WriteFailuresReachTheCaller)
{
    TPixelGraphic image;
    test::FillRandom(image, 64, 64, bc24, 9);
    TPNGFileFormatWriter writer;
    TFailingStream shortStream({}, 100, false);
    EXPECT_EQ(MessageOf<EPGPNGFileFormatReaderWriter>([&] { writer.Write(shortStream, image); }),
              "PNG: Write Error");
    TFailingStream throwing({}, 100, true);
    EXPECT_THROW(writer.Write(throwing, image), EWriteError);
    TPixelGraphic empty;
    TMemoryStream stream;
    EXPECT_NE(MessageOf<EPGPNGFileFormatReaderWriter>([&] { writer.Write(stream, empty); }).rfind("PNG: ", 0),
              std::string::npos);
}

// A new image takes the display gamma, and the written gAMA is its reciprocal
// times 100000: 45455 for the sRGB default, 55556 for a 1.8 display.
TEST(PngTest, WrittenGammaFollowsTheDisplayGamma)
{
    const long double saved = DisplayGamma;
    for (const auto& [display, stored] : {std::pair{2.2L, 45455u}, std::pair{1.8L, 55556u}}) {
        DisplayGamma = display;
        TPixelGraphic image;
        image.SetSize(2, 2, bc24);
        const auto bytes = WritePng(image);
        const std::string text(bytes.begin(), bytes.end());
        const std::size_t at = text.find("gAMA");
        ASSERT_NE(at, std::string::npos);
        const std::uint32_t value = std::uint32_t(bytes[at + 4]) << 24 | std::uint32_t(bytes[at + 5]) << 16 |
                                    std::uint32_t(bytes[at + 6]) << 8 | bytes[at + 7];
        EXPECT_EQ(value, stored) << double(display);
    }
    DisplayGamma = saved;
}

}  // namespace
}  // namespace rastova
