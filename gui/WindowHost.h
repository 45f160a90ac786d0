// The main window as host of the conversion job: the job's callbacks become
// changes of the window's model (TWindowModel), message boxes and the JPEG
// quality dialog. The run is planned on the GUI thread (its questions are
// windows); the files are then converted by the parallel runner on a thread of
// its own, which reports back through queued calls, so the window never waits
// for a file.
#pragma once

#include "gui/WindowModel.h"
#include "job/ConversionJob.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <thread>

namespace rastova {

class TForm1;

class TWindowHost : public TConversionHost {
public:
    TWindowHost(TForm1& window, TWindowModel& model);
    ~TWindowHost() override;
    TWindowHost(const TWindowHost&) = delete;
    TWindowHost& operator=(const TWindowHost&) = delete;

    // Plans a conversion from the window's selection and options and starts it;
    // returns while the files convert. Nothing happens while a run goes on.
    void Start();
    // The same for the given files and folders (dropped from elsewhere) instead
    // of the list's selection; failures are named relative to sourceFolder.
    void StartWith(const std::vector<std::string>& paths, const QString& sourceFolder);
    // Asks "The conversion will be interrupted." with the run held meanwhile:
    // Yes stops it, No lets it go on. A run that ends while the question is
    // open closes the question and ends as usual.
    void AskToStop();
    // Stops a run still going and waits for its converters; the window calls it
    // before it goes away.
    void Shutdown();
    void SetMetafileHolder(TMetafileHolder* holder) { m_metafiles = holder; }
    bool Asking() const { return m_asking; }

    int ItemCount() override;
    bool ItemSelected(int index) override;
    std::string ItemPath(int index) override;
    std::string ItemOutputFolder(int index) override;
    TConversionOptions Options() override;
    void SetBusy(bool busy) override;
    void SetProgress(int position) override;
    void SetStopCaption(bool stop) override;
    void Pump() override;
    void Inform(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    void FocusDestination() override;
    void AskJpegQuality() override;
    void FileDone(const TFileOutcome& outcome) override;
    TMetafileHolder* MetafileHolder() override { return m_metafiles; }

private:
    void ShowRunState();
    void FinishRun();

    TForm1& m_window;
    TWindowModel& m_model;
    QElapsedTimer m_clock;
    QTimer m_ticker;  // keeps the elapsed time moving between steps
    TMetafileHolder* m_metafiles = nullptr;
    bool m_asking = false;       // the stop question is open
    bool m_endDeferred = false;  // the run ended while it was
    QString m_destination, m_sourceFolder;  // of the run, for its end box
    std::vector<TBatchInput> m_items;  // the run's items, taken from the list at Start
    std::unique_ptr<TConversionPlan> m_plan;  // read by the converters while they run
    std::thread m_runner;
};

}  // namespace rastova
