// Alpha through the readers and writers: round trips of the writers that keep
// it, what each reader makes of a file with transparency, the flattening of
// targets without alpha, and two files compared with what Pillow reads.
#include "formats/Bmp.h"
#include "formats/GifTestEncoder.h"
#include "formats/PngTestEncoder.h"
#include "formats/Tga.h"
#include "image/AlphaBlend.h"
#include "image/PGSettings.h"
#include "image/Streams.h"
#include "job/ConversionJob.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

using namespace rastova;

namespace {

std::vector<std::uint8_t> Saved(TPixelGraphic& image, const std::string& ext)
{
    TMemoryStream stream;
    image.SaveToStreamExt(stream, ext);
    return stream.Data();
}

void Loaded(const std::vector<std::uint8_t>& bytes, const std::string& ext, TPixelGraphic& image,
            const TPGSettings& settings = DefaultSettings())
{
    TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
    image.LoadFromStreamExt(stream, ext, 0, settings);
}

// Every pixel's alpha, and its colour where it shows at all.
void ExpectSameVisiblePixels(const TPixelGraphic& expected, const TPixelGraphic& actual, const std::string& label)
{
    ASSERT_EQ(actual.BitCount(), bc32) << label;
    ASSERT_EQ(actual.Width(), expected.Width()) << label;
    ASSERT_EQ(actual.Height(), expected.Height()) << label;
    for (int y = 0; y < expected.Height(); ++y)
        for (int x = 0; x < expected.Width(); ++x) {
            const std::uint32_t e = expected.GetPixel(x, y), a = actual.GetPixel(x, y);
            ASSERT_EQ(AlphaOf(a), AlphaOf(e)) << label << " at " << x << "," << y;
            if (AlphaOf(e) > 0) {
                ASSERT_EQ(a & 0xFFFFFFu, e & 0xFFFFFFu) << label << " at " << x << "," << y;
            }
        }
}

}  // namespace

TEST(AlphaFormats, WritersThatKeepAlphaRoundTripIt)
{
    for (const std::string ext : {"png", "tga", "tif"}) {
        TPixelGraphic image, back;
        test::FillRandom(image, 23, 9, bc32, 77);
        image.SetPixel(3, 4, 0);  // fully transparent
        Loaded(Saved(image, ext), ext, back);
        ExpectSameVisiblePixels(image, back, ext);
    }
}

// What each colour type of PNG with transparency reads as: a 32-bit image,
// the tRNS colour or index fully transparent, partial alpha kept.
TEST(AlphaFormats, PngTransparencyOfEveryKindIsKept)
{
    struct Case {
        const char* label;
        test::TPngLayout layout;
        std::vector<std::uint32_t> expected;  // the first row's pixels
    };
    const auto layout = [](int colorType, std::vector<std::uint8_t> row, int bitDepth = 8) {
        test::TPngLayout l;
        l.width = 2;
        l.height = 1;
        l.colorType = colorType;
        l.bitDepth = bitDepth;
        l.rows = {std::move(row)};
        return l;
    };
    std::vector<Case> cases;
    cases.push_back({"RGBA", layout(PNG_COLOR_TYPE_RGB_ALPHA, {10, 20, 30, 0, 40, 50, 60, 128}),
                     {WithAlpha(RGBValue(10, 20, 30), 0), WithAlpha(RGBValue(40, 50, 60), 128)}});
    cases.push_back({"gray+alpha", layout(PNG_COLOR_TYPE_GRAY_ALPHA, {90, 255, 7, 64}),
                     {WithAlpha(RGBValue(90, 90, 90), 255), WithAlpha(RGBValue(7, 7, 7), 64)}});
    Case rgbKey{"RGB with a tRNS colour", layout(PNG_COLOR_TYPE_RGB, {1, 2, 3, 4, 5, 6}), {}};
    rgbKey.layout.transColor = png_color_16{0, 4, 5, 6, 0};
    rgbKey.expected = {WithAlpha(RGBValue(1, 2, 3), 255), WithAlpha(RGBValue(4, 5, 6), 0)};
    cases.push_back(rgbKey);
    Case palette{"palette with tRNS", layout(PNG_COLOR_TYPE_PALETTE, {0, 1}), {}};
    palette.layout.palette = {{200, 0, 0}, {0, 0, 200}};
    palette.layout.transAlpha = {50};
    palette.expected = {WithAlpha(RGBValue(200, 0, 0), 50), WithAlpha(RGBValue(0, 0, 200), 255)};
    cases.push_back(palette);
    for (const Case& c : cases) {
        TPixelGraphic image;
        Loaded(test::EncodePng(c.layout), "png", image);
        ASSERT_EQ(image.BitCount(), bc32) << c.label;
        EXPECT_EQ(test::RowValues(image, 0), c.expected) << c.label;
    }
}

// The load-time compositing hosts may ask for: the plain "over" blend on the
// stored values, onto the file's bKGD, whatever its gAMA says.
TEST(AlphaFormats, FlatteningOnLoadIsThePlainOverBlend)
{
    test::TPngLayout l;
    l.width = 1;
    l.height = 1;
    l.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    l.rows = {{200, 100, 0, 100}};
    l.background = png_color_16{0, 0, 0, 255, 0};
    l.gamma = 1 / 2.2;
    TPGSettings settings = DefaultSettings();
    settings.FlattenAlphaOnLoad = true;
    TPixelGraphic image;
    Loaded(test::EncodePng(l), "png", image, settings);
    ASSERT_EQ(image.BitCount(), bc24);
    EXPECT_EQ(image.GetPixel(0, 0), RGBValue(OverBackground(200, 100, 0), OverBackground(100, 100, 0),
                                             OverBackground(0, 100, 255)));
}

TEST(AlphaFormats, GifTransparentIndexAndTrueColorIconAlpha)
{
    test::TTestFrame frame;
    frame.width = 3;
    frame.height = 1;
    frame.indices = {0, 1, 2};
    test::TGifFileBuilder gif(3, 1, 2, {0x0000FF, 0x00FF00, 0xFF0000, 0});
    gif.GraphicControl(1).Frame(frame).Trailer();
    TPixelGraphic image;
    Loaded(gif.Data(), "gif", image);
    ASSERT_EQ(image.BitCount(), bc32);
    EXPECT_EQ(AlphaOf(image.GetPixel(0, 0)), 255);
    EXPECT_EQ(AlphaOf(image.GetPixel(1, 0)), 0);
    EXPECT_EQ(image.GetPixel(2, 0), WithAlpha(0xFF0000, 255));
}

// ---- flattening table ------------------------------------------------------------------------

namespace {

class TOneFileHost : public TConversionHost {
public:
    std::vector<std::string> items;
    TConversionOptions options;
    int ItemCount() override { return int(items.size()); }
    bool ItemSelected(int) override { return true; }
    std::string ItemPath(int i) override { return items[std::size_t(i)]; }
    TConversionOptions Options() override { return options; }
    void SetBusy(bool) override {}
    void SetProgress(int) override {}
    void SetStopCaption(bool) override {}
    void Pump() override {}
    void Inform(const std::string&) override {}
    bool Confirm(const std::string&) override { return true; }
    void FocusDestination() override {}
    void AskJpegQuality() override { JpegQualityChoice = 95; }
    void FileDone(const TFileOutcome&) override {}
};

}  // namespace

// Target x colour resolution x where the background comes from: targets and
// resolutions that hold alpha keep it; the others get every pixel laid over
// the user's background, else the file's bKGD, else black.
TEST(AlphaFormats, FlatteningTable)
{
    test::TTempDir dir;
    const TRGB pixel = RGBValue(200, 40, 10);
    const std::uint8_t alpha = 100;
    const TRGB fileBackground = RGBValue(0, 0, 255), userBackground = RGBValue(0, 255, 0);
    const auto source = [&](bool withBkgd) {
        test::TPngLayout l;
        l.width = 2;
        l.height = 1;
        l.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        l.rows = {{RedOf(pixel), GreenOf(pixel), BlueOf(pixel), alpha, 0, 0, 0, 255}};
        if (withBkgd)
            l.background = png_color_16{0, RedOf(fileBackground), GreenOf(fileBackground), BlueOf(fileBackground), 0};
        const std::string path = dir.File(withBkgd ? "bkgd.png" : "plain.png");
        test::WriteAll(path, test::EncodePng(l));
        return path;
    };
    const std::string plain = source(false), bkgd = source(true);
    struct Background {
        const char* label;
        const std::string* file;
        std::optional<TRGB> user;
        TRGB expected;
    };
    const Background backgrounds[] = {{"bKGD", &bkgd, std::nullopt, fileBackground},
                                      {"user over bKGD", &bkgd, userBackground, userBackground},
                                      {"black", &plain, std::nullopt, 0}};
    const TTargetFormat targets[] = {tfBMP, tfPNG, tfTGA, tfTIF, tfPPM, tfPGM};
    const TJobColorResolution resolutions[] = {jcrTrueColor, jcr256Colors, jcrGray8};
    int run = 0;
    for (const Background& b : backgrounds)
        for (const TTargetFormat target : targets)
            for (const TJobColorResolution resolution : resolutions) {
                const std::string label = std::string(b.label) + " " + TargetExtension(target) + " resolution " +
                                          std::to_string(resolution);
                TOneFileHost host;
                host.items = {*b.file};
                host.options.Destination = dir.File("out" + std::to_string(run++));
                host.options.TargetFormat = target;
                host.options.ColorResolution = resolution;
                host.options.BackGroundColor = b.user;
                TConversionJob(host).Convert();
                const std::string name = (b.file == &bkgd ? "bkgd" : "plain") + std::string(TargetExtension(target));
                TPixelGraphic out;
                ASSERT_EQ(test::LoadLikeConverter(std::filesystem::path(host.options.Destination) / name, out), "")
                    << label;
                const bool keeps = resolution == jcrTrueColor && target != tfBMP && target != tfPPM && target != tfPGM;
                if (keeps) {
                    EXPECT_EQ(out.GetPixel(0, 0), WithAlpha(pixel, alpha)) << label;
                    continue;
                }
                const TRGB flat = RGBValue(OverBackground(RedOf(pixel), alpha, RedOf(b.expected)),
                                           OverBackground(GreenOf(pixel), alpha, GreenOf(b.expected)),
                                           OverBackground(BlueOf(pixel), alpha, BlueOf(b.expected)));
                // The flattened colour through the same gray step the job takes.
                const bool gray = resolution == jcrGray8 || target == tfPGM;
                TPixelGraphic flatImage, reference;
                flatImage.SetSize(1, 1, bc24);
                flatImage.SetPixel(0, 0, flat);
                reference.SetSize(1, 1, gray ? bc8 : bc24);
                if (gray)
                    reference.SetPaletteIdent(pGray256);
                reference.CopyFrom(flatImage);
                EXPECT_FALSE(out.HasAlpha()) << label;
                EXPECT_EQ(out.GetColor(0, 0), reference.GetColor(0, 0)) << label;
            }
}

// ---- compared with Pillow --------------------------------------------------------------------

namespace {

// The RGBA values Pillow reads from a file, row by row; empty without python3 and Pillow.
std::vector<std::uint32_t> PillowRgba(const std::string& path)
{
    // The system's interpreter, where Debian's Pillow lives, before any other on the path.
    const std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const std::string command = python + " -c \"import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1]).convert('RGBA')\n"
                                "print(' '.join('%d,%d,%d,%d' % p for p in im.getdata()))\" '" + path + "' 2>/dev/null";
    std::vector<std::uint32_t> values;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return values;
    std::string text;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe))
        text += buffer;
    pclose(pipe);
    std::istringstream in(text);
    std::string item;
    while (in >> item) {
        unsigned r, g, b, a;
        if (std::sscanf(item.c_str(), "%u,%u,%u,%u", &r, &g, &b, &a) == 4)
            values.push_back(WithAlpha(RGBValue(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)), std::uint8_t(a)));
    }
    return values;
}

std::vector<std::uint8_t> Bgra(int width, int height)
{
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < width * height; ++i)
        for (const int v : {17 * i, 255 - 9 * i, 3 * i + 1, i % 3 == 0 ? 0 : 40 * i % 256})
            pixels.push_back(std::uint8_t(v));
    return pixels;
}

}  // namespace

TEST(AlphaFormats, TargaAndBmpV5AlphaReadAsPillowReadsThem)
{
    test::TTempDir dir;
    const int width = 5, height = 3;
    const std::vector<std::uint8_t> pixels = Bgra(width, height);
    // Targa: uncompressed true colour, 32 bits, 8 attribute bits, rows bottom-up.
    test::TByteBuilder tga;
    tga.U8(0).U8(0).U8(2).U16LE(0).U16LE(0).U8(0).U16LE(0).U16LE(0).U16LE(width).U16LE(height).U8(32).U8(8);
    tga.Bytes(pixels);
    // BMP with a BITMAPV5HEADER and bit fields including an alpha mask, rows bottom-up.
    test::TByteBuilder bmp;
    const std::uint32_t offset = 14 + 124;
    bmp.Text("BM").U32LE(offset + std::uint32_t(pixels.size())).U32LE(0).U32LE(offset);
    bmp.U32LE(124).U32LE(width).U32LE(height).U16LE(1).U16LE(32).U32LE(3).U32LE(std::uint32_t(pixels.size()));
    bmp.U32LE(2835).U32LE(2835).U32LE(0).U32LE(0);
    bmp.U32LE(0x00FF0000).U32LE(0x0000FF00).U32LE(0x000000FF).U32LE(0xFF000000).U32LE(0x73524742);
    bmp.Fill(36 + 12 + 16, 0);
    bmp.Bytes(pixels);
    for (const auto& [name, bytes] : {std::pair{"a.tga", tga.Data()}, std::pair{"a.bmp", bmp.Data()}}) {
        const std::string path = dir.File(name);
        test::WriteAll(path, bytes);
        const std::vector<std::uint32_t> pillow = PillowRgba(path);
        if (pillow.empty())
            GTEST_SKIP() << "python3 with Pillow is not available";
        TPixelGraphic image;
        ASSERT_EQ(test::LoadLikeConverter(path, image), "") << name;
        ASSERT_EQ(image.BitCount(), bc32) << name;
        EXPECT_EQ(test::PixelValues(image), pillow) << name;
    }
}
