#include "gui/WindowHost.h"

#include <QCheckBox>

#include "gui/Dialogs.h"
#include "gui/JQuality.h"
#include "gui/MainWindow.h"
#include "gui/ShellControls.h"

#include <QApplication>
#include <QLineEdit>

namespace rastova {

TWindowHost::TWindowHost(TForm1& window, TWindowModel& model) : m_window(window), m_model(model)
{
    m_ticker.setInterval(1000);
    QObject::connect(&m_ticker, &QTimer::timeout, [this] { ShowRunState(); });
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
    const TShellList& list = *m_window.PTSList1();
    std::vector<std::string> selected;
    for (int i = 0; i < list.ItemCount(); ++i)
        if (list.ItemSelected(i))
            selected.push_back(list.ItemPath(i).toStdString());
    StartWith(selected, list.Folder());
}

void TWindowHost::StartWith(const std::vector<std::string>& paths, const QString& sourceFolder)
{
    if (m_model.StartAction() != TStartAction::Plan || m_runner.joinable())
        return;
    m_items = RunItems(paths, m_model.Options.IncludeSubfolders);
    m_sourceFolder = sourceFolder;
    std::optional<TConversionPlan> plan = PlanConversion(*this);
    if (!plan)
        return;
    m_plan = std::make_unique<TConversionPlan>(std::move(*plan));
    m_destination = QString::fromStdString(m_plan->Destination);
    BeginRun(*this);
    const int threads = m_model.Jobs > 0 ? m_model.Jobs : int(std::max(1u, std::thread::hardware_concurrency()));
    m_runner = std::thread([this, threads] {
        TQueuedReports reports(m_window, *this);
        TParallelRunner(*m_plan, threads, m_metafiles).Run(reports, StopRequested);
        // Queued after every report, so the end comes after the last file's.
        QMetaObject::invokeMethod(&m_window, [this] { FinishRun(); }, Qt::QueuedConnection);
    });
}

void TWindowHost::FinishRun()
{
    if (m_asking) {
        // Nothing is left to hold: the question has no object any more.
        m_endDeferred = true;
        CloseMessageBoxes(&m_window);
        return;
    }
    if (m_runner.joinable())
        m_runner.join();
    m_plan.reset();
    m_model.StopClock(m_clock.elapsed());
    m_ticker.stop();
    EndRun(*this);
}

void TWindowHost::AskToStop()
{
    if (m_asking || !Running)
        return;
    m_asking = true;
    StopRequested.Hold();
    const bool stop = Confirm("The conversion will be interrupted.");
    m_asking = false;
    if (stop && !m_endDeferred)
        StopRequested = true;
    StopRequested.Release();
    if (m_endDeferred) {
        m_endDeferred = false;
        FinishRun();
    }
}

void TWindowHost::Shutdown()
{
    StopRequested = true;
    StopRequested.Release();
    if (m_runner.joinable())
        m_runner.join();
    m_plan.reset();
}

int TWindowHost::ItemCount()
{
    return int(m_items.size());
}

bool TWindowHost::ItemSelected(int)
{
    return true;
}

std::string TWindowHost::ItemPath(int index)
{
    return m_items[std::size_t(index)].Path;
}

std::string TWindowHost::ItemOutputFolder(int index)
{
    return m_items[std::size_t(index)].RelativeFolder;
}

TConversionOptions TWindowHost::Options()
{
    return JobOptions(m_model.Options);
}

void TWindowHost::SetBusy(bool busy)
{
    m_model.SetBusy(busy);
    ShowRunState();
}

void TWindowHost::SetProgress(int position)
{
    m_model.SetProgress(position);
    ShowRunState();
}

void TWindowHost::ShowRunState()
{
    m_window.ShowRunState(m_clock.isValid() ? m_clock.elapsed() : 0);
}

void TWindowHost::SetStopCaption(bool stop)
{
    if (stop) {
        m_clock.start();
        m_ticker.start();
    } else {
        m_ticker.stop();
    }
    m_model.SetRunning(stop, m_clock.elapsed());
    ShowRunState();
}

void TWindowHost::Pump()
{
    QCoreApplication::processEvents();
}

void TWindowHost::Inform(const std::string& text)
{
    // While Running, the message is the end of a run.
    if (Running)
        ShowEndBox(&m_window, EndReport(text, m_model.Tally(), m_destination, m_sourceFolder));
    else
        ShowMessage(&m_window, QMessageBox::Information, QString::fromStdString(text));
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
    m_model.FileDone(outcome);
}

}  // namespace rastova
