#include "gui/Settings.h"

#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace rastova {
namespace {

using test::TTempDir;

QString IniIn(const TTempDir& dir)
{
    return QString::fromStdString(dir.File(kSettingsFileName));
}

TEST(Settings, RoundTripKeepsEveryValueAsTyped)
{
    struct Case {
        const char* open;
        const char* save;
        int extIndex;
        int left, top;
    };
    const Case cases[] = {
        {"/home/user/pictures", "/tmp/out", 6, 10, 20},
        {"/srv/with blanks ", "  out dir with blanks   ", 18, -5, 0},  // trailing blanks kept
        {"/a,b;c=d", "C:\\odd\\path,with[brackets]", 0, 3000, 2000},
        {"", "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.save);
        TTempDir dir;
        TSettings written;
        written.OpenPath = c.open;
        written.SavePath = c.save;
        written.ExtIndex = c.extIndex;
        written.Left = c.left;
        written.Top = c.top;
        written.Width = 800;
        written.Height = 600;
        written.TargetFormat = tfJPG;
        written.ColorResolution = jcr256Colors;
        written.Mirror = jmHorizontal;
        written.Rotate = jrRight;
        written.JpegQuality = 35;
        written.Jobs = 3;
        WriteSettings(IniIn(dir), written);

        TSettings read;
        ASSERT_TRUE(ReadSettings(IniIn(dir), read));
        EXPECT_EQ(read.OpenPath, written.OpenPath);
        EXPECT_EQ(read.SavePath, written.SavePath);
        EXPECT_EQ(read.ExtIndex, written.ExtIndex);
        EXPECT_EQ(read.Left, written.Left);
        EXPECT_EQ(read.Top, written.Top);
        EXPECT_EQ(read.Width, written.Width);
        EXPECT_EQ(read.Height, written.Height);
        EXPECT_EQ(read.TargetFormat, 1);
        EXPECT_EQ(read.ColorResolution, 2);
        EXPECT_EQ(read.Mirror, 2);
        EXPECT_EQ(read.Rotate, 3);
        EXPECT_EQ(read.JpegQuality, 35);
        EXPECT_EQ(read.Jobs, 3);
    }
}

TEST(Settings, SectionsAndKeysAreReadFromAHandWrittenFile)
{
    TTempDir dir;
    test::WriteAll(dir.Path() / kSettingsFileName,
                   std::string("[Path]\nOpen=/data/in\nSave=/data/out\n[Ext]\nIndex=10\n[Window]\nLeft=40\nTop=50\n"));
    TSettings read;
    read.Left = 1;  // what the window has now
    ASSERT_TRUE(ReadSettings(IniIn(dir), read));
    EXPECT_EQ(read.OpenPath, "/data/in");
    EXPECT_EQ(read.SavePath, "/data/out");
    EXPECT_EQ(read.ExtIndex, 10);
    EXPECT_EQ(read.Left, 40);
    EXPECT_EQ(read.Top, 50);
    EXPECT_FALSE(read.Width.has_value());
    EXPECT_EQ(read.TargetFormat, 0);
    EXPECT_EQ(read.ColorResolution, 4);
}

// An unquoted comma makes the ini reader see a list; a text setting still reads
// as the whole line and a number with a comma is no number.
TEST(Settings, HandWrittenValuesWithCommas)
{
    const struct {
        const char* line;
        const char* open;
        int left;
    } cases[] = {
        {"Open=/x/a,b,c", "/x/a,b,c", 1},
        {"Open=\"/q,r\"", "/q,r", 1},
        {"Open=,", ",", 1},
        {"Left=40,5", "", 1},
        {"Left=40", "", 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TTempDir dir;
        const std::string section = std::string(c.line).rfind("Left", 0) == 0 ? "[Window]\n" : "[Path]\n";
        test::WriteAll(dir.Path() / kSettingsFileName, section + c.line + "\n");
        TSettings read;
        read.Left = 1;
        ASSERT_TRUE(ReadSettings(IniIn(dir), read));
        EXPECT_EQ(read.OpenPath, c.open);
        EXPECT_EQ(read.Left, c.left);
    }
}

TEST(Settings, MissingFileKeepsTheDefaults)
{
    TTempDir dir;
    TSettings read;
    read.Left = 7;
    read.Top = 8;
    ASSERT_TRUE(ReadSettings(IniIn(dir), read));
    EXPECT_EQ(read.OpenPath, "");
    EXPECT_EQ(read.SavePath, "");
    EXPECT_EQ(read.ExtIndex, 0);
    EXPECT_EQ(read.Left, 7);
    EXPECT_EQ(read.Top, 8);
    EXPECT_EQ(read.ColorResolution, 4);
    EXPECT_EQ(read.JpegQuality, 75);
}

TEST(Settings, UnreadableFileFallsBackToTheRoot)
{
    TTempDir dir;
    // A folder where the file should be cannot be read, even by root.
    ASSERT_TRUE(QDir().mkdir(IniIn(dir)));
    TSettings read;
    read.OpenPath = "/somewhere";
    EXPECT_FALSE(ReadSettings(IniIn(dir), read));
    ApplyReadFailure(read);
    EXPECT_EQ(read.OpenPath, QDir::rootPath());
    EXPECT_EQ(read.SavePath, QDir::rootPath());
    EXPECT_EQ(read.ExtIndex, 0);
    // Writing there fails quietly.
    WriteSettings(IniIn(dir), read);
    EXPECT_TRUE(QFileInfo(IniIn(dir)).isDir());
}

TEST(Settings, FileLivesBesideTheProgramOrInTheUserConfiguration)
{
    TTempDir program, config;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path().string()));
    const QString programDir = QString::fromStdString(program.Path().string());
    EXPECT_EQ(SettingsFilePath(programDir), QDir(programDir).filePath("Rastova.ini"));
    const QString missing = programDir + "/not-there";
    EXPECT_EQ(SettingsFilePath(missing), QString::fromStdString(config.File("Rastova/Rastova.ini")));
    qputenv("XDG_CONFIG_HOME", saved);
    if (saved.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace rastova
