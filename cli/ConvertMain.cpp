// rastova-convert: the conversion job on the command line.
#include "job/BatchInputs.h"
#include "job/BatchSteps.h"
#include "cli/ConsoleReport.h"
#include "cli/FileInfoLine.h"
#include "cli/StandardStreams.h"
#include "job/ConversionJob.h"
#include "hosts/MetafileSupport.h"
#include "metafile/Metafile.h"
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
#include <charconv>
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
// 2^28 pixels: about 800 MB at 24 bits, decoded only when asked for.
constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t(1) << 28;
const char* const kStandardStream = "-";
const char* const kComplete = "The conversion is complete!";

struct TCommandLine {
    std::string format = "bmp";
    std::string colors = "true";
    std::string mirror = "none";
    std::string rotate = "none";
    std::string quantizer = "median";
    std::string frames = "first";
    int quality = 0;  // 0: the library's quality of the target format
    bool lossless = false;
    std::string resize;
    std::string compress;       // "": each writer's default
    int compressLevel = -1;     // -1: zlib's default
    bool progressive = false;
    std::string sampling;       // "": libjpeg's default
    std::string shard;          // "K/N"; "": every item
    bool existingGiven = false;  // --existing was on the line
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
    std::string background;  // empty: the file's own (a PNG's bKGD), else black
    bool strip = false;
    bool binary = false;
    bool strict = false;
    bool quiet = false;
    bool verbose = false;
    int jobs = 0;  // 0: the online CPUs
    std::uint64_t maxPixels = kDefaultMaxPixels;
    std::string stdinCopy;  // where "-" as the input was spooled
};

// One share of a list: the items whose 1-based position is K modulo N.
struct TShard {
    int K = 1, N = 1;
};

bool ParseShard(const std::string& text, TShard& shard)
{
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos)
        return false;
    TShard parsed;
    const char* data = text.data();
    const auto k = std::from_chars(data, data + slash, parsed.K);
    const auto n = std::from_chars(data + slash + 1, data + text.size(), parsed.N);
    if (k.ec != std::errc() || k.ptr != data + slash || n.ec != std::errc() || n.ptr != data + text.size())
        return false;
    if (parsed.N < 1 || parsed.K < 1 || parsed.K > parsed.N)
        return false;
    shard = parsed;
    return true;
}

// The over-limit message of the library, with how to lift the limit.
std::string WithPixelLimitHint(const std::string& message)
{
    if (message.find("exceeds the limit of") == std::string::npos)
        return message;
    return message + "; raise it with --max-pixels N, or 0 for no limit";
}

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
        if (text == kComplete || text == "The conversion was interrupted by user.") {
            EndMessage = text;  // said after the summary, as the last line
            return;
        }
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
            JpegQualityChoice = m_line.quality;
    }
    void FileDone(const TFileOutcome& outcome) override
    {
        TFileOutcome shown = outcome;
        if (!m_line.stdinCopy.empty() && shown.SourcePath == m_line.stdinCopy)
            shown.SourcePath = kStandardStream;
        if (m_line.destination == kStandardStream)
            shown.OutputPath = kStandardStream;
        shown.Message = WithPixelLimitHint(shown.Message);
        m_report.ItemDone(shown);
    }

    std::string EndMessage;

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

// --info's line for a metafile; nullopt when it cannot be read.
std::optional<std::string> DescribeMetafileLine(const std::string& file)
{
    TMetafile metafile;
    try {
        metafile.LoadFromFile(file);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    std::error_code error;
    const std::uintmax_t bytes = fs::file_size(file, error);
    return std::string(metafile.Kind() == mkEnhanced ? "EMF" : "WMF") + ", " + std::to_string(metafile.Width()) +
           " x " + std::to_string(metafile.Height()) + ", vector, 1 frame, " + ByteSizeText(error ? 0 : bytes);
}

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
        const auto line = IsMetafileName(file) ? DescribeMetafileLine(file) : DescribeImageFile(file);
        if (line) {
            std::cout << file << ": " << *line << "\n";
            continue;
        }
        std::cerr << kProgram << ": " << file << ": not an image file that can be read" << std::endl;
        status = kExitFailed;
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

// The items of this worker's share, in list order.
std::vector<TBatchInput> ShareOf(const std::vector<TBatchInput>& items, const std::string& shardText)
{
    TShard shard;
    ParseShard(shardText, shard);
    std::vector<TBatchInput> share;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (int((i + 1) % std::size_t(shard.N)) == shard.K % shard.N)
            share.push_back(items[i]);
    return share;
}

// The last line: complete only when nothing failed.
std::string EndLine(const std::string& endMessage, int failed)
{
    if (endMessage != kComplete || failed == 0)
        return endMessage;
    return "The conversion finished with " + std::to_string(failed) + (failed == 1 ? " failure." : " failures.");
}

// -o -: the one output file goes to standard output once the run is over.
bool DeliverToStandardOutput(const TConversionPlan& plan, TConsoleReport& report)
{
    if (plan.Items.size() != 1 || report.Converted() != 1)
        return false;
    const std::string problem = CopyToStandardOutput(plan.Items.front().OutputPath);
    if (!problem.empty())
        report.InputFailed(kStandardStream, "cannot write: " + problem);
    return problem.empty();
}

// The items of this run (this worker's share), the inputs that cannot be items
// reported. False, with the exit status, when the run cannot start.
bool CollectItems(const TCommandLine& line, TConsoleReport& report, std::vector<TBatchInput>& items, int& status)
{
    const bool toStandardOutput = line.destination == kStandardStream;
    TBatchInputs inputs;
    if (line.recursive && !toStandardOutput)
        inputs.ExcludeFolder(TrimBlanks(line.destination));
    status = kExitFailed;
    if (!GatherInputs(line, inputs, report))
        return false;
    items = line.shard.empty() ? inputs.Items() : ShareOf(inputs.Items(), line.shard);
    if (toStandardOutput && items.size() != 1) {
        report.Error("", "-o - writes one output; give exactly one input");
        status = kExitUsage;
        return false;
    }
    for (const TBatchInput& input : items)
        if (!input.Problem.empty())
            report.InputFailed(input.Path == line.stdinCopy ? kStandardStream : input.Path, input.Problem);
    return toStandardOutput || PrepareDestination(line, report);
}

int RunJob(const TCommandLine& line, const TConversionOptions& options)
{
    const TVerbosity verbosity = line.quiet ? vbQuiet : line.verbose ? vbVerbose : vbNormal;
    const bool toStandardOutput = line.destination == kStandardStream;
    TConsoleReport report(kProgram, verbosity, isatty(STDERR_FILENO) != 0, toStandardOutput);
    std::vector<TBatchInput> items;
    if (int status = 0; !CollectItems(line, report, items, status))
        return status;

    // Reader warnings name the file they belong to through the item in hand.
    SetQuestionFunction([&report](const std::string& text, const std::string&, TQuestionButtons) {
        if (!AddItemWarning(text))
            report.Warning("", text);
        return qaOK;
    });
    PxMWriteBinary = line.binary;
    MaxImagePixels = line.maxPixels;

    TConsoleHost host(line, items, options, report);
    // Qt's application object, needed to play metafiles, belongs on this thread.
    if (std::any_of(items.begin(), items.end(), [](const TBatchInput& input) { return IsMetafileName(input.Path); }))
        StartMetafilePlayback();
    TSignalStop signals([&host] { host.StopRequested = true; });

    std::optional<TConversionPlan> plan;
    const bool anyItem =
        std::any_of(items.begin(), items.end(), [](const TBatchInput& input) { return input.Problem.empty(); });
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
    const bool delivered = plan && toStandardOutput && !signals.Interrupted() && DeliverToStandardOutput(*plan, report);
    if (plan || report.Failed() > 0)
        report.Summary();
    if (!host.EndMessage.empty())
        report.Info(EndLine(host.EndMessage, report.Failed()));
    if (signals.Interrupted())
        return kExitInterrupted;
    if (!plan && anyItem)
        return kExitFailed;  // the run did not start: the job said why
    if (toStandardOutput && !delivered)
        return kExitFailed;
    return report.Failed() > 0 ? kExitFailed : 0;
}

std::string ReadableFormats()
{
    std::set<std::string> extensions = {"emf", "wmf"};  // played by the metafile host
    for (const auto& reader : FileFormatReaders())
        extensions.insert(reader->Extension);
    std::string text;
    for (const std::string& extension : extensions)
        text += (text.empty() ? "" : ", ") + extension;
    return text;
}

std::string ColorsProblem(const std::string& text)
{
    if (text == "gray" || text == "true")
        return "";
    int colors = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), colors);
    const bool number = error == std::errc() && end == text.data() + text.size() && !text.empty() && text[0] != '+';
    return number && colors >= 2 && colors <= 256 ? "" : "expected true, gray or a number of colours from 2 to 256";
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
    app.add_option("-c,--colors", line.colors,
                   "true, gray, or N from 2 to 256: an optimal palette of at most N colours (16: the system colours)")
        ->check([](const std::string& text) { return ColorsProblem(text); })
        ->capture_default_str();
    app.add_option("--quantizer", line.quantizer,
                   "Palette of -c 16, 256 and N: median (median cut; system colours at 16 and 256) or best (optimal, slower)")
        ->check(CLI::IsMember({"median", "best"}))
        ->capture_default_str();
    app.add_option("-m,--mirror", line.mirror, "Mirror")
        ->check(CLI::IsMember({"none", "vertical", "horizontal"}))
        ->capture_default_str();
    app.add_option("-r,--rotate", line.rotate, "Rotation, after the mirror")
        ->check(CLI::IsMember({"none", "180", "left", "right"}))
        ->capture_default_str();
    DeclareQualityOptions(app, line);
    app.add_option("-o,--output", line.destination,
                   "Destination folder, required to convert; - writes the one output to standard output");
    app.add_flag("-y,--yes", line.yes, "Create a missing destination folder, parents too [default: ask]");
    app.add_flag("-R,--recursive", line.recursive,
                 "Convert the image files under folders given, recreating their subfolders [default: off]");
    app.add_option("--files-from", line.filesFrom, "Read source paths from FILE, or - for standard input")
        ->type_name("FILE");
    app.add_flag("-0,--null", line.nulSeparated, "--files-from lists are NUL-separated [default: one per line]");
    app.add_option("--existing", line.existing,
                   "An existing output file is overwritten, kept (item skipped) or the output renamed to name-1.ext; "
                   "a source is overwritten by its own output only when overwrite is given")
        ->check(CLI::IsMember({"overwrite", "skip", "rename"}))
        ->capture_default_str();
    app.add_flag("--keep-case", line.keepCase, "Keep the case of source names [default: lower-case them]");
    app.add_option("--fit", line.fit,
                   "Shrink-only box: scale down to fit inside WxH keeping the aspect ratio; WxH! also enlarges "
                   "[default: off]")
        ->type_name("WxH[!]")
        ->check([](const std::string& text) {
            TFitBox box;
            return ParseFitBox(text, box) ? std::string() : "expected WxH or WxH! with positive sizes";
        });
    app.add_option("--frames", line.frames,
                   "Every TIFF page, GIF frame and icon entry as a file of its own (name-001.ext, ...) or the first only")
        ->check(CLI::IsMember({"first", "all"}, CLI::ignore_case))
        ->capture_default_str();
    app.add_flag("--auto-orient", line.autoOrient,
                 "Turn photos upright by their EXIF orientation, before -m and -r; the tag becomes 1 [default: off]");
    app.add_flag("--strip", line.strip,
                 "Drop EXIF, XMP, IPTC and comments; bring profiled pictures to sRGB [default: kept]");
    app.add_option("--background", line.background,
                   "Colour behind transparent pixels where the target cannot keep them, #rrggbb or a name "
                   "[default: the file's own, else black]")
        ->type_name("COLOR")
        ->check([](const std::string& text) {
            TRGB color = 0;
            return ParseColor(text, color) ? std::string() : "expected #rrggbb or a colour name";
        });
}

// Sizes and the writers' own choices.
void DeclareWriterOptions(CLI::App& app, TCommandLine& line)
{
    app.add_option("--resize", line.resize,
                   "Resample as ImageMagick's geometry: N%, W, xH, WxH (fit), WxH! (exact), WxH> (only shrink), "
                   "WxH< (only enlarge), WxH^ (fill) [default: off]")
        ->type_name("GEOMETRY")
        ->check([](const std::string& text) {
            TResizeGeometry geometry;
            return ParseResizeGeometry(text, geometry) ? std::string() : "expected N%, W, xH or WxH with !, >, < or ^";
        });
    app.add_option("--compress", line.compress,
                   "TIFF: none, lzw, deflate or packbits; Targa and 4/8-bit BMP: none or rle [default: none]")
        ->check(CLI::IsMember({"none", "lzw", "deflate", "packbits", "rle"}));
    app.add_option("--compress-level", line.compressLevel, "zlib level 0..9 of PNG and --compress deflate")
        ->check(CLI::Range(0, 9));
    app.add_flag("--progressive", line.progressive, "Progressive JPEG [default: baseline]");
    app.add_option("--sampling", line.sampling, "JPEG chroma subsampling [default: 420]")
        ->check(CLI::IsMember({"444", "422", "420"}));
}

// How the run behaves and reports, and the sources.
void DeclareRunOptions(CLI::App& app, TCommandLine& line)
{
    app.add_flag("--binary", line.binary, "Write PBM, PGM and PPM raw (P4, P5, P6) [default: text]");
    app.add_flag("--strict", line.strict, "A file that loads only with a warning fails [default: it is converted and warned about]");
    app.add_option("-j,--jobs", line.jobs, "Files converted at once [default: the online CPUs]")
        ->check(CLI::Range(1, 1024));
    app.add_option("--max-pixels", line.maxPixels, "Refuse images claiming more pixels, before decoding; 0 = no limit")
        ->capture_default_str();
    app.add_option("--shard", line.shard,
                   "Convert only the items at positions K, K+N, K+2N, ... of the list, 1 <= K <= N [default: all]")
        ->type_name("K/N")
        ->check([](const std::string& text) {
            TShard shard;
            return ParseShard(text, shard) ? std::string() : "expected K/N with 1 <= K <= N";
        });
    auto* quiet = app.add_flag("--quiet", line.quiet, "Only errors and warnings [default: off]");
    app.add_flag("--verbose", line.verbose, "One line per converted file: output, size, time [default: off]")
        ->excludes(quiet);
    auto* files = app.add_option("files", line.files,
                                 "Source files (folders with -R), taken in the order given; - alone reads standard input");
    app.add_option("--info", line.infoFiles, "Describe the files instead of converting them")->excludes(files);
}

// The library's settings with the writers' choices of the line.
TPGSettings WriterSettings(const TCommandLine& line)
{
    TPGSettings settings = DefaultSettings();
    settings.PxMWriteBinary = line.binary;
    settings.MaxImagePixels = line.maxPixels;
    static const std::map<std::string, TTIFFWriteCompression> kTiff = {
        {"none", twcNone}, {"lzw", twcLZW}, {"deflate", twcDeflate}, {"packbits", twcPackBits}};
    if (const auto tiff = kTiff.find(line.compress); tiff != kTiff.end())
        settings.TIFFWriteCompression = tiff->second;
    settings.BMPWriteRLE = settings.TGAWriteRLE = line.compress == "rle";
    settings.PNGCompressionLevel = settings.TIFFWriteDeflateLevel = line.compressLevel;
    settings.JPEGProgressive = line.progressive;
    static const std::map<std::string, TJPEGSampling> kSampling = {{"444", js444}, {"422", js422}, {"420", js420}};
    if (const auto sampling = kSampling.find(line.sampling); sampling != kSampling.end())
        settings.JPEGSampling = sampling->second;
    return settings;
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
    const auto named = kColors.find(line.colors);
    static const std::map<std::string, TJobMirror> kMirrors = {
        {"none", jmNone}, {"vertical", jmVertical}, {"horizontal", jmHorizontal}};
    static const std::map<std::string, TJobRotate> kRotations = {
        {"none", jrNone}, {"180", jr180}, {"left", jrLeft}, {"right", jrRight}};
    TConversionOptions options;
    options.Destination = line.destination;
    options.TargetFormat = kFormats.at(line.format);
    if (named != kColors.end())
        options.ColorResolution = named->second;
    else
        options.PaletteColors = std::stoi(line.colors);
    options.Mirror = kMirrors.at(line.mirror);
    options.Rotate = kRotations.at(line.rotate);
    options.Quantizer = line.quantizer == "best" ? jqBest : jqMedianCut;
    ParseExistingPolicy(line.existing, options.Existing);
    options.RefuseSelfOverwrite = !line.existingGiven;
    ParseResizeGeometry(line.resize, options.Resize);
    options.Settings = WriterSettings(line);
    options.KeepCase = line.keepCase;
    ParseFitBox(line.fit, options.Fit);
    options.AutoOrient = line.autoOrient;
    options.KeepMetadata = !line.strip;
    options.AllFrames = line.frames == "all" || line.frames == "ALL" || line.frames == "All";
    TRGB background = 0;
    if (!line.background.empty() && ParseColor(line.background, background))
        options.BackGroundColor = background;
    // OK/Cancel rather than the OK box: the question function answers OK, and a
    // reader that would refuse after a mere OK box (a TIFF strip table of one
    // strip) goes on as in the window's batch.
    options.ReadWarningAction = line.strict ? pgwaRaise : pgwaOKCancelBox;
    return options;
}

// Choices that each parse alone but not together.
void CheckCombinations(const TCommandLine& line)
{
    static const std::map<std::string, std::set<std::string>> kCompressFormats = {
        {"lzw", {"tif"}}, {"deflate", {"tif"}}, {"packbits", {"tif"}}, {"rle", {"tga", "bmp"}}};
    if (const auto formats = kCompressFormats.find(line.compress);
        formats != kCompressFormats.end() && !formats->second.count(line.format))
        throw CLI::ValidationError("--compress", line.compress + " does not apply to -f " + line.format);
    const bool stdinInput = std::find(line.files.begin(), line.files.end(), kStandardStream) != line.files.end();
    if (stdinInput && (line.files.size() > 1 || !line.filesFrom.empty()))
        throw CLI::ValidationError("files", "- reads standard input and must be the only input");
}

// Formats whose writers take -q; the others warn that it does nothing.
bool TakesQuality(const std::string& format)
{
    static const std::set<std::string> kLossy = {"jpg", "webp", "heic", "avif", "jxl"};
    return kLossy.count(format) != 0;
}

// "-" as input and as destination go through the scratch folder.
void RouteStandardStreams(TCommandLine& line, TConversionOptions& options, std::optional<TScratchFolder>& scratch)
{
    const bool stdinInput = line.files.size() == 1 && line.files.front() == kStandardStream;
    if (!stdinInput && line.destination != kStandardStream)
        return;
    scratch.emplace();
    if (stdinInput) {
        const std::string problem = SpoolStandardInput(scratch->Path(), line.stdinCopy);
        if (!problem.empty())
            throw std::runtime_error("-: cannot read standard input: " + problem);
        line.files.front() = line.stdinCopy;
    }
    if (line.destination == kStandardStream)
        options.Destination = scratch->Path();
}

// --lossless goes into the library's defaults. False, after saying why, when the
// target cannot be coded losslessly.
bool ApplyCodingChoices(const TCommandLine& line)
{
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
    DeclareWriterOptions(app, line);
    DeclareRunOptions(app, line);

    try {
        app.parse(argc, argv);
        if (line.infoFiles.empty() && line.files.empty() && line.filesFrom.empty()) {
            std::cerr << kProgram << ": no files given\n\n" << app.help() << std::flush;
            return kExitUsage;
        }
        if (line.infoFiles.empty() && line.destination.empty())
            throw CLI::RequiredError("-o,--output");
        CheckCombinations(line);
        line.existingGiven = app.count("--existing") > 0;
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }
    try {
        if (!line.infoFiles.empty())
            return RunInfo(line.infoFiles);
        if (!ApplyCodingChoices(line))
            return kExitUsage;
        if (line.quality > 0 && !TakesQuality(line.format))
            std::cerr << kProgram << ": warning: -q does nothing for -f " << line.format << std::endl;
        TConversionOptions options = OptionsOf(line);
        std::optional<TScratchFolder> scratch;
        RouteStandardStreams(line, options, scratch);
        return RunJob(line, options);
    } catch (const std::exception& e) {
        std::cerr << kProgram << ": " << e.what() << std::endl;
        return kExitFailed;
    }
}
