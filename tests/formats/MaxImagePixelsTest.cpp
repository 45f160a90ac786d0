// Every reader refuses an image with more pixels than MaxImagePixels before it
// allocates, and loads one with exactly that many.
#include "image/PGExceptions.h"
#include "image/PGraphic.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace rastova;

namespace {

struct TSample {
    const char* reader;
    std::string path;  // written by our writer, or a third-party file
};

std::string LoadWithLimit(const std::string& path, std::uint64_t limit)
{
    TPGSettings settings = DefaultSettings();
    settings.MaxImagePixels = limit;
    TPixelGraphic image;
    image.SetReadWarningAction(pgwaIgnore);
    try {
        image.LoadFromFile(path, settings);
    } catch (const EPGInvalidSize& e) {
        return std::string("refused: ") + e.what();
    }
    return "loaded " + std::to_string(image.Width()) + " x " + std::to_string(image.Height());
}

}  // namespace

TEST(MaxImagePixelsTest, EveryReaderLoadsAtTheLimitAndRefusesOnePixelAbove)
{
    test::TTempDir dir;
    std::vector<TSample> samples;
    const std::pair<const char*, TBitCount> written[] = {{"bmp", bc8},  {"png", bc24}, {"jpg", bc24},
                                                         {"tif", bc4},  {"tga", bc24}, {"pbm", bc1},
                                                         {"pgm", bc8},  {"ppm", bc24}};
    for (const auto& [ext, format] : written) {
        TPixelGraphic image;
        test::FillRandom(image, 23, 17, format, 5);
        image.SetSaveColorResWarningAction(pgwaIgnore);
        samples.push_back({ext, dir.File(std::string("sample.") + ext)});
        image.SaveToFile(samples.back().path);
    }
    const std::filesystem::path suites = test::TestSuitesDir();
    if (!suites.empty()) {
        samples.push_back({"gif", (suites / "giflib/doc/whatsinagif/sample_1.gif").string()});
        samples.push_back({"pcx", (suites / "pillow/odd_stride.pcx").string()});
        samples.push_back({"ico", (suites / "image-rs/images/ico/images/smile.ico").string()});
        samples.push_back({"bmp (OS/2 header)", (suites / "bmpsuite/g/pal8os2.bmp").string()});
        samples.push_back({"bmp (run-length)", (suites / "bmpsuite/g/pal8rle.bmp").string()});
    }
    for (const TSample& sample : samples) {
        TPixelGraphic image;
        image.SetReadWarningAction(pgwaIgnore);
        image.LoadFromFile(sample.path);
        const std::uint64_t pixels = std::uint64_t(image.Width()) * std::uint64_t(image.Height());
        ASSERT_GT(pixels, 1u) << sample.reader;
        const std::string size = std::to_string(image.Width()) + " x " + std::to_string(image.Height());
        EXPECT_EQ(LoadWithLimit(sample.path, pixels), "loaded " + size) << sample.reader;
        EXPECT_EQ(LoadWithLimit(sample.path, 0), "loaded " + size) << sample.reader << " without a limit";
        const std::string refused = LoadWithLimit(sample.path, pixels - 1);
        EXPECT_EQ(refused.rfind("refused: ", 0), 0u) << sample.reader << ": " << refused;
        EXPECT_NE(refused.find(size), std::string::npos) << sample.reader << ": " << refused;
    }
}

TEST(MaxImagePixelsTest, ATinyGifClaimingFourGigapixelsIsRefusedAtOnce)
{
    // 65535 x 65535 in the screen and in the image descriptor, a two-colour
    // table and a few bytes of LZW data.
    const std::vector<std::uint8_t> bomb = test::TByteBuilder()
                                               .Text("GIF89a")
                                               .U16LE(65535).U16LE(65535).U8(0x80).U8(0).U8(0)
                                               .Fill(6, 0)
                                               .U8(0x2C).U16LE(0).U16LE(0).U16LE(65535).U16LE(65535).U8(0)
                                               .U8(2).U8(2).U8(0x4C).U8(0x01).U8(0)
                                               .U8(0x3B)
                                               .Data();
    TPixelGraphic image;
    TReadOnlyMemoryStream stream(bomb.data(), bomb.size());
    try {
        image.LoadFromStream(stream);
        FAIL() << "loaded " << image.Width() << " x " << image.Height();
    } catch (const EPGInvalidSize& e) {
        EXPECT_NE(std::string(e.what()).find("65535 x 65535"), std::string::npos) << e.what();
    }
    EXPECT_EQ(image.Width(), 0);
}
