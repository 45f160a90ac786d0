#include "app/ConversionJob.h"

#include "formats/Jpeg.h"
#include "image/PGraphic.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace rastova;

namespace {

// Records every callback; answers and stop requests are scripted by the test.
class TRecordingHost : public TConversionHost {
public:
    std::vector<std::string> items;
    std::vector<bool> selected;
    TConversionOptions options;
    bool confirmAnswer = true;
    std::int16_t jpegAnswer = 0;
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
    EXPECT_EQ(host.calls, (std::vector<std::string>{"busy", "idle", "inform"}));

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
    host.jpegAnswer = -1;
    Run();
    EXPECT_EQ(host.messages, (std::vector<std::string>{"The conversion was interrupted by user."}));
    EXPECT_TRUE(host.progress.empty());  // no run took place
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.jpg")));

    const int before = JPEGQuality;
    host = TRecordingHost();
    host.items = {dir.File("a.ppm")};
    host.options.Destination = dir.Path().string();
    host.options.TargetFormat = tfJPG;
    host.jpegAnswer = 0;  // dialog closed by its title bar: the previous choice applies
    Run();
    EXPECT_EQ(JPEGQuality, before);
    host.jpegAnswer = 42;
    Run();
    EXPECT_EQ(JPEGQuality, 42);
    JPEGQuality = before;
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
        int rotate;
        const char* label;
    };
    for (const auto& [w, h] : {std::pair{3, 2}, {4, 2}}) {
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
