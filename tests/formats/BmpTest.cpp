#include "formats/Bmp.h"
#include "formats/Png.h"
#include "image/BmpCodec.h"
#include "image/ByteOrder.h"

#include "image/PGExceptions.h"
#include "image/PGraphic.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rastova;
using rastova::test::Raised;
using rastova::test::ReadWith;
using rastova::test::TByteBuilder;
using rastova::test::WriteWith;

namespace {

// Fields of a bitmap file to build; pixels and colour table are given raw.
struct TBmpFile {
    std::uint32_t headerSize = 40;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t planes = 1;
    std::uint32_t bitCount = 8;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::uint32_t clrUsed = 0;
    std::vector<std::uint32_t> masks;
    std::vector<std::uint8_t> table;
    std::vector<std::uint8_t> pixels;

    std::vector<std::uint8_t> Bytes() const
    {
        TByteBuilder b;
        b.Text("BM").U32LE(0).U32LE(0).U32LE(0);
        if (headerSize == 12) {
            b.U32LE(12).U16LE(std::uint32_t(width)).U16LE(std::uint32_t(height)).U16LE(planes).U16LE(bitCount);
        } else {
            b.U32LE(headerSize).U32LE(std::uint32_t(width)).U32LE(std::uint32_t(height)).U16LE(planes).U16LE(bitCount);
            b.U32LE(compression).U32LE(sizeImage).U32LE(0).U32LE(0).U32LE(clrUsed).U32LE(0);
        }
        for (const std::uint32_t m : masks)
            b.U32LE(m);
        b.Bytes(table).Bytes(pixels);
        return b.Data();
    }
};

// Colour table of n 4-byte entries, entry i = (red i, green 2i, blue 3i).
std::vector<std::uint8_t> Table4(int n)
{
    TByteBuilder b;
    for (int i = 0; i < n; ++i)
        b.U8(3 * i).U8(2 * i).U8(i).U8(0);
    return b.Data();
}

TRGB TableColor(int i)
{
    return RGBValue(std::uint8_t(i), std::uint8_t(2 * i), std::uint8_t(3 * i));
}

}  // namespace

// ---- writer -> reader, one case per colour resolution the writer stores ------------------------

struct TRoundTripCase {
    const char* name;
    TBitCount bitCount;
    TPaletteIdent ident;  // pUnknown: random palette
    int width;
    int height;
};

class BmpRoundTrip : public ::testing::TestWithParam<TRoundTripCase> {};

TEST_P(BmpRoundTrip, WriterOutputReadsBackUnchanged)
{
    const TRoundTripCase& c = GetParam();
    TPixelGraphic source;
    test::FillRandom(source, c.width, c.height, c.bitCount, 77);
    if (c.ident != pUnknown && c.ident != pTrueColor)
        source.SetPaletteIdent(c.ident);
    source.DetectPaletteIdent();

    const std::vector<std::uint8_t> file = WriteWith<TBMPFileFormatWriter>(source);
    TPixelGraphic loaded;
    ReadWith<TBMPFileFormatReader>(file, loaded);
    std::string why;
    EXPECT_TRUE(test::SamePixels(source, loaded, &why)) << why;

    // The common load path (content detection) and the streaming of a picture
    // property use the same coding.
    TMemoryStream stream(file);
    TPixelGraphic viaLoad;
    viaLoad.LoadFromStream(stream);
    EXPECT_TRUE(test::SamePixels(source, viaLoad, &why)) << why;

    TMemoryStream plain;
    source.SaveToStream(plain);
    EXPECT_EQ(plain.Data(), file) << "plain stream saving writes the same BMP file";

    TMemoryStream property;
    property.WriteByte(0xEE);
    source.WriteData(property);
    property.WriteByte(0xAB);
    property.SetPosition(1);
    TPixelGraphic viaData;
    viaData.ReadData(property);
    EXPECT_TRUE(test::SamePixels(source, viaData, &why)) << why;
    EXPECT_EQ(property.ReadByte(), 0xAB) << "ReadData must leave the stream after its block";

    std::uint32_t format = 0, palette = 1;
    std::vector<std::uint8_t> block;
    source.SaveToClipboardFormat(format, block, palette);
    EXPECT_EQ(format, CF_DIB);
    TPixelGraphic viaClipboard;
    viaClipboard.LoadFromClipboardFormat(format, block.data(), block.size());
    EXPECT_TRUE(test::SamePixels(source, viaClipboard, &why)) << why;
    EXPECT_EQ(viaClipboard.PaletteIdent(), source.PaletteIdent());
}

INSTANTIATE_TEST_SUITE_P(
    Resolutions, BmpRoundTrip,
    ::testing::Values(TRoundTripCase{"BlackWhite", bc1, pBlackWhite, 13, 5},
                      TRoundTripCase{"TwoColors", bc1, pUnknown, 33, 4},
                      TRoundTripCase{"Gray16", bc4, pGray16, 7, 6},
                      TRoundTripCase{"System16", bc4, pSys16, 9, 3},
                      TRoundTripCase{"Colors16", bc4, pUnknown, 10, 7},
                      TRoundTripCase{"Gray256", bc8, pGray256, 5, 5},
                      TRoundTripCase{"Colors256", bc8, pUnknown, 31, 9},
                      TRoundTripCase{"TrueColor", bc24, pTrueColor, 11, 8},
                      TRoundTripCase{"TrueColorWidth1", bc24, pTrueColor, 1, 3}),
    [](const ::testing::TestParamInfo<TRoundTripCase>& info) { return std::string(info.param.name); });

TEST(BmpWriter, HeaderFieldsDescribeTheFile)
{
    TPixelGraphic image;
    test::FillRandom(image, 6, 3, bc4, 1);
    std::vector<std::uint8_t> file = WriteWith<TBMPFileFormatWriter>(image);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32LE(&file[10]), 118u);                         // bfOffBits
    EXPECT_EQ(U32LE(&file[14 + 32]), 16u);                     // biClrUsed
    EXPECT_EQ(U32LE(&file[2]), 118u + 4u * 3u);                // bfSize
    EXPECT_EQ(file.size(), 118u + 12u);

    test::FillRandom(image, 6, 3, bc24, 1);
    file = WriteWith<TBMPFileFormatWriter>(image);
    EXPECT_EQ(U32LE(&file[10]), 54u);
    EXPECT_EQ(U32LE(&file[14 + 32]), 0u);
    EXPECT_EQ(U32LE(&file[14 + 20]), 3u * 20u);                // biSizeImage
    EXPECT_EQ(U32LE(&file[14 + 8]), 3u);                       // bottom-up height
}

TEST(BmpWriter, ImageWithoutPixelMemoryIsRefused)
{
    TPixelGraphic image;
    // Allocation refused: the size stays, the pixels do not exist.
    EXPECT_THROW(image.SetSize(50000, 50000, bc24), EPixelGraphic);
    ASSERT_TRUE(image.GetEmpty());
    TMemoryStream stream;
    TBMPFileFormatWriter writer;
    EXPECT_THROW(writer.Write(stream, image), EPGEmpty);
}

// ---- reading known pixels ----------------------------------------------------------------

TEST(BmpReader, TwentyFourBitRowsArePaddedToFourBytes)
{
    TBmpFile f;
    f.width = 1;
    f.height = 2;
    f.bitCount = 24;
    f.pixels = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};  // bottom row first
    TPixelGraphic image;
    ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
    ASSERT_EQ(image.BitCount(), bc24);
    EXPECT_EQ(image.PaletteIdent(), pTrueColor);
    EXPECT_EQ(image.GetPixel(0, 1), RGBValue(3, 2, 1));
    EXPECT_EQ(image.GetPixel(0, 0), RGBValue(6, 5, 4));
}

TEST(BmpReader, TopDownFilesPutTheFirstStoredRowOnTop)
{
    for (const std::uint32_t bits : {8u, 24u, 16u, 32u}) {
        TBmpFile f;
        f.width = 1;
        f.height = -3;
        f.bitCount = bits;
        const int bytesPerPixel = bits == 8 ? 1 : int(bits / 8);
        if (bits == 8)
            f.table = Table4(256);
        for (int row = 0; row < 3; ++row) {
            for (int i = 0; i < 4; ++i)
                f.pixels.push_back(i < bytesPerPixel ? std::uint8_t(row + 1) : 0);
        }
        TPixelGraphic image;
        ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
        ASSERT_EQ(image.Height(), 3) << bits;
        std::vector<std::uint32_t> column;
        for (int y = 0; y < 3; ++y)
            column.push_back(image.GetPixel(0, y));
        if (bits == 8) {
            EXPECT_EQ(column, (std::vector<std::uint32_t>{1, 2, 3}));
        } else {
            // The first stored row is the top row, and the rows differ.
            EXPECT_NE(column[0], column[1]) << bits;
            EXPECT_NE(column[1], column[2]) << bits;
            TBmpFile bottomUp = f;
            bottomUp.height = 3;
            TPixelGraphic reference;
            ReadWith<TBMPFileFormatReader>(bottomUp.Bytes(), reference);
            for (int y = 0; y < 3; ++y)
                EXPECT_EQ(column[std::size_t(y)], reference.GetPixel(0, 2 - y)) << bits;
        }
    }
}

TEST(BmpReader, TopDownFileCutShortKeepsItsFirstRowsOnTop)
{
    TBmpFile f;
    f.width = 4;
    f.height = -5;
    f.bitCount = 8;
    f.table = Table4(256);
    f.pixels = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3};  // two rows and a part of the third
    TPixelGraphic image;
    ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
    std::vector<std::uint32_t> column;
    for (int y = 0; y < 5; ++y)
        column.push_back(image.GetPixel(1, y));
    EXPECT_EQ(column, (std::vector<std::uint32_t>{1, 2, 3, 0, 0}));
    EXPECT_EQ(image.GetPixel(2, 2), 0u);
}

struct TFieldCase {
    const char* name;
    std::uint32_t bitCount;
    std::vector<std::uint32_t> masks;  // empty: defaults
    std::uint32_t pixel;
    TRGB expected;
};

class BmpBitFields : public ::testing::TestWithParam<TFieldCase> {};

TEST_P(BmpBitFields, PixelBecomesColour)
{
    const TFieldCase& c = GetParam();
    TBmpFile f;
    f.width = 1;
    f.height = 1;
    f.bitCount = c.bitCount;
    f.compression = c.masks.empty() ? 0 : 3;
    f.masks = c.masks;
    f.pixels = {std::uint8_t(c.pixel), std::uint8_t(c.pixel >> 8), std::uint8_t(c.pixel >> 16),
                std::uint8_t(c.pixel >> 24)};
    TPixelGraphic image;
    ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
    ASSERT_EQ(image.BitCount(), bc24);
    EXPECT_EQ(image.GetPixel(0, 0), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pixels, BmpBitFields,
    // 5- and 6-bit channels of 16-bit files span the full range: (v x 255 + 15) / 31.
    ::testing::Values(TFieldCase{"White555", 16, {}, 0x7FFF, RGBValue(255, 255, 255)},
                      TFieldCase{"Black555", 16, {}, 0x0000, 0},
                      TFieldCase{"Level1Of555", 16, {}, 0x0421, RGBValue(8, 8, 8)},
                      TFieldCase{"TopBitIgnored", 16, {}, 0x8000 | (2 << 10), RGBValue(16, 0, 0)},
                      TFieldCase{"Green565", 16, {0xF800, 0x07E0, 0x001F}, 0x07E0, RGBValue(0, 255, 0)},
                      TFieldCase{"Red565Level1", 16, {0xF800, 0x07E0, 0x001F}, 0x0800, RGBValue(8, 0, 0)},
                      TFieldCase{"Green565Level1", 16, {0xF800, 0x07E0, 0x001F}, 0x0020, RGBValue(0, 4, 0)},
                      TFieldCase{"ZeroMaskChannelIsBlack", 16, {0xFF00, 0x00FF, 0}, 0xFFFF, RGBValue(255, 255, 0)},
                      TFieldCase{"Default32", 32, {}, 0xAA112233, RGBValue(0x11, 0x22, 0x33)},
                      TFieldCase{"Swapped32", 32, {0xFF, 0xFF00, 0xFF0000}, 0x00112233, RGBValue(0x33, 0x22, 0x11)},
                      TFieldCase{"Wide32Capped", 32, {0x3FF00000, 0xFFC00, 0x3FF}, 0x3FFFFFFF,
                                 RGBValue(255, 255, 255)},
                      TFieldCase{"Narrow32", 32, {0xF00, 0xF0, 0xF}, 0x0000081, RGBValue(0, 128, 16)}),
    [](const ::testing::TestParamInfo<TFieldCase>& info) { return std::string(info.param.name); });

TEST(BmpReader, UncorrectedSixteenBitFieldsScaleWithoutFill)
{
    Correct16BitColors = false;
    const TBmpBitField red = PrepareBitField(0x7C00, true);
    Correct16BitColors = true;
    EXPECT_EQ(red.Extract(0x7C00), 248);
    EXPECT_EQ(red.Extract(0x0400), 8);
    EXPECT_EQ(PrepareBitField(0x7C00, true).Extract(0x7C00), 255);
    EXPECT_EQ(PrepareBitField(0x7C00, false).Extract(0x0400), 8) << "no fill outside 16-bit files";
}

TEST(BmpReader, CoreHeaderTakesThreeByteEntries)
{
    TBmpFile f;
    f.headerSize = 12;
    f.width = 3;
    f.height = 1;
    f.bitCount = 1;
    f.table = {10, 20, 30, 40, 50, 60};
    f.pixels = {0xA0, 0, 0, 0};
    TPixelGraphic image;
    ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
    ASSERT_EQ(image.BitCount(), bc1);
    ASSERT_EQ(image.PaletteCount(), 2);
    EXPECT_EQ(image.GetPaletteColor(0), RGBValue(30, 20, 10));
    EXPECT_EQ(image.GetPaletteColor(1), RGBValue(60, 50, 40));
    EXPECT_EQ(image.GetPixel(0, 0), 1u);
    EXPECT_EQ(image.GetPixel(1, 0), 0u);
    EXPECT_EQ(image.GetPixel(2, 0), 1u);
}

TEST(BmpReader, ColourCountDecidesWherePixelsStart)
{
    struct TCase {
        std::uint32_t bitCount;
        std::uint32_t clrUsed;
        int tableEntries;
        int paletteCount;  // the 4-bit pixel 4 extends a 1-entry table with black
    };
    for (const TCase c : {TCase{8, 0, 256, 256}, TCase{8, 20, 20, 20}, TCase{8, 300, 300, 256}, TCase{1, 5, 5, 2},
                          TCase{4, 1, 1, 5}, TCase{24, 3, 3, 0}}) {
        TBmpFile f;
        f.width = 2;
        f.height = 1;
        f.bitCount = c.bitCount;
        f.clrUsed = c.clrUsed;
        f.table = Table4(c.tableEntries);
        f.pixels = c.bitCount == 24 ? std::vector<std::uint8_t>{9, 8, 7, 6, 5, 4, 0, 0}
                   : c.bitCount == 8 ? std::vector<std::uint8_t>{1, 0, 0, 0}
                                     : std::vector<std::uint8_t>{0x40, 0, 0, 0};
        TPixelGraphic image;
        ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
        ASSERT_EQ(image.PaletteCount(), c.paletteCount) << c.clrUsed;
        if (c.paletteCount > 1) {
            // Entries past the file's table are the black ones added for the pixels.
            EXPECT_EQ(image.GetPaletteColor(1), c.tableEntries > 1 ? TableColor(1) : 0u) << c.clrUsed;
        }
        if (c.bitCount == 24)
            EXPECT_EQ(image.GetPixel(1, 0), RGBValue(4, 5, 6));
        else if (c.bitCount == 8)
            EXPECT_EQ(image.GetPixel(0, 0), 1u) << c.clrUsed;
        else if (c.bitCount == 4)
            EXPECT_EQ(image.GetPixel(0, 0), 4u);
        else
            EXPECT_EQ(image.GetPixel(1, 0), 1u);
    }
}

// ---- rejected fields ----------------------------------------------------------------------

struct TRejectCase {
    const char* name;
    std::function<void(TBmpFile&)> change;
    std::string message;
};

class BmpRejects : public ::testing::TestWithParam<TRejectCase> {};

TEST_P(BmpRejects, ReadAndGetInfoRaiseTheFormatError)
{
    TBmpFile f;
    f.width = 2;
    f.height = 2;
    f.bitCount = 8;
    f.table = Table4(256);
    f.pixels.assign(8, 0);
    GetParam().change(f);
    const std::vector<std::uint8_t> bytes = f.Bytes();

    TPixelGraphic image;
    image.SetSize(3, 3, bc24);
    EXPECT_EQ(Raised<EPGBMPFileFormatReader>([&] { ReadWith<TBMPFileFormatReader>(bytes, image); }), GetParam().message);
    EXPECT_EQ(image.Width(), 3) << "refused before allocating";

    if (GetParam().message.find("biClrUsed") == std::string::npos &&
        GetParam().message.find("biHeight") == std::string::npos) {
        TMemoryStream stream(bytes);
        TBMPFileFormatReader reader;
        TFileInfo info;
        EXPECT_EQ(Raised<EPGBMPFileFormatReader>([&] { reader.GetInfo(stream, 0, info); }), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BmpRejects,
    ::testing::Values(
        TRejectCase{"HeaderSize", [](TBmpFile& f) { f.headerSize = 64; },
                    "BMP: Invalid size of BitmapInfoHeader/BitmapCoreHeader"},
        TRejectCase{"Planes", [](TBmpFile& f) { f.planes = 2; }, "BMP: BitmapInfoHeader.biPlanes invalid"},
        TRejectCase{"BitCount2", [](TBmpFile& f) { f.bitCount = 2; }, "BMP: BitmapInfoHeader.biBitCount invalid"},
        TRejectCase{"BitCount64", [](TBmpFile& f) { f.bitCount = 64; }, "BMP: BitmapInfoHeader.biBitCount invalid"},
        TRejectCase{"CompressionUnknown", [](TBmpFile& f) { f.compression = 6; },
                    "BMP: BitmapInfoHeader.biCompression invalid"},
        TRejectCase{"BitFieldsOn8Bits", [](TBmpFile& f) { f.compression = 3; },
                    "BMP: BitmapInfoHeader.biCompression invalid"},
        TRejectCase{"BitFieldsOn24Bits", [](TBmpFile& f) { f.compression = 3, f.bitCount = 24; },
                    "BMP: BitmapInfoHeader.biCompression invalid"},
        TRejectCase{"Rle4On8Bits", [](TBmpFile& f) { f.compression = 2; },
                    "BMP: BitmapInfoHeader.biCompression invalid"},
        TRejectCase{"Rle8On4Bits", [](TBmpFile& f) { f.compression = 1, f.bitCount = 4; },
                    "BMP: BitmapInfoHeader.biCompression invalid"},
        TRejectCase{"Rle8TopDown", [](TBmpFile& f) { f.compression = 1, f.height = -2; },
                    "BMP: BitmapInfoHeader.biCompression invalid"},
        TRejectCase{"Rle4TopDown", [](TBmpFile& f) { f.compression = 2, f.bitCount = 4, f.height = -2; },
                    "BMP: BitmapInfoHeader.biCompression invalid"},
        TRejectCase{"CorePlanes", [](TBmpFile& f) { f.headerSize = 12, f.planes = 0; },
                    "BMP: BitmapCoreHeader.bcPlanes invalid"},
        TRejectCase{"CoreBitCount16", [](TBmpFile& f) { f.headerSize = 12, f.bitCount = 16; },
                    "BMP: BitmapCoreHeader.bcBitCount invalid"},
        TRejectCase{"ColourCountBeyondTheFile", [](TBmpFile& f) { f.clrUsed = 305402420; },
                    "BMP: BitmapInfoHeader.biClrUsed invalid"},
        TRejectCase{"ColourCountJustBeyondTheFile", [](TBmpFile& f) { f.clrUsed = 259; },
                    "BMP: BitmapInfoHeader.biClrUsed invalid"},
        TRejectCase{"HeightWithoutPositiveTwin", [](TBmpFile& f) { f.height = INT32_MIN; },
                    "BMP: BitmapInfoHeader.biHeight invalid"}),
    [](const ::testing::TestParamInfo<TRejectCase>& info) { return std::string(info.param.name); });

TEST(BmpReader, IndexOtherThanZeroIsRefused)
{
    TBmpFile f;
    f.width = 1;
    f.height = 1;
    f.bitCount = 24;
    f.pixels.assign(4, 0);
    TMemoryStream stream(f.Bytes());
    TBMPFileFormatReader reader;
    TPixelGraphic image;
    EXPECT_EQ(Raised<EPGBMPFileFormatReader>([&] { reader.Read(stream, image, 1); }), "BMP: Index invalid");
    TFileInfo info;
    EXPECT_EQ(Raised<EPGBMPFileFormatReader>([&] { reader.GetInfo(stream, 1, info); }),
              "BMP: Invalid value for Index");
}

TEST(BmpReader, NegativeWidthIsASizeError)
{
    TBmpFile f;
    f.width = -4;
    f.height = 1;
    f.bitCount = 24;
    TPixelGraphic image;
    EXPECT_EQ(Raised<EPGInvalidSize>([&] { ReadWith<TBMPFileFormatReader>(f.Bytes(), image); }), "Negative width");
}

TEST(BmpReader, ProgressBracketsEveryRead)
{
    TPixelGraphic image;
    test::TProgressLog log;
    log.Attach(image);
    TBmpFile f;
    f.width = 1;
    f.height = 1;
    f.bitCount = 24;
    f.pixels.assign(4, 0);
    ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
    f.planes = 3;
    EXPECT_THROW(ReadWith<TBMPFileFormatReader>(f.Bytes(), image), EPGBMPFileFormatReader);
    EXPECT_EQ(log.starts, 2);
    EXPECT_EQ(log.ends, 2);
    EXPECT_EQ(log.senders, (std::vector<TObject*>(4, &image)));
}

// ---- truncation -----------------------------------------------------------------------------

TEST(BmpReader, FileCutInsideAHeaderOrTableIsAReadError)
{
    TBmpFile info;
    info.width = 3;
    info.height = 2;
    info.bitCount = 16;
    info.compression = 3;
    info.masks = {0xF800, 0x07E0, 0x001F};
    info.pixels.assign(16, 0x11);
    TBmpFile palette;
    palette.width = 3;
    palette.height = 2;
    palette.bitCount = 8;
    palette.clrUsed = 4;
    palette.table = Table4(4);
    palette.pixels.assign(8, 1);
    TBmpFile core;
    core.headerSize = 12;
    core.width = 3;
    core.height = 2;
    core.bitCount = 4;
    core.table.assign(48, 7);
    core.pixels.assign(8, 0x11);
    // Cut points: inside the file header, inside the size field, inside the header,
    // and inside masks or colour table (the last header byte is at 14 + header size).
    struct TCut {
        const TBmpFile* file;
        std::vector<std::size_t> at;
    };
    for (const TCut& cut : {TCut{&info, {0, 1, 13, 14, 17, 18, 53, 54, 60, 65}},
                            TCut{&palette, {14, 40, 53, 54, 60, 69}}, TCut{&core, {14, 25, 26, 50, 73}}}) {
        const std::vector<std::uint8_t> whole = cut.file->Bytes();
        for (const std::size_t n : cut.at) {
            const std::vector<std::uint8_t> bytes(whole.begin(), whole.begin() + std::ptrdiff_t(n));
            TPixelGraphic image;
            image.SetSize(5, 5, bc8);
            EXPECT_EQ(Raised<EReadError>([&] { ReadWith<TBMPFileFormatReader>(bytes, image); }), "Stream read error") << n;
            EXPECT_EQ(image.Width(), 5) << "nothing allocated for a file cut at " << n;
        }
    }
}

TEST(BmpReader, PixelDataCutShortKeepsTheRowsRead)
{
    for (const std::uint32_t bits : {8u, 24u, 16u}) {
        TBmpFile f;
        f.width = 4;
        f.height = 3;
        f.bitCount = bits;
        if (bits == 8)
            f.table = Table4(256);
        const std::size_t stride = bits == 8 ? 4 : bits == 16 ? 8 : 12;
        // One whole bottom row and a part of the next.
        f.pixels.assign(stride + stride / 2, 0x21);
        TPixelGraphic image;
        ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
        ASSERT_EQ(image.Height(), 3);
        EXPECT_NE(image.GetPixel(0, 2), 0u) << bits;
        EXPECT_NE(image.GetPixel(1, 1), 0u) << bits << ": the part of the row that is there";
        EXPECT_EQ(image.GetPixel(3, 1), 0u) << bits;
        EXPECT_EQ(image.GetPixel(0, 0), 0u) << bits << ": a missing row keeps what SetSize gave it";
    }
}

// Run-length pixels place at most 255 pixels per two bytes; an image far
// larger than that is refused before anything is allocated, whatever end-of-line
// codes fill the data. Up to 2^24 pixels a short file still loads.
TEST(BmpReader, ImagesTheirDataCannotFillAreRefused)
{
    const struct {
        std::uint32_t compression, bitCount;
        std::int32_t width, height;
        std::size_t bytes;
        bool loads;
    } cases[] = {
        {2, 4, 20000, 30000, 4000, false}, {1, 8, 20000, 30000, 200000, false}, {1, 8, 30000, 1000, 200000, false},
        {2, 4, 4096, 4096, 2, true},       {1, 8, 30000, 1000, 260000, true},
        // Uncompressed: a 64th of the rows is the least a large cut file holds.
        {0, 4, 33554445, 7, 343, false},    {0, 24, 8000, 4000, 1000000, false},
        {0, 24, 8000, 4000, 1500000, true}, {0, 8, 4096, 4096, 16, true},
    };
    for (const auto& c : cases) {
        TBmpFile f;
        f.compression = c.compression;
        f.bitCount = c.bitCount;
        f.width = c.width;
        f.height = c.height;
        f.table = c.bitCount > 8 ? std::vector<std::uint8_t>() : Table4(c.bitCount == 4 ? 16 : 256);
        f.pixels.assign(c.bytes, 0);  // end-of-line codes only, or black rows
        f.sizeImage = std::uint32_t(c.bytes);
        TPixelGraphic image;
        image.SetReadWarningAction(pgwaIgnore);
        const auto error = Raised([&] { ReadWith<TBMPFileFormatReader>(f.Bytes(), image); });
        const std::string refusal =
            "BMP: Pixel data too short for " + std::to_string(c.width) + " x " + std::to_string(c.height) + " pixels";
        EXPECT_EQ(error.value_or(""), c.loads ? "" : refusal) << c.width << " x " << c.height;
    }
}

// ---- file information ----------------------------------------------------------------------

TEST(BmpReader, GetInfoDescribesTheHeader)
{
    struct TCase {
        std::uint32_t headerSize;
        std::uint32_t bitCount;
        std::uint32_t compression;
        std::int32_t height;
        const char* subFormat;
        const char* colors;
    };
    for (const TCase c : {TCase{12, 24, 0, 7, "OS/2", "16.7M"}, TCase{12, 1, 0, 7, "OS/2", "2"},
                          TCase{40, 4, 0, 7, "Windows, RGB", "16"}, TCase{40, 8, 1, 7, "Windows, RLE8", "256"},
                          TCase{40, 4, 2, 7, "Windows, RLE4", "16"},
                          TCase{40, 24, 0, -7, "Windows, RGB, Top-Down", "16.7M"},
                          TCase{40, 16, 3, -7, "Windows, Top-Down", "64K"}, TCase{40, 32, 3, 7, "Windows", "16.7M"}}) {
        TBmpFile f;
        f.headerSize = c.headerSize;
        f.width = 5;
        f.height = c.height;
        f.bitCount = c.bitCount;
        f.compression = c.compression;
        TMemoryStream stream(f.Bytes());
        TBMPFileFormatReader reader;
        TFileInfo info;
        reader.GetInfo(stream, 0, info);
        EXPECT_EQ(info.SubFormatText, c.subFormat);
        EXPECT_EQ(info.ColorsText, c.colors) << c.subFormat;
        EXPECT_EQ(info.Width, 5);
        EXPECT_EQ(info.Height, c.height);
        EXPECT_EQ(info.BitsPerPixel, int(c.bitCount));
        EXPECT_EQ(info.ImageCount, 1);
        EXPECT_EQ(info.ExtraText, "");
    }
}

// ---- ReadChunked ---------------------------------------------------------------------------

TEST(BmpReadChunked, TenSlicesWithProgressAndAbort)
{
    std::vector<std::uint8_t> source(1005);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = std::uint8_t(i * 7 + 1);

    for (const int abortAt : {0, 3}) {
        TMemoryStream stream(source);
        TPixelGraphic image;
        std::vector<int> steps;
        image.SetOnProgress([&](TObject* sender, int step, int max, bool& abort) {
            EXPECT_EQ(sender, &image);
            EXPECT_EQ(max, 10);
            steps.push_back(step);
            abort = step == abortAt;
        });
        std::vector<std::uint8_t> buffer(source.size(), 0);
        const bool aborted = ReadChunked(stream, image, buffer.data(), std::int64_t(buffer.size()));
        if (abortAt == 0) {
            EXPECT_FALSE(aborted);
            EXPECT_EQ(steps, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
            EXPECT_EQ(buffer, source);
        } else {
            EXPECT_TRUE(aborted);
            EXPECT_EQ(steps, (std::vector<int>{1, 2, 3}));
            EXPECT_EQ(buffer[299], source[299]);
            EXPECT_EQ(buffer[300], 0) << "nothing read after the abort";
        }
    }
}

TEST(BmpReadChunked, SmallBlocksAndShortStreams)
{
    TPixelGraphic image;
    int events = 0;
    image.SetOnProgress([&](TObject*, int, int, bool&) { ++events; });
    std::vector<std::uint8_t> buffer(100, 0xCC);
    TMemoryStream small(std::vector<std::uint8_t>(100, 5));
    EXPECT_FALSE(ReadChunked(small, image, buffer.data(), 100));
    EXPECT_EQ(events, 0);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(100, 5));

    std::vector<std::uint8_t> big(500, 0xCC);
    TMemoryStream shortStream(std::vector<std::uint8_t>(120, 9));
    EXPECT_FALSE(ReadChunked(shortStream, image, big.data(), 500));
    EXPECT_EQ(events, 10);
    EXPECT_EQ(big[119], 9);
    EXPECT_EQ(big[120], 0xCC) << "a short read leaves the rest alone";
}

// ---- run-length decoders on their own ---------------------------------------------------------

namespace {

// Decodes into a fresh image of the given size (palette of 256 entries) and
// returns its rows top to bottom as pixel values.
std::vector<std::vector<std::uint32_t>> DecodeRows(TBmpRle kind, const std::vector<std::uint8_t>& data, int width,
                                                   int height, std::int64_t declared = -1)
{
    TPixelGraphic image;
    image.SetSize(width, height, kind == TBmpRle::Rle8 ? bc8 : bc4);
    DecodeBmpRle(kind, data.data(), std::int64_t(data.size()), declared < 0 ? std::int64_t(data.size()) : declared,
                 image);
    std::vector<std::vector<std::uint32_t>> rows;
    for (int y = 0; y < height; ++y) {
        rows.emplace_back();
        for (int x = 0; x < width; ++x)
            rows.back().push_back(image.GetPixel(x, y));
    }
    return rows;
}

using TRows = std::vector<std::vector<std::uint32_t>>;

}  // namespace

TEST(BmpRle8, RunsLineEndsAndEndOfBitmap)
{
    // Bottom row: run of 2 x 5, absolute run of 3 (one pad byte); next row: run 4 x 9.
    const std::vector<std::uint8_t> data = {2, 5, 0, 3, 7, 8, 6, 0xEE, 0, 0, 4, 9, 0, 1, 3, 3};
    EXPECT_EQ(DecodeRows(TBmpRle::Rle8, data, 5, 3),
              (TRows{{0, 0, 0, 0, 0}, {9, 9, 9, 9, 0}, {5, 5, 7, 8, 6}}));
}

TEST(BmpRle8, DeltaMovesRightAndUp)
{
    const std::vector<std::uint8_t> data = {1, 1, 0, 2, 2, 1, 1, 4, 0, 1};
    EXPECT_EQ(DecodeRows(TBmpRle::Rle8, data, 4, 2), (TRows{{0, 0, 0, 4}, {1, 0, 0, 0}}));
}

TEST(BmpRle8, DeltaWithFewerThanFourBytesLeftEndsDecoding)
{
    // The delta's own bytes would be 2, 1: only three bytes remain from the escape.
    const std::vector<std::uint8_t> data = {1, 3, 0, 2, 1};
    EXPECT_EQ(DecodeRows(TBmpRle::Rle8, data, 3, 1), (TRows{{3, 0, 0}}));
}

TEST(BmpRle8, RunsLeavingTheImageAreDropped)
{
    // A run past the row end, a delta above the top, then more runs: none may wrap.
    const std::vector<std::uint8_t> data = {5, 1, 0, 0, 255, 2, 0, 2, 0, 200, 9, 3, 0, 2, 255, 0, 4, 4};
    EXPECT_EQ(DecodeRows(TBmpRle::Rle8, data, 3, 2), (TRows{{2, 2, 2}, {1, 1, 1}}));
}

TEST(BmpRle8, OutOfRangeRaisesWhenTheImageAsksForIt)
{
    TPixelGraphic image;
    image.SetSize(2, 1, bc8);
    image.SetRaiseOnRangeError(true);
    const std::vector<std::uint8_t> data = {3, 1};
    EXPECT_THROW(DecodeBmpRle(TBmpRle::Rle8, data.data(), 2, 2, image), EPGXYIndexOutOfRange);
}

TEST(BmpRle8, AbsoluteRunCutByTheEndOfTheDataStopsThere)
{
    const std::vector<std::uint8_t> data = {0, 5, 1, 2};
    EXPECT_EQ(DecodeRows(TBmpRle::Rle8, data, 5, 1, 1000), (TRows{{1, 2, 0, 0, 0}}));
}

TEST(BmpRle4, NibblesAlternateAndAbsoluteRunsArePadded)
{
    // Run of 5 from 0x12: 1 2 1 2 1. Absolute run of 5 nibbles: 3 bytes + 1 pad byte.
    const std::vector<std::uint8_t> data = {5, 0x12, 0, 5, 0x34, 0x56, 0x70, 0xEE, 0, 0, 3, 0xAB, 0, 1};
    EXPECT_EQ(DecodeRows(TBmpRle::Rle4, data, 10, 2),
              (TRows{{10, 11, 10, 0, 0, 0, 0, 0, 0, 0}, {1, 2, 1, 2, 1, 3, 4, 5, 6, 7}}));
    // A delta of two right and one up, from just after the first pixel of the bottom row.
    const std::vector<std::uint8_t> delta = {1, 0x10, 0, 2, 2, 1, 1, 0x20, 0, 1};
    EXPECT_EQ(DecodeRows(TBmpRle::Rle4, delta, 4, 3), (TRows{{0, 0, 0, 0}, {0, 0, 0, 2}, {1, 0, 0, 0}}));
}

TEST(BmpRle4, PixelsBeyondTheRowAreSkipped)
{
    TPixelGraphic image;
    image.SetSize(3, 1, bc4);
    image.SetRaiseOnRangeError(true);  // skipping is not a range error
    const std::vector<std::uint8_t> data = {4, 0x12, 0, 3, 0x34, 0x50};
    DecodeBmpRle(TBmpRle::Rle4, data.data(), std::int64_t(data.size()), std::int64_t(data.size()), image);
    EXPECT_EQ(image.GetPixel(0, 0), 1u);
    EXPECT_EQ(image.GetPixel(2, 0), 1u);
}

TEST(BmpRle, ProgressEveryTenthAndAbort)
{
    // 20 bytes of 2-pixel runs: a step at every second byte position.
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 10; ++i)
        data.insert(data.end(), {1, std::uint8_t(i + 1)});
    TPixelGraphic image;
    image.SetSize(10, 1, bc8);
    std::vector<int> steps;
    image.SetOnProgress([&](TObject*, int step, int max, bool& abort) {
        EXPECT_EQ(max, 10);
        steps.push_back(step);
        abort = step == 4;
    });
    EXPECT_TRUE(DecodeBmpRle(TBmpRle::Rle8, data.data(), 20, 20, image));
    EXPECT_EQ(steps, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(image.GetPixel(3, 0), 4u);
    EXPECT_EQ(image.GetPixel(4, 0), 0u) << "nothing decoded after the abort";

    // Under ten bytes there is no tenth to report: decoded to the end, no events.
    steps.clear();
    const std::vector<std::uint8_t> tiny = {3, 7, 0, 1};
    EXPECT_FALSE(DecodeBmpRle(TBmpRle::Rle8, tiny.data(), 4, 4, image));
    EXPECT_TRUE(steps.empty());
    EXPECT_EQ(image.GetPixel(2, 0), 7u);
}

TEST(BmpReader, RunLengthFileDataCutShortLoadsWhatIsThere)
{
    TBmpFile f;
    f.width = 4;
    f.height = 2;
    f.bitCount = 8;
    f.compression = 1;
    f.sizeImage = 4000000000u;  // far more than the file holds
    f.table = Table4(256);
    f.pixels = {4, 6, 0, 0, 2};  // the second row's run lacks its value byte
    TPixelGraphic image;
    ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
    EXPECT_EQ(image.GetPixel(3, 1), 6u);
    EXPECT_EQ(image.GetPixel(0, 0), 0u);
}

// ---- the longer headers of later versions --------------------------------------------

namespace {

// Header words after the first 40 bytes: the four masks, then zeros up to the size.
std::vector<std::uint32_t> LongHeaderWords(std::uint32_t headerSize, std::vector<std::uint32_t> masks)
{
    masks.resize((headerSize - 40) / 4, 0);
    return masks;
}

}  // namespace

// 32-bit pixels (blue 10, green 20, red 30) with alpha 0, 128 and 255 through
// each header size: the 52-byte header has no alpha mask, the longer ones lay
// the pixels over the background.
TEST(BmpReader, LongerHeadersWithTheirMasks)
{
    const TRGB background = RGBValue(200, 100, 0);
    const TRGB colour = RGBValue(30, 20, 10);
    for (const std::uint32_t size : {52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(size);
        TBmpFile f;
        f.headerSize = size;
        f.width = 3;
        f.height = 1;
        f.bitCount = 32;
        f.compression = 3;
        f.masks = LongHeaderWords(size, {0xFF0000, 0xFF00, 0xFF, 0xFF000000});
        f.pixels = {10, 20, 30, 0, 10, 20, 30, 128, 10, 20, 30, 255};
        TPixelGraphic image;
        image.SetBackGroundColor(background);
        ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
        const bool alpha = size >= 56;
        ASSERT_EQ(image.HasAlpha(), alpha);
        image.FlattenAlpha();
        ASSERT_EQ(image.BitCount(), bc24);
        EXPECT_EQ(image.GetColor(0, 0), alpha ? background : colour);
        EXPECT_EQ(image.GetColor(2, 0), colour);
        // Half way: (c x 128 + bg x 127) / 255, rounded.
        EXPECT_EQ(image.GetColor(1, 0), alpha ? RGBValue(115, 60, 5) : colour);

        // A 24-bit image and a palette image behind the same header.
        TBmpFile rgb = f;
        rgb.bitCount = 24;
        rgb.compression = 0;
        rgb.pixels = {10, 20, 30, 1, 2, 3, 4, 5, 6, 0, 0, 0};
        ReadWith<TBMPFileFormatReader>(rgb.Bytes(), image);
        EXPECT_EQ(image.GetColor(2, 0), RGBValue(6, 5, 4));
        TBmpFile pal = rgb;
        pal.bitCount = 8;
        pal.clrUsed = 4;
        pal.table = Table4(4);
        pal.pixels = {3, 1, 2, 0};
        ReadWith<TBMPFileFormatReader>(pal.Bytes(), image);
        EXPECT_EQ(image.GetColor(0, 0), TableColor(3));
        EXPECT_EQ(image.GetColor(2, 0), TableColor(2));
    }
}

// ReadDIB takes the same header sizes and refuses every other one by name
// instead of reading 40 bytes of it.
TEST(BmpReader, DibHeaderSizes)
{
    for (const std::uint32_t size : {16u, 40u, 52u, 64u, 108u, 124u, 128u}) {
        TBmpFile f;
        f.headerSize = size;
        f.width = 2;
        f.height = 1;
        f.bitCount = 24;
        f.masks = std::vector<std::uint32_t>(size > 40 ? (size - 40) / 4 : 0, 0);
        f.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
        const std::vector<std::uint8_t> file = f.Bytes();
        TMemoryStream stream(std::vector<std::uint8_t>(file.begin() + 14, file.end()));
        TPixelGraphic image;
        const bool known = size == 40 || size == 52 || size == 108 || size == 124;
        EXPECT_EQ(test::MessageOf([&] { image.ReadDIB(stream, false); }),
                  known ? "(nothing raised)" : "BMP: Invalid size of BitmapInfoHeader/BitmapCoreHeader")
            << size;
        if (known) {
            EXPECT_EQ(image.GetColor(1, 0), RGBValue(6, 5, 4)) << size;
        }
    }
}

// A V5 profile placed before the pixels is passed over; pixels naming entries
// beyond the colour table show black.
TEST(BmpReader, EmbeddedProfileAndIndicesBeyondTheTable)
{
    TBmpFile f;
    f.headerSize = 124;
    f.width = 4;
    f.height = 1;
    f.bitCount = 8;
    f.clrUsed = 2;
    std::vector<std::uint32_t> words = LongHeaderWords(124, {});
    words[(56 - 40) / 4] = 0x4D424544;        // CSType: embedded profile
    words[(112 - 40) / 4] = 124 + 2 * 4;      // profile right after the colour table
    words[(116 - 40) / 4] = 12;
    f.masks = words;
    f.table = Table4(2);
    const std::vector<std::uint8_t> profile(12, 0xEE);
    f.table.insert(f.table.end(), profile.begin(), profile.end());
    f.pixels = {1, 0, 7, 1};
    TPixelGraphic image;
    ReadWith<TBMPFileFormatReader>(f.Bytes(), image);
    ASSERT_EQ(image.PaletteCount(), 8);
    EXPECT_EQ(image.GetColor(0, 0), TableColor(1));
    EXPECT_EQ(image.GetColor(1, 0), TableColor(0));
    EXPECT_EQ(image.GetColor(2, 0), 0u);
    for (int i = 2; i < 8; ++i)
        EXPECT_EQ(image.GetPaletteColor(i), 0u) << i;
}

// A bitmap whose pixels are a PNG file (biCompression 5) shows that PNG; the
// first bitmap of an OS/2 bitmap array shows, its pixels found by bfOffBits
// behind the headers of the array's other bitmaps.
TEST(BmpReader, EmbeddedPngAndBitmapArrays)
{
    TPixelGraphic picture;
    test::FillRandom(picture, 13, 9, bc24, 4);
    const std::vector<std::uint8_t> png = test::WriteWith<TPNGFileFormatWriter>(picture);
    test::TByteBuilder embedded;
    embedded.U8('B').U8('M').U32LE(0).U32LE(0).U32LE(54);
    embedded.U32LE(40).U32LE(13).U32LE(9).U16LE(1).U16LE(0).U32LE(5).U32LE(std::uint32_t(png.size()));
    embedded.U32LE(0).U32LE(0).U32LE(0).U32LE(0).Bytes(png);
    TPixelGraphic image;
    test::ReadWith<TBMPFileFormatReader>(embedded.Data(), image);
    EXPECT_TRUE(test::SamePixels(image, picture));

    TPixelGraphic first, second;
    test::FillRandom(first, 7, 5, bc8, 6);
    test::FillRandom(second, 3, 2, bc24, 7);
    const std::vector<std::uint8_t> a = test::WriteWith<TBMPFileFormatWriter>(first);
    const std::vector<std::uint8_t> b = test::WriteWith<TBMPFileFormatWriter>(second);
    const std::uint32_t aHeaders = 14 + 40 + 4 * 256, bHeaders = 14 + 40;
    // Two array entries (headers only), then the pixels of both.
    const std::uint32_t secondEntry = 14 + aHeaders;
    const std::uint32_t aPixels = secondEntry + 14 + bHeaders, bPixels = aPixels + std::uint32_t(a.size()) - aHeaders;
    test::TByteBuilder array;
    array.U8('B').U8('A').U32LE(14).U32LE(secondEntry).U16LE(0).U16LE(0);
    std::vector<std::uint8_t> aHead(a.begin(), a.begin() + aHeaders);
    PutU32LE(&aHead[10], aPixels);
    array.Bytes(aHead);
    array.U8('B').U8('A').U32LE(14).U32LE(0).U16LE(0).U16LE(0);
    std::vector<std::uint8_t> bHead(b.begin(), b.begin() + bHeaders);
    PutU32LE(&bHead[10], bPixels);
    array.Bytes(bHead);
    array.Bytes(std::vector<std::uint8_t>(a.begin() + aHeaders, a.end()));
    array.Bytes(std::vector<std::uint8_t>(b.begin() + bHeaders, b.end()));
    TPixelGraphic shown;
    test::ReadWith<TBMPFileFormatReader>(array.Data(), shown);
    std::string why;
    EXPECT_TRUE(test::SamePixels(shown, first, &why)) << why;
}
