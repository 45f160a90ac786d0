#include "gui/Dialogs.h"

#include "image/FileFormats.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QThread>

#include <mutex>

namespace rastova {

namespace {

std::mutex g_functionMutex;
TMessageBoxFunction g_function;
QList<QPointer<QMessageBox>> g_openBoxes;  // GUI thread only

QMessageBox::StandardButton RealMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, kApplicationTitle, text, buttons, parent);
    g_openBoxes << &box;
    const auto answer = QMessageBox::StandardButton(box.exec());
    g_openBoxes.removeAll(&box);
    return answer;
}

}  // namespace

void SetMessageBoxFunction(TMessageBoxFunction function)
{
    std::lock_guard lock(g_functionMutex);
    g_function = std::move(function);
}

QMessageBox::StandardButton ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                        QMessageBox::StandardButtons buttons)
{
    TMessageBoxFunction function;
    {
        std::lock_guard lock(g_functionMutex);
        function = g_function;
    }
    return function ? function(parent, icon, text, buttons) : RealMessageBox(parent, icon, text, buttons);
}

void CloseMessageBoxes(QWidget* parent)
{
    for (const QPointer<QMessageBox>& box : g_openBoxes)
        if (box && box->parentWidget() == parent)
            box->done(box->escapeButton() ? box->standardButton(box->escapeButton()) : QMessageBox::Cancel);
}

void ShowFailureList(QWidget* parent, const QString& text, const QStringList& lines)
{
    {
        std::unique_lock lock(g_functionMutex);
        if (TMessageBoxFunction function = g_function) {
            lock.unlock();
            function(parent, QMessageBox::Warning, text + "\n" + lines.join('\n'), QMessageBox::Ok);
            return;
        }
    }
    QDialog dialog(parent);
    dialog.setWindowTitle(kApplicationTitle);
    auto* icon = new QLabel(&dialog);
    const int iconSize = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &dialog);
    icon->setPixmap(dialog.style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(iconSize, iconSize));
    auto* heading = new QLabel(text, &dialog);
    heading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* list = new QListWidget(&dialog);
    list->addItems(lines);
    list->setAccessibleName("Files not converted");
    list->setMinimumWidth(480);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QPushButton* copy = buttons->addButton("&Copy", QDialogButtonBox::ActionRole);
    QObject::connect(copy, &QPushButton::clicked, [&lines] { QApplication::clipboard()->setText(lines.join('\n')); });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(heading, 1);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(top);
    layout->addWidget(list);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
    dialog.exec();
}

void InstallLibraryQuestions()
{
    SetQuestionFunction([](const std::string& text, const std::string& caption, TQuestionButtons buttons) {
        const auto ask = [&] {
            const QMessageBox::StandardButtons choice =
                buttons == qbOKCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok;
            QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption), QString::fromStdString(text),
                            choice, QApplication::activeWindow());
            return box.exec() == QMessageBox::Cancel ? qaCancel : qaOK;
        };
        if (!qApp || QThread::currentThread() == qApp->thread())
            return ask();
        TQuestionAnswer answer = qaOK;
        QMetaObject::invokeMethod(qApp, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
        return answer;
    });
}

}  // namespace rastova
