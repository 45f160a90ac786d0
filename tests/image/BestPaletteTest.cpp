// The best palette: as many entries as asked, the picture's own colours when it
// has few, and a quality floor on smooth pictures that the median cut misses.
#include "image/BestPalette.h"

#include "image/PGraphic.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <set>

namespace rastova {
namespace {

// Smooth gradients with a little texture: the colours of a photo, thousands of them.
void SmoothPicture(TPixelGraphic& image)
{
    image.SetSize(160, 120, bc24);
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            const double t = std::sin(x / 17.0) * std::cos(y / 11.0);
            image.SetColor(x, y, RGBValue(std::uint8_t(40 + x + 20 * t), std::uint8_t(30 + 2 * y - 25 * t),
                                          std::uint8_t(128 + 90 * t + (x * y) % 7)));
        }
}

double Psnr(const TPixelGraphic& a, const TPixelGraphic& b)
{
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            for (int shift = 0; shift < 24; shift += 8) {
                const double e = double((a.GetColor(x, y) >> shift) & 255) - double((b.GetColor(x, y) >> shift) & 255);
                sum += e * e;
            }
    const double mse = sum / (3.0 * a.Width() * a.Height());
    return mse == 0 ? 99 : 10 * std::log10(255 * 255 / mse);
}

double QuantizedPsnr(const TPixelGraphic& source, int colors, bool best, int* entries = nullptr)
{
    TPixelGraphic target;
    target.SetSize(source.Width(), source.Height(), colors <= 2 ? bc1 : colors <= 16 ? bc4 : bc8);
    if (best) {
        CreateBestPalette(target, source, colors);
        DitherToBestPalette(source, target);
    } else {
        target.CreateOptimalPalette(source, colors, false);
        target.CopyFrom(source);
    }
    if (entries)
        *entries = target.PaletteCount();
    return Psnr(source, target);
}

// Every count from 2 to 256 gives that many entries, the same ones each time,
// and more entries never lose quality.
TEST(BestPalette, EveryCountGivesThatManyEntries)
{
    TPixelGraphic picture;
    SmoothPicture(picture);
    double previous = 0;
    for (const int count : {2, 3, 7, 16, 40, 100, 255, 256}) {
        SCOPED_TRACE(count);
        const std::vector<TRGB> colors = BestPaletteColors(picture, count);
        EXPECT_EQ(int(colors.size()), count);
        EXPECT_EQ(BestPaletteColors(picture, count), colors) << "not deterministic";
        EXPECT_EQ(std::set<TRGB>(colors.begin(), colors.end()).size(), colors.size()) << "an entry twice";
        int entries = 0;
        const double quality = QuantizedPsnr(picture, count, true, &entries);
        EXPECT_EQ(entries, count);
        EXPECT_GE(quality, previous - 0.2);
        previous = quality;
    }
}

// Photos: the mean quality over a fixed set stays above a floor (ImageMagick's
// dithered -colors reaches about 37 dB and 26 dB on these) and above the median cut.
TEST(BestPalette, PhotosReachTheFloor)
{
    const std::string folder = (test::TestSuitesDir() / "kodak").string() + "/";
    if (!std::filesystem::exists(folder + "kodim01.png"))
        GTEST_SKIP() << "the Kodak photos are not present";
    struct TCase {
        int colors;
        double floor;
    };
    for (const TCase c : {TCase{16, 26.5}, TCase{256, 36.0}}) {
        double best = 0, median = 0;
        for (const char* name : {"kodim01.png", "kodim02.png", "kodim03.png"}) {
            TPixelGraphic photo;
            photo.LoadFromFile(folder + name);
            best += QuantizedPsnr(photo, c.colors, true) / 3;
            median += QuantizedPsnr(photo, c.colors, false) / 3;
        }
        EXPECT_GE(best, c.floor) << c.colors << " colours";
        EXPECT_GT(best, median + 1) << c.colors << " colours";
    }
}

TEST(BestPalette, FewColoursAreKeptExactly)
{
    TPixelGraphic picture;
    test::FillRandom(picture, 50, 40, bc4, 3);  // up to 16 colours
    TPixelGraphic source;
    source.SetSize(50, 40, bc24);
    source.CopyFrom(picture);
    std::set<TRGB> present;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x)
            present.insert(source.GetColor(x, y));
    for (const int colors : {int(present.size()), 256}) {
        const std::vector<TRGB> palette = BestPaletteColors(source, colors);
        EXPECT_EQ(std::set<TRGB>(palette.begin(), palette.end()), present);
        EXPECT_EQ(QuantizedPsnr(source, colors, true), 99) << "a kept colour was dithered";
    }
}

}  // namespace
}  // namespace rastova
