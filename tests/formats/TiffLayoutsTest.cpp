// Tiles, separate planes, BigTIFF, fax and JPEG coding, deep and float samples:
// files written by libtiff at test time, read by us and compared with libtiff's
// own decoding, or with the exact scaling where libtiff's RGBA reader stops.
#include "formats/Jpeg.h"
#include "formats/Tiff.h"
#include "formats/TiffFax.h"
#include "formats/TiffFileBuilder.h"

#include "image/PGExceptions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#ifdef RASTOVA_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace rastova;

// Every make-up and terminating code is a leaf of one prefix-free code tree:
// no code is the beginning of another (a typo in a table would break this).
TEST(TiffFax, CodeTablesArePrefixFree)
{
    for (const bool black : {false, true}) {
        const tiff::TFaxCode* codes = nullptr;
        const std::size_t n = tiff::FaxCodes(black, &codes);
        EXPECT_EQ(n, 64u + 27u + 13u);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j) {
                if (i == j || codes[i].length > codes[j].length)
                    continue;
                const int shift = codes[j].length - codes[i].length;
                EXPECT_NE(codes[j].code >> shift, codes[i].code) << black << " " << codes[i].run << " " << codes[j].run;
            }
    }
}

// Old-style JPEG whose JPEGInterchangeFormat holds a whole JPEG stream shows
// that stream, as the JPEG reader decodes it.
TEST(TiffLayouts, OldStyleJpegWithAWholeStream)
{
    TPixelGraphic picture;
    test::FillRandom(picture, 24, 16, bc24, 11);
    const std::vector<std::uint8_t> jpeg = test::WriteWith<TJPGFileFormatWriter>(picture);
    TPixelGraphic expected;
    test::ReadWith<TJPGFileFormatReader>(jpeg, expected);
    for (const bool withLength : {true, false}) {
        test::TTiffFileBuilder b;
        const std::uint32_t at = b.Blob(jpeg);
        b.Long(256, 24).Long(257, 16).Entry(258, test::TTiffFileBuilder::kShort, {8, 8, 8}).Short(259, 6);
        b.Short(262, 6).Long(273, at).Short(277, 3).Long(278, 16).Long(279, std::uint32_t(jpeg.size()));
        b.Long(513, at);
        if (withLength)
            b.Long(514, std::uint32_t(jpeg.size()));
        TPixelGraphic image;
        test::ReadWith<TTIFFileFormatReader>(b.Build(), image);
        std::string why;
        EXPECT_TRUE(test::SamePixels(image, expected, &why)) << withLength << ": " << why;
    }
}

#ifdef RASTOVA_HAVE_LIBTIFF

namespace {

constexpr int kWidth = 37;  // edge tiles and strips are partly outside the image
constexpr int kHeight = 29;

struct TCase {
    const char* name;
    std::uint16_t compression;
    std::uint16_t photometric;
    std::uint16_t samples;
    std::uint16_t bits;
    bool planar;
    bool tiled;
    bool big;
    std::uint32_t faxOptions;  // Group3Options
    std::uint16_t fillOrder;
    int tolerance;  // JPEG: libtiff upsamples chroma its own way
};

const TCase kCases[] = {
    {"tiled rgb", COMPRESSION_NONE, PHOTOMETRIC_RGB, 3, 8, false, true, false, 0, FILLORDER_MSB2LSB, 0},
    {"tiled lzw gray", COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 1, 8, false, true, false, 0, FILLORDER_MSB2LSB, 0},
    {"tiled deflate rgba", COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, 4, 8, false, true, false, 0,
     FILLORDER_MSB2LSB, 0},
    {"tiled packbits gray4", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, 1, 4, false, true, false, 0,
     FILLORDER_MSB2LSB, 0},
    {"tiled bilevel", COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 1, 1, false, true, false, 0, FILLORDER_MSB2LSB, 0},
    {"tiled rgb16", COMPRESSION_NONE, PHOTOMETRIC_RGB, 3, 16, false, true, false, 0, FILLORDER_MSB2LSB, 1},
    {"planar rgb", COMPRESSION_NONE, PHOTOMETRIC_RGB, 3, 8, true, false, false, 0, FILLORDER_MSB2LSB, 0},
    {"planar lzw rgb tiles", COMPRESSION_LZW, PHOTOMETRIC_RGB, 3, 8, true, true, false, 0, FILLORDER_MSB2LSB, 0},
    // CMYK: libtiff truncates (1 - C)(1 - K), we round.
    {"planar cmyk", COMPRESSION_NONE, PHOTOMETRIC_SEPARATED, 4, 8, true, false, false, 0, FILLORDER_MSB2LSB, 1},
    {"cmyk", COMPRESSION_LZW, PHOTOMETRIC_SEPARATED, 4, 8, false, false, false, 0, FILLORDER_MSB2LSB, 1},
    {"bigtiff rgb", COMPRESSION_NONE, PHOTOMETRIC_RGB, 3, 8, false, false, true, 0, FILLORDER_MSB2LSB, 0},
    {"bigtiff tiled gray", COMPRESSION_DEFLATE, PHOTOMETRIC_MINISBLACK, 1, 8, false, true, true, 0,
     FILLORDER_MSB2LSB, 0},
    {"gray2", COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 1, 2, false, false, false, 0, FILLORDER_MSB2LSB, 0},
    {"ccitt 1d", COMPRESSION_CCITTRLE, PHOTOMETRIC_MINISWHITE, 1, 1, false, false, false, 0, FILLORDER_MSB2LSB, 0},
    {"group 3 1d", COMPRESSION_CCITTFAX3, PHOTOMETRIC_MINISWHITE, 1, 1, false, false, false, 0,
     FILLORDER_MSB2LSB, 0},
    {"group 3 2d fill", COMPRESSION_CCITTFAX3, PHOTOMETRIC_MINISWHITE, 1, 1, false, false, false,
     GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS, FILLORDER_MSB2LSB, 0},
    {"group 3 lsb first", COMPRESSION_CCITTFAX3, PHOTOMETRIC_MINISBLACK, 1, 1, false, false, false,
     GROUP3OPT_2DENCODING, FILLORDER_LSB2MSB, 0},
    {"group 4", COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, 1, 1, false, false, false, 0, FILLORDER_MSB2LSB, 0},
    {"group 4 tiles lsb first", COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISBLACK, 1, 1, false, true, false, 0,
     FILLORDER_LSB2MSB, 0},
    {"jpeg ycbcr", COMPRESSION_JPEG, PHOTOMETRIC_YCBCR, 3, 8, false, false, false, 0, FILLORDER_MSB2LSB, 6},
    {"jpeg ycbcr tiles", COMPRESSION_JPEG, PHOTOMETRIC_YCBCR, 3, 8, false, true, false, 0, FILLORDER_MSB2LSB, 6},
    {"jpeg rgb", COMPRESSION_JPEG, PHOTOMETRIC_RGB, 3, 8, false, false, false, 0, FILLORDER_MSB2LSB, 0},
    {"jpeg gray tiles", COMPRESSION_JPEG, PHOTOMETRIC_MINISBLACK, 1, 8, false, true, false, 0, FILLORDER_MSB2LSB, 0},
};

// A picture with edges, gradients and flat areas, so every coder has work.
std::uint32_t Sample(int x, int y, int s, int bits)
{
    const std::uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    if (bits == 1)
        return ((x / 3 + y / 2 + s) % 3 == 0 || (x > 20 && y < 9)) ? 1 : 0;
    const std::uint32_t v = std::uint32_t((x * 37 + y * 91 + s * 53) % 256);
    return bits >= 8 ? std::uint32_t(std::uint64_t(v) * max / 255) : v * max / 255;
}

// Packs one row of one plane (planar) or all samples (chunky), highest bit first.
std::vector<std::uint8_t> PackRow(const TCase& c, int y, int x0, int width, int plane)
{
    const int samples = c.planar ? 1 : c.samples;
    std::vector<std::uint8_t> row((std::size_t(width) * samples * c.bits + 7) / 8);
    std::size_t bit = 0;
    for (int x = x0; x < x0 + width; ++x)
        for (int s = 0; s < samples; ++s) {
            const std::uint32_t v = x < kWidth && y < kHeight ? Sample(x, y, c.planar ? plane : s, c.bits) : 0;
            if (c.bits == 16) {
                std::memcpy(row.data() + bit / 8, &v, 2);  // native order, as libtiff takes it
            } else {
                for (int b = c.bits - 1; b >= 0; --b, ++bit)
                    if (v >> b & 1)
                        row[bit / 8] |= std::uint8_t(0x80 >> (bit % 8));
                continue;
            }
            bit += 16;
        }
    return row;
}

void SetFields(TIFF* tif, const TCase& c)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, c.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, c.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, c.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, c.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, c.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_FILLORDER, c.fillOrder);
    if (c.samples == 4 && c.photometric == PHOTOMETRIC_RGB) {
        const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (c.compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, c.faxOptions);
    if (c.compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 90);
        if (c.photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (c.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, c.compression == COMPRESSION_JPEG ? 16 : 8);
    }
}

void WriteWithLibtiff(const std::string& file, const TCase& c)
{
    TIFF* tif = TIFFOpen(file.c_str(), c.big ? "w8" : "w");
    ASSERT_NE(tif, nullptr);
    SetFields(tif, c);
    const int planes = c.planar ? c.samples : 1;
    if (c.tiled) {
        for (int plane = 0; plane < planes; ++plane)
            for (int ty = 0; ty < kHeight; ty += 16)
                for (int tx = 0; tx < kWidth; tx += 16) {
                    std::vector<std::uint8_t> tile;
                    for (int y = ty; y < ty + 16; ++y) {
                        const std::vector<std::uint8_t> row = PackRow(c, y, tx, 16, plane);
                        tile.insert(tile.end(), row.begin(), row.end());
                    }
                    const ttile_t index = TIFFComputeTile(tif, std::uint32_t(tx), std::uint32_t(ty), 0,
                                                          std::uint16_t(plane));
                    ASSERT_GE(TIFFWriteEncodedTile(tif, index, tile.data(), tmsize_t(tile.size())), 0) << c.name;
                }
    } else {
        for (int plane = 0; plane < planes; ++plane)
            for (int y = 0; y < kHeight; ++y) {
                std::vector<std::uint8_t> row = PackRow(c, y, 0, kWidth, plane);
                ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), std::uint16_t(plane)), 1) << c.name;
            }
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

int Difference(TRGB a, std::uint32_t p)
{
    return std::max({std::abs(int(RedOf(a)) - int(TIFFGetR(p))), std::abs(int(GreenOf(a)) - int(TIFFGetG(p))),
                     std::abs(int(BlueOf(a)) - int(TIFFGetB(p)))});
}

}  // namespace

TEST(TiffLayouts, PixelsMatchLibtiff)
{
    TIFFSetWarningHandler(nullptr);
    test::TTempDir dir;
    for (const TCase& c : kCases) {
        const std::string file = dir.File("case.tif");
        WriteWithLibtiff(file, c);
        const std::vector<std::uint32_t> ref = RgbaWithLibtiff(file);
        ASSERT_FALSE(ref.empty()) << c.name;
        TPixelGraphic image;
        image.SetBackGroundColor(0);
        ASSERT_NO_THROW(test::ReadWith<TTIFFileFormatReader>(test::ReadAll(file), image)) << c.name;
        ASSERT_EQ(image.Width(), kWidth) << c.name;
        ASSERT_EQ(image.Height(), kHeight) << c.name;
        // libtiff premultiplies kept alpha, which is our alpha laid over black;
        // the two roundings may part by one level.
        const int slack = image.HasAlpha() ? 1 : 0;
        image.FlattenAlpha();
        int worst = 0;
        std::string where;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const int d = Difference(image.GetColor(x, y), ref[std::size_t(y) * kWidth + std::size_t(x)]);
                if (d > worst) {
                    worst = d;
                    where = std::to_string(x) + "," + std::to_string(y);
                }
            }
        EXPECT_LE(worst, c.tolerance + slack) << c.name << " at " << where;
    }
}

// Depths libtiff's RGBA reader refuses: every value scales to v x 255 / max,
// rounded; floats are clamped to 0..1 first.
TEST(TiffLayouts, DeepAndFloatSamplesScaleWithRounding)
{
    struct TDepth {
        std::uint16_t bits;
        std::uint16_t format;
        bool planar;
    };
    const TDepth depths[] = {{10, SAMPLEFORMAT_UINT, false}, {12, SAMPLEFORMAT_UINT, true},
                             {14, SAMPLEFORMAT_UINT, false}, {24, SAMPLEFORMAT_UINT, false},
                             {32, SAMPLEFORMAT_UINT, true},  {16, SAMPLEFORMAT_IEEEFP, false},
                             {32, SAMPLEFORMAT_IEEEFP, false}, {64, SAMPLEFORMAT_IEEEFP, true}};
    test::TTempDir dir;
    for (const TDepth& d : depths) {
        const std::string file = dir.File("deep.tif");
        TIFF* tif = TIFFOpen(file.c_str(), d.format == SAMPLEFORMAT_IEEEFP ? "wl" : "wb");
        ASSERT_NE(tif, nullptr);
        const TCase c{"deep", COMPRESSION_NONE, PHOTOMETRIC_RGB, 3, d.bits, d.planar, false, false, 0,
                      FILLORDER_MSB2LSB, 0};
        SetFields(tif, c);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, d.format);
        // Float values run from -0.25 to 1.25, so both clamps are exercised.
        const auto floatValue = [](int x, int y, int s) { return (Sample(x, y, s, 8) / 255.0) * 1.5 - 0.25; };
        const int planes = d.planar ? 3 : 1;
        for (int plane = 0; plane < planes; ++plane)
            for (int y = 0; y < kHeight; ++y) {
                std::vector<std::uint8_t> row;
                if (d.format == SAMPLEFORMAT_IEEEFP) {
                    for (int x = 0; x < kWidth; ++x)
                        for (int s = 0; s < 3 / planes; ++s) {
                            const double v = floatValue(x, y, d.planar ? plane : s);
                            std::uint8_t bytes[8];
                            if (d.bits == 64) {
                                std::memcpy(bytes, &v, 8);
                            } else if (d.bits == 32) {
                                const float f = float(v);
                                std::memcpy(bytes, &f, 4);
                            } else {
                                // Half precision by hand: sign, 5-bit exponent, 10-bit mantissa.
                                const float f = float(v);
                                std::uint16_t h = f < 0 ? 0x8000 : 0;
                                const float a = std::fabs(f);
                                if (a >= 6.1035e-05f) {
                                    int e = 0;
                                    const float m = std::frexp(a, &e);  // a = m * 2^e, m in [0.5, 1)
                                    h = std::uint16_t(h | (e + 14) << 10 | (int(std::lround((m * 2 - 1) * 1024)) & 0x3FF));
                                }
                                std::memcpy(bytes, &h, 2);
                            }
                            row.insert(row.end(), bytes, bytes + d.bits / 8);
                        }
                } else {
                    row = PackRow(c, y, 0, kWidth, plane);
                }
                ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), std::uint16_t(plane)), 1);
            }
        TIFFClose(tif);
        TPixelGraphic image;
        ASSERT_NO_THROW(test::ReadWith<TTIFFileFormatReader>(test::ReadAll(file), image)) << d.bits;
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const TRGB got = image.GetColor(x, y);
                const std::uint8_t channels[3] = {RedOf(got), GreenOf(got), BlueOf(got)};
                for (int s = 0; s < 3; ++s) {
                    int expected = 0;
                    if (d.format == SAMPLEFORMAT_IEEEFP) {
                        const double v = std::clamp(floatValue(x, y, s), 0.0, 1.0);
                        expected = int(v * 255 + 0.5);
                    } else {
                        const double max = std::ldexp(1.0, d.bits) - 1;
                        expected = int(std::floor(Sample(x, y, s, d.bits) * 255.0 / max + 0.5));
                    }
                    // Half precision carries about three decimal digits.
                    const int tolerance = d.format == SAMPLEFORMAT_IEEEFP && d.bits == 16 ? 1 : 0;
                    if (std::abs(channels[s] - expected) > tolerance && wrong++ == 0)
                        ADD_FAILURE() << d.bits << "-bit " << d.format << " at " << x << "," << y << " sample " << s
                                      << ": " << int(channels[s]) << " for " << expected;
                }
            }
    }
}

#endif  // RASTOVA_HAVE_LIBTIFF
