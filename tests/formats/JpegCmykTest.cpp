// CMYK and YCCK JPEG files (Adobe APP14, inks stored inverted) convert to RGB
// as (1 - C)(1 - K) per channel, as ImageMagick shows them without a profile.
#include "formats/Jpeg.h"
#include "formats/Pxm.h"
#include "formats/Register.h"

#include "image/FileFormats.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace rastova;

TEST(JpegCmyk, MatchesImageMagick)
{
    if (std::system("command -v convert > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick not installed";
    test::TTempDir dir;
    // ImageMagick writes YCCK by default; with 1x1 sampling and a low quality
    // the colour transform still is Adobe's, so both kinds of input are seen.
    const char* const makes[] = {
        "-size 61x37 gradient:red-blue -colorspace CMYK -quality 95",
        "-size 61x37 plasma:fractal -seed 3 -colorspace CMYK -sampling-factor 1x1 -quality 60",
        "-size 61x37 xc:white -fill cyan -draw 'rectangle 5,5 30,30' -colorspace CMYK -quality 90",
    };
    int index = 0;
    for (const char* make : makes) {
        const std::string jpg = dir.File("c" + std::to_string(index) + ".jpg");
        const std::string ref = dir.File("c" + std::to_string(index++) + ".ppm");
        ASSERT_EQ(std::system(("convert " + std::string(make) + " '" + jpg + "'").c_str()), 0);
        ASSERT_EQ(std::system(("convert '" + jpg + "' -colorspace sRGB '" + ref + "'").c_str()), 0);
        TPixelGraphic ours, theirs;
        ours.LoadFromFile(jpg);
        theirs.LoadFromFile(ref);
        ASSERT_EQ(ours.BitCount(), bc24) << make;
        ASSERT_EQ(ours.Width(), theirs.Width()) << make;
        int worst = 0;
        for (int y = 0; y < ours.Height(); ++y)
            for (int x = 0; x < ours.Width(); ++x) {
                const TRGB a = ours.GetColor(x, y), b = theirs.GetColor(x, y);
                for (int shift : {0, 8, 16})
                    worst = std::max(worst, std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)));
            }
        EXPECT_LE(worst, 1) << make;
    }
}
