#include "job/ConversionJob.h"
#include "job/MetadataSteps.h"

#include "formats/JpegExif.h"
#include "formats/Register.h"
#include "image/FileFormats.h"
#include "image/BestPalette.h"
#include "image/PGExceptions.h"
#include "image/PGraphic.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <iterator>
#include <cstdio>
#include <map>
#include <memory>
#include <system_error>
#include <thread>

namespace rastova {

namespace {

int NearestEven(double value)
{
    return int(std::nearbyint(value));  // halves go to the even neighbour
}

std::string FailureText(const std::exception& e)
{
    return e.what();
}

}  // namespace

const char* TargetExtension(TTargetFormat targetFormat)
{
    static const char* const kExtensions[kTargetFormatCount] = {".bmp", ".jpg", ".pbm",  ".pgm",  ".png",  ".ppm",
                                                                ".tga", ".tif", ".webp", ".avif", ".heic", ".jxl"};
    return targetFormat >= 0 && targetFormat < kTargetFormatCount ? kExtensions[targetFormat] : ".bmp";
}

bool IsLossyTarget(TTargetFormat targetFormat)
{
    return targetFormat == tfJPG || targetFormat == tfWEBP || targetFormat == tfAVIF || targetFormat == tfHEIC ||
           targetFormat == tfJXL;
}

void SetTargetQuality(TPGSettings& settings, TTargetFormat targetFormat, int quality)
{
    switch (targetFormat) {
    case tfJPG: settings.JPEGQuality = quality; break;
    case tfWEBP: settings.WebPQuality = quality; break;
    case tfAVIF: settings.AVIFQuality = quality; break;
    case tfHEIC: settings.HEICQuality = quality; break;
    case tfJXL: settings.JXLQuality = quality; break;
    default: break;
    }
}

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::string TrimBlanks(const std::string& text)
{
    std::size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

namespace {

// Skip and rename are decided here, in list order, so parallel items never
// race for a name and every run names alike.
void ApplyExistingPolicy(TConversionPlan& plan)
{
    if (plan.Options.Existing == epOverwrite)
        return;
    std::vector<std::string> sources, outputs;
    for (const TPlannedItem& item : plan.Items) {
        sources.push_back(item.SourcePath);
        outputs.push_back(item.OutputPath);
    }
    const std::vector<TPlannedOutput> planned = PlanOutputs(sources, outputs, plan.Options.Existing, PathIsTaken);
    for (std::size_t i = 0; i < planned.size(); ++i) {
        plan.Items[i].UnnumberedPath = plan.Items[i].OutputPath;
        plan.Items[i].OutputPath = planned[i].Path;
        plan.Items[i].Skip = planned[i].Skip;
        plan.Items[i].Number = planned[i].Number;
    }
}

// The warnings of the item the thread converts.
thread_local std::vector<std::string>* t_itemWarnings = nullptr;

class TItemWarnings {
public:
    explicit TItemWarnings(std::vector<std::string>& warnings) : m_previous(t_itemWarnings)
    {
        t_itemWarnings = &warnings;
    }
    ~TItemWarnings() { t_itemWarnings = m_previous; }
    TItemWarnings(const TItemWarnings&) = delete;
    TItemWarnings& operator=(const TItemWarnings&) = delete;

private:
    std::vector<std::string>* m_previous;
};

}  // namespace

bool AddItemWarning(const std::string& text)
{
    if (!t_itemWarnings)
        return false;
    t_itemWarnings->push_back(text);
    return true;
}

const char* JobStepFailureText(TJobStep step)
{
    static const char* const kTexts[] = {"cannot load", "cannot mirror",       "cannot rotate", "cannot convert colours",
                                         "cannot save", "cannot turn upright", "cannot fit",    "cannot resize"};
    const auto index = std::size_t(step);
    return index < std::size(kTexts) ? kTexts[index] : "cannot convert";
}

std::string OutputPathFor(const std::string& sourcePath, const std::string& destination, TTargetFormat targetFormat)
{
    return JoinedPath(destination, OutputNameFor(sourcePath, TargetExtension(targetFormat), false));
}

// ---- plan ---------------------------------------------------------------------------

namespace {

// The checks of the start of a run, up to the JPEG quality. False when no run
// takes place; the host has then been told and set idle.
bool StartChecks(TConversionHost& host, const TConversionOptions& options, TConversionPlan& plan)
{
    const auto endQuietly = [&host] {
        host.SetBusy(false);
        host.Pump();
    };
    int selected = 0;
    const int count = host.ItemCount();
    for (int i = 0; i < count; ++i)
        if (host.ItemSelected(i))
            ++selected;
    if (selected == 0) {
        endQuietly();
        host.Inform("No files are selected!");
        return false;
    }
    plan.Destination = TrimBlanks(options.Destination);
    const std::string& destination = plan.Destination;
    if (destination.empty()) {
        endQuietly();
        host.Inform("Please, fill destination path.");
        host.FocusDestination();
        return false;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(destination, error)) {
        if (!host.Confirm("Directory " + destination + " does not exist. Create?")) {
            endQuietly();
            return false;
        }
        // One level only: a missing parent makes this fail.
        if (!std::filesystem::create_directory(destination, error) || error) {
            endQuietly();
            host.Inform("Can not create directory " + destination);
            return false;
        }
    }
    if (IsLossyTarget(options.TargetFormat)) {
        host.AskJpegQuality();
        // The choice applies to this run only; the process-wide default stays.
        if (host.JpegQualityChoice && *host.JpegQualityChoice > 0)
            SetTargetQuality(plan.Settings, options.TargetFormat, *host.JpegQualityChoice);
        host.Pump();
        if (!host.JpegQualityChoice) {
            endQuietly();
            host.Inform(EndOfRunText(true));
            return false;
        }
    }
    return true;
}

}  // namespace

int FrameCount(const std::string& path, const TPGSettings& settings)
{
    TPGSettings counting = settings;
    counting.TIFFScanAllIFDs = true;
    TSettingsScope scope(counting);
    TFileInfo info;
    if (!GetFileInfo(path, 0, info))
        return 1;
    // The animation readers give the first frame only so far: their later frames
    // would be items that can only fail.
    if (info.FormatDescription == "WebP" || info.FormatDescription == "JPEG XL")
        return 1;
    return std::max(info.ImageCount, 1);
}

std::string FramePath(const std::string& path, int number)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const std::size_t at = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? path.size() : dot;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%03d", number);
    return path.substr(0, at) + suffix + path.substr(at);
}

namespace {

// With AllFrames, a file of several pages, frames or icon entries becomes one
// item per image, each with its numbered output name.
void AddPlannedItem(TConversionPlan& plan, TPlannedItem item)
{
    const bool metafile = item.Extension == ".wmf" || item.Extension == ".emf";
    const int count = plan.Options.AllFrames && !metafile ? FrameCount(item.SourcePath, plan.Settings) : 1;
    if (count == 1) {
        plan.Items.push_back(std::move(item));
        return;
    }
    for (int index = 0; index < count; ++index) {
        TPlannedItem frame = item;
        frame.ImageIndex = index;
        frame.OutputPath = FramePath(item.OutputPath, index + 1);
        plan.Items.push_back(std::move(frame));
    }
}

}  // namespace

std::optional<TConversionPlan> PlanConversion(TConversionHost& host)
{
    host.SetBusy(true);
    host.Pump();
    TConversionPlan plan;
    plan.Options = host.Options();
    plan.Settings = plan.Options.Settings ? *plan.Options.Settings : DefaultSettings();
    // Later TIFF pages can only be read with the whole chain walked.
    if (plan.Options.AllFrames)
        plan.Settings.TIFFScanAllIFDs = true;
    // The user's background wins over the one a file brings along.
    if (plan.Options.BackGroundColor)
        plan.Settings.PNGUseFileBackground = false;
    // PNG data in blocks: one picture at a time compresses on every processor,
    // and a batch writes the same bytes with one thread per item.
    plan.Settings.PNGBlockCompression = true;
    if (!StartChecks(host, plan.Options, plan))
        return std::nullopt;
    plan.ListCount = host.ItemCount();
    for (int index = 0; index < plan.ListCount; ++index) {
        if (!host.ItemSelected(index))
            continue;
        TPlannedItem item;
        item.ItemIndex = index;
        item.SourcePath = host.ItemPath(index);
        item.Extension = SourceExtension(item.SourcePath);
        item.OutputPath = JoinedPath(JoinedPath(plan.Destination, host.ItemOutputFolder(index)),
                                     OutputNameFor(item.SourcePath, TargetExtension(plan.Options.TargetFormat),
                                                   plan.Options.KeepCase));
        AddPlannedItem(plan, std::move(item));
    }
    ApplyExistingPolicy(plan);
    RefuseCollisions(plan);
    return plan;
}

void RefuseCollisions(TConversionPlan& plan)
{
    std::map<std::string, const TPlannedItem*> sources;
    for (const TPlannedItem& item : plan.Items)
        sources.emplace(PathKey(item.SourcePath), &item);
    std::map<std::string, const TPlannedItem*> outputs;
    for (TPlannedItem& item : plan.Items) {
        if (item.Skip || !item.Refusal.empty())
            continue;
        const std::string key = PathKey(item.OutputPath);
        const auto source = sources.find(key);
        if (source != sources.end() && PathKey(item.SourcePath) == key && plan.Options.RefuseSelfOverwrite) {
            item.Refusal = kSelfOverwriteRefusal;
            continue;
        }
        if (source != sources.end() && PathKey(item.SourcePath) != key) {
            item.Refusal = "Not written: " + item.OutputPath + " is the source file " +
                           source->second->SourcePath + " of this run";
            continue;
        }
        const auto [output, added] = outputs.emplace(key, &item);
        if (!added)
            item.Refusal = "Not written: " + item.OutputPath + " is already the output of " +
                           output->second->SourcePath;
    }
}

// ---- one item -------------------------------------------------------------------------

TWorkImages::TWorkImages()
{
    // A batch never asks questions: neither loading nor saving shows a dialog.
    for (TPixelGraphic& image : Images) {
        image.SetReadWarningAction(pgwaIgnore);
        image.SetSaveColorResWarningAction(pgwaIgnore);
    }
}

namespace {

void LoadMetafile(TMetafileAccess access, const std::string& path, TPixelGraphic& target,
                  const TPGSettings& settings)
{
    if (!access.Holder)
        throw EPixelGraphic("No metafile renderer is installed");
    std::unique_lock<std::mutex> lock;
    if (access.Lock)
        lock = std::unique_lock(*access.Lock);
    TMetafileHolder& holder = *access.Holder;
    holder.LoadFromFile(path);
    const int width = holder.Width();
    const int height = holder.Height();
    TPixelGraphic bitmap;
    bitmap.SetSize(width, height, bc24);
    // The picture starts one pixel in, so its top row and left column keep the
    // bitmap's background.
    holder.Draw(bitmap, 1, 1);
    lock = {};
    bitmap.SetGamma(settings.DisplayGamma);
    bitmap.DetectPaletteIdent();
    target.SetSize(width, height, bc8);
    target.SetPaletteIdent(pSpecial252);
    target.CopyFrom(bitmap);
}

void Rotate(TPixelGraphic& source, TPixelGraphic& target, TJobRotate option)
{
    const int w = source.Width(), h = source.Height();
    switch (option) {
    case jr180: {
        const int ew = w % 2 == 0 ? 1 : 0;
        const int eh = h % 2 == 0 ? 1 : 0;
        PrepareGeometryTarget(source, target, w, h);
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, w / 2 - ew, h / 2 - eh, 180);
        break;
    }
    case jrLeft: RotateQuarter(source, target, false); break;
    case jrRight: RotateQuarter(source, target, true); break;
    default: break;
    }
}

// An optimal palette of at most colors entries, none reserved, at the smallest depth that holds it.
void ConvertToPalette(TPixelGraphic& source, TPixelGraphic& target, int colors, TJobQuantizer quantizer)
{
    target.SetSize(source.Width(), source.Height(), colors <= 2 ? bc1 : colors <= 16 ? bc4 : bc8);
    if (quantizer == jqBest) {
        source.FlattenAlpha();  // the best palette reads colours only, as CopyFrom flattens
        CreateBestPalette(target, source, colors);
        DitherToBestPalette(source, target);
        return;
    }
    target.CreateOptimalPalette(source, colors, false);
    target.CopyFrom(source);
}

void ConvertColor(TPixelGraphic& source, TPixelGraphic& target, TJobColorResolution option, TJobQuantizer quantizer)
{
    static constexpr TBitCount kFormats[5] = {bc1, bc4, bc8, bc8, bc24};
    // A value from outside the list (a library caller's) is true colour, as the switch below treats it.
    TBitCount format = unsigned(option) < std::size(kFormats) ? kFormats[option] : bc24;
    // True colour keeps alpha; the palette resolutions flatten it onto the background.
    if (format == bc24 && source.HasAlpha())
        format = bc32;
    target.SetSize(source.Width(), source.Height(), format);
    if (source.IsTrueColorFormat() && target.IsTrueColorFormat())
        target.SetBackGroundColor(source.GetBackGroundColor());
    if (quantizer == jqBest && (option == jcr16Colors || option == jcr256Colors)) {
        source.FlattenAlpha();
        CreateBestPalette(target, source, option == jcr16Colors ? 16 : 256);
        DitherToBestPalette(source, target);
        return;
    }
    switch (option) {
    case jcr2Colors: target.SetPaletteIdent(pBlackWhite); break;
    // 16 colours with the 16 system colours reserved leaves no room for
    // optimised ones: the palette is exactly pSys16.
    case jcr16Colors: target.CreateOptimalPalette(source, 16, true); break;
    case jcr256Colors: target.CreateOptimalPalette(source, 256, true); break;
    case jcrGray8: target.SetPaletteIdent(pGray256); break;
    default: target.SetPaletteIdent(pTrueColor); break;
    }
    target.CopyFrom(source);
}

// True for items answered without being read: skipped or refused.
bool LeftAlone(const TPlannedItem& item)
{
    return item.Skip || !item.Refusal.empty();
}

}  // namespace

namespace {

// One item on its way through the steps: the image it is in now, the other one
// of the pair, and the outcome the first failing step writes its message into.
struct TItemRun {
    TFileOutcome& outcome;
    TPixelGraphic* current;
    TPixelGraphic* other;

    void Fail(TJobStep step, const std::string& message)
    {
        if (!outcome.Failed) {
            outcome.Failed = true;
            outcome.FailedStep = step;
            outcome.Message = message;
        }
    }
    // A failing step is noted; the item goes on with the next one.
    template <typename TStep>
    bool Try(TJobStep step, TStep&& body)
    {
        try {
            body();
            return true;
        } catch (const std::exception& e) {
            Fail(step, FailureText(e));
            return false;
        } catch (...) {
            // Still this step's failure: a save that throws something odd is "cannot save".
            Fail(step, "Unexpected failure");
            return false;
        }
    }
    void Swap() { std::swap(current, other); }
};

bool LoadItem(TItemRun& run, const TConversionPlan& plan, const TPlannedItem& item, TMetafileAccess metafiles)
{
    const TConversionOptions& options = plan.Options;
    run.current->SetReadWarningAction(options.ReadWarningAction);
    // Every item starts from the run's background: what a reader set on the
    // images for the item before (a bKGD, a palette index) must not reach this one.
    for (TPixelGraphic* image : {run.current, run.other}) {
        image->SetSize(0, 0, bc24);
        image->SetBackGroundColor(options.BackGroundColor.value_or(0));
        image->SetTransparent(false);
    }
    return run.Try(jsLoad, [&] {
        if (item.Extension == ".wmf" || item.Extension == ".emf")
            LoadMetafile(metafiles, item.SourcePath, *run.current, plan.Settings);
        else
            run.current->LoadFromFileIndex(item.SourcePath, item.ImageIndex, plan.Settings);
    });
}

void OrientAndMirror(TItemRun& run, const TConversionOptions& options, const std::string& sourcePath,
                     TImageMetadata& metadata)
{
    // The tag of any format that has one; a JPEG whose EXIF block did not survive
    // the reader may still have a readable orientation.
    if (options.AutoOrient && run.Try(jsOrient, [&] {
            const int tagged = ExifOrientation(metadata.Exif);
            ApplyOrientation(run.current, run.other,
                             tagged != 0 ? TExifOrientation(tagged) : ReadJpegOrientationOfFile(sourcePath));
        }))
        MarkTurnedUpright(metadata);
    run.Try(jsMirror, [&] {
        if (options.Mirror == jmVertical)
            run.current->MirrorVertical();
        else if (options.Mirror == jmHorizontal)
            run.current->MirrorHorizontal();
    });
}

void RotateAndFit(TItemRun& run, const TConversionOptions& options)
{
    if (options.Rotate != jrNone)
        run.Try(jsRotate, [&] {
            Rotate(*run.current, *run.other, options.Rotate);
            run.Swap();
        });
    if (options.Resize.Active())
        run.Try(jsResize, [&] {
            if (ResizeImage(*run.current, *run.other, options.Resize))
                run.Swap();
        });
    if (options.Fit.Active())
        run.Try(jsFit, [&] {
            if (FitImage(*run.current, *run.other, options.Fit))
                run.Swap();
        });
}

// Names for a save that must not replace anything: the planned one, then under
// rename the numbers after it.
std::string CandidateName(const TPlannedItem& item, TExistingPolicy policy, int attempt)
{
    constexpr int kMaxAttempts = 100000;
    if (attempt == 0)
        return item.OutputPath;
    if (policy != epRename || attempt > kMaxAttempts)
        return "";
    return NumberedPath(item.UnnumberedPath, item.Number + attempt);
}

// Under skip and rename a file that appeared since the run was planned (another
// program writing into the same folder) is never replaced.
void SaveItem(TItemRun& run, const TConversionPlan& plan, const TPlannedItem& item)
{
    const TExistingPolicy policy = plan.Options.Existing;
    run.Try(jsSave, [&] {
        if (policy == epOverwrite) {
            run.current->SaveToFile(item.OutputPath, plan.Settings);
        } else {
            const auto candidate = [&](int attempt) { return CandidateName(item, policy, attempt); };
            run.outcome.OutputPath = SaveToNewFile(*run.current, candidate, plan.Settings, BuiltInFormats());
            if (run.outcome.OutputPath.empty()) {
                run.outcome.OutputPath = item.OutputPath;
                if (policy == epSkip) {
                    run.outcome.Skipped = true;
                    return;
                }
                throw EPixelGraphic("no free name for " + item.OutputPath);
            }
        }
        run.outcome.Saved = true;
        run.outcome.Width = run.current->Width();
        run.outcome.Height = run.current->Height();
    });
}

// Between steps: a stop request ends the item here.
bool StopsHere(const TStopFlag& stop, TFileOutcome& outcome)
{
    stop.WaitWhileHeld();
    if (!stop)
        return false;
    outcome.Stopped = true;
    return true;
}

}  // namespace

TFileOutcome ConvertOneItem(const TConversionPlan& plan, const TPlannedItem& item, TWorkImages& work,
                            const TStopFlag& stop, TItemObserver& observer, TMetafileAccess metafiles)
{
    TFileOutcome outcome;
    outcome.ItemIndex = item.ItemIndex;
    outcome.SourcePath = item.SourcePath;
    outcome.OutputPath = item.OutputPath;
    TItemRun run{outcome, &work.Images[0], &work.Images[1]};
    if (item.Skip) {
        outcome.Skipped = true;
        return outcome;
    }
    if (!item.Refusal.empty()) {
        run.Fail(jsSave, item.Refusal);
        return outcome;
    }

    const auto started = std::chrono::steady_clock::now();
    TItemWarnings warnings(outcome.Warnings);
    if (!LoadItem(run, plan, item, metafiles))
        return outcome;
    TImageMetadata metadata = TakeMetadata(*run.current);
    observer.Pump();
    OrientAndMirror(run, plan.Options, item.SourcePath, metadata);
    observer.Loaded();
    if (StopsHere(stop, outcome))
        return outcome;
    observer.Pump();
    RotateAndFit(run, plan.Options);
    observer.Rotated();
    if (StopsHere(stop, outcome))
        return outcome;
    run.Try(jsColor, [&] {
        PrepareMetadata(*run.current, metadata, plan.Options.KeepMetadata, TargetCarriesProfile(item.OutputPath));
        if (plan.Options.PaletteColors > 0)
            ConvertToPalette(*run.current, *run.other, plan.Options.PaletteColors, plan.Options.Quantizer);
        else
            ConvertColor(*run.current, *run.other, plan.Options.ColorResolution, plan.Options.Quantizer);
        run.Swap();
    });
    observer.Pump();
    if (StopsHere(stop, outcome))
        return outcome;
    // An item either succeeds and writes, or fails and writes nothing.
    if (outcome.Failed)
        return outcome;
    run.current->SetMetadata(std::move(metadata));
    SaveItem(run, plan, item);
    outcome.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return outcome;
}

// ---- runners --------------------------------------------------------------------------

const char* EndOfRunText(bool stopped)
{
    return stopped ? "The conversion was interrupted by user." : "The conversion is complete!";
}

void BeginRun(TConversionHost& host)
{
    host.SetProgress(0);
    host.StopRequested = false;
    host.Running = true;
    host.SetStopCaption(true);
}

void EndRun(TConversionHost& host)
{
    host.SetBusy(false);
    host.Pump();
    host.Inform(EndOfRunText(host.StopRequested));
    host.SetProgress(0);
    host.Running = false;
    host.SetStopCaption(false);
}

namespace {

// Progress of the sequential run: a third of an item per step, shown at once.
class TSequentialProgress : public TItemObserver {
public:
    TSequentialProgress(TConversionHost& host, double step) : m_host(host), m_step(step) {}
    void Pump() override { m_host.Pump(); }
    void Rotated() override { Advance(); }
    // One step on, with a chance for events. True when a stop was requested.
    bool Advance()
    {
        m_accumulator += m_step;
        m_host.SetProgress(NearestEven(m_accumulator));
        m_host.Pump();
        return m_host.StopRequested;
    }
    // Steps an item did not take, so the bar still ends at 100.
    void Skip(int steps)
    {
        m_accumulator += steps * m_step;
        m_host.SetProgress(NearestEven(m_accumulator));
    }

private:
    TConversionHost& m_host;
    double m_step;
    double m_accumulator = 0;
};

}  // namespace

void RunSequential(TConversionHost& host, const TConversionPlan& plan)
{
    TSequentialProgress progress(host, 100.0 / (3.0 * double(std::max<std::size_t>(plan.Items.size(), 1))));
    auto work = std::make_unique<TWorkImages>();
    BeginRun(host);
    const TMetafileAccess metafiles{host.MetafileHolder(), nullptr};

    std::size_t next = 0;  // the first planned item not yet passed
    for (int index = 0; index < plan.ListCount && !host.StopRequested; ++index) {
        host.Pump();
        // The host's list may shrink while events are processed; stop at its end.
        if (index >= host.ItemCount())
            break;
        while (next < plan.Items.size() && plan.Items[next].ItemIndex < index)
            ++next;
        if (!host.ItemSelected(index) || next == plan.Items.size() || plan.Items[next].ItemIndex != index)
            continue;
        const TPlannedItem& item = plan.Items[next];

        if (progress.Advance())
            break;
        const TFileOutcome outcome = ConvertOneItem(plan, item, *work, host.StopRequested, progress, metafiles);
        host.FileDone(outcome);
        if (LeftAlone(item) || (outcome.Failed && outcome.FailedStep == jsLoad))
            progress.Skip(2);
        else if (!outcome.Stopped)
            progress.Advance();
    }

    host.Pump();
    work.reset();
    EndRun(host);
}

namespace {

// What the workers of a parallel run share with the thread that reports.
struct TParallelState {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<TFileOutcome> finished;
    std::size_t next = 0;     // the next item to start
    long thirdsDone = 0;      // completed thirds of all items
    int workersLeft = 0;
    bool abandon = false;     // the reporting thread failed: start nothing more

    void AddThirds(long thirds)
    {
        {
            std::lock_guard lock(mutex);
            thirdsDone += thirds;
        }
        changed.notify_one();
    }
};

class TParallelProgress : public TItemObserver {
public:
    explicit TParallelProgress(TParallelState& state) : m_state(state) {}
    void Loaded() override { Credit(); }
    void Rotated() override { Credit(); }
    int Credited() const { return m_credited; }

private:
    void Credit()
    {
        ++m_credited;
        m_state.AddThirds(1);
    }
    TParallelState& m_state;
    int m_credited = 0;
};

// The next item for a worker; false when the run is over for it.
bool TakeNext(TParallelState& state, const TStopFlag& stop, std::size_t count, std::size_t& index)
{
    stop.WaitWhileHeld();
    std::lock_guard lock(state.mutex);
    if (stop || state.abandon || state.next >= count)
        return false;
    index = state.next++;
    return true;
}

// A failure the item's steps did not catch ends that item only.
TFileOutcome ConvertGuarded(const TConversionPlan& plan, const TPlannedItem& item, TWorkImages& images,
                            const TStopFlag& stop, TParallelProgress& progress, TMetafileAccess metafiles)
{
    try {
        return ConvertOneItem(plan, item, images, stop, progress, metafiles);
    } catch (...) {
        TFileOutcome outcome;
        outcome.ItemIndex = item.ItemIndex;
        outcome.SourcePath = item.SourcePath;
        outcome.OutputPath = item.OutputPath;
        outcome.Failed = true;
        outcome.Message = "Unexpected failure";
        return outcome;
    }
}

// One worker thread: items one after the other until none is left or the run stops.
void WorkThrough(const TConversionPlan& plan, TParallelState& state, const TStopFlag& stop, TMetafileAccess metafiles)
{
    TWorkImages images;
    std::size_t index = 0;
    while (TakeNext(state, stop, plan.Items.size(), index)) {
        TParallelProgress progress(state);
        TFileOutcome outcome = ConvertGuarded(plan, plan.Items[index], images, stop, progress, metafiles);
        {
            std::lock_guard lock(state.mutex);
            if (!outcome.Stopped)
                state.thirdsDone += 3 - progress.Credited();
            state.finished.push_back(std::move(outcome));
        }
        state.changed.notify_one();
    }
    {
        std::lock_guard lock(state.mutex);
        --state.workersLeft;
    }
    state.changed.notify_one();
}

// On the calling thread: hands finished items and progress to the observer
// until every worker has ended, idling between changes.
void ReportUntilDone(TParallelState& state, TRunObserver& observer, std::size_t count, int idleIntervalMs)
{
    const double allThirds = 3.0 * double(std::max<std::size_t>(count, 1));
    long reportedThirds = 0;
    for (;;) {
        std::deque<TFileOutcome> finished;
        long thirds = 0;
        bool last = false;
        {
            std::unique_lock lock(state.mutex);
            state.changed.wait_for(lock, std::chrono::milliseconds(idleIntervalMs), [&] {
                return !state.finished.empty() || state.thirdsDone != reportedThirds || state.workersLeft == 0;
            });
            finished.swap(state.finished);
            thirds = state.thirdsDone;
            last = state.workersLeft == 0;
        }
        for (const TFileOutcome& outcome : finished)
            observer.FileDone(outcome);
        if (thirds != reportedThirds) {
            reportedThirds = thirds;
            observer.Progress(NearestEven(100.0 * double(thirds) / allThirds));
        }
        if (last)
            return;
        observer.Idle();
    }
}

}  // namespace

TParallelRunner::TParallelRunner(const TConversionPlan& plan, int threads, TMetafileHolder* metafiles)
    : m_plan(plan), m_threads(std::max(threads, 1)), m_metafiles(metafiles)
{
}

bool TParallelRunner::Run(TRunObserver& observer, const TStopFlag& stop)
{
    const std::size_t count = m_plan.Items.size();
    const int workers = int(std::min<std::size_t>(std::size_t(m_threads), count));
    // Items side by side already keep the processors busy; a reader that
    // splits one file over threads would only crowd them.
    TConversionPlan ownPlan;
    if (workers > 1) {
        ownPlan = m_plan;
        ownPlan.Settings.TIFFReadThreads = 1;
        ownPlan.Settings.PNGWriteThreads = 1;
        ownPlan.Settings.PhotoCodecThreads = 1;
    }
    const TConversionPlan& plan = workers > 1 ? ownPlan : m_plan;
    TParallelState state;
    std::mutex metafileLock;
    const TMetafileAccess metafiles{m_metafiles, &metafileLock};

    state.workersLeft = workers;
    std::vector<std::thread> threads;
    threads.reserve(std::size_t(workers));
    for (int i = 0; i < workers; ++i)
        threads.emplace_back([&] { WorkThrough(plan, state, stop, metafiles); });
    const auto joinAll = [&threads] {
        for (std::thread& thread : threads)
            if (thread.joinable())
                thread.join();
    };
    try {
        ReportUntilDone(state, observer, count, IdleIntervalMs);
    } catch (...) {
        {
            std::lock_guard lock(state.mutex);
            state.abandon = true;
        }
        joinAll();
        throw;
    }
    joinAll();
    return stop;
}

void RunParallel(TConversionHost& host, const TConversionPlan& plan, int threads)
{
    class TReporter : public TRunObserver {
    public:
        explicit TReporter(TConversionHost& host) : m_host(host) {}
        void Progress(int position) override { m_host.SetProgress(position); }
        void FileDone(const TFileOutcome& outcome) override { m_host.FileDone(outcome); }
        void Idle() override { m_host.Pump(); }

    private:
        TConversionHost& m_host;
    } reporter(host);

    BeginRun(host);
    TParallelRunner(plan, threads, host.MetafileHolder()).Run(reporter, host.StopRequested);
    host.Pump();
    EndRun(host);
}

void TConversionJob::Convert()
{
    if (const std::optional<TConversionPlan> plan = PlanConversion(m_host))
        RunSequential(m_host, *plan);
}

}  // namespace rastova
