#include "gui/About.h"
#include "gui/JQuality.h"

#include "tests/gui/GuiTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace rastova {
namespace {

enum TLeave { lOK, lCancel, lEscape, lTitleBar };

TEST(JpegQualityDialog, EachWayOutSetsItsChoice)
{
    struct Case {
        const char* name;
        int position;
        TLeave leave;
        std::optional<int> before;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"OK at 35", 35, lOK, 80, 35},
        {"OK at the top", 95, lOK, std::nullopt, 95},
        {"Cancel", 55, lCancel, 75, std::nullopt},
        {"Esc", 15, lEscape, 35, std::nullopt},
        {"title bar keeps the last OK", 65, lTitleBar, 35, 35},
        {"title bar keeps a cancellation", 65, lTitleBar, std::nullopt, std::nullopt},
        {"title bar before any use", 65, lTitleBar, 80, 80},
    };
    TForm2 dialog;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<int> choice = c.before;
        test::WhenModal([&] {
            dialog.TrBar1()->setValue(c.position);
            switch (c.leave) {
            case lOK: dialog.Button1()->click(); break;
            case lCancel: dialog.Button2()->click(); break;
            case lEscape: QTest::keyClick(&dialog, Qt::Key_Escape); break;
            case lTitleBar: dialog.close(); break;
            }
        });
        dialog.Ask(choice);
        EXPECT_EQ(choice, c.expected);
        EXPECT_FALSE(dialog.isVisible());
        // Nothing is reset between showings.
        EXPECT_EQ(dialog.TrBar1()->value(), c.position);
    }
}

QColor TextColor(const QLabel* label)
{
    return label->palette().color(QPalette::WindowText);
}

TEST(AboutBox, LinkLinesTurnBlueUnderThePointer)
{
    TForm3 about;
    about.show();
    const auto moveOver = [](QWidget* widget) {
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    };
    struct Case {
        QWidget* target;
        QColor homePage, mail;
    };
    const Case cases[] = {
        {about.Label4(), Qt::blue, Qt::black},
        {about.Label5(), Qt::black, Qt::blue},
        {&about, Qt::black, Qt::black},
        {about.Label5(), Qt::black, Qt::blue},
    };
    for (const Case& c : cases) {
        moveOver(c.target);
        EXPECT_EQ(TextColor(about.Label4()), c.homePage);
        EXPECT_EQ(TextColor(about.Label5()), c.mail);
    }
    // Every showing starts black.
    about.hide();
    about.show();
    EXPECT_EQ(TextColor(about.Label5()), QColor(Qt::black));
}

TEST(AboutBox, LaunchersOpenTheAddressesAndReportFailures)
{
    struct Case {
        bool mail;
        bool launched;
        QString url;
        QString message;
    };
    const Case cases[] = {
        {false, true, kHomePage, ""},
        {true, true, QString("mailto:") + kSupportMail, ""},
        {false, false, kHomePage,
         "Unable to start web browser. Make sure you have properly\nsetup Internet access on your system."},
        {true, false, QString("mailto:") + kSupportMail,
         "Unable to start mail program. Make sure you have properly\nsetup Internet access on your system."},
    };
    for (const Case& c : cases) {
        test::TMessageRecorder messages;
        TForm3 about;
        QList<QUrl> opened;
        about.SetLauncher([&](const QUrl& url) {
            opened << url;
            return c.launched;
        });
        QTest::mouseClick(c.mail ? about.Label5() : about.Label4(), Qt::LeftButton);
        EXPECT_EQ(opened, QList<QUrl>{QUrl(c.url)});
        EXPECT_EQ(messages.Texts, c.message.isEmpty() ? QStringList() : QStringList{c.message});
    }
}

}  // namespace
}  // namespace rastova
