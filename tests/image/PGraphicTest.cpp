#include "image/PGraphic.h"

#include "image/PGExceptions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>

using namespace rastova;

// What a fresh image does before anyone sets it up: it is empty; a size alone
// makes it hold any colour exactly; a damaged file read into it and a save that
// loses colours both ask with OK and Cancel; it stretches with the most
// precise mode.
TEST(PGraphic, FreshImageBehaviour)
{
    TPixelGraphic g;
    EXPECT_TRUE(g.GetEmpty());
    g.SetWidth(3);
    g.SetHeight(2);
    g.SetPixel(1, 1, 0x123456);
    EXPECT_EQ(g.GetColor(1, 1), TRGB(0x123456));

    TPixelGraphic photo;
    test::FillRandom(photo, 64, 64, bc24, 3);
    TMemoryStream jpeg;
    photo.SaveToStreamExt(jpeg, "jpg");
    const std::vector<std::uint8_t> half(jpeg.Data().begin(), jpeg.Data().begin() + jpeg.Size() / 2);
    test::TQuestionRecorder questions(qaOK);
    TPixelGraphic damaged;
    TMemoryStream in(half);
    damaged.LoadFromStreamExt(in, "jpg", 0);
    TMemoryStream bitmap;
    TPixelGraphic colourful;
    test::FillRandom(colourful, 4, 4, bc24, 4);
    colourful.SaveToStreamExt(bitmap, "pbm");
    EXPECT_EQ(questions.buttons, (std::vector<TQuestionButtons>{qbOKCancel, qbOKCancel}));

    TPixelGraphic source;
    test::FillRandom(source, 7, 5, bc24, 5);
    TPixelGraphic fresh, precise, fast;
    precise.SetStretchMode(smPrecise);
    fast.SetStretchMode(smFast);
    for (TPixelGraphic* target : {&fresh, &precise, &fast}) {
        target->SetSize(3, 2, bc24);
        target->StretchCopyRect(0, 0, 3, 2, source, 0, 0, 7, 5);
    }
    EXPECT_TRUE(test::SamePixels(fresh, precise));
    EXPECT_FALSE(test::SamePixels(fresh, fast)) << "the modes differ on this picture";
}

TEST(PGraphic, RowStrideAndImageSizeInEveryFormat)
{
    struct Row {
        int width, height;
        TBitCount format;
        int stride;
    };
    const Row rows[] = {{3, 2, bc1, 4},   {32, 1, bc1, 4},  {33, 1, bc1, 8}, {7, 3, bc4, 4}, {9, 1, bc4, 8},
                        {5, 2, bc8, 8},   {8, 1, bc8, 8},   {5, 1, bc24, 16}, {4, 2, bc24, 12}, {1, 1, bc24, 4}};
    for (const Row& r : rows) {
        TPixelGraphic g;
        g.SetSize(r.width, r.height, r.format);
        EXPECT_EQ(g.RowStride(), r.stride) << r.width << "x" << r.height << " format " << int(r.format);
        EXPECT_EQ(g.ImageSize(), r.stride * r.height);
        EXPECT_FALSE(g.GetEmpty());
    }
}

TEST(PGraphic, RowsAreStoredBottomUpBlueFirstLeftmostPixelInTheHighBits)
{
    TPixelGraphic g;
    g.SetSize(2, 2, bc24);
    g.SetPixel(0, 0, 255);  // pure red, top-left
    const std::uint8_t* lastStored = g.Bits() + g.RowStride();
    EXPECT_EQ(lastStored[0], 0);
    EXPECT_EQ(lastStored[1], 0);
    EXPECT_EQ(lastStored[2], 255);
    EXPECT_EQ(g.GetPixel(0, 0), 255u);
    EXPECT_EQ(g.ScanLine(0), lastStored);

    g.SetSize(10, 2, bc1);
    g.SetPixel(0, 1, 1);
    g.SetPixel(9, 1, 1);
    EXPECT_EQ(g.Bits()[0], 0x80);  // bottom row first, MSB leftmost
    EXPECT_EQ(g.Bits()[1], 0x40);
    g.SetPixel(0, 1, 2);  // only the value 1 sets a bit
    EXPECT_EQ(g.Bits()[0], 0x00);

    g.SetSize(3, 1, bc4);
    g.SetPixel(0, 0, 0xA);
    g.SetPixel(1, 0, 0x1B);  // only the low nibble is kept
    g.SetPixel(2, 0, 0x5);
    EXPECT_EQ(g.Bits()[0], 0xAB);
    EXPECT_EQ(g.Bits()[1], 0x50);
    EXPECT_EQ(g.GetPixel(1, 0), 0xBu);

    g.SetSize(2, 1, bc8);
    g.SetPixel(1, 0, 0x1FF);
    EXPECT_EQ(g.GetPixel(1, 0), 0xFFu);
}

TEST(PGraphic, OutOfRangeAccessIsIgnoredOrRaised)
{
    TPixelGraphic g;
    g.SetSize(2, 2, bc8);
    g.SetPaletteCount(4);
    g.SetBackGroundColor(0);
    const std::vector<std::uint8_t> before(g.Bits(), g.Bits() + g.ImageSize());
    for (const auto& [x, y] : {std::pair{-1, 0}, {0, -1}, {2, 0}, {0, 2}}) {
        EXPECT_EQ(g.GetPixel(x, y), 0u);
        g.SetPixel(x, y, 3);
    }
    EXPECT_EQ(std::vector<std::uint8_t>(g.Bits(), g.Bits() + g.ImageSize()), before);

    g.SetRaiseOnRangeError(true);
    EXPECT_THROW(g.GetPixel(-1, 0), EPGXYIndexOutOfRange);
    EXPECT_THROW(g.SetPixel(0, 2, 1), EPGXYIndexOutOfRange);
    try {
        g.GetPixel(5, 5);
    } catch (const EPixelGraphic& e) {
        EXPECT_STREQ(e.what(), "X, Y index out of range");
    }
}

TEST(PGraphic, SetSizeChecksAndReuse)
{
    TPixelGraphic g;
    try {
        g.SetSize(-1, -1, bc8);
        FAIL();
    } catch (const EPGInvalidSize& e) {
        EXPECT_STREQ(e.what(), "Negative width");  // width is tested first
    }
    try {
        g.SetSize(1, -1, bc8);
        FAIL();
    } catch (const EPGInvalidSize& e) {
        EXPECT_STREQ(e.what(), "Negative height");
    }

    g.SetSize(0, 5, bc8);
    EXPECT_TRUE(g.GetEmpty());
    EXPECT_EQ(g.Height(), 5);

    // Same size and format: the pixels are cleared to the background, not reallocated.
    g.SetSize(3, 3, bc8);
    g.SetPaletteCount(8);
    g.SetPixel(1, 1, 5);
    const std::uint8_t* bits = g.Bits();
    g.SetBackGroundColor(g.GetPaletteColor(0));
    g.SetSize(3, 3, bc8);
    EXPECT_EQ(g.Bits(), bits);
    EXPECT_EQ(g.GetPixel(1, 1), 0u);
    EXPECT_EQ(g.PaletteCount(), 8);
}

// A new geometry starts with zero bytes whether it reuses the memory of the
// pixels before (as a batch does, through an empty image while loading) or not.
TEST(PGraphic, NewGeometryStartsAtZeroWhateverMemoryItReuses)
{
    struct TStep {
        const char* what;
        int width, height;
        TBitCount format;
        bool throughEmpty;
    };
    const TStep steps[] = {
        {"turned", 30, 40, bc24, false},        {"same bytes through an empty image", 40, 30, bc24, true},
        {"a third as 8-bit", 40, 30, bc8, false}, {"far smaller", 4, 3, bc1, false},
        {"larger", 80, 60, bc24, true},         {"back to the start", 40, 30, bc24, true},
    };
    TPixelGraphic g;
    g.SetBackGroundColor(0x123456);
    g.SetSize(40, 30, bc24);
    for (const TStep& step : steps) {
        std::memset(g.Bits(), 0xAB, std::size_t(g.ImageSize()));
        if (step.throughEmpty) {
            g.SetSize(0, 0, bc24);
            EXPECT_TRUE(g.GetEmpty()) << step.what;
        }
        g.SetSize(step.width, step.height, step.format);
        ASSERT_FALSE(g.GetEmpty()) << step.what;
        const std::uint8_t* bits = g.Bits();
        EXPECT_TRUE(std::all_of(bits, bits + g.ImageSize(), [](std::uint8_t b) { return b == 0; })) << step.what;
    }
}

TEST(PGraphic, RefusedAllocationKeepsTheNewGeometryWithoutPixels)
{
    TPixelGraphic g;
    try {
        g.SetSize(3000000, 2000000, bc24);
        FAIL();
    } catch (const EPixelGraphic& e) {
        EXPECT_STREQ(e.what(), "CreateDIBSection failed");
    }
    EXPECT_TRUE(g.GetEmpty());
    EXPECT_EQ(g.Width(), 3000000);
    EXPECT_EQ(g.Height(), 2000000);
    EXPECT_GT(g.RowStride(), 0);
    // A row stride that alone exceeds 32 bits must not wrap either.
    EXPECT_THROW(g.SetSize(0x7FFFFFFF, 1, bc24), EPixelGraphic);
}

TEST(PGraphic, ClearFillsEveryFormatWithTheBackground)
{
    for (const TBitCount format : {bc1, bc4, bc8, bc24}) {
        TPixelGraphic g;
        g.SetUseColorCache(false);  // exact search: neighbouring test colours share cache cells
        g.SetSize(13, 3, format);
        if (format != bc24) {
            g.SetPaletteCount(g.PaletteCapacity());
            for (int i = 0; i < g.PaletteCapacity(); ++i)
                g.SetPaletteColor(i, RGBValue(std::uint8_t(i), 7, 7));
        }
        const TRGB colour = format == bc24 ? RGBValue(1, 2, 3) : RGBValue(1, 7, 7);
        g.SetBackGroundColor(colour);
        g.Clear();
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 13; ++x)
                ASSERT_EQ(g.GetColor(x, y), colour) << "format " << int(format);
    }
}

TEST(PGraphic, PaletteRules)
{
    TPixelGraphic g;
    g.SetSize(2, 2, bc24);
    EXPECT_EQ(g.GetPaletteColor(7), 7u);
    EXPECT_THROW(g.SetPaletteColor(0, 0), EPGNoPalette);

    g.SetSize(2, 2, bc8);
    g.SetPaletteCount(256);
    EXPECT_EQ(g.PaletteIdent(), pUnknown);
    EXPECT_THROW(g.GetPaletteColor(256), EPGInvalidPaletteIndex);
    EXPECT_THROW(g.SetPaletteColor(-1, 0), EPGInvalidPaletteIndex);
    for (int i = 0; i < 256; ++i)
        g.SetPaletteColor(i, TRGB(i * 0x010101));
    g.SetBitCount(bc4);
    EXPECT_EQ(g.PaletteCount(), 16);  // truncated to the new capacity
    EXPECT_EQ(g.GetPaletteColor(15), TRGB(15 * 0x010101));
    g.SetBitCount(bc24);
    EXPECT_EQ(g.PaletteCount(), 0);
    EXPECT_EQ(g.PaletteIdent(), pTrueColor);

    g.SetSize(1, 1, bc1);
    g.SetPaletteCount(2);
    g.SetPaletteCount(0);
    EXPECT_EQ(g.PaletteIdent(), pNone);
    EXPECT_THROW(g.SetPaletteColor(0, 0), EPGNoPalette);
}

TEST(PGraphic, BitmapInfoMirrorsThePalette)
{
    TPixelGraphic g;
    g.SetSize(3, 2, bc4);
    g.SetPaletteCount(2);
    g.SetPaletteColor(0, RGBValue(10, 20, 30));
    g.SetPaletteColor(1, RGBValue(40, 50, 60));
    const std::vector<std::uint8_t> info = g.BitmapInfo();
    ASSERT_EQ(info.size(), 40u + 16 * 4);
    EXPECT_EQ(info[14], 4);                       // bit count
    EXPECT_EQ(info[32], 2);                       // colours used follows the palette count
    EXPECT_EQ(info[20], std::uint8_t(g.ImageSize()));
    EXPECT_EQ(info[40], 30);                      // blue, green, red, 0
    EXPECT_EQ(info[42], 10);
    EXPECT_EQ(info[44 + 2], 40);
    EXPECT_EQ(info[40 + 4 * 7 + 0], 30);          // entries past the palette repeat entry 0
}

TEST(PGraphic, AssignCopiesPixelsPaletteAndSettingsButNotEvents)
{
    TPixelGraphic source;
    test::FillRandom(source, 7, 5, bc4, 42);
    source.SetGamma(2.2L);
    source.SetDither(false);
    source.SetStretchMode(smFast);
    source.SetTransparent(true);
    source.SetTransparentColor(0x123456);
    source.SetJPEGFastDCT(true);
    source.SetOnChange([](TObject*) {});

    TPixelGraphic copy;
    int changes = 0;
    copy.SetOnChange([&changes](TObject*) { ++changes; });
    copy.Assign(&source);
    std::string why;
    EXPECT_TRUE(test::SamePixels(source, copy, &why)) << why;
    EXPECT_DOUBLE_EQ(double(copy.Gamma()), 2.2);
    EXPECT_FALSE(copy.Dither());
    EXPECT_EQ(copy.StretchMode(), smFast);
    EXPECT_TRUE(copy.Transparent());
    EXPECT_EQ(copy.TransparentColor(), 0x123456u);
    EXPECT_FALSE(copy.JPEGFastDCT());
    EXPECT_EQ(changes, 1);  // one notification for the whole assignment

    copy.Assign(nullptr);
    EXPECT_TRUE(copy.GetEmpty());
    EXPECT_EQ(copy.BitCount(), bc24);
}

TEST(PGraphic, ChangeNotificationRespectsTheUpdateBracket)
{
    TPixelGraphic g;
    std::vector<TObject*> senders;
    g.SetOnChange([&senders](TObject* sender) { senders.push_back(sender); });
    g.BeginUpdate();
    g.SetSize(4, 4, bc8);
    g.Clear();
    g.BeginUpdate();
    g.EndUpdate();
    EXPECT_TRUE(senders.empty());
    g.EndUpdate();
    ASSERT_EQ(senders.size(), 1u);
    EXPECT_EQ(senders[0], &g);
    g.SetPixel(0, 0, 1);  // per-pixel setters stay silent
    EXPECT_EQ(senders.size(), 1u);
}

TEST(PGraphic, BitCountNumbers)
{
    EXPECT_EQ(TPixelGraphic::BitCountFromNum(4), bc4);
    try {
        TPixelGraphic::BitCountFromNum(16);
        FAIL();
    } catch (const EPGInvalidBitCountNum& e) {
        EXPECT_STREQ(e.what(), "Invalid value for BitCountNum");
    }
}
