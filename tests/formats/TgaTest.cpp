#include "formats/Tga.h"
#include "image/PaletteRepair.h"
#include "formats/TgaCodec.h"

#include "image/PGExceptions.h"
#include "image/PGraphic.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rastova;
using rastova::test::PixelValues;
using rastova::test::Raised;
using rastova::test::ReadWith;
using rastova::test::TByteBuilder;
using rastova::test::WriteWith;

namespace {

struct TTgaFile {
    std::vector<std::uint8_t> id;
    std::uint32_t colorMapType = 0;
    std::uint32_t imageType = 2;
    std::uint32_t firstEntry = 0;
    std::uint32_t mapLength = 0;
    std::uint32_t entrySize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t depth = 24;
    std::uint32_t descriptor = 0;
    std::vector<std::uint8_t> map;
    std::vector<std::uint8_t> pixels;

    std::vector<std::uint8_t> Bytes() const
    {
        TByteBuilder b;
        b.U8(std::uint32_t(id.size())).U8(colorMapType).U8(imageType).U16LE(firstEntry).U16LE(mapLength);
        b.U8(entrySize).U16LE(0).U16LE(0).U16LE(width).U16LE(height).U8(depth).U8(descriptor);
        b.Bytes(id).Bytes(map).Bytes(pixels);
        return b.Data();
    }
};

// A 3 x 2 true-colour file whose pixel k (in file order) is blue k, green 10 + k, red 20 + k.
TTgaFile Numbered24(std::uint32_t descriptor)
{
    TTgaFile f;
    f.width = 3;
    f.height = 2;
    f.descriptor = descriptor;
    for (std::uint8_t k = 0; k < 6; ++k)
        f.pixels.insert(f.pixels.end(), {k, std::uint8_t(10 + k), std::uint8_t(20 + k)});
    return f;
}

TRGB Numbered(int k)
{
    return RGBValue(std::uint8_t(20 + k), std::uint8_t(10 + k), std::uint8_t(k));
}

}  // namespace

// ---- writer -> reader ------------------------------------------------------------------------

struct TRoundTripCase {
    const char* name;
    TBitCount bitCount;
    int paletteCount;  // 0: full random palette or true colour
    bool gray;
    int width;
    int height;
};

class TgaRoundTrip : public ::testing::TestWithParam<TRoundTripCase> {};

TEST_P(TgaRoundTrip, WriterOutputReadsBackUnchanged)
{
    const TRoundTripCase& c = GetParam();
    TPixelGraphic source;
    test::FillRandom(source, c.width, c.height, c.bitCount, 11);
    if (c.gray)
        source.SetPaletteIdent(pGray256);
    if (c.paletteCount > 0)
        source.SetPaletteCount(c.paletteCount);

    TPixelGraphic loaded;
    const std::vector<std::uint8_t> file = WriteWith<TTGAFileFormatWriter>(source);
    // Random pixels name entries beyond a short palette: the reader adds black
    // entries for them.
    ExtendPaletteToPixels(source);
    ReadWith<TTGAFileFormatReader>(file, loaded);
    std::string why;
    EXPECT_TRUE(test::SamePixels(source, loaded, &why)) << why;

    // Through the common save and load paths: Targa is chosen by extension.
    // (A gray image is saved as 256 colours there, through the conversion.)
    source.DetectPaletteIdent();
    if (source.ColorResolution() != cr256Colors && source.ColorResolution() != crTrueColor)
        return;
    TMemoryStream stream;
    source.SaveToStreamExt(stream, "tga");
    stream.SetPosition(0);
    TPixelGraphic viaLoad;
    viaLoad.LoadFromStreamExt(stream, "TGA", 0);
    EXPECT_TRUE(test::SamePixels(source, viaLoad, &why)) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Resolutions, TgaRoundTrip,
    ::testing::Values(TRoundTripCase{"Colors256", bc8, 0, false, 7, 5},
                      TRoundTripCase{"Gray256", bc8, 0, true, 9, 4},
                      TRoundTripCase{"ShortPalette", bc8, 20, false, 6, 3},
                      TRoundTripCase{"TrueColor", bc24, 0, false, 5, 6},
                      TRoundTripCase{"TrueColorWidth1", bc24, 0, false, 1, 4}),
    [](const ::testing::TestParamInfo<TRoundTripCase>& info) { return std::string(info.param.name); });

TEST(TgaWriter, HeaderAndRowsWithoutAlignment)
{
    TPixelGraphic image;
    test::FillRandom(image, 5, 3, bc24, 2);
    std::vector<std::uint8_t> file = WriteWith<TTGAFileFormatWriter>(image);
    ASSERT_EQ(file.size(), 18u + 5u * 3u * 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 18),
              (std::vector<std::uint8_t>{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 24, 0}));
    // The first row written is the bottom row, blue-green-red.
    const TRGB bottomLeft = image.GetPixel(0, 2);
    EXPECT_EQ(file[18], BlueOf(bottomLeft));
    EXPECT_EQ(file[20], RedOf(bottomLeft));

    test::FillRandom(image, 3, 2, bc8, 3);
    image.SetPaletteCount(2);
    image.SetPixel(0, 1, 1);
    file = WriteWith<TTGAFileFormatWriter>(image);
    ASSERT_EQ(file.size(), 18u + 2u * 3u + 3u * 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 18),
              (std::vector<std::uint8_t>{0, 1, 1, 0, 0, 2, 0, 24, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0}));
    EXPECT_EQ(file[18 + 3], BlueOf(image.GetPaletteColor(1)));
    EXPECT_EQ(file[18 + 5], RedOf(image.GetPaletteColor(1)));
    EXPECT_EQ(file[24], 1);
}

TEST(TgaWriter, ProgressStepsFromZeroOfHeightFromTheImage)
{
    TPixelGraphic image;
    test::FillRandom(image, 2, 4, bc24, 4);
    test::TProgressLog log;
    log.Attach(image);
    WriteWith<TTGAFileFormatWriter>(image);
    EXPECT_EQ(log.steps, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(log.maxima, (std::vector<int>{4, 4, 4, 4}));
    EXPECT_EQ(log.senders.front(), &image);
}

TEST(TgaWriter, RefusesWhatTheHeaderCannotDescribe)
{
    TPixelGraphic image;
    test::FillRandom(image, 4, 2, bc4, 5);
    TMemoryStream stream;
    TTGAFileFormatWriter writer;
    EXPECT_THROW(writer.Write(stream, image), EPGCannotWriteColorRes);
    image.SetSize(70000, 1, bc8);
    EXPECT_EQ(Raised<EPixelGraphic>([&] { writer.Write(stream, image); }), "TGA: Invalid value for Width");
    EXPECT_EQ(stream.Size(), 0) << "nothing written before refusing";
}

// ---- reading known pixels ---------------------------------------------------------------------

TEST(TgaReader, FourOriginsPlaceTheRows)
{
    struct TCase {
        std::uint32_t descriptor;
        std::vector<int> order;  // file pixel shown at each image position, top row first
    };
    for (const TCase& c : {TCase{0x00, {3, 4, 5, 0, 1, 2}}, TCase{0x10, {5, 4, 3, 2, 1, 0}},
                           TCase{0x20, {0, 1, 2, 3, 4, 5}}, TCase{0x30, {2, 1, 0, 5, 4, 3}},
                           TCase{0x0F, {3, 4, 5, 0, 1, 2}}}) {
        TPixelGraphic image;
        ReadWith<TTGAFileFormatReader>(Numbered24(c.descriptor).Bytes(), image);
        std::vector<std::uint32_t> expected;
        for (const int k : c.order)
            expected.push_back(Numbered(k));
        EXPECT_EQ(PixelValues(image), expected) << c.descriptor;

        TTgaFile rle = Numbered24(c.descriptor);
        rle.imageType = 10;
        rle.pixels.insert(rle.pixels.begin(), 0x05);  // one raw packet of six pixels
        ReadWith<TTGAFileFormatReader>(rle.Bytes(), image);
        EXPECT_EQ(PixelValues(image), expected) << "run-length, " << c.descriptor;
    }
}

TEST(TgaReader, EightBitFilesMirrorLikeTrueColour)
{
    TTgaFile f;
    f.imageType = 3;
    f.depth = 8;
    f.width = 3;
    f.height = 2;
    f.pixels = {1, 2, 3, 4, 5, 6};
    for (const std::uint32_t descriptor : {0x00u, 0x10u, 0x20u, 0x30u}) {
        f.descriptor = descriptor;
        TPixelGraphic image;
        ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
        ASSERT_EQ(image.BitCount(), bc8);
        EXPECT_EQ(image.PaletteIdent(), pGray256);
        const std::vector<std::uint32_t> pixels = PixelValues(image);
        const std::vector<std::vector<std::uint32_t>> expected = {
            {4, 5, 6, 1, 2, 3}, {6, 5, 4, 3, 2, 1}, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}};
        EXPECT_EQ(pixels, expected[descriptor >> 4]) << descriptor;
    }
}

TEST(TgaReader, PixelDepthsBecomeColours)
{
    struct TCase {
        std::uint32_t depth;
        std::vector<std::uint8_t> pixel;
        TRGB expected;
    };
    for (const TCase& c : {TCase{16, {0xFF, 0x7F}, RGBValue(255, 255, 255)},
                           TCase{16, {0x00, 0x80}, 0},
                           TCase{16, {0x21, 0x04}, RGBValue(8, 8, 8)},
                           TCase{16, {0x1F, 0x00}, RGBValue(0, 0, 255)},
                           TCase{24, {1, 2, 3}, RGBValue(3, 2, 1)},
                           TCase{32, {1, 2, 3, 0x77}, RGBValue(3, 2, 1)}}) {
        TTgaFile f;
        f.depth = c.depth;
        f.width = 1;
        f.height = 1;
        f.pixels = c.pixel;
        TPixelGraphic image;
        ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
        ASSERT_EQ(image.BitCount(), bc24);
        EXPECT_EQ(image.GetPixel(0, 0), c.expected) << c.depth;
    }
}

TEST(TgaReader, ColourMapEntriesOfEachSize)
{
    struct TCase {
        std::uint32_t entrySize;
        std::vector<std::uint8_t> entry;
        TRGB expected;
    };
    for (const TCase& c : {TCase{16, {0xFF, 0x7F}, RGBValue(255, 255, 255)},
                           TCase{16, {0x1F, 0x7C}, RGBValue(255, 0, 255)},
                           TCase{24, {1, 2, 3}, RGBValue(3, 2, 1)},
                           TCase{32, {1, 2, 3, 4}, RGBValue(3, 2, 1)}}) {
        TTgaFile f;
        f.colorMapType = 1;
        f.imageType = 1;
        f.depth = 8;
        f.mapLength = 2;
        f.entrySize = c.entrySize;
        f.map = c.entry;
        f.map.insert(f.map.end(), c.entry.begin(), c.entry.end());
        f.width = 2;
        f.height = 1;
        f.pixels = {1, 0};
        TPixelGraphic image;
        ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
        ASSERT_EQ(image.PaletteCount(), 2);
        EXPECT_EQ(image.GetPaletteColor(1), c.expected) << c.entrySize;
        EXPECT_EQ(image.GetPixel(0, 0), 1u) << "pixels follow the map";
    }
}

TEST(TgaReader, LongMapsFillThePaletteAndAreSkippedWhole)
{
    TTgaFile f;
    f.colorMapType = 1;
    f.imageType = 1;
    f.depth = 8;
    f.mapLength = 300;
    f.entrySize = 24;
    for (int i = 0; i < 300; ++i)
        f.map.insert(f.map.end(), {std::uint8_t(i), 0, 0});
    f.width = 1;
    f.height = 1;
    f.pixels = {255};
    TPixelGraphic image;
    ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
    EXPECT_EQ(image.PaletteCount(), 256);
    EXPECT_EQ(image.GetPaletteColor(255), RGBValue(0, 0, 255));
    EXPECT_EQ(image.GetPixel(0, 0), 255u);
}

TEST(TgaReader, FirstEntryIndexPlacesTheMapInThePalette)
{
    // Stored entries belong to indices first, first + 1, ...; lower indices stay black.
    struct TCase {
        std::uint32_t first;
        std::uint32_t length;
        int paletteCount;
    };
    for (const TCase c : {TCase{2, 3, 5}, TCase{10, 2, 12}, TCase{250, 10, 256}}) {
        TTgaFile f;
        f.colorMapType = 1;
        f.imageType = 1;
        f.depth = 8;
        f.firstEntry = c.first;
        f.mapLength = c.length;
        f.entrySize = 24;
        for (std::uint32_t j = 0; j < c.length; ++j)
            f.map.insert(f.map.end(), {0, 0, std::uint8_t(100 + j)});
        f.width = 1;
        f.height = 1;
        f.pixels = {std::uint8_t(c.first + 1)};
        TPixelGraphic image;
        ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
        ASSERT_EQ(image.PaletteCount(), c.paletteCount) << c.first;
        EXPECT_EQ(image.GetPaletteColor(0), 0u);
        EXPECT_EQ(image.GetColor(0, 0), RGBValue(101, 0, 0)) << c.first;
    }
}

TEST(TgaReader, IdentifierAndForeignColourMapsAreSkipped)
{
    TTgaFile f = Numbered24(0x20);
    f.id = {'h', 'e', 'l', 'l', 'o'};
    f.colorMapType = 1;
    f.mapLength = 8;
    f.entrySize = 15;  // not a size the reader decodes, but it is only skipped
    f.map.assign(15, 0xEE);
    TPixelGraphic image;
    ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
    EXPECT_EQ(image.GetPixel(0, 0), Numbered(0));
    EXPECT_EQ(image.GetPixel(2, 1), Numbered(5));
}

TEST(TgaReader, RunLengthPacketsRepeatOrCopy)
{
    TTgaFile f;
    f.imageType = 11;
    f.depth = 8;
    f.width = 8;
    f.height = 1;
    f.pixels = {0x83, 7, 0x03, 1, 2, 3, 4};
    TPixelGraphic image;
    ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
    EXPECT_EQ(PixelValues(image), (std::vector<std::uint32_t>{7, 7, 7, 7, 1, 2, 3, 4}));
}

TEST(TgaReader, PacketsReachingPastARowContinueInTheNext)
{
    TTgaFile f;
    f.imageType = 11;
    f.depth = 8;
    f.width = 3;
    f.height = 3;
    f.descriptor = 0x20;
    // Five repeats cross into row 1; a raw packet of four crosses into row 2.
    f.pixels = {0x84, 9, 0x03, 1, 2, 3, 4};
    TPixelGraphic image;
    ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
    EXPECT_EQ(PixelValues(image), (std::vector<std::uint32_t>{9, 9, 9, 9, 9, 1, 2, 3, 4}));
}

// ---- rejected files ------------------------------------------------------------------------------

TEST(TgaReader, RejectedFieldsAndIndex)
{
    TTgaFile depth15 = Numbered24(0);
    depth15.depth = 15;
    TTgaFile mapEntry8;
    mapEntry8.colorMapType = 1;
    mapEntry8.imageType = 1;
    mapEntry8.depth = 8;
    mapEntry8.mapLength = 1;
    mapEntry8.entrySize = 8;
    mapEntry8.map = {0};
    TTgaFile mapEntry15 = mapEntry8;
    mapEntry15.entrySize = 15;
    mapEntry15.map = {0, 0};
    for (const TTgaFile* f : {&depth15, &mapEntry8, &mapEntry15}) {
        TPixelGraphic image;
        image.SetSize(2, 2, bc24);
        EXPECT_EQ(Raised<EPGTGAFileFormatReader>([&] { ReadWith<TTGAFileFormatReader>(f->Bytes(), image); }), "TGA: Not supported subformat");
        EXPECT_EQ(image.Width(), 2);
    }
    TMemoryStream stream(Numbered24(0).Bytes());
    TTGAFileFormatReader reader;
    TPixelGraphic image;
    EXPECT_EQ(Raised<EPGTGAFileFormatReader>([&] { reader.Read(stream, image, 1); }), "TGA: Index invalid");
    TFileInfo info;
    EXPECT_EQ(Raised<EPGTGAFileFormatReader>([&] { reader.GetInfo(stream, 2, info); }),
              "TGA: Invalid value for Index");
}

TEST(TgaReader, UnusualImageTypesAreDecodedAnyway)
{
    TTgaFile f = Numbered24(0x20);
    f.imageType = 0;
    TPixelGraphic image;
    ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
    EXPECT_EQ(image.GetPixel(1, 0), Numbered(1));
}

TEST(TgaReader, TruncatedHeadersMapsAndPixels)
{
    TTgaFile mapped;
    mapped.id = {1, 2, 3};
    mapped.colorMapType = 1;
    mapped.imageType = 1;
    mapped.depth = 8;
    mapped.mapLength = 4;
    mapped.entrySize = 24;
    mapped.map.assign(12, 5);
    mapped.width = 4;
    mapped.height = 4;
    mapped.pixels.assign(16, 1);
    const std::vector<std::uint8_t> whole = mapped.Bytes();
    // Inside the header, the identifier, the map and the pixels.
    for (const std::size_t n : {0u, 1u, 17u, 19u, 21u, 25u, 32u, 33u, 40u, 48u}) {
        TPixelGraphic image;
        image.SetSize(1, 1, bc24);
        EXPECT_EQ(Raised<EReadError>([&] { ReadWith<TTGAFileFormatReader>({whole.begin(), whole.begin() + std::ptrdiff_t(n)}, image); }),
                  "Stream read error")
            << n;
        EXPECT_EQ(image.Width(), 1) << "nothing allocated for a file cut at " << n;
    }
}

TEST(TgaReader, RunLengthDataEndingEarlyKeepsTheRowsDecoded)
{
    TTgaFile f;
    f.imageType = 11;
    f.depth = 8;
    f.width = 2;
    f.height = 3;
    f.descriptor = 0x20;
    f.pixels = {0x01, 5, 6, 0x01, 7, 8, 0x01, 9};  // the last row lacks a pixel
    TPixelGraphic image;
    EXPECT_EQ(Raised<EPGTGAFileFormatReader>([&] { ReadWith<TTGAFileFormatReader>(f.Bytes(), image); }), "TGA: Unexpected end of file");
    ASSERT_EQ(image.Height(), 3);
    EXPECT_EQ(PixelValues(image), (std::vector<std::uint32_t>{5, 6, 7, 8, 0, 0}));

    // Data that cannot hold the pixels even in the longest packets is refused
    // before anything is allocated.
    f.width = 60000;
    f.height = 60000;
    image.SetSize(1, 1, bc8);
    EXPECT_EQ(Raised<EPGTGAFileFormatReader>([&] { ReadWith<TTGAFileFormatReader>(f.Bytes(), image); }), "TGA: Unexpected end of file");
    EXPECT_EQ(image.Width(), 1);
}

// ---- progress ----------------------------------------------------------------------------------

TEST(TgaReader, ProgressPerRowAndAbortKeepsRows)
{
    TTgaFile f;
    f.imageType = 3;
    f.depth = 8;
    f.width = 2;
    f.height = 4;
    f.descriptor = 0x20;
    f.pixels = {1, 1, 2, 2, 3, 3, 4, 4};
    TPixelGraphic image;
    test::TProgressLog log;
    log.abortAt = 1;
    log.Attach(image);
    ReadWith<TTGAFileFormatReader>(f.Bytes(), image);
    EXPECT_EQ(log.steps, (std::vector<int>{0, 1}));
    EXPECT_EQ(log.maxima, (std::vector<int>{4, 4}));
    EXPECT_EQ(PixelValues(image), (std::vector<std::uint32_t>{1, 1, 2, 2, 0, 0, 0, 0}));
}

// ---- file information -----------------------------------------------------------------------------

TEST(TgaReader, GetInfoByImageType)
{
    struct TCase {
        std::uint32_t imageType;
        std::uint32_t depth;
        const char* subFormat;
        const char* extra;
        const char* colors;
    };
    for (const TCase& c : {TCase{1, 8, "Uncompressed", "Color-mapped", "256"},
                           TCase{2, 16, "Uncompressed", "True-color", "65536"},
                           TCase{3, 8, "Uncompressed", "\"Black-and-white\"", "256"},
                           TCase{9, 8, "Run-length encoded", "Color-mapped", "256"},
                           TCase{10, 24, "Run-length encoded", "True-color", "16.7M"},
                           TCase{11, 32, "Run-length encoded", "\"Black-and-white\"", "16.7M ?"}}) {
        TTgaFile f;
        f.imageType = c.imageType;
        f.depth = c.depth;
        f.width = 640;
        f.height = 480;
        TMemoryStream stream(f.Bytes());
        TTGAFileFormatReader reader;
        TFileInfo info;
        reader.GetInfo(stream, 0, info);
        EXPECT_EQ(info.SubFormatText, c.subFormat);
        EXPECT_EQ(info.ExtraText, c.extra);
        EXPECT_EQ(info.ColorsText, c.colors);
        EXPECT_EQ(info.Width, 640);
        EXPECT_EQ(info.Height, 480);
        EXPECT_EQ(info.BitsPerPixel, int(c.depth));
        EXPECT_EQ(info.ImageCount, 1);
    }
    for (const std::uint32_t type : {0u, 4u, 32u}) {
        TTgaFile f;
        f.imageType = type;
        TMemoryStream stream(f.Bytes());
        TTGAFileFormatReader reader;
        TFileInfo info;
        EXPECT_EQ(Raised<EPGTGAFileFormatReader>([&] { reader.GetInfo(stream, 0, info); }),
                  "TGA: Invalid value for ImageType");
    }
}

// ---- byte source and run-length decoder on their own ------------------------------------------------

TEST(TgaCodec, ByteSourceRefillsAndRunsDry)
{
    std::vector<std::uint8_t> bytes(2500);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i % 251);
    TMemoryStream stream(bytes);
    TTgaByteSource source(stream);
    std::vector<std::uint8_t> got(2499);
    got[0] = source.Next();
    source.Read(got.data() + 1, 2498);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1), got);
    EXPECT_EQ(source.Next(), bytes.back());
    EXPECT_EQ(Raised<EPGTGAFileFormatReader>([&] { source.Next(); }), "TGA: Unexpected end of file");
}

TEST(TgaCodec, DecoderCarriesPacketsAcrossRows)
{
    // Three-byte pixels: a repeat packet of 3, then a raw packet of 2 split 1 + 1.
    TMemoryStream stream(std::vector<std::uint8_t>{0x82, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9});
    TTgaByteSource source(stream);
    TTgaRleDecoder decoder(source, 3);
    std::vector<std::uint8_t> row(6);
    decoder.DecodeRow(row.data(), 2);
    EXPECT_EQ(row, (std::vector<std::uint8_t>{1, 2, 3, 1, 2, 3}));
    decoder.DecodeRow(row.data(), 2);
    EXPECT_EQ(row, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
    decoder.DecodeRow(row.data(), 1);
    EXPECT_EQ(row[0], 7);
    EXPECT_THROW(decoder.DecodeRow(row.data(), 1), EPGTGAFileFormatReader);
}

// Gray images are written as type 3 without a colour map and read back as the
// same gray image; other 8-bit images keep their colour map (type 1).
TEST(TgaWriter, GrayIsWrittenAsTypeThree)
{
    for (const bool gray : {true, false}) {
        TPixelGraphic image;
        test::FillRandom(image, 19, 7, bc8, 5);
        if (gray)
            image.SetPaletteIdent(pGray256);
        const std::vector<std::uint8_t> bytes = test::WriteWith<TTGAFileFormatWriter>(image);
        EXPECT_EQ(bytes[1], gray ? 0 : 1) << gray;  // colour map type
        EXPECT_EQ(bytes[2], gray ? 3 : 1) << gray;  // image type
        EXPECT_EQ(bytes.size(), 18u + (gray ? 0u : 3u * std::size_t(image.PaletteCount())) + 19u * 7u) << gray;
        TPixelGraphic back;
        test::ReadWith<TTGAFileFormatReader>(bytes, back);
        std::string why;
        EXPECT_TRUE(test::SamePixels(image, back, &why)) << gray << ": " << why;
        if (gray) {
            EXPECT_EQ(back.PaletteIdent(), pGray256);
        }
    }
}
