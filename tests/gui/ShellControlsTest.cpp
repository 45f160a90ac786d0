#include "gui/FileFilters.h"
#include "gui/ShellControls.h"

#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace rastova {
namespace {

using test::TTempDir;

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

QStringList NamesIn(const TShellList& list)
{
    QStringList names;
    for (int i = 0; i < list.ItemCount(); ++i)
        names << QFileInfo(list.ItemPath(i)).fileName();
    names.sort();
    return names;
}

TEST(FileFilters, FilterStringIsExact)
{
    EXPECT_EQ(FileFilterString(),
              "All image files|*.bmp;*.dib;*.jif;*.jpeg;*.jpg;*.pbm;*.pcx;*.pgm;*.png;*.ppm;*.rle;*.tga;*.tif;*.tiff;"
              "*.ico;*.wmf;*.emf;*.gif;*.webp;*.avif;*.heic;*.heif;*.jxl;*.pam|BMP - Bitmap|*.bmp|DIB - Bitmap|*.dib"
              "|GIF - Graphics Interchange Format|*.gif|JIF - JPEG (JFIF compliant)|*.jif|JPEG - JPEG (JFIF "
              "compliant)|*.jpeg|JPG - JPEG (JFIF compliant)|*.jpg|PBM - Portable Bitmap|*.pbm|PCX - Paintbrush|*.pcx"
              "|PGM - Portable Graymap|*.pgm|PNG - Portable Network Graphics|*.png|PPM - Portable Pixelmap|*.ppm|RLE - "
              "Bitmap|*.rle|TGA - Truevision Targa|*.tga|TIF - Tagged Image File Format|*.tif"
              "|TIFF - Tagged Image File Format|*.tiff|ICO - Windows icon|*.ico|WMF - Windows Metafile|*.wmf|EMF - "
              "Enhanced Metafile|*.emf|WEBP - WebP|*.webp|AVIF - AVIF|*.avif|HEIC - HEIC|*.heic|HEIF - HEIC|*.heif"
              "|JXL - JPEG XL|*.jxl|PAM - Portable Arbitrary Map|*.pam");
    EXPECT_EQ(ParseFileFilterString(FileFilterString()).size(), kFileFilterCount);
}

TEST(FileFilters, MasksChooseTheListedFiles)
{
    TTempDir dir;
    const char* const files[] = {"a.bmp", "b.DIB", "c.gif", "d.jif", "e.jpeg", "f.JPG", "g.pbm", "h.pcx", "i.pgm",
                                 "j.png", "k.ppm", "l.rle", "m.tga", "n.tif", "o.tiff", "p.ico", "q.wmf", "r.emf",
                                 "notes.txt", "archive.jpg.gz", ".hidden.png"};
    for (const char* name : files)
        test::WriteAll(dir.Path() / name, std::string("x"));
    QDir(Q(dir.Path().string())).mkdir("sub.folder");

    struct Case {
        int filter;
        QStringList expected;
    };
    const Case cases[] = {
        {0, {".hidden.png", "a.bmp", "b.DIB", "c.gif", "d.jif", "e.jpeg", "f.JPG", "g.pbm", "h.pcx", "i.pgm", "j.png",
             "k.ppm", "l.rle", "m.tga", "n.tif", "o.tiff", "p.ico", "q.wmf", "r.emf", "sub.folder"}},
        {2, {"b.DIB", "sub.folder"}},
        {6, {"f.JPG", "sub.folder"}},
        {14, {"n.tif", "sub.folder"}},
        {15, {"o.tiff", "sub.folder"}},
        {18, {"r.emf", "sub.folder"}},
    };
    TShellList list;
    list.SetFolder(Q(dir.Path().string()));
    for (const Case& c : cases) {
        SCOPED_TRACE(kFileFilters[std::size_t(c.filter)].Description);
        list.SetFileMask(kFileFilters[std::size_t(c.filter)].Mask);
        ASSERT_TRUE(test::WaitForList(list, Q(dir.Path().string()), int(c.expected.size())));
        QCoreApplication::processEvents();
        EXPECT_EQ(NamesIn(list), c.expected);
    }
}

TEST(ShellCombo, GoUpStopsAtTheTop)
{
    TTempDir dir;
    const QString deep = Q(dir.Path().string()) + "/one/two";
    ASSERT_TRUE(QDir().mkpath(deep));
    struct Case {
        QString start;
        QString expected;
    };
    const Case cases[] = {
        {deep, Q(dir.Path().string()) + "/one"},
        {Q(dir.Path().string()) + "/one", Q(dir.Path().string())},
        {"/", "/"},
    };
    for (const Case& c : cases) {
        TShellCombo combo;
        QStringList chosen;
        QObject::connect(&combo, &TShellCombo::FolderChosen, [&chosen](const QString& path) { chosen << path; });
        combo.SetFolder(c.start);
        combo.GoUp();
        EXPECT_EQ(combo.Folder(), c.expected);
        EXPECT_EQ(chosen.size(), c.start == "/" ? 0 : 1);
        // The combo lists the folder and all its ancestors, the folder chosen.
        EXPECT_EQ(combo.count(), c.expected == "/" ? 1 : int(c.expected.count('/')) + 1);
        EXPECT_EQ(combo.currentData().toString(), c.expected);
    }
}

TEST(ShellList, NewFolderIsNumberedAndRenamedInPlace)
{
    TTempDir dir;
    const QString folder = Q(dir.Path().string());
    TShellList list;
    list.resize(400, 300);
    list.show();
    list.SetFolder(folder);
    ASSERT_TRUE(test::WaitForList(list, folder, 0));

    EXPECT_EQ(list.CreateNewFolder(), folder + "/New Folder");
    QLineEdit* editor = list.ActiveView()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr) << "renaming did not start";
    EXPECT_EQ(editor->text(), "New Folder");
    editor->setText("Renamed");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(QFileInfo(folder + "/Renamed").isDir());
    EXPECT_FALSE(QFileInfo::exists(folder + "/New Folder"));

    ASSERT_TRUE(QDir(folder).mkdir("New Folder"));
    EXPECT_EQ(list.CreateNewFolder(), folder + "/New Folder (2)");
    EXPECT_TRUE(QFileInfo(folder + "/New Folder (2)").isDir());
}

TEST(ShellList, DoubleClickOpensTheFocusedItem)
{
    TTempDir dir;
    const QString folder = Q(dir.Path().string());
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        test::WriteAll(dir.Path() / name, std::string("x"));
    TShellList list;
    list.SetFolder(folder);
    ASSERT_TRUE(test::WaitForList(list, folder, 3));
    QCoreApplication::processEvents();
    QAbstractItemView* view = list.ActiveView();
    const auto index = [&](int row) { return list.Model()->index(row, 0, view->rootIndex()); };
    QStringList opened;
    QObject::connect(&list, &TShellList::OpenRequested, [&opened](const QString& path) { opened << path; });

    // Several selected, b focused: a double-click on c still opens b.
    view->selectionModel()->select(index(0), QItemSelectionModel::Select);
    view->selectionModel()->select(index(2), QItemSelectionModel::Select);
    view->selectionModel()->setCurrentIndex(index(1), QItemSelectionModel::NoUpdate);
    EXPECT_EQ(list.PathToOpen(index(2)), folder + "/b.bmp");
    emit view->doubleClicked(index(2));
    EXPECT_EQ(opened, QStringList{folder + "/b.bmp"});

    // Nothing focused: the item under the mouse.
    view->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    EXPECT_EQ(list.PathToOpen(index(2)), folder + "/c.bmp");
    EXPECT_EQ(list.PathToOpen(QModelIndex()), QString());
    EXPECT_EQ(list.SelectedPaths(), (QStringList{folder + "/a.bmp", folder + "/c.bmp"}));
}

TEST(ShellList, DeleteMovesToTheTrashAfterAQuestion)
{
    TTempDir dir, data;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.Path().string()));
    const QString folder = Q(dir.Path().string());
    test::WriteAll(dir.Path() / "a.bmp", std::string("x"));
    TShellList list;
    list.SetFolder(folder);
    ASSERT_TRUE(test::WaitForList(list, folder, 1));
    QCoreApplication::processEvents();
    list.ActiveView()->selectAll();
    for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        test::TMessageRecorder messages;
        messages.Answers = {answer};
        QTest::keyClick(list.ActiveView(), Qt::Key_Delete);
        EXPECT_EQ(messages.Texts.value(0), "Move \"a.bmp\" to the Trash?");
        EXPECT_EQ(messages.Texts.size(), 1) << messages.Texts.join(" / ").toStdString();
        EXPECT_EQ(QFileInfo::exists(folder + "/a.bmp"), answer == QMessageBox::No);
    }
    EXPECT_TRUE(QFileInfo::exists(Q(data.File("Trash/files/a.bmp"))));
    qputenv("XDG_DATA_HOME", saved);
    if (saved.isEmpty())
        qunsetenv("XDG_DATA_HOME");
}

TEST(ShellList, DragsOutFileUrlsAndDropsCopyOrMoveIntoTheFolder)
{
    TTempDir dir, elsewhere;
    const QString folder = Q(dir.Path().string());
    test::WriteAll(dir.Path() / "inside.bmp", std::string("x"));
    test::WriteAll(elsewhere.Path() / "copied.bmp", std::string("c"));
    test::WriteAll(elsewhere.Path() / "moved.bmp", std::string("m"));
    TShellList list;
    list.SetFolder(folder);
    ASSERT_TRUE(test::WaitForList(list, folder, 1));
    QCoreApplication::processEvents();
    QAbstractItemView* view = list.ActiveView();

    const std::unique_ptr<QMimeData> out(list.Model()->mimeData({list.Model()->index(0, 0, view->rootIndex())}));
    EXPECT_EQ(out->urls(), QList<QUrl>{QUrl::fromLocalFile(folder + "/inside.bmp")});

    for (const auto& [name, action] : {std::pair{"copied.bmp", Qt::CopyAction}, std::pair{"moved.bmp", Qt::MoveAction}}) {
        QMimeData in;
        in.setUrls({QUrl::fromLocalFile(Q(elsewhere.File(name)))});
        EXPECT_TRUE(list.Model()->dropMimeData(&in, action, -1, -1, view->rootIndex())) << name;
        EXPECT_TRUE(QFileInfo::exists(folder + "/" + name)) << name;
        EXPECT_EQ(QFileInfo::exists(Q(elsewhere.File(name))), action == Qt::CopyAction) << name;
    }
    EXPECT_EQ(view->defaultDropAction(), Qt::CopyAction);
}

TEST(ShellList, NeighbourFilesSkipFolders)
{
    TTempDir dir;
    const QString folder = Q(dir.Path().string());
    for (const char* name : {"a.bmp", "c.bmp"})
        test::WriteAll(dir.Path() / name, std::string("x"));
    QDir(folder).mkdir("b.bmp");  // a folder that matches the mask
    TShellList list;
    list.SetFolder(folder);
    ASSERT_TRUE(test::WaitForList(list, folder, 3));
    QCoreApplication::processEvents();
    const std::tuple<const char*, int, QString> cases[] = {
        {"a.bmp", 1, folder + "/c.bmp"}, {"c.bmp", -1, folder + "/a.bmp"}, {"c.bmp", 1, ""},
        {"a.bmp", -1, ""},               {"gone.bmp", 1, ""},
    };
    for (const auto& [from, step, expected] : cases)
        EXPECT_EQ(list.NeighbourFile(folder + "/" + from, step), expected) << from << " " << step;
}

}  // namespace
}  // namespace rastova
