// Built against the core library alone: no format is linked, so this test
// fails to link if the core reaches into the formats. Its registry is its own.
#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/PGraphic.h"
#include "image/Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

using namespace rastova;

namespace {

// "RAW1", width, height (one byte each), then blue-green-red pixels, top row first.
class TRawReader : public TFileFormatReader {
public:
    explicit TRawReader(std::string extension = "raw")
    {
        Extension = std::move(extension);
        Description = "Raw test pixels";
        HasSignature = true;
    }
    std::string ClassName() const override { return "TRawReader"; }
    bool CheckSignature(const TSignatureHeader& h) override
    {
        return h.Count >= 4 && std::memcmp(h.Bytes.data(), "RAW1", 4) == 0;
    }
    void Read(TStream& stream, TPixelGraphic& g, int) override
    {
        std::uint8_t head[6];
        stream.ReadBuffer(head, 6);
        CheckImagePixels(head[4], head[5]);
        g.SetSize(head[4], head[5], bc24);
        for (int y = 0; y < g.Height(); ++y)
            stream.ReadBuffer(g.ScanLine(y), std::int64_t(g.Width()) * 3);
    }
};

class TRawWriter : public TFileFormatWriter {
public:
    TRawWriter()
    {
        Extension = "raw";
        Description = "Raw test pixels";
        CanWriteResolutions = ResolutionBit(crTrueColor);
    }
    std::string ClassName() const override { return "TRawWriter"; }
    void Write(TStream& stream, TPixelGraphic& g) override
    {
        const std::uint8_t head[6] = {'R', 'A', 'W', '1', std::uint8_t(g.Width()), std::uint8_t(g.Height())};
        stream.WriteBuffer(head, 6);
        for (int y = 0; y < g.Height(); ++y)
            stream.WriteBuffer(g.ScanLine(y), std::int64_t(g.Width()) * 3);
    }
};

std::string Failure(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EPixelGraphic& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(CoreOnlyTest, LoadsAndSavesThroughARegistryOfItsOwn)
{
    TFormatRegistry formats;
    formats.RegisterReader(std::make_unique<TRawReader>());
    formats.RegisterWriter(std::make_unique<TRawWriter>());
    const TPGSettings settings = DefaultSettings();

    // A palette image is saved through the fallback to true colour and read back.
    TPixelGraphic image;
    image.SetSize(3, 2, bc8);
    image.SetPaletteIdent(pGray256);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            image.SetPixel(x, y, std::uint32_t(40 * (y * 3 + x)));
    image.SetSaveColorResWarningAction(pgwaIgnore);
    TMemoryStream stream;
    image.SaveToStreamExt(stream, ".RAW", settings, formats);
    ASSERT_EQ(stream.Data().size(), 6u + 3 * 2 * 3);

    stream.SetPosition(0);
    TPixelGraphic back;
    back.LoadFromStreamExt(stream, "", 0, settings, formats);
    ASSERT_EQ(back.Width(), 3);
    ASSERT_EQ(back.BitCount(), bc24);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(back.GetColor(x, y), image.GetColor(x, y)) << x << "," << y;

    TMemoryStream unknown(std::vector<std::uint8_t>{'P', '6', ' ', '1'});
    EXPECT_EQ(Failure([&] { back.LoadFromStreamExt(unknown, "ppm", 0, settings, formats); }), "Unknown file format");
    EXPECT_EQ(Failure([&] { back.SaveToStreamExt(stream, "png", settings, formats); }),
              "Unknown file extension \"png\"");
    TFormatRegistry empty;
    EXPECT_EQ(Failure([&] { back.SaveToStreamExt(stream, "raw", settings, empty); }), "FileFormatWriters is empty");

    // The size guard sits in the core: a reader calls it before allocating.
    TPGSettings small = settings;
    small.MaxImagePixels = 5;
    stream.SetPosition(0);
    EXPECT_EQ(Failure([&] { back.LoadFromStreamExt(stream, "", 0, small, formats); }),
              "Image size 3 x 2 exceeds the limit of 5 pixels");
}

TEST(CoreOnlyTest, LookupsRunWhileAnotherThreadRegisters)
{
    TFormatRegistry formats;
    formats.RegisterReader(std::make_unique<TRawReader>());
    const std::vector<std::uint8_t> bytes = {'R', 'A', 'W', '1', 1, 1, 1, 2, 3};
    std::atomic<bool> done{false};
    std::atomic<int> misses{0};
    std::vector<std::thread> lookers;
    for (int t = 0; t < 2; ++t)
        lookers.emplace_back([&] {
            while (!done) {
                TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
                TFileFormatReader* reader = formats.SelectReader(stream, "");
                if (!reader || reader->ClassName() != "TRawReader")
                    ++misses;
            }
        });
    for (int i = 0; i < 200; ++i)
        formats.RegisterReader(std::make_unique<TRawReader>("x" + std::to_string(i)));
    done = true;
    for (std::thread& t : lookers)
        t.join();
    EXPECT_EQ(misses, 0);
    EXPECT_EQ(formats.Readers().size(), 201u);
    EXPECT_EQ(formats.Readers().front()->Extension, "raw");  // sorted: "raw" before "x..."
}

// The image's own packed-DIB coding needs no format: a palette image with row
// padding and a true-colour one come back through a clipboard block unchanged,
// and a damaged block is refused with the bitmap reader's exception.
TEST(CoreOnlyTest, PackedDibRoundTripsWithoutTheFormats)
{
    struct TCase {
        int width;
        int height;
        TBitCount bits;
    };
    for (const TCase c : {TCase{3, 2, bc4}, TCase{5, 3, bc24}}) {
        TPixelGraphic image;
        image.SetSize(c.width, c.height, c.bits);
        if (c.bits == bc4) {
            image.SetPaletteCount(16);
            for (int i = 0; i < 16; ++i)
                image.SetPaletteColor(i, RGBValue(std::uint8_t(i * 16), std::uint8_t(255 - i), std::uint8_t(i)));
        }
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                image.SetPixel(x, y, std::uint32_t(c.bits == bc4 ? (y * c.width + x) % 16 : 0x10203 * (y * 7 + x + 1)));

        std::uint32_t format = 0;
        std::uint32_t palette = 1;
        std::vector<std::uint8_t> block;
        image.SaveToClipboardFormat(format, block, palette);
        EXPECT_EQ(format, CF_DIB);
        TPixelGraphic back;
        back.LoadFromClipboardFormat(format, block.data(), block.size(), palette);
        ASSERT_EQ(back.Width(), c.width);
        ASSERT_EQ(back.Height(), c.height);
        ASSERT_EQ(back.BitCount(), c.bits);
        ASSERT_EQ(back.PaletteCount(), image.PaletteCount());
        EXPECT_TRUE(std::equal(image.PaletteColors(), image.PaletteColors() + image.PaletteCount(),
                               back.PaletteColors()));
        EXPECT_TRUE(std::equal(image.Bits(), image.Bits() + image.ImageSize(), back.Bits())) << c.width;

        block[0] = 41;  // no header is 41 bytes long
        try {
            back.LoadFromClipboardFormat(format, block.data(), block.size(), palette);
            ADD_FAILURE() << "a header size of 41 was accepted";
        } catch (const EPGBMPFileFormatReader& e) {
            EXPECT_STREQ(e.what(), "BMP: Invalid size of BitmapInfoHeader/BitmapCoreHeader");
        }
    }
}
