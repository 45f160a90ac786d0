#include "formats/Ico.h"
#include "formats/Register.h"
#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

namespace rastova {
namespace {

constexpr TRGB kWhite = 0xFFFFFF;

struct TIconImage {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::vector<TRGB> palette;         // 2^bits entries
    std::vector<std::uint8_t> indices;  // top-down
    std::vector<std::uint8_t> mask;     // top-down, 1 = transparent
    std::int64_t bytesDelta = 0;        // added to the true bytes-in-resource
    std::uint32_t offsetOverride = 0;   // non-zero: the entry's image offset
};

TIconImage RandomIcon(int width, int height, int bits, std::uint32_t seed)
{
    std::mt19937 random(seed);
    TIconImage icon;
    icon.width = width;
    icon.height = height;
    icon.bits = bits;
    icon.palette.resize(std::size_t(1) << bits);
    for (TRGB& c : icon.palette)
        c = random() & 0xFFFFFF;
    const std::size_t n = std::size_t(width) * std::size_t(height);
    icon.indices.resize(n);
    icon.mask.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        icon.indices[i] = std::uint8_t(random() & ((1u << bits) - 1));
        icon.mask[i] = (random() % 4) == 0 ? 1 : 0;
    }
    return icon;
}

std::size_t RowBytes(int width, int bits)
{
    return (std::size_t(width) * std::size_t(bits) + 31) / 32 * 4;
}

// The image's resource: BITMAPINFOHEADER, palette (blue first, a non-zero
// reserved byte), colour rows and mask rows bottom-up with junk in the padding.
std::vector<std::uint8_t> IconResource(const TIconImage& icon)
{
    test::TByteBuilder b;
    const std::size_t rowBytes = RowBytes(icon.width, icon.bits);
    const std::size_t maskBytes = RowBytes(icon.width, 1);
    b.U32LE(40).U32LE(std::uint32_t(icon.width)).U32LE(std::uint32_t(icon.height * 2)).U16LE(1).U16LE(std::uint32_t(icon.bits));
    b.U32LE(0).U32LE(std::uint32_t((rowBytes + maskBytes) * std::size_t(icon.height))).U32LE(0).U32LE(0).U32LE(0).U32LE(0);
    for (const TRGB c : icon.palette)
        b.U8(BlueOf(c)).U8(GreenOf(c)).U8(RedOf(c)).U8(0x5A);
    const auto packRows = [&](const std::vector<std::uint8_t>& values, int bits, std::size_t stride) {
        for (int y = icon.height - 1; y >= 0; --y) {
            std::vector<std::uint8_t> row(stride, 0);
            for (int x = 0; x < icon.width; ++x) {
                const std::uint8_t v = values[std::size_t(y) * std::size_t(icon.width) + std::size_t(x)];
                const std::size_t bit = std::size_t(x) * std::size_t(bits);
                row[bit / 8] |= std::uint8_t(v << (8 - bits - int(bit % 8)));
            }
            // Junk in the padding, which must not show.
            for (std::size_t i = (std::size_t(icon.width) * std::size_t(bits) + 7) / 8; i < stride; ++i)
                row[i] = 0xA5;
            b.Bytes(row);
        }
    };
    packRows(icon.indices, icon.bits, rowBytes);
    packRows(icon.mask, 1, maskBytes);
    return b.Data();
}

std::vector<std::uint8_t> BuildIco(const std::vector<TIconImage>& images, int type = 1)
{
    test::TByteBuilder b;
    b.U16LE(0).U16LE(std::uint32_t(type)).U16LE(std::uint32_t(images.size()));
    std::vector<std::vector<std::uint8_t>> resources;
    std::uint32_t offset = std::uint32_t(6 + 16 * images.size());
    for (const TIconImage& icon : images) {
        resources.push_back(IconResource(icon));
        const std::uint32_t bytes = std::uint32_t(std::int64_t(resources.back().size()) + icon.bytesDelta);
        b.U8(std::uint32_t(icon.width)).U8(std::uint32_t(icon.height)).U8(icon.bits >= 8 ? 0 : 1u << icon.bits).U8(0);
        b.U16LE(1).U16LE(std::uint32_t(icon.bits)).U32LE(bytes).U32LE(icon.offsetOverride ? icon.offsetOverride : offset);
        offset += std::uint32_t(resources.back().size());
    }
    for (const auto& r : resources)
        b.Bytes(r);
    return b.Data();
}

using test::MessageOf;

void ReadIco(const std::vector<std::uint8_t>& bytes, int index, TPixelGraphic& image)
{
    tIcoFileFormatReader reader;
    TMemoryStream stream(bytes);
    reader.Read(stream, image, index);
}

TFileInfo InfoOf(const std::vector<std::uint8_t>& bytes, int index = 0)
{
    return test::InfoWith<tIcoFileFormatReader>(bytes, index);
}

// Restores a library-wide setting at the end of a test.
template <class T>
class TSettingGuard {
public:
    TSettingGuard(T& setting, T value) : m_setting(setting), m_saved(setting) { setting = value; }
    ~TSettingGuard() { m_setting = m_saved; }

private:
    T& m_setting;
    T m_saved;
};

void ExpectTrueColor(const TPixelGraphic& image, const TIconImage& icon, TRGB maskColor)
{
    ASSERT_EQ(image.Width(), icon.width);
    ASSERT_EQ(image.Height(), icon.height);
    EXPECT_EQ(image.BitCount(), bc24);
    EXPECT_TRUE(image.Transparent());
    EXPECT_EQ(image.TransparentColor(), maskColor);
    for (int y = 0; y < icon.height; ++y)
        for (int x = 0; x < icon.width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(icon.width) + std::size_t(x);
            const TRGB want = icon.mask[i] ? maskColor : icon.palette[icon.indices[i]];
            ASSERT_EQ(image.GetPixel(x, y), want) << x << ", " << y;
        }
}

void ExpectPaletteImage(const TPixelGraphic& image, const TIconImage& icon)
{
    ASSERT_EQ(image.Width(), icon.width);
    ASSERT_EQ(image.Height(), icon.height);
    EXPECT_EQ(image.BitCount(), icon.bits == 1 ? bc1 : icon.bits == 4 ? bc4 : bc8);
    EXPECT_FALSE(image.Transparent());
    ASSERT_EQ(image.PaletteCount(), 1 << icon.bits);
    for (int i = 0; i < (1 << icon.bits); ++i)
        ASSERT_EQ(image.PaletteColors()[i], icon.palette[std::size_t(i)]) << i;
    for (int y = 0; y < icon.height; ++y)
        for (int x = 0; x < icon.width; ++x)
            ASSERT_EQ(image.GetPixel(x, y), icon.indices[std::size_t(y) * std::size_t(icon.width) + std::size_t(x)])
                << x << ", " << y;
}

// ---- pixels --------------------------------------------------------------------------

struct TPixelCase {
    int width;
    int height;
    int bits;
};

class IcoPixels : public testing::TestWithParam<TPixelCase> {};

TEST_P(IcoPixels, TrueColorWithMaskAndPaletteImage)
{
    const TPixelCase& c = GetParam();
    const TIconImage icon = RandomIcon(c.width, c.height, c.bits, std::uint32_t(c.width * 7 + c.bits));
    const std::vector<std::uint8_t> file = BuildIco({icon});
    {
        TPixelGraphic image;
        ReadIco(file, 0, image);
        ExpectTrueColor(image, icon, kWhite);
    }
    {
        TSettingGuard<bool> palette(IcoTrueColor, false);
        TPixelGraphic image;
        ReadIco(file, 0, image);
        ExpectPaletteImage(image, icon);
    }
    {
        TSettingGuard<TColor> magenta(IcoMaskColor, 0xFF00FF);
        TPixelGraphic image;
        ReadIco(file, 0, image);
        ExpectTrueColor(image, icon, 0xFF00FF);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, IcoPixels,
                         testing::Values(TPixelCase{8, 8, 1}, TPixelCase{24, 24, 1}, TPixelCase{13, 9, 1},
                                         TPixelCase{64, 64, 1}, TPixelCase{16, 16, 4}, TPixelCase{9, 30, 4},
                                         TPixelCase{32, 32, 4}, TPixelCase{48, 48, 8}, TPixelCase{11, 8, 8},
                                         TPixelCase{64, 64, 8}),
                         [](const testing::TestParamInfo<TPixelCase>& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height) +
                                    "_" + std::to_string(info.param.bits) + "bit";
                         });

TEST(IcoReader, LoadsThroughTheRegistryByContent)
{
    const TIconImage icon = RandomIcon(16, 16, 4, 1);
    test::TTempDir dir;
    test::WriteAll(dir.File("picture.dat"), BuildIco({icon}));
    TPixelGraphic image;
    image.LoadFromFile(dir.File("picture.dat"));
    ExpectTrueColor(image, icon, kWhite);
}

TEST(IcoReader, ReadsAtTheStreamPosition)
{
    const TIconImage icon = RandomIcon(8, 8, 1, 2);
    std::vector<std::uint8_t> bytes{1, 2, 3, 4, 5};
    const std::vector<std::uint8_t> file = BuildIco({icon});
    bytes.insert(bytes.end(), file.begin(), file.end());
    TMemoryStream stream(bytes);
    stream.SetPosition(5);
    tIcoFileFormatReader reader;
    TPixelGraphic image;
    reader.Read(stream, image, 0);
    ExpectTrueColor(image, icon, kWhite);
}

// ---- directory and GetInfo -------------------------------------------------------------

TEST(IcoReader, SeveralImagesPickByIndexAndSummariseInGetInfo)
{
    const TIconImage big = RandomIcon(32, 32, 4, 3);
    const TIconImage small = RandomIcon(16, 16, 4, 4);
    const std::vector<std::uint8_t> file = BuildIco({big, small});
    TPixelGraphic image;
    ReadIco(file, 0, image);
    ExpectTrueColor(image, big, kWhite);
    ReadIco(file, 1, image);
    ExpectTrueColor(image, small, kWhite);

    const TFileInfo info = InfoOf(file);
    EXPECT_EQ(info.ImageCount, 2);
    EXPECT_EQ(info.Width, 32);
    EXPECT_EQ(info.Height, 32);
    EXPECT_EQ(info.BitsPerPixel, 4);
    EXPECT_EQ(info.SubFormatText, "Sizes 16..32");
    EXPECT_EQ(info.ExtraText, "Colors 16..16");
    EXPECT_EQ(info.ColorsText, "");

    const TFileInfo mixed = InfoOf(BuildIco({RandomIcon(48, 48, 8, 5), RandomIcon(16, 16, 1, 6), RandomIcon(24, 24, 4, 7)}));
    EXPECT_EQ(mixed.ImageCount, 3);
    EXPECT_EQ(mixed.Width, 48);
    EXPECT_EQ(mixed.BitsPerPixel, 8);
    EXPECT_EQ(mixed.SubFormatText, "Sizes 16..48");
    EXPECT_EQ(mixed.ExtraText, "Colors 2..256");
}

TEST(IcoReader, SingleImageGetInfo)
{
    const std::vector<std::uint8_t> file = BuildIco({RandomIcon(32, 32, 1, 8)});
    for (const int index : {0, 1, 7}) {
        const TFileInfo info = InfoOf(file, index);
        EXPECT_EQ(info.ImageCount, 1);
        EXPECT_EQ(info.Width, 32);
        EXPECT_EQ(info.Height, 32);
        EXPECT_EQ(info.BitsPerPixel, 1);
        EXPECT_EQ(info.ColorsText, "2");
        EXPECT_EQ(info.SubFormatText, "");
        EXPECT_EQ(info.ExtraText, "");
    }
    // An entry the reader refuses is still described, with no colour text.
    TIconImage deep = RandomIcon(16, 16, 8, 9);
    std::vector<std::uint8_t> bytes = BuildIco({deep});
    bytes[6 + 16 + 14] = 24;  // BITMAPINFOHEADER bit count
    const TFileInfo info = InfoOf(bytes);
    EXPECT_EQ(info.BitsPerPixel, 24);
    EXPECT_EQ(info.ColorsText, "");
}

struct TRefusal {
    const char* name;
    std::vector<std::uint8_t> file;
    int index;
    const char* message;
};

std::vector<std::uint8_t> Patched(std::vector<std::uint8_t> bytes, std::size_t at, std::initializer_list<int> values)
{
    for (const int v : values)
        bytes[at++] = std::uint8_t(v);
    return bytes;
}

std::vector<TRefusal> Refusals()
{
    const std::vector<std::uint8_t> good = BuildIco({RandomIcon(16, 16, 4, 10)});
    const std::size_t entry = 6;
    const std::size_t header = 6 + 16;
    TIconImage shortBy1 = RandomIcon(48, 48, 8, 11);
    shortBy1.bytesDelta = -1;
    TIconImage longBy1 = RandomIcon(48, 48, 8, 12);
    longBy1.bytesDelta = 1;
    std::vector<std::uint8_t> longFile = BuildIco({longBy1});
    longFile.push_back(0);  // so that the larger size still lies inside the file
    TIconImage wrapping = RandomIcon(8, 8, 1, 13);
    wrapping.offsetOverride = 0xFFFFFFF0u;
    wrapping.bytesDelta = 0x20 - std::int64_t(IconResource(wrapping).size());
    return {
        {"empty", {}, 0, "Not an Icon file"},
        {"header only", std::vector<std::uint8_t>(good.begin(), good.begin() + 6), 0, "Not an Icon file"},
        {"reserved word", Patched(good, 0, {1}), 0, "Not an Icon file"},
        {"cursor", Patched(good, 2, {2}), 0, "Not an Icon file"},
        {"type 3", Patched(good, 2, {3}), 0, "Not an Icon file"},
        {"count 0", Patched(good, 4, {0, 0}), 0, "Not an Icon file"},
        {"more entries than the file holds", Patched(good, 4, {200, 0}), 0, "Not an Icon file"},
        {"image past the end", Patched(good, entry + 8, {0, 0, 1, 0}), 0, "Not an Icon file"},
        {"offset and size wrap around 4 GB", BuildIco({wrapping}), 0, "Not an Icon file"},
        {"index past the directory", good, 1, "Index out of bounds"},
        {"negative index", good, -1, "Index out of bounds"},
        {"bytes in resource one short", BuildIco({shortBy1}), 0, "Index out of bounds"},
        {"bytes in resource one over", longFile, 0, "Index out of bounds"},
        {"24 bits", Patched(good, header + 14, {24}), 0, "Index out of bounds"},
        {"32 bits", Patched(good, header + 14, {32}), 0, "Index out of bounds"},
        {"2 bits", Patched(good, header + 14, {2}), 0, "Index out of bounds"},
        {"128 wide", Patched(good, header + 4, {128}), 0, "Index out of bounds"},
        {"7 wide", Patched(good, header + 4, {7}), 0, "Index out of bounds"},
        {"height 65 (130 in the header)", Patched(good, header + 8, {130}), 0, "Index out of bounds"},
        {"negative height", Patched(good, header + 8, {0xE0, 0xFF, 0xFF, 0xFF}), 0, "Index out of bounds"},
        {"image offset inside the directory", Patched(good, entry + 12, {0, 0, 0, 0}), 0, "Index out of bounds"},
    };
}

TEST(IcoReader, RefusalsCarryTheFixedMessages)
{
    for (const TRefusal& r : Refusals()) {
        SCOPED_TRACE(r.name);
        TPixelGraphic image;
        try {
            ReadIco(r.file, r.index, image);
            ADD_FAILURE() << "loaded";
        } catch (const EPixelGraphic& e) {
            EXPECT_EQ(std::string(e.what()), r.message);
            EXPECT_EQ(typeid(e), typeid(EPixelGraphic));
        }
        if (std::string(r.message) == "Not an Icon file") {
            EXPECT_EQ(MessageOf([&] { InfoOf(r.file); }), "Not an Icon file");
        }
    }
}

TEST(IcoReader, NotAnIconMessageIsASetting)
{
    TSettingGuard<std::string> text(IcoNotAnIconMessage, "Kein Symbol");
    TPixelGraphic image;
    EXPECT_EQ(MessageOf([&] { ReadIco({0, 0, 2, 0, 1, 0}, 0, image); }), "Kein Symbol");
    TSettingGuard<std::string> sizes(IcoSizesWord, "Größen");
    TSettingGuard<std::string> colors(IcoColorsWord, "Farben");
    const TFileInfo info = InfoOf(BuildIco({RandomIcon(16, 16, 1, 14), RandomIcon(32, 32, 4, 15)}));
    EXPECT_EQ(info.SubFormatText, "Größen 16..32");
    EXPECT_EQ(info.ExtraText, "Farben 2..16");
}

// Index 0 is the largest entry, of equal sizes the deepest; the others follow
// by size and depth, then in directory order.
TEST(IcoReader, LargestThenDeepestEntryComesFirst)
{
    const TIconImage small = RandomIcon(16, 16, 8, 50);
    const TIconImage shallow = RandomIcon(32, 32, 1, 51);
    const TIconImage deep = RandomIcon(32, 32, 8, 52);
    const TIconImage middle = RandomIcon(24, 24, 4, 53);
    const std::vector<std::uint8_t> file = BuildIco({small, shallow, deep, middle});
    const TIconImage* expected[] = {&deep, &shallow, &middle, &small};
    for (int index = 0; index < 4; ++index) {
        TPixelGraphic image;
        ReadIco(file, index, image);
        const TIconImage& icon = *expected[index];
        ASSERT_EQ(image.Width(), icon.width) << index;
        int wrong = 0;
        for (int y = 0; y < icon.height; ++y)
            for (int x = 0; x < icon.width; ++x) {
                const std::size_t i = std::size_t(y) * std::size_t(icon.width) + std::size_t(x);
                wrong += image.GetPixel(x, y) != (icon.mask[i] ? kWhite : icon.palette[icon.indices[i]]);
            }
        EXPECT_EQ(wrong, 0) << index;
    }
    EXPECT_EQ(InfoOf(file).Width, 32);
}

TEST(IcoReader, SignatureIsIconDirectoryHeader)
{
    tIcoFileFormatReader reader;
    const auto check = [&](std::vector<std::uint8_t> bytes) {
        TSignatureHeader header;
        header.Count = int(std::min<std::size_t>(bytes.size(), TSignatureHeader::kSize));
        std::copy(bytes.begin(), bytes.begin() + header.Count, header.Bytes.begin());
        return reader.CheckSignature(header);
    };
    EXPECT_TRUE(check({0, 0, 1, 0, 1, 0}));
    EXPECT_TRUE(check({0, 0, 1, 0, 0, 1}));
    EXPECT_FALSE(check({0, 0, 2, 0, 1, 0}));  // cursors are not recognised
    EXPECT_FALSE(check({0, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(check({1, 0, 1, 0, 1, 0}));
    EXPECT_FALSE(check({0, 0, 1, 0, 1}));  // too short to tell
}

// A stream that claims more bytes than it delivers: the image data comes up
// short although the directory check passed.
class TShortStream : public TMemoryStream {
public:
    TShortStream(std::vector<std::uint8_t> data, std::int64_t deliver)
        : TMemoryStream(std::move(data)), m_deliver(deliver)
    {
    }
    std::int64_t Read(void* buffer, std::int64_t count) override
    {
        const std::int64_t position = Position();
        if (position >= m_deliver)
            return 0;
        return TMemoryStream::Read(buffer, std::min(count, m_deliver - position));
    }

private:
    std::int64_t m_deliver;
};

TEST(IcoReader, ImageDataCutShortIsAFailedLoad)
{
    const std::vector<std::uint8_t> file = BuildIco({RandomIcon(32, 32, 8, 16)});
    for (const std::int64_t deliver : {std::int64_t(6 + 16 + 20), std::int64_t(6 + 16 + 40 + 100), std::int64_t(file.size() - 1)}) {
        SCOPED_TRACE(deliver);
        TShortStream stream(file, deliver);
        tIcoFileFormatReader reader;
        TPixelGraphic image;
        EXPECT_EQ(MessageOf([&] { reader.Read(stream, image, 0); }), "Index out of bounds");
        EXPECT_TRUE(image.GetEmpty());
    }
}

// Every cut: a family error or a correct image, never anything else.
TEST(IcoReader, EveryTruncationIsRefusedCleanly)
{
    const TIconImage a = RandomIcon(16, 16, 4, 17);
    const TIconImage b = RandomIcon(8, 8, 1, 18);
    const std::vector<std::uint8_t> file = BuildIco({a, b});
    for (std::size_t n = 0; n < file.size(); ++n) {
        SCOPED_TRACE(n);
        const std::vector<std::uint8_t> cut(file.begin(), file.begin() + std::ptrdiff_t(n));
        TPixelGraphic image;
        // Each entry must lie inside the file, so any cut breaks the directory.
        EXPECT_EQ(MessageOf([&] { ReadIco(cut, 0, image); }), "Not an Icon file");
        EXPECT_EQ(MessageOf([&] { ReadIco(cut, 1, image); }), "Not an Icon file");
        EXPECT_EQ(MessageOf([&] { InfoOf(cut); }), "Not an Icon file");
    }
    TPixelGraphic image;
    ReadIco(file, 1, image);
    ExpectTrueColor(image, b, kWhite);
}

// ---- progress ------------------------------------------------------------------------

TEST(IcoReader, ProgressPerRowFromZeroAndAbortKeepsRowsRead)
{
    const TIconImage icon = RandomIcon(10, 12, 8, 19);
    TPixelGraphic image;
    test::TProgressLog log;
    log.abortAt = 2;
    log.Attach(image);
    ReadIco(BuildIco({icon}), 0, image);
    EXPECT_EQ(log.steps, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(log.maxima, (std::vector<int>{11, 11, 11}));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 10; ++x) {
            const std::size_t i = std::size_t(y) * 10 + std::size_t(x);
            const TRGB want = y > 2 ? 0 : icon.mask[i] ? kWhite : icon.palette[icon.indices[i]];
            ASSERT_EQ(image.GetPixel(x, y), want) << x << ", " << y;
        }
}

// ---- the handler ---------------------------------------------------------------------

TEST(IconHandler, PrepareAcceptsOnlyIconShapes)
{
    struct TCase {
        int width, height, type, bits;
        bool ok;
    };
    const TCase cases[] = {
        {8, 8, 1, 1, true},     {64, 64, 2, 8, true},  {32, 16, 1, 4, true},  {7, 8, 1, 1, false},
        {8, 65, 1, 1, false},   {16, 16, 1, 2, false}, {16, 16, 1, 24, false}, {16, 16, 0, 4, false},
        {16, 16, 3, 4, false},  {-8, 8, 1, 1, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " type " + std::to_string(c.type) +
                     " bits " + std::to_string(c.bits));
        tIconHandler handler;
        ASSERT_TRUE(handler.Prepare(16, 16, 1, 4));
        EXPECT_EQ(handler.Prepare(c.width, c.height, c.type, c.bits), c.ok);
        if (c.ok) {
            const std::size_t expected = 62 + 4 * (std::size_t(1) << c.bits) +
                                         (RowBytes(c.width, c.bits) + RowBytes(c.width, 1)) * std::size_t(c.height);
            EXPECT_EQ(handler.Block().size(), expected);
            EXPECT_EQ(handler.Width(), c.width);
        } else {
            EXPECT_TRUE(handler.Block().empty());
            EXPECT_EQ(handler.Width(), 0);
            EXPECT_EQ(handler.Height(), 0);
        }
    }
}

// The block is a complete single-image icon file: the reader loads it back.
TEST(IconHandler, BlockIsAnIconFileOfItsOwn)
{
    const TIconImage icon = RandomIcon(24, 20, 4, 20);
    const std::vector<std::uint8_t> file = BuildIco({RandomIcon(8, 8, 1, 21), icon});
    tIconHandler handler;
    TMemoryStream stream(file);
    stream.SetPosition(3);
    ASSERT_TRUE(handler.LoadEntry(stream, 0, 1));
    EXPECT_EQ(stream.Position(), 3);
    EXPECT_TRUE(handler.PaletteInColorValueOrder());
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(handler.PaletteEntry(i), icon.palette[std::size_t(i)]);
    EXPECT_EQ(handler.PaletteEntry(16), 0u);
    EXPECT_EQ(handler.PixelIndex(24, 0), 0);
    EXPECT_EQ(handler.PixelColor(-1, 0), handler.MaskColor());

    // Back to file order so the block holds a file's bytes.
    handler.SetPaletteOrder(false);
    EXPECT_EQ(handler.PaletteEntry(1), RGBValue(BlueOf(icon.palette[1]), GreenOf(icon.palette[1]), RedOf(icon.palette[1])));
    std::vector<std::uint8_t> block = handler.Block();
    EXPECT_EQ(block[2], 1);   // type
    EXPECT_EQ(block[4], 1);   // one image
    EXPECT_EQ(block[6], 24);  // width
    EXPECT_EQ(block[8], 16);  // colours
    // Padding bytes were copied as they are; they must not matter.
    TPixelGraphic image;
    ReadIco(block, 0, image);
    ExpectTrueColor(image, icon, kWhite);

    const TIconDirectory directory = handler.ReadDirectory(stream, 0);
    EXPECT_EQ(directory.count, 2);
    EXPECT_EQ(directory.type, 1);
    const TIconEntryInfo info = handler.EntryInfo(stream, 0, 1);
    EXPECT_EQ(info.width, 24);
    EXPECT_EQ(info.height, 20);
    EXPECT_EQ(info.bitCount, 4);
    const TIconEntryInfo none = handler.EntryInfo(stream, 0, 2);
    EXPECT_EQ(none.width, 0);
    EXPECT_EQ(none.bitCount, 0);
    EXPECT_EQ(stream.Position(), 3);
    handler.Free();
    EXPECT_TRUE(handler.Block().empty());
}

// ---- one reader, two threads ----------------------------------------------------------

TFileFormatReader& RegisteredIcoReader()
{
    for (const auto& reader : FileFormatReaders())
        if (reader->Extension == "ico")
            return *reader;
    throw std::runtime_error("no ico reader");
}

TEST(IcoReader, TwoThreadsReadTwoFilesAtOnce)
{
    const TIconImage a = RandomIcon(64, 64, 8, 30);
    const TIconImage b0 = RandomIcon(32, 32, 1, 31);
    const TIconImage b1 = RandomIcon(48, 48, 4, 32);
    const std::vector<std::uint8_t> fileA = BuildIco({a});
    const std::vector<std::uint8_t> fileB = BuildIco({b0, b1});
    std::atomic<int> failures{0};
    const auto worker = [&](const std::vector<std::uint8_t>& file, std::vector<const TIconImage*> icons) {
        for (int round = 0; round < 40; ++round) {
            const int index = round % int(icons.size());
            TPixelGraphic image;
            TMemoryStream stream(file);
            RegisteredIcoReader().Read(stream, image, index);
            const TIconImage& icon = *icons[std::size_t(index)];
            bool same = image.Width() == icon.width && image.Height() == icon.height;
            for (int y = 0; same && y < icon.height; ++y)
                for (int x = 0; same && x < icon.width; ++x) {
                    const std::size_t i = std::size_t(y) * std::size_t(icon.width) + std::size_t(x);
                    same = image.GetPixel(x, y) == (icon.mask[i] ? kWhite : icon.palette[icon.indices[i]]);
                }
            TFileInfo info;
            TMemoryStream infoStream(file);
            RegisteredIcoReader().GetInfo(infoStream, 0, info);
            if (!same || info.ImageCount != int(icons.size()) || info.Width != icons[0]->width)
                ++failures;
        }
    };
    std::thread first(worker, std::cref(fileA), std::vector<const TIconImage*>{&a});
    // Index 0 is the largest entry.
    std::thread second(worker, std::cref(fileB), std::vector<const TIconImage*>{&b1, &b0});
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace rastova
