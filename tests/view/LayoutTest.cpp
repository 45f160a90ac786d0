// Layout arithmetic of the picture control on plain numbers. Expected values are
// worked out by hand from the layout rules; hsb and vsb differ so that a mixed-up
// scroll bar shows.
#include "view/ViewLayout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace rastova {
namespace {

constexpr int kHsb = 16, kVsb = 18;

struct TStretchCase {
    const char* what;
    TStretch stretch;
    int pw, ph, availW, availH;
    long double zoomFactor;
    int w, h;
    long double zoom;
};

const TStretchCase kStretchCases[] = {
    {"never keeps the picture", sNeverKAR, 1000, 500, 400, 400, 1, 1000, 500, 1},
    {"always fills both axes", sAlways, 300, 200, 400, 400, 1, 400, 400, -1},
    {"always-KAR height-bound", sAlwaysKAR, 200, 200, 400, 300, 1, 300, 300, 1.5L},
    {"always-KAR width-bound", sAlwaysKAR, 1000, 500, 400, 400, 1, 400, 200, 0.4L},
    {"always-KAR tie is height-bound", sAlwaysKAR, 400, 200, 200, 100, 1, 200, 100, 0.5L},
    {"shrink both", sShrink, 500, 500, 400, 300, 1, 400, 300, -1},
    {"shrink width only", sShrink, 500, 200, 400, 300, 1, 400, 200, -1},
    {"shrink height only", sShrink, 300, 500, 400, 300, 1, 300, 300, -1},
    {"shrink at exactly the area", sShrink, 400, 300, 400, 300, 1, 400, 300, 1},
    {"shrink-KAR worked case", sShrinkKAR, 1000, 500, 400, 400, 1, 400, 200, 0.4L},
    {"shrink-KAR small picture", sShrinkKAR, 300, 200, 400, 400, 1, 300, 200, 1},
    {"shrink-KAR equal size", sShrinkKAR, 400, 400, 400, 400, 1, 400, 400, 1},
    {"shrink-KAR one pixel too high truncates", sShrinkKAR, 300, 401, 400, 400, 1, 299, 400, 400.0L / 401},
    {"enlarge both", sEnlarge, 100, 50, 400, 300, 1, 400, 300, -1},
    {"enlarge wide picture leaves room for hsb", sEnlarge, 500, 50, 400, 300, 1, 500, 284, -1},
    {"enlarge tall picture leaves room for vsb", sEnlarge, 50, 500, 400, 300, 1, 382, 500, -1},
    {"enlarge nothing to do", sEnlarge, 500, 400, 400, 300, 1, 500, 400, 1},
    {"enlarge-KAR smaller both ways", sEnlargeKAR, 100, 50, 400, 300, 1, 400, 200, 4},
    {"enlarge-KAR equal height is not smaller", sEnlargeKAR, 100, 300, 400, 300, 1, 100, 300, 1},
    {"edge fit wide: height to availH - hsb", sAlwaysLongerEdgeKAR, 1000, 500, 400, 400, 1, 768, 384, 0.768L},
    {"edge fit tall: width to availW - vsb", sAlwaysLongerEdgeKAR, 500, 1000, 400, 400, 1, 382, 764, 0.764L},
    {"edge fit keeps a full fit", sAlwaysLongerEdgeKAR, 400, 400, 400, 400, 1, 400, 400, 1},
    {"shrink-edge: wider and taller than availH - hsb", sShrinkLongerEdgeKAR, 1000, 395, 400, 400, 1, 972, 384,
     384.0L / 395},
    {"shrink-edge: height within availH - hsb", sShrinkLongerEdgeKAR, 1000, 380, 400, 400, 1, 1000, 380, 1},
    {"shrink-edge: wider than availW - vsb and taller", sShrinkLongerEdgeKAR, 390, 1000, 400, 400, 1, 382, 979,
     382.0L / 390},
    {"shrink-edge: width within availW - vsb", sShrinkLongerEdgeKAR, 380, 1000, 400, 400, 1, 380, 1000, 1},
    {"enlarge-shrink-edge enlarges", sEnlargeShrinkLongerEdgeKAR, 100, 50, 400, 300, 1, 400, 200, 4},
    {"enlarge-shrink-edge shrinks", sEnlargeShrinkLongerEdgeKAR, 1000, 500, 400, 400, 1, 768, 384, 0.768L},
    {"enlarge-shrink-edge leaves between", sEnlargeShrinkLongerEdgeKAR, 400, 380, 400, 400, 1, 400, 380, 1},
    {"enlarge-edge: one side smaller", sEnlargeLongerEdgeKAR, 500, 100, 400, 400, 1, 1920, 384, 3.84L},
    {"enlarge-edge: both smaller", sEnlargeLongerEdgeKAR, 100, 50, 400, 400, 1, 768, 384, 7.68L},
    {"enlarge-edge: neither smaller", sEnlargeLongerEdgeKAR, 500, 500, 400, 400, 1, 500, 500, 1},
    {"zoom halves go to even", sZoomKAR, 101, 51, 400, 400, 0.5L, 50, 26, 0.5L},
    {"zoom 1.5 halves go to even", sZoomKAR, 101, 51, 400, 400, 1.5L, 152, 76, 1.5L},
    {"zoom 0 shows the picture size", sZoomKAR, 101, 51, 400, 400, 0, 101, 51, 1},
    {"negative zoom shows the picture size", sZoomKAR, 101, 51, 400, 400, -2, 101, 51, 1},
    {"no available area", sAlways, 300, 200, 0, 400, 1, 300, 200, 1},
    {"no picture", sAlwaysKAR, 0, 0, 400, 400, 1, 0, 0, 1},
};

class StretchTest : public testing::TestWithParam<TStretchCase> {};

TEST_P(StretchTest, SizeAndZoom)
{
    const TStretchCase& c = GetParam();
    const TStretchResult r = StretchPicture(c.stretch, c.pw, c.ph, c.availW, c.availH, kHsb, kVsb, c.zoomFactor);
    EXPECT_EQ(r.width, c.w) << c.what;
    EXPECT_EQ(r.height, c.h) << c.what;
    EXPECT_NEAR(double(r.zoom), double(c.zoom), 1e-12) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Modes, StretchTest, testing::ValuesIn(kStretchCases));

TEST(Layout, CentringLeavesRoomForTheBarsItBrings)
{
    struct TCase {
        int w, h, availW, availH, left, top;
        bool horz, vert;
    } cases[] = {
        {300, 200, 400, 400, 50, 100, false, false},  // worked case
        {600, 200, 400, 400, 0, 92, true, false},     // hsb taken before centring vertically
        {600, 390, 400, 400, 0, 0, true, true},       // the horizontal bar brings the vertical
        {395, 600, 400, 400, 0, 0, true, true},       // second pass: the vertical brings the horizontal
        {380, 600, 400, 400, 1, 0, false, true},      // fits beside the vertical bar
        {400, 400, 400, 400, 0, 0, false, false},     // exact fit, no bars
    };
    for (const TCase& c : cases) {
        const TCentring r = CenterPictureBox(c.w, c.h, c.availW, c.availH, kHsb, kVsb);
        EXPECT_EQ(r.left, c.left) << c.w << "x" << c.h;
        EXPECT_EQ(r.top, c.top) << c.w << "x" << c.h;
        EXPECT_EQ(r.horzBar, c.horz) << c.w << "x" << c.h;
        EXPECT_EQ(r.vertBar, c.vert) << c.w << "x" << c.h;
    }
}

TEST(Layout, AutoSizeAddsBarsThenClamps)
{
    const int big = 2147483647;
    struct TCase {
        int pw, ph, b, minW, minH, maxW, maxH, w, h;
    } cases[] = {
        {300, 100, 0, 0, 0, 200, big, 200, 100 + kHsb},  // worked case
        {300, 100, 2, 0, 0, 200, big, 200, 104 + kHsb},
        {300, 300, 0, 0, 0, 200, 310, 200, 310},         // both bars, both clamped
        {100, 300, 0, 0, 0, big, 200, 100 + kVsb, 200},
        {10, 10, 1, 50, 60, big, big, 50, 60},
        {big - 10, 10, 0, 0, 0, big, big, big - 10, 10},  // no overflow near the limit
    };
    for (const TCase& c : cases) {
        const TViewSize s = AutoSizeFor(c.pw, c.ph, c.b, kHsb, kVsb, c.minW, c.minH, c.maxW, c.maxH);
        EXPECT_EQ(s, (TViewSize{c.w, c.h})) << c.pw << "x" << c.ph;
    }
}

TEST(Layout, TileRangesCoverTheClient)
{
    struct TCase {
        int low, high, client, first, last;
    } cases[] = {
        {10, 110, 500, -1, 4}, {0, 100, 100, 0, 0}, {-50, 50, 300, 0, 3}, {100, 200, 200, -1, 0},
        {250, 300, 300, -5, 0}, {0, 0, 300, 0, 0},
    };
    for (const TCase& c : cases) {
        const TTileRange r = TileRange(c.low, c.high, c.client);
        EXPECT_EQ(r.first, c.first) << c.low << ".." << c.high;
        EXPECT_EQ(r.last, c.last) << c.low << ".." << c.high;
        if (c.high > c.low) {  // the cells really reach both client edges
            EXPECT_LE(c.low + r.first * (c.high - c.low), 0);
            EXPECT_GE(c.high + r.last * (c.high - c.low), c.client);
        }
    }
    for (int index : {-3, -2, -1, 0, 1, 2})
        for (bool flip : {false, true}) {
            const bool odd = index % 2 != 0;
            EXPECT_EQ(TileCellMirrored(index, flip, false), flip);
            EXPECT_EQ(TileCellMirrored(index, flip, true), odd ? !flip : flip);
        }
    EXPECT_TRUE(TilingMirrorsHorizontally(tMirror) && TilingMirrorsVertically(tMirror));
    EXPECT_TRUE(TilingMirrorsHorizontally(tMirrorHorizontal) && !TilingMirrorsVertically(tMirrorHorizontal));
    EXPECT_TRUE(!TilingMirrorsHorizontally(tRepeat) && !TilingMirrorsVertically(tRepeat));
}

TEST(Layout, CoordinateConversions)
{
    EXPECT_EQ(BoxToPicture(50, 1000, 400), 125);
    EXPECT_EQ(BoxToPicture(399, 1000, 400), 997);
    EXPECT_EQ(BoxToPicture(50, 1000, 0), 0);
    EXPECT_EQ(PictureToBox(125, 1000, 400), 50);
    EXPECT_EQ(PictureToBox(999, 1000, 400), 399);
    EXPECT_EQ(PictureToBox(125, 0, 400), 0);
    EXPECT_EQ(BoxToPicture(999, 3000000, 1000), 2997000);  // no 32-bit overflow in the product
}

TEST(Layout, HandlesSurroundTheSelection)
{
    const auto h = SelectionHandles({10, 20, 30, 40});
    const TViewRect expected[8] = {{2, 12, 7, 17},  {18, 12, 23, 17}, {33, 12, 38, 17}, {2, 28, 7, 33},
                                   {33, 28, 38, 33}, {2, 43, 7, 48},  {18, 43, 23, 48}, {33, 43, 38, 48}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(h[i], expected[i]) << "handle " << i;
        EXPECT_EQ(h[i].Width(), 5);
        EXPECT_EQ(h[i].Height(), 5);
    }
}

TEST(Layout, SelectionBrushesAreShiftedStripes)
{
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            int second = 0;
            for (int k = 0; k < 8; ++k) {
                second += SelectionBrushSecondColor(i, k, j);
                // one counter step moves the stripes by one pixel
                EXPECT_EQ(SelectionBrushSecondColor((i + 1) % 8, (k + 1) % 8, j), SelectionBrushSecondColor(i, k, j));
            }
            EXPECT_EQ(second, 4) << "brush " << i << " row " << j;
        }
    EXPECT_FALSE(SelectionBrushSecondColor(0, 0, 0));
    EXPECT_TRUE(SelectionBrushSecondColor(0, 4, 0));
}

TEST(Layout, ClockHands)
{
    struct TCase {
        int stage, percent;
        TClockHands hands;  // at (0, 0)
    } cases[] = {
        {1, 0, {7, 7, 7, 1, 7, 0}},
        {1, 25, {7, 7, 8, 1, 14, 7}},   // hour 6 sin(pi/24) = 0.78
        {1, 50, {7, 7, 9, 1, 7, 14}},   // hour at 15 degrees
        {4, 0, {7, 7, 13, 7, 7, 0}},    // three stages turn the hour hand a quarter
        {7, 0, {7, 7, 7, 13, 7, 0}},
        {1, 75, {7, 7, 9, 1, 0, 7}},    // 6 sin(22.5) = 2.30, 6 cos = 5.54
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ClockHandsAt(0, 0, c.stage, c.percent), c.hands) << c.stage << "/" << c.percent;
    EXPECT_EQ(ClockHandsAt(100, 50, 1, 0), (TClockHands{107, 57, 107, 51, 107, 50}));

    std::array<std::array<int, 2>, 5> at{};
    EXPECT_EQ(ProgressClockPositions({0, 0, 20, 100}, true, at), 0);
    EXPECT_EQ(ProgressClockPositions({0, 0, 21, 21}, true, at), 1);
    EXPECT_EQ(at[0], (std::array<int, 2>{3, 3}));
    EXPECT_EQ(ProgressClockPositions({0, 0, 100, 200}, true, at), 1);
    EXPECT_EQ(ProgressClockPositions({10, 20, 111, 121}, false, at), 1);
    EXPECT_EQ(ProgressClockPositions({10, 20, 111, 121}, true, at), 5);
    EXPECT_EQ(at[0], (std::array<int, 2>{10 + 50 - 7, 20 + 50 - 7}));
    EXPECT_EQ(at[1], (std::array<int, 2>{15, 25}));
    EXPECT_EQ(at[4], (std::array<int, 2>{91, 101}));
}

// What the control prepares, decided from its properties without a widget.
TEST(Layout, PaintChoiceFollowsDisplayStretchAndPalette)
{
    struct TCase {
        const char* what;
        int display, bits;
        TPaletteIdent palette, palette8;
        TStretchMode mode;
        TViewSize box;
        bool reduce, invalid;
        TPaintChoice expected;  // stretched, invalid, usePaint
    };
    const TViewSize picture{40, 30};
    const TCase cases[] = {
        {"true colour as it is", 24, 24, pTrueColor, pSource, smFast, {80, 60}, false, false, {false, false, false}},
        {"resampled to the box", 24, 24, pTrueColor, pSource, smPrecise, {80, 60}, false, false, {true, true, true}},
        {"resampled at its own size", 24, 24, pTrueColor, pSource, smPrecise, {40, 30}, false, false, {false, false, false}},
        {"deep picture, 8-bit display", 8, 24, pTrueColor, pSource, smFast, {40, 30}, false, false, {false, false, true}},
        {"16 colours need pSys16", 4, 4, pGray256, pSource, smFast, {40, 30}, false, false, {false, false, true}},
        {"pSys16 already", 4, 4, pSys16, pSource, smFast, {40, 30}, false, false, {false, false, false}},
        {"8-bit as the source", 8, 8, pGray256, pSource, smFast, {40, 30}, false, false, {false, false, false}},
        {"8-bit to another palette", 8, 8, pGray256, pSys16, smFast, {40, 30}, false, false, {false, false, true}},
        {"reduced on load, settled", 8, 8, pGray256, pSys16, smFast, {40, 30}, true, false, {false, false, false}},
        {"reduced on load, changed", 8, 8, pGray256, pSys16, smFast, {40, 30}, true, true, {false, true, true}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        TPaintWish wish;
        wish.displayBits = c.display;
        wish.box = c.box;
        wish.hasImage = true;
        wish.image = picture;
        wish.imageBits = c.bits;
        wish.imagePalette = c.palette;
        wish.palette8 = c.palette8;
        wish.stretchMode = c.mode;
        wish.reduceOnLoad = c.reduce;
        wish.paintInvalid = c.invalid;
        wish.preparedSize = picture;
        const TPaintChoice choice = ChoosePaint(wish);
        EXPECT_EQ(choice.stretched, c.expected.stretched);
        EXPECT_EQ(choice.invalid, c.expected.invalid);
        EXPECT_EQ(choice.usePaint, c.expected.usePaint);
    }
    EXPECT_FALSE(ChoosePaint(TPaintWish{}).usePaint);  // no picture: the frame only
}

}  // namespace
}  // namespace rastova
