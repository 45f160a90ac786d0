#include "image/PGColorState.h"
#include "image/PGExceptions.h"
#include "image/PGraphic.h"
#include "support/TestSupport.h"
#include "tests/image/ConversionReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <random>
#include <string>

using namespace rastova;
using rastova::test::FillRandom;
using rastova::test::SamePixels;
using rastova::test::TProgressLog;

namespace {

TRGB Rgb(int r, int g, int b)
{
    return RGBValue(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
}

void Copy(TPixelGraphic& to, const TPixelGraphic& from)
{
    to.Assign(&from);
}

// A palette kind for a target of the given format, and the settings to go with it.
void SetUpTarget(TPixelGraphic& g, int w, int h, int kind, bool dither, std::uint32_t seed)
{
    static const TBitCount formats[] = {bc24, bc1, bc1, bc4, bc4, bc4, bc8, bc8, bc8, bc8};
    g.SetSize(w, h, formats[kind]);
    std::mt19937 random(seed);
    switch (kind) {
    case 1: g.SetPaletteIdent(pBlackWhite); break;
    case 3: g.SetPaletteIdent(pSys16); break;
    case 4: g.SetPaletteIdent(pGray16); break;
    case 6: g.SetPaletteIdent(pGray256); break;
    case 7: g.SetPaletteIdent(pSpecial252); break;
    case 8: g.SetPaletteIdent(pSpecial125); break;
    case 0: break;
    default: {
        const int count = kind == 2 ? 2 : kind == 5 ? 16 : 256;
        g.SetPaletteCount(count);
        for (int i = 0; i < count; ++i)
            g.SetPaletteColor(i, random() & 0xFFFFFF);
        break;
    }
    }
    g.SetDither(dither);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            g.SetPixel(x, y, formats[kind] == bc24 ? (random() & 0xFFFFFF) : std::uint32_t(random() % g.PaletteCount()));
}

constexpr int kTargetKinds = 10;

}  // namespace

// ---- mirrors ----------------------------------------------------------------------------------

TEST(Mirror, MatchesPerPixelSwapsInEveryFormat)
{
    for (const TBitCount format : {bc1, bc4, bc8, bc24})
        for (const int w : {1, 2, 3, 7, 8, 9, 17, 33})
            for (const int h : {1, 2, 3, 6}) {
                const std::uint32_t seed = std::uint32_t(w * 100 + h + format);
                TPixelGraphic mine, theirs;
                FillRandom(mine, w, h, format, seed);
                FillRandom(theirs, w, h, format, seed);
                mine.MirrorHorizontal();
                ref::MirrorHorizontal(theirs);
                std::string why;
                ASSERT_TRUE(SamePixels(mine, theirs, &why)) << why << " horizontal " << w << "x" << h;
                mine.MirrorVertical();
                ref::MirrorVertical(theirs);
                ASSERT_TRUE(SamePixels(mine, theirs, &why)) << why << " vertical " << w << "x" << h;
            }
}

TEST(Mirror, KeepsPaletteAndPadBits)
{
    TPixelGraphic g;
    FillRandom(g, 5, 3, bc4, 8);
    std::vector<TRGB> palette(g.PaletteColors(), g.PaletteColors() + g.PaletteCount());
    g.ScanLine(0)[2] = std::uint8_t((g.ScanLine(0)[2] & 0xF0) | 0x0A);  // pad nibble after pixel 4
    g.ScanLine(0)[3] = 0x5C;                                          // pad byte
    const std::uint32_t first = g.GetPixel(0, 0), last = g.GetPixel(4, 0);
    g.MirrorHorizontal();
    EXPECT_EQ(g.GetPixel(4, 0), first);
    EXPECT_EQ(g.GetPixel(0, 0), last);
    EXPECT_EQ(g.ScanLine(0)[2] & 0x0F, 0x0A);
    EXPECT_EQ(g.ScanLine(0)[3], 0x5C);
    EXPECT_EQ(std::vector<TRGB>(g.PaletteColors(), g.PaletteColors() + g.PaletteCount()), palette);
}

TEST(Mirror, EventsAbortAndEmptyImages)
{
    {
        // One column wide: nothing moves, every event still fires.
        TPixelGraphic g, before;
        FillRandom(g, 1, 3, bc24, 1);
        Copy(before, g);
        TProgressLog log;
        log.Attach(g);
        g.MirrorHorizontal();
        EXPECT_EQ(log.events, log.Expected(3, 2));
        EXPECT_TRUE(SamePixels(g, before));
    }
    {
        TPixelGraphic g, theirs;
        FillRandom(g, 6, 4, bc8, 2);
        FillRandom(theirs, 6, 4, bc8, 2);
        TProgressLog log;
        log.abortAt = 1;
        log.Attach(g);
        g.MirrorHorizontal();
        EXPECT_EQ(log.events, (std::vector<std::string>{"start", "0/3", "1/3", "end", "changed"}));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(g.GetPixel(x, y), theirs.GetPixel(5 - x, y));
        for (int y = 2; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(g.GetPixel(x, y), theirs.GetPixel(x, y));
    }
    for (const TBitCount format : {bc1, bc4, bc24})
        for (const int h : {5, 4}) {
            // Stopped after column 2: columns 0..2 are exchanged, the others not.
            TPixelGraphic g, theirs;
            FillRandom(g, 11, h, format, 3);
            FillRandom(theirs, 11, h, format, 3);
            TProgressLog log;
            log.abortAt = 2;
            log.Attach(g);
            g.MirrorVertical();
            EXPECT_EQ(log.events, (std::vector<std::string>{"start", "0/10", "1/10", "2/10", "end", "changed"}));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < 11; ++x)
                    ASSERT_EQ(g.GetPixel(x, y), theirs.GetPixel(x, x <= 2 ? h - 1 - y : y)) << x << "," << y;
        }
    {
        // A handler that fails at column 1 leaves columns 0 and 1 exchanged.
        TPixelGraphic g, theirs;
        FillRandom(g, 4, 3, bc24, 4);
        FillRandom(theirs, 4, 3, bc24, 4);
        TProgressLog log;
        log.throwAt = 1;
        log.Attach(g);
        EXPECT_THROW(g.MirrorVertical(), EPixelGraphic);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(g.GetPixel(x, y), theirs.GetPixel(x, x <= 1 ? 2 - y : y));
    }
    {
        TPixelGraphic empty;
        TProgressLog log;
        log.Attach(empty);
        empty.MirrorHorizontal();
        empty.MirrorVertical();
        EXPECT_TRUE(log.events.empty());
    }
}

// ---- rotation ---------------------------------------------------------------------------------

namespace {

// The converter's three rotations, with the target made 24-bit first.
void JobRotate(const TPixelGraphic& source, TPixelGraphic& target, int rotation)
{
    const int w = source.Width(), h = source.Height();
    const int ew = w % 2 == 0, eh = h % 2 == 0;
    switch (rotation) {
    case 180:
        target.SetSize(w, h, bc24);
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, w / 2 - ew, h / 2 - eh, 180);
        break;
    case -90:
        target.SetSize(h, w, bc24);
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2, w / 2 - ew, -90);
        break;
    default:
        target.SetSize(h, w, bc24);
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2 - eh, w / 2, 90);
        break;
    }
}

}  // namespace

TEST(Rotate, ConverterRotationsMapEveryPixel)
{
    const std::pair<int, int> sizes[] = {{3, 2}, {4, 2}, {2, 3}, {1, 1}, {1, 5}, {5, 4}, {37, 70}, {70, 37}, {64, 65}};
    for (const TBitCount format : {bc24, bc8, bc4, bc1})
        for (const auto& [w, h] : sizes)
            for (const int rotation : {180, -90, 90}) {
                TPixelGraphic source, target;
                FillRandom(source, w, h, format, std::uint32_t(w * 7 + h));
                target.SetSize(rotation == 180 ? w : h, rotation == 180 ? h : w, bc24);
                target.SetBackGroundColor(Rgb(1, 2, 3));
                JobRotate(source, target, rotation);
                for (int y = 0; y < target.Height(); ++y)
                    for (int x = 0; x < target.Width(); ++x) {
                        const int sx = rotation == 180 ? w - 1 - x : rotation == -90 ? w - 1 - y : y;
                        const int sy = rotation == 180 ? h - 1 - y : rotation == -90 ? x : h - 1 - x;
                        ASSERT_EQ(target.GetPixel(x, y), source.GetColor(sx, sy))
                            << w << "x" << h << " by " << rotation << " at " << x << "," << y;
                    }
            }
}

// Half turns go through row kernels for 24-bit and gray sources: every width
// around their 16-pixel steps and alignment heads, and a picture large enough
// that the target is written past the cache.
TEST(Rotate, HalfTurnRowKernelsMapEveryPixel)
{
    const std::pair<int, int> sizes[] = {{15, 3}, {16, 2}, {17, 3}, {18, 2}, {19, 1}, {33, 2}, {47, 3}, {50, 2},
                                         {1700, 1000}};
    for (const bool gray : {false, true})
        for (const auto& [w, h] : sizes) {
            TPixelGraphic source, target;
            FillRandom(source, w, h, gray ? bc8 : bc24, std::uint32_t(w + h));
            if (gray)
                source.SetPaletteIdent(pGray256);
            JobRotate(source, target, 180);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(target.GetPixel(x, y), source.GetColor(w - 1 - x, h - 1 - y))
                        << w << "x" << h << (gray ? " gray" : " bgr") << " at " << x << "," << y;
        }
}

TEST(Rotate, SmallCasesByHand)
{
    // 3 x 2, pixel values 0..5 row by row.
    TPixelGraphic source;
    source.SetSize(3, 2, bc24);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            source.SetPixel(x, y, TRGB(y * 3 + x));
    TPixelGraphic target;
    JobRotate(source, target, 180);
    EXPECT_EQ(target.GetPixel(2, 1), 0u);
    EXPECT_EQ(target.GetPixel(0, 0), 5u);
    JobRotate(source, target, -90);
    ASSERT_EQ(target.Width(), 2);
    ASSERT_EQ(target.Height(), 3);
    // Top row: the source's right column read top to bottom.
    EXPECT_EQ(target.GetPixel(0, 0), 2u);
    EXPECT_EQ(target.GetPixel(1, 0), 5u);
    JobRotate(source, target, 90);
    // Top row: the source's left column read bottom to top.
    EXPECT_EQ(target.GetPixel(0, 0), 3u);
    EXPECT_EQ(target.GetPixel(1, 0), 0u);
    EXPECT_EQ(target.RotateInterpolation(), 1) << "restored after a multiple of 90";
}

TEST(Rotate, MatchesPerPixelReference)
{
    std::mt19937 random(77);
    const long double angles[] = {0, 90, -90, 180, 270, 360, 450, -180, 45, 30.5L, -123.25L, 7, 179.9L, 89.999L};
    int n = 0;
    for (const TBitCount sourceFormat : {bc24, bc8, bc4, bc1})
        for (int kind = 0; kind < kTargetKinds; ++kind)
            for (const long double angle : angles) {
                const std::uint32_t seed = random();
                const bool dither = (n++ % 3) != 0;
                const int sw = 1 + int(random() % 19), sh = 1 + int(random() % 13);
                const int tw = 1 + int(random() % 21), th = 1 + int(random() % 15);
                TPixelGraphic source, mine, theirs;
                FillRandom(source, sw, sh, sourceFormat, seed);
                SetUpTarget(mine, tw, th, kind, dither, seed);
                SetUpTarget(theirs, tw, th, kind, dither, seed);
                // A rectangle and pivots that are not always inside either image.
                const int left = int(random() % 5) - 2, top = int(random() % 5) - 2;
                const int rw = int(random() % (sw + 3)), rh = int(random() % (sh + 3));
                const int scx = int(random() % (sw + 2)) - 1, scy = int(random() % (sh + 2)) - 1;
                const int dcx = int(random() % (tw + 4)) - 2, dcy = int(random() % (th + 4)) - 2;
                mine.Rotate(source, left, top, rw, rh, scx, scy, dcx, dcy, angle);
                ref::Rotate(theirs, source, left, top, rw, rh, scx, scy, dcx, dcy, angle);
                std::string why;
                ASSERT_TRUE(SamePixels(mine, theirs, &why))
                    << why << ": angle " << double(angle) << " kind " << kind << " from bc"
                    << TPixelGraphic::BitCountNumOf(sourceFormat);
            }
}

TEST(Rotate, LargerQuarterTurnsMatchReference)
{
    // Many 32-row blocks, odd sizes, pivots off centre, palette targets with dithering.
    for (const long double angle : {90.0L, -90.0L, 180.0L, 0.0L})
        for (const int kind : {0, 3, 9}) {
            TPixelGraphic source, mine, theirs;
            FillRandom(source, 83, 71, angle == 180 ? bc4 : bc24, 5);
            SetUpTarget(mine, 75, 90, kind, true, 6);
            SetUpTarget(theirs, 75, 90, kind, true, 6);
            mine.Rotate(source, 3, -4, 70, 80, 40, 33, 30, 41, angle);
            ref::Rotate(theirs, source, 3, -4, 70, 80, 40, 33, 30, 41, angle);
            std::string why;
            EXPECT_TRUE(SamePixels(mine, theirs, &why)) << why << " angle " << double(angle) << " kind " << kind;
        }
}

TEST(Rotate, QuarterTurnsSpanningManyTilesMatchReference)
{
    // Sizes that leave odd remainders after blocks of 64 and 512 rows and
    // tiles of 64 columns, one of them with rows that have no padding; with a progress handler the rows
    // are staged, without one a 24-bit target is written in place.
    // 8-bit gray pictures take a path of their own.
    const std::pair<int, int> sizes[] = {{150, 203}, {200, 129}, {601, 67}};
    const std::pair<TBitCount, bool> formats[] = {{bc24, false}, {bc8, false}, {bc8, true}, {bc4, false}, {bc1, false}};
    for (const auto& [format, gray] : formats)
        for (const auto& [w, h] : sizes)
            for (const int rotation : {90, -90, 180})
                for (const bool watched : {false, true}) {
                    TPixelGraphic source, mine, theirs;
                    FillRandom(source, w, h, format, std::uint32_t(w + h + rotation));
                    if (gray)
                        source.SetPaletteIdent(pGray256);
                    const int tw = rotation == 180 ? w : h, th = rotation == 180 ? h : w;
                    mine.SetSize(tw, th, bc24);
                    theirs.SetSize(tw, th, bc24);
                    int events = 0;
                    if (watched)
                        mine.SetOnProgress([&events](TObject*, int, int, bool&) { ++events; });
                    JobRotate(source, mine, rotation);
                    const int ew = w % 2 == 0, eh = h % 2 == 0;
                    if (rotation == 180)
                        ref::Rotate(theirs, source, 0, 0, w, h, w / 2, h / 2, w / 2 - ew, h / 2 - eh, 180);
                    else if (rotation == -90)
                        ref::Rotate(theirs, source, 0, 0, w, h, w / 2, h / 2, h / 2, w / 2 - ew, -90);
                    else
                        ref::Rotate(theirs, source, 0, 0, w, h, w / 2, h / 2, h / 2 - eh, w / 2, 90);
                    std::string why;
                    EXPECT_TRUE(SamePixels(mine, theirs, &why))
                        << why << ": " << w << "x" << h << " bc" << TPixelGraphic::BitCountNumOf(format)
                        << (gray ? " gray" : "") << " by "
                        << rotation << (watched ? " watched" : "");
                    EXPECT_EQ(events, watched ? th : 0);
                }
}

TEST(Rotate, BilinearEdgesBlendWithTheBackground)
{
    TPixelGraphic source;
    source.SetSize(10, 10, bc24);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            source.SetPixel(x, y, Rgb(255, 255, 255));
    TPixelGraphic target;
    target.SetSize(20, 20, bc24);  // black
    target.Rotate(source, 0, 0, 10, 10, 5, 5, 10, 10, 45);
    EXPECT_EQ(target.GetPixel(0, 0), 0u) << "corners outside the turned square keep the background";
    EXPECT_EQ(target.GetPixel(19, 19), 0u);
    EXPECT_EQ(target.GetPixel(10, 10), Rgb(255, 255, 255));
    int blended = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const int r = RedOf(target.GetPixel(x, y));
            blended += r > 0 && r < 255;
            EXPECT_EQ(target.GetPixel(x, y), Rgb(r, r, r));
        }
    EXPECT_GT(blended, 20) << "the edge pixels mix white with the black they replace";
    // The same against a gray background gives different edge values.
    TPixelGraphic gray;
    gray.SetSize(20, 20, bc24);
    gray.SetBackGroundColor(Rgb(100, 100, 100));
    gray.Clear();
    gray.Rotate(source, 0, 0, 10, 10, 5, 5, 10, 10, 45);
    int differing = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            differing += gray.GetPixel(x, y) != target.GetPixel(x, y) && RedOf(gray.GetPixel(x, y)) > 100;
    EXPECT_GT(differing, 20);
    EXPECT_EQ(gray.GetPixel(0, 0), Rgb(100, 100, 100));
}

TEST(Rotate, EventsAbortAndFailures)
{
    TPixelGraphic source;
    FillRandom(source, 6, 4, bc24, 1);
    {
        TPixelGraphic target;
        target.SetSize(6, 4, bc24);
        TProgressLog log;
        log.Attach(target);
        target.Rotate(source, 0, 0, 6, 4, 3, 2, 2, 1, 180);
        EXPECT_EQ(log.events, log.Expected(4, 3));
    }
    {
        TPixelGraphic mine, theirs;
        mine.SetSize(6, 4, bc24);
        theirs.SetSize(6, 4, bc24);
        TProgressLog log;
        log.abortAt = 1;
        log.Attach(mine);
        mine.Rotate(source, 0, 0, 6, 4, 3, 2, 2, 1, 180);
        EXPECT_EQ(log.events, (std::vector<std::string>{"start", "0/3", "1/3", "end", "changed"}));
        theirs.Rotate(source, 0, 0, 6, 4, 3, 2, 2, 1, 180);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(mine.GetPixel(x, y), y < 2 ? theirs.GetPixel(x, y) : 0u);
    }
    {
        // Entirely left of the target: no event at all.
        TPixelGraphic target;
        target.SetSize(6, 4, bc24);
        TProgressLog log;
        log.Attach(target);
        target.Rotate(source, 0, 0, 6, 4, 3, 2, -20, 1, 30);
        EXPECT_TRUE(log.events.empty());
    }
    {
        TPixelGraphic target;
        target.SetSize(6, 4, bc8);
        target.SetPaletteIdent(pNone);
        EXPECT_THROW(target.Rotate(source, 0, 0, 6, 4, 3, 2, 3, 2, 90), EPGNoPalette);
        EXPECT_EQ(target.RotateInterpolation(), 1);
        EXPECT_TRUE(target.ColorState().ErrorRowCurrent.empty());
    }
    {
        // A source value outside its palette fails where the reference fails.
        TPixelGraphic bad;
        FillRandom(bad, 6, 4, bc8, 2);
        bad.SetPaletteCount(30);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                bad.SetPixel(x, y, std::uint32_t(x + y));
        bad.SetPixel(4, 2, 77);
        for (const long double angle : {90.0L, 33.0L, 180.0L})
            for (const int kind : {3, 0}) {
                TPixelGraphic mine, theirs;
                SetUpTarget(mine, 7, 7, kind, true, 1);
                SetUpTarget(theirs, 7, 7, kind, true, 1);
                EXPECT_THROW(mine.Rotate(bad, 0, 0, 6, 4, 3, 2, 3, 3, angle), EPGInvalidPaletteIndex);
                EXPECT_THROW(ref::Rotate(theirs, bad, 0, 0, 6, 4, 3, 2, 3, 3, angle), EPGInvalidPaletteIndex);
                std::string why;
                EXPECT_TRUE(SamePixels(mine, theirs, &why)) << why << " angle " << double(angle) << " kind " << kind;
            }
    }
}

TEST(Rotate, SourceThatIsTheTarget)
{
    for (const long double angle : {90.0L, 20.0L}) {
        TPixelGraphic mine, theirs;
        FillRandom(mine, 9, 9, bc24, 3);
        FillRandom(theirs, 9, 9, bc24, 3);
        mine.Rotate(mine, 0, 0, 9, 9, 4, 4, 4, 4, angle);
        ref::Rotate(theirs, theirs, 0, 0, 9, 9, 4, 4, 4, 4, angle);
        std::string why;
        EXPECT_TRUE(SamePixels(mine, theirs, &why)) << why;
    }
}

// ---- resampling copy --------------------------------------------------------------------------

namespace {

void Row(TPixelGraphic& g, const std::vector<int>& grays)
{
    g.SetSize(int(grays.size()), 1, bc24);
    for (int x = 0; x < int(grays.size()); ++x)
        g.SetPixel(x, 0, Rgb(grays[std::size_t(x)], grays[std::size_t(x)], grays[std::size_t(x)]));
}

std::vector<int> Grays(const TPixelGraphic& g)
{
    std::vector<int> v;
    for (int x = 0; x < g.Width(); ++x)
        v.push_back(RedOf(g.GetPixel(x, 0)));
    return v;
}

}  // namespace

TEST(StretchCopyRect, WeightsByHand)
{
    struct Case {
        TStretchMode mode;
        std::vector<int> source;
        int width;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {smPrecise, {0, 90}, 3, {0, 45, 90}},          // two taps, pulled inside at the right edge
        {smMedium, {0, 90}, 3, {0, 45, 90}},           // area coverage
        {smFast, {0, 90}, 3, {0, 0, 90}},
        {smPrecise, {0, 30, 60, 90}, 3, {7, 45, 82}},  // area coverage, truncated
        {smMedium, {0, 30, 60, 90}, 3, {5, 45, 85}},   // two taps
        {smFast, {0, 30, 60, 90}, 3, {0, 30, 60}},
        {smPrecise, {200}, 3, {200, 200, 200}},
    };
    for (const Case& c : cases) {
        TPixelGraphic source, target;
        Row(source, c.source);
        target.SetSize(c.width, 1, bc24);
        target.SetStretchMode(c.mode);
        target.CopyFrom(source);
        EXPECT_EQ(Grays(target), c.expected) << int(c.mode) << " from " << c.source.size();
    }
}

TEST(StretchCopyRect, OnePixelToThreeByThree)
{
    for (const TStretchMode mode : {smPrecise, smMedium, smFast}) {
        TPixelGraphic source, target;
        source.SetSize(1, 1, bc24);
        source.SetPixel(0, 0, Rgb(12, 34, 56));
        target.SetSize(3, 3, bc24);
        target.SetStretchMode(mode);
        target.StretchCopyRect(0, 0, 3, 3, source, 0, 0, 1, 1);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(target.GetPixel(x, y), Rgb(12, 34, 56)) << int(mode) << " " << x << "," << y;
    }
}

TEST(StretchCopyRect, EqualSizesAreCopyRect)
{
    for (const TBitCount format : {bc24, bc8, bc1})
        for (const int kind : {0, 3, 9}) {
            TPixelGraphic source, a, b;
            FillRandom(source, 12, 7, format, 2);
            SetUpTarget(a, 10, 9, kind, true, 3);
            SetUpTarget(b, 10, 9, kind, true, 3);
            a.StretchCopyRect(-2, 1, 9, 6, source, 1, -1, 9, 6);
            b.CopyRect(-2, 1, source, 1, -1, 9, 6);
            std::string why;
            EXPECT_TRUE(SamePixels(a, b, &why)) << why;
        }
}

TEST(StretchCopyRect, MatchesPerPixelReference)
{
    std::mt19937 random(5);
    int n = 0;
    for (const TBitCount sourceFormat : {bc24, bc8, bc4, bc1})
        for (int kind = 0; kind < kTargetKinds; ++kind)
            for (const TStretchMode mode : {smFast, smMedium, smPrecise})
                for (int variant = 0; variant < 4; ++variant) {
                    const std::uint32_t seed = random();
                    const int sw = 1 + int(random() % 25), sh = 1 + int(random() % 17);
                    const int tw = 1 + int(random() % 25), th = 1 + int(random() % 17);
                    TPixelGraphic source, mine, theirs;
                    FillRandom(source, sw, sh, sourceFormat, seed);
                    const bool dither = (n++ % 4) != 0;
                    SetUpTarget(mine, tw, th, kind, dither, seed);
                    SetUpTarget(theirs, tw, th, kind, dither, seed);
                    mine.SetStretchMode(mode);
                    theirs.SetStretchMode(mode);
                    int dx = 0, dy = 0, dw = tw, dh = th, sx = 0, sy = 0, rw = sw, rh = sh;
                    if (variant > 0) {
                        dx = int(random() % 7) - 3;
                        dy = int(random() % 7) - 3;
                        dw = 1 + int(random() % 30);
                        dh = 1 + int(random() % 20);
                        sx = int(random() % 7) - 3;
                        sy = int(random() % 7) - 3;
                        rw = 1 + int(random() % 30);
                        rh = 1 + int(random() % 20);
                        if (variant == 1)
                            rh = dh;  // one axis at equal size
                    }
                    mine.StretchCopyRect(dx, dy, dw, dh, source, sx, sy, rw, rh);
                    ref::StretchCopyRect(theirs, dx, dy, dw, dh, source, sx, sy, rw, rh);
                    std::string why;
                    ASSERT_TRUE(SamePixels(mine, theirs, &why))
                        << why << ": mode " << int(mode) << " kind " << kind << " variant " << variant << " from bc"
                        << TPixelGraphic::BitCountNumOf(sourceFormat);
                }
}

TEST(StretchCopyRect, CopyFromOfDifferentSizes)
{
    for (const TStretchMode mode : {smFast, smMedium, smPrecise})
        for (const auto& [w, h] : {std::pair{200, 150}, std::pair{57, 31}, std::pair{23, 301}}) {
            TPixelGraphic source, mine, theirs;
            FillRandom(source, 101, 77, bc24, 9);
            SetUpTarget(mine, w, h, 9, true, 1);
            SetUpTarget(theirs, w, h, 9, true, 1);
            mine.SetStretchMode(mode);
            theirs.SetStretchMode(mode);
            mine.CopyFrom(source);
            ref::StretchCopyRect(theirs, 0, 0, w, h, source, 0, 0, 101, 77);
            std::string why;
            EXPECT_TRUE(SamePixels(mine, theirs, &why)) << why;
        }
}

TEST(StretchCopyRect, EventsAbortAndSkippedRows)
{
    TPixelGraphic source;
    FillRandom(source, 4, 4, bc24, 1);
    {
        // Rows 0..5 of the target; the source rectangle starts one row above
        // the source, so rows 0 and 1 read outside and are skipped without an event.
        TPixelGraphic target;
        target.SetSize(8, 6, bc24);
        TProgressLog log;
        log.Attach(target);
        target.SetStretchMode(smFast);
        target.StretchCopyRect(0, 0, 8, 6, source, 0, -1, 4, 5);
        EXPECT_EQ(log.events,
                  (std::vector<std::string>{"start", "2/5", "3/5", "4/5", "5/5", "end", "changed"}));
    }
    {
        TPixelGraphic target, reference;
        target.SetSize(8, 8, bc24);
        reference.SetSize(8, 8, bc24);
        TProgressLog log;
        log.abortAt = 2;
        log.Attach(target);
        target.CopyFrom(source);
        reference.CopyFrom(source);
        EXPECT_EQ(log.events, (std::vector<std::string>{"start", "0/7", "1/7", "2/7", "end", "changed"}));
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                EXPECT_EQ(target.GetPixel(x, y), y <= 2 ? reference.GetPixel(x, y) : 0u);
    }
    {
        TPixelGraphic target, empty;
        target.SetSize(8, 8, bc24);
        TProgressLog log;
        log.Attach(target);
        target.CopyFrom(empty);
        target.StretchCopyRect(0, 0, 0, 5, source, 0, 0, 4, 4);
        target.StretchCopyRect(0, 0, 5, 5, source, 0, 0, 4, -4);
        EXPECT_TRUE(log.events.empty());
    }
    {
        // A source value outside its palette fails where the reference fails.
        TPixelGraphic bad;
        FillRandom(bad, 5, 5, bc4, 2);
        bad.SetPaletteCount(6);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x)
                bad.SetPixel(x, y, std::uint32_t((x + y) % 6));
        bad.SetPixel(3, 3, 12);
        TPixelGraphic mine, theirs;
        SetUpTarget(mine, 9, 9, 3, true, 1);
        SetUpTarget(theirs, 9, 9, 3, true, 1);
        EXPECT_THROW(mine.CopyFrom(bad), EPGInvalidPaletteIndex);
        EXPECT_THROW(ref::StretchCopyRect(theirs, 0, 0, 9, 9, bad, 0, 0, 5, 5), EPGInvalidPaletteIndex);
        std::string why;
        EXPECT_TRUE(SamePixels(mine, theirs, &why)) << why;
        EXPECT_TRUE(mine.ColorState().ErrorRowCurrent.empty());
    }
}

TEST(StretchCopyRect, SourceThatIsTheTarget)
{
    TPixelGraphic mine, theirs;
    FillRandom(mine, 12, 10, bc8, 4);
    FillRandom(theirs, 12, 10, bc8, 4);
    mine.StretchCopyRect(2, 1, 9, 8, mine, 0, 0, 6, 5);
    ref::StretchCopyRect(theirs, 2, 1, 9, 8, theirs, 0, 0, 6, 5);
    std::string why;
    EXPECT_TRUE(SamePixels(mine, theirs, &why)) << why;
}

// Arguments far outside both images select nothing and touch nothing.
TEST(Geometry, ExtremeArgumentsAreHarmless)
{
    constexpr int kMax = 2147483647, kMin = -2147483647 - 1;
    TPixelGraphic source, target, before;
    FillRandom(source, 7, 5, bc8, 1);
    FillRandom(target, 6, 4, bc4, 2);
    before.Assign(&target);
    target.CopyRect(kMin, kMin, source, kMax, kMax, kMax, kMax);
    target.CopyRect(kMax, 0, source, kMin, 0, kMax, 3);
    target.StretchCopyRect(0, 0, kMax, kMax, source, 0, 0, 7, 5);
    target.StretchCopyRect(kMin, kMin, 3, 3, source, kMin, kMax, 7, 5);
    target.StretchCopyRect(0, 0, 6, 4, source, kMax, kMax, kMax, kMax);
    target.Rotate(source, kMin, kMin, kMax, kMax, kMax, kMin, kMin, kMax, 90);
    target.Rotate(source, 0, 0, 7, 5, 3, 2, kMax, kMax, 45);
    target.Rotate(source, 0, 0, 7, 5, 3, 2, 2, 2, std::numeric_limits<long double>::quiet_NaN());
    target.Rotate(source, 0, 0, 7, 5, 3, 2, 2, 2, std::numeric_limits<long double>::infinity());
    std::string why;
    EXPECT_TRUE(SamePixels(target, before, &why)) << why;
    // A rectangle of the largest size copies just the overlap.
    TPixelGraphic overlap;
    overlap.Assign(&before);
    target.CopyRect(0, 0, source, 0, 0, kMax, kMax);
    overlap.CopyRect(0, 0, source, 0, 0, 6, 4);
    EXPECT_TRUE(SamePixels(target, overlap, &why)) << why;
}

// A failing progress handler still closes the bracket it opened, and the image
// reports no change; an end handler that fails on a normal exit fails the call.
TEST(ImageOperations, FailureInsideStillEndsProgress)
{
    using TOperation = std::function<void(TPixelGraphic& target, const TPixelGraphic& source)>;
    const struct {
        const char* name;
        TBitCount format;
        TOperation run;
    } cases[] = {
        {"MirrorHorizontal", bc4, [](TPixelGraphic& t, const TPixelGraphic&) { t.MirrorHorizontal(); }},
        {"MirrorVertical", bc1, [](TPixelGraphic& t, const TPixelGraphic&) { t.MirrorVertical(); }},
        {"CopyRect", bc8, [](TPixelGraphic& t, const TPixelGraphic& s) { t.CopyRect(0, 0, s, 0, 0, 8, 6); }},
        {"CopyRect dithered", bc4, [](TPixelGraphic& t, const TPixelGraphic& s) { t.CopyFrom(s); }},
        {"Rotate quarter", bc24, [](TPixelGraphic& t, const TPixelGraphic& s) { t.Rotate(s, 0, 0, 8, 6, 4, 3, 4, 3, 90); }},
        {"Rotate bilinear", bc8, [](TPixelGraphic& t, const TPixelGraphic& s) { t.Rotate(s, 0, 0, 8, 6, 4, 3, 4, 3, 30); }},
        {"StretchCopyRect", bc24,
         [](TPixelGraphic& t, const TPixelGraphic& s) { t.StretchCopyRect(0, 0, 8, 6, s, 0, 0, 4, 3); }},
    };
    TPixelGraphic source;
    FillRandom(source, 8, 6, bc24, 7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPixelGraphic target;
        FillRandom(target, 8, 6, c.format, 8);
        TProgressLog log;
        log.throwAt = 1;
        log.Attach(target);
        EXPECT_THROW(c.run(target, source), EPixelGraphic);
        ASSERT_GE(log.events.size(), 3u);
        EXPECT_EQ(log.events.front(), "start");
        EXPECT_EQ(log.events.back(), "end");
        EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "changed"), 0);

        TPixelGraphic again;
        FillRandom(again, 8, 6, c.format, 8);
        again.SetOnProgressEnd([](TObject*) { throw EPixelGraphic("end fails"); });
        EXPECT_THROW(c.run(again, source), EPixelGraphic);
    }
}
