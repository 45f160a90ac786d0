#include "hosts/MetafileSupport.h"
#include "gui/View.h"

#include "image/PGraphic.h"
#include "tests/support/TestSupport.h"
#include "view/PGImage.h"

#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

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
    // The photo formats through the same library.
    TPixelGraphic photo;
    test::FillRandom(photo, 64, 48, bc24, 8);
    const std::pair<const char*, const char*> photos[] = {
        {"webp", "WebP, lossy"}, {"avif", "AVIF, AV1"}, {"heic", "HEIC, HEVC"}, {"jxl", "JPEG XL, lossy"}};
    for (const auto& [ext, described] : photos) {
        const std::string file = dir.File(std::string("photo.") + ext);
        photo.SaveToFile(file);
        viewer.LoadAndDescribe(QString::fromStdString(file));
        EXPECT_TRUE(viewer.StatusText().startsWith(QString("File info: ") + described +
                                                   ", 8-bit, 64x48 pixeles, colors: 16.7M, File size: "))
            << viewer.StatusText().toStdString();
        const TPixelGraphic* shown = viewer.PGImage1()->PixelGraphic();
        EXPECT_EQ(shown ? shown->Width() : 0, 64) << ext;
    }
}

TEST(Viewer, PlaysMetafilesIntoThe252ColourPalette)
{
    const std::filesystem::path suite = test::TestSuitesDir() / "metafile";
    if (!std::filesystem::is_directory(suite))
        RASTOVA_SKIP_WITHOUT_SUITES("no metafile samples beside the project");
    const std::tuple<const char*, QString, int, int> cases[] = {
        {"inkscape-shapes.emf", "File info: Enhanced Metafile, 401x302 pixeles, colors: 256, File size: 30.7 Kb", 401,
         302},
        {"inkscape-shapes.wmf", "File info: Windows Metafile, 400x300 pixeles, colors: 256, File size: 8 Kb", 400, 300},
    };
    TForm4 viewer;
    viewer.SetMetafileHolder(&WindowlessMetafileHolder());
    for (const auto& [name, status, width, height] : cases) {
        SCOPED_TRACE(name);
        viewer.LoadAndDescribe(QString::fromStdString((suite / name).string()));
        EXPECT_EQ(viewer.StatusText(), status);
        const TPixelGraphic* shown = viewer.PGImage1()->PixelGraphic();
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->Width(), width);
        EXPECT_EQ(shown->Height(), height);
        EXPECT_EQ(shown->BitCount(), bc8);
        EXPECT_EQ(shown->PaletteIdent(), pSpecial252);
    }
}

TEST(Viewer, KeysZoomFitAndStepThroughTheList)
{
    test::TTempDir dir;
    QStringList files;
    for (int i = 0; i < 2; ++i) {
        TPixelGraphic picture;
        test::FillRandom(picture, 800 + i, 600, bc24, std::uint32_t(i));
        files << QString::fromStdString(dir.File("p" + std::to_string(i) + ".bmp"));
        picture.SaveToFile(files.back().toStdString());
    }
    TForm4 viewer;
    viewer.SetNeighbour([&files](const QString& file, int step) {
        const qsizetype at = files.indexOf(file) + step;
        return at >= 0 && at < files.size() ? files[at] : QString();
    });
    viewer.show();
    viewer.LoadAndDescribe(files[0]);
    TPGImage* image = viewer.PGImage1();
    const long double fitted = image->EffectiveZoom();
    ASSERT_LT(fitted, 1.0L);  // 800 x 600 shrinks into the window

    QTest::keyClick(&viewer, Qt::Key_Plus);
    EXPECT_EQ(image->Stretch(), sZoomKAR);
    EXPECT_NEAR(double(image->ZoomFactor()), double(fitted * 1.25L), 1e-9);
    QTest::keyClick(&viewer, Qt::Key_Minus);
    QTest::keyClick(&viewer, Qt::Key_Minus);
    EXPECT_NEAR(double(image->ZoomFactor()), double(fitted / 1.25L), 1e-9);
    QTest::keyClick(&viewer, Qt::Key_0);
    EXPECT_EQ(image->Stretch(), sShrinkKAR);

    QTest::keyClick(&viewer, Qt::Key_PageDown);
    EXPECT_EQ(viewer.windowTitle(), "View - " + files[1]);
    EXPECT_EQ(image->PixelGraphic()->Width(), 801);
    QTest::keyClick(&viewer, Qt::Key_PageDown);  // the last file stays
    EXPECT_EQ(viewer.windowTitle(), "View - " + files[1]);
    QTest::keyClick(&viewer, Qt::Key_PageUp);
    EXPECT_EQ(viewer.windowTitle(), "View - " + files[0]);
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
