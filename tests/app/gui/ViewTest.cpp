#include "app/View.h"

#include "image/PGraphic.h"
#include "tests/support/TestSupport.h"
#include "view/PGImage.h"

#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace rastova {
namespace {

TEST(Viewer, FileSizeInKilobytesRoundsTenthsToEven)
{
    const std::pair<std::uintmax_t, const char*> cases[] = {
        {0, "0"},      {51, "0"},       {52, "0.1"},      {256, "0.2"},   {1000, "1"},     {1024, "1"},
        {1536, "1.5"}, {12800, "12.5"}, {308278, "301.1"}, {768, "0.8"},  {1280, "1.2"},   {10240000, "10000"},
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(KbText(bytes), expected) << bytes << " bytes";
}

TEST(Viewer, ShowsTheFileAndDescribesIt)
{
    test::TTempDir dir;
    const std::string bmp = dir.File("picture.bmp");
    TPixelGraphic picture;
    test::FillRandom(picture, 640, 480, bc8, 7);
    picture.SaveToFile(bmp);
    test::WriteAll(dir.Path() / "broken.png", std::string("not a picture at all"));
    test::WriteAll(dir.Path() / "drawing.wmf", std::string("not a metafile"));

    struct Case {
        std::string file;
        QString status;
        int width;  // of the image shown afterwards; 0 when none is
    };
    const Case cases[] = {
        {bmp, "File info: Bitmap, Windows, RGB, 640x480 pixeles, colors: 256, File size: 301.1 Kb", 640},
        // Cannot be loaded: no line.
        {dir.File("broken.png"), "", 0},
        {dir.File("drawing.wmf"), "", 0},
    };
    TForm4 viewer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        viewer.LoadAndDescribe(QString::fromStdString(c.file));
        EXPECT_EQ(viewer.windowTitle(), "View - " + QString::fromStdString(c.file));
        EXPECT_EQ(viewer.StatusText(), c.status);
        const TPixelGraphic* shown = viewer.PGImage1()->PixelGraphic();
        EXPECT_EQ(shown ? shown->Width() : 0, c.width);
    }
}

TEST(Viewer, EscapeCloses)
{
    TForm4 viewer;
    viewer.show();
    ASSERT_TRUE(viewer.isVisible());
    QTest::keyClick(&viewer, Qt::Key_Escape);
    EXPECT_FALSE(viewer.isVisible());
}

}  // namespace
}  // namespace rastova
