// Raw 16-bit PGM and PPM and the PAM variants (P7), written by ImageMagick at
// test time and compared with ImageMagick's own 8-bit rendering of each file.
#include "formats/Pxm.h"
#include "formats/Register.h"

#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace rastova;

TEST(PnmDeep, MatchesImageMagick)
{
    if (std::system("command -v convert > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick not installed";
    test::TTempDir dir;
    const std::string source = dir.File("source.ppm");
    ASSERT_EQ(std::system(("convert -size 53x31 plasma:fractal -seed 5 -depth 16 '" + source + "'").c_str()), 0);
    struct TCase {
        const char* name;
        const char* options;  // turning the source into the file read
        TBitCount bitCount;
    };
    const TCase cases[] = {
        {"rgb16.ppm", "-depth 16", bc24},
        {"rgb12.ppm", "-depth 12", bc24},
        {"gray16.pgm", "-colorspace gray -depth 16", bc8},
        {"gray10.pgm", "-colorspace gray -depth 10", bc8},
        {"rgb.pam", "-depth 8", bc24},
        {"rgb16.pam", "-depth 16", bc24},
        {"rgba.pam", "-alpha set -channel A -evaluate set 50% +channel -depth 8", bc32},
        {"gray.pam", "-colorspace gray -depth 8", bc8},
        {"graya16.pam", "-colorspace gray -alpha set -depth 16", bc32},
        {"bw.pam", "-colorspace gray -threshold 50% -depth 1", bc1},
    };
    for (const TCase& c : cases) {
        const std::string file = dir.File(c.name);
        const std::string ref = dir.File("ref.ppm");
        ASSERT_EQ(std::system(("convert '" + source + "' " + c.options + " '" + file + "'").c_str()), 0) << c.name;
        ASSERT_EQ(std::system(("convert '" + file + "' -alpha off -depth 8 -type TrueColor '" + ref + "'").c_str()), 0);
        TPixelGraphic ours, theirs;
        ASSERT_NO_THROW(ours.LoadFromFile(file)) << c.name;
        theirs.LoadFromFile(ref);
        EXPECT_EQ(ours.BitCount(), c.bitCount) << c.name;
        ASSERT_EQ(ours.Width(), 53) << c.name;
        ASSERT_EQ(ours.Height(), 31) << c.name;
        int worst = 0;
        for (int y = 0; y < 31; ++y)
            for (int x = 0; x < 53; ++x) {
                const TRGB a = ours.GetColor(x, y), b = theirs.GetColor(x, y);
                for (int shift : {0, 8, 16})
                    worst = std::max(worst, std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)));
            }
        EXPECT_LE(worst, 1) << c.name;
        // The _ALPHA forms keep their alpha: half for rgba.pam, opaque for graya16.pam.
        if (ours.HasAlpha()) {
            EXPECT_NEAR(int(ours.GetPixel(3, 3) >> 24), c.name[0] == 'r' ? 128 : 255, 1) << c.name;
        }
    }
}

TEST(PnmDeep, RefusalsNameTheProblem)
{
    struct TCase {
        const char* bytes;
        const char* message;
    };
    const TCase cases[] = {
        {"P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n", "PAM: tuple type CMYK is not supported"},
        {"P7\nWIDTH 2\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n", "PAM: DEPTH invalid"},
        {"P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\nabc", "PAM: Unexpected end of file"},
        {"P7\nWIDTH 2\nHEIGHT 1\nSIZE 3\nENDHDR\n", "PAM: SIZE invalid"},
        {"P5 2 1 65535\n\x01\x02", "PBM, PGM, PPM: Unexpected end of file"},
        {"P5 2 1 65536\n\x01\x02\x03\x04", "PBM, PGM, PPM: Not supported subformat"},
    };
    for (const TCase& c : cases) {
        const std::string text = c.bytes;
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        TPixelGraphic image;
        std::string message;
        try {
            TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
            image.LoadFromStream(stream);
        } catch (const EPixelGraphic& e) {
            message = e.what();
        }
        EXPECT_EQ(message, c.message) << c.bytes;
    }
}

// Manifest rows refused before raw 16-bit samples were read: they load now.
TEST(PnmDeep, SuiteRowsThatLoadNow)
{
    const char* const nowLoading[] = {"image-tiff/random-fp16.pgm", "libjpeg-turbo/monkey16.pgm",
                                      "pillow/16_bit_binary.pgm", "pillow/hopper_16bit.pgm",
                                      "zigimg/netpbm/pgm_binary_grayscale16.pgm"};
    const auto rows = test::ManifestRows({"pgm"});
    if (rows.empty())
        GTEST_SKIP() << "test suites not present";
    int checked = 0;
    for (const auto& row : rows)
        for (const char* path : nowLoading)
            if (row.path == path) {
                EXPECT_EQ(row.expectation, "refused") << path;
                TPixelGraphic image;
                EXPECT_EQ(test::LoadLikeConverter(test::TestSuitesDir() / row.path, image), "") << path;
                EXPECT_EQ(image.BitCount(), bc8) << path;
                ++checked;
            }
    EXPECT_EQ(checked, 5);
}
