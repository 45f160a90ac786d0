// The main window's behaviour without a display: options and settings, what
// Start and Close do, the run state the controls show, the end texts.
#include "gui/WindowModel.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <tuple>

namespace rastova {
namespace {

TWindowOptions SomeOptions()
{
    TWindowOptions options;
    options.Destination = "  /out dir ";
    options.TargetFormat = tfJPG;
    options.ColorResolution = jcr16Colors;
    options.Mirror = jmHorizontal;
    options.Rotate = jrLeft;
    options.JpegQuality = 35;
    options.FitWithin = true;
    options.FitWidth = 640;
    options.FitHeight = 480;
    options.AutoRotate = true;
    options.Existing = epRename;
    options.IncludeSubfolders = true;
    options.Background = "#102030";
    return options;
}

TEST(WindowModel, OptionsGoToTheSettingsAndBackAndBecomeTheJobsOptions)
{
    TSettings settings;
    settings.OpenPath = "/in";
    settings.Width = 900;
    StoreOptions(SomeOptions(), settings);
    EXPECT_EQ(OptionsFromSettings(settings), SomeOptions());
    // The file side and the window's place are not options.
    EXPECT_EQ(settings.OpenPath, "/in");
    EXPECT_EQ(settings.Width, 900);
    EXPECT_EQ(settings.SavePath, "  /out dir ");  // as typed

    const TConversionOptions job = JobOptions(SomeOptions());
    EXPECT_EQ(job.Destination, "  /out dir ");  // the job trims it
    EXPECT_EQ(job.TargetFormat, tfJPG);
    EXPECT_EQ(job.ColorResolution, jcr16Colors);
    EXPECT_EQ(job.Mirror, jmHorizontal);
    EXPECT_EQ(job.Rotate, jrLeft);
    EXPECT_EQ(job.Fit.Width, 640);
    EXPECT_EQ(job.Fit.Height, 480);
    EXPECT_FALSE(job.Fit.Enlarge);
    EXPECT_TRUE(job.AutoOrient);
    EXPECT_EQ(job.Existing, epRename);
    ASSERT_TRUE(job.BackGroundColor.has_value());
    EXPECT_EQ(*job.BackGroundColor, RGBValue(0x10, 0x20, 0x30));
    // Off, the sizes stay remembered but do nothing; no colour is the picture's own.
    TWindowOptions off = SomeOptions();
    off.FitWithin = false;
    off.Background.clear();
    EXPECT_FALSE(JobOptions(off).Fit.Active());
    EXPECT_FALSE(JobOptions(off).BackGroundColor.has_value());
    // A window with no settings file has the window's first options.
    EXPECT_EQ(OptionsFromSettings(TSettings{}), TWindowOptions{});
}

// The states a run passes through, as the job's host reports them, and what
// the controls show in each.
TEST(WindowModel, RunStatesLockTheControlsAndTheClockStopsAtTheEnd)
{
    TWindowModel model;
    struct TExpected {
        const char* when;
        TStartAction start;
        TCloseAction close;
        bool enabled;
        QString caption, format;
    };
    const auto check = [&model](const TExpected& e) {
        SCOPED_TRACE(e.when);
        EXPECT_EQ(model.StartAction(), e.start);
        EXPECT_EQ(model.CloseAction(), e.close);
        EXPECT_EQ(model.OptionsEnabled(), e.enabled);
        EXPECT_EQ(model.StopCaption(), e.caption);
        EXPECT_EQ(model.ProgressFormat(30000), e.format);
    };
    check({"before any run", TStartAction::Plan, TCloseAction::Close, true, "Close", "%p%"});
    model.SetBusy(true);
    check({"planning", TStartAction::Ignore, TCloseAction::Close, false, "Close", "%p%"});
    model.SetRunning(true, 0);
    model.SetProgress(25);
    check({"converting", TStartAction::Ignore, TCloseAction::AskToStop, false, "Stop",
           "25%   0:30 elapsed, about 1:30 left"});
    model.SetProgress(100);
    model.StopClock(12000);
    model.SetBusy(false);
    check({"end box open", TStartAction::Ignore, TCloseAction::AskToStop, true, "Stop", "100%   0:12 elapsed"});
    model.SetProgress(0);
    model.SetRunning(false, 45000);
    check({"after the run", TStartAction::Plan, TCloseAction::Close, true, "Close", "Last run: 0:12"});
    model.SetRunning(true, 0);
    check({"next run", TStartAction::Ignore, TCloseAction::AskToStop, true, "Stop", "0%   0:30 elapsed"});
}

TEST(WindowModel, EndTextsCountTheFilesAndListTheFailures)
{
    TWindowModel model;
    model.SetRunning(true, 0);
    const auto outcome = [](const char* path, bool saved, bool failed, bool skipped, TJobStep step = jsLoad) {
        TFileOutcome o;
        o.SourcePath = path;
        o.Saved = saved;
        o.Failed = failed;
        o.Skipped = skipped;
        o.FailedStep = step;
        o.Message = "broken";
        return o;
    };
    EXPECT_EQ(EndReport("The conversion is complete!", model.Tally()).Text, "The conversion is complete!");
    model.FileDone(outcome("/in/a.bmp", true, false, false));
    model.FileDone(outcome("/in/b.bmp", false, true, false));
    model.FileDone(outcome("/in/c.bmp", false, false, true));
    model.FileDone(outcome("/in/d.bmp", false, true, false, jsSave));
    model.FileDone(outcome("/in/e.bmp", false, false, false));  // stopped before its save
    EXPECT_EQ(model.Tally().Converted, 1);
    EXPECT_EQ(model.Tally().Skipped, 1);
    const TEndReport report = EndReport("The conversion was interrupted by user.", model.Tally());
    EXPECT_EQ(report.Text, "The conversion was interrupted by user.\n\n2 of 4 files could not be converted:");
    EXPECT_EQ(report.Failures, QStringList({"/in/b.bmp: cannot load: broken", "/in/d.bmp: cannot save: broken"}));
    // The next run starts counting afresh.
    model.SetRunning(false, 0);
    model.SetRunning(true, 0);
    EXPECT_TRUE(EndReport("x", model.Tally()).Failures.isEmpty());
}

TEST(WindowModel, SelectedFoldersBringTheirTreesWhenAsked)
{
    test::TTempDir dir;
    std::filesystem::create_directories(dir.Path() / "photos/2024/summer");
    for (const char* name : {"photos/a.bmp", "photos/notes.txt", "photos/2024/summer/b.png", "c.jpg"})
        test::WriteAll(dir.Path() / name, std::string("x"));
    const std::vector<std::string> selected = {dir.File("photos"), dir.File("c.jpg")};
    const auto items = RunItems(selected, true);
    std::vector<std::pair<std::string, std::string>> found;
    for (const TBatchInput& item : items)
        found.push_back({item.Path.substr(dir.Path().string().size() + 1), item.RelativeFolder});
    EXPECT_EQ(found, (std::vector<std::pair<std::string, std::string>>{
                         {"photos/2024/summer/b.png", "photos/2024/summer"}, {"photos/a.bmp", "photos"}, {"c.jpg", ""}}));
    // Without: the selection as it is, a folder being an item of its own that fails.
    const auto flat = RunItems(selected, false);
    ASSERT_EQ(flat.size(), 2u);
    EXPECT_EQ(flat[0].Path, dir.File("photos"));
    EXPECT_EQ(flat[0].RelativeFolder, "");
}

TEST(WindowModel, ProgressShowsTimeSpentAndLeft)
{
    const std::tuple<int, qint64, QString> cases[] = {
        {0, 900, "0%   0:00 elapsed"},
        {25, 15000, "25%   0:15 elapsed, about 0:45 left"},
        {50, 61000, "50%   1:01 elapsed, about 1:01 left"},
        {90, 3600000, "90%   1:00:00 elapsed, about 6:40 left"},
        {100, 7262000, "100%   2:01:02 elapsed"},
    };
    for (const auto& [position, elapsed, expected] : cases)
        EXPECT_EQ(ProgressText(position, elapsed), expected);
}

}  // namespace
}  // namespace rastova
