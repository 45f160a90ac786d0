// rastova-convert: the conversion job on the command line.
#include "job/BatchInputs.h"
#include "job/BatchSteps.h"
#include "cli/ConsoleReport.h"
#include "job/ConversionJob.h"
#include "hosts/MetafileSupport.h"
#include "job/OutputNames.h"
#include "cli/SignalStop.h"
#include "formats/PhotoCodecs.h"
#include "formats/Pxm.h"
#include "formats/Register.h"
#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/PGSettings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

using namespace rastova;
namespace fs = std::filesystem;

const char* const kProgram = "rastova-convert";
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as a shell reports it

struct TCommandLine {
    std::string format = "bmp";
    std::string colors = "true";
    std::string mirror = "none";
    std::string rotate = "none";
    int quality = 0;  // 0: the library's quality of the target format
    bool lossless = false;
    bool yes = false;
    std::string destination;
    std::vector<std::string> files;
    std::vector<std::string> infoFiles;
    bool recursive = false;
    std::vector<std::string> filesFrom;
    bool nulSeparated = false;
    std::string existing = "overwrite";
    bool keepCase = false;
    std::string fit;
    bool autoOrient = false;
    std::string background = "black";
    bool binary = false;
    bool strict = false;
    bool quiet = false;
    bool verbose = false;
    int jobs = 0;  // 0: the online CPUs
    std::uint64_t maxPixels = MaxImagePixels;
};

std::string SystemReason(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

class TConsoleHost : public TConversionHost {
public:
    TConsoleHost(const TCommandLine& line, const std::vector<TBatchInput>& items, TConversionOptions options,
                 TConsoleReport& report)
        : m_line(line), m_items(items), m_options(std::move(options)), m_report(report)
    {
    }

    int ItemCount() override { return int(m_items.size()); }
    bool ItemSelected(int index) override { return m_items[std::size_t(index)].Problem.empty(); }
    std::string ItemPath(int index) override { return m_items[std::size_t(index)].Path; }
    std::string ItemOutputFolder(int index) override { return m_items[std::size_t(index)].RelativeFolder; }
    TConversionOptions Options() override { return m_options; }

    void SetBusy(bool) override {}
    void SetProgress(int position) override { m_report.Progress(position); }
    void SetStopCaption(bool) override {}
    void Pump() override {}
    void Inform(const std::string& text) override
    {
        static const std::string kCannotCreate = "Can not create directory ";
        if (text.rfind(kCannotCreate, 0) == 0) {
            // The job's message names the folder; the system knows why.
            m_report.Error("", text + ": " + m_createError);
            return;
        }
        m_report.Info(text);
    }
    bool Confirm(const std::string& text) override
    {
        if (m_line.yes)
            return true;
        if (!isatty(STDIN_FILENO)) {
            m_report.Error("", text + " No (use -y to create it)");
            return false;
        }
        std::cout << text << " [y/N] " << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
        const bool yes = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
        if (yes)
            RememberCreateError(TrimBlanks(m_options.Destination));
        return yes;
    }
    void FocusDestination() override {}
    TMetafileHolder* MetafileHolder() override { return &WindowlessMetafileHolder(); }
    void AskJpegQuality() override
    {
        if (m_line.quality > 0)
            JpegQualityChoice = std::int16_t(m_line.quality);
    }
    void FileDone(const TFileOutcome& outcome) override { m_report.ItemDone(outcome); }

private:
    // The job creates one level and reports only that it could not; find out why.
    void RememberCreateError(const std::string& folder)
    {
        const fs::path parent = fs::path(folder).parent_path();
        std::error_code error;
        if (!parent.empty() && !fs::is_directory(parent, error))
            m_createError = SystemReason(ENOENT);
        else if (::access(parent.empty() ? "." : parent.c_str(), W_OK) != 0)
            m_createError = SystemReason(errno);
        else
            m_createError = "cannot be created";
    }

    const TCommandLine& m_line;
    const std::vector<TBatchInput>& m_items;
    TConversionOptions m_options;
    TConsoleReport& m_report;
    std::string m_createError = "cannot be created";
};

int RunInfo(const std::vector<std::string>& files)
{
    int status = 0;
    for (const std::string& file : files) {
        std::string problem = FileProblem(file);
        if (problem == kFolderWithoutRecursion)
            problem = "is a folder";
        if (!problem.empty()) {
            std::cerr << kProgram << ": " << file << ": " << problem << std::endl;
            status = kExitFailed;
            continue;
        }
        bool played = false;
        if (const auto description = DescribeMetafile(file, played)) {
            status = played ? status : kExitFailed;
            std::cout << file << ": " << *description << "\n";
            continue;
        }
        TFileInfo info;
        if (!GetFileInfo(file, 0, info)) {
            std::cout << file << ":  The subformat is not supported!   \n";
            status = kExitFailed;
            continue;
        }
        std::cout << file << ": File info: " << info.FormatDescription << ", " << info.SubFormatText << ", "
                  << info.Width << "x" << info.Height << " pixeles, colors: " << info.ColorsText << "\n";
    }
    return status;
}

// The items of the run: the arguments, then the lists, in the order given.
bool GatherInputs(const TCommandLine& line, TBatchInputs& inputs, TConsoleReport& report)
{
    for (const std::string& file : line.files)
        inputs.Add(file, line.recursive);
    for (const std::string& list : line.filesFrom) {
        std::vector<std::string> paths;
        if (list == "-") {
            paths = ReadPathList(std::cin, line.nulSeparated);
        } else {
            std::ifstream in(list, std::ios::binary);
            if (!in) {
                report.Error(list, "cannot read the list: " + SystemReason(errno));
                return false;
            }
            paths = ReadPathList(in, line.nulSeparated);
        }
        for (const std::string& path : paths)
            inputs.Add(path, line.recursive);
    }
    return true;
}

// -y makes the whole destination path, parents included.
bool PrepareDestination(const TCommandLine& line, TConsoleReport& report)
{
    const std::string destination = TrimBlanks(line.destination);
    std::error_code error;
    if (fs::exists(destination, error) && !fs::is_directory(destination, error)) {
        report.Error(destination, "is not a folder");
        return false;
    }
    if (line.yes && !destination.empty() && !fs::is_directory(destination, error)) {
        fs::create_directories(destination, error);
        if (error) {
            report.Error("", "Can not create directory " + destination + ": " + error.message());
            return false;
        }
    }
    return true;
}

// The folders below the destination that -R recreates; an item whose folder
// cannot be made is refused with the system's reason.
void PrepareOutputFolders(TConversionPlan& plan)
{
    std::map<std::string, std::string> made;  // folder, error text
    for (TPlannedItem& item : plan.Items) {
        if (!item.Refusal.empty() || item.Skip)
            continue;
        const std::string folder = fs::path(item.OutputPath).parent_path().string();
        auto found = made.find(folder);
        if (found == made.end()) {
            std::error_code error;
            fs::create_directories(folder, error);
            found = made.emplace(folder, error ? "Can not create directory " + folder + ": " + error.message() : "")
                        .first;
        }
        item.Refusal = found->second;
    }
}

int OnlineCpus()
{
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? int(count) : 1;
}

int RunJob(const TCommandLine& line, const TConversionOptions& options)
{
    const TVerbosity verbosity = line.quiet ? vbQuiet : line.verbose ? vbVerbose : vbNormal;
    TConsoleReport report(kProgram, verbosity, isatty(STDERR_FILENO) != 0);

    TBatchInputs inputs;
    if (!GatherInputs(line, inputs, report))
        return kExitFailed;
    for (const TBatchInput& input : inputs.Items())
        if (!input.Problem.empty())
            report.InputFailed(input.Path, input.Problem);
    if (!PrepareDestination(line, report))
        return kExitFailed;

    // Reader warnings name the file they belong to through the item in hand.
    SetQuestionFunction([&report](const std::string& text, const std::string&, TQuestionButtons) {
        if (!AddItemWarning(text))
            report.Warning("", text);
        return qaOK;
    });
    PxMWriteBinary = line.binary;
    MaxImagePixels = line.maxPixels;

    TConsoleHost host(line, inputs.Items(), options, report);
    // Qt's application object, needed to play metafiles, belongs on this thread.
    if (std::any_of(inputs.Items().begin(), inputs.Items().end(),
                    [](const TBatchInput& input) { return IsMetafileName(input.Path); }))
        StartMetafilePlayback();
    TSignalStop signals([&host] { host.StopRequested = true; });

    std::optional<TConversionPlan> plan;
    const bool anyItem = std::any_of(inputs.Items().begin(), inputs.Items().end(),
                                     [](const TBatchInput& input) { return input.Problem.empty(); });
    if (anyItem)
        plan = PlanConversion(host);
    if (plan && !signals.Interrupted()) {
        PrepareOutputFolders(*plan);
        report.Start(int(plan->Items.size()));
        const int jobs = line.jobs > 0 ? line.jobs : OnlineCpus();
        if (jobs == 1)
            RunSequential(host, *plan);
        else
            RunParallel(host, *plan, jobs);
    }
    if (plan || report.Failed() > 0)
        report.Summary();
    if (signals.Interrupted())
        return kExitInterrupted;
    if (!plan && anyItem)
        return kExitFailed;  // the run did not start: the job said why
    return report.Failed() > 0 ? kExitFailed : 0;
}

std::string ReadableFormats()
{
    std::set<std::string> extensions;
    for (const auto& reader : FileFormatReaders())
        extensions.insert(reader->Extension);
    std::string text;
    for (const std::string& extension : extensions)
        text += (text.empty() ? "" : ", ") + extension;
    return text;
}

std::string Lowered(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Quality and lossless coding of the lossy targets.
void DeclareQualityOptions(CLI::App& app, TCommandLine& line)
{
    app.add_option("-q,--quality", line.quality,
                   "Quality 1..100 of every lossy target: jpg, webp, heic, avif, jxl "
                   "[default: jpg 80, webp 75 (as cwebp), heic 50 (as heif-enc), avif 60, jxl 90 (distance 1.0, as cjxl)]")
        ->check(CLI::Range(1, 100));
    app.add_flag("--lossless", line.lossless,
                 "Lossless webp, avif or jxl output; heic has no lossless coding [default: lossy]");
}

// Where the items go and what happens to them on the way.
void DeclareJobOptions(CLI::App& app, TCommandLine& line)
{
    app.add_option("-f,--format", line.format, "Target format")
        ->check(CLI::IsMember({"bmp", "jpg", "pbm", "pgm", "png", "ppm", "tga", "tif", "webp", "avif", "heic", "jxl"},
                              CLI::ignore_case))
        ->transform([](std::string s) { return Lowered(std::move(s)); })
        ->capture_default_str();
    app.add_option("-c,--colors", line.colors, "Colour resolution")
        ->check(CLI::IsMember({"2", "16", "256", "gray", "true"}))
        ->capture_default_str();
    app.add_option("-m,--mirror", line.mirror, "Mirror")
        ->check(CLI::IsMember({"none", "vertical", "horizontal"}))
        ->capture_default_str();
    app.add_option("-r,--rotate", line.rotate, "Rotation, after the mirror")
        ->check(CLI::IsMember({"none", "180", "left", "right"}))
        ->capture_default_str();
    DeclareQualityOptions(app, line);
    app.add_option("-o,--output", line.destination, "Destination folder, required to convert");
    app.add_flag("-y,--yes", line.yes, "Create a missing destination folder, parents too [default: ask]");
    app.add_flag("-R,--recursive", line.recursive,
                 "Convert the image files under folders given, recreating their subfolders [default: off]");
    app.add_option("--files-from", line.filesFrom, "Read source paths from FILE, or - for standard input")
        ->type_name("FILE");
    app.add_flag("-0,--null", line.nulSeparated, "--files-from lists are NUL-separated [default: one per line]");
    app.add_option("--existing", line.existing,
                   "An existing output file is overwritten, kept (item skipped) or the output renamed to name-1.ext")
        ->check(CLI::IsMember({"overwrite", "skip", "rename"}))
        ->capture_default_str();
    app.add_flag("--keep-case", line.keepCase, "Keep the case of source names [default: lower-case them]");
    app.add_option("--fit", line.fit,
                   "Scale down to fit inside WxH keeping the aspect ratio; WxH! also enlarges [default: off]")
        ->type_name("WxH[!]")
        ->check([](const std::string& text) {
            TFitBox box;
            return ParseFitBox(text, box) ? std::string() : "expected WxH or WxH! with positive sizes";
        });
    app.add_flag("--auto-orient", line.autoOrient,
                 "Turn JPEG photos upright by their EXIF orientation, before -m and -r [default: off]");
    app.add_option("--background", line.background, "Colour behind transparent pixels, #rrggbb or a name")
        ->type_name("COLOR")
        ->check([](const std::string& text) {
            TRGB color = 0;
            return ParseColor(text, color) ? std::string() : "expected #rrggbb or a colour name";
        })
        ->capture_default_str();
}

// How the run behaves and reports, and the sources.
void DeclareRunOptions(CLI::App& app, TCommandLine& line)
{
    app.add_flag("--binary", line.binary, "Write PBM, PGM and PPM raw (P4, P5, P6) [default: text]");
    app.add_flag("--strict", line.strict, "A file that loads only with a warning fails [default: it is converted and warned about]");
    app.add_option("-j,--jobs", line.jobs, "Files converted at once [default: the online CPUs]")
        ->check(CLI::Range(1, 1024));
    app.add_option("--max-pixels", line.maxPixels, "Refuse images claiming more pixels; 0 = no limit")
        ->capture_default_str();
    auto* quiet = app.add_flag("--quiet", line.quiet, "Only errors and warnings [default: off]");
    app.add_flag("--verbose", line.verbose, "One line per converted file: output, size, time [default: off]")
        ->excludes(quiet);
    auto* files = app.add_option("files", line.files, "Source files (folders with -R), taken in the order given");
    app.add_option("--info", line.infoFiles, "Describe the files instead of converting them")->excludes(files);
}

// The job's options from the parsed line; every text was checked while parsing.
TConversionOptions OptionsOf(const TCommandLine& line)
{
    static const std::map<std::string, TTargetFormat> kFormats = {
        {"bmp", tfBMP}, {"jpg", tfJPG}, {"pbm", tfPBM}, {"pgm", tfPGM},
        {"png", tfPNG}, {"ppm", tfPPM}, {"tga", tfTGA}, {"tif", tfTIF},
        {"webp", tfWEBP}, {"avif", tfAVIF}, {"heic", tfHEIC}, {"jxl", tfJXL}};
    static const std::map<std::string, TJobColorResolution> kColors = {
        {"2", jcr2Colors}, {"16", jcr16Colors}, {"256", jcr256Colors}, {"gray", jcrGray8}, {"true", jcrTrueColor}};
    static const std::map<std::string, TJobMirror> kMirrors = {
        {"none", jmNone}, {"vertical", jmVertical}, {"horizontal", jmHorizontal}};
    static const std::map<std::string, TJobRotate> kRotations = {
        {"none", jrNone}, {"180", jr180}, {"left", jrLeft}, {"right", jrRight}};
    TConversionOptions options;
    options.Destination = line.destination;
    options.TargetFormat = kFormats.at(line.format);
    options.ColorResolution = kColors.at(line.colors);
    options.Mirror = kMirrors.at(line.mirror);
    options.Rotate = kRotations.at(line.rotate);
    ParseExistingPolicy(line.existing, options.Existing);
    options.KeepCase = line.keepCase;
    ParseFitBox(line.fit, options.Fit);
    options.AutoOrient = line.autoOrient;
    TRGB background = 0;
    ParseColor(line.background, background);
    options.BackGroundColor = background;
    options.ReadWarningAction = line.strict ? pgwaRaise : pgwaOKBox;
    return options;
}

// The quality of -q for the lossy targets and --lossless go into the library's
// defaults. False, after saying why, when the target cannot be coded losslessly.
bool ApplyCodingChoices(const TCommandLine& line)
{
    if (line.quality > 0 && !IsLossyTarget(OptionsOf(line).TargetFormat))
        std::cerr << kProgram << ": warning: -q sets the quality of jpg, webp, heic, avif and jxl output only"
                  << std::endl;
    if (!line.lossless)
        return true;
    if (line.format == "heic") {
        std::cerr << kProgram
                  << ": --lossless: the HEVC encoder offers no lossless coding, so HEIC output is always lossy; "
                     "use -f avif, webp or jxl for lossless files"
                  << std::endl;
        return false;
    }
    if (line.format != "webp" && line.format != "avif" && line.format != "jxl")
        std::cerr << kProgram << ": warning: --lossless applies to webp, avif and jxl output only" << std::endl;
    WebPLossless = AVIFLossless = JXLLossless = true;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    PGInitialize();
    CLI::App app{"Converts raster images to another format, colour resolution, orientation and size.\n"
                 "Readable formats: " + ReadableFormats(),
                 kProgram};
    app.get_formatter()->column_width(34);
    TCommandLine line;
    app.set_version_flag("--version", std::string(kProgram) + " " + RASTOVA_VERSION);
    DeclareJobOptions(app, line);
    DeclareRunOptions(app, line);

    try {
        app.parse(argc, argv);
        if (line.infoFiles.empty() && line.files.empty() && line.filesFrom.empty()) {
            std::cerr << kProgram << ": no files given\n\n" << app.help() << std::flush;
            return kExitUsage;
        }
        if (line.infoFiles.empty() && line.destination.empty())
            throw CLI::RequiredError("-o,--output");
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }
    try {
        if (!line.infoFiles.empty())
            return RunInfo(line.infoFiles);
        if (!ApplyCodingChoices(line))
            return kExitUsage;
        return RunJob(line, OptionsOf(line));
    } catch (const std::exception& e) {
        std::cerr << kProgram << ": " << e.what() << std::endl;
        return kExitFailed;
    }
}
