// The BMP, Targa and PCX readers against the third-party suites: every listed
// file behaves as its MANIFEST row says, and files that show one picture in
// several encodings (or have a reference rendering) decode to the same colours.
#include "image/PGExceptions.h"
#include "image/PGraphic.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using namespace rastova;

namespace {

std::filesystem::path Suite(const std::string& relative)
{
    return test::TestSuitesDir() / relative;
}

// Where the MANIFEST's note quotes a message that these formats word
// differently: a wrong header size is message 27, "Invalid size of %S1".
std::string ExpectedMessage(const std::string& note)
{
    const std::string expected = note.substr(0, note.find(" ("));
    if (expected == "BMP: BitmapInfoHeader/BitmapCoreHeader invalid")
        return "BMP: Invalid size of BitmapInfoHeader/BitmapCoreHeader";
    return expected;
}

bool QuotesOwnMessage(const std::string& note)
{
    return note.rfind("BMP: ", 0) == 0 || note.rfind("TGA: ", 0) == 0 || note.rfind("PCX: ", 0) == 0;
}

// Rows whose manifest expectation predates the 52-, 56-, 108- and 124-byte
// headers and embedded JPEG and PNG pixels: files that load now, and refusals
// that now come from a later check.
struct TChangedRow {
    const char* path;
    const char* expectation;
    const char* message;  // the refusal now given
};

const TChangedRow kChangedRows[] = {
    {"bmpsuite/g/pal8v4.bmp", "loads", ""},
    {"bmpsuite/g/pal8v5.bmp", "loads", ""},
    {"bmpsuite/q/rgb24jpeg.bmp", "loads", ""},
    {"bmpsuite/q/rgb24lprof.bmp", "loads", ""},
    {"bmpsuite/q/rgb24png.bmp", "loads", ""},
    {"bmpsuite/q/rgb24prof.bmp", "loads", ""},
    {"bmpsuite/q/rgb24prof2.bmp", "loads", ""},
    {"bmpsuite/q/rgb32-xbgr.bmp", "loads", ""},
    {"bmpsuite/q/rgb32h52.bmp", "loads", ""},
    {"bmpsuite/q/rgba16-1924.bmp", "loads", ""},
    {"bmpsuite/q/rgba16-4444.bmp", "loads", ""},
    {"bmpsuite/q/rgba16-5551.bmp", "loads", ""},
    {"bmpsuite/q/rgba32-1.bmp", "loads", ""},
    {"bmpsuite/q/rgba32-1010102.bmp", "loads", ""},
    {"bmpsuite/q/rgba32-2.bmp", "loads", ""},
    {"bmpsuite/q/rgba32-61754.bmp", "loads", ""},
    {"bmpsuite/q/rgba32-81284.bmp", "loads", ""},
    {"bmpsuite/q/rgba32h56.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_A1_R5_G5_B5.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_A1_R5_G5_B5_Top_Down.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_A4_R4_G4_B4.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_A4_R4_G4_B4_Top_Down.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_R5_G6_B5.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_R5_G6_B5_Top_Down.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_X4_R4_G4_B4.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_X4_R4_G4_B4_Top_Down.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_X8_R8_G8_B8.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V3_X8_R8_G8_B8_Top_Down.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V4_A8_R8_G8_B8.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V4_R5_G6_B5.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V5_A1_R5_G5_B5.bmp", "loads", ""},
    {"image-rs/images/bmp/images/V5_A8_R8_G8_B8_Rgb.bmp", "loads", ""},
    {"image-rs/images/bmp/images/imagemagick_invalid_run_length_issue_2321.bmp", "loads", ""},
    {"image-rs/images/bmp/images/lenient/V5_A8_R8_G8_B8_Rgb_BadMask.bmp", "loads", ""},
    {"pillow/hopper.bmp", "loads", ""},
    {"pillow/hopper_rle8_grayscale.bmp", "loads", ""},
    {"pillow/rgb32bf-abgr.bmp", "loads", ""},
    {"pillow/rgb32bf-rgba.bmp", "loads", ""},
    {"zigimg/bmp/simple_v4.bmp", "loads", ""},
    {"zigimg/bmp/windows_rgba_v5.bmp", "loads", ""},
};

const TChangedRow* ChangedRow(const std::string& path)
{
    for (const TChangedRow& row : kChangedRows)
        if (path == row.path)
            return &row;
    return nullptr;
}

class SuiteFormat : public ::testing::TestWithParam<std::string> {};

TEST_P(SuiteFormat, EveryFileMeetsItsExpectation)
{
    const std::vector<test::TManifestRow> rows = test::ManifestRows({GetParam()});
    if (rows.empty())
        RASTOVA_SKIP_WITHOUT_SUITES("test suites not present");
    for (test::TManifestRow row : rows) {
        SCOPED_TRACE(row.path);
        TPixelGraphic image;
        const std::string error = test::LoadLikeConverter(Suite(row.path), image);
        EXPECT_EQ(error.rfind("FOREIGN", 0), std::string::npos) << error;
        if (const TChangedRow* changed = ChangedRow(row.path)) {
            row.expectation = changed->expectation;
            row.note = changed->message;
        }
        if (row.expectation == "loads") {
            EXPECT_EQ(error, "");
        } else if (row.expectation == "refused") {
            EXPECT_NE(error, "");
            if (QuotesOwnMessage(row.note)) {
                EXPECT_EQ(error, ExpectedMessage(row.note));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Manifest, SuiteFormat, ::testing::Values("bmp", "tga", "pcx"));

// ---- the same picture in several encodings ------------------------------------------------

// Colours of every pixel, top row first; empty when the file does not load.
std::vector<TRGB> Colors(const std::string& relative, int* width = nullptr, int* height = nullptr)
{
    TPixelGraphic image;
    if (!test::LoadLikeConverter(Suite(relative), image).empty())
        return {};
    if (width)
        *width = image.Width();
    if (height)
        *height = image.Height();
    std::vector<TRGB> colors;
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            colors.push_back(image.GetColor(x, y));
    return colors;
}

// rClose: a palette-reduced copy; the mean channel difference stays small
// (swapped or shifted planes would make it large).
enum TRelation { rSame, rMirroredLeftRight, rTurnedHalfWay, rClose };

struct TSamePicture {
    const char* first;
    const char* second;
    TRelation relation = rSame;  // how the second shows the first
};

class SuiteSamePicture : public ::testing::TestWithParam<TSamePicture> {};

TEST_P(SuiteSamePicture, DecodesToTheSameColours)
{
    if (test::TestSuitesDir().empty())
        RASTOVA_SKIP_WITHOUT_SUITES("test suites not present");
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    const std::vector<TRGB> a = Colors(GetParam().first, &w1, &h1);
    const std::vector<TRGB> b = Colors(GetParam().second, &w2, &h2);
    ASSERT_FALSE(a.empty());
    ASSERT_EQ(w1, w2);
    ASSERT_EQ(h1, h2);
    if (GetParam().relation == rClose) {
        double sum = 0;
        for (std::size_t i = 0; i < a.size(); ++i)
            for (const int shift : {0, 8, 16})
                sum += std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF));
        EXPECT_LT(sum / double(3 * a.size()), 8.0);
        return;
    }
    int differing = 0;
    for (int y = 0; y < h1; ++y) {
        for (int x = 0; x < w1; ++x) {
            const int bx = GetParam().relation == rSame ? x : w1 - 1 - x;
            const int by = GetParam().relation == rTurnedHalfWay ? h1 - 1 - y : y;
            differing += a[std::size_t(y) * std::size_t(w1) + std::size_t(x)] !=
                         b[std::size_t(by) * std::size_t(w1) + std::size_t(bx)];
        }
    }
    EXPECT_EQ(differing, 0) << "of " << a.size() << " pixels";
}

INSTANTIATE_TEST_SUITE_P(
    Files, SuiteSamePicture,
    ::testing::Values(
        // BMP: palette files in every layout, and true colour in 24 and 32 bits.
        TSamePicture{"bmpsuite/g/pal8.bmp", "bmpsuite/g/pal8rle.bmp"},
        TSamePicture{"bmpsuite/g/pal8.bmp", "bmpsuite/g/pal8topdown.bmp"},
        TSamePicture{"bmpsuite/g/pal8.bmp", "bmpsuite/g/pal8-0.bmp"},
        TSamePicture{"bmpsuite/g/pal8.bmp", "bmpsuite/g/pal8os2.bmp"},
        TSamePicture{"bmpsuite/g/pal8.bmp", "bmpsuite/q/pal8oversizepal.bmp"},
        TSamePicture{"bmpsuite/g/pal8.bmp", "bmpsuite/q/pal8os2v2-40sz.bmp"},
        // The V4 and V5 headers, an embedded profile, and masks inside a 52- or 56-byte header.
        TSamePicture{"bmpsuite/g/pal8.bmp", "bmpsuite/g/pal8v4.bmp"},
        TSamePicture{"bmpsuite/g/pal8.bmp", "bmpsuite/g/pal8v5.bmp"},
        TSamePicture{"bmpsuite/g/rgb24.bmp", "bmpsuite/q/rgb24prof.bmp"},
        TSamePicture{"bmpsuite/g/rgb24.bmp", "bmpsuite/q/rgb24lprof.bmp"},
        TSamePicture{"bmpsuite/g/rgb32bf.bmp", "bmpsuite/q/rgb32h52.bmp"},
        TSamePicture{"bmpsuite/q/rgba32-1.bmp", "bmpsuite/q/rgba32-2.bmp"},
        TSamePicture{"bmpsuite/q/rgba32-1.bmp", "bmpsuite/q/rgba32h56.bmp"},
        TSamePicture{"image-rs/images/bmp/images/V3_X8_R8_G8_B8.bmp", "image-rs/images/bmp/images/Info_R8_G8_B8.bmp"},
        TSamePicture{"bmpsuite/g/pal4.bmp", "bmpsuite/g/pal4rle.bmp"},
        TSamePicture{"bmpsuite/g/rgb24.bmp", "bmpsuite/g/rgb32.bmp"},
        TSamePicture{"bmpsuite/g/rgb24.bmp", "bmpsuite/g/rgb32bf.bmp"},
        TSamePicture{"bmpsuite/g/rgb24.bmp", "bmpsuite/g/rgb32bfdef.bmp"},
        TSamePicture{"bmpsuite/g/rgb24.bmp", "bmpsuite/q/rgb24largepal.bmp"},
        TSamePicture{"bmpsuite/g/rgb24.bmp", "bmpsuite/g/rgb24pal.bmp"},
        TSamePicture{"bmpsuite/g/rgb16.bmp", "bmpsuite/g/rgb16bfdef.bmp"},
        TSamePicture{"bmpsuite/g/rgb16-565.bmp", "bmpsuite/g/rgb16-565pal.bmp"},
        TSamePicture{"image-rs/images/bmp/images/Info_8_Bit.bmp",
                     "image-rs/images/bmp/images/Info_8_Bit_Top_Down.bmp"},
        TSamePicture{"image-rs/images/bmp/images/Info_R8_G8_B8.bmp",
                     "image-rs/images/bmp/images/Info_A8_R8_G8_B8_Top_Down.bmp"},
        TSamePicture{"image-rs/images/bmp/images/Info_X1_R5_G5_B5.bmp",
                     "image-rs/images/bmp/images/Info_X1_R5_G5_B5_Top_Down.bmp"},
        TSamePicture{"image-rs/images/bmp/images/Info_1_Bit.bmp",
                     "image-rs/images/bmp/images/Info_1_Bit_Top_Down.bmp"},
        TSamePicture{"image-rs/images/bmp/images/Info_4_Bit.bmp",
                     "image-rs/images/bmp/images/Info_4_Bit_Top_Down.bmp"},
        // Another decoder's output of the same picture (our PPM reader), also of
        // a 256-colour run-length copy of it.
        TSamePicture{"libtiff/rgb-3c-8b.bmp", "libtiff/rgb-3c-8b.ppm"},
        TSamePicture{"pillow/hopper.ppm", "pillow/hopper_rle8.bmp", rClose},
        // Targa: one picture, every origin and both storages.
        TSamePicture{"truevision-tga/utc24.tga", "truevision-tga/ctc24.tga"},
        TSamePicture{"truevision-tga/utc24.tga", "truevision-tga/utc32.tga"},
        TSamePicture{"truevision-tga/ubw8.tga", "truevision-tga/cbw8.tga"},
        TSamePicture{"truevision-tga/ucm8.tga", "truevision-tga/ccm8.tga"},
        // The same data under other origins: mirrored, or turned half way.
        TSamePicture{"pillow/rgb32rle.tga", "pillow/rgb32rle_bottom_right.tga", rMirroredLeftRight},
        TSamePicture{"pillow/rgb32rle.tga", "pillow/rgb32rle_top_right.tga", rTurnedHalfWay},
        TSamePicture{"zigimg/tga/stopsignsmall.tga", "zigimg/tga/stopsignsmallcompressed.tga"},
        TSamePicture{"pillow/200x32_p_bl_raw_origin.tga", "pillow/tga/common/200x32_p_bl_raw.tga"},
        // PCX: 24-bit planes and a 256-colour reduction of the same picture.
        TSamePicture{"zigimg/pcx/test-bpp8.pcx", "zigimg/pcx/test-bpp24.pcx", rClose}),
    [](const ::testing::TestParamInfo<TSamePicture>& info) {
        std::string name = std::filesystem::path(info.param.second).stem().string();
        for (char& c : name)
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name + "_" + std::to_string(info.index);
    });

// ---- Targa against the PNG renderings beside them ---------------------------------------------

// RGBA pixels of a PNG, top row first, through libpng's simplified API.
std::vector<std::uint8_t> ReadPngRgba(const std::filesystem::path& file, int& width, int& height)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, file.string().c_str()))
        return {};
    png.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&png);
        return {};
    }
    width = int(png.width);
    height = int(png.height);
    return pixels;
}

TEST(SuiteReference, TargaMatchesThePngRendering)
{
    if (test::TestSuitesDir().empty())
        RASTOVA_SKIP_WITHOUT_SUITES("test suites not present");
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Suite("pillow/tga/common"))) {
        if (entry.path().extension() != ".tga")
            continue;
        const std::string stem = entry.path().stem().string();  // e.g. 200x32_rgb_bl_rle
        const std::string picture = stem.substr(0, stem.rfind('_', stem.rfind('_') - 1));
        // 16-bit gray-and-alpha pixels are read as 5-5-5 colour here, not as gray.
        if (picture.ends_with("_la"))
            continue;
        SCOPED_TRACE(stem);
        int width = 0, height = 0;
        const std::vector<std::uint8_t> reference =
            ReadPngRgba(entry.path().parent_path() / (picture + ".png"), width, height);
        ASSERT_FALSE(reference.empty());
        int w = 0, h = 0;
        const std::vector<TRGB> colors = Colors(std::filesystem::relative(entry.path(), test::TestSuitesDir()), &w, &h);
        ASSERT_EQ(w, width);
        ASSERT_EQ(h, height);
        int differing = 0;
        for (std::size_t i = 0; i < colors.size(); ++i) {
            const std::uint8_t* p = reference.data() + 4 * i;  // the alpha channel is not read
            differing += colors[i] != RGBValue(p[0], p[1], p[2]);
        }
        EXPECT_EQ(differing, 0);
        ++compared;
    }
    EXPECT_EQ(compared, 20);  // l, p, rgb and rgba, each in four storages, and the 1x1 gray
}

}  // namespace
