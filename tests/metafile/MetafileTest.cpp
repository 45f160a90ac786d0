// The metafile player: sizes and refusals over the sample suite, pixel rules
// on tiny metafiles built here, damaged files, and the command-line hook.
#include "app/MetafileSupport.h"
#include "metafile/Metafile.h"
#include "support/TestSupport.h"

#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <cstring>
#include <set>
#include <regex>
#include <sys/wait.h>

namespace rastova {
namespace {

using test::TByteBuilder;

constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000;

// ---- metafiles built here ------------------------------------------------------------

// An EMF whose reference device is 960 x 960 pixels on 254 x 254 mm (96 dpi) and
// whose frame is 96 x 96 pixels, so a device pixel p lands on output pixel 1 + p.
class TEmfBuilder {
public:
    TEmfBuilder& Record(std::uint32_t type, const std::vector<std::int32_t>& fields)
    {
        m_records.push_back({type, fields});
        return *this;
    }
    std::vector<std::uint8_t> Bytes(std::int32_t frameRight = 2540, std::int32_t frameBottom = 2540) const
    {
        TByteBuilder b;
        b.U32LE(1).U32LE(88);
        for (std::int32_t v : {0, 0, 96, 96, 0, 0, frameRight, frameBottom})
            b.U32LE(std::uint32_t(v));
        b.U32LE(0x464D4520).U32LE(0x10000).U32LE(0).U32LE(std::uint32_t(m_records.size() + 2));
        b.U16LE(8).U16LE(0).U32LE(0).U32LE(0).U32LE(0);
        b.U32LE(960).U32LE(960).U32LE(254).U32LE(254);
        for (const auto& [type, fields] : m_records) {
            b.U32LE(type).U32LE(std::uint32_t(8 + 4 * fields.size()));
            for (std::int32_t v : fields)
                b.U32LE(std::uint32_t(v));
        }
        b.U32LE(14).U32LE(20).U32LE(0).U32LE(16).U32LE(20);
        return b.Data();
    }

private:
    std::vector<std::pair<std::uint32_t, std::vector<std::int32_t>>> m_records;
};

// A placeable WMF with the box (0, 0)-(96, 96) at 96 units per inch.
class TWmfBuilder {
public:
    TWmfBuilder& Record(std::uint16_t function, const std::vector<std::int16_t>& words)
    {
        m_records.push_back({function, words});
        return *this;
    }
    std::vector<std::uint8_t> Bytes() const
    {
        TByteBuilder b;
        b.U32LE(0x9AC6CDD7).U16LE(0).U16LE(0).U16LE(0).U16LE(96).U16LE(96).U16LE(96).U32LE(0).U16LE(0);
        b.U16LE(1).U16LE(9).U16LE(0x300).U32LE(0).U16LE(4).U32LE(0).U16LE(0);
        for (const auto& [function, words] : m_records) {
            b.U32LE(std::uint32_t(3 + words.size())).U16LE(function);
            for (std::int16_t w : words)
                b.U16LE(std::uint16_t(w));
        }
        b.U32LE(3).U16LE(0);
        return b.Data();
    }

private:
    std::vector<std::pair<std::uint16_t, std::vector<std::int16_t>>> m_records;
};

enum : std::uint32_t {
    EMR_SETWINDOWEXTEX = 9, EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18, EMR_SETBKCOLOR = 25, EMR_EXTTEXTOUTW = 84,
    EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35, EMR_SELECTOBJECT = 37, EMR_RECTANGLE = 43
};
constexpr std::int32_t kBlackBrush = std::int32_t(0x80000004u), kNullBrush = std::int32_t(0x80000005u);

std::int32_t FloatBits(float f)
{
    std::int32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// The picture drawn on a white 96 x 96 image at (1, 1), as the job does.
QImage Render(const std::vector<std::uint8_t>& bytes)
{
    TMetafile metafile;
    metafile.LoadFromBytes(bytes);
    QImage image(metafile.Width(), metafile.Height(), QImage::Format_RGB32);
    image.fill(Qt::white);
    metafile.Draw(image, 1, 1);
    return image;
}

struct TProbe {
    int x, y;
    std::uint32_t rgb;
};

struct TPixelCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::vector<TProbe> probes;
};

// A black 10 x 10 square from device (10, 10): its outline covers 10..19 and
// leaves 20 out, and output pixels are device pixels + 1.
const std::vector<TProbe> kSquareProbes = {{11, 11, kBlack}, {20, 20, kBlack}, {15, 15, kBlack},
                                           {21, 15, kWhite}, {15, 21, kWhite}, {10, 10, kWhite}};

std::vector<TPixelCase> PixelCases()
{
    std::vector<TPixelCase> cases;
    cases.push_back({"excluded right and bottom edges",
                     TEmfBuilder().Record(EMR_SELECTOBJECT, {kBlackBrush}).Record(EMR_RECTANGLE, {10, 10, 20, 20}).Bytes(),
                     kSquareProbes});
    cases.push_back({"placement at (1, 1)",
                     TEmfBuilder().Record(EMR_SELECTOBJECT, {kBlackBrush}).Record(EMR_RECTANGLE, {0, 0, 96, 96}).Bytes(),
                     {{0, 0, kWhite}, {0, 50, kWhite}, {50, 0, kWhite}, {1, 1, kBlack}, {95, 95, kBlack}}});
    cases.push_back({"anisotropic window and viewport",
                     TEmfBuilder()
                         .Record(EMR_SETMAPMODE, {8})
                         .Record(EMR_SETWINDOWORGEX, {50, 50})
                         .Record(EMR_SETWINDOWEXTEX, {100, 100})
                         .Record(EMR_SETVIEWPORTEXTEX, {50, 50})
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_RECTANGLE, {70, 70, 90, 90})
                         .Bytes(),
                     kSquareProbes});
    cases.push_back({"world transform scales and moves",
                     TEmfBuilder()
                         .Record(EMR_SETWORLDTRANSFORM, {FloatBits(2), 0, 0, FloatBits(2), FloatBits(10), FloatBits(10)})
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_RECTANGLE, {0, 0, 5, 5})
                         .Bytes(),
                     kSquareProbes});
    cases.push_back({"RestoreDC brings back brush and transform",
                     TEmfBuilder()
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_SAVEDC, {})
                         .Record(EMR_SELECTOBJECT, {kNullBrush})
                         .Record(EMR_SETWORLDTRANSFORM, {FloatBits(3), 0, 0, FloatBits(3), 0, 0})
                         .Record(EMR_RESTOREDC, {-1})
                         .Record(EMR_RECTANGLE, {10, 10, 20, 20})
                         .Bytes(),
                     kSquareProbes});
    // Text in transparent mode after an opaque fill with a black background
    // leaves the cell around the glyph untouched.
    cases.push_back({"transparent text keeps its cell",
                     TEmfBuilder()
                         .Record(EMR_SETBKCOLOR, {0})
                         .Record(EMR_SETBKMODE, {2})
                         .Record(EMR_RECTANGLE, {0, 0, 5, 5})
                         .Record(EMR_SETBKMODE, {1})
                         .Record(EMR_EXTTEXTOUTW, {0, 0, 0, 0, 1, 0, 0, 40, 40, 1, 76, 0, 0, 0, 0, 0, 0, '.'})
                         .Bytes(),
                     {{43, 44, kWhite}, {46, 43, kWhite}}});
    // Slots 0..2 hold a pen, a red and a blue brush; deleting the red one frees
    // slot 1, which the green brush created next must take.
    constexpr std::int16_t kSolid = 0;
    cases.push_back({"WMF objects take the lowest free slot",
                     TWmfBuilder()
                         .Record(0x02FA, {0, 1, 0, 0, 0})                // pen, black
                         .Record(0x02FC, {kSolid, 0x00FF, 0x0000, 0})    // red brush
                         .Record(0x02FC, {kSolid, 0x0000, 0x00FF, 0})    // blue brush
                         .Record(0x012D, {0})
                         .Record(0x012D, {2})
                         .Record(0x01F0, {1})
                         .Record(0x02FC, {kSolid, std::int16_t(0xFF00), 0x0000, 0})  // green brush
                         .Record(0x012D, {1})
                         .Record(0x041B, {20, 20, 10, 10})               // rectangle: bottom, right, top, left
                         .Bytes(),
                     {{15, 15, 0x00FF00}, {11, 11, kBlack}, {21, 15, kWhite}}});
    return cases;
}

TEST(MetafilePixels, ProbesOnTinyMetafiles)
{
    for (const TPixelCase& c : PixelCases()) {
        SCOPED_TRACE(c.name);
        const QImage image = Render(c.bytes);
        ASSERT_EQ(image.size(), QSize(96, 96));
        for (const TProbe& p : c.probes)
            EXPECT_EQ(image.pixel(p.x, p.y) & 0xFFFFFF, p.rgb) << "at " << p.x << "," << p.y;
    }
}

// ---- sizes and refusals ----------------------------------------------------------------

TEST(MetafileSize, RoundingAndLimits)
{
    struct TRow {
        std::int64_t a, b, c, expected;
    } rows[] = {{2540, 96, 2540, 96}, {-2540, 96, 2540, -96}, {1, 1, 2, 1}, {-1, 1, 2, -1},
                {10, 96, 1440, 1}, {7, 1, 0, 0}, {577, 96, 575, 96}};
    for (const TRow& r : rows)
        EXPECT_EQ(MulDivRound(r.a, r.b, r.c), r.expected) << r.a << "*" << r.b << "/" << r.c;

    struct TFrame {
        std::int32_t right, bottom;
        bool loads;
    } frames[] = {{2540, 2540, true}, {0, 2540, false}, {-2540, 2540, false},
                  {32767 * 2540 / 96, 100, true}, {32768 * 2540 / 96 + 20, 100, false},
                  {8193 * 2540 / 96, 8193 * 2540 / 96, false}};
    for (const TFrame& f : frames) {
        TMetafile metafile;
        const std::string message = test::MessageOf<EPGMetafile>(
            [&] { metafile.LoadFromBytes(TEmfBuilder().Bytes(f.right, f.bottom)); });
        EXPECT_EQ(message == "(nothing raised)", f.loads) << f.right << "x" << f.bottom << ": " << message;
    }
}

struct TSample {
    std::string name;
    int width = 0, height = 0;  // 0: no size, refused
};

// The samples and their sizes as listed in the suite's SOURCE.txt.
std::vector<TSample> Samples()
{
    std::vector<TSample> samples;
    std::ifstream list(test::TestSuitesDir() / "metafile" / "SOURCE.txt");
    const std::regex sized(R"(^(\S+\.(?:wmf|emf))\s+(\d+) x (\d+)\b)"), unsized(R"(^(\S+\.wmf)\s+-\s)");
    std::string line;
    std::smatch m;
    while (std::getline(list, line)) {
        if (std::regex_search(line, m, sized))
            samples.push_back({m[1], std::stoi(m[2]), std::stoi(m[3])});
        else if (std::regex_search(line, m, unsized))
            samples.push_back({m[1], 0, 0});
    }
    return samples;
}

int NonWhitePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & 0xFFFFFF) != kWhite;
    return count;
}

TEST(MetafileSamples, SizeRefusalAndPlayback)
{
    const std::vector<TSample> samples = Samples();
    if (samples.empty())
        GTEST_SKIP() << "metafile suite not present";
    EXPECT_EQ(samples.size(), 30u);
    // Pictures whose frame holds nothing drawn (no content, or all of it outside the
    // frame), and one whose content lies mostly above the frame.
    const std::set<std::string> blank = {"libemf2svg-test-030.emf", "pstoedit-text.emf"};
    const std::set<std::string> mostlyOutside = {"libemf2svg-EA-test-file-001.emf"};
    for (const TSample& s : samples) {
        SCOPED_TRACE(s.name);
        const auto path = test::TestSuitesDir() / "metafile" / s.name;
        TPixelGraphic bitmap;
        TMetafile metafile;
        if (s.width == 0) {
            EXPECT_NE(test::MessageOf<EPGMetafile>([&] { metafile.LoadFromFile(path.string()); }), "(nothing raised)");
            continue;
        }
        metafile.LoadFromFile(path.string());
        EXPECT_EQ(metafile.Width(), s.width);
        EXPECT_EQ(metafile.Height(), s.height);
        EXPECT_EQ(metafile.Kind(), s.name.ends_with(".emf") ? mkEnhanced : mkWindows);
        // Large pictures are checked on their top-left part only.
        QImage image(std::min(s.width, 1200), std::min(s.height, 1200), QImage::Format_RGB32);
        image.fill(Qt::white);
        metafile.Draw(image, 1, 1);
        const int drawn = NonWhitePixels(image);
        if (blank.count(s.name))
            EXPECT_EQ(drawn, 0);
        else if (mostlyOutside.count(s.name))
            EXPECT_GT(drawn, 0);
        else
            EXPECT_GT(drawn, image.width() * image.height() / 200) << "too little drawn";
    }
}

TEST(MetafileSamples, TruncatedCopiesFailOrDrawPartially)
{
    const std::vector<TSample> samples = Samples();
    if (samples.empty())
        GTEST_SKIP() << "metafile suite not present";
    for (const TSample& s : samples) {
        const std::vector<std::uint8_t> bytes = test::ReadAll(test::TestSuitesDir() / "metafile" / s.name);
        for (const std::size_t cut : {std::size_t(10), std::size_t(60), std::size_t(100), bytes.size() / 3,
                                      bytes.size() / 2, bytes.size() - 7}) {
            SCOPED_TRACE(s.name + " cut at " + std::to_string(cut));
            TMetafile metafile;
            try {
                metafile.LoadFromBytes({bytes.begin(), bytes.begin() + std::ptrdiff_t(std::min(cut, bytes.size()))});
            } catch (const EPGMetafile&) {
                continue;  // a header that does not survive the cut
            }
            ASSERT_GT(cut, 17u) << "a header this short cannot be complete";
            QImage image(std::min(metafile.Width(), 400), std::min(metafile.Height(), 400), QImage::Format_RGB32);
            image.fill(Qt::white);
            metafile.Draw(image, 1, 1);
        }
    }
}

// ---- the command line ------------------------------------------------------------------------

std::string RunConvert(const std::string& arguments, int& status)
{
    test::TTempDir dir;
    const std::string out = dir.File("out.txt");
    const int raw = std::system((std::string("'") + RASTOVA_CONVERT_EXE + "' " + arguments + " >'" + out + "' 2>&1").c_str());
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const auto bytes = test::ReadAll(out);
    return std::string(bytes.begin(), bytes.end());
}

TEST(MetafileCommandLine, InfoAndConversion)
{
    const auto dir = test::TestSuitesDir() / "metafile";
    if (!std::filesystem::exists(dir))
        GTEST_SKIP() << "metafile suite not present";
    int status = -1;
    const std::string info = RunConvert("--info '" + (dir / "pillow-drawing.emf").string() + "' '" +
                                            (dir / "libwmf-formula1.wmf").string() + "'",
                                        status);
    EXPECT_EQ(status, 0) << info;
    EXPECT_NE(info.find("File info: Enhanced Metafile, 110x110 pixeles, colors: 256"), std::string::npos) << info;
    EXPECT_NE(info.find("File info: Windows Metafile, 222x41 pixeles, colors: 256"), std::string::npos) << info;

    test::TTempDir out;
    const std::string log = RunConvert("-f png -y -o '" + out.Path().string() + "' '" +
                                           (dir / "pillow-drawing.wmf").string() + "' '" +
                                           (dir / "libwmf-p0000001.wmf").string() + "'",
                                       status);
    EXPECT_EQ(status, 1) << log;  // the non-placeable file is skipped
    QImage png(QString::fromStdString(out.File("pillow-drawing.png")));
    ASSERT_FALSE(png.isNull()) << log;
    EXPECT_EQ(png.size(), QSize(110, 110));
    EXPECT_EQ(png.pixel(0, 50) & 0xFFFFFF, kWhite);  // the left column keeps the background
    EXPECT_FALSE(std::filesystem::exists(out.File("libwmf-p0000001.png")));
}

}  // namespace
}  // namespace rastova

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
