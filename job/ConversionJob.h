// The conversion job: for every selected item, load, mirror, rotate, bring to
// the chosen colour resolution and save into the destination folder.
//
// It comes in three pieces, so that a window, the command line and a thread
// pool can all host it:
//   PlanConversion  - the start checks, questions and messages, the JPEG
//                     quality, and every item's output path; no file touched;
//   ConvertOneItem  - load, mirror, rotate, colour, save for one planned item,
//                     with its own images and settings; touches no host and no
//                     global;
//   runners         - RunSequential (the window's classic run, on the host's
//                     thread) and TParallelRunner / RunParallel (N items at once).
// TConversionJob::Convert() is PlanConversion followed by RunSequential.
#pragma once

#include "job/BatchSteps.h"
#include "job/JobChoices.h"
#include "job/OutputNames.h"
#include "image/PGSettings.h"
#include "image/PGraphic.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rastova {

// The appended extension of each target format, with the dot.
const char* TargetExtension(TTargetFormat targetFormat);
// The targets coded lossily: the host asks for their quality before a run
// (AskJpegQuality), which goes into the target's quality setting.
bool IsLossyTarget(TTargetFormat targetFormat);
void SetTargetQuality(TPGSettings& settings, TTargetFormat targetFormat, int quality);

// What a run does to every item. Hosts with more choices add fields here and
// read them in PlanConversion or ConvertOneItem.
struct TConversionOptions {
    std::string Destination;  // as typed; the job trims it
    TTargetFormat TargetFormat = tfBMP;
    TJobColorResolution ColorResolution = jcrTrueColor;
    TJobMirror Mirror = jmNone;
    TJobRotate Rotate = jrNone;
    // Batch choices beyond the window's; the defaults are the window's behaviour.
    TExistingPolicy Existing = epOverwrite;  // an output file that is already there
    bool KeepCase = false;                   // output names keep the source's case instead of lower case
    bool AutoOrient = false;                 // turn JPEGs upright by their EXIF orientation, before the mirror
    TFitBox Fit{};                           // after the rotation, before the colour step
    TResizeGeometry Resize{};                // after the rotation, before the fit
    // 2..256: an optimal palette of at most this many colours at the smallest
    // depth that holds it, in place of ColorResolution; 0: ColorResolution.
    int PaletteColors = 0;
    // An item whose output is its own source fails instead of replacing it.
    bool RefuseSelfOverwrite = false;
    // What loads and saves read; unset: the process-wide values when planned.
    std::optional<TPGSettings> Settings{};
    std::optional<TRGB> BackGroundColor{};   // behind transparent pixels when flattened; unset: the file's own, else black
    // Every TIFF page, GIF frame and icon entry an item of its own, written as
    // name-001.ext, name-002.ext, ...; false: the first (the default) only.
    bool AllFrames = false;
    TPGWarningAction ReadWarningAction = pgwaIgnore;  // pgwaOKBox and pgwaOKCancelBox report warnings through AddItemWarning
    // EXIF, XMP, IPTC and comments travel into targets that hold them; off strips
    // them and brings profiled pictures to sRGB.
    bool KeepMetadata = true;
    TJobQuantizer Quantizer = jqMedianCut;            // the palette of 16, 256 and N colours
};

// Plays Windows metafiles for the job; a host without a renderer leaves it out,
// and metafile items then fail to load.
class TMetafileHolder {
public:
    virtual ~TMetafileHolder() = default;
    virtual void LoadFromFile(const std::string& fileName) = 0;
    virtual int Width() const = 0;   // pixels
    virtual int Height() const = 0;  // pixels
    // Draws the metafile onto a bc24 bitmap with its top-left corner at (left, top).
    virtual void Draw(TPixelGraphic& bitmap, int left, int top) = 0;
};

enum TJobStep { jsLoad, jsMirror, jsRotate, jsColor, jsSave, jsOrient, jsFit, jsResize };

// What failed at a step, as hosts put it before the library's message: "cannot load", ...
const char* JobStepFailureText(TJobStep step);

// What became of one item, for hosts that report per file.
struct TFileOutcome {
    int ItemIndex = 0;
    std::string SourcePath;
    std::string OutputPath;
    bool Saved = false;          // the output file was written
    bool Failed = false;         // some step failed (a failed load or save also means not Saved as asked)
    TJobStep FailedStep = jsLoad;
    std::string Message;         // the library's message of the first failure, or why the item was refused
    bool Skipped = false;        // left alone as planned (TPlannedItem::Skip); nothing was read or written
    bool Stopped = false;        // a stop request ended it before its save
    std::vector<std::string> Warnings;  // the reader's warnings, when the options ask for them
    int Width = 0, Height = 0;          // of the image saved
    double Seconds = 0;                 // from the start of the load to the end of the save
};

// A stop request that may be set from any thread and read from any other.
// Copies take the current value. A host may also hold the run while it asks
// whether to stop: converters then start no item and write nothing, each
// waiting at its next step until the hold is released (after the stop request
// is set, when the answer is to stop).
class TStopFlag {
public:
    TStopFlag() = default;
    TStopFlag(bool value) : m_value(value) {}
    TStopFlag(const TStopFlag& other) : m_value(other.m_value.load()) {}
    TStopFlag& operator=(const TStopFlag& other)
    {
        m_value.store(other.m_value.load());
        return *this;
    }
    TStopFlag& operator=(bool value)
    {
        m_value.store(value);
        return *this;
    }
    operator bool() const { return m_value.load(); }

    void Hold() { m_held.store(true); }
    void Release()
    {
        m_held.store(false);
        m_held.notify_all();
    }
    bool Held() const { return m_held.load(); }
    // Returns once the run is not held.
    void WaitWhileHeld() const
    {
        while (m_held.load())
            m_held.wait(true);
    }

private:
    std::atomic<bool> m_value{false};
    std::atomic<bool> m_held{false};
};

class TConversionHost {
public:
    virtual ~TConversionHost() = default;

    // Run state kept on the host.
    bool Running = false;
    TStopFlag StopRequested;  // the only member another thread may touch during a run
    // The quality of the run's lossy target that AskJpegQuality asked for;
    // nullopt when the user cancelled (no run takes place). Left at 0, the
    // target's own default from the run's settings.
    std::optional<int> JpegQualityChoice = 0;

    virtual int ItemCount() = 0;
    virtual bool ItemSelected(int index) = 0;
    virtual std::string ItemPath(int index) = 0;
    // Folder below the destination that the item's output goes to ("" for the destination).
    virtual std::string ItemOutputFolder(int) { return ""; }
    virtual TConversionOptions Options() = 0;

    virtual void SetBusy(bool busy) = 0;
    virtual void SetProgress(int position) = 0;
    virtual void SetStopCaption(bool stop) = 0;
    virtual void Pump() = 0;
    virtual void Inform(const std::string& text) = 0;
    virtual bool Confirm(const std::string& text) = 0;
    virtual void FocusDestination() = 0;
    virtual void AskJpegQuality() = 0;
    virtual TMetafileHolder* MetafileHolder() { return nullptr; }
    // Called once per item that was attempted; window hosts may ignore it.
    virtual void FileDone(const TFileOutcome&) {}
};

// ---- plan ---------------------------------------------------------------------------

struct TPlannedItem {
    int ItemIndex = 0;        // in the host's list
    std::string SourcePath;
    std::string Extension;    // of the source, lower case with the dot; empty when none
    std::string OutputPath;
    // A host policy (for example "keep existing files") may mark items to be
    // left alone; they are reported as Skipped.
    bool Skip = false;
    // Not empty: the item must not be written, and fails with this text.
    std::string Refusal;
    int ImageIndex = 0;       // the page, frame or icon entry loaded
    // Under rename: OutputPath before numbering, and the number planned (0 for
    // none). Another program may take the name before the item is saved; the
    // save then moves on to the next number free at that moment.
    std::string UnnumberedPath;
    int Number = 0;
};

struct TConversionPlan {
    TConversionOptions Options;
    std::string Destination;           // trimmed
    // Everything loads and saves read, fixed for the whole run; JPEGQuality is
    // the quality chosen for this run.
    TPGSettings Settings;
    std::vector<TPlannedItem> Items;   // the selected items, in list order
    int ListCount = 0;                 // the host's item count when planned
};

// The start of a run: SetBusy(true), the checks with their questions and
// messages, the JPEG quality. nullopt when no run takes place; the host has
// then been told and set idle again. Runs on the host's thread.
std::optional<TConversionPlan> PlanConversion(TConversionHost& host);

// Marks items whose output would destroy data of the same run: an output that
// an earlier item already writes, or that is another item's source. The first
// item in list order keeps its name; an item converted onto itself is allowed.
// PlanConversion calls it; a host that changes output paths calls it again.
void RefuseCollisions(TConversionPlan& plan);

// ---- one item -------------------------------------------------------------------------

// The two working images of one converter; steps alternate between them.
struct TWorkImages {
    TWorkImages();
    TPixelGraphic Images[2];
};

// Hears about one item's course. Called on the thread that converts it.
class TItemObserver {
public:
    virtual ~TItemObserver() = default;
    // Between two steps; a window host lets its events through here.
    virtual void Pump() {}
    // The file is loaded and mirrored: the first third of the item is done.
    virtual void Loaded() {}
    // Rotation is done: the second third. The runner accounts for the last.
    virtual void Rotated() {}
};

// Where metafile items are played; Lock, when given, is held around each use,
// so several converters can share one holder.
struct TMetafileAccess {
    TMetafileHolder* Holder = nullptr;
    std::mutex* Lock = nullptr;
};

// Converts one planned item. Stop is tested after the mirror, after the
// rotation and before the save, each time after waiting out a hold; a stop
// ends the item after the step in hand (Stopped). Skipped and refused items are answered without touching a file.
TFileOutcome ConvertOneItem(const TConversionPlan& plan, const TPlannedItem& item, TWorkImages& work,
                            const TStopFlag& stop, TItemObserver& observer, TMetafileAccess metafiles = {});

// A host's question function calls this with a reader's warning; it lands in
// the outcome of the item the calling thread converts. False outside an item.
bool AddItemWarning(const std::string& text);

// ---- runners --------------------------------------------------------------------------

// The start and the end of every run, whichever runner converts the files.
// BeginRun: progress 0, the stop request cleared, Running, the Stop caption.
// EndRun: idle again, the end message (shown while Running still holds), then
// progress 0, not Running, the Close caption.
void BeginRun(TConversionHost& host);
void EndRun(TConversionHost& host);
// "The conversion is complete!" or, after a stop, "The conversion was interrupted by user."
const char* EndOfRunText(bool stopped);

// The classic run on the host's thread: progress in thirds of an item, every
// host callback, stop tests between the steps, the end-of-run message.
void RunSequential(TConversionHost& host, const TConversionPlan& plan);

// Receives a parallel run's reports. Every call comes on the thread that called
// TParallelRunner::Run, one at a time, never from the worker threads.
class TRunObserver {
public:
    virtual ~TRunObserver() = default;
    // Whole-run position 0..100: completed thirds over all thirds, ties to even.
    virtual void Progress(int) {}
    // Per item, in the order items complete. Items never started are not reported.
    virtual void FileDone(const TFileOutcome&) {}
    // About every Interval while items run; a host may let events through or
    // set the stop flag here.
    virtual void Idle() {}
};

// Converts up to Threads items at once. A stop request lets no new item start;
// running items end after their current step. While the stop flag is held no
// item starts and running items wait after their current step. Writes the same files as the
// sequential run.
class TParallelRunner {
public:
    TParallelRunner(const TConversionPlan& plan, int threads, TMetafileHolder* metafiles = nullptr);
    // Returns when every started item has ended. True when a stop ended the run.
    bool Run(TRunObserver& observer, const TStopFlag& stop);
    int IdleIntervalMs = 50;

private:
    const TConversionPlan& m_plan;
    int m_threads;
    TMetafileHolder* m_metafiles;
};

// RunSequential's host protocol around a TParallelRunner: the same start and
// end calls and messages, with Pump, SetProgress and FileDone on the calling thread.
void RunParallel(TConversionHost& host, const TConversionPlan& plan, int threads);

class TConversionJob {
public:
    explicit TConversionJob(TConversionHost& host) : m_host(host) {}
    // PlanConversion, then RunSequential.
    void Convert();

private:
    TConversionHost& m_host;
};

// The pages, frames or icon entries of a file (TIFF pages all counted); 1 when
// the file cannot be described.
int FrameCount(const std::string& path, const TPGSettings& settings);

// path with "-NNN" (number, three digits at least) before its extension: the
// name of one frame under AllFrames. (OutputNames.h's NumberedPath gives "-N".)
std::string FramePath(const std::string& path, int number);

// Names of one item: the output path in the destination folder.
std::string OutputPathFor(const std::string& sourcePath, const std::string& destination, TTargetFormat targetFormat);
// Trims blanks and control characters from both ends.
std::string TrimBlanks(const std::string& text);
// Lower case in ASCII only, so UTF-8 names are never broken.
std::string LowerAscii(std::string text);

}  // namespace rastova
