// WebP, HEIC, AVIF and JPEG XL against the formats' own tools: files of the
// reference encoders decode as the reference decoders decode them, our files
// decode with those decoders, lossless coding round-trips exactly, content
// wins over the name, damaged files raise the format's error and the pixel
// limit refuses a header before anything is decoded. The reference files are
// made here with the tools; a missing tool skips its rows.
#include "formats/Heif.h"
#include "formats/Jxl.h"
#include "formats/PhotoCodecs.h"
#include "formats/Register.h"
#include "formats/Webp.h"
#include "image/PGExceptions.h"
#include "image/PGSettings.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace rastova;
using rastova::test::TTempDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

bool HaveTool(const std::string& tool)
{
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command in dir; its output is not wanted.
bool RunIn(const TTempDir& dir, const std::string& command)
{
    return std::system(("cd '" + dir.Path().string() + "' && " + command + " >/dev/null 2>&1").c_str()) == 0;
}

// A photo-like picture: smooth gradients, a sharp edge and some texture.
void FillPhoto(TPixelGraphic& image, int width = 96, int height = 64)
{
    image.SetSize(width, height, bc24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int texture = (x * 7 + y * 13) % 17;
            const auto red = std::uint8_t(x < width / 2 ? 40 + 2 * x + texture : 220 - y);
            image.SetColor(x, y, RGBValue(red, std::uint8_t(30 + 3 * y), std::uint8_t(90 + x + texture)));
        }
}

int WorstDifference(const TPixelGraphic& a, const TPixelGraphic& b)
{
    int worst = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const TRGB p = a.GetColor(x, y), q = b.GetColor(x, y);
            worst = std::max({worst, std::abs(RedOf(p) - RedOf(q)), std::abs(GreenOf(p) - GreenOf(q)),
                              std::abs(BlueOf(p) - BlueOf(q))});
        }
    return worst;
}

double MeanDifference(const TPixelGraphic& a, const TPixelGraphic& b)
{
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const TRGB p = a.GetColor(x, y), q = b.GetColor(x, y);
            sum += std::abs(RedOf(p) - RedOf(q)) + std::abs(GreenOf(p) - GreenOf(q)) + std::abs(BlueOf(p) - BlueOf(q));
        }
    return sum / (3.0 * a.Width() * a.Height());
}

void ExpectSameSize(const TPixelGraphic& a, const TPixelGraphic& b)
{
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
}

// ---- reference encoders and decoders -------------------------------------------------------

struct TToolCase {
    const char* name;
    const char* encoder;  // makes ref.<ext> from src.png
    const char* ext;
    const char* decoder;  // makes dec.<decodedExt> from ref.<ext>
    const char* decodedExt;
    int tolerance;        // largest channel difference between the two decodings
};

void PrintTo(const TToolCase& c, std::ostream* out)
{
    *out << c.name;
}

const TToolCase kToolCases[] = {
    {"WebPLossy", "cwebp -quiet -q 75 src.png -o ref.webp", "webp", "dwebp ref.webp -ppm -o dec.ppm", "ppm", 0},
    {"WebPLossless", "cwebp -quiet -lossless src.png -o ref.webp", "webp", "dwebp ref.webp -ppm -o dec.ppm", "ppm",
     0},
    {"HEIC", "heif-enc -q 50 src.png -o ref.heic", "heic", "heif-convert ref.heic dec.png", "png", 1},
    {"AVIF", "avifenc -s 8 src.png ref.avif", "avif", "heif-convert ref.avif dec.png", "png", 2},
    {"AVIFLossless", "avifenc -s 8 -l src.png ref.avif", "avif", "heif-convert ref.avif dec.png", "png", 0},
    {"JXLLossy", "cjxl src.png ref.jxl", "jxl", "djxl ref.jxl dec.ppm", "ppm", 1},
    {"JXLLossless", "cjxl -d 0 src.png ref.jxl", "jxl", "djxl ref.jxl dec.ppm", "ppm", 0},
};

std::string ToolOf(const char* command)
{
    return std::string(command).substr(0, std::string(command).find(' '));
}

class ReferenceTools : public ::testing::TestWithParam<TToolCase> {
protected:
    void SetUp() override
    {
        for (const char* command : {GetParam().encoder, GetParam().decoder})
            if (!HaveTool(ToolOf(command)))
                GTEST_SKIP() << ToolOf(command) << " is not installed (webp, libheif-examples, libavif-bin, libjxl-tools)";
        FillPhoto(m_source);
        m_source.SaveToFile(m_dir.File("src.png"));
    }

    TTempDir m_dir;
    TPixelGraphic m_source;
};

TEST_P(ReferenceTools, ReferenceFilesDecodeAsTheReferenceDecoderDecodesThem)
{
    const TToolCase& c = GetParam();
    ASSERT_TRUE(RunIn(m_dir, c.encoder)) << c.encoder;
    ASSERT_TRUE(RunIn(m_dir, c.decoder)) << c.decoder;
    TPixelGraphic ours, theirs;
    ours.LoadFromFile(m_dir.File(std::string("ref.") + c.ext));
    theirs.LoadFromFile(m_dir.File(std::string("dec.") + c.decodedExt));
    ExpectSameSize(ours, theirs);
    EXPECT_LE(WorstDifference(ours, theirs), c.tolerance);
    EXPECT_LT(MeanDifference(ours, m_source), 4.0) << "close to the source";
}

// Our file at the default settings, or lossless for the lossless rows, through
// the decoder of the row: the tool sees what we see, and lossless is exact.
TEST_P(ReferenceTools, OurFilesDecodeWithTheReferenceDecoder)
{
    const TToolCase& c = GetParam();
    const bool lossless = std::string(c.name).find("Lossless") != std::string::npos;
    TPGSettings settings = DefaultSettings();
    settings.WebPLossless = settings.AVIFLossless = settings.JXLLossless = lossless;
    m_source.SaveToFile(m_dir.File(std::string("ref.") + c.ext), settings);
    ASSERT_TRUE(RunIn(m_dir, c.decoder)) << c.decoder;
    TPixelGraphic ours, theirs;
    ours.LoadFromFile(m_dir.File(std::string("ref.") + c.ext));
    theirs.LoadFromFile(m_dir.File(std::string("dec.") + c.decodedExt));
    ExpectSameSize(ours, theirs);
    EXPECT_LE(WorstDifference(ours, theirs), c.tolerance);
    if (lossless)
        EXPECT_EQ(WorstDifference(theirs, m_source), 0);
    else
        EXPECT_LT(MeanDifference(theirs, m_source), 4.0) << "close to the source";
}

INSTANTIATE_TEST_SUITE_P(Tools, ReferenceTools, ::testing::ValuesIn(kToolCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- our own files ------------------------------------------------------------------------

struct TFormatCase {
    const char* ext;
    const char* description;
    bool lossless;                                // has a lossless switch
    std::function<bool(const std::exception&)> isOwnError;
};

template <class TError>
bool Is(const std::exception& e)
{
    return dynamic_cast<const TError*>(&e) != nullptr;
}

const TFormatCase kFormats[] = {
    {"webp", "WebP", true, Is<EPGWebPFileFormatReaderWriter>},
    {"heic", "HEIC", false, Is<EPGHEICFileFormatReaderWriter>},
    {"avif", "AVIF", true, Is<EPGAVIFFileFormatReaderWriter>},
    {"jxl", "JPEG XL", true, Is<EPGJXLFileFormatReaderWriter>},
};

void PrintTo(const TFormatCase& c, std::ostream* out)
{
    *out << c.ext;
}

TPGSettings LosslessSettings()
{
    TPGSettings settings = DefaultSettings();
    settings.WebPLossless = settings.AVIFLossless = settings.JXLLossless = true;
    return settings;
}

Bytes Encoded(const std::string& ext, TPixelGraphic& image, const TPGSettings& settings = DefaultSettings())
{
    TSettingsScope scope(settings);
    TMemoryStream stream;
    BuiltInFormats().FindWriter(ext)->Write(stream, image);
    return stream.Data();
}

class PhotoFormat : public ::testing::TestWithParam<TFormatCase> {
protected:
    // Loads bytes through the common load path as a file named name.
    void LoadAs(const Bytes& bytes, const std::string& name, TPixelGraphic& image)
    {
        test::WriteAll(m_dir.File(name), bytes);
        image.LoadFromFile(m_dir.File(name));
    }

    // Runs a load expected to fail and tells whether it raised the format's own error.
    bool RaisesOwnError(const std::function<void()>& load)
    {
        try {
            load();
        } catch (const std::exception& e) {
            return GetParam().isOwnError(e) && std::string(e.what()).find(':') != std::string::npos;
        }
        return false;
    }

    TTempDir m_dir;
};

// Random noise of every colour, and a palette image: stored colours come back unchanged.
TEST_P(PhotoFormat, LosslessCodingRoundTripsExactly)
{
    if (!GetParam().lossless)
        GTEST_SKIP() << "the HEVC encoder has no lossless coding";
    TPixelGraphic noise, palette;
    test::FillRandom(noise, 37, 23, bc24, 11);
    test::FillRandom(palette, 21, 17, bc8, 12);
    for (TPixelGraphic* source : {&noise, &palette}) {
        TPixelGraphic back;
        LoadAs(Encoded(GetParam().ext, *source, LosslessSettings()), std::string("back.") + GetParam().ext, back);
        ExpectSameSize(back, *source);
        EXPECT_EQ(WorstDifference(back, *source), 0);
    }
}

TEST_P(PhotoFormat, ContentWinsOverAWrongExtension)
{
    TPixelGraphic source, back;
    FillPhoto(source);
    const Bytes bytes = Encoded(GetParam().ext, source);
    TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
    const TFileFormatReader* reader = BuiltInFormats().SelectReader(stream, "png");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Description, GetParam().description);
    LoadAs(bytes, "picture.png", back);
    ExpectSameSize(back, source);
    EXPECT_LT(MeanDifference(back, source), 4.0);
}

// Cut to a third, and with a stretch of the coded data overwritten: the
// format's own error, or (truncation where the codec gives the rows it has) a
// warning that the raising action turns into that error.
TEST_P(PhotoFormat, DamagedFilesRaiseTheFormatsError)
{
    TPixelGraphic source;
    FillPhoto(source);
    const Bytes whole = Encoded(GetParam().ext, source);
    Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() / 3));
    Bytes corrupt = whole;
    std::fill(corrupt.begin() + std::ptrdiff_t(whole.size() / 2), corrupt.end() - 8, std::uint8_t(0xA5));
    for (const Bytes* bytes : {&cut, &corrupt}) {
        SCOPED_TRACE(bytes == &cut ? "cut" : "corrupt");
        TPixelGraphic image;
        image.SetReadWarningAction(pgwaRaise);
        EXPECT_TRUE(RaisesOwnError([&] { LoadAs(*bytes, std::string("bad.") + GetParam().ext, image); }));
    }
}

// Cut after two thirds and read under the ignoring action: where the codec
// gives the rows it has (WebP) the top rows stay and the rest is background;
// where it does not, the cut file is an error whatever the action.
TEST_P(PhotoFormat, CutFilesKeepTheRowsTheCodecGives)
{
    TPixelGraphic source, image;
    FillPhoto(source);
    const Bytes whole = Encoded(GetParam().ext, source);
    const Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() * 2 / 3));
    image.SetReadWarningAction(pgwaIgnore);
    const auto raised = test::Raised([&] { LoadAs(cut, std::string("cut.") + GetParam().ext, image); });
    if (std::string(GetParam().ext) != "webp") {
        EXPECT_TRUE(raised.has_value());
        return;
    }
    ASSERT_FALSE(raised.has_value()) << *raised;
    ExpectSameSize(image, source);
    TPixelGraphic complete;
    LoadAs(whole, std::string("whole.") + GetParam().ext, complete);
    for (int x = 0; x < source.Width(); ++x)
        EXPECT_EQ(image.GetColor(x, 0), complete.GetColor(x, 0)) << x;
    EXPECT_EQ(image.GetColor(5, source.Height() - 1), image.GetBackGroundColor());
}

TEST_P(PhotoFormat, FileInfoNamesFormatSizeDepthAndAlpha)
{
    TPixelGraphic source;
    FillPhoto(source, 40, 30);
    test::WriteAll(m_dir.File("a.bin"), Encoded(GetParam().ext, source));
    TFileInfo info;
    ASSERT_TRUE(GetFileInfo(m_dir.File("a.bin"), 0, info));
    EXPECT_EQ(info.FormatDescription, GetParam().description);
    EXPECT_EQ(info.Width, 40);
    EXPECT_EQ(info.Height, 30);
    EXPECT_EQ(info.BitsPerPixel, 24);
    EXPECT_NE(info.SubFormatText.find("8-bit"), std::string::npos) << info.SubFormatText;
    EXPECT_EQ(info.SubFormatText.find("alpha"), std::string::npos) << info.SubFormatText;
    EXPECT_EQ(info.ImageCount, 1);
}

// A picture larger than the limit is refused with the size error, before the
// codec decodes anything.
TEST_P(PhotoFormat, PixelLimitRefusesTheHeader)
{
    TPixelGraphic source, image;
    FillPhoto(source);
    test::WriteAll(m_dir.File("big.bin"), Encoded(GetParam().ext, source));
    TPGSettings settings = DefaultSettings();
    settings.MaxImagePixels = 96 * 64 - 1;
    EXPECT_THROW(image.LoadFromFile(m_dir.File("big.bin"), settings), EPGInvalidSize);
    settings.MaxImagePixels = 96 * 64;
    image.LoadFromFile(m_dir.File("big.bin"), settings);
    EXPECT_EQ(image.Width(), 96);
}

INSTANTIATE_TEST_SUITE_P(Formats, PhotoFormat, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.ext); });

// ---- headers claiming huge pictures --------------------------------------------------------

// Bits written the way JPEG XL packs them: least significant first.
class TBitWriter {
public:
    void Put(std::uint32_t value, int bits)
    {
        for (int i = 0; i < bits; ++i, ++m_count) {
            if (m_count % 8 == 0)
                m_bytes.push_back(0);
            m_bytes.back() |= std::uint8_t(((value >> i) & 1) << (m_count % 8));
        }
    }
    const Bytes& Data() const { return m_bytes; }

private:
    Bytes m_bytes;
    int m_count = 0;
};

// A codestream whose header claims 100000 x 100000 pixels, followed by nothing.
Bytes HugeJxlHeader()
{
    TBitWriter bits;
    bits.Put(0xFF, 8);
    bits.Put(0x0A, 8);
    bits.Put(0, 1);           // size not in multiples of 8
    bits.Put(3, 2);           // height in 30 bits
    bits.Put(100000 - 1, 30);
    bits.Put(1, 3);           // width = height
    bits.Put(1, 1);           // default image metadata
    bits.Put(0, 32);
    return bits.Data();
}

// A lossless WebP whose header claims 16384 x 16384 pixels.
Bytes HugeWebPHeader()
{
    TPixelGraphic source;
    FillPhoto(source, 8, 8);
    Bytes bytes = Encoded("webp", source, LosslessSettings());
    const std::size_t at = 21;  // after "RIFF" size "WEBP" "VP8L" size and the 0x2F byte
    EXPECT_EQ(bytes[at - 1], 0x2F);
    const std::uint32_t both = 0x3FFFu | 0x3FFFu << 14;  // width - 1 and height - 1
    for (int i = 0; i < 4; ++i)
        bytes[at + std::size_t(i)] = std::uint8_t(i < 3 ? both >> (8 * i) : (bytes[at + 3] & 0xF0) | both >> 24);
    return bytes;
}

TEST(PhotoFormatHugeHeader, RefusedByTheLimitNotByTheCodec)
{
    TPGSettings settings = DefaultSettings();
    settings.MaxImagePixels = 1 << 24;
    for (const auto& [name, bytes] : {std::pair{"webp", HugeWebPHeader()}, std::pair{"jxl", HugeJxlHeader()}}) {
        SCOPED_TRACE(name);
        TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
        TPixelGraphic image;
        EXPECT_THROW(image.LoadFromStreamExt(stream, name, 0, settings), EPGInvalidSize);
        EXPECT_TRUE(image.GetEmpty());
    }
}

// ---- animations and alpha ------------------------------------------------------------------

// Three 16 x 16 frames, red, green and blue, made by ImageMagick and the
// format's tool: the first frame is read and the count told.
TEST(PhotoFormatAnimation, FirstFrameAndFrameCount)
{
    if (!HaveTool("convert"))
        GTEST_SKIP() << "convert (imagemagick) is not installed";
    TTempDir dir;
    ASSERT_TRUE(RunIn(dir, "convert -size 16x16 xc:red xc:lime xc:blue -set delay 10 -loop 0 anim.gif"));
    const std::pair<const char*, const char*> rows[] = {{"gif2webp", "gif2webp -lossy anim.gif -o anim.webp"},
                                                        {"cjxl", "cjxl anim.gif anim.jxl"}};
    for (const auto& [tool, command] : rows) {
        SCOPED_TRACE(command);
        if (!HaveTool(tool))
            continue;
        ASSERT_TRUE(RunIn(dir, command));
        const std::string file = dir.File(std::string("anim.") + (std::string(tool) == "cjxl" ? "jxl" : "webp"));
        TFileInfo info;
        ASSERT_TRUE(GetFileInfo(file, 0, info));
        EXPECT_EQ(info.ImageCount, 3);
        EXPECT_NE(info.SubFormatText.find("3 frames"), std::string::npos) << info.SubFormatText;
        TPixelGraphic image;
        image.LoadFromFile(file);
        ASSERT_EQ(image.Width(), 16);
        const TRGB centre = image.GetColor(8, 8);
        EXPECT_GT(RedOf(centre), 200);
        EXPECT_LT(GreenOf(centre), 50);
    }
}

// Half-transparent orange (200, 100, 50) laid over the image's background
// colour, black or white, as the other readers do with transparency.
TEST(PhotoFormatAlpha, KeptOrCompositedOverTheBackgroundColour)
{
    if (!HaveTool("convert"))
        GTEST_SKIP() << "convert (imagemagick) is not installed";
    TTempDir dir;
    ASSERT_TRUE(RunIn(dir, "convert -size 16x16 'xc:rgba(200,100,50,0.5)' a.png"));
    const std::pair<const char*, const char*> rows[] = {{"cwebp", "cwebp -quiet -lossless a.png -o a.webp"},
                                                        {"cjxl", "cjxl -d 0 a.png a.jxl"},
                                                        {"avifenc", "avifenc -l a.png a.avif"}};
    for (const auto& [tool, command] : rows) {
        SCOPED_TRACE(command);
        if (!HaveTool(tool))
            continue;
        ASSERT_TRUE(RunIn(dir, command));
        const std::string name = std::string(command);
        const std::string file = dir.File(name.substr(name.rfind(' ') + 1));
        TFileInfo info;
        ASSERT_TRUE(GetFileInfo(file, 0, info));
        EXPECT_NE(info.SubFormatText.find("alpha"), std::string::npos) << info.SubFormatText;
        EXPECT_TRUE(info.HasAlpha);
        {
            TPixelGraphic image;
            image.LoadFromFile(file);
            ASSERT_TRUE(image.HasAlpha());
            EXPECT_NEAR(int(image.GetPixel(5, 5) >> 24), 128, 2);
            EXPECT_NEAR(RedOf(image.GetColor(5, 5)), 200, 2);
            // The WebP writer keeps alpha too: a lossless round trip is exact.
            TPGSettings lossless = DefaultSettings();
            lossless.WebPLossless = true;
            image.SaveToFile(dir.File("kept.webp"), lossless);
            TPixelGraphic back;
            back.LoadFromFile(dir.File("kept.webp"));
            ASSERT_TRUE(back.HasAlpha());
            EXPECT_EQ(back.GetPixel(5, 5), image.GetPixel(5, 5));
        }
        TPGSettings flattening = DefaultSettings();
        flattening.FlattenAlphaOnLoad = true;
        for (const TRGB background : {TRGB(0), TRGB(0xFFFFFF)}) {
            TPixelGraphic image;
            image.SetBackGroundColor(background);
            image.LoadFromFile(file, flattening);
            EXPECT_FALSE(image.HasAlpha());
            const TRGB c = image.GetColor(5, 5);
            const int base = background == 0 ? 0 : 255;
            EXPECT_NEAR(RedOf(c), (200 + base) / 2, 2);
            EXPECT_NEAR(GreenOf(c), (100 + base) / 2, 2);
            EXPECT_NEAR(BlueOf(c), (50 + base) / 2, 2);
        }
    }
}

TEST(PhotoFormatSettings, JxlQualityMapsToTheDistanceOfCjxl)
{
    EXPECT_FLOAT_EQ(JXLDistanceOfQuality(90), 1.0f);
    EXPECT_FLOAT_EQ(JXLDistanceOfQuality(100), 0.0f);
    EXPECT_NEAR(JXLDistanceOfQuality(30), 6.4f, 1e-5);
    EXPECT_GT(JXLDistanceOfQuality(1), JXLDistanceOfQuality(29));
}

}  // namespace
