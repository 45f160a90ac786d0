// The 32-bit straight-alpha format: pixel access, geometry that keeps alpha,
// resampling on premultiplied values and flattening onto the background.
#include "image/AlphaBlend.h"
#include "image/PGraphic.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace rastova;
using test::FillRandom;

namespace {

// The converter's turns, the target made 32-bit like the job does for a source with alpha.
void Turn(const TPixelGraphic& source, TPixelGraphic& target, int rotation)
{
    const int w = source.Width(), h = source.Height();
    const int ew = w % 2 == 0, eh = h % 2 == 0;
    target.SetSize(rotation == 180 ? w : h, rotation == 180 ? h : w, bc32);
    if (rotation == 180)
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, w / 2 - ew, h / 2 - eh, 180);
    else if (rotation == -90)
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2, w / 2 - ew, -90);
    else
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2 - eh, w / 2, 90);
}

}  // namespace

TEST(Alpha, PixelAccessLayoutAndBackground)
{
    TPixelGraphic image;
    image.SetSize(3, 2, bc32);
    EXPECT_EQ(image.RowStride(), 12);
    EXPECT_EQ(image.BitCountNum(), 32);
    EXPECT_EQ(TPixelGraphic::BitCountFromNum(32), bc32);
    EXPECT_EQ(image.PaletteIdent(), pTrueColor);
    EXPECT_EQ(image.ColorResolution(), crTrueColor);
    image.SetPixel(0, 0, 0x80332211u);
    const std::uint8_t* stored = image.Bits() + image.RowStride();  // the top row is stored last
    EXPECT_EQ(std::string(stored, stored + 4), std::string("\x33\x22\x11\x80"));
    EXPECT_EQ(image.GetPixel(0, 0), 0x80332211u);
    EXPECT_EQ(image.GetColor(0, 0), 0x332211u);
    image.SetColor(1, 1, 0x445566);
    EXPECT_EQ(image.GetPixel(1, 1), 0xFF445566u);
    // The background is a colour; cleared and outside pixels are it, fully transparent.
    image.SetBackGroundColor(0xFF0A0B0C);
    EXPECT_EQ(image.GetBackGroundColor(), 0x0A0B0Cu);
    image.Clear();
    EXPECT_EQ(image.GetPixel(2, 1), 0x000A0B0Cu);
    EXPECT_EQ(image.GetPixel(-1, 0), 0x000A0B0Cu);
    EXPECT_TRUE(image.AnyTranslucentPixel());
}

TEST(Alpha, MirrorsAndQuarterTurnsKeepEveryValue)
{
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 2}, {2, 3}, {5, 4}, {37, 70}, {70, 37}, {130, 67}};
    for (const auto& [w, h] : sizes) {
        TPixelGraphic source;
        FillRandom(source, w, h, bc32, std::uint32_t(w * 31 + h));
        for (const int rotation : {180, -90, 90}) {
            TPixelGraphic target;
            Turn(source, target, rotation);
            ASSERT_EQ(target.BitCount(), bc32);
            for (int y = 0; y < target.Height(); ++y)
                for (int x = 0; x < target.Width(); ++x) {
                    const int sx = rotation == 180 ? w - 1 - x : rotation == -90 ? w - 1 - y : y;
                    const int sy = rotation == 180 ? h - 1 - y : rotation == -90 ? x : h - 1 - x;
                    ASSERT_EQ(target.GetPixel(x, y), source.GetPixel(sx, sy))
                        << w << "x" << h << " by " << rotation << " at " << x << "," << y;
                }
        }
        TPixelGraphic mirrored;
        mirrored.Assign(&source);
        mirrored.MirrorHorizontal();
        mirrored.MirrorVertical();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(mirrored.GetPixel(x, y), source.GetPixel(w - 1 - x, h - 1 - y)) << w << "x" << h;
    }
}

// An opaque red pixel beside a transparent black one: every resampled or
// interpolated pixel that shows at all is pure red; blending straight values
// would darken the edge.
TEST(Alpha, ResamplingOnAHardEdgeGivesNoDarkFringe)
{
    TPixelGraphic edge;
    edge.SetSize(2, 2, bc32);
    for (int y = 0; y < 2; ++y) {
        edge.SetPixel(0, y, WithAlpha(RGBValue(255, 0, 0), 255));
        edge.SetPixel(1, y, WithAlpha(0, 0));
    }
    const auto check = [](const TPixelGraphic& image, const std::string& label) {
        bool partial = false;
        for (int y = 0; y < image.Height(); ++y)
            for (int x = 0; x < image.Width(); ++x) {
                const std::uint32_t v = image.GetPixel(x, y);
                partial = partial || (AlphaOf(v) > 0 && AlphaOf(v) < 255);
                if (AlphaOf(v) > 0) {
                    EXPECT_EQ(v & 0xFFFFFFu, RGBValue(255, 0, 0)) << label << " at " << x << "," << y;
                }
            }
        EXPECT_TRUE(partial) << label << ": the edge should be blended";
    };
    for (const TStretchMode mode : {smMedium, smPrecise}) {
        for (const int size : {1, 5, 7}) {
            TPixelGraphic target;
            target.SetSize(size, 2, bc32);
            target.SetStretchMode(mode);
            target.CopyFrom(edge);
            check(target, "stretch to " + std::to_string(size) + " mode " + std::to_string(mode));
        }
    }
    TPixelGraphic turned;
    turned.SetSize(4, 4, bc32);
    turned.Rotate(edge, 0, 0, 2, 2, 1, 1, 2, 2, 30);
    check(turned, "bilinear turn");
}

// Copies into formats without alpha lay each pixel over the source's
// background with the plain "over" blend; copies into 32 bits are opaque.
TEST(Alpha, CopiesFlattenOntoTheBackgroundAndOpaqueSourcesStayOpaque)
{
    TPixelGraphic source;
    FillRandom(source, 9, 4, bc32, 5);
    const TRGB background = RGBValue(20, 200, 90);
    source.SetBackGroundColor(background);
    const auto over = [&](std::uint32_t v) {
        return RGBValue(OverBackground(RedOf(v), AlphaOf(v), RedOf(background)),
                        OverBackground(GreenOf(v), AlphaOf(v), GreenOf(background)),
                        OverBackground(BlueOf(v), AlphaOf(v), BlueOf(background)));
    };
    TPixelGraphic flat, gray, flattened;
    flat.SetSize(9, 4, bc24);
    flat.CopyFrom(source);
    gray.SetSize(9, 4, bc8);
    gray.SetPaletteIdent(pGray256);
    gray.SetDither(false);
    gray.CopyFrom(source);
    flattened.Assign(&source);
    flattened.FlattenAlpha();
    ASSERT_EQ(flattened.BitCount(), bc24);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
            const TRGB expected = over(source.GetPixel(x, y));
            ASSERT_EQ(flat.GetPixel(x, y), expected) << x << "," << y;
            ASSERT_EQ(flattened.GetPixel(x, y), expected) << x << "," << y;
            TPixelGraphic one;
            one.SetSize(1, 1, bc8);
            one.SetPaletteIdent(pGray256);
            one.SetColor(0, 0, expected);
            ASSERT_EQ(gray.GetPixel(x, y), one.GetPixel(0, 0)) << x << "," << y;
        }
    TPixelGraphic opaque;
    opaque.SetSize(9, 4, bc32);
    opaque.CopyFrom(flat);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(opaque.GetPixel(x, y), WithAlpha(flat.GetPixel(x, y), 255));
    EXPECT_FALSE(opaque.AnyTranslucentPixel());
    EXPECT_TRUE(source.AnyTranslucentPixel());
}
