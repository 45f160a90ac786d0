#include "formats/Tiff.h"
#include "formats/TiffTags.h"

#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifdef RASTOVA_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace rastova;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Every library-wide writer setting, restored after each test.
struct TSettingsGuard {
    TTIFFWriteCompression compression = TIFFWriteCompression;
    bool cmyk = TIFFWriteCMYK;
    bool whiteIsZero = TIFFWriteWhiteIsZero;
    bool motorola = TIFFWriteMotorola;
    TTIFFResolutionUnit unit = TIFFWriteResolutionUnit;
    std::uint32_t xn = TIFFWriteXResNum, xd = TIFFWriteXResDen, yn = TIFFWriteYResNum, yd = TIFFWriteYResDen;
    bool scan = TIFFScanAllIFDs;
    ~TSettingsGuard()
    {
        TIFFWriteCompression = compression;
        TIFFWriteCMYK = cmyk;
        TIFFWriteWhiteIsZero = whiteIsZero;
        TIFFWriteMotorola = motorola;
        TIFFWriteResolutionUnit = unit;
        TIFFWriteXResNum = xn;
        TIFFWriteXResDen = xd;
        TIFFWriteYResNum = yn;
        TIFFWriteYResDen = yd;
        TIFFScanAllIFDs = scan;
    }
};

Bytes WriteToBytes(TPixelGraphic& image)
{
    TTIFFileFormatWriter writer;
    TMemoryStream stream;
    writer.Write(stream, image);
    EXPECT_EQ(stream.Position(), stream.Size());  // the writer ends at the end of its data
    return stream.Data();
}

void ReadBack(const Bytes& file, TPixelGraphic& image, int index = 0)
{
    TTIFFileFormatReader reader;
    TReadOnlyMemoryStream stream(file.data(), file.size());
    reader.Read(stream, image, index);
}

// A reading of the file that knows nothing of our reader: header, one IFD.
struct TParsedEntry {
    std::uint16_t tag, type;
    std::uint32_t count;
    std::uint32_t value;  // LONG or offset; SHORT values are in the low 16 bits
};

struct TParsedFile {
    const Bytes* bytes = nullptr;
    bool motorola = false;
    std::uint32_t ifd = 0;
    std::vector<TParsedEntry> entries;
    std::uint32_t next = 0;

    std::uint32_t U16(std::size_t at) const
    {
        const Bytes& b = *bytes;
        return motorola ? (std::uint32_t(b.at(at)) << 8 | b.at(at + 1)) : (std::uint32_t(b.at(at + 1)) << 8 | b.at(at));
    }
    std::uint32_t U32(std::size_t at) const
    {
        return motorola ? (U16(at) << 16 | U16(at + 2)) : (U16(at + 2) << 16 | U16(at));
    }
    const TParsedEntry& Tag(std::uint16_t tag) const
    {
        for (const TParsedEntry& e : entries)
            if (e.tag == tag)
                return e;
        throw std::runtime_error("no tag " + std::to_string(tag));
    }
    bool Has(std::uint16_t tag) const
    {
        for (const TParsedEntry& e : entries)
            if (e.tag == tag)
                return true;
        return false;
    }
    // Values of a LONG array, in the entry or at its offset.
    std::vector<std::uint32_t> Longs(std::uint16_t tag) const
    {
        const TParsedEntry& e = Tag(tag);
        if (e.count == 1)
            return {e.value};
        std::vector<std::uint32_t> v;
        for (std::uint32_t i = 0; i < e.count; ++i)
            v.push_back(U32(e.value + 4 * i));
        return v;
    }
};

TParsedFile Parse(const Bytes& file)
{
    TParsedFile p;
    p.bytes = &file;
    p.motorola = file.at(0) == 'M';
    EXPECT_EQ(file.at(0), file.at(1));
    EXPECT_EQ(p.U16(2), 42u);
    p.ifd = p.U32(4);
    const std::uint32_t n = p.U16(p.ifd);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t at = p.ifd + 2 + 12 * i;
        TParsedEntry e{std::uint16_t(p.U16(at)), std::uint16_t(p.U16(at + 2)), p.U32(at + 4), 0};
        e.value = e.type == 3 && e.count == 1 ? p.U16(at + 8) : p.U32(at + 8);
        p.entries.push_back(e);
    }
    p.next = p.U32(p.ifd + 2 + 12 * n);
    return p;
}

const std::vector<std::uint16_t> kThirteen{254, 256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 296};

std::vector<std::uint16_t> TagsOf(const TParsedFile& p)
{
    std::vector<std::uint16_t> tags;
    for (const TParsedEntry& e : p.entries)
        tags.push_back(e.tag);
    return tags;
}

// The strips must follow one another, each on an even offset, with at most one
// pad byte between them, and end where the file ends.
void ExpectStripsLaidOut(const Bytes& file, const TParsedFile& p, int strips)
{
    const std::vector<std::uint32_t> offsets = p.Longs(273);
    const std::vector<std::uint32_t> counts = p.Longs(279);
    ASSERT_EQ(int(offsets.size()), strips);
    ASSERT_EQ(int(counts.size()), strips);
    for (int i = 0; i < strips; ++i) {
        EXPECT_EQ(offsets[std::size_t(i)] % 2, 0u) << i;
        if (i > 0) {
            const std::uint32_t end = offsets[std::size_t(i) - 1] + counts[std::size_t(i) - 1];
            EXPECT_EQ(offsets[std::size_t(i)], end + end % 2) << i;
        }
    }
    EXPECT_EQ(offsets.back() + counts.back(), file.size());
}

}  // namespace

TEST(TiffWrite, HundredByHundredRgb)
{
    TSettingsGuard guard;
    TPixelGraphic image;
    test::FillRandom(image, 100, 100, bc24, 1);
    const Bytes file = WriteToBytes(image);
    const TParsedFile p = Parse(file);
    EXPECT_FALSE(p.motorola);
    EXPECT_EQ(p.ifd, 8u);
    EXPECT_EQ(p.next, 0u);
    EXPECT_EQ(TagsOf(p), kThirteen);
    EXPECT_EQ(p.Tag(256).value, 100u);
    EXPECT_EQ(p.Tag(257).value, 100u);
    EXPECT_EQ(p.Tag(258).count, 3u);
    EXPECT_EQ(p.U16(p.Tag(258).value), 8u);
    EXPECT_EQ(p.U16(p.Tag(258).value + 4), 8u);
    EXPECT_EQ(p.Tag(259).value, 1u);
    EXPECT_EQ(p.Tag(262).value, 2u);
    EXPECT_EQ(p.Tag(277).value, 3u);
    EXPECT_EQ(p.Tag(278).value, 100u);
    EXPECT_EQ(p.Tag(279).value, 30000u);
    EXPECT_EQ(p.Tag(282).type, 5u);
    EXPECT_EQ(p.U32(p.Tag(282).value), 300u);
    EXPECT_EQ(p.U32(p.Tag(282).value + 4), 1u);
    EXPECT_EQ(p.U32(p.Tag(283).value), 300u);
    EXPECT_EQ(p.Tag(296).value, 2u);  // inch
    ExpectStripsLaidOut(file, p, 1);
    // Pixel 0 of the top row, as red, green, blue.
    const TRGB c = image.GetColor(0, 0);
    const std::uint32_t data = p.Tag(273).value;
    EXPECT_EQ(file[data], RedOf(c));
    EXPECT_EQ(file[data + 2], BlueOf(c));
}

// Rows per strip and strip counts by row size and compression.
TEST(TiffWrite, StripLayout)
{
    TSettingsGuard guard;
    struct Row {
        int width, height;
        TBitCount bitCount;
        int compression;
        bool cmyk;
        std::uint32_t rowsPerStrip;
        int strips;
    };
    const Row rows[] = {
        {1000, 100, bc24, 1, false, 10, 10},
        {1000, 100, bc24, 32773, false, 5, 20},
        {6000, 3, bc24, 1, false, 1, 3},
        {11000, 2, bc24, 32773, false, 1, 2},   // row size over 32767
        {1000, 100, bc24, 1, true, 8, 13},      // 4000 bytes a row
        {8, 100, bc1, 1, false, 100, 1},        // capped to the height
        {8000, 40, bc1, 1, false, 32, 2},       // 1000 bytes a row
        {1001, 70, bc4, 32773, false, 32, 3},   // 501 bytes a row, buffer 1002
        {300, 300, bc8, 1, false, 109, 3},
    };
    for (const Row& row : rows) {
        TIFFWriteCompression = TTIFFWriteCompression(row.compression);
        TIFFWriteCMYK = row.cmyk;
        TPixelGraphic image;
        test::FillRandom(image, row.width, row.height, row.bitCount, 7);
        if (row.bitCount == bc1)
            image.SetPaletteIdent(pBlackWhite);
        const Bytes file = WriteToBytes(image);
        const TParsedFile p = Parse(file);
        EXPECT_EQ(p.Tag(278).value, row.rowsPerStrip) << row.width;
        EXPECT_EQ(int(p.Tag(273).count), row.strips) << row.width;
        ExpectStripsLaidOut(file, p, row.strips);
        if (row.strips > 1) {
            // The two tables follow the resolution rationals.
            EXPECT_EQ(p.Tag(273).value, p.Tag(283).value + 8) << row.width;
            EXPECT_EQ(p.Tag(279).value, p.Tag(273).value + 4 * std::uint32_t(row.strips)) << row.width;
        }
        TPixelGraphic back;
        ReadBack(file, back);
        EXPECT_TRUE(test::SamePixels(image, back)) << row.width;
    }
}

TEST(TiffWrite, ColorMapOfAShortPalette)
{
    TSettingsGuard guard;
    TPixelGraphic image;
    image.SetSize(5, 3, bc4);
    image.SetPaletteCount(12);
    for (int i = 0; i < 12; ++i)
        image.SetPaletteColor(i, RGBValue(std::uint8_t(i * 20), std::uint8_t(255 - i), std::uint8_t(i)));
    image.SetPixel(4, 2, 11);
    const Bytes file = WriteToBytes(image);
    const TParsedFile p = Parse(file);
    std::vector<std::uint16_t> tags = kThirteen;
    tags.push_back(320);
    EXPECT_EQ(TagsOf(p), tags);
    EXPECT_EQ(p.Tag(262).value, 3u);
    EXPECT_EQ(p.Tag(258).value, 4u);
    const TParsedEntry& map = p.Tag(320);
    ASSERT_EQ(map.count, 48u);
    for (std::uint32_t i = 0; i < 16; ++i) {
        const std::uint32_t r = p.U16(map.value + 2 * i);
        const std::uint32_t g = p.U16(map.value + 32 + 2 * i);
        const std::uint32_t b = p.U16(map.value + 64 + 2 * i);
        if (i < 12) {
            EXPECT_EQ(r, i * 20 * 256) << i;
            EXPECT_EQ(g, (255 - i) * 256) << i;
            EXPECT_EQ(b, i * 256) << i;
        } else {
            EXPECT_EQ(r + g + b, 0u) << i;
        }
    }
    // The ColorMap comes right after the IFD's next-IFD field.
    EXPECT_EQ(map.value, p.ifd + 2 + 14 * 12 + 4);
    TPixelGraphic back;
    ReadBack(file, back);
    EXPECT_EQ(back.PaletteCount(), 16);
    EXPECT_EQ(back.GetColor(4, 2), image.GetColor(4, 2));
}

TEST(TiffWrite, GrayAndWhiteIsZero)
{
    TSettingsGuard guard;
    struct Row {
        TBitCount bitCount;
        TPaletteIdent ident;
        bool whiteIsZero;
        std::uint32_t photometric;
        bool inverted;
        bool colorMap;
    };
    const Row rows[] = {
        {bc8, pGray256, false, 1, false, false}, {bc8, pGray256, true, 0, true, false},
        {bc8, pSpecial252, true, 3, false, true}, {bc4, pGray16, false, 1, false, false},
        {bc4, pGray16, true, 0, true, false},     {bc4, pSys16, true, 3, false, true},
        {bc1, pBlackWhite, false, 1, false, false}, {bc1, pBlackWhite, true, 0, true, false},
        {bc1, pUnknown, true, 0, false, false},
    };
    for (const Row& row : rows) {
        TIFFWriteWhiteIsZero = row.whiteIsZero;
        TPixelGraphic image;
        test::FillRandom(image, 9, 4, row.bitCount, 3);
        if (row.ident != pUnknown)
            image.SetPaletteIdent(row.ident);
        const Bytes file = WriteToBytes(image);
        const TParsedFile p = Parse(file);
        EXPECT_EQ(p.Tag(262).value, row.photometric) << int(row.bitCount) << row.whiteIsZero;
        EXPECT_EQ(p.Has(320), row.colorMap) << int(row.bitCount) << row.whiteIsZero;
        // The first file byte against the first image byte.
        const std::uint8_t first = image.ScanLine(0)[0];
        const std::uint8_t expected = row.inverted ? std::uint8_t(~first) : first;
        EXPECT_EQ(file[p.Tag(273).value], expected) << int(row.bitCount) << row.whiteIsZero;
        if (row.bitCount == bc1) {
            // The pad bits of the 9-pixel row stay clear, inverted or not.
            EXPECT_EQ(file[p.Tag(273).value + 1] & 0x7F, 0) << row.whiteIsZero;
        }
        if (row.ident != pUnknown) {
            // Palettes come back padded to the full 16 or 256 entries: compare colours.
            TPixelGraphic back;
            ReadBack(file, back);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 9; ++x)
                    ASSERT_EQ(back.GetColor(x, y), image.GetColor(x, y)) << int(row.bitCount) << row.whiteIsZero;
        }
    }
}

TEST(TiffWrite, MotorolaAndResolution)
{
    TSettingsGuard guard;
    TIFFWriteMotorola = true;
    TIFFWriteResolutionUnit = truCentimetre;
    TIFFWriteXResNum = 7200;
    TIFFWriteXResDen = 254;
    TIFFWriteYResNum = 0x01020304;
    TIFFWriteYResDen = 3;
    TPixelGraphic image;
    test::FillRandom(image, 3, 2, bc24, 9);
    const Bytes file = WriteToBytes(image);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), (Bytes{'M', 'M', 0, 42, 0, 0, 0, 8}));
    const TParsedFile p = Parse(file);
    EXPECT_EQ(p.Tag(296).value, 3u);
    EXPECT_EQ(p.U32(p.Tag(282).value), 7200u);
    EXPECT_EQ(p.U32(p.Tag(282).value + 4), 254u);
    EXPECT_EQ(p.U32(p.Tag(283).value), 0x01020304u);
    EXPECT_EQ(p.U32(p.Tag(283).value + 4), 3u);
    // SHORT values sit in the first half of the value field, big-endian.
    const std::size_t compression = p.ifd + 2 + 12 * 4 + 8;
    EXPECT_EQ(Bytes(file.begin() + std::ptrdiff_t(compression), file.begin() + std::ptrdiff_t(compression) + 4),
              (Bytes{0, 1, 0, 0}));

    TIFFWriteResolutionUnit = truNone;
    EXPECT_EQ(Parse(WriteToBytes(image)).Tag(296).value, 1u);
}

// PackBits rows: the bytes the encoder must produce.
TEST(TiffWrite, PackBitsEncoder)
{
    struct Row {
        const char* name;
        Bytes in;
        Bytes out;
    };
    Bytes literal200(200);
    for (std::size_t i = 0; i < 200; ++i)
        literal200[i] = std::uint8_t(i);
    Bytes literalOut{127};
    literalOut.insert(literalOut.end(), literal200.begin(), literal200.begin() + 128);
    literalOut.push_back(71);
    literalOut.insert(literalOut.end(), literal200.begin() + 128, literal200.end());
    const Row rows[] = {
        {"empty", {}, {}},
        {"one byte", {9}, {0, 9}},
        {"literal with an inner pair", {1, 2, 2, 3}, {3, 1, 2, 2, 3}},
        {"200 equal", Bytes(200, 5), {0x81, 5, 0xB9, 5}},
        {"129 equal", Bytes(129, 5), {0x81, 5, 0, 5}},
        {"pair alone", {4, 4}, {0xFF, 4}},
        {"pair then literal", {4, 4, 1}, {2, 4, 4, 1}},
        {"literal then pair", {1, 4, 4}, {2, 1, 4, 4}},
        {"pairs side by side", {4, 4, 5, 5}, {0xFF, 4, 0xFF, 5}},
        {"chain of pairs from a literal", {1, 4, 4, 5, 5, 6}, {5, 1, 4, 4, 5, 5, 6}},
        {"triple inside a literal", {1, 3, 3, 3, 2}, {0, 1, 0xFE, 3, 0, 2}},
        {"literal of 200", literal200, literalOut},
    };
    for (const Row& row : rows) {
        std::vector<std::int32_t> runs(row.in.size());
        Bytes out(2 * row.in.size());
        const std::size_t n = rastova::tiff::PackBitsEncodeRow(row.in.data(), row.in.size(), runs.data(), out.data());
        out.resize(n);
        EXPECT_EQ(out, row.out) << row.name;
    }
}

namespace {

// A plain PackBits decoder of our own, to check the encoder on any row.
Bytes Unpack(const Bytes& in)
{
    Bytes out;
    for (std::size_t i = 0; i < in.size();) {
        const int h = std::int8_t(in[i++]);
        if (h >= 0) {
            out.insert(out.end(), in.begin() + std::ptrdiff_t(i), in.begin() + std::ptrdiff_t(i) + h + 1);
            i += std::size_t(h) + 1;
        } else if (h != -128) {
            out.insert(out.end(), std::size_t(1 - h), in[i++]);
        }
    }
    return out;
}

}  // namespace

TEST(TiffWrite, PackBitsEncoderRoundTripsRandomRows)
{
    std::mt19937 random(12345);
    for (int trial = 0; trial < 2000; ++trial) {
        const std::size_t n = random() % 700;
        const unsigned alphabet = 1 + random() % 4;  // few values: many runs
        Bytes row(n);
        for (std::uint8_t& b : row)
            b = std::uint8_t(random() % alphabet);
        std::vector<std::int32_t> runs(n);
        Bytes out(2 * n);
        const std::size_t size = rastova::tiff::PackBitsEncodeRow(row.data(), n, runs.data(), out.data());
        ASSERT_LE(size, 2 * n);
        out.resize(size);
        ASSERT_EQ(Unpack(out), row) << trial;
        for (std::size_t i = 0; i < out.size();) {
            const int h = std::int8_t(out[i]);
            ASSERT_NE(h, -128) << trial;
            i += h >= 0 ? std::size_t(h) + 2 : 2;
        }
    }
}

// Every pixel format and setting combination comes back from our reader unchanged.
struct TRoundTripCase {
    TBitCount bitCount;
    TPaletteIdent ident;  // pUnknown: a random palette
    int width, height;
};

class TiffRoundTrip
    : public ::testing::TestWithParam<std::tuple<TRoundTripCase, int, bool, bool, bool>> {
protected:
    // The case's writer settings, and random pixels of its format with runs
    // of equal ones so PackBits has replicate packets to write.
    Bytes WriteCase(TPixelGraphic& image)
    {
        const auto& [c, compression, motorola, whiteIsZero, cmyk] = GetParam();
        TIFFWriteCompression = TTIFFWriteCompression(compression);
        TIFFWriteMotorola = motorola;
        TIFFWriteWhiteIsZero = whiteIsZero;
        TIFFWriteCMYK = cmyk;
        test::FillRandom(image, c.width, c.height, c.bitCount, std::uint32_t(c.width * 31 + c.height));
        if (c.ident != pUnknown)
            image.SetPaletteIdent(c.ident);
        for (int y = 0; y < c.height; y += 3)
            for (int x = 0; x < c.width / 2; ++x)
                image.SetPixel(x, y, image.GetPixel(0, y));
        return WriteToBytes(image);
    }

    TSettingsGuard m_guard;
};

TEST_P(TiffRoundTrip, ReaderGivesBackThePixels)
{
    TPixelGraphic image;
    const Bytes file = WriteCase(image);
    TPixelGraphic back;
    ReadBack(file, back);
    std::string why;
    EXPECT_TRUE(test::SamePixels(image, back, &why)) << why;
}

namespace {

const TRoundTripCase kRoundTripCases[] = {
    {bc1, pBlackWhite, 13, 21},  {bc1, pBlackWhite, 64, 3},   {bc4, pGray16, 7, 9},
    {bc4, pUnknown, 300, 250},   {bc8, pGray256, 33, 17},      {bc8, pUnknown, 129, 400},
    {bc24, pTrueColor, 5, 5},    {bc24, pTrueColor, 201, 123}, {bc24, pTrueColor, 1, 1},
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(All, TiffRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kRoundTripCases), ::testing::Values(1, 32773),
                                            ::testing::Bool(), ::testing::Bool(), ::testing::Bool()));

TEST(TiffWrite, RefusesBeforeWritingAnything)
{
    TSettingsGuard guard;
    struct Row {
        int width, height;
        int compression;
        const char* message;
    };
    const Row rows[] = {
        {0, 5, 1, "TIFF: Width = 0 or Height = 0"},
        {5, 0, 1, "TIFF: Width = 0 or Height = 0"},
        {0, 0, 32773, "TIFF: Width = 0 or Height = 0"},
        {5, 5, 2, "TIFF: Internal Error"},
        {5, 5, 0, "TIFF: Internal Error"},
    };
    for (const TBitCount bitCount : {bc1, bc4, bc8, bc24})
        for (const Row& row : rows) {
            TIFFWriteCompression = TTIFFWriteCompression(row.compression);
            TPixelGraphic image;
            image.SetSize(row.width, row.height, bitCount);
            TTIFFileFormatWriter writer;
            TMemoryStream stream;
            std::string error;
            try {
                writer.Write(stream, image);
            } catch (const EPGTIFFileFormatWriter& e) {
                error = e.what();
            }
            EXPECT_EQ(error, row.message) << row.width << "x" << row.height;
            EXPECT_EQ(stream.Size(), 0) << row.width << "x" << row.height;
        }
}

TEST(TiffWrite, OffsetsAreRelativeToTheBase)
{
    TSettingsGuard guard;
    TIFFWriteCompression = twcPackBits;
    TPixelGraphic image;
    test::FillRandom(image, 2000, 40, bc24, 5);  // several strips
    TTIFFileFormatWriter writer;
    TMemoryStream stream;
    const Bytes junk(13, 0xAB);
    stream.WriteBuffer(junk.data(), 13);
    writer.Write(stream, image);
    const Bytes all = stream.Data();
    EXPECT_EQ(Bytes(all.begin(), all.begin() + 13), junk);
    const Bytes file(all.begin() + 13, all.end());
    const TParsedFile p = Parse(file);
    ExpectStripsLaidOut(file, p, 20);  // two rows a strip: buffer 12000

    TTIFFileFormatReader reader;
    TReadOnlyMemoryStream in(all.data(), all.size());
    in.SetPosition(13);
    TPixelGraphic back;
    reader.Read(in, back, 0);
    EXPECT_TRUE(test::SamePixels(image, back));
}

TEST(TiffWrite, ProgressStepsUpToTheLastRowFromTheWriter)
{
    TSettingsGuard guard;
    TPixelGraphic image;
    test::FillRandom(image, 4, 3, bc8, 5);
    image.SetPaletteIdent(pGray256);
    TTIFFileFormatWriter writer;
    test::TProgressLog log;
    log.Attach(image);
    TMemoryStream stream;
    writer.Write(stream, image);
    EXPECT_EQ(log.steps, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(log.maxima, (std::vector<int>{2, 2, 2}));
    EXPECT_EQ(log.senders.front(), &writer);
}

TEST(TiffWrite, ChainedImages)
{
    TSettingsGuard guard;
    TPixelGraphic first, second;
    test::FillRandom(first, 3, 3, bc8, 1);  // odd-sized data, so the second IFD needs a pad byte
    test::FillRandom(second, 5, 2, bc24, 2);
    TTIFFileFormatWriter writer;
    TMemoryStream stream;
    writer.WriteHeader(stream);
    writer.WriteImage(stream, first);
    writer.WriteImage(stream, second);
    writer.WriteEnd(stream);
    const Bytes file = stream.Data();
    const TParsedFile p = Parse(file);
    EXPECT_NE(p.next, 0u);
    EXPECT_EQ(p.next % 2, 0u);

    TIFFScanAllIFDs = true;
    TTIFFileFormatReader reader;
    TReadOnlyMemoryStream in(file.data(), file.size());
    TFileInfo info;
    reader.GetInfo(in, 1, info);
    EXPECT_EQ(info.ImageCount, 2);
    TPixelGraphic back;
    ReadBack(file, back, 0);
    EXPECT_TRUE(test::SamePixels(first, back));
    ReadBack(file, back, 1);
    EXPECT_TRUE(test::SamePixels(second, back));
}

TEST(TiffWrite, SavePathUsesTheWriter)
{
    TSettingsGuard guard;
    for (const char* ext : {"tif", "tiff", ".TIF"}) {
        TPixelGraphic image;
        test::FillRandom(image, 17, 6, bc24, 4);
        TMemoryStream stream;
        image.SaveToStreamExt(stream, ext);
        ASSERT_GT(stream.Size(), 8) << ext;
        EXPECT_EQ(stream.Data()[0], 'I');
        stream.SetPosition(0);
        TPixelGraphic back;
        back.LoadFromStream(stream);
        EXPECT_TRUE(test::SamePixels(image, back)) << ext;
    }
}

#ifdef RASTOVA_HAVE_LIBTIFF

namespace {

// libtiff reading our bytes from memory.
struct TMemoryFile {
    const Bytes* bytes;
    toff_t position = 0;
};

tmsize_t MemRead(thandle_t h, void* buffer, tmsize_t size)
{
    auto* m = static_cast<TMemoryFile*>(h);
    const toff_t available = m->position < m->bytes->size() ? m->bytes->size() - m->position : 0;
    const toff_t n = std::min<toff_t>(available, toff_t(size));
    std::memcpy(buffer, m->bytes->data() + m->position, n);
    m->position += n;
    return tmsize_t(n);
}
tmsize_t MemWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t MemSeek(thandle_t h, toff_t offset, int whence)
{
    auto* m = static_cast<TMemoryFile*>(h);
    if (whence == SEEK_SET)
        m->position = offset;
    else if (whence == SEEK_CUR)
        m->position += offset;
    else
        m->position = m->bytes->size() + offset;
    return m->position;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<TMemoryFile*>(h)->bytes->size(); }
int MemMap(thandle_t, void**, toff_t*) { return 0; }
void MemUnmap(thandle_t, void*, toff_t) {}

struct TLibtiffResult {
    std::string error;
    std::vector<std::uint32_t> rgba;  // top row first
    std::vector<Bytes> scanlines;     // raw samples as libtiff decodes them
};

TIFF* OpenMemory(TMemoryFile& memory)
{
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    return TIFFClientOpen("memory", "r", &memory, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap);
}

TLibtiffResult ReadWithLibtiff(const Bytes& file, int width, int height)
{
    TLibtiffResult result;
    TMemoryFile memory{&file};
    TIFF* tif = OpenMemory(memory);
    if (!tif) {
        result.error = "TIFFClientOpen failed";
        return result;
    }
    result.rgba.assign(std::size_t(width) * std::size_t(height), 0);
    if (!TIFFReadRGBAImageOriented(tif, std::uint32_t(width), std::uint32_t(height), result.rgba.data(),
                                   ORIENTATION_TOPLEFT, 0))
        result.error = "TIFFReadRGBAImage failed";
    TIFFClose(tif);

    // Scanlines through a second handle, read from the top in order.
    TMemoryFile again{&file};
    tif = OpenMemory(again);
    for (int y = 0; tif && y < height && result.error.empty(); ++y) {
        Bytes line(std::size_t(TIFFScanlineSize(tif)));
        if (TIFFReadScanline(tif, line.data(), std::uint32_t(y), 0) < 0)
            result.error = "TIFFReadScanline failed at " + std::to_string(y);
        result.scanlines.push_back(line);
    }
    if (tif)
        TIFFClose(tif);
    return result;
}

}  // namespace

// libtiff reads every combination the writer makes and sees the same pixels as
// our reader; for CMYK, the samples libtiff decodes are the ones the colours give.
TEST_P(TiffRoundTrip, LibtiffAgrees)
{
    const auto& [c, compression, motorola, whiteIsZero, cmyk] = GetParam();
    TPixelGraphic image;
    const Bytes file = WriteCase(image);
    TPixelGraphic ours;
    ReadBack(file, ours);
    const TLibtiffResult theirs = ReadWithLibtiff(file, c.width, c.height);
    ASSERT_EQ(theirs.error, "");

    const bool separated = c.bitCount == bc24 && cmyk;
    int differences = 0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const TRGB color = image.GetColor(x, y);
            ASSERT_EQ(ours.GetColor(x, y), color);
            if (separated) {
                const std::uint8_t* s = theirs.scanlines[std::size_t(y)].data() + 4 * x;
                // libtiff's own (1 - C)(1 - K), truncated, lies within one level of the colour.
                const int k = 255 - s[3];
                const int rgb[3] = {(255 - s[0]) * k / 255, (255 - s[1]) * k / 255, (255 - s[2]) * k / 255};
                differences += std::abs(rgb[0] - RedOf(color)) > 1 || std::abs(rgb[1] - GreenOf(color)) > 1 ||
                               std::abs(rgb[2] - BlueOf(color)) > 1;
            } else {
                const std::uint32_t p = theirs.rgba[std::size_t(y) * std::size_t(c.width) + std::size_t(x)];
                differences += RGBValue(std::uint8_t(TIFFGetR(p)), std::uint8_t(TIFFGetG(p)),
                                        std::uint8_t(TIFFGetB(p))) != color;
            }
        }
    EXPECT_EQ(differences, 0);
}

#endif  // RASTOVA_HAVE_LIBTIFF
