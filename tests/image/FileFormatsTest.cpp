// The registry, reader selection and the common load and save paths.
#include "image/FileFormats.h"

#include "formats/Register.h"

#include "image/PGExceptions.h"
#include "image/PGraphic.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace rastova;

namespace {

// A reader recognising "GAMMA<g><bits>": a 2 x 1 image whose data gamma is g/10.
class TGammaReader : public TFileFormatReader {
public:
    TGammaReader()
    {
        Extension = "zzgamma";
        Description = "Gamma test";
        HasSignature = true;
    }
    std::string ClassName() const override { return "TGammaReader"; }
    bool CheckSignature(const TSignatureHeader& h) override
    {
        return h.Count >= 5 && std::memcmp(h.Bytes.data(), "GAMMA", 5) == 0;
    }
    void Read(TStream& stream, TPixelGraphic& g, int) override
    {
        std::uint8_t bytes[7];
        stream.ReadBuffer(bytes, 7);
        g.SetGamma(bytes[5] / 10.0L);
        if (bytes[6] == 24) {
            g.SetSize(2, 1, bc24);
            g.SetPixel(0, 0, RGBValue(128, 200, 100));
            g.SetPixel(1, 0, RGBValue(0, 255, 1));
        } else {
            g.SetSize(2, 1, bc8);
            g.SetPaletteCount(2);
            g.SetPaletteColor(0, RGBValue(128, 200, 100));
            g.SetPaletteColor(1, RGBValue(0, 255, 1));
        }
    }
};

// A writer whose accepted resolutions are fixed when it is made, and whose
// failure is set by the test.
bool g_fakeFails = false;

class TFakeWriter : public TFileFormatWriter {
public:
    explicit TFakeWriter(TColorResolutions resolutions)
    {
        Extension = "zzfake";
        Description = "Fake";
        CanWriteResolutions = resolutions;
    }
    std::string ClassName() const override { return "TFakeWriter"; }
    void Write(TStream& stream, TPixelGraphic&) override
    {
        stream.WriteBuffer("partial", 7);
        if (g_fakeFails)
            throw EPixelGraphic("disk full");
    }
};

// The tests' own registry: the built-in formats plus the two fakes above. The
// shared one is never changed.
class FileFormatsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetFakeResolutions(ResolutionBit(crTrueColor));
        g_fakeFails = false;
        SetQuestionFunction(nullptr);
    }
    void TearDown() override
    {
        SetQuestionFunction(nullptr);
        GammaCorrection = true;
    }
    void SetFakeResolutions(TColorResolutions set)
    {
        m_formats = std::make_unique<TFormatRegistry>();
        RegisterBuiltInFormats(*m_formats);
        m_formats->RegisterReader(std::make_unique<TGammaReader>());
        m_formats->RegisterWriter(std::make_unique<TFakeWriter>(set));
    }
    const TFormatRegistry& Formats() const { return *m_formats; }
    void Save(TPixelGraphic& g, const std::string& fileName) const
    {
        g.SaveToFile(fileName, DefaultSettings(), *m_formats);
    }

private:
    std::unique_ptr<TFormatRegistry> m_formats;
};

const std::string kPpm = "P3\n2 1\n255\n10 20 30 40 50 60\n";

// An image whose colour resolution code is `code`.
void MakeImageOfResolution(TPixelGraphic& g, int code)
{
    switch (code) {
    case crBlackWhite: g.SetSize(4, 2, bc1); g.SetPaletteIdent(pBlackWhite); break;
    case cr2Colors:
        g.SetSize(4, 2, bc1);
        g.SetPaletteCount(2);
        g.SetPaletteColor(0, RGBValue(255, 0, 0));
        g.SetPaletteColor(1, RGBValue(0, 0, 255));
        break;
    case cr16Gray: g.SetSize(4, 2, bc4); g.SetPaletteIdent(pGray16); break;
    case cr16System: g.SetSize(4, 2, bc4); g.SetPaletteIdent(pSys16); break;
    case cr16Colors: test::FillRandom(g, 4, 2, bc4, 5); break;
    case cr256Gray: g.SetSize(4, 2, bc8); g.SetPaletteIdent(pGray256); break;
    case cr256Colors: test::FillRandom(g, 4, 2, bc8, 6); break;
    default: g.SetSize(4, 2, bc24); break;
    }
    g.DetectPaletteIdent();
    ASSERT_EQ(g.ColorResolution(), code);
}

}  // namespace

TEST_F(FileFormatsTest, ListsAreKeptInExtensionOrder)
{
    std::vector<std::string> readers, writers;
    for (const auto& r : Formats().Readers())
        readers.push_back(r->Extension);
    for (const auto& w : Formats().Writers())
        writers.push_back(w->Extension);
    EXPECT_EQ(readers, (std::vector<std::string>{"avif", "bmp", "dib", "gif", "heic", "heif", "ico", "jif", "jpeg",
                                                  "jpg", "jxl", "pam", "pbm", "pcx", "pgm", "png", "ppm", "rle", "tga",
                                                  "tif", "tiff", "webp", "zzgamma"}));
    EXPECT_EQ(writers, (std::vector<std::string>{"avif", "bmp", "dib", "heic", "heif", "jif", "jpeg", "jpg", "jxl",
                                                  "pbm", "pgm", "png", "ppm", "tga", "tif", "tiff", "webp", "zzfake"}));
    for (const auto& r : Formats().Readers())
        EXPECT_EQ(r->HasSignature, r->Extension != "tga") << r->Extension;
}

TEST_F(FileFormatsTest, ContentWinsOverNameAndOnlyTargaGoesByExtension)
{
    test::TTempDir dir;
    test::WriteAll(dir.File("picture.bmp"), kPpm);
    TPixelGraphic g;
    g.LoadFromFile(dir.File("picture.bmp"));
    EXPECT_EQ(g.Width(), 2);
    EXPECT_EQ(g.GetColor(1, 0), RGBValue(40, 50, 60));

    TMemoryStream unknown(std::string("not an image at all").data(), 19);
    unknown.SetPosition(4);
    ASSERT_NE(SelectReader(unknown, ".TGA"), nullptr);
    EXPECT_EQ(SelectReader(unknown, ".TGA")->Extension, "tga");
    EXPECT_EQ(unknown.Position(), 4);  // the header read is undone
    EXPECT_EQ(SelectReader(unknown, "dat"), nullptr);
    EXPECT_EQ(SelectReader(unknown, ""), nullptr);
    TMemoryStream ppm(kPpm.data(), kPpm.size());
    EXPECT_EQ(SelectReader(ppm, "tga")->Extension, "ppm");
    TMemoryStream shortStream(std::string("P").data(), 1);
    EXPECT_EQ(SelectReader(shortStream, ""), nullptr);  // bytes past the end never count

    test::WriteAll(dir.File("picture.dat"), "not an image at all");
    try {
        g.LoadFromFile(dir.File("picture.dat"));
        FAIL();
    } catch (const EPGUnknownFileFormat& e) {
        EXPECT_STREQ(e.what(), "Unknown file format");
    }
}

TEST_F(FileFormatsTest, SaveFallsBackToTheNearestResolutionTheWriterStores)
{
    struct Row {
        int current;
        const char* ext;
        int chosen;
    };
    // Codes: 0 b/w, 1 two colours, 2 16 grays, 3 16 system, 4 16 colours, 5 256 grays, 6 256 colours, 7 true.
    const Row rows[] = {{7, "pbm", 0}, {1, "jpg", 7}, {0, "jpg", 5}, {2, "tga", 6}, {1, "tif", 4},
                        {6, "pgm", 5}, {3, "ppm", 7}, {4, "jpg", 7}, {5, "tga", 6}, {0, "tga", 6},
                        {2, "jpg", 5}, {6, "pbm", 0}, {7, "tga", 7}};
    static const char* const kNames[8] = {"black and white",    "2 colors",   "16 shades of gray",
                                          "16 system colors",   "16 colors",  "256 shades of gray",
                                          "256 colors",         "16.7 million colors"};
    for (const Row& r : rows) {
        TPixelGraphic g;
        MakeImageOfResolution(g, r.current);
        g.SetSaveColorResWarningAction(pgwaOKBox);
        std::string warning, caption;
        SetQuestionFunction([&](const std::string& text, const std::string& cap, TQuestionButtons buttons) {
            warning = text;
            caption = cap;
            EXPECT_EQ(buttons, qbOK);
            return qaOK;
        });
        TMemoryStream stream;
        try {
            g.SaveToStreamExt(stream, r.ext);
        } catch (const EPixelGraphic&) {
            // Writers or conversions not reached by this test may refuse; the choice is made before.
        }
        if (r.current == r.chosen) {
            EXPECT_EQ(warning, "") << r.ext;
            continue;
        }
        EXPECT_EQ(caption, "Warning");
        const std::string expected = std::string("with the current color resolution (") + kNames[r.current] +
                                     ").\r\rThe graphic will be saved with a different color resolution (" +
                                     kNames[r.chosen] + ").";
        EXPECT_NE(warning.find(expected), std::string::npos)
            << "current " << r.current << " to " << r.ext << ": " << warning;
    }
}

TEST_F(FileFormatsTest, WarningActionsAndRefusals)
{
    test::TTempDir dir;
    TPixelGraphic g;
    MakeImageOfResolution(g, cr256Gray);
    SetFakeResolutions(ResolutionBit(crTrueColor));
    bool asked = false;
    SetQuestionFunction([&](const std::string&, const std::string&, TQuestionButtons buttons) {
        asked = true;
        EXPECT_EQ(buttons, qbOKCancel);
        return qaCancel;
    });
    const std::string target = dir.File("out.zzfake");
    try {
        Save(g, target);
        FAIL();
    } catch (const EPGCannotWriteColorRes& e) {
        EXPECT_STREQ(e.what(),
                     "The graphic cannot be saved with to a Fake file with the current color resolution (256 shades of gray)");
    }
    EXPECT_TRUE(asked);
    EXPECT_FALSE(std::filesystem::exists(target));

    asked = false;
    g.SetSaveColorResWarningAction(pgwaRaise);
    EXPECT_THROW(Save(g, target), EPGCannotWriteColorRes);
    EXPECT_FALSE(asked);

    SetFakeResolutions(0);
    try {
        Save(g, target);
        FAIL();
    } catch (const EPGCanWriteResolutionsEmpty& e) {
        EXPECT_STREQ(e.what(), "TFakeWriter.CanWriteResolutions is empty");
    }
    try {
        Save(g, dir.File("x.GIF"));
        FAIL();
    } catch (const EPGUnknownExtension& e) {
        EXPECT_STREQ(e.what(), "Unknown file extension \"gif\"");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(FileFormatsTest, FailedSavesNeverLeaveOrDamageFiles)
{
    test::TTempDir dir;
    TPixelGraphic g;
    g.SetSize(2, 2, bc24);
    SetFakeResolutions(ResolutionBit(crTrueColor));
    g_fakeFails = true;

    const std::string fresh = dir.File("fresh.zzfake");
    EXPECT_THROW(Save(g, fresh), EPixelGraphic);
    EXPECT_FALSE(std::filesystem::exists(fresh));

    const std::string existing = dir.File("existing.zzfake");
    test::WriteAll(existing, std::string("precious contents"));
    EXPECT_THROW(Save(g, existing), EPixelGraphic);
    EXPECT_EQ(test::ReadAll(existing), (std::vector<std::uint8_t>{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's', ' ', 'c',
                                                                  'o', 'n', 't', 'e', 'n', 't', 's'}));
    // No temporary file is left behind either.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1);

    // A successful save replaces the file as a whole.
    g_fakeFails = false;
    Save(g, existing);
    EXPECT_EQ(test::ReadAll(existing), (std::vector<std::uint8_t>{'p', 'a', 'r', 't', 'i', 'a', 'l'}));

    // A folder that does not exist fails cleanly.
    EXPECT_THROW(Save(g, dir.File("missing/x.zzfake")), EPixelGraphic);
}

TEST_F(FileFormatsTest, UpperCaseExtensionsChooseTheWriter)
{
    test::TTempDir dir;
    TPixelGraphic g;
    g.SetSize(1, 1, bc24);
    g.SetPixel(0, 0, RGBValue(1, 2, 3));
    g.SaveToFile(dir.File("PIC.PPM"));
    const std::vector<std::uint8_t> bytes = test::ReadAll(dir.File("PIC.PPM"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "P3\n1 1\n255\n1 2 3\n");
}

TEST_F(FileFormatsTest, LoadCorrectsGammaAboveTheThreshold)
{
    const auto load = [this](int gammaTenths, int bits) {
        const std::vector<std::uint8_t> bytes{'G', 'A', 'M', 'M', 'A', std::uint8_t(gammaTenths), std::uint8_t(bits)};
        TMemoryStream s(bytes);
        auto g = std::make_unique<TPixelGraphic>();
        g->LoadFromStreamExt(s, "", 0, DefaultSettings(), Formats());
        return g;
    };
    // The default display is sRGB: a 2.2 file keeps its bytes, a 1.8 file is
    // corrected by round(255 * (v / 255) ^ (1.8 / 2.2)).
    EXPECT_EQ(load(22, 24)->GetColor(0, 0), RGBValue(128, 200, 100));
    EXPECT_EQ(load(18, 24)->GetColor(0, 0), RGBValue(145, 209, 119));
    EXPECT_EQ(load(18, 8)->GetPaletteColor(0), RGBValue(145, 209, 119));
    EXPECT_DOUBLE_EQ(double(load(18, 24)->Gamma()), 2.2);

    // A 1.8 display, set by the program.
    const long double savedDisplay = DisplayGamma;
    DisplayGamma = 1.8L;
    // 2.2 against 1.8: every byte goes through round(255 * (v / 255) ^ (2.2 / 1.8)).
    auto g = load(22, 24);
    EXPECT_EQ(g->GetColor(0, 0), RGBValue(110, 189, 81));
    EXPECT_EQ(g->GetColor(1, 0), RGBValue(0, 255, 0));  // 255 * (1/255)^1.22 = 0.29
    EXPECT_DOUBLE_EQ(double(g->Gamma()), double(DisplayGamma));
    g = load(22, 8);
    EXPECT_EQ(g->GetPaletteColor(0), RGBValue(110, 189, 81));
    // 1.85 is within 5 % of 1.8 (ratio 1.028): left alone. So is everything when switched off.
    EXPECT_EQ(load(18, 24)->GetColor(0, 0), RGBValue(128, 200, 100));
    DisplayGamma = savedDisplay;
    GammaCorrection = false;
    EXPECT_EQ(load(22, 24)->GetColor(0, 0), RGBValue(128, 200, 100));
    EXPECT_EQ(load(18, 24)->GetColor(0, 0), RGBValue(128, 200, 100));
}

TEST_F(FileFormatsTest, FileInfo)
{
    test::TTempDir dir;
    test::WriteAll(dir.File("a.ppm"), kPpm);
    TFileInfo info;
    ASSERT_TRUE(GetFileInfo(dir.File("a.ppm"), 0, info));
    EXPECT_EQ(info.FormatDescription, "Portable Pixelmap");
    EXPECT_EQ(info.Width, 2);
    EXPECT_FALSE(GetFileInfo(dir.File("missing.ppm"), 0, info));
    EXPECT_FALSE(GetFileInfo(dir.Path().string() + "/", 0, info));
    test::WriteAll(dir.File("b.ppm"), std::string("P9 garbage"));
    EXPECT_FALSE(GetFileInfo(dir.File("b.ppm"), 0, info));
    EXPECT_EQ(info.FormatDescription, "");
}

TEST_F(FileFormatsTest, ReadDataSkipsExactlyTheStoredBlock)
{
    // The block is found by content, so any format stored in it loads.
    TMemoryStream s;
    const std::uint32_t count = std::uint32_t(kPpm.size() + 5);  // the block is longer than the reader needs
    const std::uint8_t prefix[4] = {std::uint8_t(count), 0, 0, 0};
    s.WriteBuffer(prefix, 4);
    s.WriteBuffer(kPpm.data(), std::int64_t(kPpm.size()));
    s.WriteBuffer("xxxxxTAIL", 9);
    s.SetPosition(0);
    TPixelGraphic g;
    g.ReadData(s);
    EXPECT_EQ(g.Width(), 2);
    EXPECT_EQ(s.Position(), 4 + std::int64_t(count));
}

TEST_F(FileFormatsTest, ClipboardFormatsAreChecked)
{
    TPixelGraphic g;
    const std::uint8_t byte = 0;
    EXPECT_THROW(g.LoadFromClipboardFormat(3, &byte, 1), EPGUnknownClipboardFormat);
    try {
        g.LoadFromClipboardFormat(CF_DIB, nullptr, 0);
        FAIL();
    } catch (const EPGUnknownClipboardFormat& e) {
        EXPECT_STREQ(e.what(), "Unknown clipboard format");
    }
}

TEST_F(FileFormatsTest, FallbackSavesWriteTheResolutionTheWriterStores)
{
    test::TTempDir dir;
    struct Row {
        int current;
        const char* ext;
        TBitCount loadedFormat;
        TPaletteIdent loadedIdent;
    };
    const Row rows[] = {
        {crTrueColor, "pbm", bc1, pBlackWhite},   // 7 -> 0
        {cr2Colors, "jpg", bc24, pTrueColor},     // 1 -> 7
        {crBlackWhite, "jpg", bc8, pGray256},     // 0 -> 5
        {cr16Gray, "tga", bc8, pUnknown},         // 2 -> 6
        {cr2Colors, "tif", bc4, pUnknown},        // 1 -> 4
        {cr256Colors, "pgm", bc8, pGray256},      // 6 -> 5
    };
    for (const Row& r : rows) {
        TPixelGraphic g;
        MakeImageOfResolution(g, r.current);
        g.SetSaveColorResWarningAction(pgwaIgnore);
        const std::string file = dir.File(std::string("f") + std::to_string(r.current) + "." + r.ext);
        g.SaveToFile(file);
        EXPECT_EQ(g.ColorResolution(), r.current) << "the image itself is not changed";
        TPixelGraphic back;
        back.LoadFromFile(file);
        EXPECT_EQ(back.BitCount(), r.loadedFormat) << file;
        if (r.loadedIdent != pUnknown) {
            EXPECT_EQ(back.PaletteIdent(), r.loadedIdent) << file;
        }
    }
}
