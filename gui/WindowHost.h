// The main window as host of the conversion job: the job's callbacks become
// control states, message boxes and the JPEG quality dialog. The run is planned
// on the GUI thread (its questions are windows); the files are then converted
// by the parallel runner on a thread of its own, which reports back through
// queued calls, so the window never waits for a file.
#pragma once

#include "job/ConversionJob.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <thread>

namespace rastova {

class TForm1;

// "m:ss", or "h:mm:ss" from an hour on.
QString DurationText(qint64 milliseconds);
// The progress bar's text while a run goes on: position, time spent and an
// estimate of the time left (none before the first step is done).
QString ProgressText(int position, qint64 elapsedMs);
// One line of the failure list: the file and what went wrong with it.
QString FailureLine(const TFileOutcome& outcome);

class TWindowHost : public TConversionHost {
public:
    explicit TWindowHost(TForm1& window);
    ~TWindowHost() override;
    TWindowHost(const TWindowHost&) = delete;
    TWindowHost& operator=(const TWindowHost&) = delete;

    // Plans a conversion from the window's selection and options and starts it;
    // returns while the files convert. Nothing happens while a run goes on.
    void Start();
    // Stops a run still going and waits for its converters; the window calls it
    // before it goes away.
    void Shutdown();
    void SetMetafileHolder(TMetafileHolder* holder) { m_metafiles = holder; }

    int Jobs = 0;  // parallel conversions; 0: one per processor

    const QStringList& Failures() const { return m_failures; }
    int Attempted() const { return m_attempted; }

    int ItemCount() override;
    bool ItemSelected(int index) override;
    std::string ItemPath(int index) override;
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
    void ShowProgressText();
    void FinishRun();

    TForm1& m_window;
    QElapsedTimer m_clock;
    QTimer m_ticker;  // keeps the elapsed time moving between steps
    QStringList m_failures;
    int m_attempted = 0;
    TMetafileHolder* m_metafiles = nullptr;
    std::unique_ptr<TConversionPlan> m_plan;  // read by the converters while they run
    std::thread m_runner;
};

}  // namespace rastova
