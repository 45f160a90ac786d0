#include "image/PGColorInternal.h"
#include "image/PGColorTables.h"
#include "image/PGExceptions.h"
#include "image/PGPalettes.h"
#include "image/PGraphic.h"
#include "support/TestSupport.h"
#include "tests/image/ConversionReference.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
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

TRGB Hex(std::uint32_t rrggbb)
{
    return Rgb(int(rrggbb >> 16), int(rrggbb >> 8 & 0xFF), int(rrggbb & 0xFF));
}

// Nearest index by exhaustive search, first of equals.
int BruteNearest(const TRGB* palette, int count, TRGB color)
{
    int best = 0, bestDistance = 1 << 30;
    for (int i = 0; i < count; ++i) {
        const int dr = RedOf(palette[i]) - RedOf(color), dg = GreenOf(palette[i]) - GreenOf(color),
                  db = BlueOf(palette[i]) - BlueOf(color);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

TPixelGraphic& WithPalette(TPixelGraphic& image, TBitCount bitCount, TPaletteIdent ident)
{
    image.SetSize(4, 4, bitCount);
    image.SetPaletteIdent(ident);
    return image;
}

}  // namespace

// ---- gray values, standard palettes and their recognition -----------------------------------

TEST(GrayValue, WeightedAndPlainSums)
{
    struct Row {
        TRGB color;
        int weighted, plain;
    };
    const Row rows[] = {
        {Rgb(255, 0, 0), 228, 255},          {Rgb(0, 255, 0), 449, 255}, {Rgb(0, 0, 255), 87, 255},
        {Rgb(255, 255, 255), 765, 765},      {Rgb(0, 0, 0), 0, 0},       {Rgb(128, 128, 128), 384, 384},
        {Rgb(127, 127, 127), 381, 381},      {Rgb(10, 200, 30), 371, 240},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(GrayValue(row.color, true), row.weighted) << std::hex << row.color;
        EXPECT_EQ(GrayValue(row.color, false), row.plain) << std::hex << row.color;
    }
}

// The sixteen colours of the system palette, in its order.
const TRGB kSystem16[16] = {Rgb(0, 0, 0),       Rgb(128, 0, 0),   Rgb(0, 128, 0),   Rgb(128, 128, 0),
                                Rgb(0, 0, 128),     Rgb(128, 0, 128), Rgb(0, 128, 128), Rgb(192, 192, 192),
                                Rgb(128, 128, 128), Rgb(255, 0, 0),   Rgb(0, 255, 0),   Rgb(255, 255, 0),
                                Rgb(0, 0, 255),     Rgb(255, 0, 255), Rgb(0, 255, 255), Rgb(255, 255, 255)};

std::vector<TRGB> PaletteSetBy(TPaletteIdent ident)
{
    TPixelGraphic image;
    image.SetSize(1, 1, bc8);
    image.SetPaletteIdent(ident);
    return std::vector<TRGB>(image.PaletteColors(), image.PaletteColors() + image.PaletteCount());
}

TEST(StandardPalettes, SmallOnesWhole)
{
    EXPECT_EQ(PaletteSetBy(pBlackWhite), (std::vector<TRGB>{Rgb(0, 0, 0), Rgb(255, 255, 255)}));
    EXPECT_EQ(PaletteSetBy(pSysGray4),
              (std::vector<TRGB>{Rgb(0, 0, 0), Rgb(128, 128, 128), Rgb(192, 192, 192), Rgb(255, 255, 255)}));
    EXPECT_EQ(PaletteSetBy(pGray4),
              (std::vector<TRGB>{Rgb(0, 0, 0), Rgb(85, 85, 85), Rgb(170, 170, 170), Rgb(255, 255, 255)}));
    EXPECT_EQ(PaletteSetBy(pSys16), std::vector<TRGB>(std::begin(kSystem16), std::end(kSystem16)));
    EXPECT_TRUE(PaletteSetBy(pNone).empty());
}

// Telling entries of the larger palettes (the steps, the rounding of the 236
// grays, the order of the cube axes), and the shape of each: grays rise
// strictly from black to white, every palette holds distinct colours.
TEST(StandardPalettes, TellingEntriesAndShape)
{
    struct TEntry {
        TPaletteIdent ident;
        int index;
        TRGB color;
    };
    const TEntry entries[] = {
        {pGray16, 1, Rgb(17, 17, 17)},        {pGray16, 8, Rgb(136, 136, 136)},
        {pGray236, 1, Rgb(1, 1, 1)},          {pGray236, 47, Rgb(51, 51, 51)},
        {pGray236, 117, Rgb(127, 127, 127)},  {pGray236, 118, Rgb(128, 128, 128)},
        {pGray236, 234, Rgb(254, 254, 254)},  {pGray256, 200, Rgb(200, 200, 200)},
        {pSpecial125, 1, Rgb(0, 0, 64)},      {pSpecial125, 5, Rgb(0, 64, 0)},
        {pSpecial125, 25, Rgb(64, 0, 0)},     {pSpecial125, 62, Rgb(128, 128, 128)},
        {pSpecial125, 99, Rgb(192, 255, 255)}, {pSpecial216, 1, Rgb(0, 0, 51)},
        {pSpecial216, 6, Rgb(0, 51, 0)},      {pSpecial216, 36, Rgb(51, 0, 0)},
        {pSpecial216, 43, Rgb(51, 51, 51)},   {pSpecial216, 214, Rgb(255, 255, 204)},
    };
    for (const TEntry& e : entries)
        EXPECT_EQ(PaletteSetBy(e.ident).at(std::size_t(e.index)), e.color) << int(e.ident) << " entry " << e.index;

    const struct {
        TPaletteIdent ident;
        std::size_t count;
        bool gray;
    } shapes[] = {{pGray16, 16, true},      {pGray236, 236, true},     {pGray256, 256, true},
                  {pSpecial125, 125, false}, {pSpecial216, 216, false}};
    for (const auto& shape : shapes) {
        const std::vector<TRGB> p = PaletteSetBy(shape.ident);
        ASSERT_EQ(p.size(), shape.count);
        EXPECT_EQ(p.front(), Rgb(0, 0, 0));
        EXPECT_EQ(p.back(), Rgb(255, 255, 255));
        EXPECT_EQ(std::set<TRGB>(p.begin(), p.end()).size(), p.size()) << int(shape.ident);
        for (std::size_t i = 1; shape.gray && i < p.size(); ++i) {
            EXPECT_TRUE(RedOf(p[i]) == GreenOf(p[i]) && GreenOf(p[i]) == BlueOf(p[i])) << i;
            EXPECT_GT(RedOf(p[i]), RedOf(p[i - 1])) << i;
        }
    }
}

// The system colours, then the rest of the five-level cube with the red level
// slowest, then colours of their own.
TEST(StandardPalettes, Special252Order)
{
    const std::array<TRGB, 252>& p = Special252Palette();
    EXPECT_TRUE(std::equal(std::begin(kSystem16), std::end(kSystem16), p.begin()));
    EXPECT_EQ(p[16], Rgb(0, 0, 64));
    EXPECT_EQ(p[17], Rgb(0, 0, 192));
    EXPECT_EQ(p[18], Rgb(0, 64, 0));
    EXPECT_EQ(p[124], Rgb(255, 255, 192));
    EXPECT_EQ(p[125], Rgb(32, 32, 32));
    EXPECT_EQ(p[128], Rgb(224, 224, 224));
    EXPECT_EQ(p[129], Hex(0xFFE0FF));
    EXPECT_EQ(p[147], Hex(0xFFA0C0));
    EXPECT_EQ(p[189], Hex(0xC0A0C0));
    EXPECT_EQ(p[212], Hex(0xE08080));
    EXPECT_EQ(p[218], Hex(0xE060FF));
    EXPECT_EQ(p[246], Hex(0x80C0A0));
    EXPECT_EQ(p[251], Hex(0xE060C0));
    EXPECT_EQ(std::set<TRGB>(p.begin(), p.end()).size(), 252u) << "entries are distinct";
}

TEST(DetectPaletteIdent, RecognisesEveryStandardPaletteInOrder)
{
    for (const TPaletteIdent ident : {pBlackWhite, pSysGray4, pSys16, pGray4, pGray16, pGray236, pGray256,
                                      pSpecial125, pSpecial216, pSpecial252}) {
        TPixelGraphic source;
        WithPalette(source, bc8, ident);
        TPixelGraphic image;
        image.SetSize(2, 2, bc8);
        image.SetPaletteCount(source.PaletteCount());
        for (int i = 0; i < source.PaletteCount(); ++i)
            image.SetPaletteColor(i, source.PaletteColors()[i]);
        EXPECT_EQ(image.PaletteIdent(), pUnknown);
        image.DetectPaletteIdent();
        EXPECT_EQ(image.PaletteIdent(), ident) << int(ident);
        // One entry changed: no longer standard.
        image.SetPaletteColor(image.PaletteCount() - 1, Rgb(1, 2, 3));
        image.DetectPaletteIdent();
        EXPECT_EQ(image.PaletteIdent(), pUnknown) << int(ident);
    }
    TPixelGraphic trueColor;
    trueColor.SetSize(2, 2, bc24);
    trueColor.DetectPaletteIdent();
    EXPECT_EQ(trueColor.PaletteIdent(), pTrueColor);
    EXPECT_FALSE(trueColor.IsGray());
    TPixelGraphic empty;
    empty.SetSize(2, 2, bc8);
    empty.SetPaletteCount(0);
    empty.DetectPaletteIdent();
    EXPECT_EQ(empty.PaletteIdent(), pNone);
    EXPECT_TRUE(empty.IsGray());
}

TEST(SetPaletteIdent, SameKindKeepsTheCaches)
{
    TPixelGraphic image;
    image.SetSize(2, 2, bc8);
    image.SetPaletteCount(3);
    image.SetPaletteColor(0, Rgb(10, 20, 30));
    image.NearestPaletteIndex(Rgb(9, 9, 9));
    ASSERT_TRUE(image.ColorState().ColorCacheBuilt);
    image.SetPaletteIdent(pUnknown);
    EXPECT_TRUE(image.ColorState().ColorCacheBuilt);
    EXPECT_TRUE(image.ColorState().LastColorValid);
    image.SetPaletteIdent(pSource);  // a name only: palette and kind stay, caches go
    EXPECT_EQ(image.PaletteIdent(), pUnknown);
    EXPECT_EQ(image.PaletteCount(), 3);
    EXPECT_FALSE(image.ColorState().ColorCacheBuilt);
    EXPECT_FALSE(image.ColorState().LastColorValid);
}

// ---- nearest palette index ---------------------------------------------------------------

TEST(NearestPaletteIndex, ArithmeticKinds)
{
    struct Row {
        TPaletteIdent ident;
        TRGB color;
        bool weighted;
        int expected;
    };
    const Row rows[] = {
        {pBlackWhite, Rgb(255, 255, 255), true, 1},
        {pBlackWhite, Rgb(128, 128, 128), true, 1},
        {pBlackWhite, Rgb(127, 127, 127), true, 0},
        {pBlackWhite, Rgb(255, 0, 0), true, 0},   // v = 228
        {pBlackWhite, Rgb(0, 255, 0), true, 1},   // v = 449
        {pBlackWhite, Rgb(255, 128, 0), false, 1},  // v = 383: (383 + 1) div 384
        {pSysGray4, Rgb(64, 64, 64), true, 0},    // v = 192
        {pSysGray4, Rgb(0, 0, 193), false, 1},
        {pSysGray4, Rgb(160, 160, 160), true, 1},  // v = 480
        {pSysGray4, Rgb(161, 160, 160), false, 2},  // v = 481
        {pSysGray4, Rgb(223, 224, 223), false, 2},  // v = 670
        {pSysGray4, Rgb(224, 224, 223), false, 3},  // v = 671
        {pGray4, Rgb(42, 42, 42), true, 0},       // v = 126
        {pGray4, Rgb(43, 42, 43), false, 1},      // v = 128
        {pGray16, Rgb(8, 8, 9), false, 0},        // v = 25
        {pGray16, Rgb(8, 9, 9), false, 1},        // v = 26
        {pGray256, Rgb(100, 101, 102), false, 101},
        {pGray256, Rgb(0, 0, 2), false, 1},
        {pGray236, Rgb(0, 0, 1), false, 0},
        {pGray236, Rgb(0, 0, 2), false, 1},
        {pGray236, Rgb(255, 255, 254), false, 235},
        {pSpecial125, Rgb(224, 223, 0), true, 4 * 25 + 3 * 5},
        {pSpecial125, Rgb(32, 33, 95), true, 0 * 25 + 1 * 5 + 1},
        {pSpecial216, Rgb(27, 26, 255), true, 1 * 36 + 0 * 6 + 5},
        {pSpecial216, Rgb(128, 127, 229), true, 2 * 36 + 2 * 6 + 4},
    };
    for (const Row& row : rows) {
        TPixelGraphic image;
        WithPalette(image, bc8, row.ident);
        image.SetRGBWeighting(row.weighted);
        EXPECT_EQ(image.NearestPaletteIndex(row.color), row.expected)
            << int(row.ident) << " " << std::hex << row.color;
    }
}

TEST(NearestPaletteIndex, Gray16Thresholds)
{
    TPixelGraphic image;
    WithPalette(image, bc4, pGray16);
    image.SetRGBWeighting(false);
    // (v + 25) div 51: the step from k to k + 1 is at v = 51k + 26.
    for (int k = 0; k < 15; ++k) {
        const int v = 51 * k + 26;
        const TRGB below = Rgb((v - 1) / 3, (v - 1) / 3 + ((v - 1) % 3 > 0), (v - 1) / 3 + ((v - 1) % 3 > 1));
        const TRGB at = Rgb(v / 3, v / 3 + (v % 3 > 0), v / 3 + (v % 3 > 1));
        EXPECT_EQ(image.NearestPaletteIndex(below), k) << v;
        EXPECT_EQ(image.NearestPaletteIndex(at), k + 1) << v;
    }
}

TEST(NearestPaletteIndex, Gray236TableStartsAndEnds)
{
    const std::array<std::uint8_t, 766>& t = Gray236Index();
    const int start[] = {0, 0, 1, 1, 1, 2, 2, 2, 3};
    for (int v = 0; v < 9; ++v)
        EXPECT_EQ(t[std::size_t(v)], start[v]) << v;
    EXPECT_EQ(t[764], 235);
    EXPECT_EQ(t[765], 235);
    // Entry v is the gray nearest to v / 3, the lower on ties.
    const std::vector<TRGB>& grays = StandardPalette(pGray236);
    for (int v = 0; v <= 765; ++v) {
        const int chosen = t[std::size_t(v)];
        for (int i = 0; i < 236; ++i) {
            const int dChosen = std::abs(3 * RedOf(grays[std::size_t(chosen)]) - v);
            const int d = std::abs(3 * RedOf(grays[std::size_t(i)]) - v);
            EXPECT_TRUE(d > dChosen || (d == dChosen && i >= chosen)) << v << " " << i;
        }
    }
}

TEST(NearestPaletteIndex, Special125BoundaryAt224)
{
    TPixelGraphic image;
    WithPalette(image, bc8, pSpecial125);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(224, 0, 0)), 4 * 25);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(223, 0, 0)), 3 * 25);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(0, 224, 223)), 4 * 5 + 3);
}

TEST(NearestPaletteIndex, Sys16CandidatesTryTheThirdAfterADifferentSecond)
{
    TPixelGraphic image;
    WithPalette(image, bc4, pSys16);
    // Cell 27 lists 7, 8, 14: cyan wins although grey 128 is no nearer than silver.
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(64, 191, 255)), 14);
    // Cell 7 lists 6, 12: blue replaces teal only when strictly nearer.
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(0, 64, 255)), 12);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(0, 100, 192)), 6);
    // Single-candidate cells take the candidate whatever is nearer.
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(0, 0, 0)), 0);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(255, 255, 255)), 15);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(200, 200, 200)), 7);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(63, 63, 63)), 0);  // cell 0: black only
    // Every answer is one of the cell's candidates.
    std::mt19937 random(7);
    for (int n = 0; n < 2000; ++n) {
        const TRGB c = random() & 0xFFFFFF;
        const std::uint8_t* k = kSys16Candidates[Sys16Cell(RedOf(c), GreenOf(c), BlueOf(c))];
        const int i = image.NearestPaletteIndex(c);
        EXPECT_TRUE(i == k[0] || i == k[1] || i == k[2]);
    }
}

TEST(NearestPaletteIndex, SpecialKindsAndErrors)
{
    TPixelGraphic trueColor;
    trueColor.SetSize(2, 2, bc24);
    EXPECT_EQ(trueColor.NearestPaletteIndex(Rgb(1, 2, 3)), int(Rgb(1, 2, 3)));
    TPixelGraphic none;
    none.SetSize(2, 2, bc8);
    none.SetPaletteIdent(pNone);
    EXPECT_THROW(none.NearestPaletteIndex(0), EPGNoPalette);
    EXPECT_THROW(none.SetColor(0, 0, 0), EPGNoPalette);
    TPixelGraphic emptyUnknown;
    emptyUnknown.SetSize(2, 2, bc8);
    emptyUnknown.SetPaletteIdent(pNone);
    emptyUnknown.SetPaletteIdent(pUnknown);
    EXPECT_THROW(emptyUnknown.NearestPaletteIndex(0), EPGNoPalette);
}

TEST(NearestPaletteIndex, MemoFollowsPaletteAndSettingChanges)
{
    TPixelGraphic image;
    image.SetSize(2, 2, bc8);
    image.SetPaletteCount(2);
    image.SetPaletteColor(0, Rgb(0, 0, 0));
    image.SetPaletteColor(1, Rgb(255, 255, 255));
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(200, 200, 200)), 1);
    image.SetPaletteColor(1, Rgb(10, 10, 10));
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(200, 200, 200)), 1);
    image.SetPaletteColor(0, Rgb(240, 240, 240));
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(200, 200, 200)), 0);
    image.SetUseColorCache(false);
    EXPECT_FALSE(image.ColorState().LastColorValid);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(200, 200, 200)), 0);
    image.SetRGBWeighting(false);
    EXPECT_FALSE(image.ColorState().LastColorValid);
}

// The cache is pre-filled around every entry by Chebyshev distance in cells
// (nearest radius, then lowest index); other cells take the exact answer of
// the first colour looked up in them.
TEST(NearestPaletteIndex, CellCacheMatchesItsDefinition)
{
    for (const int count : {1, 5, 40, 256}) {
        std::mt19937 random{std::uint32_t(count)};
        TPixelGraphic image;
        image.SetSize(2, 2, bc8);
        image.SetPaletteCount(count);
        for (int i = 0; i < count; ++i)
            image.SetPaletteColor(i, random() & 0xFFFFFF);
        if (count == 40)
            image.SetPaletteColor(39, image.PaletteColors()[3]);  // duplicate entries: the lower wins
        const TRGB* palette = image.PaletteColors();
        std::vector<int> prefilled(32 * 64 * 32, -1);
        std::vector<int> radius(32 * 64 * 32, 99);
        for (int i = 0; i < count; ++i) {
            const int cr = RedOf(palette[i]) >> 3, cg = GreenOf(palette[i]) >> 2, cb = BlueOf(palette[i]) >> 3;
            for (int r = std::max(cr - 4, 0); r <= std::min(cr + 4, 31); ++r)
                for (int g = std::max(cg - 4, 0); g <= std::min(cg + 4, 63); ++g)
                    for (int b = std::max(cb - 4, 0); b <= std::min(cb + 4, 31); ++b) {
                        const int d = std::max({std::abs(r - cr), std::abs(g - cg), std::abs(b - cb)});
                        const int cell = r * 2048 + g * 32 + b;
                        if (d < radius[std::size_t(cell)]) {
                            radius[std::size_t(cell)] = d;
                            prefilled[std::size_t(cell)] = i;
                        }
                    }
        }
        int exactChecked = 0;
        for (int cell = 0; cell < 32 * 64 * 32; cell += (count == 256 ? 1 : 3)) {
            // A colour somewhere inside the cell, not always its corner.
            const TRGB color = Rgb((cell >> 11) * 8 + int(random() % 8), ((cell >> 5) & 63) * 4 + int(random() % 4),
                                   (cell & 31) * 8 + int(random() % 8));
            const int expected = prefilled[std::size_t(cell)] >= 0 ? prefilled[std::size_t(cell)]
                                                                   : BruteNearest(palette, count, color);
            exactChecked += prefilled[std::size_t(cell)] < 0;
            ASSERT_EQ(image.NearestPaletteIndex(color), expected) << count << " cell " << cell;
            // A second colour of the same cell gets the cell's stored answer.
            ASSERT_EQ(image.NearestPaletteIndex(color ^ 0x010101), expected);
        }
        EXPECT_GT(exactChecked, 0);
        // Without the cache every colour gets the exact answer.
        image.SetUseColorCache(false);
        for (int n = 0; n < 3000; ++n) {
            const TRGB color = random() & 0xFFFFFF;
            ASSERT_EQ(image.NearestPaletteIndex(color), BruteNearest(palette, count, color));
        }
    }
}

TEST(Special252Cells, TellingRowsAndSizes)
{
    const TSpecial252Cells& cells = Special252Cells();
    const auto list = [&](int r, int g, int b) {
        const int cell = r * 81 + g * 9 + b;
        return std::vector<int>(cells.List.begin() + cells.Start[std::size_t(cell)],
                                cells.List.begin() + cells.Start[std::size_t(cell) + 1]);
    };
    EXPECT_EQ(list(0, 0, 0), (std::vector<int>{0}));
    EXPECT_EQ(list(0, 0, 1), (std::vector<int>{0, 16, 125}));
    EXPECT_EQ(list(0, 0, 3), (std::vector<int>{4, 16}));
    EXPECT_EQ(list(4, 4, 4), (std::vector<int>{8}));
    EXPECT_EQ(list(8, 8, 8), (std::vector<int>{15}));
    for (int cell = 0; cell < 729; ++cell) {
        EXPECT_LT(cells.Start[std::size_t(cell)], cells.Start[std::size_t(cell) + 1]) << "cell " << cell << " is empty";
        for (int k = cells.Start[std::size_t(cell)] + 1; k < cells.Start[std::size_t(cell) + 1]; ++k)
            EXPECT_LT(cells.List[std::size_t(k - 1)], cells.List[std::size_t(k)]) << "ascending, no repeats";
    }
}

// Every one of the 16.7 million colours gets exactly the nearest entry.
TEST(Special252Cells, AgreeWithExhaustiveSearchOnAllColors)
{
    const std::array<TRGB, 252>& palette = Special252Palette();
    TPixelGraphic image;
    WithPalette(image, bc8, pSpecial252);
    int pr[252], pg[252], pb[252];
    for (int i = 0; i < 252; ++i) {
        pr[i] = RedOf(palette[std::size_t(i)]);
        pg[i] = GreenOf(palette[std::size_t(i)]);
        pb[i] = BlueOf(palette[std::size_t(i)]);
    }
    int partial[252];
    long mismatches = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g) {
            for (int i = 0; i < 252; ++i)
                partial[i] = (r - pr[i]) * (r - pr[i]) + (g - pg[i]) * (g - pg[i]);
            for (int b = 0; b < 256; ++b) {
                int best = 0, bestDistance = partial[0] + (b - pb[0]) * (b - pb[0]);
                for (int i = 1; i < 252; ++i) {
                    const int d = partial[i] + (b - pb[i]) * (b - pb[i]);
                    if (d < bestDistance) {
                        bestDistance = d;
                        best = i;
                    }
                }
                if (image.NearestPaletteIndex(Rgb(r, g, b)) != best && ++mismatches < 10)
                    ADD_FAILURE() << r << "," << g << "," << b << " expected " << best;
            }
        }
    EXPECT_EQ(mismatches, 0);
}

// ---- error limits and dithering -------------------------------------------------------------

TEST(Dither, ErrorLimitTables)
{
    const std::vector<std::int32_t> gray256 = BuildErrorLimitTable(2, true);
    const int expected256[] = {0, 0, 1, 1, 2, 2, 2};
    for (int e = 0; e < 7; ++e) {
        EXPECT_EQ(gray256[std::size_t(255 + e)], expected256[e]) << e;
        EXPECT_EQ(gray256[std::size_t(255 - e)], -expected256[e]) << e;
    }
    EXPECT_EQ(gray256[510], 2);
    const std::vector<std::int32_t> bw = BuildErrorLimitTable(255, true);
    for (int e = 0; e <= 255; ++e) {
        const int want = e < 127 ? e : e < 255 ? e / 2 + 63 : 255;
        EXPECT_EQ(bw[std::size_t(255 + e)], want) << e;
        EXPECT_EQ(bw[std::size_t(255 - e)], -want) << e;
    }
    const std::vector<std::int32_t> zero = BuildErrorLimitTable(0, true);
    EXPECT_TRUE(std::all_of(zero.begin(), zero.end(), [](int v) { return v == 0; }));
    const std::vector<std::int32_t> hard = BuildErrorLimitTable(32, false);
    EXPECT_EQ(hard[255 + 31], 31);
    EXPECT_EQ(hard[255 + 32], 32);
    EXPECT_EQ(hard[255 + 200], 32);
    const std::vector<std::int32_t> soft = BuildErrorLimitTable(32, true);
    EXPECT_EQ(soft[255 + 15], 15);
    EXPECT_EQ(soft[255 + 16], 16);  // the knee meets e at L div 2
    EXPECT_EQ(soft[255 + 17], 16);
    EXPECT_EQ(soft[255 + 48], 32);  // and reaches L at 3L/2
    EXPECT_EQ(soft[255 + 49], 32);
}

TEST(Dither, LimitByPaletteKind)
{
    struct Row {
        TPaletteIdent ident;
        int limit;
    };
    const Row rows[] = {{pBlackWhite, 255}, {pSysGray4, 128}, {pSys16, 128},     {pGray4, 128},
                        {pGray16, 32},      {pGray236, 3},    {pGray256, 2},     {pSpecial125, 104},
                        {pSpecial252, 104}, {pSpecial216, 86}, {pUnknown, 32},   {pTrueColor, 32}};
    for (const Row& row : rows) {
        TPixelGraphic image;
        image.SetSize(2, 2, row.ident == pTrueColor ? bc24 : bc8);
        if (row.ident != pTrueColor)
            image.SetPaletteIdent(row.ident == pUnknown ? pGray16 : row.ident);
        if (row.ident == pUnknown)
            image.SetPaletteColor(0, Rgb(1, 2, 3));
        int limit = -1;
        bool soft = false;
        DitherLimit(image, limit, soft);
        EXPECT_EQ(limit, row.limit) << int(row.ident);
        EXPECT_TRUE(soft);
        image.SetDitherErrorLimitAuto(false);
        image.SetDitherErrorLimit(77);
        image.SetDitherErrorLimitSoft(false);
        DitherLimit(image, limit, soft);
        EXPECT_EQ(limit, 77);
        EXPECT_FALSE(soft);
    }
}

// Worked by hand: four pixels of gray 96 to black and white. Row 0 runs left to
// right, row 1 right to left; the error pushed past a row end is lost.
TEST(Dither, SerpentineOrderWorkedExample)
{
    TPixelGraphic source;
    source.SetSize(2, 2, bc24);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            source.SetPixel(x, y, Rgb(96, 96, 96));
    TPixelGraphic target;
    target.SetSize(2, 2, bc1);
    target.SetPaletteIdent(pBlackWhite);
    target.CopyFrom(source);
    EXPECT_EQ(target.GetPixel(0, 0), 0u);
    EXPECT_EQ(target.GetPixel(1, 0), 1u);
    EXPECT_EQ(target.GetPixel(1, 1), 0u);
    EXPECT_EQ(target.GetPixel(0, 1), 1u);  // left to right it would be 0
    EXPECT_TRUE(target.ColorState().ErrorRowCurrent.empty()) << "buffers released";
    EXPECT_TRUE(target.ColorState().ErrorLimitTable.empty());
}

// A one-pixel-wide column: every share but the 5/16 straight down falls on a
// guard entry and is lost. Worked by hand for gray 96 to black and white.
TEST(Dither, ErrorPastTheRowEndsIsLost)
{
    TPixelGraphic target;
    target.SetSize(1, 4, bc1);
    target.SetPaletteIdent(pBlackWhite);
    DitherBegin(target);
    DitherNextRow(target);
    DitherPixel(target, 0, 0, 96, 96, 96);  // black, error 96
    const TColorState& state = target.ColorState();
    EXPECT_EQ(state.ErrorRowCurrent[2 * 3 + 1], 7 * 96) << "ahead: the right guard";
    EXPECT_EQ(state.ErrorRowNext[0 * 3 + 1], 3 * 96) << "behind: the left guard";
    EXPECT_EQ(state.ErrorRowNext[1 * 3 + 1], 5 * 96);
    EXPECT_EQ(state.ErrorRowNext[2 * 3 + 1], 96);
    EXPECT_EQ(state.ErrorRowNext[1 * 3 + 0], 0) << "gray palettes use the green channel only";
    DitherEnd(target);

    TPixelGraphic source;
    source.SetSize(1, 4, bc24);
    for (int y = 0; y < 4; ++y)
        source.SetPixel(0, y, Rgb(96, 96, 96));
    target.CopyFrom(source);
    // 96 -> 0 (d 96); 96 + 30 -> 0 (d 126); 96 + 39 -> 1 (d -120); 96 - 38 -> 0.
    EXPECT_EQ(target.GetPixel(0, 0), 0u);
    EXPECT_EQ(target.GetPixel(0, 1), 0u);
    EXPECT_EQ(target.GetPixel(0, 2), 1u);
    EXPECT_EQ(target.GetPixel(0, 3), 0u);
}

TEST(Dither, PixelByPixelInterface)
{
    // The per-pixel operations the library's own code falls back on agree with
    // the reference as well.
    TPixelGraphic source;
    FillRandom(source, 9, 5, bc24, 3);
    TPixelGraphic a, b;
    for (TPixelGraphic* t : {&a, &b}) {
        t->SetSize(9, 5, bc4);
        t->SetPaletteIdent(pSys16);
    }
    DitherBegin(a);
    ref::TDither d(b);
    for (int y = 0; y < 5; ++y) {
        DitherNextRow(a);
        d.NextRow();
        for (int k = 0; k < 9; ++k) {
            const int x = y % 2 == 0 ? k : 8 - k;
            const TRGB c = source.GetColor(x, y);
            DitherPixel(a, x, y, RedOf(c), GreenOf(c), BlueOf(c));
            d.Pixel(x, y, c);
        }
    }
    DitherEnd(a);
    std::string why;
    EXPECT_TRUE(SamePixels(a, b, &why)) << why;
}

// ---- converting copies against the per-pixel reference --------------------------------------

namespace {

struct TTargetKind {
    std::string name;
    TBitCount bitCount;
    std::function<void(TPixelGraphic&, std::uint32_t seed)> palette;
};

std::function<void(TPixelGraphic&, std::uint32_t)> Standard(TPaletteIdent ident)
{
    return [ident](TPixelGraphic& g, std::uint32_t) { g.SetPaletteIdent(ident); };
}

std::function<void(TPixelGraphic&, std::uint32_t)> RandomPalette(int count, bool gray, bool cache = true)
{
    return [=](TPixelGraphic& g, std::uint32_t seed) {
        std::mt19937 random(seed * 31 + 5);
        g.SetPaletteCount(count);
        for (int i = 0; i < count; ++i) {
            const int level = int(random() % 256);
            g.SetPaletteColor(i, gray ? Rgb(level, level, level) : TRGB(random() & 0xFFFFFF));
        }
        g.SetUseColorCache(cache);
    };
}

const std::vector<TTargetKind>& TargetKinds()
{
    static const std::vector<TTargetKind> kinds = {
        {"bc1 black-white", bc1, Standard(pBlackWhite)},
        {"bc1 two colours", bc1, RandomPalette(2, false)},
        {"bc4 gray16", bc4, Standard(pGray16)},
        {"bc4 gray4", bc4, Standard(pGray4)},
        {"bc4 sysgray4", bc4, Standard(pSysGray4)},
        {"bc4 sys16", bc4, Standard(pSys16)},
        {"bc4 unknown", bc4, RandomPalette(16, false)},
        {"bc4 unknown gray", bc4, RandomPalette(11, true)},
        {"bc8 gray256", bc8, Standard(pGray256)},
        {"bc8 gray236", bc8, Standard(pGray236)},
        {"bc8 special125", bc8, Standard(pSpecial125)},
        {"bc8 special216", bc8, Standard(pSpecial216)},
        {"bc8 special252", bc8, Standard(pSpecial252)},
        {"bc8 unknown 256", bc8, RandomPalette(256, false)},
        {"bc8 unknown 200 no cache", bc8, RandomPalette(200, false, false)},
        {"bc8 unknown gray no cache", bc8, RandomPalette(30, true, false)},
        {"bc24", bc24, [](TPixelGraphic&, std::uint32_t) {}},
    };
    return kinds;
}

// The settings a conversion reads from its target.
struct TSettings {
    bool dither, weighted, autoLimit, soft;
    std::uint8_t limit;
};

void MakeTarget(TPixelGraphic& g, const TTargetKind& kind, int w, int h, std::uint32_t seed, const TSettings& s)
{
    g.SetSize(w, h, kind.bitCount);
    kind.palette(g, seed);
    g.SetDither(s.dither);
    g.SetRGBWeighting(s.weighted);
    g.SetDitherErrorLimitAuto(s.autoLimit);
    g.SetDitherErrorLimitSoft(s.soft);
    g.SetDitherErrorLimit(s.limit);
    // Old contents that must survive outside the copied rectangle.
    std::mt19937 random(seed);
    const std::uint32_t mask = kind.bitCount == bc24 ? 0xFFFFFF : std::uint32_t(g.PaletteCount() - 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            g.SetPixel(x, y, kind.bitCount == bc24 ? (random() & mask) : std::uint32_t(random() % g.PaletteCount()));
}

// A source that is neither flat nor pure noise: gradients, noise and runs.
void MakeSource(TPixelGraphic& g, TBitCount bitCount, int w, int h, std::uint32_t seed)
{
    FillRandom(g, w, h, bitCount, seed);
    if (bitCount != bc24 || seed % 2 == 0)
        return;
    std::mt19937 random(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            g.SetPixel(x, y, Rgb(x * 255 / w, (y * 255 / h + int(random() % 9)) & 255, (x + y) % 3 == 0 ? 128 : 129));
}

}  // namespace

TEST(CopyRect, MatchesPerPixelReferenceForEveryFormatPair)
{
    std::mt19937 random(2024);
    int cases = 0;
    for (const TBitCount sourceFormat : {bc1, bc4, bc8, bc24})
        for (const TTargetKind& kind : TargetKinds())
            for (int variant = 0; variant < 6; ++variant) {
                const std::uint32_t seed = random();
                TSettings s{variant % 3 != 2, variant != 3, variant < 4, variant != 4, std::uint8_t(random() % 256)};
                const int sw = 1 + int(random() % 23), sh = 1 + int(random() % 7);
                const int tw = 1 + int(random() % 23), th = 1 + int(random() % 7);
                TPixelGraphic source, mine, theirs;
                MakeSource(source, sourceFormat, sw, sh, seed);
                MakeTarget(mine, kind, tw, th, seed, s);
                MakeTarget(theirs, kind, tw, th, seed, s);
                int destX = 0, destY = 0, srcX = 0, srcY = 0, w = tw, h = th;
                if (variant >= 2) {
                    destX = int(random() % 9) - 4;
                    destY = int(random() % 5) - 2;
                    srcX = int(random() % 9) - 4;
                    srcY = int(random() % 5) - 2;
                    w = int(random() % 26);
                    h = int(random() % 9);
                }
                mine.CopyRect(destX, destY, source, srcX, srcY, w, h);
                ref::CopyRect(theirs, destX, destY, source, srcX, srcY, w, h);
                std::string why;
                ASSERT_TRUE(SamePixels(mine, theirs, &why))
                    << why << ": " << kind.name << " from bc" << TPixelGraphic::BitCountNumOf(sourceFormat)
                    << " variant " << variant;
                ++cases;
            }
    EXPECT_EQ(cases, 4 * int(TargetKinds().size()) * 6);
}

TEST(CopyRect, LargerImagesWithOptimalPalettes)
{
    for (const TBitCount sourceFormat : {bc4, bc8, bc24})
        for (const bool dither : {true, false})
            for (const int colors : {256, 2, 16, 252}) {
                const bool reserve = colors >= 16;
                TPixelGraphic source, mine, theirs;
                MakeSource(source, sourceFormat, 97, 41, std::uint32_t(colors + dither));
                for (TPixelGraphic* t : {&mine, &theirs}) {
                    t->SetSize(97, 41, colors <= 2 ? bc1 : colors <= 16 ? bc4 : bc8);
                    t->CreateOptimalPalette(source, colors, reserve);
                    t->SetDither(dither);
                }
                mine.CopyFrom(source);
                ref::CopyRect(theirs, 0, 0, source, 0, 0, 97, 41);
                std::string why;
                EXPECT_TRUE(SamePixels(mine, theirs, &why)) << why << " colors " << colors;
            }
}

TEST(CopyRect, SourceThatIsTheTarget)
{
    for (const TBitCount format : {bc8, bc24, bc1}) {
        TPixelGraphic mine, theirs;
        FillRandom(mine, 13, 6, format, 11);
        FillRandom(theirs, 13, 6, format, 11);
        mine.CopyRect(2, 1, mine, 0, 0, 10, 4);
        ref::CopyRect(theirs, 2, 1, theirs, 0, 0, 10, 4);
        std::string why;
        EXPECT_TRUE(SamePixels(mine, theirs, &why)) << why;
    }
}

// ---- events, abort and failures -------------------------------------------------------------

TEST(CopyRect, EventsAndAbort)
{
    TPixelGraphic source;
    FillRandom(source, 5, 4, bc24, 1);
    {
        TPixelGraphic target;
        target.SetSize(5, 4, bc24);
        TProgressLog log;
        log.Attach(target);
        target.CopyFrom(source);
        EXPECT_EQ(log.events, (std::vector<std::string>{"start", "end", "changed"}));
        std::string why;
        EXPECT_TRUE(SamePixels(source, target, &why)) << why;
    }
    {
        TPixelGraphic target;
        target.SetSize(5, 4, bc8);
        target.SetPaletteIdent(pGray256);
        TProgressLog log;
        log.Attach(target);
        target.CopyRect(0, 1, source, 0, 0, 5, 9);  // rows 1..3
        EXPECT_EQ(log.events, (std::vector<std::string>{"start", "0/2", "1/2", "2/2", "end", "changed"}));
    }
    {
        TPixelGraphic target;
        target.SetSize(5, 4, bc8);
        target.SetPaletteIdent(pGray256);
        target.SetBackGroundColor(Rgb(7, 7, 7));
        target.Clear();
        TProgressLog log;
        log.abortAt = 1;
        log.Attach(target);
        target.CopyFrom(source);
        EXPECT_EQ(log.events, (std::vector<std::string>{"start", "0/3", "1/3", "end", "changed"}));
        EXPECT_NE(target.GetPixel(0, 1), 7u);
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(target.GetPixel(x, 2), 7u) << "rows after the abort are not copied";
        EXPECT_TRUE(target.ColorState().ErrorRowCurrent.empty());
    }
    {
        TPixelGraphic target;  // no overlap: only Changed
        target.SetSize(5, 4, bc8);
        target.SetPaletteIdent(pGray256);
        TProgressLog log;
        log.Attach(target);
        target.CopyRect(0, 0, source, 5, 0, 5, 4);
        EXPECT_EQ(log.events, (std::vector<std::string>{"changed"}));
        TPixelGraphic empty;
        log.events.clear();
        target.CopyFrom(empty);
        EXPECT_TRUE(log.events.empty());
    }
}

TEST(CopyRect, FailuresReleaseTheDitherBuffers)
{
    TPixelGraphic source;
    FillRandom(source, 6, 3, bc24, 1);
    TPixelGraphic noPalette;
    noPalette.SetSize(6, 3, bc8);
    noPalette.SetPaletteIdent(pNone);
    EXPECT_THROW(noPalette.CopyFrom(source), EPGNoPalette);
    EXPECT_TRUE(noPalette.ColorState().ErrorRowCurrent.empty());
    noPalette.SetDither(false);
    EXPECT_THROW(noPalette.CopyFrom(source), EPGNoPalette);

    // A pixel value beyond the source palette raises where it is met; the rows
    // and pixels before it are stored as the reference stores them.
    TPixelGraphic shortPalette;
    FillRandom(shortPalette, 6, 3, bc8, 2);
    shortPalette.SetPaletteCount(40);
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 3; ++y)
            shortPalette.SetPixel(x, y, std::uint32_t((x * 7 + y) % 40));
    shortPalette.SetPixel(2, 1, 200);
    TPixelGraphic mine, theirs;
    for (TPixelGraphic* t : {&mine, &theirs}) {
        t->SetSize(6, 3, bc4);
        t->SetPaletteIdent(pSys16);
    }
    EXPECT_THROW(mine.CopyFrom(shortPalette), EPGInvalidPaletteIndex);
    EXPECT_THROW(ref::CopyRect(theirs, 0, 0, shortPalette, 0, 0, 6, 3), EPGInvalidPaletteIndex);
    EXPECT_TRUE(mine.ColorState().ErrorRowCurrent.empty());
    std::string why;
    EXPECT_TRUE(SamePixels(mine, theirs, &why)) << why;
}

// ---- optimal palettes -------------------------------------------------------------------------

namespace {

std::vector<TRGB> PaletteOf(const TPixelGraphic& g)
{
    return std::vector<TRGB>(g.PaletteColors(), g.PaletteColors() + g.PaletteCount());
}

std::vector<TRGB> WithSystemColors(std::vector<TRGB> colors, int total)
{
    for (int i = 0; i < 16 && int(colors.size()) < total; ++i)
        colors.push_back(kSystemColors[std::size_t(i)]);
    return colors;
}

}  // namespace

TEST(CreateOptimalPalette, SixteenWithSystemColoursIsTheSystemPalette)
{
    TPixelGraphic source;
    FillRandom(source, 20, 20, bc24, 5);
    TPixelGraphic target;
    target.SetSize(20, 20, bc4);
    int progress = 0;
    target.SetOnProgress([&](TObject*, int, int, bool&) { ++progress; });
    target.CreateOptimalPalette(source, 16, true);
    EXPECT_EQ(target.PaletteIdent(), pSys16);
    EXPECT_EQ(PaletteOf(target), StandardPalette(pSys16));
    EXPECT_EQ(progress, 0);
    TPixelGraphic empty;
    target.CreateOptimalPalette(empty, 8, false);
    EXPECT_EQ(PaletteOf(target), std::vector<TRGB>(kSystemColors.begin(), kSystemColors.begin() + 8));
}

TEST(CreateOptimalPalette, MedianCutHandChecked)
{
    const auto image = [](TPixelGraphic& g, std::vector<TRGB> pixels) {
        g.SetSize(int(pixels.size()), 1, bc24);
        for (int x = 0; x < int(pixels.size()); ++x)
            g.SetPixel(x, 0, pixels[std::size_t(x)]);
    };
    TPixelGraphic target;
    target.SetSize(4, 4, bc8);
    {
        // One colour fits any palette: it is taken as it is, not as its cell centre.
        TPixelGraphic g;
        g.SetSize(3, 2, bc24);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                g.SetPixel(x, y, Rgb(10, 20, 30));
        target.CreateOptimalPalette(g, 256, true);
        EXPECT_EQ(PaletteOf(target), WithSystemColors({Rgb(10, 20, 30)}, 256));
        target.CreateOptimalPalette(g, 8, false);
        EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(10, 20, 30)}));
        EXPECT_EQ(target.PaletteIdent(), pUnknown);
    }
    {
        // Fewer colours than wanted are taken exactly; with one colour more
        // than wanted, median cut: the green split separates black from white
        // and grey, then no box can be split any more.
        TPixelGraphic g;
        image(g, {Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(0, 0, 0)});
        target.CreateOptimalPalette(g, 4, false);
        EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(0, 0, 0), Rgb(255, 255, 255)}));
        target.CreateOptimalPalette(g, 20, true);
        EXPECT_EQ(PaletteOf(target), WithSystemColors({Rgb(0, 0, 0), Rgb(255, 255, 255)}, 20));
        TPixelGraphic three;
        image(three, {Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(250, 254, 250)});
        target.CreateOptimalPalette(three, 2, false);
        EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(4, 2, 4), Rgb(252, 254, 252)}));
    }
    {
        // Counters stop at 65535: 90000 dark pixels weigh as 65535 against 10000 light.
        TPixelGraphic g;
        g.SetSize(400, 250, bc24);
        for (int y = 0; y < 250; ++y)
            for (int x = 0; x < 400; ++x)
                g.SetPixel(x, y, y < 25 ? Rgb(255, 0, 0) : Rgb(0, 0, 0));
        target.CreateOptimalPalette(g, 1, false);
        EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(37, 2, 4)}));
    }
    // Box choice, split axis and means, one row of pixels each.
    struct TCase {
        const char* what;
        std::vector<TRGB> pixels;
        int wanted;
        std::vector<TRGB> palette;
    };
    const TCase cases[] = {
        {"two boxes with equal diagonals: the first one is split",
         {Rgb(0, 0, 0), Rgb(0, 0, 8), Rgb(255, 255, 240), Rgb(255, 255, 255)}, 3,
         {Rgb(4, 2, 4), Rgb(252, 254, 248), Rgb(4, 2, 12)}},
        {"means round to nearest: red centres 4, 4, 12 give 6.7, green 2, 2, 6 give 3.3",
         {Rgb(0, 0, 0), Rgb(0, 0, 0), Rgb(8, 4, 0)}, 1, {Rgb(7, 3, 4)}},
        {"means round up in every channel: 14.7, 4.7 and 6.7",
         {Rgb(0, 0, 0), Rgb(16, 4, 8), Rgb(16, 4, 0)}, 1, {Rgb(15, 5, 7)}},
        // Red spans 3 cells and green 4: weighted 48 each. The tie splits
        // green, which keeps the two red-only neighbours together (cell centres
        // 4 and 28 average to 16); a red split would pair black with green.
        {"a tie of red and green splits green",
         {Rgb(0, 0, 0), Rgb(24, 0, 0), Rgb(0, 16, 0)}, 2, {Rgb(16, 2, 4), Rgb(4, 18, 4)}},
    };
    for (const TCase& c : cases) {
        TPixelGraphic g;
        image(g, c.pixels);
        target.CreateOptimalPalette(g, c.wanted, false);
        EXPECT_EQ(PaletteOf(target), c.palette) << c.what;
    }
}

TEST(CreateOptimalPalette, HistogramProgressAndAbort)
{
    TPixelGraphic g;
    g.SetSize(2, 3, bc24);
    g.SetPixel(0, 0, Rgb(0, 0, 0));
    g.SetPixel(1, 0, Rgb(0, 0, 0));
    for (int y = 1; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
            g.SetPixel(x, y, Rgb(255, 255, 255));
    TPixelGraphic target;
    target.SetSize(2, 3, bc8);
    TProgressLog log;
    log.Attach(target);
    // The colours fit: taken exactly, with the events counting would give.
    target.CreateOptimalPalette(g, 4, false);
    EXPECT_EQ(log.events, (std::vector<std::string>{"0/2", "1/2", "2/2"}));
    EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(0, 0, 0), Rgb(255, 255, 255)}));
    log.events.clear();
    log.abortAt = 0;  // only the black row is counted
    target.CreateOptimalPalette(g, 4, false);
    EXPECT_EQ(log.events, (std::vector<std::string>{"0/2"}));
    EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(0, 0, 0)}));
    // One wanted colour for two: median cut, stopped after the black row.
    log.events.clear();
    target.CreateOptimalPalette(g, 1, false);
    EXPECT_EQ(log.events, (std::vector<std::string>{"0/2"}));
    EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(4, 2, 4)}));
}

namespace {

void PaletteImage(TPixelGraphic& g, const std::vector<TRGB>& palette, const std::vector<int>& counts)
{
    int total = 0;
    for (int c : counts)
        total += c;
    g.SetSize(total, 1, bc8);
    g.SetPaletteCount(int(palette.size()));
    for (int i = 0; i < int(palette.size()); ++i)
        g.SetPaletteColor(i, palette[std::size_t(i)]);
    int x = 0;
    for (int i = 0; i < int(counts.size()); ++i)
        for (int k = 0; k < counts[std::size_t(i)]; ++k)
            g.SetPixel(x++, 0, std::uint32_t(i));
}

}  // namespace

TEST(CreateOptimalPalette, OctreeHandChecked)
{
    TPixelGraphic target;
    target.SetSize(4, 4, bc8);
    {
        // Colours that fit come in the order of their indices; only used
        // indices count. Leaves of the octree come out depth first instead.
        TPixelGraphic g;
        PaletteImage(g, {Rgb(255, 255, 255), Rgb(0, 0, 0), Rgb(9, 9, 9)}, {2, 1, 0});
        target.CreateOptimalPalette(g, 10, false);
        EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(255, 255, 255), Rgb(0, 0, 0)}));
        target.CreateOptimalPalette(g, 256, true);
        EXPECT_EQ(PaletteOf(target), WithSystemColors({Rgb(255, 255, 255), Rgb(0, 0, 0)}, 256));
        // Three for two: the root is reduced, (2 x 255 + 0 + 9) div 4 = 129.
        PaletteImage(g, {Rgb(255, 255, 255), Rgb(0, 0, 0), Rgb(9, 9, 9)}, {2, 1, 1});
        target.CreateOptimalPalette(g, 2, false);
        EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(129, 129, 129)}));
    }
    {
        // The root is the only reducible node: everything becomes one mean.
        TPixelGraphic g;
        PaletteImage(g, {Rgb(0, 0, 0), Rgb(128, 0, 0), Rgb(0, 0, 1)}, {1, 1, 2});
        target.CreateOptimalPalette(g, 2, false);
        EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(32, 0, 0)}));
    }
    {
        // Two level-1 nodes of equal weight 961 on the list: the head of the
        // list (pushed last) is reduced, and the depth limit drops to 2, so the
        // last colour only adds to an inner node and no leaf.
        const std::vector<TRGB> palette = {Rgb(0, 0, 0),   Rgb(0, 64, 0),   Rgb(0, 0, 1),   Rgb(128, 0, 0),
                                           Rgb(128, 64, 0), Rgb(128, 0, 1), Rgb(0, 0, 2)};
        TPixelGraphic g;
        PaletteImage(g, palette, {1, 5, 1, 1, 1, 1, 9});
        target.CreateOptimalPalette(g, 5, false);
        EXPECT_EQ(PaletteOf(target),
                  (std::vector<TRGB>{Rgb(0, 0, 0), Rgb(0, 0, 1), Rgb(0, 64, 0), Rgb(128, 21, 0)}));
    }
    {
        // No node is on a reducible list although there are too many leaves:
        // the deepest branching node (black and its neighbour) is merged.
        TPixelGraphic g;
        PaletteImage(g, {Rgb(0, 0, 0), Rgb(0, 0, 1), Rgb(255, 255, 255)}, {3, 1, 1});
        target.SetSize(4, 4, bc1);
        target.CreateOptimalPalette(g, 2, false);
        EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(0, 0, 0), Rgb(255, 255, 255)}));
    }
    {
        // Bits of a 1-bit source and the palette of a palette source that is the target itself.
        TPixelGraphic g;
        g.SetSize(9, 2, bc1);
        g.SetPaletteCount(2);
        g.SetPaletteColor(0, Rgb(200, 10, 10));
        g.SetPaletteColor(1, Rgb(10, 10, 200));
        g.SetPixel(3, 1, 1);
        g.CreateOptimalPalette(g, 2, false);
        EXPECT_EQ(PaletteOf(g), (std::vector<TRGB>{Rgb(200, 10, 10), Rgb(10, 10, 200)}));
        // Two for one: the mean of 17 red and 1 blue pixels.
        g.CreateOptimalPalette(g, 1, false);
        EXPECT_EQ(PaletteOf(g), (std::vector<TRGB>{Rgb((17 * 200 + 10) / 18, 10, (17 * 10 + 200) / 18)}));
    }
    {
        // A dark and a bright pair each share a deepest node; the repeated
        // entries put both nodes on the deepest list, and the gray fifth leaf
        // forces a reduction there. The darker node is merged: the bright pair
        // stays apart, the dark one becomes one mean (0, 0, 1/3 -> 0).
        TPixelGraphic g;
        PaletteImage(g,
                     {Rgb(0, 0, 0), Rgb(0, 0, 1), Rgb(255, 255, 254), Rgb(255, 255, 255), Rgb(0, 0, 0),
                      Rgb(255, 255, 254), Rgb(128, 128, 128)},
                     {1, 1, 1, 1, 1, 1, 1});
        target.SetSize(4, 4, bc8);
        target.CreateOptimalPalette(g, 4, false);
        EXPECT_EQ(PaletteOf(target), (std::vector<TRGB>{Rgb(0, 0, 0), Rgb(128, 128, 128), Rgb(255, 255, 254),
                                                         Rgb(255, 255, 255)}));
    }
}

TEST(CreateOptimalPalette, OctreeStaysWithinTheWantedCount)
{
    std::mt19937 random(99);
    for (int n = 0; n < 200; ++n) {
        const int entries = 1 + int(random() % 256);
        std::vector<TRGB> palette(static_cast<std::size_t>(entries));
        std::vector<int> counts(static_cast<std::size_t>(entries));
        for (int i = 0; i < entries; ++i) {
            palette[std::size_t(i)] = n % 2 ? TRGB(random() & 0xFFFFFF) : Rgb(int(random() % 4), 0, int(random() % 256));
            counts[std::size_t(i)] = int(random() % 3);
        }
        counts[0] = 1;
        TPixelGraphic g;
        PaletteImage(g, palette, counts);
        const int wanted = 1 + int(random() % 40);
        TPixelGraphic target;
        target.SetSize(2, 2, bc8);
        target.CreateOptimalPalette(g, wanted, false);
        EXPECT_GE(target.PaletteCount(), 1);
        EXPECT_LE(target.PaletteCount(), wanted) << n;
    }
}

TEST(CreateOptimalPalette, InvalidSourceIndexRaises)
{
    TPixelGraphic g;
        PaletteImage(g, {Rgb(1, 2, 3), Rgb(4, 5, 6)}, {1, 1});
    g.SetPixel(0, 0, 9);
    TPixelGraphic target;
    target.SetSize(2, 1, bc8);
    EXPECT_THROW(target.CreateOptimalPalette(g, 8, false), EPGInvalidPaletteIndex);
}

TEST(ClampTable, ClampsItsWholeRange)
{
    const int* t = ClampTable();
    for (int v = -510; v <= 510; ++v)
        ASSERT_EQ(t[v], std::min(std::max(v, 0), 255)) << v;
}

// Sources whose colours fit the palette come through a conversion unchanged,
// dithered or not, and the palette holds exactly their colours in the order
// the rules give: first appearance for true colour, index order otherwise.
TEST(CreateOptimalPalette, ColoursThatFitConvertExactly)
{
    struct Row {
        const char* name;
        TBitCount sourceFormat;
        int colours;  // distinct colours in the source
        TBitCount targetFormat;
        int colorCount;
        bool reserve;
    };
    const Row rows[] = {
        {"2 colours to 256", bc24, 2, bc8, 252, true},
        {"240 colours to 256", bc24, 236, bc8, 252, true},
        {"16 to 16", bc24, 16, bc4, 16, false},
        {"2 to 2", bc24, 2, bc1, 2, false},
        {"near colours", bc24, 40, bc8, 256, false},
        {"palette source", bc8, 200, bc8, 252, true},
        {"palette with shared colours", bc8, 30, bc4, 16, false},
    };
    std::mt19937 random(5);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Colours one apart in a channel as well as far apart, in random order.
        std::vector<TRGB> colours;
        for (int i = 0; i < row.colours; ++i)
            colours.push_back(std::string(row.name) == "near colours" ? Rgb(100 + i % 2, 50 + i / 2 % 2, 7 + i / 4)
                                                                      : TRGB(random() & 0xFFFFFF));
        TPixelGraphic source;
        source.SetSize(37, 23, row.sourceFormat);
        std::vector<TRGB> expected;
        if (row.sourceFormat == bc24) {
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x) {
                    const TRGB c = colours[random() % colours.size()];
                    source.SetPixel(x, y, c);
                    if (std::find(expected.begin(), expected.end(), c) == expected.end())
                        expected.push_back(c);
                }
        } else {
            // Palette entries repeat every 15 indices in the shared case; index 255 stays unused.
            source.SetPaletteCount(256);
            for (int i = 0; i < 256; ++i)
                source.SetPaletteColor(i, row.colours == 30 ? colours[std::size_t(i % 15)] : colours[std::size_t(i % row.colours)]);
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x)
                    source.SetPixel(x, y, std::uint32_t(random() % std::uint32_t(row.colours)));
            std::vector<bool> used(256, false);
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x)
                    used[source.GetPixel(x, y)] = true;
            for (int i = 0; i < 256; ++i) {
                const TRGB c = source.GetPaletteColor(i);
                if (used[std::size_t(i)] && std::find(expected.begin(), expected.end(), c) == expected.end())
                    expected.push_back(c);
            }
        }
        TPixelGraphic target;
        target.SetSize(37, 23, row.targetFormat);
        target.CreateOptimalPalette(source, row.colorCount, row.reserve);
        const std::vector<TRGB> palette = PaletteOf(target);
        ASSERT_GE(palette.size(), expected.size());
        EXPECT_EQ(std::vector<TRGB>(palette.begin(), palette.begin() + std::ptrdiff_t(expected.size())), expected);
        for (const bool dither : {true, false}) {
            target.SetDither(dither);
            target.CopyFrom(source);
            int wrong = 0;
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x)
                    wrong += target.GetColor(x, y) != source.GetColor(x, y);
            EXPECT_EQ(wrong, 0) << "dither " << dither;
        }
    }
}
