#include "formats/Register.h"
#include "formats/Tiff.h"

#include "TiffFileBuilder.h"
#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace rastova;
using rastova::test::TTiffFileBuilder;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint16_t kByte = TTiffFileBuilder::kByte;
constexpr std::uint16_t kShort = TTiffFileBuilder::kShort;
constexpr std::uint16_t kLong = TTiffFileBuilder::kLong;

// The directory of a plain strip image; tests change single fields.
struct TImageLayout {
    bool motorola = false;
    std::uint32_t width = 4;
    std::uint32_t height = 2;
    std::uint32_t photometric = 1;
    std::vector<std::uint32_t> bits{8};
    std::uint32_t compression = 1;
    std::uint32_t rowsPerStrip = 0;  // 0: tag left out
    std::vector<std::uint32_t> colorMap;
};

// Lays out the given strips (already encoded) and the directory.
Bytes BuildImage(const TImageLayout& layout, const std::vector<Bytes>& strips,
                 const std::function<void(TTiffFileBuilder&)>& extra = {})
{
    TTiffFileBuilder b(layout.motorola);
    std::vector<std::uint32_t> offsets, counts;
    for (const Bytes& s : strips) {
        offsets.push_back(b.Blob(s));
        counts.push_back(std::uint32_t(s.size()));
    }
    b.Long(256, layout.width).Long(257, layout.height).Entry(258, kShort, layout.bits).Short(259, layout.compression);
    b.Short(262, layout.photometric).Entry(273, kLong, offsets).Short(277, std::uint32_t(layout.bits.size()));
    if (layout.rowsPerStrip != 0)
        b.Long(278, layout.rowsPerStrip);
    b.Entry(279, kLong, counts);
    if (!layout.colorMap.empty())
        b.Entry(320, kShort, layout.colorMap);
    if (extra)
        extra(b);
    return b.Build();
}

// A directory first and the strips after it, at the end of the file (the way
// our writer lays files out), so cutting the file cuts the strips.
Bytes DirectoryThenStrips(const std::function<void(TTiffFileBuilder&, const std::vector<std::uint32_t>&)>& entries,
                          const std::vector<Bytes>& strips)
{
    std::vector<std::uint32_t> offsets(strips.size(), 0);
    TTiffFileBuilder probe;
    entries(probe, offsets);
    std::uint32_t at = std::uint32_t(probe.Build().size());
    for (std::size_t i = 0; i < strips.size(); ++i) {
        offsets[i] = at;
        at += std::uint32_t(strips[i].size());
    }
    TTiffFileBuilder b;
    entries(b, offsets);
    Bytes file = b.Build();
    for (const Bytes& strip : strips)
        file.insert(file.end(), strip.begin(), strip.end());
    return file;
}

void ReadBytes(const Bytes& file, TPixelGraphic& image, int index = 0)
{
    TTIFFileFormatReader reader;
    TReadOnlyMemoryStream stream(file.data(), file.size());
    reader.Read(stream, image, index);
}

TFileInfo InfoOf(const Bytes& file, int index = 0)
{
    return test::InfoWith<TTIFFileFormatReader>(file, index);
}

// The exception text of reading file, or "" when it loads.
template <class E = EPixelGraphic>
std::string ReadError(const Bytes& file, TPGWarningAction action = pgwaRaise, int index = 0)
{
    TPixelGraphic image;
    image.SetReadWarningAction(action);
    try {
        ReadBytes(file, image, index);
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

// Rows of image colours as 0x00BBGGRR, top row first.
std::vector<std::vector<TRGB>> Colors(const TPixelGraphic& image)
{
    std::vector<std::vector<TRGB>> rows(std::size_t(image.Height()));
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            rows[std::size_t(y)].push_back(image.GetColor(x, y));
    return rows;
}

TRGB Gray(int v) { return RGBValue(std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)); }

struct TScanAllGuard {
    bool scan = TIFFScanAllIFDs;
    int max = TIFFMaxIFDCount;
    ~TScanAllGuard()
    {
        TIFFScanAllIFDs = scan;
        TIFFMaxIFDCount = max;
    }
};

}  // namespace

TEST(TiffRead, CheckSignature)
{
    struct Row {
        Bytes bytes;
        bool expected;
    };
    const Row rows[] = {
        {{'I', 'I', 42, 0}, true},   {{'M', 'M', 0, 42}, true},  {{'I', 'I', 0, 42}, false},
        {{'M', 'M', 42, 0}, false},  {{'I', 'M', 42, 0}, false}, {{'I', 'I', 43, 0}, false},
        {{'I', 'I', 42}, false},     {{'I', 'I', 42, 0, 8, 0, 0, 0}, true},
    };
    TTIFFileFormatReader reader;
    for (const Row& row : rows) {
        TSignatureHeader header;
        header.Count = int(row.bytes.size());
        std::copy(row.bytes.begin(), row.bytes.end(), header.Bytes.begin());
        EXPECT_EQ(reader.CheckSignature(header), row.expected) << header.Count;
    }
}

// Every photometric interpretation and sample layout of the reader, in both byte
// orders; expected colours are worked out from the sample values by hand.
struct TLayoutCase {
    const char* name;
    std::uint32_t photometric;
    std::vector<std::uint32_t> bits;
    Bytes row;  // one file row of 4 pixels
    std::vector<std::uint32_t> colorMap;
    TBitCount bitCount;
    std::vector<TRGB> colors;
};

class TiffLayout : public ::testing::TestWithParam<std::tuple<TLayoutCase, bool>> {};

TEST_P(TiffLayout, DecodesRow)
{
    const TLayoutCase& c = std::get<0>(GetParam());
    TImageLayout layout;
    layout.motorola = std::get<1>(GetParam());
    layout.height = 1;
    layout.photometric = c.photometric;
    layout.bits = c.bits;
    layout.colorMap = c.colorMap;
    TPixelGraphic image;
    ReadBytes(BuildImage(layout, {c.row}), image);
    ASSERT_EQ(image.BitCount(), c.bitCount);
    ASSERT_EQ(image.Width(), 4);
    EXPECT_EQ(Colors(image)[0], c.colors);
}

namespace {

std::vector<std::uint32_t> FourColorMap()
{
    // 16 entries: entry i = (i * 16, 255 - i * 16, i) scaled by 256, plus a low byte
    // that the reader must drop.
    std::vector<std::uint32_t> map(48);
    for (std::uint32_t i = 0; i < 16; ++i) {
        map[i] = i * 16 * 256 + 0x7F;
        map[16 + i] = (255 - i * 16) * 256;
        map[32 + i] = i * 256 + 0xFF;
    }
    return map;
}

TRGB FourMapColor(int i)
{
    return RGBValue(std::uint8_t(i * 16), std::uint8_t(255 - i * 16), std::uint8_t(i));
}

const TLayoutCase kLayouts[] = {
    {"BlackIsZero1", 1, {1}, {0b10100000}, {}, bc1, {Gray(255), Gray(0), Gray(255), Gray(0)}},
    {"WhiteIsZero1", 0, {1}, {0b10100000}, {}, bc1, {Gray(0), Gray(255), Gray(0), Gray(255)}},
    {"Palette1IgnoresMap", 3, {1}, {0b01100000}, {65535, 0, 65535, 0, 65535, 0}, bc1,
     {Gray(0), Gray(255), Gray(255), Gray(0)}},
    {"BlackIsZero4", 1, {4}, {0x0F, 0x5A}, {}, bc4, {Gray(0), Gray(255), Gray(85), Gray(170)}},
    {"WhiteIsZero4", 0, {4}, {0x0F, 0x5A}, {}, bc4, {Gray(255), Gray(0), Gray(170), Gray(85)}},
    {"Palette4", 3, {4}, {0x01, 0xEF}, FourColorMap(), bc4,
     {FourMapColor(0), FourMapColor(1), FourMapColor(14), FourMapColor(15)}},
    {"BlackIsZero8", 1, {8}, {0, 1, 128, 255}, {}, bc8, {Gray(0), Gray(1), Gray(128), Gray(255)}},
    {"WhiteIsZero8", 0, {8}, {0, 1, 128, 255}, {}, bc8, {Gray(255), Gray(254), Gray(127), Gray(0)}},
    {"RGB", 2, {8, 8, 8}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252}, {}, bc24,
     {RGBValue(1, 2, 3), RGBValue(4, 5, 6), RGBValue(7, 8, 9), RGBValue(250, 251, 252)}},
    {"RGBExtraSample", 2, {8, 8, 8, 8}, {1, 2, 3, 99, 4, 5, 6, 0, 7, 8, 9, 255, 10, 11, 12, 1}, {}, bc24,
     {RGBValue(1, 2, 3), RGBValue(4, 5, 6), RGBValue(7, 8, 9), RGBValue(10, 11, 12)}},
    // red = (255 - cyan)(255 - black) / 255, rounded, and so on.
    {"CMYK", 5, {8, 8, 8, 8}, {0, 0, 0, 0, 255, 0, 0, 0, 10, 20, 30, 40, 200, 100, 50, 100}, {}, bc24,
     {RGBValue(255, 255, 255), RGBValue(0, 255, 255), RGBValue(207, 198, 190), RGBValue(33, 94, 125)}},
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(All, TiffLayout, ::testing::Combine(::testing::ValuesIn(kLayouts), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_MM" : "_II");
                         });

TEST(TiffRead, EightBitPaletteAndOddWidths)
{
    // 8-bit palette: indices copied, palette from the ColorMap (value div 256).
    std::vector<std::uint32_t> map(768, 0);
    map[7] = 0x1234;
    map[256 + 7] = 0xFF00;
    map[512 + 7] = 0x00FF;
    TImageLayout layout;
    layout.width = 3;
    layout.height = 1;
    layout.photometric = 3;
    layout.colorMap = map;
    TPixelGraphic image;
    ReadBytes(BuildImage(layout, {{7, 0, 7}}), image);
    EXPECT_EQ(image.PaletteCount(), 256);
    EXPECT_EQ(image.GetColor(0, 0), RGBValue(0x12, 0xFF, 0x00));
    EXPECT_EQ(image.GetPixel(1, 0), 0u);

    // Widths that end inside a byte: 1-bit and 4-bit rows of 11 and 3 pixels.
    TImageLayout one;
    one.width = 11;
    one.height = 2;
    one.bits = {1};
    one.photometric = 0;
    ReadBytes(BuildImage(one, {{0x0F, 0xFF, 0xF0, 0x1F}}), image);
    const std::vector<int> top{1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<int> bottom{0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1};
    for (int x = 0; x < 11; ++x) {
        EXPECT_EQ(int(image.GetPixel(x, 0)), top[std::size_t(x)]) << x;
        EXPECT_EQ(int(image.GetPixel(x, 1)), bottom[std::size_t(x)]) << x;
    }
    TImageLayout four;
    four.width = 3;
    four.height = 1;
    four.bits = {4};
    ReadBytes(BuildImage(four, {{0x12, 0x3F}}), image);
    EXPECT_EQ(image.GetPixel(2, 0), 3u);
    EXPECT_EQ(image.ScanLine(0)[1] & 0x0F, 0);  // the pad nibble stays clear
}

TEST(TiffRead, ByteOrdersLoadIdentically)
{
    TImageLayout layout;
    layout.width = 5;
    layout.height = 7;
    layout.bits = {8, 8, 8};
    layout.photometric = 2;
    layout.rowsPerStrip = 3;
    Bytes data(5 * 7 * 3);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint8_t(i * 37 + 11);
    std::vector<Bytes> strips{Bytes(data.begin(), data.begin() + 45), Bytes(data.begin() + 45, data.begin() + 90),
                              Bytes(data.begin() + 90, data.end())};
    TPixelGraphic ii, mm;
    ReadBytes(BuildImage(layout, strips), ii);
    layout.motorola = true;
    ReadBytes(BuildImage(layout, strips), mm);
    EXPECT_TRUE(test::SamePixels(ii, mm));
    EXPECT_EQ(ii.GetColor(1, 4), RGBValue(data[63], data[64], data[65]));
}

// PackBits rows: packets as written in the strip, the rows they must give (or the
// error), for rows of 4 bytes.
TEST(TiffRead, PackBitsRows)
{
    struct Row {
        const char* name;
        Bytes strip;
        std::uint32_t height;
        Bytes expected;  // all rows, top first
        const char* error;
    };
    const Row rows[] = {
        {"literal", {3, 1, 2, 3, 4}, 1, {1, 2, 3, 4}, nullptr},
        {"replicate", {0xFD, 9}, 1, {9, 9, 9, 9}, nullptr},
        {"mixed", {0, 5, 0xFE, 6}, 1, {5, 6, 6, 6}, nullptr},
        {"noop skipped", {0x80, 0xFD, 9}, 1, {9, 9, 9, 9}, nullptr},
        {"run ends at row end", {1, 1, 2, 0xFF, 3}, 1, {1, 2, 3, 3}, nullptr},
        {"cursor carries into next row", {0xFD, 1, 0xFD, 2}, 2, {1, 1, 1, 1, 2, 2, 2, 2}, nullptr},
        {"literal overflows row", {4, 1, 2, 3, 4, 5}, 1, {}, "TIFF (PackBits): Invalid count of bytes in row 0"},
        {"run overflows row", {0, 1, 0xFD, 2}, 1, {}, "TIFF (PackBits): Invalid count of bytes in row 0"},
        {"overflow in second row", {0xFD, 1, 0xFC, 2}, 2, {}, "TIFF (PackBits): Invalid count of bytes in row 1"},
        {"data runs out", {3, 1, 2}, 1, {}, "Stream read error"},
        {"header runs out", {0xFD, 1}, 2, {}, "Stream read error"},
    };
    for (const Row& row : rows) {
        const std::uint32_t height = row.height;
        const Bytes built = DirectoryThenStrips(
            [height](TTiffFileBuilder& b, const std::vector<std::uint32_t>& at) {
                b.Long(256, 4).Long(257, height).Short(258, 8).Short(259, 32773).Short(262, 1);
                b.Long(273, at[0]).Short(277, 1);
            },
            {row.strip});
        TPixelGraphic image;
        std::string error;
        try {
            ReadBytes(built, image);
        } catch (const EPixelGraphic& e) {
            error = e.what();
        }
        if (row.error) {
            EXPECT_EQ(error, row.error) << row.name;
            continue;
        }
        ASSERT_EQ(error, "") << row.name;
        Bytes got;
        for (int y = 0; y < image.Height(); ++y)
            for (int x = 0; x < 4; ++x)
                got.push_back(std::uint8_t(image.GetPixel(x, y)));
        EXPECT_EQ(got, row.expected) << row.name;
    }
}

TEST(TiffRead, PackBitsAcrossWindowBoundaries)
{
    // Rows of 3000 bytes, literal and replicate packets, long enough to cross
    // several 4096-byte windows, in two strips.
    const int width = 1000, height = 9;
    TImageLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bits = {8, 8, 8};
    layout.photometric = 2;
    layout.compression = 32773;
    layout.rowsPerStrip = 5;
    Bytes raw;
    std::vector<Bytes> strips(2);
    for (int y = 0; y < height; ++y) {
        Bytes& s = strips[std::size_t(y / 5)];
        for (int chunk = 0; chunk < 3000; chunk += 100) {
            if ((chunk / 100 + y) % 2 == 0) {
                s.push_back(99);
                for (int i = 0; i < 100; ++i) {
                    s.push_back(std::uint8_t(y * 7 + chunk + i));
                    raw.push_back(std::uint8_t(y * 7 + chunk + i));
                }
            } else {
                s.push_back(std::uint8_t(-99));
                s.push_back(std::uint8_t(y + chunk));
                raw.insert(raw.end(), 100, std::uint8_t(y + chunk));
            }
        }
    }
    TPixelGraphic image;
    ReadBytes(BuildImage(layout, strips), image);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; x += 37) {
            const std::size_t p = std::size_t(y * 3000 + x * 3);
            ASSERT_EQ(image.GetColor(x, y), RGBValue(raw[p], raw[p + 1], raw[p + 2])) << x << "," << y;
        }
}

// Each rejected directory gives its own exception text, in the order of the checks.
TEST(TiffRead, DirectoryErrors)
{
    struct Row {
        const char* name;
        std::function<void(TImageLayout&)> change;
        std::function<void(TTiffFileBuilder&)> extra;
        const char* message;
    };
    const auto none = [](TImageLayout&) {};
    const Row rows[] = {
        {"planar", none, [](TTiffFileBuilder& b) { b.Short(284, 2); }, ""},
        {"planar 3", none, [](TTiffFileBuilder& b) { b.Short(284, 3); }, "TIFF: PlanarConfiguration invalid"},
        {"planar 1 accepted", none, [](TTiffFileBuilder& b) { b.Short(284, 1); }, ""},
        {"samples 2", [](TImageLayout& s) { s.bits = {8, 8}; }, {}, ""},
        {"samples 17", [](TImageLayout& s) { s.bits.assign(17, 8); }, {}, "TIFF: Invalid SamplesPerPixel"},
        {"mixed depths", [](TImageLayout& s) { s.bits = {8, 8, 16}; s.photometric = 2; }, {},
         "TIFF: samples of different depths in one pixel are not supported"},
        {"bits 33", [](TImageLayout& s) { s.bits = {33}; }, {}, "TIFF: 33-bit samples are not supported"},
        {"bits count", none, [](TTiffFileBuilder& b) { b.Short(277, 3); }, "TIFF: Invalid count of SamplesPerPixel"},
        {"bits 2", [](TImageLayout& s) { s.bits = {2}; }, {}, ""},
        {"bits 16", [](TImageLayout& s) { s.bits = {16}; }, {}, ""},
        {"rgb 16", [](TImageLayout& s) { s.bits = {16, 16, 16}; s.photometric = 2; }, {}, ""},
        {"palette 16", [](TImageLayout& s) { s.bits = {16}; s.photometric = 3; }, {}, "TIFF: Invalid SamplesPerPixel"},
        {"cmyk 16", [](TImageLayout& s) { s.bits = {16, 16, 16, 16}; s.photometric = 5; }, {}, ""},
        {"other inks", [](TImageLayout& s) { s.bits = {8, 8, 8, 8}; s.photometric = 5; },
         [](TTiffFileBuilder& b) { b.Short(332, 2); }, "TIFF: inks other than CMYK are not supported"},
        {"gray with 3 samples", [](TImageLayout& s) { s.bits = {8, 8, 8}; }, {}, ""},
        {"ycbcr", [](TImageLayout& s) { s.bits = {8, 8, 8}; s.photometric = 6; }, {}, ""},
        {"ycbcr 16", [](TImageLayout& s) { s.bits = {16, 16, 16}; s.photometric = 6; }, {},
         "TIFF: YCbCr other than 8-bit chunky samples is not supported"},
        {"cmyk 3 samples", [](TImageLayout& s) { s.bits = {8, 8, 8}; s.photometric = 5; }, {},
         "TIFF: Invalid SamplesPerPixel"},
        {"photometric 4", [](TImageLayout& s) { s.photometric = 4; }, {},
         "TIFF: photometric interpretation 4 is not supported"},
        {"ccitt 8-bit", [](TImageLayout& s) { s.compression = 2; }, {},
         "TIFF: fax compression of other than 1-bit samples is not supported"},
        {"g3 8-bit", [](TImageLayout& s) { s.compression = 3; }, {},
         "TIFF: fax compression of other than 1-bit samples is not supported"},
        {"g4 8-bit", [](TImageLayout& s) { s.compression = 4; }, {},
         "TIFF: fax compression of other than 1-bit samples is not supported"},
        // 64 zero bytes of Group 4 are no code at all.
        {"g4 zeros", [](TImageLayout& s) { s.compression = 4; s.bits = {1}; }, {},
         "TIFF: CCITT data invalid in row 0"},
        // 64 zero bytes are 56 LZW codes 0: more zeros than the 8 pixels need.
        {"lzw", [](TImageLayout& s) { s.compression = 5; }, {}, ""},
        {"old jpeg without a stream", [](TImageLayout& s) { s.compression = 6; }, {},
         "TIFF: old-style JPEG compression without a whole JPEG stream is not supported"},
        {"jpeg zeros", [](TImageLayout& s) { s.compression = 7; }, {}, "TIFF: JPEG: Not a JPEG file: starts with 0x00 0x00"},
        {"deflate", [](TImageLayout& s) { s.compression = 32946; }, {}, "TIFF: Invalid Deflate data"},
        {"zstd", [](TImageLayout& s) { s.compression = 50000; }, {}, "TIFF: Unsupported compression 50000"},
        // Layout errors come before the compression check.
        {"lzw and palette 16", [](TImageLayout& s) { s.compression = 5; s.bits = {16}; s.photometric = 3; }, {},
         "TIFF: Invalid SamplesPerPixel"},
        {"field type in a read tag", none, [](TTiffFileBuilder& b) { b.Raw(256, 2, 1, 4); },
         "TIFF: Unsupported field Type: 2"},
        {"field type in an array", none, [](TTiffFileBuilder& b) { b.Raw(279, 5, 1, 0); },
         "TIFF: Unsupported field Type: 5"},
        {"field type in an unread tag", none, [](TTiffFileBuilder& b) { b.Raw(305, 2, 100, 0xFFFFFF); }, ""},
        {"rows per strip without a strip table", [](TImageLayout& s) { s.height = 3; }, [](TTiffFileBuilder& b) {
             b.Raw(273, kLong, 0, 0);
         },
         "TIFF: Invalid RowsPerStrip"},
    };
    for (const Row& row : rows) {
        TImageLayout layout;
        row.change(layout);
        const Bytes file = BuildImage(layout, {Bytes(64, 0)}, row.extra);
        EXPECT_EQ(ReadError<EPGTIFFileFormatReader>(file), row.message) << row.name;
    }
}

TEST(TiffRead, MissingTags)
{
    // No Compression tag reads as 0.
    TTiffFileBuilder b;
    const std::uint32_t at = b.Blob(Bytes(4, 0));
    b.Long(256, 4).Long(257, 1).Short(258, 8).Short(262, 1).Long(273, at).Short(277, 1);
    EXPECT_EQ(ReadError(b.Build()), "TIFF: Unsupported compression 0");

    // No PhotometricInterpretation tag reads as WhiteIsZero: zeros become white.
    TTiffFileBuilder w;
    const std::uint32_t at2 = w.Blob(Bytes(4, 0));
    w.Long(256, 4).Long(257, 1).Short(258, 8).Short(259, 1).Long(273, at2).Short(277, 1);
    TPixelGraphic image;
    ReadBytes(w.Build(), image);
    EXPECT_EQ(image.GetColor(2, 0), Gray(255));

    // No SamplesPerPixel tag: one sample, so only the missing strips are wrong.
    TTiffFileBuilder s;
    s.Long(256, 4).Long(257, 1).Short(258, 8).Short(259, 1).Short(262, 1);
    EXPECT_EQ(ReadError(s.Build()), "TIFF: Invalid RowsPerStrip");

    // Neither SamplesPerPixel nor BitsPerSample: a bilevel image.
    TTiffFileBuilder d;
    const std::uint32_t at3 = d.Blob(Bytes{0xA5});
    d.Long(256, 8).Long(257, 1).Short(259, 1).Short(262, 1).Long(273, at3);
    TPixelGraphic bilevel;
    ReadBytes(d.Build(), bilevel);
    EXPECT_EQ(bilevel.BitCount(), bc1);
    EXPECT_EQ(bilevel.GetPixel(0, 0), 1u);
    EXPECT_EQ(bilevel.GetPixel(1, 0), 0u);
    EXPECT_EQ(bilevel.GetPixel(7, 0), 1u);

    // Three samples but no BitsPerSample: three 1-bit samples, read like any
    // other depth; without a strip table there is nothing to read.
    TTiffFileBuilder t;
    t.Long(256, 4).Long(257, 1).Short(259, 1).Short(262, 2).Short(277, 3);
    EXPECT_EQ(ReadError(t.Build()), "TIFF: Invalid RowsPerStrip");
}

TEST(TiffRead, LastEntryWins)
{
    TImageLayout layout;
    layout.width = 2;
    layout.height = 1;
    // A second ImageWidth and a second StripOffsets later in the IFD.
    TTiffFileBuilder b;
    const std::uint32_t wrong = b.Blob({1, 1, 1, 1});
    const std::uint32_t right = b.Blob({7, 8, 9, 10});
    b.Long(256, 2).Long(257, 1).Short(258, 8).Short(259, 1).Short(262, 1).Long(273, wrong).Short(277, 1);
    b.Long(256, 4).Entry(273, kShort, {right});
    TPixelGraphic image;
    ReadBytes(b.Build(), image);
    ASSERT_EQ(image.Width(), 4);
    EXPECT_EQ(image.GetPixel(3, 0), 10u);

    // A later entry with count 0 leaves the array absent.
    TTiffFileBuilder c;
    const std::uint32_t data = c.Blob({7, 8, 9, 10});
    c.Long(256, 4).Long(257, 1).Short(258, 8).Short(259, 1).Short(262, 1).Long(273, data).Short(277, 1);
    c.Long(278, 1).Raw(273, kLong, 0, 0);
    EXPECT_EQ(ReadError(c.Build()), "TIFF: NumStripOffsets<>(ImageLength+RowsPerStrip-1) div RowsPerStrip");
}

TEST(TiffRead, ArrayValuesInsideTheEntry)
{
    // Two SHORT strip offsets and four BYTE samples fit the value field.
    for (const bool motorola : {false, true}) {
        TTiffFileBuilder b(motorola);
        const std::uint32_t s0 = b.Blob({1, 2, 3, 4, 5, 6, 7, 8});
        const std::uint32_t s1 = b.Blob({9, 10, 11, 12, 13, 14, 15, 16});
        b.Long(256, 2).Long(257, 2).Entry(258, kByte, {8, 8, 8, 8}).Short(259, 1).Short(262, 2);
        b.Entry(273, kShort, {s0, s1}).Short(277, 4).Short(278, 1);
        TPixelGraphic image;
        ReadBytes(b.Build(), image);
        EXPECT_EQ(image.GetColor(1, 0), RGBValue(5, 6, 7)) << motorola;
        EXPECT_EQ(image.GetColor(0, 1), RGBValue(9, 10, 11)) << motorola;
    }
}

TEST(TiffRead, RowsPerStripRules)
{
    // No RowsPerStrip and one strip: a single strip.
    TImageLayout layout;
    layout.height = 3;
    TPixelGraphic image;
    ReadBytes(BuildImage(layout, {Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}), image);
    EXPECT_EQ(image.GetPixel(0, 2), 9u);

    // No RowsPerStrip and two strips.
    EXPECT_EQ(ReadError(BuildImage(layout, {Bytes(8, 0), Bytes(4, 0)})), "TIFF: Invalid RowsPerStrip");

    // A RowsPerStrip past the last row (2^32 - 1 is the tag's default) is one strip.
    layout.rowsPerStrip = 0xFFFFFFF0u;
    EXPECT_EQ(ReadError(BuildImage(layout, {Bytes(12, 0)}), pgwaIgnore), "");

    // ImageLength 0, no RowsPerStrip, one strip: RowsPerStrip would end up 0.
    TImageLayout empty;
    empty.height = 0;
    EXPECT_EQ(ReadError(BuildImage(empty, {Bytes(4, 0)}), pgwaIgnore), "TIFF: Invalid RowsPerStrip");

    // No ImageLength, RowsPerStrip 16 and one strip: the single-strip warning
    // would make the rows per strip the length, 0, whatever the compression.
    for (const std::uint32_t compression : {1u, 5u, 8u, 32773u}) {
        TImageLayout noLength;
        noLength.height = 0;
        noLength.rowsPerStrip = 16;
        noLength.compression = compression;
        EXPECT_EQ(ReadError(BuildImage(noLength, {Bytes{0x80, 0x00, 0x20, 0x00}}), pgwaIgnore),
                  "TIFF: ImageLength invalid")
            << compression;
    }

    // RowsPerStrip larger than the image: one strip.
    layout.rowsPerStrip = 1000;
    ReadBytes(BuildImage(layout, {Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}), image);
    EXPECT_EQ(image.GetPixel(3, 2), 12u);
}

// RowsPerStrip 16, 100 rows, one strip: the warning action decides.
TEST(TiffRead, SingleStripMismatchWarning)
{
    TImageLayout layout;
    layout.width = 2;
    layout.height = 100;
    layout.rowsPerStrip = 16;
    Bytes data(200);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint8_t(i);
    const Bytes file = BuildImage(layout, {data});
    const std::string text = "TIFF: NumStripOffsets<>(ImageLength+RowsPerStrip-1) div RowsPerStrip";

    struct Row {
        TPGWarningAction action;
        TQuestionAnswer answer;
        bool loads;
        int questions;
        TQuestionButtons buttons;
    };
    const Row rows[] = {
        {pgwaIgnore, qaOK, true, 0, qbOK},
        {pgwaOKBox, qaOK, false, 1, qbOK},
        {pgwaOKCancelBox, qaOK, true, 1, qbOKCancel},
        {pgwaOKCancelBox, qaCancel, false, 1, qbOKCancel},
        {pgwaRaise, qaOK, false, 0, qbOK},
    };
    for (const Row& row : rows) {
        int questions = 0;
        SetQuestionFunction([&](const std::string& t, const std::string& caption, TQuestionButtons buttons) {
            ++questions;
            EXPECT_EQ(t, text);
            EXPECT_EQ(caption, "TIFF-Warning");
            EXPECT_EQ(buttons, row.buttons);
            return row.answer;
        });
        TPixelGraphic image;
        image.SetReadWarningAction(row.action);
        std::string error;
        try {
            ReadBytes(file, image);
        } catch (const EPGTIFFileFormatReader& e) {
            error = e.what();
        }
        SetQuestionFunction(nullptr);
        EXPECT_EQ(questions, row.questions) << int(row.action);
        EXPECT_EQ(error, row.loads ? "" : text) << int(row.action);
        if (row.loads) {
            EXPECT_EQ(image.GetPixel(1, 99), 199u);
        }
    }

    // Several strips that disagree are an error whatever the action.
    EXPECT_EQ(ReadError(BuildImage(layout, {Bytes(64, 0), Bytes(64, 0)}), pgwaIgnore), text);
}

TEST(TiffRead, MultiPageChain)
{
    TScanAllGuard guard;
    TTiffFileBuilder b;
    std::vector<std::uint32_t> at;
    for (std::uint8_t page = 0; page < 3; ++page)
        at.push_back(b.Blob(Bytes(4, std::uint8_t(10 + page))));
    for (std::size_t page = 0; page < 3; ++page) {
        if (page > 0)
            b.NextIfd();
        b.Long(256, 2 + std::uint32_t(page)).Long(257, 1).Short(258, 8).Short(259, 1).Short(262, 1);
        b.Long(273, at[page]).Short(277, 1);
    }
    const Bytes file = b.Build();

    TIFFScanAllIFDs = false;
    EXPECT_EQ(InfoOf(file).ImageCount, 1);
    EXPECT_EQ(ReadError(file, pgwaRaise, 1), "TIFF: Index invalid");

    TIFFScanAllIFDs = true;
    EXPECT_EQ(InfoOf(file).ImageCount, 3);
    for (int page = 0; page < 3; ++page) {
        TPixelGraphic image;
        ReadBytes(file, image, page);
        EXPECT_EQ(image.Width(), 2 + page);
        EXPECT_EQ(image.GetPixel(0, 0), std::uint32_t(10 + page));
        EXPECT_EQ(InfoOf(file, page).Width, 2 + page);
    }
    EXPECT_EQ(ReadError(file, pgwaRaise, 3), "TIFF: Index invalid");
    EXPECT_EQ(ReadError(file, pgwaRaise, -1), "TIFF: Index invalid");

    // More IFDs than the limit: a broken chain, one image.
    TIFFMaxIFDCount = 2;
    EXPECT_EQ(InfoOf(file).ImageCount, 1);
}

TEST(TiffRead, BrokenChains)
{
    TScanAllGuard guard;
    TIFFScanAllIFDs = true;
    const auto page = [](TTiffFileBuilder& b, std::uint32_t at) {
        b.Long(256, 4).Long(257, 1).Short(258, 8).Short(259, 1).Short(262, 1).Long(273, at).Short(277, 1);
    };
    struct Row {
        const char* name;
        std::function<std::uint32_t(const std::vector<std::uint32_t>& ifds, std::size_t size)> link;
    };
    const Row rows[] = {
        {"past the end", [](const auto&, std::size_t size) { return std::uint32_t(size + 100); }},
        {"at the last byte", [](const auto&, std::size_t size) { return std::uint32_t(size - 1); }},
        {"negative", [](const auto&, std::size_t) { return 0x80000000u; }},
        {"loop to itself", [](const auto& ifds, std::size_t) { return ifds[1]; }},
        {"loop to the first", [](const auto& ifds, std::size_t) { return ifds[0]; }},
    };
    for (const Row& row : rows) {
        TTiffFileBuilder b;
        const std::uint32_t at = b.Blob({1, 2, 3, 4});
        page(b, at);
        b.NextIfd();
        page(b, at);
        b.LastLink(0);
        Bytes file = b.Build();
        const std::uint32_t link = row.link(b.IfdOffsets(), file.size());
        const std::size_t field = b.IfdOffsets()[1] + 2 + 12 * 7;
        for (int i = 0; i < 4; ++i)
            file[field + std::size_t(i)] = std::uint8_t(link >> (8 * i));
        EXPECT_EQ(InfoOf(file).ImageCount, 1) << row.name;
        TPixelGraphic image;
        ReadBytes(file, image, 0);
        EXPECT_EQ(image.GetPixel(3, 0), 4u) << row.name;
        EXPECT_EQ(ReadError(file, pgwaRaise, 1), "TIFF: Index invalid") << row.name;
    }

    // An IFD whose entries would run past the end of the stream.
    TTiffFileBuilder b;
    const std::uint32_t at = b.Blob({1, 2, 3, 4});
    page(b, at);
    Bytes file = b.Build();
    const std::uint32_t tail = std::uint32_t(file.size());
    file.push_back(200);  // 200 entries announced, none there
    file.push_back(0);
    const std::size_t field = b.IfdOffsets()[0] + 2 + 12 * 7;
    for (int i = 0; i < 4; ++i)
        file[field + std::size_t(i)] = std::uint8_t(tail >> (8 * i));
    EXPECT_EQ(InfoOf(file).ImageCount, 1);
}

TEST(TiffRead, ReadsFromItsBasePosition)
{
    TImageLayout layout;
    layout.motorola = true;
    layout.photometric = 2;
    layout.bits = {8, 8, 8};
    layout.width = 1;
    layout.height = 2;
    const Bytes tiff = BuildImage(layout, {Bytes{1, 2, 3, 4, 5, 6}});
    Bytes stream(333, 0xEE);
    stream.insert(stream.end(), tiff.begin(), tiff.end());
    stream.insert(stream.end(), 50, 0xEE);
    TTIFFileFormatReader reader;
    TReadOnlyMemoryStream s(stream.data(), stream.size());
    s.SetPosition(333);
    TPixelGraphic image;
    reader.Read(s, image, 0);
    EXPECT_EQ(image.GetColor(0, 1), RGBValue(4, 5, 6));
    s.SetPosition(333);
    TFileInfo info;
    reader.GetInfo(s, 0, info);
    EXPECT_EQ(info.SubFormatText, "M, Uncompr., RGB");
}

// A file cut anywhere: a library error always; cut inside the pixels, the rows
// before the cut are kept.
TEST(TiffRead, Truncation)
{
    TImageLayout layout;
    layout.width = 4;
    layout.height = 6;
    layout.rowsPerStrip = 2;
    Bytes data(24);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint8_t(100 + i);
    const Bytes file = DirectoryThenStrips(
        [](TTiffFileBuilder& b, const std::vector<std::uint32_t>& at) {
            b.Long(256, 4).Long(257, 6).Short(258, 8).Short(259, 1).Short(262, 1);
            b.Entry(273, kLong, at).Short(277, 1).Long(278, 2);
        },
        {Bytes(data.begin(), data.begin() + 8), Bytes(data.begin() + 8, data.begin() + 16),
         Bytes(data.begin() + 16, data.end())});
    const std::size_t dataAt = file.size() - data.size();
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        const Bytes part(file.begin(), file.begin() + std::ptrdiff_t(cut));
        TPixelGraphic image;
        std::string error = "none";
        try {
            ReadBytes(part, image);
        } catch (const EReadError& e) {
            error = e.what();
        } catch (const EPixelGraphic& e) {
            error = std::string("other: ") + e.what();
        }
        // The mark itself cut short is still a read error, never a wrong guess.
        EXPECT_EQ(error, "Stream read error") << cut;
        if (cut >= dataAt) {
            const int rowsKept = int(cut - dataAt) / 4;
            ASSERT_EQ(image.Height(), 6);
            for (int y = 0; y < rowsKept; ++y)
                EXPECT_EQ(image.GetPixel(3, y), std::uint32_t(103 + 4 * y)) << cut;
        }
    }
}

// Offsets and counts that point outside the stream are read errors, found before
// anything is allocated for them.
TEST(TiffRead, OutOfRangeValues)
{
    struct Row {
        const char* name;
        std::function<void(TTiffFileBuilder&)> extra;
    };
    const Row rows[] = {
        {"strip offset past the end", [](TTiffFileBuilder& b) { b.Long(273, 0x7FFFFFF0); }},
        {"strip offset negative", [](TTiffFileBuilder& b) { b.Long(273, 0xFFFFFFF0); }},
        {"long array past the end", [](TTiffFileBuilder& b) { b.Raw(279, kLong, 3, 0x10000); }},
        {"short array past the end", [](TTiffFileBuilder& b) { b.Raw(320, kShort, 768, 0x10000); }},
        {"byte array past the end", [](TTiffFileBuilder& b) { b.Raw(258, kByte, 5, 0x10000); }},
        {"huge count", [](TTiffFileBuilder& b) { b.Raw(273, kLong, 0x7FFFFFFF, 8); }},
        {"huge count in an earlier duplicate", [](TTiffFileBuilder& b) {
             b.Raw(279, kLong, 0x3FFFFFFF, 8);
             b.Long(279, 4);
         }},
    };
    for (const Row& row : rows) {
        TImageLayout layout;
        const Bytes file = BuildImage(layout, {Bytes(8, 0)}, row.extra);
        EXPECT_EQ(ReadError<EReadError>(file), "Stream read error") << row.name;
    }

    // The IFD itself: past the end, and an entry count the file cannot hold.
    Bytes header{'I', 'I', 42, 0, 0, 1, 0, 0};
    EXPECT_EQ(ReadError<EReadError>(header), "Stream read error");
    Bytes hugeIfd{'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 1, 2, 3};
    EXPECT_EQ(ReadError<EReadError>(hugeIfd), "Stream read error");
    // A wrong mark, a wrong number.
    EXPECT_EQ(ReadError(Bytes{'I', 'M', 42, 0, 8, 0, 0, 0}), "TIFF: Not a TIF file");
    EXPECT_EQ(ReadError(Bytes{'M', 'M', 42, 0, 0, 0, 0, 8}), "TIFF: Not a TIF file");
}

TEST(TiffRead, ColorMapSizes)
{
    // A 4-bit palette file whose map has 4 entries: the rest are black, and every
    // index a pixel can hold has an entry.
    TImageLayout layout;
    layout.width = 2;
    layout.height = 1;
    layout.bits = {4};
    layout.photometric = 3;
    layout.colorMap = {0xFF00, 0, 0, 0, 0, 0xFF00, 0, 0, 0, 0, 0xFF00, 0};
    TPixelGraphic image;
    ReadBytes(BuildImage(layout, {{0x2F}}), image);
    ASSERT_EQ(image.PaletteCount(), 16);
    EXPECT_EQ(image.GetColor(0, 0), RGBValue(0, 0, 255));
    EXPECT_EQ(image.GetColor(1, 0), RGBValue(0, 0, 0));

    // No ColorMap at all.
    layout.colorMap.clear();
    ReadBytes(BuildImage(layout, {{0x2F}}), image);
    ASSERT_EQ(image.PaletteCount(), 16);
    EXPECT_EQ(image.GetColor(1, 0), RGBValue(0, 0, 0));

    // A map of 256 entries for a 4-bit image keeps its layout: green starts at 256.
    std::vector<std::uint32_t> big(768, 0);
    big[3] = 0x1100;
    big[256 + 3] = 0x2200;
    big[512 + 3] = 0x3300;
    layout.colorMap = big;
    ReadBytes(BuildImage(layout, {{0x30}}), image);
    ASSERT_EQ(image.PaletteCount(), 16);
    EXPECT_EQ(image.GetColor(0, 0), RGBValue(0x11, 0x22, 0x33));

    // A ColorMap count that is not a multiple of 3 uses count div 3 entries.
    layout.colorMap = {0xFF00, 0x1000, 0, 0x2000, 0x3000, 0x4000, 0x5000};
    ReadBytes(BuildImage(layout, {{0x01}}), image);
    EXPECT_EQ(image.GetColor(0, 0), RGBValue(0xFF, 0x00, 0x30));
    EXPECT_EQ(image.GetColor(1, 0), RGBValue(0x10, 0x20, 0x40));
}

TEST(TiffRead, ProgressAndAbort)
{
    TImageLayout layout;
    layout.height = 5;
    layout.rowsPerStrip = 1;
    std::vector<Bytes> strips;
    for (std::uint8_t y = 0; y < 5; ++y)
        strips.push_back(Bytes(4, std::uint8_t(y + 1)));
    const Bytes file = BuildImage(layout, strips);

    TTIFFileFormatReader reader;
    TPixelGraphic image;
    test::TProgressLog log;
    log.abortAt = 2;
    log.Attach(image);
    TReadOnlyMemoryStream stream(file.data(), file.size());
    reader.Read(stream, image, 0);
    EXPECT_EQ(log.steps, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(log.maxima, (std::vector<int>{5, 5, 5}));
    EXPECT_EQ(log.senders, (std::vector<TObject*>(5, &reader)));
    EXPECT_EQ(image.GetPixel(0, 2), 3u);
    EXPECT_EQ(image.GetPixel(0, 3), 0u);

    // The end event also comes when a row fails.
    std::vector<std::string> events;
    const Bytes failing = DirectoryThenStrips(
        [](TTiffFileBuilder& b, const std::vector<std::uint32_t>& at) {
            b.Long(256, 4).Long(257, 2).Short(258, 8).Short(259, 1).Short(262, 1);
            b.Entry(273, kLong, at).Short(277, 1).Long(278, 1);
        },
        {Bytes{1, 2, 3, 4}, Bytes{5}});
    TPixelGraphic other;
    other.SetOnProgressEnd([&](TObject*) { events.push_back("end"); });
    TReadOnlyMemoryStream failingStream(failing.data(), failing.size());
    EXPECT_THROW(reader.Read(failingStream, other, 0), EReadError);
    EXPECT_EQ(events, std::vector<std::string>{"end"});
    EXPECT_EQ(other.GetPixel(3, 0), 4u);
}

TEST(TiffRead, GetInfoTexts)
{
    struct Row {
        bool motorola;
        std::uint32_t compression;
        std::uint32_t photometric;
        std::vector<std::uint32_t> bits;
        const char* sub;
        const char* extra;
        int bitsPerPixel;
        const char* colors;
    };
    const Row rows[] = {
        {false, 1, 1, {8}, "I, Uncompr., BlackIsZero", "", 8, "256"},
        {true, 32773, 0, {1}, "M, PackBits, WhiteIsZero", "", 1, "2"},
        {false, 2, 0, {1}, "I, CCITT 1D, WhiteIsZero", "", 1, "2"},
        {false, 3, 0, {1}, "I, Group 3 F., WhiteIsZero", "", 1, "2"},
        {false, 4, 0, {1}, "I, Group 4 F., WhiteIsZero", "", 1, "2"},
        {false, 5, 2, {8, 8, 8}, "I, LZW, RGB", "", 24, "16.7 M"},
        {false, 8, 1, {16}, "I, Deflate, BlackIsZero", "", 16, "65536"},
        {false, 6, 2, {8, 8, 8, 8}, "I, JPEG, RGB", "(Unsupported compression)", 32, "16.7 M"},
        {true, 32946, 3, {4}, "M, Deflate, RGB Palette", "", 4, "16"},
        {true, 7, 3, {4}, "M, JPEG, RGB Palette", "", 4, "16"},
        {true, 7, 6, {8, 8, 8}, "M, JPEG, YCbCr", "", 24, "16.7 M"},
        {false, 1, 5, {8, 8, 8, 8}, "I, Uncompr., CMYK", "", 32, "16.7 M"},
    };
    for (const Row& row : rows) {
        TImageLayout layout;
        layout.motorola = row.motorola;
        layout.compression = row.compression;
        layout.photometric = row.photometric;
        layout.bits = row.bits;
        layout.width = 31;
        layout.height = 17;
        const TFileInfo info = InfoOf(BuildImage(layout, {Bytes(8, 0)}));
        EXPECT_EQ(info.SubFormatText, row.sub);
        EXPECT_EQ(info.ExtraText, row.extra) << row.sub;
        EXPECT_EQ(info.BitsPerPixel, row.bitsPerPixel) << row.sub;
        EXPECT_EQ(info.ColorsText, row.colors) << row.sub;
        EXPECT_EQ(info.Width, 31);
        EXPECT_EQ(info.Height, 17);
        EXPECT_EQ(info.ImageCount, 1);
    }
    // Directory errors reach GetInfo too.
    TImageLayout bad;
    bad.bits = {33};
    TTIFFileFormatReader reader;
    const Bytes file = BuildImage(bad, {Bytes(8, 0)});
    TReadOnlyMemoryStream stream(file.data(), file.size());
    TFileInfo info;
    EXPECT_THROW(reader.GetInfo(stream, 0, info), EPGTIFFileFormatReader);
}

TEST(TiffRead, LoadPathChoosesTheReaderByContent)
{
    TImageLayout layout;
    const Bytes file = BuildImage(layout, {Bytes{0, 85, 170, 255, 1, 2, 3, 4}});
    test::TTempDir dir;
    test::WriteAll(dir.File("gray.dat"), file);
    TPixelGraphic image;
    EXPECT_EQ(test::LoadLikeConverter(dir.File("gray.dat"), image), "");
    EXPECT_EQ(image.BitCount(), bc8);
    EXPECT_EQ(image.PaletteIdent(), pGray256);
    EXPECT_EQ(image.GetPixel(2, 0), 170u);
    TFileInfo info;
    ASSERT_TRUE(GetFileInfo(dir.File("gray.dat"), 0, info));
    EXPECT_EQ(info.FormatDescription, "Tagged Image File Format");
}

// Found by fuzzing: without an ImageWidth every row is 0 bytes long, and a
// billion of them must not be walked one by one.
TEST(TiffRead, ZeroWidthWithHugeLength)
{
    for (const std::uint32_t compression : {1u, 32773u}) {
        TTiffFileBuilder b;
        const std::uint32_t at = b.Blob({1, 2, 3, 4});
        b.Long(257, 0x3D000002).Short(258, 8).Short(259, compression).Short(262, 1).Long(273, at).Short(277, 1);
        TPixelGraphic image;
        ReadBytes(b.Build(), image);
        EXPECT_EQ(image.Width(), 0);
        EXPECT_EQ(image.Height(), 0x3D000002);
    }
}
