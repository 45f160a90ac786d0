// The main window as a value: the options the user chose and the state of the
// run, with what the controls show derived from them. The host and the window
// read and write this; the widgets only show it and report edits, so the
// window's behaviour can be checked without a display (no Qt Widgets here).
#pragma once

#include "gui/Settings.h"
#include "job/BatchInputs.h"
#include "job/ConversionJob.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace rastova {

// Everything on the options side of the window. A new control adds a field
// here, its key in TSettings, a line in each of OptionsFromSettings,
// StoreOptions and JobOptions, and the widget that shows it.
struct TWindowOptions {
    QString Destination;  // as typed; the job trims it
    TTargetFormat TargetFormat = tfBMP;
    TJobColorResolution ColorResolution = jcrTrueColor;
    TJobMirror Mirror = jmNone;
    TJobRotate Rotate = jrNone;
    int JpegQuality = 75;  // the quality dialog's position, offered at the next JPG run
    // The batch's choices, as the command line has them.
    bool FitWithin = false;  // scale down into FitWidth x FitHeight pixels, keeping the ratio
    int FitWidth = 1920, FitHeight = 1080;
    bool AutoRotate = false;  // upright by the EXIF orientation
    TExistingPolicy Existing = epOverwrite;
    bool IncludeSubfolders = false;  // selected folders convert with their trees
    QString Background;              // "#rrggbb" behind transparent pixels; empty: the picture's own
    bool KeepMetadata = true;        // off: EXIF, XMP, IPTC and comments stripped, profiles to sRGB
    bool BestPalette = false;        // 16 and 256 colours from the best palette

    bool operator==(const TWindowOptions&) const = default;
};

TWindowOptions OptionsFromSettings(const TSettings& settings);
// Writes the options' keys; the others (paths of the file side, the window's place) stay.
void StoreOptions(const TWindowOptions& options, TSettings& settings);
// A preset over the options: what it stores replaces, the rest stays. nullopt
// when the settings file has no preset of that name.
std::optional<TWindowOptions> PresetOptions(const QString& iniFileName, const QString& name,
                                            const TWindowOptions& current);
void SavePreset(const QString& iniFileName, const QString& name, const TWindowOptions& options);

// What a run of the window does to every file.
TConversionOptions JobOptions(const TWindowOptions& options);

// The items of a run from the list's selection, in list order: files as they
// are; with includeSubfolders, every image file under a selected folder, its
// output in the same place under the destination (below a folder of the
// selected folder's name) as it is under the source.
std::vector<TBatchInput> RunItems(const std::vector<std::string>& selected, bool includeSubfolders);

// The counts of a run, for its end texts.
struct TRunTally {
    int Attempted = 0;  // items not skipped: converted, failed or stopped
    int Converted = 0;
    int Skipped = 0;
    QStringList Failures;       // one FailureLine each
    std::vector<TFileOutcome> Failed;  // the outcomes behind them
};

// One line of the failure list: the file and what went wrong with it.
QString FailureLine(const TFileOutcome& outcome);

// The end box: the job's end message and, after failures, how many (Text);
// the counts and where the files went; the failures in full (for Copy) and in
// short, named relative to the source folder.
struct TEndReport {
    QString Text;
    QString Counts;       // "N converted, S skipped, F failed"
    QString Destination;
    QStringList Failures;
    QStringList ShortFailures;
};
TEndReport EndReport(const std::string& jobMessage, const TRunTally& tally, const QString& destination = {},
                     const QString& sourceFolder = {});
// "photos/a.bmp: cannot load (not a BMP file)": the file below the source
// folder and the step, with the library's message cut to its first line.
QString ShortFailureLine(const TFileOutcome& outcome, const QString& sourceFolder);

// "m:ss", or "h:mm:ss" from an hour on.
QString DurationText(qint64 milliseconds);
// The progress bar's text while a run goes on: position, time spent and an
// estimate of the time left (none before the first step is done).
QString ProgressText(int position, qint64 elapsedMs);

enum class TStartAction { Plan, Ignore };          // what Start does
enum class TCloseAction { Close, AskToStop };      // what Close, Exit and the title-bar close do

class TWindowModel {
public:
    TWindowOptions Options;
    int Jobs = 0;  // parallel conversions; 0: one per processor

    // The run, as the job's host reports it.
    void SetBusy(bool busy) { m_busy = busy; }
    // The files start converting (running) or the run is over (not running);
    // elapsedMs is the run's clock at that moment.
    void SetRunning(bool running, qint64 elapsedMs);
    // The last file is done or the run was stopped: the clock stands still from
    // here, while the end box is still open.
    void StopClock(qint64 elapsedMs);
    void SetProgress(int position) { m_position = position; }
    void FileDone(const TFileOutcome& outcome);
    const TRunTally& Tally() const { return m_tally; }

    bool Busy() const { return m_busy; }
    bool Running() const { return m_running; }
    int Position() const { return m_position; }
    TStartAction StartAction() const { return m_busy || m_running ? TStartAction::Ignore : TStartAction::Plan; }
    TCloseAction CloseAction() const { return m_running ? TCloseAction::AskToStop : TCloseAction::Close; }

    // What the controls show.
    bool OptionsEnabled() const { return !m_busy; }
    QString StopCaption() const { return m_running ? "Stop" : "Close"; }
    // The bar's format: the running clock while files convert, frozen once the
    // clock stopped; after a run the time it took; "%p%" before the first run.
    QString ProgressFormat(qint64 elapsedMs) const;

private:
    bool m_busy = false;
    bool m_running = false;
    int m_position = 0;
    std::optional<qint64> m_finalMs;  // how long the last run took
    TRunTally m_tally;
};

}  // namespace rastova
