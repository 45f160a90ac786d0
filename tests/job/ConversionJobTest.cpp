#include "job/ConversionJob.h"

#include "formats/GifTestEncoder.h"
#include "formats/Jpeg.h"
#include "formats/PngTestEncoder.h"
#include "image/PGraphic.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

using namespace rastova;

namespace {

// Records every callback; answers and stop requests are scripted by the test.
class TRecordingHost : public TConversionHost {
public:
    std::vector<std::string> items;
    std::vector<bool> selected;
    TConversionOptions options;
    bool confirmAnswer = true;
    std::optional<int> jpegAnswer = LibraryDefaults.JPEGQuality;  // what the dialog leaves
    std::function<void(int pumpNumber)> onPump;

    std::vector<int> progress;
    std::vector<std::string> messages;  // Inform and Confirm texts, in order
    std::vector<std::string> calls;
    std::vector<TFileOutcome> outcomes;
    int pumps = 0;

    int ItemCount() override { return int(items.size()); }
    bool ItemSelected(int i) override { return selected.empty() || selected[std::size_t(i)]; }
    std::string ItemPath(int i) override { return items[std::size_t(i)]; }
    TConversionOptions Options() override { return options; }
    void SetBusy(bool busy) override { calls.push_back(busy ? "busy" : "idle"); }
    void SetProgress(int p) override { progress.push_back(p); }
    void SetStopCaption(bool stop) override { calls.push_back(stop ? "Stop" : "Close"); }
    void Pump() override
    {
        ++pumps;
        if (onPump)
            onPump(pumps);
    }
    void Inform(const std::string& text) override
    {
        messages.push_back(text);
        calls.push_back(Running ? "inform while running" : "inform");
    }
    bool Confirm(const std::string& text) override
    {
        messages.push_back("?" + text);
        return confirmAnswer;
    }
    void FocusDestination() override { calls.push_back("focus"); }
    void AskJpegQuality() override
    {
        calls.push_back("ask quality");
        JpegQualityChoice = jpegAnswer;
    }
    void FileDone(const TFileOutcome& outcome) override { outcomes.push_back(outcome); }
};

const std::string kPpm = "P3\n3 2\n255\n1 1 1 2 2 2 3 3 3\n4 4 4 5 5 5 6 6 6\n";

class ConversionJobTest : public ::testing::Test {
protected:
    test::TTempDir dir;
    TRecordingHost host;

    std::string Source(const std::string& name, const std::string& content = kPpm)
    {
        test::WriteAll(dir.File(name), content);
        return dir.File(name);
    }
    void Run() { TConversionJob(host).Convert(); }
};

}  // namespace

TEST_F(ConversionJobTest, OneFileWalksTheProgressBarThroughThreeSteps)
{
    host.items = {Source("a.ppm")};
    host.options.Destination = dir.Path().string();
    host.options.TargetFormat = tfPPM;
    Run();
    EXPECT_EQ(host.progress, (std::vector<int>{0, 33, 67, 100, 0}));
    EXPECT_EQ(host.messages, (std::vector<std::string>{"The conversion is complete!"}));
    EXPECT_EQ(host.calls.front(), "busy");
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "Stop"), host.calls.end());
    EXPECT_EQ(host.calls.back(), "Close");
    // The end message is shown while the run still counts as running.
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "inform while running"), host.calls.end());
    EXPECT_FALSE(host.Running);
    EXPECT_TRUE(std::filesystem::exists(dir.File("a.ppm")));  // overwritten in place
}

TEST_F(ConversionJobTest, OutputNames)
{
    EXPECT_EQ(OutputPathFor("/in/Photo.JPEG", "/out", tfPNG), "/out/photo.png");
    EXPECT_EQ(OutputPathFor("/in/Photo.JPEG", "/out/", tfPNG), "/out/photo.png");
    EXPECT_EQ(OutputPathFor("/in/README", "/out", tfBMP), "/out/readme.bmp");
    EXPECT_EQ(OutputPathFor("/in.d/archive.tar.GZ", "o", tfTIF), "o/archive.tar.tif");
    EXPECT_EQ(OutputPathFor("/in.d/noext", "o", tfTGA), "o/noext.tga");
    EXPECT_EQ(TrimBlanks("  \t/out dir \n"), "/out dir");

    // The job trims the destination before using it.
    host.items = {Source("Mixed.PPM")};
    host.options.Destination = "  " + dir.Path().string() + "  ";
    host.options.TargetFormat = tfPGM;
    Run();
    EXPECT_TRUE(std::filesystem::exists(dir.File("mixed.pgm")));
}

TEST_F(ConversionJobTest, StartChecksAndTheirMessages)
{
    host.items = {Source("a.ppm")};
    host.selected = {false};
    host.options.Destination = dir.Path().string();
    Run();
    EXPECT_EQ(host.messages, (std::vector<std::string>{"No files are selected!"}));
    EXPECT_TRUE(host.progress.empty()) << "nothing converted";
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "busy"),
              std::count(host.calls.begin(), host.calls.end(), "idle"))
        << "the busy state ends";

    host = TRecordingHost();
    host.items = {dir.File("a.ppm")};
    host.options.Destination = " \t ";
    Run();
    EXPECT_EQ(host.messages, (std::vector<std::string>{"Please, fill destination path."}));
    EXPECT_EQ(host.calls.back(), "focus");

    const std::string missing = dir.File("new");
    host = TRecordingHost();
    host.items = {dir.File("a.ppm")};
    host.options.Destination = missing;
    host.confirmAnswer = false;
    Run();
    EXPECT_EQ(host.messages, (std::vector<std::string>{"?Directory " + missing + " does not exist. Create?"}));
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_TRUE(host.progress.empty());

    host.confirmAnswer = true;
    host.messages.clear();
    host.options.TargetFormat = tfPPM;
    Run();
    EXPECT_TRUE(std::filesystem::is_directory(missing));
    EXPECT_TRUE(std::filesystem::exists(missing + "/a.ppm"));
    EXPECT_EQ(host.messages.back(), "The conversion is complete!");

    // Only one level is created.
    const std::string deep = dir.File("x/y");
    host = TRecordingHost();
    host.items = {dir.File("a.ppm")};
    host.options.Destination = deep;
    Run();
    EXPECT_EQ(host.messages.back(), "Can not create directory " + deep);
    EXPECT_FALSE(std::filesystem::exists(dir.File("x")));
}

TEST_F(ConversionJobTest, JpegQualityDialog)
{
    host.items = {Source("a.ppm")};
    host.options.Destination = dir.Path().string();
    host.options.TargetFormat = tfJPG;
    host.jpegAnswer = std::nullopt;
    Run();
    EXPECT_EQ(host.messages, (std::vector<std::string>{"The conversion was interrupted by user."}));
    EXPECT_TRUE(host.progress.empty());  // no run took place
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.jpg")));

    // The bytes the job should write at a given quality.
    const auto encoded = [this](int quality) {
        TPixelGraphic image;
        image.LoadFromFile(dir.File("a.ppm"));
        TPGSettings settings = DefaultSettings();
        settings.JPEGQuality = quality;
        TMemoryStream stream;
        image.SaveToStreamExt(stream, "jpg", settings);
        return stream.Data();
    };
    const int before = JPEGQuality;
    host = TRecordingHost();
    host.items = {dir.File("a.ppm")};
    host.options.Destination = dir.Path().string();
    host.options.TargetFormat = tfJPG;
    host.jpegAnswer = JPEGQuality;  // dialog closed by its title bar: the previous choice (none: the default) applies
    Run();
    EXPECT_EQ(test::ReadAll(dir.File("a.jpg")), encoded(before));
    host.jpegAnswer = 42;
    Run();
    EXPECT_EQ(test::ReadAll(dir.File("a.jpg")), encoded(42));
    EXPECT_NE(encoded(42), encoded(before));
    // The run's choice travels with the run; the library-wide default stays.
    EXPECT_EQ(JPEGQuality, before);
}

// Every lossy target asks for its quality like JPG: Cancel stops the run, an
// answer is the quality the file is written with.
TEST_F(ConversionJobTest, QualityDialogOpensForEveryLossyTarget)
{
    Source("a.ppm");
    for (const TTargetFormat format : {tfWEBP, tfAVIF, tfHEIC, tfJXL}) {
        const std::string ext = TargetExtension(format);
        SCOPED_TRACE(ext);
        EXPECT_TRUE(IsLossyTarget(format));
        host = TRecordingHost();
        host.items = {dir.File("a.ppm")};
        host.options.Destination = dir.Path().string();
        host.options.TargetFormat = format;
        host.jpegAnswer = std::nullopt;
        Run();
        EXPECT_EQ(host.messages, (std::vector<std::string>{"The conversion was interrupted by user."}));
        host.jpegAnswer = 30;
        host.messages.clear();
        Run();
        TPixelGraphic image;
        image.LoadFromFile(dir.File("a.ppm"));
        TPGSettings settings = DefaultSettings();
        SetTargetQuality(settings, format, 30);
        TMemoryStream expected;
        image.SaveToStreamExt(expected, ext, settings);
        EXPECT_EQ(test::ReadAll(dir.File("a" + ext)), expected.Data());
    }
    for (const TTargetFormat format : {tfBMP, tfPNG, tfTIF})
        EXPECT_FALSE(IsLossyTarget(format));
}

TEST_F(ConversionJobTest, ACorruptFileIsSkippedAndTheRestConverted)
{
    host.items = {Source("one.ppm"), Source("two.ppm", "P3 garbage"), Source("three.ppm"), dir.File("gone.ppm"),
                  Source("drawing.wmf", "metafile bytes")};
    host.options.Destination = dir.File("out");
    host.options.TargetFormat = tfPGM;
    Run();
    EXPECT_TRUE(std::filesystem::exists(dir.File("out/one.pgm")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/two.pgm")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("out/three.pgm")));
    EXPECT_EQ(host.messages.back(), "The conversion is complete!");
    ASSERT_EQ(host.outcomes.size(), 5u);
    EXPECT_TRUE(host.outcomes[1].Failed);
    EXPECT_EQ(host.outcomes[1].FailedStep, jsLoad);
    EXPECT_FALSE(host.outcomes[1].Saved);
    EXPECT_TRUE(host.outcomes[3].Failed);
    // Without a metafile renderer a metafile fails like any unreadable file.
    EXPECT_TRUE(host.outcomes[4].Failed);
    EXPECT_EQ(host.outcomes[4].FailedStep, jsLoad);
    // Skipped files still count their steps: the bar ends at 100.
    EXPECT_EQ(host.progress[host.progress.size() - 2], 100);
    for (const int p : host.progress)
        EXPECT_TRUE(p >= 0 && p <= 100);
}

TEST_F(ConversionJobTest, StopRequestsAreHonouredAtEveryTestPoint)
{
    // A full run, to count its pump calls.
    const std::vector<std::string> names = {"f1.ppm", "f2.ppm", "f3.ppm"};
    for (const auto& n : names)
        Source(n);
    const auto prepare = [&](TRecordingHost& h, const std::string& out) {
        for (const auto& n : names)
            h.items.push_back(dir.File(n));
        h.options.Destination = dir.File(out);
        h.options.TargetFormat = tfPGM;
    };
    prepare(host, "full");
    Run();
    const int totalPumps = host.pumps;
    ASSERT_GT(totalPumps, 15);

    int previousSaved = -1;
    for (int stopAt = 1; stopAt <= totalPumps; ++stopAt) {
        TRecordingHost h;
        const std::string out = "stop" + std::to_string(stopAt);
        prepare(h, out);
        h.onPump = [&h, stopAt](int n) {
            if (n == stopAt && h.Running)
                h.StopRequested = true;
        };
        TConversionJob(h).Convert();
        int saved = 0;
        bool gap = false;
        for (const char* n : {"f1.pgm", "f2.pgm", "f3.pgm"}) {
            const bool exists = std::filesystem::exists(dir.File(out + "/" + n));
            EXPECT_FALSE(exists && gap) << "files are written in order, stop at pump " << stopAt;
            gap = gap || !exists;
            saved += exists ? 1 : 0;
        }
        if (h.StopRequested) {
            EXPECT_EQ(h.messages.back(), "The conversion was interrupted by user.") << stopAt;
            EXPECT_GE(saved, previousSaved) << "a later stop never saves fewer files, stop at pump " << stopAt;
            previousSaved = saved;
        } else {
            // Pumps before the run started cannot stop it.
            EXPECT_EQ(h.messages.back(), "The conversion is complete!");
            EXPECT_EQ(saved, 3);
        }
        EXPECT_EQ(h.progress.back(), 0);
        EXPECT_FALSE(h.Running);
    }
    EXPECT_EQ(previousSaved, 3);
}

TEST_F(ConversionJobTest, StopBetweenSaveAndNextFileKeepsTheSavedFile)
{
    host.items = {Source("a.ppm"), Source("b.ppm")};
    host.options.Destination = dir.File("out");
    host.options.TargetFormat = tfPGM;
    // Ask for the stop when the first file's last step has reached the bar.
    host.onPump = [this](int) {
        if (!host.progress.empty() && host.progress.back() == 50)
            host.StopRequested = true;
    };
    Run();
    EXPECT_TRUE(std::filesystem::exists(dir.File("out/a.pgm")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/b.pgm")));
    EXPECT_EQ(host.messages.back(), "The conversion was interrupted by user.");
}

TEST_F(ConversionJobTest, SixteenColoursAlwaysMeansTheSystemPalette)
{
    host.items = {Source("gray.pgm", "P2 4 1 255 0 60 120 250\n"), Source("colour.ppm")};
    host.options.Destination = dir.File("out");
    host.options.TargetFormat = tfBMP;
    host.options.ColorResolution = jcr16Colors;
    Run();
    for (const char* name : {"out/gray.bmp", "out/colour.bmp"}) {
        TPixelGraphic g;
        g.LoadFromFile(dir.File(name));
        EXPECT_EQ(g.BitCount(), bc4) << name;
        EXPECT_EQ(g.PaletteIdent(), pSys16) << name;
    }
}

TEST_F(ConversionJobTest, RotationsMapEveryPixel)
{
    // Source pixel (x, y) has gray level 10 * (y * W + x) + 10.
    const auto source = [](int w, int h) {
        std::string text = "P2 " + std::to_string(w) + " " + std::to_string(h) + " 255\n";
        for (int i = 0; i < w * h; ++i)
            text += std::to_string(10 * i + 10) + " ";
        return text;
    };
    struct Row {
        TJobRotate rotate;
        const char* label;
    };
    for (const auto& [w, h] : {std::pair{3, 2}, {4, 2}, {4, 3}}) {
        for (const Row r : {Row{jr180, "180"}, Row{jrLeft, "left"}, Row{jrRight, "right"}}) {
            TRecordingHost h2;
            const std::string name = "s" + std::to_string(w) + r.label + ".pgm";
            h2.items = {Source(name, source(w, h))};
            h2.options.Destination = dir.File("rot");
            h2.options.TargetFormat = tfPGM;
            h2.options.ColorResolution = jcrGray8;
            h2.options.Rotate = r.rotate;
            TConversionJob(h2).Convert();
            TPixelGraphic out;
            out.LoadFromFile(dir.File("rot/" + name));
            const bool quarter = r.rotate != jr180;
            ASSERT_EQ(out.Width(), quarter ? h : w) << r.label;
            ASSERT_EQ(out.Height(), quarter ? w : h) << r.label;
            for (int y = 0; y < out.Height(); ++y)
                for (int x = 0; x < out.Width(); ++x) {
                    int sx = 0, sy = 0;
                    if (r.rotate == jr180) {
                        sx = w - 1 - x;
                        sy = h - 1 - y;
                    } else if (r.rotate == jrLeft) {
                        sx = w - 1 - y;
                        sy = x;
                    } else {
                        sx = y;
                        sy = h - 1 - x;
                    }
                    EXPECT_EQ(out.GetPixel(x, y), std::uint32_t(10 * (sy * w + sx) + 10))
                        << w << "x" << h << " " << r.label << " at " << x << "," << y;
                }
        }
    }
}

TEST_F(ConversionJobTest, MirrorsAndTwoColours)
{
    host.items = {Source("m.pgm", "P2 3 2 255 0 0 255 255 255 0\n")};
    host.options.Destination = dir.File("mir");
    host.options.TargetFormat = tfPBM;
    host.options.ColorResolution = jcr2Colors;
    host.options.Mirror = jmHorizontal;
    Run();
    const auto bytes = test::ReadAll(dir.File("mir/m.pbm"));
    // Mirrored: row 0 is white, black, black; row 1 black, white, white. 1 means black.
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "P1\n3 2\n0 1 1\n1 0 0\n");
}

// ---- runners ------------------------------------------------------------------------------

namespace {

// 0 threads: the classic job; otherwise the plan run on that many threads.
void RunWith(TRecordingHost& host, int threads)
{
    if (threads == 0)
        return TConversionJob(host).Convert();
    if (const auto plan = PlanConversion(host))
        RunParallel(host, *plan, threads);
}

std::map<std::string, std::vector<std::uint8_t>> FolderBytes(const std::filesystem::path& folder)
{
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files[entry.path().filename().string()] = test::ReadAll(entry.path());
    return files;
}

// A mixed batch: several source formats and sizes, one corrupt file.
std::vector<std::string> MixedBatch(const test::TTempDir& dir)
{
    std::vector<std::string> items;
    const TBitCount formats[] = {bc24, bc8, bc4, bc1, bc24, bc8};
    const char* const extensions[] = {"bmp", "png", "tif", "pbm", "tga", "pgm"};
    for (int i = 0; i < 6; ++i) {
        TPixelGraphic image;
        test::FillRandom(image, 37 + 11 * i, 23 + 7 * i, formats[i], std::uint32_t(i + 1));
        if (std::string(extensions[i]) == "pgm")
            image.SetPaletteIdent(pGray256);
        const std::string path = dir.File("src" + std::to_string(i) + "." + extensions[i]);
        image.SaveToFile(path);
        items.push_back(path);
        if (i == 2) {
            items.push_back(dir.File("broken.pcx"));
            test::WriteAll(items.back(), std::string("\x0a\x05\x01\x08 truncated", 14));
        }
    }
    return items;
}

}  // namespace

TEST_F(ConversionJobTest, ParallelRunWritesWhatTheSequentialRunWrites)
{
    const std::vector<std::string> items = MixedBatch(dir);
    struct Row {
        TTargetFormat format;
        TJobColorResolution colors;
        TJobMirror mirror;
        TJobRotate rotate;
    };
    for (const Row r : {Row{tfBMP, jcr256Colors, jmNone, jrLeft}, Row{tfJPG, jcrTrueColor, jmVertical, jrNone},
                        Row{tfPNG, jcr16Colors, jmHorizontal, jr180}, Row{tfTIF, jcr2Colors, jmNone, jrRight},
                        Row{tfTGA, jcrGray8, jmNone, jrNone}, Row{tfPPM, jcrTrueColor, jmNone, jrNone},
                        Row{tfWEBP, jcrTrueColor, jmNone, jrLeft}, Row{tfJXL, jcr256Colors, jmNone, jrNone}}) {
        const std::string label = TargetExtension(r.format);
        std::map<int, std::vector<std::string>> outcomes;  // per runner: item, saved, failed step
        std::map<int, std::map<std::string, std::vector<std::uint8_t>>> written;
        for (const int threads : {0, 1, 3}) {
            TRecordingHost h;
            h.items = items;
            h.options = {dir.File("out" + label + std::to_string(threads)), r.format, r.colors, r.mirror, r.rotate};
            h.jpegAnswer = 60;
            h.confirmAnswer = true;
            RunWith(h, threads);
            EXPECT_EQ(h.messages.back(), "The conversion is complete!") << label;
            EXPECT_EQ(h.progress[h.progress.size() - 2], 100) << label << " " << threads;
            EXPECT_TRUE(std::is_sorted(h.progress.begin(), h.progress.end() - 1)) << label << " " << threads;
            std::vector<std::string> summary;
            for (const TFileOutcome& o : h.outcomes)
                summary.push_back(std::to_string(o.ItemIndex) + (o.Saved ? " saved" : "") +
                                  (o.Failed ? " failed at " + std::to_string(o.FailedStep) : ""));
            std::sort(summary.begin(), summary.end());
            outcomes[threads] = summary;
            written[threads] = FolderBytes(h.options.Destination);
        }
        ASSERT_EQ(written[0].size(), items.size() - 1) << label;  // all but the broken file
        for (const int threads : {1, 3}) {
            EXPECT_EQ(outcomes[threads], outcomes[0]) << label << " on " << threads << " threads";
            EXPECT_TRUE(written[threads] == written[0]) << label << " on " << threads << " threads";
        }
    }
}

namespace {

// Files that bring a background or transparency of their own: a GIF with a
// transparent index, an opaque PNG, an RGBA PNG with a white bKGD and one without.
std::vector<std::string> TransparencyBatch(const test::TTempDir& dir)
{
    const std::vector<TRGB> table{0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF};
    test::TTestFrame frame;
    frame.width = 4;
    frame.height = 3;
    frame.indices = {0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 1, 1};
    test::TGifFileBuilder gif(4, 3, 2, table);
    gif.GraphicControl(1).Frame(frame).Trailer();
    const auto rgba = [](std::optional<png_color_16> background) {
        test::TPngLayout png;
        png.width = 5;
        png.height = 2;
        png.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        for (int y = 0; y < 2; ++y) {
            png.rows.emplace_back();
            for (int x = 0; x < 5; ++x)
                for (const int v : {40 * x, 100 + 50 * y, 7 * x, 60 * x + 5})
                    png.rows.back().push_back(std::uint8_t(std::min(v, 255)));
        }
        png.background = background;
        return test::EncodePng(png);
    };
    test::TPngLayout opaque;
    opaque.width = 3;
    opaque.height = 1;
    opaque.rows = {{10, 20, 30, 40, 50, 60, 70, 80, 90}};
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files{
        {"a.gif", gif.Data()},
        {"b.png", test::EncodePng(opaque)},
        {"c.png", rgba(png_color_16{0, 255, 255, 255, 0})},
        {"d.png", rgba(std::nullopt)}};
    std::vector<std::string> items;
    for (const auto& [name, bytes] : files) {
        items.push_back(dir.File(name));
        test::WriteAll(items.back(), bytes);
    }
    return items;
}

}  // namespace

// Whatever a reader does to one item's images, the next item starts afresh:
// every output equals the output of its file converted alone, on any runner.
TEST_F(ConversionJobTest, NoBackgroundCarriesOverFromOneItemToTheNext)
{
    const std::vector<std::string> items = TransparencyBatch(dir);
    for (const std::optional<TRGB> background : {std::optional<TRGB>{}, std::optional<TRGB>{0x336699}}) {
        for (const TTargetFormat format : {tfBMP, tfPNG}) {
            const std::string label = std::string(TargetExtension(format)) + (background ? " with" : " without");
            std::map<std::string, std::vector<std::uint8_t>> alone;
            for (std::size_t i = 0; i < items.size(); ++i) {
                TRecordingHost h;
                h.items = {items[i]};
                h.options = {dir.File("alone" + label + std::to_string(i)), format, jcrTrueColor};
                h.options.BackGroundColor = background;
                RunWith(h, 0);
                for (const auto& [name, bytes] : FolderBytes(h.options.Destination))
                    alone[name] = bytes;
            }
            ASSERT_EQ(alone.size(), items.size()) << label;
            for (const int threads : {0, 1, 2}) {
                TRecordingHost h;
                h.items = items;
                h.options = {dir.File("run" + label + std::to_string(threads)), format, jcrTrueColor};
                h.options.BackGroundColor = background;
                RunWith(h, threads);
                EXPECT_TRUE(FolderBytes(h.options.Destination) == alone) << label << " on " << threads << " threads";
            }
        }
    }
}

TEST_F(ConversionJobTest, ParallelStopLetsNoNewItemStart)
{
    // The first item is a "metafile" whose loading asks for the stop, so the
    // request arrives while that item runs.
    class TStoppingHolder : public TMetafileHolder {
    public:
        explicit TStoppingHolder(TStopFlag& stop) : m_stop(stop) {}
        void LoadFromFile(const std::string&) override { m_stop = true; }
        int Width() const override { return 4; }
        int Height() const override { return 4; }
        void Draw(TPixelGraphic&, int, int) override {}

    private:
        TStopFlag& m_stop;
    };
    class TRecorder : public TRunObserver {
    public:
        void FileDone(const TFileOutcome& outcome) override { outcomes.push_back(outcome); }
        std::vector<TFileOutcome> outcomes;
    };
    std::vector<std::string> items = {Source("first.wmf", "drawing")};
    for (int i = 0; i < 8; ++i) {
        TPixelGraphic image;
        test::FillRandom(image, 300, 200, bc24, std::uint32_t(i));
        items.push_back(dir.File("p" + std::to_string(i) + ".bmp"));
        image.SaveToFile(items.back());
    }
    for (const int threads : {1, 2, 3}) {
        TRecordingHost h;
        h.items = items;
        h.options = {dir.File("stop" + std::to_string(threads)), tfPNG, jcr256Colors, jmNone, jrLeft};
        const auto plan = PlanConversion(h);
        ASSERT_TRUE(plan);
        TStopFlag stop;
        TStoppingHolder holder(stop);
        TRecorder recorder;
        EXPECT_TRUE(TParallelRunner(*plan, threads, &holder).Run(recorder, stop));
        ASSERT_FALSE(recorder.outcomes.empty());
        EXPECT_LT(recorder.outcomes.size(), items.size()) << threads;
        if (threads == 1) {
            EXPECT_EQ(recorder.outcomes.size(), 1u);
        }
        std::size_t saved = 0;
        for (const TFileOutcome& o : recorder.outcomes) {
            EXPECT_FALSE(o.Failed) << o.Message;
            EXPECT_NE(o.Saved, o.Stopped) << o.SourcePath;
            EXPECT_EQ(o.Stopped, o.ItemIndex == 0) << o.SourcePath;
            EXPECT_EQ(std::filesystem::exists(o.OutputPath), o.Saved);
            saved += o.Saved ? 1 : 0;
        }
        // No temporary file is left behind, and nothing else was written.
        EXPECT_EQ(FolderBytes(plan->Destination).size(), saved) << threads;
    }
}

// The window holds the run while it asks whether to stop: nothing starts and
// nothing is written until the answer; "No" goes on, "Yes" stops.
TEST_F(ConversionJobTest, HeldRunWritesNothingUntilTheAnswer)
{
    // Holds the run while the first item is in hand, as a question opened then would.
    class THoldingHolder : public TMetafileHolder {
    public:
        explicit THoldingHolder(TStopFlag& stop) : m_stop(stop) {}
        void LoadFromFile(const std::string&) override { m_stop.Hold(); }
        int Width() const override { return 4; }
        int Height() const override { return 4; }
        void Draw(TPixelGraphic&, int, int) override {}

    private:
        TStopFlag& m_stop;
    };
    // Answers after a few idle rounds, checking meanwhile that nothing happened.
    class TAnswering : public TRunObserver {
    public:
        TAnswering(TStopFlag& stop, bool yes, std::string folder) : m_stop(stop), m_yes(yes), m_folder(folder) {}
        void FileDone(const TFileOutcome& outcome) override { outcomes.push_back(outcome); }
        void Idle() override
        {
            if (!m_stop.Held())
                return;
            EXPECT_TRUE(outcomes.empty());
            EXPECT_TRUE(!std::filesystem::exists(m_folder) || std::filesystem::is_empty(m_folder));
            if (++m_rounds < 4)
                return;
            if (m_yes)
                m_stop = true;
            m_stop.Release();
        }
        std::vector<TFileOutcome> outcomes;

    private:
        TStopFlag& m_stop;
        bool m_yes;
        std::string m_folder;
        int m_rounds = 0;
    };
    std::vector<std::string> items = {Source("first.wmf", "drawing")};
    for (int i = 0; i < 4; ++i)
        items.push_back(Source("p" + std::to_string(i) + ".ppm"));
    // One converter held with the first item in hand; three held before any starts.
    for (const auto& [threads, holdFirst] : {std::pair{1, false}, std::pair{3, true}})
        for (const bool yes : {false, true}) {
            SCOPED_TRACE(std::to_string(threads) + (yes ? " Yes" : " No"));
            TRecordingHost h;
            h.items = items;
            h.options = {dir.File("held" + std::to_string(threads) + (yes ? "y" : "n")), tfPNG};
            const auto plan = PlanConversion(h);
            ASSERT_TRUE(plan);
            TStopFlag stop;
            if (holdFirst)
                stop.Hold();
            THoldingHolder holder(stop);
            TAnswering answering(stop, yes, plan->Destination);
            EXPECT_EQ(TParallelRunner(*plan, threads, &holder).Run(answering, stop), yes);
            std::size_t saved = 0;
            for (const TFileOutcome& o : answering.outcomes)
                saved += o.Saved ? 1 : 0;
            EXPECT_EQ(saved, yes ? 0u : items.size());
            EXPECT_EQ(FolderBytes(plan->Destination).size(), saved);
        }
}

TEST_F(ConversionJobTest, CollidingOutputsAreRefusedBeforeAnythingIsWritten)
{
    const std::string gray = "P2 2 1 255 10 200\n";
    const std::string colour = "P3 1 1 255 9 8 7\n";
    struct Row {
        const char* label;
        std::vector<std::string> sources;  // names in the temp folder, in list order
        const char* destination;           // "" = the sources' own folder
        TTargetFormat format;
        std::vector<int> refused;          // indexes into sources
        std::vector<const char*> named;    // the other file each refusal names
    };
    const Row rows[] = {
        {"same output name", {"a.ppm", "a.pgm"}, "out", tfBMP, {1}, {"a.ppm"}},
        {"output is a later source", {"b.pgm", "b.ppm"}, "", tfPPM, {0}, {"b.ppm"}},
        {"output is an earlier source", {"c.ppm", "c.pgm"}, "", tfPPM, {1}, {"c.ppm"}},
        {"same file twice", {"d.ppm", "d.ppm"}, "out", tfPGM, {1}, {"d.ppm"}},
        {"onto itself", {"e.ppm"}, "", tfPPM, {}, {}},
    };
    for (const int threads : {0, 2}) {
        for (const Row& r : rows) {
            const std::string where = std::string(r.label) + " on " + std::to_string(threads) + " threads";
            test::TTempDir folder;
            TRecordingHost h;
            std::map<std::string, std::vector<std::uint8_t>> before;
            for (const std::string& name : r.sources) {
                test::WriteAll(folder.File(name), name.back() == 'm' && name[name.size() - 2] == 'g' ? gray : colour);
                h.items.push_back(folder.File(name));
                before[name] = test::ReadAll(folder.File(name));
            }
            h.options.Destination = *r.destination ? folder.File(r.destination) : folder.Path().string();
            h.options.TargetFormat = r.format;
            RunWith(h, threads);
            ASSERT_EQ(h.outcomes.size(), r.sources.size()) << where;
            for (std::size_t i = 0; i < r.sources.size(); ++i) {
                const TFileOutcome& o = h.outcomes[i];
                const auto refused = std::find(r.refused.begin(), r.refused.end(), int(o.ItemIndex));
                if (refused == r.refused.end()) {
                    EXPECT_TRUE(o.Saved && !o.Failed) << where << ": " << o.Message;
                    continue;
                }
                EXPECT_TRUE(o.Failed && !o.Saved) << where;
                EXPECT_EQ(o.FailedStep, jsSave) << where;
                const std::string other = folder.File(r.named[std::size_t(refused - r.refused.begin())]);
                EXPECT_NE(o.Message.find(other), std::string::npos) << where << ": " << o.Message;
            }
            // A source is replaced only by its own conversion.
            for (const auto& [name, bytes] : before) {
                const bool convertedOntoItself =
                    !*r.destination && OutputPathFor(folder.File(name), folder.Path().string(), r.format) ==
                                           folder.File(name);
                if (!convertedOntoItself) {
                    EXPECT_EQ(test::ReadAll(folder.File(name)), bytes) << where << ": " << name;
                }
            }
        }
    }
}
