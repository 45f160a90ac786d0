// LZW and Deflate strips, the horizontal predictor, 16-bit samples, alpha and
// bit-reversed fill order: files written by libtiff, decoded by both.
#include "formats/Tiff.h"
#include "formats/TiffDecode.h"

#include "TiffFileBuilder.h"
#include "image/PGExceptions.h"
#include "image/PGSettings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#ifdef RASTOVA_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace rastova;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Packs codes of the given widths, highest bit first, as TIFF's LZW stores them.
Bytes PackCodes(const std::vector<std::pair<int, int>>& codes)
{
    Bytes out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (const auto& [code, width] : codes) {
        buffer = buffer << width | std::uint32_t(code);
        bits += width;
        while (bits >= 8) {
            out.push_back(std::uint8_t(buffer >> (bits - 8)));
            bits -= 8;
        }
    }
    if (bits > 0)
        out.push_back(std::uint8_t(buffer << (8 - bits)));
    return out;
}

// The older variant: lowest bit first.
Bytes PackCodesLowFirst(const std::vector<std::pair<int, int>>& codes)
{
    Bytes out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (const auto& [code, width] : codes) {
        buffer |= std::uint32_t(code) << bits;
        bits += width;
        for (; bits >= 8; bits -= 8, buffer >>= 8)
            out.push_back(std::uint8_t(buffer));
    }
    if (bits > 0)
        out.push_back(std::uint8_t(buffer));
    return out;
}

Bytes LzwAll(const Bytes& data, std::size_t want, std::size_t piece)
{
    tiff::TLzwDecoder decoder(data.data(), data.size());
    Bytes out(want);
    std::size_t done = 0;
    while (done < want) {
        const std::size_t n = decoder.Read(out.data() + done, std::min(piece, want - done));
        done += n;
        if (n == 0)
            break;
    }
    out.resize(done);
    return out;
}

}  // namespace

TEST(TiffLzw, HandMadeCodes)
{
    struct Row {
        const char* name;
        std::vector<std::pair<int, int>> codes;
        Bytes expected;
        const char* error;
    };
    const Row rows[] = {
        {"literals and a string", {{256, 9}, {'A', 9}, {'B', 9}, {258, 9}, {257, 9}}, {'A', 'B', 'A', 'B'}, ""},
        // The code of the entry being made: previous string plus its first byte.
        {"code not yet in the table", {{256, 9}, {'A', 9}, {258, 9}, {257, 9}}, {'A', 'A', 'A'}, ""},
        {"clear restarts the table", {{256, 9}, {'A', 9}, {'B', 9}, {256, 9}, {'C', 9}, {258, 9}, {257, 9}},
         {'A', 'B', 'C', 'C', 'C'}, ""},
        {"data ends without EOI", {{'x', 9}, {'y', 9}}, {'x', 'y'}, ""},
        {"no data", {}, {}, ""},
        {"a code cut after one byte", {{'A', 8}}, {}, ""},
        {"code beyond the table", {{256, 9}, {'A', 9}, {259, 9}}, {}, "TIFF: Invalid LZW code 259"},
        {"string code right after clear", {{256, 9}, {300, 9}}, {}, "TIFF: Invalid LZW code 300"},
    };
    for (const Row& row : rows) {
        const Bytes data = PackCodes(row.codes);
        if (*row.error) {
            EXPECT_EQ(test::MessageOf<EPGTIFFileFormatReader>([&] { LzwAll(data, 100, 100); }), row.error) << row.name;
            continue;
        }
        EXPECT_EQ(LzwAll(data, 100, 100), row.expected) << row.name;
        EXPECT_EQ(LzwAll(data, 100, 1), row.expected) << row.name << ", byte by byte";
    }
}

// The width grows to 10 bits once code 511 would be the next entry; a decoder
// a code late or early reads everything after that as garbage.
TEST(TiffLzw, CodeWidthGrowsOneCodeEarly)
{
    std::vector<std::pair<int, int>> codes{{256, 9}};
    Bytes expected;
    // 'a' then 253 more literals make entries 258..510; the next code is 10 bits wide.
    for (int i = 0; i < 254; ++i) {
        codes.push_back({i % 2 == 0 ? 'a' : 'b', 9});
        expected.push_back(i % 2 == 0 ? 'a' : 'b');
    }
    codes.push_back({258, 10});  // "ab"
    expected.insert(expected.end(), {'a', 'b'});
    codes.push_back({257, 10});
    EXPECT_EQ(LzwAll(PackCodes(codes), 1000, 7), expected);

    // The older variant grows the width only once code 512 is the next entry.
    std::vector<std::pair<int, int>> oldCodes(codes.begin(), codes.begin() + 255);
    Bytes oldExpected(expected.begin(), expected.begin() + 254);
    oldCodes.push_back({'c', 9});  // makes entry 511
    oldCodes.push_back({259, 10});  // "ba"
    oldCodes.push_back({257, 10});
    oldExpected.insert(oldExpected.end(), {'c', 'b', 'a'});
    const Bytes old = PackCodesLowFirst(oldCodes);
    ASSERT_EQ(old[0], 0);
    EXPECT_EQ(LzwAll(old, 1000, 5), oldExpected);
}

TEST(TiffDecode, PredictorAndFillOrder)
{
    Bytes eight{10, 20, 30, 1, 2, 3, 255, 1, 1};
    tiff::UndoHorizontalPredictor(eight.data(), 3, 3, 8, false);
    EXPECT_EQ(eight, (Bytes{10, 20, 30, 11, 22, 33, 10, 23, 34}));
    // 16-bit sums wrap at 2^16 and carry from the low byte into the high one.
    Bytes intel{0xFF, 0x00, 0x01, 0x00, 0x00, 0xFF};
    tiff::UndoHorizontalPredictor(intel.data(), 3, 1, 16, false);
    EXPECT_EQ(intel, (Bytes{0xFF, 0x00, 0x00, 0x01, 0x00, 0x00}));
    Bytes motorola{0x00, 0xFF, 0x00, 0x01, 0xFF, 0x00};
    tiff::UndoHorizontalPredictor(motorola.data(), 3, 1, 16, true);
    EXPECT_EQ(motorola, (Bytes{0x00, 0xFF, 0x01, 0x00, 0x00, 0x00}));
    // RGB rows summed and turned into blue, green, red in one pass.
    const Bytes rgb{10, 20, 30, 1, 2, 3, 255, 1, 1};
    Bytes bgr(9);
    tiff::UndoHorizontalPredictorToBgr(rgb.data(), bgr.data(), 3);
    EXPECT_EQ(bgr, (Bytes{30, 20, 10, 33, 22, 11, 34, 23, 10}));
    Bytes bits{0x01, 0x80, 0xF0, 0x35};
    tiff::ReverseBits(bits.data(), bits.size());
    EXPECT_EQ(bits, (Bytes{0x80, 0x01, 0x0F, 0xAC}));
}

// The one-pass RGB form works in blocks of pixels: every row length around the
// block size, with sums that wrap, must agree with the general form and a swap.
TEST(TiffDecode, BgrPredictorAgreesWithGeneralFormAtEveryLength)
{
    for (std::size_t pixels = 0; pixels <= 23; ++pixels) {
        Bytes rgb(3 * pixels);
        for (std::size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = std::uint8_t(i * 97 + 200);
        Bytes expected = rgb;
        tiff::UndoHorizontalPredictor(expected.data(), pixels, 3, 8, false);
        for (std::size_t i = 0; i < expected.size(); i += 3)
            std::swap(expected[i], expected[i + 2]);
        Bytes bgr(rgb.size() + 1, 0xEE);
        tiff::UndoHorizontalPredictorToBgr(rgb.data(), bgr.data(), pixels);
        EXPECT_EQ(Bytes(bgr.begin(), bgr.end() - 1), expected) << pixels << " pixels";
        EXPECT_EQ(bgr.back(), 0xEE) << "written past the row of " << pixels << " pixels";
    }
}

TEST(TiffDecode, InflateErrorsAndShortData)
{
    Bytes stream(64);
    uLongf packedSize = stream.size();
    const Bytes text{'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c', 'd'};
    ASSERT_EQ(compress(stream.data(), &packedSize, text.data(), text.size()), Z_OK);
    stream.resize(packedSize);
    struct TCase {
        const char* what;
        Bytes data;
    };
    const TCase broken[] = {
        {"no zlib header", {0x12, 0x34, 0x56, 0x78}},
        {"a method other than Deflate", {0x79, 0x9C, 0x03, 0x00}},
        {"a window beyond 32 KB", {0x88, 0x98, 0x03, 0x00}},
        {"a preset dictionary", {0x78, 0xBB, 0x03, 0x00}},
        {"a block of the reserved type", {0x78, 0x9C, 0x07, 0x00}},
    };
    std::uint8_t out[16];
    for (const TCase& c : broken) {
        EXPECT_EQ(test::MessageOf<EPGTIFFileFormatReader>([&] {
                      tiff::TInflateDecoder decoder(c.data.data(), c.data.size());
                      decoder.Read(out, sizeof out);
                  }),
                  "TIFF: Invalid Deflate data")
            << c.what;
    }
    // A stream cut short gives what it holds and no more; whole, exactly its bytes.
    for (std::size_t size : {std::size_t(0), std::size_t(1), stream.size() - 4, stream.size()}) {
        tiff::TInflateDecoder decoder(stream.data(), size);
        const std::size_t got = decoder.Read(out, sizeof out);
        EXPECT_LE(got, text.size()) << size;
        EXPECT_TRUE(std::equal(out, out + got, text.begin())) << size;
        if (size == stream.size()) {
            EXPECT_EQ(got, text.size());
        }
    }
}

// A 4 x 2 image of one LZW or Deflate strip, as the directory gives it.
TEST(TiffCompressed, StripChecks)
{
    using B = test::TTiffFileBuilder;
    const Bytes eightBytes = PackCodes({{256, 9}, {1, 9}, {2, 9}, {3, 9}, {4, 9}, {5, 9}, {6, 9}, {7, 9}, {8, 9},
                                        {257, 9}});
    struct Row {
        const char* name;
        std::uint32_t bits;
        std::uint32_t predictor;  // 0: tag left out
        bool byteCounts;
        Bytes strip;
        const char* message;
    };
    const Row rows[] = {
        {"whole strip", 8, 0, true, eightBytes, ""},
        {"predictor 2 on bytes", 8, 2, true, eightBytes, ""},
        {"short strip", 8, 0, true, PackCodes({{256, 9}, {1, 9}, {2, 9}, {257, 9}}), "TIFF: Strip 0 ends before row 0"},
        {"second row missing", 8, 0, true, PackCodes({{256, 9}, {1, 9}, {2, 9}, {3, 9}, {4, 9}, {5, 9}}),
         "TIFF: Strip 0 ends before row 1"},
        {"bad code", 8, 0, true, PackCodes({{256, 9}, {300, 9}}), "TIFF: Invalid LZW code 300"},
        // Too short for a single code: nothing to read past, nothing decoded.
        {"empty strip", 8, 0, true, {}, "TIFF: Strip 0 ends before row 0"},
        {"one-byte strip", 8, 0, true, {0x80}, "TIFF: Strip 0 ends before row 0"},
        {"one-byte strip of ones", 8, 0, true, {0xFF}, "TIFF: Strip 0 ends before row 0"},
        {"no byte counts", 8, 0, false, eightBytes, "TIFF: StripByteCounts invalid"},
        {"floating point predictor", 8, 3, true, eightBytes, "TIFF: Unsupported Predictor 3"},
        {"predictor on 4-bit samples", 4, 2, true, eightBytes, "TIFF: Predictor invalid"},
    };
    for (const Row& row : rows) {
        B b;
        const std::uint32_t at = b.Blob(row.strip);
        b.Long(256, 4).Long(257, 2).Short(258, row.bits).Short(259, 5).Short(262, 1).Long(273, at);
        if (row.byteCounts)
            b.Long(279, std::uint32_t(row.strip.size()));
        if (row.predictor != 0)
            b.Short(317, row.predictor);
        TPixelGraphic image;
        const Bytes file = b.Build();
        const std::string message =
            test::MessageOf<EPGTIFFileFormatReader>([&] { test::ReadWith<TTIFFileFormatReader>(file, image); });
        if (*row.message) {
            EXPECT_EQ(message, row.message) << row.name;
            continue;
        }
        EXPECT_EQ(message, "(nothing raised)") << row.name;
        // Differencing adds each byte to the one before it along the row.
        const std::uint32_t expected[2][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
        const std::uint32_t summed[2][4] = {{1, 3, 6, 10}, {5, 11, 18, 26}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(image.GetPixel(x, y), row.predictor == 2 ? summed[y][x] : expected[y][x]) << row.name;
    }
}

// Large images decode their strips on several threads: whatever the file holds,
// the pixels, the progress events and the error must be those of one thread.
TEST(TiffCompressed, StripsOnSeveralThreadsReadAsOnOne)
{
    constexpr int kWide = 1024, kHigh = 720, kRowsPerStrip = 8;
    constexpr int kStrips = kHigh / kRowsPerStrip;
    std::vector<Bytes> strips;
    std::mt19937 random(11);
    for (int s = 0; s < kStrips; ++s) {
        Bytes raw(std::size_t(kWide) * 3 * kRowsPerStrip);
        for (std::size_t i = 0; i < raw.size(); ++i)
            raw[i] = std::uint8_t(i % 7 == 0 ? random() : i / 3000 + std::size_t(s));
        uLongf size = compressBound(uLong(raw.size()));
        Bytes packed(size);
        compress(packed.data(), &size, raw.data(), raw.size());
        packed.resize(size);
        strips.push_back(packed);
    }
    struct TDamage {
        const char* what;
        int strip;  // -1: none
        bool cut;   // cut short instead of overwritten
        const char* message;  // its start
    };
    const TDamage damages[] = {
        {"whole file", -1, false, "(nothing raised)"},
        {"strip 40 overwritten", 40, false, "TIFF: Invalid Deflate data"},
        {"strip 57 cut short", 57, true, "TIFF: Strip 57 ends before row 45"},
    };
    for (const TDamage& d : damages) {
        std::vector<Bytes> data = strips;
        if (d.strip >= 0 && d.cut)
            data[std::size_t(d.strip)].resize(data[std::size_t(d.strip)].size() / 4);
        else if (d.strip >= 0)
            std::fill(data[std::size_t(d.strip)].begin() + 2, data[std::size_t(d.strip)].end(), 0xFF);
        test::TTiffFileBuilder b;
        std::vector<std::uint32_t> offsets, counts;
        for (const Bytes& strip : data) {
            offsets.push_back(b.Blob(strip));
            counts.push_back(std::uint32_t(strip.size()));
        }
        b.Long(256, kWide).Long(257, kHigh).Entry(258, b.kShort, {8, 8, 8}).Short(259, 8).Short(262, 2);
        b.Entry(273, b.kLong, offsets).Short(277, 3).Long(278, kRowsPerStrip).Entry(279, b.kLong, counts);
        b.Short(317, 2);
        const Bytes file = b.Build();
        struct TOutcome {
            std::string message;
            std::vector<int> steps;
            Bytes pixels;
        } outcomes[2];
        const int threads[2] = {1, 3};
        for (int run = 0; run < 2; ++run) {
            TPGSettings settings = DefaultSettings();
            settings.TIFFReadThreads = threads[run];
            TSettingsScope scope(settings);
            TPixelGraphic image;
            image.SetOnProgress([&](TObject*, int step, int, bool&) { outcomes[run].steps.push_back(step); });
            outcomes[run].message =
                test::MessageOf<EPGTIFFileFormatReader>([&] { test::ReadWith<TTIFFileFormatReader>(file, image); });
            for (int y = 0; y < kHigh && d.strip < 0; ++y)
                outcomes[run].pixels.insert(outcomes[run].pixels.end(), image.ScanLine(y),
                                            image.ScanLine(y) + 3 * kWide);
        }
        EXPECT_EQ(outcomes[0].message.rfind(d.message, 0), 0u) << d.what << ": " << outcomes[0].message;
        EXPECT_EQ(outcomes[1].message, outcomes[0].message) << d.what;
        EXPECT_EQ(outcomes[1].steps, outcomes[0].steps) << d.what;
        EXPECT_TRUE(outcomes[1].pixels == outcomes[0].pixels) << d.what;
    }
}

#ifdef RASTOVA_HAVE_LIBTIFF

namespace {

struct TCase {
    const char* name;
    std::uint16_t compression;
    std::uint16_t predictor;
    std::uint16_t photometric;
    std::uint16_t samples;
    std::uint16_t bits;
    std::uint16_t extra;  // ExtraSamples of the fourth sample; 0 none
    bool bigEndian;
    std::uint16_t fillOrder;
    int rowsPerStrip;
};

constexpr int kWidth = 97;
constexpr int kHeight = 61;

// Writes the case with libtiff: smooth areas (long LZW strings) beside noise
// (table resets), odd width, several strips.
void WriteWithLibtiff(const std::string& file, const TCase& c)
{
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(file.c_str(), c.bigEndian ? "wb" : "wl");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, c.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, c.bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, c.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, c.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, c.rowsPerStrip);
    TIFFSetField(tif, TIFFTAG_FILLORDER, c.fillOrder);
    if (c.predictor != 1)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, c.predictor);
    if (c.extra != 0) {
        const std::uint16_t extra = c.extra;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    std::vector<std::uint16_t> map(3 * 256);
    if (c.photometric == PHOTOMETRIC_PALETTE) {
        for (int i = 0; i < 256; ++i) {
            map[std::size_t(i)] = std::uint16_t(i * 257);
            map[std::size_t(256 + i)] = std::uint16_t((255 - i) * 257);
            map[std::size_t(512 + i)] = std::uint16_t((i * 7 % 256) * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + 256, map.data() + 512);
    }
    const std::size_t rowBytes = (std::size_t(kWidth) * c.samples * c.bits + 7) / 8;
    std::mt19937 random(7);
    Bytes row(rowBytes);
    for (int y = 0; y < kHeight; ++y) {
        for (std::size_t i = 0; i < rowBytes; ++i)
            row[i] = i < rowBytes / 2 ? std::uint8_t((i / 9 + std::size_t(y) / 5) * 3) : std::uint8_t(random());
        ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0), 1);
    }
    TIFFClose(tif);
}

std::vector<std::uint32_t> RgbaWithLibtiff(const std::string& file)
{
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    std::vector<std::uint32_t> rgba(std::size_t(kWidth) * kHeight);
    if (!tif || !TIFFReadRGBAImageOriented(tif, kWidth, kHeight, rgba.data(), ORIENTATION_TOPLEFT, 0))
        rgba.clear();
    if (tif)
        TIFFClose(tif);
    return rgba;
}

const TCase kCases[] = {
    {"lzw rgb", COMPRESSION_LZW, 1, PHOTOMETRIC_RGB, 3, 8, 0, false, FILLORDER_MSB2LSB, 8},
    {"lzw rgb predictor mm", COMPRESSION_LZW, 2, PHOTOMETRIC_RGB, 3, 8, 0, true, FILLORDER_MSB2LSB, 13},
    {"deflate rgb predictor", COMPRESSION_ADOBE_DEFLATE, 2, PHOTOMETRIC_RGB, 3, 8, 0, false, FILLORDER_MSB2LSB, 64},
    {"old deflate gray", COMPRESSION_DEFLATE, 1, PHOTOMETRIC_MINISBLACK, 1, 8, 0, false, FILLORDER_MSB2LSB, 5},
    {"lzw gray16 predictor", COMPRESSION_LZW, 2, PHOTOMETRIC_MINISBLACK, 1, 16, 0, false, FILLORDER_MSB2LSB, 7},
    {"deflate gray16 mm", COMPRESSION_ADOBE_DEFLATE, 2, PHOTOMETRIC_MINISWHITE, 1, 16, 0, true, FILLORDER_MSB2LSB, 9},
    {"lzw rgb16 predictor mm", COMPRESSION_LZW, 2, PHOTOMETRIC_RGB, 3, 16, 0, true, FILLORDER_MSB2LSB, 11},
    {"none rgb16", COMPRESSION_NONE, 1, PHOTOMETRIC_RGB, 3, 16, 0, false, FILLORDER_MSB2LSB, 20},
    {"lzw rgba unassociated", COMPRESSION_LZW, 2, PHOTOMETRIC_RGB, 4, 8, 2, false, FILLORDER_MSB2LSB, 16},
    {"none rgba associated", COMPRESSION_NONE, 1, PHOTOMETRIC_RGB, 4, 8, 1, true, FILLORDER_MSB2LSB, 16},
    {"deflate rgba16 unassociated", COMPRESSION_ADOBE_DEFLATE, 2, PHOTOMETRIC_RGB, 4, 16, 2, false,
     FILLORDER_MSB2LSB, 30},
    {"lzw palette", COMPRESSION_LZW, 1, PHOTOMETRIC_PALETTE, 1, 8, 0, false, FILLORDER_MSB2LSB, 3},
    {"lzw gray4", COMPRESSION_LZW, 1, PHOTOMETRIC_MINISBLACK, 1, 4, 0, false, FILLORDER_MSB2LSB, 61},
    {"deflate bilevel", COMPRESSION_ADOBE_DEFLATE, 1, PHOTOMETRIC_MINISWHITE, 1, 1, 0, true, FILLORDER_MSB2LSB, 4},
    {"lzw rgb lsb first", COMPRESSION_LZW, 2, PHOTOMETRIC_RGB, 3, 8, 0, false, FILLORDER_LSB2MSB, 8},
    {"packbits gray4 lsb first", COMPRESSION_PACKBITS, 1, PHOTOMETRIC_MINISBLACK, 1, 4, 0, false,
     FILLORDER_LSB2MSB, 8},
    {"none bilevel lsb first", COMPRESSION_NONE, 1, PHOTOMETRIC_MINISBLACK, 1, 1, 0, true, FILLORDER_LSB2MSB, 8},
    {"none gray8 lsb first", COMPRESSION_NONE, 1, PHOTOMETRIC_MINISBLACK, 1, 8, 0, false, FILLORDER_LSB2MSB, 8},
};

}  // namespace

// Over a black background our alpha compositing is libtiff's premultiplication.
TEST(TiffCompressed, PixelsMatchLibtiff)
{
    test::TTempDir dir;
    for (const TCase& c : kCases) {
        const std::string file = dir.File("case.tif");
        WriteWithLibtiff(file, c);
        const std::vector<std::uint32_t> ref = RgbaWithLibtiff(file);
        ASSERT_FALSE(ref.empty()) << c.name;
        TPixelGraphic image;
        image.SetBackGroundColor(0);
        test::ReadWith<TTIFFileFormatReader>(test::ReadAll(file), image);
        // Alpha is kept; laid over black it is what libtiff's premultiplied RGBA shows.
        const bool alpha = image.HasAlpha();
        image.FlattenAlpha();
        ASSERT_EQ(image.Width(), kWidth) << c.name;
        ASSERT_EQ(image.Height(), kHeight) << c.name;
        EXPECT_EQ(image.BitCountNum(), c.samples > 1 ? 24 : std::min(int(c.bits), 8)) << c.name;
        int differences = 0;
        std::string first;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const std::uint32_t p = ref[std::size_t(y) * kWidth + std::size_t(x)];
                const TRGB expected =
                    RGBValue(std::uint8_t(TIFFGetR(p)), std::uint8_t(TIFFGetG(p)), std::uint8_t(TIFFGetB(p)));
                // libtiff truncates 16-bit gray to 8 bits (v x 255 / 65535) where it rounds
                // 16-bit RGB; we round both, so gray may lie one level above libtiff's.
                // Associated alpha is divided out on reading and multiplied in again
                // when laid over black: the two roundings may part by one level.
                const int tolerance = (c.samples == 1 && c.bits == 16) || alpha ? 1 : 0;
                const TRGB got = image.GetColor(x, y);
                // Random associated samples above their alpha are no colour at all;
                // divided by alpha they clamp, and nothing gives them back.
                if (c.name == std::string("none rgba associated") &&
                    std::max({TIFFGetR(p), TIFFGetG(p), TIFFGetB(p)}) > TIFFGetA(p))
                    continue;
                bool same = true;
                for (int shift : {0, 8, 16})
                    same = same && std::abs(int(got >> shift & 0xFF) - int(expected >> shift & 0xFF)) <= tolerance;
                if (!same && differences++ == 0)
                    first = std::to_string(x) + "," + std::to_string(y);
            }
        EXPECT_EQ(differences, 0) << c.name << " first at " << first;
    }
}

// Alpha lays each colour over BackGroundColor: transparent pixels take it whole,
// opaque ones keep their own colour, and the rest lie between the two.
TEST(TiffCompressed, AlphaOverBackground)
{
    test::TTempDir dir;
    const std::string file = dir.File("rgba.tif");
    WriteWithLibtiff(file, kCases[8]);
    const Bytes bytes = test::ReadAll(file);
    const TRGB background = RGBValue(200, 30, 90);
    TPixelGraphic over, plain;
    over.SetBackGroundColor(background);
    plain.SetBackGroundColor(0);
    test::ReadWith<TTIFFileFormatReader>(bytes, over);
    test::ReadWith<TTIFFileFormatReader>(bytes, plain);
    over.FlattenAlpha();
    plain.FlattenAlpha();
    const std::vector<std::uint32_t> ref = RgbaWithLibtiff(file);
    int checked = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int a = int(TIFFGetA(ref[std::size_t(y) * kWidth + std::size_t(x)]));
            const TRGB got = over.GetColor(x, y);
            const TRGB premultiplied = plain.GetColor(x, y);
            for (int shift : {0, 8, 16}) {
                const int bg = int(background >> shift & 0xFF);
                const int expected = int(premultiplied >> shift & 0xFF) + (bg * (255 - a) + 127) / 255;
                EXPECT_LE(std::abs(int(got >> shift & 0xFF) - expected), 1) << x << "," << y << " alpha " << a;
            }
            ++checked;
        }
    EXPECT_EQ(checked, kWidth * kHeight);
}

#endif  // RASTOVA_HAVE_LIBTIFF

// Rows the stream cannot hold are refused before the image is allocated: a
// few bytes never become gigabytes, however the directory describes them.
TEST(TiffCompressed, AnnouncedRowsAgainstTheBytesPresent)
{
    struct Row {
        const char* name;
        std::uint32_t compression;
        std::uint32_t width;
        std::uint32_t height;
        std::uint32_t bits;
        bool refused;
    };
    const Row rows[] = {
        {"uncompressed bilevel, 2^31 pixels a row", 1, 0x7FFFFFF0u, 8, 1, true},
        {"LZW gray, 20000 x 20000", 5, 20000, 20000, 8, true},
        {"Deflate gray, 20000 x 20000", 8, 20000, 20000, 8, true},
        {"PackBits gray, 20000 x 20000", 32773, 20000, 20000, 8, true},
        {"PackBits bilevel, one row of 2^31 pixels", 32773, 0x7FFFFFF0u, 1, 1, true},
        // Small images pass whatever they hold: truncated files keep their rows.
        {"LZW gray, 1000 x 1000", 5, 1000, 1000, 8, false},
    };
    for (const Row& row : rows) {
        test::TTiffFileBuilder b;
        const std::uint32_t at = b.Blob(Bytes(16, 0x80));
        b.Long(256, row.width).Long(257, row.height).Short(258, row.bits).Short(259, row.compression);
        b.Short(262, 1).Long(273, at).Long(279, 16);
        TPixelGraphic image;
        const Bytes file = b.Build();
        const std::string message =
            test::MessageOf<std::exception>([&] { test::ReadWith<TTIFFileFormatReader>(file, image); });
        EXPECT_EQ(message == "Stream read error" && image.Width() == 0, row.refused) << row.name << ": " << message;
    }
}
