#include "gui/JQuality.h"
#include "gui/MainWindow.h"
#include "gui/ShellControls.h"
#include "job/ConversionJob.h"

#include "image/PGraphic.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QComboBox>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

namespace rastova {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

QString Q(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

// A window over a source folder of pictures, writing into a destination folder.
struct TWindowFixture {
    TTempDir dir;
    fs::path source = dir.Path() / "in";
    fs::path destination = dir.Path() / "out";
    QString ini = Q(dir.Path() / "Rastova.ini");

    // Pictures of width + i by height pixels; options are extra [Options] lines.
    TWindowFixture(int pictures, const std::string& options = "", int width = 40, int height = 30)
    {
        fs::create_directories(source);
        for (int i = 0; i < pictures; ++i) {
            TPixelGraphic picture;
            test::FillRandom(picture, width + i, height, bc24, std::uint32_t(i + 1));
            picture.SaveToFile((source / ("picture" + std::to_string(i) + ".bmp")).string());
        }
        test::WriteAll(dir.Path() / "Rastova.ini", "[Path]\nOpen=" + source.string() + "\nSave=" + destination.string() +
                                                       "\n[Options]\nTargetFormat=4\n" + options);
    }

    void SelectAll(TForm1& form, int count)
    {
        ASSERT_TRUE(test::WaitForList(*form.PTSList1(), Q(source), count));
        QCoreApplication::processEvents();
        form.PTSList1()->ActiveView()->selectAll();
    }

    // Start, then wait for the end of the run.
    static void Convert(TForm1& form)
    {
        form.Button1Click();
        ASSERT_TRUE(test::WaitUntil([&form] { return !form.Running(); }));
    }

    // Runs action once, when the run first moves the progress bar.
    static void AtFirstProgress(TForm1& form, std::function<void()> action)
    {
        auto done = std::make_shared<bool>(false);
        QObject::connect(form.PBar1(), &QProgressBar::valueChanged, &form, [done, action](int value) {
            if (value > 0 && !*done) {
                *done = true;
                action();
            }
        });
    }

    int Outputs() const
    {
        return fs::exists(destination) ? int(std::distance(fs::directory_iterator(destination), {})) : 0;
    }
};

TEST(MainWindow, ConvertsAFolderAndListsTheFileThatFailed)
{
    TWindowFixture fixture(3);
    test::WriteAll(fixture.source / "broken.bmp", std::string("BM this is not a bitmap"));
    test::TMessageRecorder messages;
    TForm1 form(fixture.ini);
    fixture.SelectAll(form, 4);
    EXPECT_EQ(form.RG4()->ItemIndex(), 4);  // PNG, remembered

    TWindowFixture::Convert(form);

    // Missing destination: asked, created, then every good file converted.
    ASSERT_EQ(messages.Texts.size(), 2);
    EXPECT_EQ(messages.Texts[0], "Directory " + Q(fixture.destination) + " does not exist. Create?");
    EXPECT_TRUE(messages.Texts[1].startsWith("The conversion is complete!\n\n1 of 4 files could not be converted:\n"))
        << messages.Texts[1].toStdString();
    EXPECT_TRUE(messages.Texts[1].contains(Q(fixture.source / "broken.bmp") + ": cannot load: "));
    for (int i = 0; i < 3; ++i) {
        TPixelGraphic output;
        output.LoadFromFile((fixture.destination / ("picture" + std::to_string(i) + ".png")).string());
        EXPECT_EQ(output.Width(), 40 + i);
        EXPECT_EQ(output.Height(), 30);
    }
    EXPECT_EQ(fixture.Outputs(), 3);
    // Idle again.
    EXPECT_FALSE(form.Running());
    EXPECT_TRUE(form.Button1()->isEnabled());
    EXPECT_TRUE(form.GB1()->isEnabled());
    EXPECT_EQ(form.Button2()->text(), "Close");
    EXPECT_EQ(form.PBar1()->value(), 0);
}

// The target formats in the order of the job's choices, each button named for
// screen readers by its caption.
TEST(MainWindow, FileExtensionGroupOffersThePhotoFormats)
{
    TWindowFixture fixture(1);
    TForm1 form(fixture.ini);
    QStringList captions;
    for (QRadioButton* button : form.RG4()->findChildren<QRadioButton*>()) {
        captions << button->text();
        EXPECT_EQ(button->accessibleName(), button->text());
    }
    EXPECT_EQ(captions, (QStringList{"BMP", "JPG", "PBM", "PGM", "PNG", "PPM", "TGA", "TIF", "WEBP", "AVIF", "HEIC",
                                     "JXL"}));
    for (const TTargetFormat format : {tfWEBP, tfAVIF, tfHEIC, tfJXL}) {
        form.RG4()->SetItemIndex(format);
        EXPECT_EQ(TTargetFormat(form.RG4()->ItemIndex()), format);
        EXPECT_EQ(QString(TargetExtension(format)).mid(1).toUpper(), captions[format]);
    }
}

TEST(MainWindow, CloseDuringARunAsksAndStopsOnlyOnYes)
{
    constexpr int kPictures = 6;
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "Yes" : "No");
        // One converter, and pictures large enough that the stop comes before the last.
        TWindowFixture fixture(kPictures, "Jobs=1\nColorResolution=2\n", 600, 400);
        fs::create_directories(fixture.destination);
        test::TMessageRecorder messages;
        messages.Answers = {stop ? QMessageBox::Yes : QMessageBox::No};
        TForm1 form(fixture.ini);
        fixture.SelectAll(form, kPictures);
        TWindowFixture::AtFirstProgress(form, [&form] {
            EXPECT_TRUE(form.Running());
            EXPECT_EQ(form.Button2()->text(), "Stop");
            EXPECT_FALSE(form.Button1()->isEnabled());
            QMetaObject::invokeMethod(&form, [&form] { form.close(); }, Qt::QueuedConnection);
        });

        TWindowFixture::Convert(form);

        ASSERT_EQ(messages.Texts.size(), 2);
        EXPECT_EQ(messages.Texts[0], "The conversion will be interrupted.");
        EXPECT_EQ(messages.Texts[1], stop ? "The conversion was interrupted by user." : "The conversion is complete!");
        if (stop)
            EXPECT_LT(fixture.Outputs(), kPictures);
        else
            EXPECT_EQ(fixture.Outputs(), kPictures);
        // The window stayed: closing stores the settings, and that has not happened.
        TSettings stored;
        ASSERT_TRUE(ReadSettings(fixture.ini, stored));
        EXPECT_FALSE(stored.Width.has_value());
        EXPECT_FALSE(form.Running());
    }
}

// While the stop question is open the run is held: no file is written until
// the answer, then "No" lets every file convert.
TEST(MainWindow, StopQuestionHoldsTheRun)
{
    constexpr int kPictures = 6;
    TWindowFixture fixture(kPictures, "Jobs=2\nColorResolution=2\n", 600, 400);
    fs::create_directories(fixture.destination);
    QStringList texts;
    int writtenWhileAsked = -1;
    SetMessageBoxFunction([&](QWidget*, QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons) {
        texts << text;
        if (text != "The conversion will be interrupted.")
            return QMessageBox::Ok;
        const int before = fixture.Outputs();
        QElapsedTimer held;
        held.start();
        while (held.elapsed() < 700)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        writtenWhileAsked = fixture.Outputs() - before;
        return QMessageBox::No;
    });
    TForm1 form(fixture.ini);
    fixture.SelectAll(form, kPictures);
    TWindowFixture::AtFirstProgress(form, [&form] {
        QMetaObject::invokeMethod(&form, [&form] { form.Button2Click(); }, Qt::QueuedConnection);
    });
    TWindowFixture::Convert(form);
    SetMessageBoxFunction({});
    ASSERT_EQ(texts.size(), 2);
    EXPECT_EQ(texts[1], "The conversion is complete!");
    // An item in hand may finish its step but not save while held.
    EXPECT_EQ(writtenWhileAsked, 0);
    EXPECT_EQ(fixture.Outputs(), kPictures);
}

// The batch options reach the job: fit within a box, existing files skipped.
TEST(MainWindow, BatchOptionsReachTheJob)
{
    TWindowFixture fixture(2);
    fs::create_directories(fixture.destination);
    test::WriteAll(fixture.destination / "picture1.png", std::string("kept"));
    test::TMessageRecorder messages;
    TForm1 form(fixture.ini);
    fixture.SelectAll(form, 2);
    form.FitWithin()->setChecked(true);
    form.FitWidth()->setValue(20);
    form.FitHeight()->setValue(20);
    form.ExistingFiles()->SetItemIndex(epSkip);
    TWindowFixture::Convert(form);
    ASSERT_EQ(messages.Texts.size(), 1);
    EXPECT_EQ(messages.Texts[0], "The conversion is complete!");
    TPixelGraphic output;
    output.LoadFromFile((fixture.destination / "picture0.png").string());
    EXPECT_EQ(output.Width(), 20);
    EXPECT_EQ(output.Height(), 15);
    EXPECT_EQ(test::ReadAll(fixture.destination / "picture1.png").size(), 4u);  // skipped
    EXPECT_EQ(form.Model().Tally().Skipped, 1);
    EXPECT_EQ(form.Model().Tally().Converted, 1);
}

TEST(MainWindow, ClosingStoresTheSettingsForTheNextStart)
{
    TWindowFixture fixture(1);
    {
        TForm2 quality;
        TForm1 form(fixture.ini);
        form.SetDialogs(&quality, nullptr, nullptr);
        form.Edit1()->setText("  /tmp/typed with blanks  ");
        form.RG3()->SetItemIndex(1);
        form.RG2()->SetItemIndex(2);
        quality.TrBar1()->setValue(35);
        form.resize(900, 700);
        form.close();
    }
    TForm2 quality;
    TForm1 form(fixture.ini);
    form.SetDialogs(&quality, nullptr, nullptr);
    EXPECT_EQ(form.Edit1()->text(), "  /tmp/typed with blanks  ");
    EXPECT_EQ(form.PTShellCombo1()->Folder(), Q(fixture.source));
    EXPECT_EQ(form.PTSList1()->Folder(), Q(fixture.source));
    EXPECT_EQ(form.RG4()->ItemIndex(), 4);
    EXPECT_EQ(form.RG3()->ItemIndex(), 1);
    EXPECT_EQ(form.RG2()->ItemIndex(), 2);
    EXPECT_EQ(quality.TrBar1()->value(), 35);
    EXPECT_EQ(form.size(), QSize(900, 700));
}

TEST(MainWindow, TabOrderFollowsTheReadingOrder)
{
    TWindowFixture fixture(0);
    TForm1 form(fixture.ini);
    form.show();
    // In the details view: the shown view takes the list's place.
    form.SpeedButton(4)->click();
    const QList<QWidget*> expected = {form.PTShellCombo1(),
                                      form.SpeedButton(1),
                                      form.SpeedButton(2),
                                      form.SpeedButton(3),
                                      form.SpeedButton(4),
                                      form.PTSList1()->ActiveView(),
                                      form.FilterComboBox1(),
                                      form.Edit1(),
                                      form.RG4()->findChildren<QRadioButton*>().front(),
                                      form.RG3()->findChildren<QRadioButton*>().front(),
                                      form.RG1()->findChildren<QRadioButton*>().front(),
                                      form.RG2()->findChildren<QRadioButton*>().front(),
                                      form.Button1(),
                                      form.Button2()};
    // The chain as Tab walks it: shown controls that take the focus.
    QList<QWidget*> chain;
    for (QWidget* w = form.nextInFocusChain(); w != &form && chain.size() < 1000; w = w->nextInFocusChain())
        if (w->isVisibleTo(&form) && (w->focusPolicy() & Qt::TabFocus))
            chain << w;
    qsizetype previous = -1;
    for (QWidget* control : expected) {
        const qsizetype position = chain.indexOf(control);
        EXPECT_GT(position, previous) << control->accessibleName().toStdString() << " is out of order";
        previous = position;
    }
}

// Collects (role, name) of every accessible object below iface.
void CollectAccessible(QAccessibleInterface* iface, QList<std::pair<QAccessible::Role, QString>>& found)
{
    if (!iface)
        return;
    found.append({iface->role(), iface->text(QAccessible::Name)});
    for (int i = 0; i < iface->childCount(); ++i)
        CollectAccessible(iface->child(i), found);
}

TEST(MainWindow, ControlsCarryAccessibleNames)
{
    TWindowFixture fixture(0);
    TForm1 form(fixture.ini);
    form.show();
    QList<std::pair<QAccessible::Role, QString>> found;
    CollectAccessible(QAccessible::queryAccessibleInterface(&form), found);
    const std::pair<QAccessible::Role, QString> expected[] = {
        {QAccessible::List, "Files"},
        {QAccessible::ComboBox, "Folder"},
        {QAccessible::EditableText, "Path"},
        {QAccessible::ComboBox, "File extension"},
        {QAccessible::Grouping, "Conversion from"},
        {QAccessible::Grouping, "Conversion to"},
        {QAccessible::Grouping, "File extension"},
        {QAccessible::Grouping, "Color resolution"},
        {QAccessible::Grouping, "Mirror"},
        {QAccessible::Grouping, "Rotate"},
        {QAccessible::RadioButton, "True color (24 bit)"},
        {QAccessible::Button, "Go Up"},
        {QAccessible::Button, "Browse.."},
        {QAccessible::Button, "Start"},
    };
    for (const auto& item : expected)
        EXPECT_TRUE(found.contains(item)) << "no " << item.second.toStdString() << " of role " << item.first;
}

}  // namespace
}  // namespace rastova
