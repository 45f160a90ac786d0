#include "job/OutputNames.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace rastova {
namespace {

namespace fs = std::filesystem;

// The rename rule and the collision check compare paths by the same key, so
// two spellings of one file through a symbolic link are one name to both.
TEST(OutputNames, RenameSeesOneFileThroughALink)
{
    test::TTempDir dir;
    fs::create_directories(dir.Path() / "real");
    fs::create_directory_symlink(dir.Path() / "real", dir.Path() / "link");
    const std::string real = dir.File("real/x.png"), linked = dir.File("link/x.png");
    EXPECT_EQ(PathKey(real), PathKey(linked));
    EXPECT_EQ(PathKey(dir.File("real/../real/./x.png")), PathKey(real));

    const auto nothingExists = [](const std::string&) { return false; };
    const std::vector<TPlannedOutput> plans =
        PlanOutputs({dir.File("a/x.bmp"), dir.File("b/x.bmp"), dir.File("c/x.bmp")}, {real, linked, dir.File("link/y.png")},
                    epRename, nothingExists);
    ASSERT_EQ(plans.size(), 3u);
    EXPECT_EQ(plans[0].Path, real);
    EXPECT_EQ(plans[1].Path, dir.File("link/x-1.png"));
    EXPECT_EQ(plans[2].Path, dir.File("link/y.png"));
    // A source met through the link is not an output's free name either.
    const std::vector<TPlannedOutput> ontoSource = PlanOutputs({linked}, {real}, epRename, nothingExists);
    EXPECT_EQ(ontoSource[0].Path, dir.File("real/x-1.png"));
}

}  // namespace
}  // namespace rastova
