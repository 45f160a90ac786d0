#include "gui/WindowHost.h"

#include <QCheckBox>

#include "gui/Dialogs.h"
#include "gui/JQuality.h"
#include "gui/MainWindow.h"
#include "gui/ShellControls.h"

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
    return QString::fromStdString(outcome.SourcePath) + ": " + JobStepFailureText(outcome.FailedStep) + ": " +
           QString::fromStdString(outcome.Message);
}

TWindowHost::TWindowHost(TForm1& window) : m_window(window)
{
    m_ticker.setInterval(1000);
    QObject::connect(&m_ticker, &QTimer::timeout, [this] { ShowProgressText(); });
}

TWindowHost::~TWindowHost()
{
    Shutdown();
}

namespace {

// Hands the runner's reports to the GUI thread, in the order they are made.
class TQueuedReports : public TRunObserver {
public:
    TQueuedReports(QObject& context, TWindowHost& host) : m_context(context), m_host(host) {}
    void Progress(int position) override
    {
        QMetaObject::invokeMethod(&m_context, [host = &m_host, position] { host->SetProgress(position); },
                                  Qt::QueuedConnection);
    }
    void FileDone(const TFileOutcome& outcome) override
    {
        QMetaObject::invokeMethod(&m_context, [host = &m_host, outcome] { host->FileDone(outcome); },
                                  Qt::QueuedConnection);
    }

private:
    QObject& m_context;
    TWindowHost& m_host;
};

}  // namespace

void TWindowHost::Start()
{
    if (Running || m_runner.joinable())
        return;
    m_failures.clear();
    m_attempted = 0;
    std::optional<TConversionPlan> plan = PlanConversion(*this);
    if (!plan)
        return;
    m_plan = std::make_unique<TConversionPlan>(std::move(*plan));
    SetProgress(0);
    StopRequested = false;
    Running = true;
    SetStopCaption(true);
    const int threads = Jobs > 0 ? Jobs : int(std::max(1u, std::thread::hardware_concurrency()));
    m_runner = std::thread([this, threads] {
        TQueuedReports reports(m_window, *this);
        TParallelRunner(*m_plan, threads, m_metafiles).Run(reports, StopRequested);
        // Queued after every report, so the end comes after the last file's.
        QMetaObject::invokeMethod(&m_window, [this] { FinishRun(); }, Qt::QueuedConnection);
    });
}

void TWindowHost::FinishRun()
{
    if (m_runner.joinable())
        m_runner.join();
    m_plan.reset();
    SetBusy(false);
    Inform(StopRequested ? "The conversion was interrupted by user." : "The conversion is complete!");
    SetProgress(0);
    Running = false;
    SetStopCaption(false);
}

void TWindowHost::Shutdown()
{
    StopRequested = true;
    if (m_runner.joinable())
        m_runner.join();
    m_plan.reset();
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
    options.TargetFormat = TTargetFormat(m_window.RG4()->ItemIndex());
    options.ColorResolution = TJobColorResolution(m_window.RG3()->ItemIndex());
    options.Mirror = TJobMirror(m_window.RG1()->ItemIndex());
    options.Rotate = TJobRotate(m_window.RG2()->ItemIndex());
    options.KeepMetadata = m_window.KeepMetadataBox()->isChecked();
    options.Quantizer = m_window.BestPaletteBox()->isChecked() ? jqBest : jqMedianCut;
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
    if (outcome.Skipped)
        return;
    ++m_attempted;
    if (outcome.Failed)
        m_failures << FailureLine(outcome);
}

}  // namespace rastova
