// The job's progress positions, its last stop test and its quarter turns,
// through the public job API.
#include "job/ConversionJob.h"

#include "image/PGraphic.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace rastova;

namespace {

const std::string kPpm = "P3\n2 1\n255\n10 20 30 40 50 60\n";

// Answers the start checks, records the bar and counts pumps.
class TQuietHost : public TConversionHost {
public:
    std::vector<std::string> items;
    TConversionOptions options;
    std::vector<int> progress;

    int ItemCount() override { return int(items.size()); }
    bool ItemSelected(int) override { return true; }
    std::string ItemPath(int i) override { return items[std::size_t(i)]; }
    TConversionOptions Options() override { return options; }
    void SetBusy(bool) override {}
    void SetProgress(int p) override { progress.push_back(p); }
    void SetStopCaption(bool) override {}
    void Pump() override {}
    void Inform(const std::string&) override {}
    bool Confirm(const std::string&) override { return true; }
    void FocusDestination() override {}
    void AskJpegQuality() override {}
};

// Eight PPM files converted to PGM in a fresh folder.
struct TEightFiles {
    test::TTempDir dir;
    TQuietHost host;
    TEightFiles()
    {
        for (int i = 0; i < 8; ++i) {
            const std::string name = dir.File("f" + std::to_string(i) + ".ppm");
            test::WriteAll(name, kPpm);
            host.items.push_back(name);
        }
        host.options.Destination = dir.File("out");
        host.options.TargetFormat = tfPGM;
    }
};

}  // namespace

TEST(JobSteps, ExactHalvesGoToTheEvenNeighbour)
{
    // Eight files take 24 steps of 100/24: steps 3, 9, 15 and 21 land exactly
    // on a half, which goes down twice and up twice.
    TEightFiles run;
    TConversionJob(run.host).Convert();
    const std::vector<int>& p = run.host.progress;  // p[0] is the reset to 0 at the start
    ASSERT_EQ(p.size(), 26u);
    const struct {
        int step;
        int position;
    } halves[] = {{3, 12}, {9, 38}, {15, 62}, {21, 88}};
    for (const auto& h : halves)
        EXPECT_EQ(p[std::size_t(h.step)], h.position) << "after step " << h.step;
    EXPECT_EQ(p[24], 100);
}

namespace {

// Asks for a stop at the pump that follows the colour conversion: the first
// pump after the rotation was reported.
class TStopAfterColour : public TItemObserver {
public:
    explicit TStopAfterColour(TStopFlag& stop) : m_stop(stop) {}
    void Rotated() override { m_rotated = true; }
    void Pump() override
    {
        if (m_rotated)
            m_stop = true;
    }

private:
    TStopFlag& m_stop;
    bool m_rotated = false;
};

}  // namespace

TEST(JobSteps, StopAfterTheColourConversionSavesNothing)
{
    for (const TJobRotate rotate : {jrNone, jrRight}) {
        TEightFiles run;
        run.host.options.Rotate = rotate;
        const std::optional<TConversionPlan> plan = PlanConversion(run.host);
        ASSERT_TRUE(plan);
        ASSERT_FALSE(plan->Items.empty());
        TWorkImages work;
        TStopFlag stop;
        TStopAfterColour observer(stop);
        const TFileOutcome outcome = ConvertOneItem(*plan, plan->Items[0], work, stop, observer);
        EXPECT_TRUE(outcome.Stopped) << "rotate " << rotate;
        EXPECT_FALSE(outcome.Saved) << "rotate " << rotate;
        EXPECT_FALSE(std::filesystem::exists(plan->Items[0].OutputPath)) << "rotate " << rotate;
        // Without the stop the same item is written.
        TItemObserver quiet;
        TStopFlag noStop;
        const TFileOutcome saved = ConvertOneItem(*plan, plan->Items[0], work, noStop, quiet);
        EXPECT_TRUE(saved.Saved) << "rotate " << rotate;
        EXPECT_TRUE(std::filesystem::exists(plan->Items[0].OutputPath)) << "rotate " << rotate;
    }
}

TEST(JobSteps, LeftThenRightTurnGivesBackEveryPixel)
{
    // A pivot off by one loses a row or column to the background, which the
    // way back cannot restore: the values are all different and none is 0.
    for (const auto& [w, h] : {std::pair{4, 3}, {3, 4}, {5, 5}, {6, 2}}) {
        test::TTempDir dir;
        std::string text = "P2 " + std::to_string(w) + " " + std::to_string(h) + " 255\n";
        for (int i = 0; i < w * h; ++i)
            text += std::to_string(7 * i + 5) + " ";
        test::WriteAll(dir.File("a.pgm"), text);
        std::string current = dir.File("a.pgm");
        for (const TJobRotate rotate : {jrLeft, jrRight}) {
            TQuietHost host;
            host.items = {current};
            host.options.Destination = dir.File(rotate == jrLeft ? "left" : "back");
            host.options.TargetFormat = tfPGM;
            host.options.ColorResolution = jcrGray8;
            host.options.Rotate = rotate;
            TConversionJob(host).Convert();
            current = host.options.Destination + "/a.pgm";
        }
        TPixelGraphic original, back;
        original.LoadFromFile(dir.File("a.pgm"));
        back.LoadFromFile(current);
        std::string why;
        EXPECT_TRUE(test::SamePixels(back, original, &why)) << why << ": " << w << "x" << h;
    }
}

// A colour resolution from outside the list (a library caller's bad value) is
// true colour, not a read past the job's format table.
TEST(JobSteps, ColourResolutionOutsideTheListIsTrueColour)
{
    test::TTempDir dir;
    test::WriteAll(dir.File("a.pgm"), std::string("P2 2 1 255\n10 200\n"));
    TQuietHost host;
    host.items = {dir.File("a.pgm")};
    host.options.Destination = dir.File("out");
    host.options.TargetFormat = tfBMP;
    host.options.ColorResolution = TJobColorResolution(9);
    TConversionJob(host).Convert();
    TPixelGraphic written;
    written.LoadFromFile(dir.File("out/a.bmp"));
    EXPECT_EQ(written.BitCount(), bc24);
    EXPECT_EQ(written.GetColor(1, 0), RGBValue(200, 200, 200));
}
