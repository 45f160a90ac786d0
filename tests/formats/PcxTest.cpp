#include "formats/Pcx.h"
#include "formats/PcxCodec.h"

#include "image/PGExceptions.h"
#include "image/PGPalettes.h"
#include "image/PGraphic.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rastova;
using rastova::test::Raised;
using rastova::test::ReadWith;
using rastova::test::RowValues;
using rastova::test::TByteBuilder;

namespace {

// Run-length coding of one scan line as a writer would do it: runs of up to 63
// equal bytes, single bytes below 0xC0 as themselves.
std::vector<std::uint8_t> EncodeLine(const std::vector<std::uint8_t>& line)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < line.size();) {
        std::size_t n = 1;
        while (i + n < line.size() && line[i + n] == line[i] && n < 63)
            ++n;
        if (n == 1 && line[i] < 0xC0) {
            out.push_back(line[i]);
        } else {
            out.push_back(std::uint8_t(0xC0 | n));
            out.push_back(line[i]);
        }
        i += n;
    }
    return out;
}

struct TPcxFile {
    std::uint32_t version = 5;
    std::uint32_t bitsPerPixel = 8;
    std::int32_t xMin = 0;
    std::int32_t yMin = 0;
    std::int32_t xMax = 0;
    std::int32_t yMax = 0;
    std::vector<std::uint8_t> colorMap = std::vector<std::uint8_t>(48, 0);
    std::uint32_t reserved = 0;
    std::uint32_t planes = 1;
    std::uint32_t bytesPerLine = 0;
    std::uint32_t paletteInfo = 1;
    std::vector<std::uint8_t> data;        // encoded scan lines
    std::vector<std::uint8_t> endPalette;  // 769 bytes for 8-bit files

    void AddLine(const std::vector<std::uint8_t>& line)
    {
        const std::vector<std::uint8_t> encoded = EncodeLine(line);
        data.insert(data.end(), encoded.begin(), encoded.end());
    }

    std::vector<std::uint8_t> Bytes() const
    {
        TByteBuilder b;
        b.U8(0x0A).U8(version).U8(1).U8(bitsPerPixel);
        b.U16LE(std::uint32_t(xMin)).U16LE(std::uint32_t(yMin)).U16LE(std::uint32_t(xMax)).U16LE(std::uint32_t(yMax));
        b.U16LE(72).U16LE(72).Bytes(colorMap).U8(reserved).U8(planes).U16LE(bytesPerLine).U16LE(paletteInfo);
        b.Fill(58, 0).Bytes(data).Bytes(endPalette);
        return b.Data();
    }
};

// 256 entries, entry i = (i, 255 - i, i / 2), behind the marker byte.
std::vector<std::uint8_t> EndPalette()
{
    TByteBuilder b;
    b.U8(12);
    for (int i = 0; i < 256; ++i)
        b.U8(i).U8(255 - i).U8(i / 2);
    return b.Data();
}

TPcxFile EightBit(int width, int height)
{
    TPcxFile f;
    f.xMax = width - 1;
    f.yMax = height - 1;
    f.bytesPerLine = std::uint32_t(width + (width & 1));
    for (int y = 0; y < height; ++y) {
        std::vector<std::uint8_t> line(f.bytesPerLine, 0);
        for (int x = 0; x < width; ++x)
            line[std::size_t(x)] = std::uint8_t(10 * y + x);
        f.AddLine(line);
    }
    f.endPalette = EndPalette();
    return f;
}

}  // namespace

// ---- known pixels -----------------------------------------------------------------------------

TEST(PcxReader, OneBitRowsClearBitsBeyondTheWidth)
{
    TPcxFile f;
    f.bitsPerPixel = 1;
    f.xMin = 5;
    f.xMax = 14;  // width 10: two bytes per row
    f.yMax = 1;
    f.bytesPerLine = 2;
    f.colorMap.assign(48, 0x77);  // ignored for 1-bit files
    f.AddLine({0xFF, 0xFF});
    f.AddLine({0x80, 0x7F});
    TPixelGraphic image;
    ReadWith<TPCXFileFormatReader>(f.Bytes(), image);
    ASSERT_EQ(image.BitCount(), bc1);
    ASSERT_EQ(image.Width(), 10);
    EXPECT_EQ(image.PaletteCount(), 2);
    EXPECT_EQ(image.GetPaletteColor(0), RGBValue(0, 0, 0));
    EXPECT_EQ(image.GetPaletteColor(1), RGBValue(255, 255, 255));
    EXPECT_EQ(image.ScanLine(0)[0], 0xFF);
    EXPECT_EQ(image.ScanLine(0)[1], 0xC0) << "only the two leftmost bits survive";
    EXPECT_EQ(RowValues(image, 1), (std::vector<std::uint32_t>{1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(PcxReader, FourPlanesMakeSixteenColours)
{
    TPcxFile f;
    f.bitsPerPixel = 1;
    f.planes = 4;
    f.xMax = 3;
    f.bytesPerLine = 2;
    // Pixel x has plane bits giving value: x0 = 1, x1 = 2 + 4, x2 = 8, x3 = 15.
    f.AddLine({0x90, 0, 0x50, 0, 0x50, 0, 0x30, 0});
    for (int i = 0; i < 16; ++i) {
        f.colorMap[std::size_t(3 * i)] = std::uint8_t(16 * i);
        f.colorMap[std::size_t(3 * i + 1)] = 1;
        f.colorMap[std::size_t(3 * i + 2)] = 2;
    }
    TPixelGraphic image;
    ReadWith<TPCXFileFormatReader>(f.Bytes(), image);
    ASSERT_EQ(image.BitCount(), bc4);
    EXPECT_EQ(RowValues(image, 0), (std::vector<std::uint32_t>{1, 6, 8, 15}));
    EXPECT_EQ(image.GetPaletteColor(3), RGBValue(48, 1, 2)) << "version 5 takes the header colours";

    f.version = 3;
    ReadWith<TPCXFileFormatReader>(f.Bytes(), image);
    EXPECT_EQ(image.PaletteIdent(), pSys16) << "version 3 has the system palette whatever the header holds";
    EXPECT_EQ(RowValues(image, 0), (std::vector<std::uint32_t>{1, 6, 8, 15}));
}

TEST(PcxReader, EightBitsTakeThePaletteAtTheEnd)
{
    const TPcxFile f = EightBit(3, 2);
    TPixelGraphic image;
    ReadWith<TPCXFileFormatReader>(f.Bytes(), image);
    ASSERT_EQ(image.BitCount(), bc8);
    ASSERT_EQ(image.PaletteCount(), 256);
    EXPECT_EQ(image.GetPaletteColor(200), RGBValue(200, 55, 100));
    EXPECT_EQ(RowValues(image, 0), (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(RowValues(image, 1), (std::vector<std::uint32_t>{10, 11, 12}));
}

TEST(PcxReader, ThreePlanesAreRedGreenBlue)
{
    TPcxFile f;
    f.planes = 3;
    f.xMax = 1;
    f.bytesPerLine = 2;
    f.AddLine({10, 11, 20, 21, 30, 31});
    TPixelGraphic image;
    ReadWith<TPCXFileFormatReader>(f.Bytes(), image);
    ASSERT_EQ(image.BitCount(), bc24);
    EXPECT_EQ(image.GetPixel(0, 0), RGBValue(10, 20, 30));
    EXPECT_EQ(image.GetPixel(1, 0), RGBValue(11, 21, 31));
}

TEST(PcxReader, ImageGammaBecomesTheDisplayGamma)
{
    TPixelGraphic image;
    image.SetGamma(1.0L);
    ReadWith<TPCXFileFormatReader>(EightBit(2, 2).Bytes(), image);
    EXPECT_EQ(image.Gamma(), DisplayGamma);
}

// ---- rejected files ---------------------------------------------------------------------------

struct TRejectCase {
    const char* name;
    std::function<void(TPcxFile&)> change;
    std::string message;
    bool byGetInfo;  // GetInfo checks palette information and the reserved byte only
};

class PcxRejects : public ::testing::TestWithParam<TRejectCase> {};

TEST_P(PcxRejects, WithTheFormatError)
{
    TPcxFile f = EightBit(4, 3);
    GetParam().change(f);
    const std::vector<std::uint8_t> bytes = f.Bytes();
    TPixelGraphic image;
    EXPECT_EQ(Raised<EPGPCXFileFormatReader>([&] { ReadWith<TPCXFileFormatReader>(bytes, image); }), GetParam().message);
    EXPECT_TRUE(image.GetEmpty()) << "refused before the pixels are allocated";

    TMemoryStream stream(bytes);
    TPCXFileFormatReader reader;
    TFileInfo info;
    if (GetParam().byGetInfo)
        EXPECT_EQ(Raised<EPGPCXFileFormatReader>([&] { reader.GetInfo(stream, 0, info); }), GetParam().message);
    else
        EXPECT_NO_THROW(reader.GetInfo(stream, 0, info));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PcxRejects,
    ::testing::Values(
        TRejectCase{"GrayPaletteInfo", [](TPcxFile& f) { f.paletteInfo = 2; }, "PCX: Unknown subformat", true},
        TRejectCase{"ReservedByte", [](TPcxFile& f) { f.reserved = 1; }, "PCX: Unknown subformat", true},
        TRejectCase{"FourBitsOnePlane", [](TPcxFile& f) { f.bitsPerPixel = 4; }, "PCX: Unknown subformat", false},
        TRejectCase{"TwoBits", [](TPcxFile& f) { f.bitsPerPixel = 2; }, "PCX: Unknown subformat", false},
        TRejectCase{"EightBitsFourPlanes", [](TPcxFile& f) { f.planes = 4; }, "PCX: Unknown subformat", false},
        TRejectCase{"OneBitThreePlanes", [](TPcxFile& f) { f.bitsPerPixel = 1, f.planes = 3; },
                    "PCX: Unknown subformat", false},
        TRejectCase{"NoPaletteMarker", [](TPcxFile& f) { f.endPalette[0] = 13; }, "PCX: Unknown subformat", false},
        TRejectCase{"NoPaletteBlock", [](TPcxFile& f) { f.endPalette.clear(); }, "PCX: Unknown subformat", false},
        TRejectCase{"LinesShorterThanTheWidth", [](TPcxFile& f) { f.bytesPerLine = 3; },
                    "PCX: Invalid value for BytesPerLine", false},
        TRejectCase{"DataTooShortForTheHeight", [](TPcxFile& f) { f.yMax = 30000; }, "PCX: Unexpected end of file",
                    false}),
    [](const ::testing::TestParamInfo<TRejectCase>& info) { return std::string(info.param.name); });

TEST(PcxReader, MissingPaletteMarkerRestoresThePosition)
{
    TPcxFile f = EightBit(2, 2);
    f.endPalette[0] = 0;
    TMemoryStream stream(f.Bytes());
    TPCXFileFormatReader reader;
    TPixelGraphic image;
    EXPECT_THROW(reader.Read(stream, image, 0), EPGPCXFileFormatReader);
    EXPECT_EQ(stream.Position(), 128);
}

TEST(PcxReader, NegativeSizeIsASizeError)
{
    TPcxFile f = EightBit(2, 2);
    f.xMin = 10;
    f.xMax = 5;
    TPixelGraphic image;
    EXPECT_EQ(Raised<EPGInvalidSize>([&] { ReadWith<TPCXFileFormatReader>(f.Bytes(), image); }), "Negative width");
    f = EightBit(2, 2);
    f.yMin = -3;
    f.yMax = -6;
    EXPECT_EQ(Raised<EPGInvalidSize>([&] { ReadWith<TPCXFileFormatReader>(f.Bytes(), image); }), "Negative height");
}

TEST(PcxReader, IndexOtherThanZeroIsRefused)
{
    TMemoryStream stream(EightBit(2, 2).Bytes());
    TPCXFileFormatReader reader;
    TPixelGraphic image;
    EXPECT_EQ(Raised<EPGPCXFileFormatReader>([&] { reader.Read(stream, image, 1); }), "PCX: Index invalid");
    TFileInfo info;
    EXPECT_EQ(Raised<EPGPCXFileFormatReader>([&] { reader.GetInfo(stream, 1, info); }),
              "PCX: Invalid value for Index");
}

// ---- truncation ---------------------------------------------------------------------------------

TEST(PcxReader, FileShorterThanTheHeaderIsRefused)
{
    const std::vector<std::uint8_t> whole = EightBit(2, 2).Bytes();
    for (const std::size_t n : {0u, 1u, 64u, 127u}) {
        TPixelGraphic image;
        image.SetSize(3, 3, bc24);
        EXPECT_EQ(Raised<EPGPCXFileFormatReader>([&] { ReadWith<TPCXFileFormatReader>({whole.begin(), whole.begin() + std::ptrdiff_t(n)}, image); }),
                  "PCX: Unknown subformat")
            << n;
        EXPECT_EQ(image.Height(), 3) << "the image is untouched";
        TMemoryStream stream(std::vector<std::uint8_t>(whole.begin(), whole.begin() + std::ptrdiff_t(n)));
        TFileInfo info;
        TPCXFileFormatReader reader;
        EXPECT_THROW(reader.GetInfo(stream, 0, info), EPGPCXFileFormatReader);
    }
}

TEST(PcxReader, DataEndingInsideTheRowsKeepsTheRowsDecoded)
{
    TPcxFile f;
    f.planes = 3;
    f.xMax = 3;
    f.yMax = 3;
    f.bytesPerLine = 4;
    for (int y = 0; y < 4; ++y)
        f.data.insert(f.data.end(), 12, std::uint8_t(50 + y));  // twelve single bytes a line
    f.data.resize(30);  // two lines and a half
    TPixelGraphic image;
    EXPECT_EQ(Raised<EPGPCXFileFormatReader>([&] { ReadWith<TPCXFileFormatReader>(f.Bytes(), image); }), "PCX: Unexpected end of file");
    ASSERT_EQ(image.Height(), 4);
    EXPECT_EQ(image.GetPixel(3, 1), RGBValue(51, 51, 51));
    EXPECT_EQ(image.GetPixel(0, 2), 0u);
}

// ---- the run-length decoder on its own ------------------------------------------------------------

TEST(PcxCodec, RunsLiteralsAndScanLineEnds)
{
    // 0xC3 0x55: three bytes; 0xC0 x: nothing; 0x07: itself; then a run of 5 that
    // crosses the end of the 6-byte line and loses its excess.
    TMemoryStream stream(std::vector<std::uint8_t>{0xC3, 0x55, 0xC0, 0x99, 0x07, 0xC5, 0x22, 0xC2, 0x33, 0x01});
    TPcxByteSource source(stream);
    std::vector<std::uint8_t> line(6, 0xEE);
    DecodePcxScanLine(source, line.data(), 6);
    EXPECT_EQ(line, (std::vector<std::uint8_t>{0x55, 0x55, 0x55, 0x07, 0x22, 0x22}));
    // The next line starts with a fresh run byte.
    line.assign(3, 0xEE);
    DecodePcxScanLine(source, line.data(), 3);
    EXPECT_EQ(line, (std::vector<std::uint8_t>{0x33, 0x33, 0x01}));
    EXPECT_EQ(Raised<EPGPCXFileFormatReader>([&] { DecodePcxScanLine(source, line.data(), 1); }),
              "PCX: Unexpected end of file");
}

TEST(PcxCodec, SourceRefillsAcrossItsBuffer)
{
    std::vector<std::uint8_t> bytes(3000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i % 63);  // all literals
    TMemoryStream stream(bytes);
    TPcxByteSource source(stream);
    std::vector<std::uint8_t> line(3000);
    DecodePcxScanLine(source, line.data(), 3000);
    EXPECT_EQ(line, bytes);
}

// ---- progress -------------------------------------------------------------------------------------

TEST(PcxReader, ProgressPerRowAndAbortKeepsRows)
{
    TPixelGraphic image;
    test::TProgressLog log;
    log.abortAt = 1;
    log.Attach(image);
    ReadWith<TPCXFileFormatReader>(EightBit(2, 4).Bytes(), image);
    EXPECT_EQ(log.steps, (std::vector<int>{0, 1}));
    EXPECT_EQ(log.maxima, (std::vector<int>{4, 4}));
    EXPECT_EQ(RowValues(image, 1), (std::vector<std::uint32_t>{10, 11}));
    EXPECT_EQ(RowValues(image, 2), (std::vector<std::uint32_t>{0, 0}));
}

// ---- file information -----------------------------------------------------------------------------

TEST(PcxReader, GetInfoFromTheHeader)
{
    struct TCase {
        std::uint32_t version;
        std::uint32_t bits;
        std::uint32_t planes;
        const char* subFormat;
        const char* colors;
    };
    for (const TCase& c : {TCase{0, 1, 1, "Version 2.5 (0)", "2"}, TCase{2, 1, 4, "Version 2.8 (2) with Palette", "16"},
                           TCase{3, 1, 4, "Version 2.8 (3) without Palette", "16"},
                           TCase{5, 8, 1, "Version 3.0 (5)", "256"}, TCase{5, 8, 3, "Version 3.0 (5)", "16.7M"},
                           TCase{4, 8, 1, "", "256"}, TCase{5, 4, 1, "Version 3.0 (5)", "16"},
                           TCase{5, 8, 4, "Version 3.0 (5)", "4294967296"}, TCase{1, 200, 3, "", "2^600"}}) {
        TPcxFile f;
        f.version = c.version;
        f.bitsPerPixel = c.bits;
        f.planes = c.planes;
        f.xMin = -2;
        f.xMax = 7;
        f.yMin = 3;
        f.yMax = 4;
        TMemoryStream stream(f.Bytes());
        TPCXFileFormatReader reader;
        TFileInfo info;
        reader.GetInfo(stream, 0, info);
        EXPECT_EQ(info.SubFormatText, c.subFormat);
        EXPECT_EQ(info.ColorsText, c.colors);
        EXPECT_EQ(info.BitsPerPixel, int(c.bits * c.planes));
        EXPECT_EQ(info.Width, 10);
        EXPECT_EQ(info.Height, 2);
        EXPECT_EQ(info.ImageCount, 1);
        EXPECT_EQ(info.ExtraText, "");
    }
}

