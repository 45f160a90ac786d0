#include "gui/Dialogs.h"

#include "image/FileFormats.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QUrl>
#include <QVBoxLayout>
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

namespace {

// True when the installed message-box function took the box.
bool Recorded(QWidget* parent, QMessageBox::Icon icon, const QString& text)
{
    std::unique_lock lock(g_functionMutex);
    TMessageBoxFunction function = g_function;
    lock.unlock();
    if (function)
        function(parent, icon, text, QMessageBox::Ok);
    return bool(function);
}

// The dialog of ShowFailureList and ShowEndBox: an icon and a heading, lines
// below it (the list left out when there are none), Copy and OK.
class TListBox : public QDialog {
public:
    TListBox(QWidget* parent, QStyle::StandardPixmap glyph, const QString& heading, const QStringList& lines,
             const QStringList& copied)
        : QDialog(parent), m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok, this))
    {
        setWindowTitle(kApplicationTitle);
        auto* icon = new QLabel(this);
        const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
        icon->setPixmap(style()->standardIcon(glyph).pixmap(iconSize, iconSize));
        auto* text = new QLabel(heading, this);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        text->setAccessibleName(heading.section('\n', 0, 0));
        text->setAccessibleDescription(heading);
        auto* top = new QHBoxLayout;
        top->addWidget(icon, 0, Qt::AlignTop);
        top->addWidget(text, 1);
        m_layout = new QVBoxLayout(this);
        m_layout->addLayout(top);
        if (!lines.isEmpty()) {
            auto* list = new QListWidget(this);
            list->addItems(lines);
            list->setAccessibleName("Files not converted");
            list->setMinimumWidth(480);
            m_layout->addWidget(list);
            QPushButton* copy = m_buttons->addButton("&Copy", QDialogButtonBox::ActionRole);
            connect(copy, &QPushButton::clicked, this,
                    [copied] { QApplication::clipboard()->setText(copied.join('\n')); });
        }
        connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        m_layout->addWidget(m_buttons);
        m_buttons->button(QDialogButtonBox::Ok)->setFocus();
    }
    QDialogButtonBox* Buttons() const { return m_buttons; }

private:
    QDialogButtonBox* m_buttons;
    QVBoxLayout* m_layout;
};

}  // namespace

void ShowFailureList(QWidget* parent, const QString& text, const QStringList& lines)
{
    if (Recorded(parent, QMessageBox::Warning, text + "\n" + lines.join('\n')))
        return;
    TListBox(parent, QStyle::SP_MessageBoxWarning, text, lines, lines).exec();
}

void ShowEndBox(QWidget* parent, const TEndReport& report)
{
    const bool failures = !report.Failures.isEmpty();
    if (Recorded(parent, failures ? QMessageBox::Warning : QMessageBox::Information,
                 failures ? report.Text + "\n" + report.Failures.join('\n') : report.Text))
        return;
    QString heading = report.Text.section("\n\n", 0, 0) + "\n\n" + report.Counts;
    if (!report.Destination.isEmpty())
        heading += "\nIn: " + report.Destination;
    TListBox box(parent, failures ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation, heading,
                 report.ShortFailures, report.Failures);
    if (!report.Destination.isEmpty()) {
        QPushButton* open = box.Buttons()->addButton("Open folder", QDialogButtonBox::ActionRole);
        open->setAccessibleName("Open folder");
        QObject::connect(open, &QPushButton::clicked, &box, [&box, folder = report.Destination] {
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
            box.accept();
        });
    }
    box.exec();
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
