#include "app/WindowHost.h"

#include "app/Dialogs.h"
#include "app/JQuality.h"
#include "app/MainWindow.h"
#include "app/ShellControls.h"

#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace rastova {

QString DurationText(qint64 milliseconds)
{
    const qint64 seconds = std::max<qint64>(milliseconds, 0) / 1000;
    const qint64 hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
    if (hours > 0)
        return QString("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QChar('0')).arg(rest, 2, 10, QChar('0'));
    return QString("%1:%2").arg(minutes).arg(rest, 2, 10, QChar('0'));
}

QString ProgressText(int position, qint64 elapsedMs)
{
    QString text = QString("%1%   %2 elapsed").arg(position).arg(DurationText(elapsedMs));
    if (position > 0 && position < 100)
        text += QString(", about %1 left").arg(DurationText(elapsedMs * (100 - position) / position));
    return text;
}

QString FailureLine(const TFileOutcome& outcome)
{
    static const char* const kSteps[] = {"cannot load", "cannot mirror", "cannot rotate", "cannot convert colours",
                                         "cannot save"};
    return QString::fromStdString(outcome.SourcePath) + ": " + kSteps[outcome.FailedStep] + ": " +
           QString::fromStdString(outcome.Message);
}

TWindowHost::TWindowHost(TForm1& window) : m_window(window)
{
    m_ticker.setInterval(1000);
    QObject::connect(&m_ticker, &QTimer::timeout, [this] { ShowProgressText(); });
}

void TWindowHost::Start()
{
    m_failures.clear();
    m_attempted = 0;
    m_clock.start();
    TConversionJob(*this).Convert();
}

int TWindowHost::ItemCount()
{
    return m_window.PTSList1()->ItemCount();
}

bool TWindowHost::ItemSelected(int index)
{
    return m_window.PTSList1()->ItemSelected(index);
}

std::string TWindowHost::ItemPath(int index)
{
    return m_window.PTSList1()->ItemPath(index).toStdString();
}

TConversionOptions TWindowHost::Options()
{
    TConversionOptions options;
    options.Destination = m_window.Edit1()->text().toStdString();
    options.TargetFormat = m_window.RG4()->ItemIndex();
    options.ColorResolution = m_window.RG3()->ItemIndex();
    options.Mirror = m_window.RG1()->ItemIndex();
    options.Rotate = m_window.RG2()->ItemIndex();
    return options;
}

void TWindowHost::SetBusy(bool busy)
{
    m_window.GB1()->setEnabled(!busy);
    m_window.GB2()->setEnabled(!busy);
    m_window.Button1()->setEnabled(!busy);
    if (busy)
        m_window.setCursor(Qt::WaitCursor);
    else
        m_window.unsetCursor();
}

void TWindowHost::SetProgress(int position)
{
    m_window.PBar1()->setValue(position);
    ShowProgressText();
}

void TWindowHost::ShowProgressText()
{
    QProgressBar* bar = m_window.PBar1();
    if (Running && m_clock.isValid())
        bar->setFormat(ProgressText(bar->value(), m_clock.elapsed()));
    else
        bar->setFormat("%p%");
}

void TWindowHost::SetStopCaption(bool stop)
{
    m_window.Button2()->setText(stop ? "Stop" : "Close");
    if (stop) {
        m_clock.start();
        m_ticker.start();
    } else {
        m_ticker.stop();
    }
    ShowProgressText();
}

void TWindowHost::Pump()
{
    QCoreApplication::processEvents();
}

void TWindowHost::Inform(const std::string& text)
{
    QString message = QString::fromStdString(text);
    if (!m_failures.isEmpty()) {
        // The end of a run with failures: say so, and which files and why.
        message += QString("\n\n%1 of %2 files could not be converted:").arg(m_failures.size()).arg(m_attempted);
        ShowFailureList(&m_window, message, m_failures);
        m_failures.clear();
        return;
    }
    ShowMessage(&m_window, QMessageBox::Information, message);
}

bool TWindowHost::Confirm(const std::string& text)
{
    return ShowMessage(&m_window, QMessageBox::Information, QString::fromStdString(text),
                       QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void TWindowHost::FocusDestination()
{
    m_window.Edit1()->setFocus();
}

void TWindowHost::AskJpegQuality()
{
    if (TForm2* dialog = m_window.JpegQualityDialog())
        dialog->Ask(JpegQualityChoice);
}

void TWindowHost::FileDone(const TFileOutcome& outcome)
{
    ++m_attempted;
    if (outcome.Failed)
        m_failures << FailureLine(outcome);
}

}  // namespace rastova
