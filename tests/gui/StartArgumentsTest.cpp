#include "gui/MainWindow.h"
#include "gui/ShellControls.h"
#include "gui/StartArguments.h"

#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <filesystem>

namespace rastova {
namespace {

namespace fs = std::filesystem;

QString Q(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

struct TStartCase {
    const char* Name;
    std::vector<std::string> Arguments;  // relative to the temporary folder
    std::string Folder;                  // the folder the list shows; empty: the last session's
    std::vector<std::string> Selected;
};

class StartArguments : public ::testing::TestWithParam<TStartCase> {};

// The window as `rastova ARGS` opens it: the last session was in "other".
TEST_P(StartArguments, OpenTheFolderWithTheFilesSelected)
{
    const TStartCase& c = GetParam();
    test::TTempDir dir;
    for (const char* folder : {"photos", "other"}) {
        fs::create_directories(dir.Path() / folder);
        for (const char* name : {"a.bmp", "b.png", "c.jpg", "d.tif"})
            test::WriteAll(dir.Path() / folder / name, "x");
    }
    test::WriteAll(dir.Path() / "Rastova.ini", "[Path]\nOpen=" + (dir.Path() / "other").string() + "\n");
    QStringList arguments;
    for (const std::string& argument : c.Arguments)
        arguments << Q(dir.Path() / argument);

    TForm1 form(Q(dir.Path() / "Rastova.ini"));
    form.SetAboutAtFirstActivation(false);
    OpenStartPlace(*form.PTSList1(), StartPlaceOf(arguments));
    form.show();
    const fs::path shown = dir.Path() / (c.Folder.empty() ? "other" : c.Folder);
    ASSERT_TRUE(test::WaitForList(*form.PTSList1(), Q(shown), 4));
    QStringList expected;
    for (const std::string& name : c.Selected)
        expected << Q(dir.Path() / name);
    // The selection lands once the folder has loaded; give the model its events.
    test::WaitUntil([&] { return form.PTSList1()->SelectedPaths() == expected; }, 5);
    EXPECT_EQ(form.PTSList1()->SelectedPaths(), expected);
    EXPECT_EQ(form.PTShellCombo1()->Folder(), Q(shown));
}

INSTANTIATE_TEST_SUITE_P(Window, StartArguments, ::testing::Values(
    TStartCase{"NoArguments", {}, "", {}},
    TStartCase{"OneFile", {"photos/c.jpg"}, "photos", {"photos/c.jpg"}},
    TStartCase{"FilesInListOrder", {"photos/d.tif", "photos/a.bmp"}, "photos", {"photos/a.bmp", "photos/d.tif"}},
    TStartCase{"FilesElsewhereAndMissingLeftOut",
               {"photos/missing.png", "photos/b.png", "other/a.bmp"}, "photos", {"photos/b.png"}},
    TStartCase{"Folder", {"photos"}, "photos", {}},
    TStartCase{"NothingThatExists", {"gone/a.bmp"}, "", {}}),
    [](const ::testing::TestParamInfo<TStartCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace rastova
