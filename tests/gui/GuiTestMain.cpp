#include "tests/gui/GuiTestSupport.h"

#include "gui/ShellControls.h"
#include "formats/Register.h"
#include "image/FileFormats.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

namespace rastova::test {

TMessageRecorder::TMessageRecorder()
{
    SetMessageBoxFunction([this](QWidget*, QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons buttons) {
        Texts << text;
        if (!Answers.empty()) {
            const QMessageBox::StandardButton answer = Answers.front();
            Answers.pop_front();
            return answer;
        }
        return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
}

TMessageRecorder::~TMessageRecorder()
{
    SetMessageBoxFunction({});
}

bool WaitForList(TShellList& list, const QString& folder, int count)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (QDir(list.Folder()) == QDir(folder) && list.ItemCount() >= count)
            return true;
    }
    return false;
}

bool WaitUntil(const std::function<bool()>& done, int seconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

void WhenModal(std::function<void()> action)
{
    QTimer::singleShot(0, [action = std::move(action)] {
        QElapsedTimer clock;
        clock.start();
        while (!QApplication::activeModalWidget() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        action();
    });
}

}  // namespace rastova::test

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    rastova::PGInitialize();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
