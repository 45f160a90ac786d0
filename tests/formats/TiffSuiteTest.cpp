// Third-party TIFF files: the expectations of the suites' manifest, and the
// pixels of every file we load compared with libtiff's own decoding.
#include "formats/Register.h"
#include "formats/Tiff.h"

#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef RASTOVA_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace rastova;

namespace {

// The manifest's note begins with our message, sometimes followed by an
// explanation in parentheses.
std::string ExpectedMessage(const std::string& note)
{
    const std::size_t paren = note.find(" (");
    return paren == std::string::npos ? note : note.substr(0, paren);
}

bool NoteIsMessage(const std::string& note)
{
    return note.rfind("TIFF", 0) == 0 || note.rfind("Stream read error", 0) == 0 ||
           note.rfind("Unknown file format", 0) == 0;
}

// Rows whose manifest expectation predates LZW, Deflate, 16-bit samples and the
// SamplesPerPixel and BitsPerSample defaults: files that load now, and refusals
// that now come from a later check.
struct TChangedRow {
    const char* path;
    const char* expectation;
    const char* message;  // the refusal now given
};

const TChangedRow kChangedRows[] = {
    {"image-tiff/big_g4.tif", "refused", "TIFF: Unsupported compression Group 4 Fax"},
    {"image-tiff/int16.tif", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/int16_rgb.tif", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/int16_zstd.tif", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/issue_69_lzw.tiff", "loads", ""},
    {"image-tiff/issue_69_packbits.tiff", "loads", ""},
    {"image-tiff/minisblack-1c-i16b.tiff", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/random-fp16-pred2.tiff", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/random-fp16-pred3.tiff", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/random-fp16.tiff", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/seq/seq-1c-16b-bigendian-68f373a0.tiff", "loads", ""},
    {"image-tiff/seq/seq-1c-16b-deflate-68f373a0.tiff", "loads", ""},
    {"image-tiff/seq/seq-1c-16b-lzw-68f373a0.tiff", "loads", ""},
    {"image-tiff/seq/seq-1c-16b-multistrip-68f373a0.tiff", "loads", ""},
    {"image-tiff/seq/seq-1c-16b-tiled-68f373a0.tiff", "refused", "TIFF: Invalid RowsPerStrip"},
    {"image-tiff/seq/seq-1c-8b-deflate-20f3db0c.tiff", "loads", ""},
    {"image-tiff/seq/seq-1c-8b-lzw-20f3db0c.tiff", "loads", ""},
    {"image-tiff/seq/seq-1c-8b-lzw-hpredict-20f3db0c.tiff", "loads", ""},
    {"image-tiff/seq/seq-1c-i16-63af2488.tiff", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/seq/seq-3c-8b-lzw-8743c999.tiff", "loads", ""},
    {"image-tiff/seq/seq-4c-16b-rgba-5181991f.tiff", "loads", ""},
    {"image-tiff/single-black-fp16.tiff", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/white-fp16-pred2.tiff", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/white-fp16-pred3.tiff", "refused", "TIFF: SampleFormat invalid"},
    {"image-tiff/white-fp16.tiff", "refused", "TIFF: SampleFormat invalid"},
    {"libtiff/minisblack-1c-16b.tiff", "loads", ""},
    {"libtiff/quad-lzw-compat.tiff", "loads", ""},
    {"libtiff/rgb-3c-16b.tiff", "loads", ""},
    {"libtiffpic/depth/flower-minisblack-16.tif", "loads", ""},
    {"libtiffpic/depth/flower-rgb-contig-16.tif", "loads", ""},
    {"libtiffpic/ladoga.tif", "loads", ""},
    {"libtiffpic/quad-lzw.tif", "loads", ""},
    {"libtiffpic/quad-tile.tif", "refused", "TIFF: NumStripOffsets<>(ImageLength+RowsPerStrip-1) div RowsPerStrip"},
    {"libtiffpic/strike.tif", "loads", ""},
    {"pillow/12in16bit.tif", "loads", ""},
    {"pillow/16_bit_noise.tif", "loads", ""},
    {"pillow/16bit.MM.cropped.tif", "loads", ""},
    {"pillow/16bit.MM.deflate.tif", "loads", ""},
    {"pillow/16bit.cropped.tif", "loads", ""},
    {"pillow/16bit.deflate.tif", "loads", ""},
    {"pillow/16bit.r.tif", "loads", ""},
    {"pillow/16bit.s.tif", "refused", "TIFF: SampleFormat invalid"},
    {"pillow/8bit.s.tif", "loads", ""},
    {"pillow/hopper_lzw.tif", "loads", ""},
    {"pillow/imagedraw_polygon_width_I.tiff", "loads", ""},
    {"pillow/imagedraw_rectangle_I.tiff", "loads", ""},
    {"pillow/multipage-mmap.tiff", "loads", ""},
    {"pillow/tiff_16bit_RGB.tiff", "refused", "TIFF: Invalid RowsPerStrip"},
    {"pillow/tiff_16bit_RGBa.tiff", "loads", ""},
    {"pillow/tiff_wrong_bits_per_sample_3.tiff", "loads", ""},
    {"pillow/uint16_1_4660.tif", "loads", ""},
    {"zigimg/tiff/sample-grayscale8-deflate.tiff", "loads", ""},
    {"zigimg/tiff/sample-grayscale8-lzw.tiff", "loads", ""},
    {"zigimg/tiff/sample-monob-deflate.tiff", "loads", ""},
    {"zigimg/tiff/sample-monob-lzw.tiff", "loads", ""},
    {"zigimg/tiff/sample-pal8-deflate.tiff", "loads", ""},
    {"zigimg/tiff/sample-pal8-lzw.tiff", "loads", ""},
    {"zigimg/tiff/sample-rgb24-deflate.tiff", "loads", ""},
    {"zigimg/tiff/sample-rgb24-lzw.tiff", "loads", ""},
    {"zigimg/tiff/sample-rgba-deflate.tiff", "loads", ""},
    {"zigimg/tiff/sample-rgba-lzw.tiff", "loads", ""},
};

const TChangedRow* ChangedRow(const std::string& path)
{
    for (const TChangedRow& row : kChangedRows)
        if (path == row.path)
            return &row;
    return nullptr;
}

}  // namespace

TEST(TiffSuite, ManifestExpectations)
{
    const auto rows = test::ManifestRows({"tiff"});
    if (rows.empty())
        GTEST_SKIP() << "test suites not present";
    ASSERT_FALSE(TIFFScanAllIFDs);  // the manifest assumes the library defaults
    int loads = 0, refused = 0;
    for (auto row : rows) {
        TPixelGraphic image;
        const std::string error = test::LoadLikeConverter(test::TestSuitesDir() / row.path, image);
        EXPECT_EQ(error.rfind("FOREIGN", 0), std::string::npos) << row.path << ": " << error;
        if (const TChangedRow* changed = ChangedRow(row.path)) {
            row.expectation = changed->expectation;
            row.note = changed->message;
        }
        if (row.expectation == "loads") {
            EXPECT_EQ(error, "") << row.path;
            EXPECT_GT(image.Width(), 0) << row.path;
            ++loads;
        } else if (row.expectation == "refused") {
            EXPECT_NE(error, "") << row.path;
            if (NoteIsMessage(row.note)) {
                EXPECT_EQ(error, ExpectedMessage(row.note)) << row.path;
            }
            ++refused;
        }
        // "undefined" rows only have to come back, which they did.
    }
    EXPECT_GT(loads, 50);
    EXPECT_GT(refused, 50);
}

// GetInfo must describe every file the reader accepts without decoding it, and
// agree with what Read makes of it.
TEST(TiffSuite, InfoAgreesWithRead)
{
    const auto rows = test::ManifestRows({"tiff"});
    if (rows.empty())
        GTEST_SKIP() << "test suites not present";
    for (const auto& row : rows) {
        if (row.expectation != "loads")
            continue;
        TFileInfo info;
        ASSERT_TRUE(GetFileInfo((test::TestSuitesDir() / row.path).string(), 0, info)) << row.path;
        TPixelGraphic image;
        ASSERT_EQ(test::LoadLikeConverter(test::TestSuitesDir() / row.path, image), "") << row.path;
        EXPECT_EQ(info.Width, image.Width()) << row.path;
        EXPECT_EQ(info.Height, image.Height()) << row.path;
        EXPECT_EQ(info.ImageCount, 1) << row.path;
        EXPECT_EQ(info.SubFormatText.substr(0, 3), row.variant.substr(0, 2) == "MM" ? "M, " : "I, ") << row.path;
        const int bits = info.BitsPerPixel;
        // 16 bits per pixel is 16-bit gray, reduced to 8.
        // Alpha is kept in 32 bits.
        EXPECT_EQ(image.BitCountNum(), info.HasAlpha ? 32 : bits > 16 ? 24 : std::min(bits, 8)) << row.path;
        EXPECT_EQ(image.HasAlpha(), info.HasAlpha) << row.path;
    }
}

#ifdef RASTOVA_HAVE_LIBTIFF

namespace {

void QuietLibtiff()
{
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
}

struct TLibtiffImage {
    int width = 0;
    int height = 0;
    std::uint16_t photometric = 0;
    std::uint16_t samples = 0;
    std::uint16_t bits = 0;
    std::uint16_t fillOrder = 0;
    std::vector<std::uint32_t> rgba;  // top row first, ABGR as libtiff packs it
};

bool ReadWithLibtiff(const std::string& file, TLibtiffImage& out)
{
    QuietLibtiff();
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    if (!tif)
        return false;
    std::uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &out.photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &out.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &out.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &out.fillOrder);
    out.width = int(w);
    out.height = int(h);
    out.rgba.assign(std::size_t(w) * h, 0);
    const int ok = TIFFReadRGBAImageOriented(tif, w, h, out.rgba.data(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tif);
    return ok != 0;
}

// Where our rules and libtiff's rendering part ways, by design.
const char* KnownDifference(const TLibtiffImage& ref, const TPixelGraphic& image)
{
    if (ref.photometric == PHOTOMETRIC_SEPARATED)
        return "CMYK: red = 255 - cyan - black here, (255 - cyan)(255 - black)/255 in libtiff";
    if (ref.photometric == PHOTOMETRIC_PALETTE && ref.bits == 1)
        return "1-bit palette files are read as black and white";
    (void)image;
    return nullptr;
}

}  // namespace

TEST(TiffSuite, PixelsMatchLibtiff)
{
    const auto rows = test::ManifestRows({"tiff"});
    if (rows.empty())
        GTEST_SKIP() << "test suites not present";
    int compared = 0;
    for (const auto& row : rows) {
        if (row.expectation != "loads")
            continue;
        const std::string file = (test::TestSuitesDir() / row.path).string();
        TLibtiffImage ref;
        ASSERT_TRUE(ReadWithLibtiff(file, ref)) << row.path;
        TPixelGraphic image;
        ASSERT_EQ(test::LoadLikeConverter(file, image), "") << row.path;
        // Kept alpha laid over black is libtiff's premultiplied colour; associated
        // alpha divided out and multiplied in again may part by one level.
        const int tolerance = image.HasAlpha() ? 1 : 0;
        image.FlattenAlpha();
        if (KnownDifference(ref, image))
            continue;
        ASSERT_EQ(image.Width(), ref.width) << row.path;
        ASSERT_EQ(image.Height(), ref.height) << row.path;
        int differences = 0;
        std::string first;
        for (int y = 0; y < ref.height; ++y)
            for (int x = 0; x < ref.width; ++x) {
                const std::uint32_t p = ref.rgba[std::size_t(y) * std::size_t(ref.width) + std::size_t(x)];
                const TRGB expected = RGBValue(std::uint8_t(TIFFGetR(p)), std::uint8_t(TIFFGetG(p)),
                                               std::uint8_t(TIFFGetB(p)));
                const TRGB got = image.GetColor(x, y);
                bool same = true;
                for (const int shift : {0, 8, 16})
                    same = same && std::abs(int(got >> shift & 0xFF) - int(expected >> shift & 0xFF)) <= tolerance;
                if (!same && differences++ == 0)
                    first = std::to_string(x) + "," + std::to_string(y);
            }
        EXPECT_EQ(differences, 0) << row.path << " first at " << first;
        ++compared;
    }
    EXPECT_GT(compared, 40);
}

#endif  // RASTOVA_HAVE_LIBTIFF
