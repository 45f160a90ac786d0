#include "formats/Gif.h"
#include "formats/GifTestEncoder.h"
#include "formats/Register.h"
#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/PGSettings.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <typeinfo>

namespace rastova {
namespace {

using test::InterlacedRowOrder;
using test::TGifFileBuilder;
using test::TTestFrame;

std::vector<TRGB> RandomTable(int bits, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<TRGB> table(std::size_t(1) << bits);
    for (TRGB& c : table)
        c = random() & 0xFFFFFF;
    return table;
}

// Indices from lowest to 2^bits - 1.
TTestFrame RandomFrame(int width, int height, int bits, std::uint32_t seed, int lowest = 0)
{
    std::mt19937 random(seed);
    TTestFrame f;
    f.width = width;
    f.height = height;
    f.indices.resize(std::size_t(width) * std::size_t(height));
    const int span = (1 << bits) - lowest;
    for (std::uint8_t& v : f.indices)
        v = std::uint8_t(lowest + int(random() % unsigned(span)));
    f.lzw.minCodeSize = std::max(2, bits);
    return f;
}

// With load-time flattening, as these tests look at the frame's palette: the
// transparent entry then shows the background (by default it becomes alpha).
void LoadGif(const std::vector<std::uint8_t>& bytes, int index, TPixelGraphic& image)
{
    TMemoryStream stream(bytes);
    TPGSettings settings = DefaultSettings();
    settings.FlattenAlphaOnLoad = true;
    image.LoadFromStreamExt(stream, "gif", index, settings);
}

TFileInfo InfoOf(const std::vector<std::uint8_t>& bytes, int index)
{
    return test::InfoWith<tGifFileFormatReader>(bytes, index);
}

using test::MessageOf;

TBitCount FormatOfBits(int bits)
{
    return bits <= 1 ? bc1 : bits <= 4 ? bc4 : bc8;
}

void ExpectFrame(const TPixelGraphic& image, const TTestFrame& f, const std::vector<TRGB>& table, int bits)
{
    ASSERT_EQ(image.Width(), f.width);
    ASSERT_EQ(image.Height(), f.height);
    EXPECT_EQ(image.BitCount(), FormatOfBits(bits));
    ASSERT_EQ(image.PaletteCount(), 1 << bits);
    for (int i = 0; i < (1 << bits); ++i)
        ASSERT_EQ(image.PaletteColors()[i], table[std::size_t(i)]) << "palette entry " << i;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
            ASSERT_EQ(image.GetPixel(x, y), f.indices[std::size_t(y) * std::size_t(f.width) + std::size_t(x)])
                << "pixel " << x << ", " << y;
}

// ---- round trips through a plain LZW encoder --------------------------------------

struct TRoundTrip {
    int bits;
    bool local;
    bool interlaced;
    int subBlockSize;
    int clearEvery;
    bool deferredClear;
    int minCodeSize;  // 0: the usual max(2, bits)
    int width;
    int height;
};

std::string RoundTripName(const testing::TestParamInfo<TRoundTrip>& info)
{
    const TRoundTrip& c = info.param;
    return "bits" + std::to_string(c.bits) + (c.local ? "_local" : "_global") + (c.interlaced ? "_interlaced" : "") +
           "_block" + std::to_string(c.subBlockSize) + (c.clearEvery ? "_clear" + std::to_string(c.clearEvery) : "") +
           (c.deferredClear ? "_deferred" : "") + (c.minCodeSize ? "_min" + std::to_string(c.minCodeSize) : "") +
           "_" + std::to_string(c.width) + "x" + std::to_string(c.height);
}

std::vector<TRoundTrip> RoundTripCases()
{
    std::vector<TRoundTrip> cases;
    for (int bits = 1; bits <= 8; ++bits) {
        cases.push_back({bits, false, false, 255, 0, false, 0, 37, 23});
        cases.push_back({bits, true, true, 255, 0, false, 0, 41, 19});
        // Sub-blocks of one byte: a 12-bit code straddles three of them.
        cases.push_back({bits, true, false, 1, 0, false, 0, 64, 48});
        cases.push_back({bits, false, true, 7, 29, false, 0, 33, 31});
    }
    // Enough random pixels to fill the table several times over.
    cases.push_back({8, false, false, 255, 0, false, 0, 160, 120});
    cases.push_back({8, true, true, 5, 0, false, 0, 150, 101});
    // A full table kept in use at 12 bits without a clear code.
    cases.push_back({8, false, false, 255, 0, true, 0, 160, 120});
    cases.push_back({2, false, false, 255, 0, true, 0, 300, 200});
    // A code size larger than the table needs.
    cases.push_back({1, false, false, 255, 0, false, 8, 50, 10});
    cases.push_back({3, true, false, 255, 0, false, 11, 50, 10});
    // Below the standard's minimum of 2: the first code already fills the
    // table to its limit, and the code size must grow with it.
    cases.push_back({1, false, false, 255, 0, false, 1, 90, 70});
    cases.push_back({1, true, true, 3, 0, true, 1, 200, 150});
    return cases;
}

class GifRoundTrip : public testing::TestWithParam<TRoundTrip> {};

TEST_P(GifRoundTrip, DecodesEveryPixelAndTheTable)
{
    const TRoundTrip& c = GetParam();
    TTestFrame f = RandomFrame(c.width, c.height, c.bits, std::uint32_t(c.bits * 131 + c.width));
    f.interlaced = c.interlaced;
    f.lzw.subBlockSize = c.subBlockSize;
    f.lzw.clearEvery = c.clearEvery;
    f.lzw.deferredClear = c.deferredClear;
    if (c.minCodeSize)
        f.lzw.minCodeSize = c.minCodeSize;
    const std::vector<TRGB> table = RandomTable(c.bits, std::uint32_t(c.width));
    // The global table of a file with a local one is a decoy of another size.
    const int globalBits = c.local ? (c.bits % 8) + 1 : c.bits;
    TGifFileBuilder gif(c.width, c.height, globalBits, c.local ? RandomTable(globalBits, 7) : table);
    if (c.local) {
        f.localBits = c.bits;
        f.localTable = table;
    }
    gif.Frame(f).Trailer();
    TPixelGraphic image;
    LoadGif(gif.Data(), 0, image);
    ExpectFrame(image, f, table, c.bits);
}

INSTANTIATE_TEST_SUITE_P(Cases, GifRoundTrip, testing::ValuesIn(RoundTripCases()), RoundTripName);

// ---- frames, GetInfo and the edge cases of the file structure ------------------------------

struct TThreeFrames {
    std::vector<std::uint8_t> bytes;
    std::vector<TTestFrame> frames;
    std::vector<std::vector<TRGB>> tables;
    std::vector<int> bits;
};

// Frame 0: 256 colours global, frame 1: 16-entry local table, interlaced,
// frame 2: 4-entry local table, with extensions around them.
TThreeFrames ThreeFrames()
{
    TThreeFrames t;
    t.bits = {8, 4, 2};
    const int sizes[3][2] = {{40, 30}, {23, 17}, {9, 12}};
    for (int i = 0; i < 3; ++i) {
        t.frames.push_back(RandomFrame(sizes[i][0], sizes[i][1], t.bits[std::size_t(i)], std::uint32_t(10 + i)));
        t.tables.push_back(RandomTable(t.bits[std::size_t(i)], std::uint32_t(20 + i)));
    }
    t.frames[1].interlaced = true;
    for (int i = 1; i < 3; ++i) {
        t.frames[std::size_t(i)].localBits = t.bits[std::size_t(i)];
        t.frames[std::size_t(i)].localTable = t.tables[std::size_t(i)];
    }
    TGifFileBuilder gif(40, 30, 8, t.tables[0]);
    gif.Netscape().GraphicControl().Frame(t.frames[0]).Comment("second").GraphicControl(3).Frame(t.frames[1]);
    gif.GraphicControl().Frame(t.frames[2]).Trailer();
    t.bytes = gif.Data();
    return t;
}

// Frame i's table as the image shows it: each frame's graphic control marks
// one transparent entry, which takes the background.
std::vector<TRGB> ShownTable(const TThreeFrames& t, int i, TRGB background)
{
    const int transparent[3] = {0, 3, 0};
    std::vector<TRGB> table = t.tables[std::size_t(i)];
    table[std::size_t(transparent[i])] = background;
    return table;
}

TEST(GifReader, EachFrameAtItsOwnSizeWithItsOwnTable)
{
    const TThreeFrames t = ThreeFrames();
    const TRGB background = RGBValue(12, 34, 56);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        TPixelGraphic image;
        image.SetBackGroundColor(background);
        LoadGif(t.bytes, i, image);
        ExpectFrame(image, t.frames[std::size_t(i)], ShownTable(t, i, background), t.bits[std::size_t(i)]);
    }
}

// The transparent index shows BackGroundColor, for the one image its graphic
// control extension precedes and only when the extension's flag says so.
TEST(GifReader, TransparentIndexTakesTheBackground)
{
    const TRGB background = RGBValue(200, 100, 50);
    const std::vector<TRGB> table = RandomTable(3, 77);
    struct Row {
        const char* name;
        std::vector<std::uint8_t> control;  // raw extension before the first frame
        int index;                          // frame read
        int transparent;                    // entry that shows the background; -1 none
    };
    const Row rows[] = {
        {"flag set", {0x21, 0xF9, 4, 1, 0, 0, 5, 0}, 0, 5},
        {"flag clear", {0x21, 0xF9, 4, 0, 0, 0, 5, 0}, 0, -1},
        {"next image only", {0x21, 0xF9, 4, 1, 0, 0, 5, 0}, 1, -1},
        {"disposal bits around the flag", {0x21, 0xF9, 4, 0x09, 0, 0, 7, 0}, 0, 7},
    };
    for (const Row& row : rows) {
        TGifFileBuilder gif(6, 4, 3, table);
        gif.Raw(row.control).Frame(RandomFrame(6, 4, 3, 1)).Frame(RandomFrame(6, 4, 3, 2)).Trailer();
        TPixelGraphic image;
        image.SetBackGroundColor(background);
        LoadGif(gif.Data(), row.index, image);
        ASSERT_EQ(image.PaletteCount(), 8) << row.name;
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(image.PaletteColors()[i], i == row.transparent ? background : table[std::size_t(i)])
                << row.name << " entry " << i;
    }
}

TEST(GifReader, GetInfoReportsRequestedSizeAndLastFramesColours)
{
    const TThreeFrames t = ThreeFrames();
    const TFileInfo first = InfoOf(t.bytes, 0);
    EXPECT_EQ(first.Width, 40);
    EXPECT_EQ(first.Height, 30);
    EXPECT_EQ(first.ImageCount, 3);
    EXPECT_EQ(first.BitsPerPixel, 2);
    EXPECT_EQ(first.ColorsText, "4");
    EXPECT_EQ(first.SubFormatText, "89a");
    EXPECT_EQ(first.ExtraText, "Interlaced");
    const TFileInfo second = InfoOf(t.bytes, 1);
    EXPECT_EQ(second.Width, 23);
    EXPECT_EQ(second.Height, 17);

    // Two frames, 256 colours then 16: the last one's colours count.
    TTestFrame a = RandomFrame(8, 6, 8, 1);
    TTestFrame b = RandomFrame(5, 4, 4, 2);
    b.localBits = 4;
    b.localTable = RandomTable(4, 3);
    TGifFileBuilder gif(8, 6, 8, RandomTable(8, 4), "87a");
    gif.Frame(a).Frame(b).Trailer();
    const TFileInfo info = InfoOf(gif.Data(), 0);
    EXPECT_EQ(info.ImageCount, 2);
    EXPECT_EQ(info.Width, 8);
    EXPECT_EQ(info.Height, 6);
    EXPECT_EQ(info.BitsPerPixel, 4);
    EXPECT_EQ(info.ColorsText, "16");
    EXPECT_EQ(info.SubFormatText, "87a");
    EXPECT_EQ(info.ExtraText, "Non-interlaced");
}

TEST(GifReader, TableSizeGivesPixelFormat)
{
    for (const int bits : {1, 2, 3, 4, 5, 8}) {
        SCOPED_TRACE(bits);
        TTestFrame f = RandomFrame(6, 5, bits, 5);
        f.localBits = bits;
        f.localTable = RandomTable(bits, 6);
        TGifFileBuilder gif(6, 5, 0, {});
        gif.Frame(f).Trailer();
        TPixelGraphic image;
        LoadGif(gif.Data(), 0, image);
        ExpectFrame(image, f, f.localTable, bits);
    }
}

TEST(GifReader, NoColourTableGivesOneBlackEntry)
{
    TTestFrame f = RandomFrame(9, 3, 1, 8);
    TGifFileBuilder gif(9, 3, 0, {});
    gif.Frame(f).Trailer();
    TPixelGraphic image;
    LoadGif(gif.Data(), 0, image);
    EXPECT_EQ(image.BitCount(), bc1);
    // The pixels use index 1 too, so the one black entry is joined by a second.
    ASSERT_EQ(image.PaletteCount(), 2);
    EXPECT_EQ(image.PaletteColors()[0], 0u);
    EXPECT_EQ(image.PaletteColors()[1], 0u);
    const TFileInfo info = InfoOf(gif.Data(), 0);
    EXPECT_EQ(info.BitsPerPixel, 0);
    EXPECT_EQ(info.ColorsText, "1");
}

// A frame without a table of its own uses the global table at the global
// table's size, whatever larger local tables came before it.
TEST(GifReader, FrameWithoutLocalTableUsesTheGlobalTablesOwnSize)
{
    const std::vector<TRGB> global = RandomTable(1, 30);
    TTestFrame big = RandomFrame(7, 7, 8, 31);
    big.localBits = 8;
    big.localTable = RandomTable(8, 32);
    const TTestFrame plain = RandomFrame(5, 3, 1, 33);
    TGifFileBuilder gif(7, 7, 1, global);
    gif.Frame(big).Frame(plain).Trailer();
    TPixelGraphic image;
    LoadGif(gif.Data(), 1, image);
    ExpectFrame(image, plain, global, 1);
    const TFileInfo info = InfoOf(gif.Data(), 0);
    EXPECT_EQ(info.BitsPerPixel, 1);
    EXPECT_EQ(info.ColorsText, "2");
}

struct TBlockCase {
    const char* name;
    std::vector<std::uint8_t> block;  // placed between frame 0 and frame 1
    int framesSeen;
};

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list)
{
    std::vector<std::uint8_t> out;
    for (const int v : list)
        out.push_back(std::uint8_t(v));
    return out;
}

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::string& text, const std::vector<std::uint8_t>& b)
{
    a.insert(a.end(), text.begin(), text.end());
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(GifReader, ExtensionsAreSteppedOverAndUnknownBlocksEndTheParse)
{
    const std::vector<TBlockCase> cases = {
        {"graphic control", Bytes({0x21, 0xF9, 4, 0, 0, 0, 0, 0}), 2},
        {"comment", Concat(Bytes({0x21, 0xFE, 3}), "abc", Bytes({2, 'd', 'e', 0})), 2},
        {"plain text", Concat(Bytes({0x21, 0x01, 12}), "0123456789ab", Bytes({4, 'T', 'e', 'x', 't', 0})), 2},
        {"netscape loop", Concat(Bytes({0x21, 0xFF, 11}), "NETSCAPE2.0", Bytes({3, 1, 0, 0, 0})), 2},
        {"other application", Concat(Bytes({0x21, 0xFF, 11}), "XMP DataXMP", Bytes({2, 1, 2, 5, 1, 2, 3, 4, 5, 0})), 2},
        {"netscape 2.0 spelled otherwise", Concat(Bytes({0x21, 0xFF, 11}), "NETSCAPE2.1", Bytes({5, 1, 2, 3, 4, 5, 0})), 2},
        // Every extension is stepped over by its sub-blocks, whatever their sizes and labels.
        {"netscape with a longer sub-block", Concat(Bytes({0x21, 0xFF, 11}), "NETSCAPE2.0", Bytes({5, 2, 0, 0, 1, 0, 0})), 2},
        {"unknown label", Bytes({0x21, 0x2A, 1, 0, 0}), 2},
        {"longer graphic control", Bytes({0x21, 0xF9, 6, 0, 0, 0, 0, 0, 0, 0}), 2},
        {"netscape without sub-blocks", Concat(Bytes({0x21, 0xFF, 11}), "NETSCAPE2.0", Bytes({0})), 2},
        {"stray byte", Bytes({0x42}), 1},
        // Zero bytes after image data are stepped over with it.
        {"padding zeros", Bytes({0x00, 0x00}), 2},
    };
    const TTestFrame f0 = RandomFrame(4, 4, 2, 40);
    const TTestFrame f1 = RandomFrame(6, 2, 2, 41);
    const std::vector<TRGB> table = RandomTable(2, 42);
    for (const TBlockCase& c : cases) {
        SCOPED_TRACE(c.name);
        TGifFileBuilder gif(6, 4, 2, table);
        gif.Frame(f0).Raw(c.block).Frame(f1).Trailer();
        EXPECT_EQ(InfoOf(gif.Data(), 0).ImageCount, c.framesSeen);
        TPixelGraphic image;
        if (c.framesSeen == 2) {
            LoadGif(gif.Data(), 1, image);
            ExpectFrame(image, f1, table, 2);
        } else {
            EXPECT_EQ(MessageOf([&] { LoadGif(gif.Data(), 1, image); }), "Index out of bounds");
        }
    }
}

TEST(GifReader, RefusalsCarryTheFixedMessages)
{
    const TThreeFrames t = ThreeFrames();
    TPixelGraphic image;
    EXPECT_EQ(MessageOf([&] { LoadGif(t.bytes, 3, image); }), "Index out of bounds");
    EXPECT_EQ(MessageOf([&] { LoadGif(t.bytes, -1, image); }), "Index out of bounds");
    EXPECT_EQ(MessageOf([&] { InfoOf(t.bytes, 3); }), "Index out of bounds");
    EXPECT_EQ(MessageOf([&] { InfoOf(t.bytes, -1); }), "Index out of bounds");

    tGifFileFormatReader reader;
    const std::vector<std::uint8_t> notGif = Bytes({'G', 'I', 'X', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0});
    TMemoryStream s1(notGif);
    EXPECT_EQ(MessageOf([&] { reader.Read(s1, image, 0); }), "Index out of bounds");
    EXPECT_EQ(MessageOf([&] { InfoOf(notGif, 0); }), "Not a proper GIF file");
    EXPECT_EQ(MessageOf([&] { InfoOf({}, 0); }), "Not a proper GIF file");

    // Header, screen, then a byte that starts no block: no images.
    TGifFileBuilder gif(4, 4, 1, RandomTable(1, 1));
    gif.Raw({0x42}).Frame(RandomFrame(4, 4, 1, 2));
    EXPECT_EQ(MessageOf([&] { InfoOf(gif.Data(), 0); }), "Index out of bounds");

    // Each one is the library's base class itself.
    try {
        InfoOf(notGif, 0);
        FAIL();
    } catch (const EPixelGraphic& e) {
        EXPECT_EQ(typeid(e), typeid(EPixelGraphic));
    }
}

// ---- progress ------------------------------------------------------------------------

TFileFormatReader& RegisteredGifReader()
{
    for (const auto& reader : FileFormatReaders())
        if (reader->Extension == "gif")
            return *reader;
    throw std::runtime_error("no gif reader");
}

// Rows completed at each progress step, found by scanning for rows whose
// pixels (all non-zero in the source) have arrived.
std::vector<int> RowsInProgressOrder(const TTestFrame& f)
{
    TGifFileBuilder gif(f.width, f.height, 4, RandomTable(4, 50));
    gif.Frame(f).Trailer();
    TPixelGraphic image;
    std::vector<bool> seen(std::size_t(f.height), false);
    std::vector<int> order;
    TObject* const expectedSender = &RegisteredGifReader();
    int starts = 0;
    int ends = 0;
    image.SetOnProgressStart([&](TObject* sender) {
        EXPECT_EQ(sender, expectedSender);
        ++starts;
    });
    image.SetOnProgressEnd([&](TObject* sender) {
        EXPECT_EQ(sender, expectedSender);
        ++ends;
    });
    image.SetOnProgress([&](TObject* sender, int step, int max, bool&) {
        EXPECT_EQ(sender, expectedSender);
        EXPECT_EQ(step, int(order.size()) + 1);
        EXPECT_EQ(max, f.height - 1);
        for (int y = 0; y < f.height; ++y) {
            if (seen[std::size_t(y)] || image.GetPixel(f.width - 1, y) == 0)
                continue;
            seen[std::size_t(y)] = true;
            order.push_back(y);
        }
    });
    LoadGif(gif.Data(), 0, image);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(ends, 1);
    return order;
}

TEST(GifReader, InterlacedRowsArriveInPassOrder)
{
    TTestFrame f = RandomFrame(3, 10, 4, 60, 1);
    f.interlaced = true;
    EXPECT_EQ(RowsInProgressOrder(f), (std::vector<int>{0, 8, 4, 2, 6, 1, 3, 5, 7, 9}));
    TTestFrame two = RandomFrame(5, 2, 4, 61, 1);
    two.interlaced = true;
    EXPECT_EQ(RowsInProgressOrder(two), (std::vector<int>{0, 1}));
    TTestFrame plain = RandomFrame(4, 5, 4, 62, 1);
    EXPECT_EQ(RowsInProgressOrder(plain), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(GifReader, AbortAfterFirstRowKeepsTheRestAtZero)
{
    const TTestFrame f = RandomFrame(12, 8, 4, 70, 1);
    TGifFileBuilder gif(12, 8, 4, RandomTable(4, 71));
    gif.Frame(f).Frame(f).Trailer();
    TPixelGraphic image;
    int calls = 0;
    int ends = 0;
    image.SetOnProgress([&](TObject*, int, int, bool& abort) {
        ++calls;
        abort = true;
    });
    image.SetOnProgressEnd([&](TObject*) { ++ends; });
    LoadGif(gif.Data(), 0, image);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ends, 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(image.GetPixel(x, y), y == 0 ? f.indices[std::size_t(x)] : 0u) << x << ", " << y;
}

TEST(GifReader, ProgressEndAlsoFiresOnRefusal)
{
    TPixelGraphic image;
    int starts = 0;
    int ends = 0;
    image.SetOnProgressStart([&](TObject*) { ++starts; });
    image.SetOnProgressEnd([&](TObject*) { ++ends; });
    tGifFileFormatReader reader;
    TMemoryStream stream(Bytes({'G', 'I', 'F'}));
    EXPECT_THROW(reader.Read(stream, image, 0), EPixelGraphic);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(ends, 1);
}

// ---- damaged files -----------------------------------------------------------------

// Every cut of a two-frame file: no error outside the family; once frame 0's
// descriptor is complete it loads, with the pixels that arrived exactly those
// of the source in decoding order and the rest still zero.
TEST(GifReader, TruncatedFileLoadsThePixelsThatArrived)
{
    TTestFrame f0 = RandomFrame(21, 13, 4, 80, 1);
    f0.interlaced = true;
    f0.lzw.subBlockSize = 17;
    const TTestFrame f1 = RandomFrame(5, 5, 4, 81, 1);
    const std::vector<TRGB> table = RandomTable(4, 82);
    TGifFileBuilder gif(21, 13, 4, table);
    gif.GraphicControl();
    const std::size_t descriptorEnd = gif.Data().size() + 10;
    gif.Frame(f0).Frame(f1).Trailer();
    const std::vector<std::uint8_t> full = gif.Data();
    const std::vector<int> rows = InterlacedRowOrder(f0.height);
    std::size_t lastArrived = 0;
    for (std::size_t n = 0; n <= full.size(); ++n) {
        SCOPED_TRACE(n);
        const std::vector<std::uint8_t> cut(full.begin(), full.begin() + std::ptrdiff_t(n));
        TPixelGraphic image;
        const std::string error = MessageOf([&] { LoadGif(cut, 0, image); });
        if (n < descriptorEnd) {
            // Under three bytes the content names no reader at all.
            EXPECT_EQ(error, n < 3 ? "Unknown file format" : "Index out of bounds");
            EXPECT_EQ(MessageOf([&] { InfoOf(cut, 0); }), n < 3 ? "Not a proper GIF file" : "Index out of bounds");
            continue;
        }
        ASSERT_EQ(error, "(nothing raised)");
        ASSERT_EQ(image.Width(), f0.width);
        std::size_t arrived = 0;
        bool gap = false;
        for (const int y : rows) {
            for (int x = 0; x < f0.width; ++x) {
                const std::uint32_t got = image.GetPixel(x, y);
                if (got == 0) {
                    gap = true;
                    continue;
                }
                ASSERT_FALSE(gap) << "pixel after a gap at " << x << ", " << y;
                ASSERT_EQ(got, f0.indices[std::size_t(y) * 21 + std::size_t(x)]);
                ++arrived;
            }
        }
        EXPECT_GE(arrived, lastArrived);
        lastArrived = arrived;
        EXPECT_NO_THROW(InfoOf(cut, 0));
    }
    EXPECT_EQ(lastArrived, f0.indices.size());
}

std::vector<std::uint8_t> FrameWithMinCodeSize(int minCodeSize)
{
    // Descriptor of a 4x3 frame, then data that no decoder with 4096-entry tables can take.
    std::vector<std::uint8_t> out{0x2C, 0, 0, 0, 0, 4, 0, 3, 0, 0, std::uint8_t(minCodeSize), 4, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    return out;
}

TEST(GifReader, CodeSizeAbove11EndsOnlyThatFrame)
{
    const TTestFrame next = RandomFrame(7, 2, 2, 90);
    const std::vector<TRGB> table = RandomTable(2, 91);
    for (const int m : {12, 13, 255}) {
        SCOPED_TRACE(m);
        TGifFileBuilder gif(7, 3, 2, table);
        gif.Raw(FrameWithMinCodeSize(m)).Frame(next).Trailer();
        TPixelGraphic image;
        LoadGif(gif.Data(), 0, image);
        ASSERT_EQ(image.Width(), 4);
        ASSERT_EQ(image.Height(), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(image.GetPixel(x, y), 0u);
        LoadGif(gif.Data(), 1, image);
        ExpectFrame(image, next, table, 2);
    }
}

// Codes that make entry 7 its own prefix; expanding it again would push
// forever. Decoding of that frame ends, the next frame is still read.
TEST(GifReader, EndlessCodeChainEndsOnlyThatFrame)
{
    test::TGifBitWriter bits;
    bits.Put(4, 3);  // clear
    bits.Put(0, 3);  // first pixel 0
    bits.Put(7, 3);  // not yet defined: 0 0, entry 6 = 0 0
    bits.Put(1, 3);  // pixel 1; entry 7 = prefix 7, suffix 1
    bits.Put(7, 4);  // 7 -> 7 -> 7 ...
    for (int i = 0; i < 40; ++i)
        bits.Put(1, 4);
    std::vector<std::uint8_t> frame{0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0, 2};
    const std::vector<std::uint8_t> blocks = test::SubBlocks(bits.Finish(), 255);
    frame.insert(frame.end(), blocks.begin(), blocks.end());
    const TTestFrame next = RandomFrame(3, 3, 2, 100);
    const std::vector<TRGB> table = RandomTable(2, 101);
    TGifFileBuilder gif(4, 4, 2, table);
    gif.Raw(frame).Frame(next).Trailer();
    TPixelGraphic image;
    LoadGif(gif.Data(), 0, image);
    const std::uint32_t expected[16] = {0, 0, 0, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(image.GetPixel(i % 4, i / 4), expected[i]) << i;
    LoadGif(gif.Data(), 1, image);
    ExpectFrame(image, next, table, 2);
}

TEST(GifReader, EmptyFrameLoadsEmptyAndParsingGoesOn)
{
    TTestFrame empty = RandomFrame(0, 5, 2, 110);
    const TTestFrame next = RandomFrame(3, 3, 2, 111);
    const std::vector<TRGB> table = RandomTable(2, 112);
    TGifFileBuilder gif(4, 5, 2, table);
    gif.Frame(empty).Frame(next).Trailer();
    TPixelGraphic image;
    LoadGif(gif.Data(), 0, image);
    EXPECT_TRUE(image.GetEmpty());
    LoadGif(gif.Data(), 1, image);
    ExpectFrame(image, next, table, 2);
}

TEST(GifReader, LoadsByFileNameAndIndex)
{
    const TThreeFrames t = ThreeFrames();
    test::TTempDir dir;
    test::WriteAll(dir.File("anim.gif"), t.bytes);
    test::WriteAll(dir.File("named.bmp"), t.bytes);
    TPixelGraphic image;
    TPGSettings flattening = DefaultSettings();  // the palette form, as LoadGif
    flattening.FlattenAlphaOnLoad = true;
    image.LoadFromFileIndex(dir.File("anim.gif"), 2, flattening);
    ExpectFrame(image, t.frames[2], ShownTable(t, 2, 0), 2);
    image.LoadFromFile(dir.File("named.bmp"), flattening);
    ExpectFrame(image, t.frames[0], ShownTable(t, 0, 0), 8);
}

// ---- one reader, two threads ----------------------------------------------------------

TEST(GifReader, TwoThreadsReadTwoFilesAtOnce)
{
    const TThreeFrames a = ThreeFrames();
    TTestFrame bf = RandomFrame(90, 70, 8, 120);
    bf.interlaced = true;
    bf.lzw.clearEvery = 300;
    TGifFileBuilder gb(90, 70, 8, RandomTable(8, 121));
    gb.Frame(bf).Trailer();
    const std::vector<std::uint8_t> b = gb.Data();

    std::vector<TPixelGraphic> expectedA(3);
    for (int i = 0; i < 3; ++i)
        LoadGif(a.bytes, i, expectedA[std::size_t(i)]);
    TPixelGraphic expectedB;
    LoadGif(b, 0, expectedB);

    std::atomic<int> mismatches{0};
    std::thread first([&] {
        for (int round = 0; round < 60; ++round) {
            TPixelGraphic image;
            LoadGif(a.bytes, round % 3, image);
            TFileInfo info;
            TMemoryStream stream(a.bytes);
            RegisteredGifReader().GetInfo(stream, round % 3, info);
            if (!test::SamePixels(image, expectedA[std::size_t(round % 3)]) || info.Width != image.Width())
                ++mismatches;
        }
    });
    std::thread second([&] {
        for (int round = 0; round < 60; ++round) {
            TPixelGraphic image;
            LoadGif(b, 0, image);
            TFileInfo info;
            TMemoryStream stream(b);
            RegisteredGifReader().GetInfo(stream, 0, info);
            if (!test::SamePixels(image, expectedB) || info.Width != 90 || info.ImageCount != 1)
                ++mismatches;
        }
    });
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
}


// The transparent entry and the entries pixels name beyond a short table are
// added to the palette as far as the pixel format holds them; rows the data
// never reached name entry 0 and add nothing.
TEST(GifReader, PaletteReachesTheTransparentEntryAndThePixelsPlaced)
{
    const TRGB background = RGBValue(9, 8, 7);
    struct Row {
        int bits;          // table size 2^bits
        int transparent;   // -1: no graphic control
        std::uint8_t top;  // the largest pixel value placed
        int rowsPlaced;    // of 4
        int count;         // palette entries after the read
    };
    const Row rows[] = {
        {2, 4, 1, 4, 5},     // transparent index equal to the table size
        {3, 8, 0, 4, 9},     {1, 2, 1, 4, 2},  // a 1-bit image has no third entry
        {8, 255, 3, 4, 256}, {2, -1, 6, 4, 7}, {2, -1, 6, 1, 7},
        {2, 5, 9, 2, 10},    {2, -1, 3, 4, 4},   {2, -1, 4, 4, 5},
    };
    for (const Row& row : rows) {
        TTestFrame frame;
        frame.width = 3;
        frame.height = 4;
        frame.indices.assign(std::size_t(3 * row.rowsPlaced), 0);
        frame.indices.back() = row.top;
        frame.lzw.minCodeSize = 4;
        const std::vector<TRGB> table = RandomTable(row.bits, 5);
        TGifFileBuilder gif(3, 4, row.bits, table);
        if (row.transparent >= 0)
            gif.GraphicControl(row.transparent);
        gif.Frame(frame).Trailer();
        TPixelGraphic image;
        image.SetReadWarningAction(pgwaIgnore);
        image.SetBackGroundColor(background);
        LoadGif(gif.Data(), 0, image);
        SCOPED_TRACE(std::to_string(row.bits) + " bits, transparent " + std::to_string(row.transparent));
        ASSERT_EQ(image.PaletteCount(), row.count);
        for (int i = 0; i < row.count; ++i) {
            const TRGB expected = i == row.transparent ? background : i < (1 << row.bits) ? table[std::size_t(i)] : 0;
            EXPECT_EQ(image.PaletteColors()[i], expected) << "entry " << i;
        }
    }
}

// A frame far larger than its data could fill is refused before anything is
// allocated; up to 2^24 pixels a short frame still loads the rows it holds.
TEST(GifReader, FramesTheirDataCannotFillAreRefused)
{
    TTestFrame frame;
    frame.indices = {1, 1, 1};
    const struct {
        int width, height;
        bool loads;
    } cases[] = {{19862, 30489, false}, {20000, 15000, false}, {65535, 257, false}, {4096, 4096, true}, {65535, 256, true}};
    for (const auto& c : cases) {
        frame.width = c.width;
        frame.height = c.height;
        TGifFileBuilder gif(c.width, c.height, 1, RandomTable(1, 3));
        gif.Frame(frame).Trailer();
        TPixelGraphic image;
        image.SetReadWarningAction(pgwaIgnore);
        const std::string error = MessageOf([&] { LoadGif(gif.Data(), 0, image); });
        if (c.loads) {
            EXPECT_EQ(error, "(nothing raised)") << c.width << " x " << c.height;
            EXPECT_EQ(image.Width(), c.width);
        } else {
            EXPECT_EQ(error, "GIF: Image data too short for " + std::to_string(c.width) + " x " +
                                 std::to_string(c.height) + " pixels");
        }
    }
}

}  // namespace
}  // namespace rastova
