// rastova-convert: the conversion job without a window.
#include "app/ConversionJob.h"
#include "app/MetafileSupport.h"
#include "image/FileFormats.h"
#include "image/PGExceptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace rastova;

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int)
{
    g_interrupted = true;
    // A second Ctrl-C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

struct TCommandLine {
    std::string format = "bmp";
    std::string colors = "true";
    std::string mirror = "none";
    std::string rotate = "none";
    int quality = 0;  // 0: keep the library's JPEGQuality
    bool yes = false;
    std::string destination;
    std::vector<std::string> files;
    std::vector<std::string> infoFiles;
};

class TConsoleHost : public TConversionHost {
public:
    TConsoleHost(const TCommandLine& line, TConversionOptions options)
        : m_line(line), m_options(std::move(options)), m_progressBar(isatty(STDERR_FILENO) != 0)
    {
    }

    int ItemCount() override { return int(m_line.files.size()); }
    bool ItemSelected(int) override { return true; }
    std::string ItemPath(int index) override { return m_line.files[std::size_t(index)]; }
    TConversionOptions Options() override { return m_options; }

    void SetBusy(bool) override {}
    void SetProgress(int position) override
    {
        if (!m_progressBar || position == m_lastProgress)
            return;
        m_lastProgress = position;
        constexpr int kWidth = 40;
        const int filled = position * kWidth / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(std::size_t(filled), '#').c_str(),
                     std::string(std::size_t(kWidth - filled), ' ').c_str(), position);
        if (position == 0)
            std::fprintf(stderr, "\r%*s\r", kWidth + 8, "");
        std::fflush(stderr);
    }
    void SetStopCaption(bool) override {}
    void Pump() override
    {
        if (g_interrupted)
            StopRequested = true;
    }
    void Inform(const std::string& text) override
    {
        ClearProgressLine();
        std::cout << text << std::endl;
    }
    bool Confirm(const std::string& text) override
    {
        if (m_line.yes)
            return true;
        if (!isatty(STDIN_FILENO)) {
            std::cerr << "rastova-convert: " << text << " No (use -y to create it)" << std::endl;
            return false;
        }
        ClearProgressLine();
        std::cout << text << " [y/N] " << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
        return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    }
    void FocusDestination() override {}
    TMetafileHolder* MetafileHolder() override { return &WindowlessMetafileHolder(); }
    void AskJpegQuality() override
    {
        if (m_line.quality > 0)
            JpegQualityChoice = std::int16_t(m_line.quality);
    }
    void FileDone(const TFileOutcome& outcome) override
    {
        if (outcome.Saved && !outcome.Failed) {
            ++m_converted;
            return;
        }
        if (!outcome.Failed)
            return;  // stopped before its save: the interruption says it
        static const char* const kSteps[] = {"cannot load", "cannot mirror", "cannot rotate",
                                             "cannot convert colours", "cannot save"};
        ClearProgressLine();
        std::cerr << "rastova-convert: " << outcome.SourcePath << ": " << kSteps[outcome.FailedStep] << ": "
                  << outcome.Message << std::endl;
    }

    int Converted() const { return m_converted; }

private:
    void ClearProgressLine()
    {
        if (m_progressBar && m_lastProgress > 0)
            std::fprintf(stderr, "\n");
        m_lastProgress = -1;
    }

    const TCommandLine& m_line;
    TConversionOptions m_options;
    bool m_progressBar;
    int m_lastProgress = -1;
    int m_converted = 0;
};

std::string DescribeFile(const std::string& fileName)
{
    TFileInfo info;
    if (!GetFileInfo(fileName, 0, info))
        return " The subformat is not supported!   ";
    return "File info: " + info.FormatDescription + ", " + info.SubFormatText + ", " + std::to_string(info.Width) +
           "x" + std::to_string(info.Height) + " pixeles" + ", colors: " + info.ColorsText;
}

int RunInfo(const std::vector<std::string>& files)
{
    int status = 0;
    for (const std::string& file : files) {
        bool played = false;
        if (const auto line = DescribeMetafile(file, played)) {
            status = played ? status : 1;
            std::cout << file << ": " << *line << "\n";
            continue;
        }
        TFileInfo info;
        if (!GetFileInfo(file, 0, info))
            status = 1;
        std::cout << file << ": " << DescribeFile(file) << "\n";
    }
    return status;
}

int RunJob(const TCommandLine& line)
{
    static const std::map<std::string, int> kFormats = {{"bmp", tfBMP}, {"jpg", tfJPG}, {"pbm", tfPBM},
                                                        {"pgm", tfPGM}, {"png", tfPNG}, {"ppm", tfPPM},
                                                        {"tga", tfTGA}, {"tif", tfTIF}};
    static const std::map<std::string, int> kColors = {
        {"2", jcr2Colors}, {"16", jcr16Colors}, {"256", jcr256Colors}, {"gray", jcrGray8}, {"true", jcrTrueColor}};
    static const std::map<std::string, int> kMirrors = {{"none", jmNone}, {"vertical", jmVertical},
                                                        {"horizontal", jmHorizontal}};
    static const std::map<std::string, int> kRotations = {
        {"none", jrNone}, {"180", jr180}, {"left", jrLeft}, {"right", jrRight}};

    TConversionOptions options;
    options.Destination = line.destination;
    options.TargetFormat = kFormats.at(line.format);
    options.ColorResolution = kColors.at(line.colors);
    options.Mirror = kMirrors.at(line.mirror);
    options.Rotate = kRotations.at(line.rotate);

    // Library warnings (a format's recoverable problems) go to standard error.
    SetQuestionFunction([](const std::string& text, const std::string& caption, TQuestionButtons) {
        std::cerr << "rastova-convert: " << caption << ": " << text << std::endl;
        return qaOK;
    });
    std::signal(SIGINT, OnInterrupt);

    TConsoleHost host(line, options);
    TConversionJob(host).Convert();
    std::signal(SIGINT, SIG_DFL);
    const bool allConverted = !host.StopRequested && host.Converted() == int(line.files.size());
    return allConverted ? 0 : 1;
}

// With no arguments: the bundled samples, converted to every target format in out/.
int RunSamples(const std::string& programName)
{
    std::filesystem::path samples = std::filesystem::path(RASTOVA_SOURCE_DIR) / "samples";
    if (!std::filesystem::is_directory(samples))
        samples = "samples";
    if (!std::filesystem::is_directory(samples)) {
        std::cerr << programName << ": no sample folder found; see --help" << std::endl;
        return 2;
    }
    TCommandLine line;
    for (const auto& entry : std::filesystem::directory_iterator(samples))
        if (entry.is_regular_file())
            line.files.push_back(entry.path().string());
    std::sort(line.files.begin(), line.files.end());
    line.destination = "out";
    line.yes = true;
    int status = 0;
    for (const char* format : {"bmp", "jpg", "pbm", "pgm", "png", "ppm", "tga", "tif"}) {
        line.format = format;
        std::cout << "Converting " << line.files.size() << " samples to " << format << " in out/" << std::endl;
        status = std::max(status, RunJob(line));
        if (g_interrupted)
            break;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 1)
        return RunSamples(argv[0]);

    CLI::App app{"Converts raster images to another format, colour resolution and orientation.",
                 "rastova-convert"};
    TCommandLine line;
    app.set_version_flag("--version", std::string("rastova-convert ") + RASTOVA_VERSION);
    app.add_option("-f,--format", line.format, "Target format")
        ->check(CLI::IsMember({"bmp", "jpg", "pbm", "pgm", "png", "ppm", "tga", "tif"}, CLI::ignore_case))
        ->transform([](std::string s) {
            for (char& c : s)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            return s;
        })
        ->capture_default_str();
    app.add_option("-c,--colors", line.colors, "Colour resolution")
        ->check(CLI::IsMember({"2", "16", "256", "gray", "true"}))
        ->capture_default_str();
    app.add_option("-m,--mirror", line.mirror, "Mirror")
        ->check(CLI::IsMember({"none", "vertical", "horizontal"}))
        ->capture_default_str();
    app.add_option("-r,--rotate", line.rotate, "Rotation")
        ->check(CLI::IsMember({"none", "180", "left", "right"}))
        ->capture_default_str();
    app.add_option("-q,--quality", line.quality, "JPEG quality (instead of the quality dialog)")
        ->check(CLI::Range(5, 95));
    app.add_flag("-y,--yes", line.yes, "Create a missing destination folder without asking");
    auto* destination = app.add_option("-o,--output", line.destination, "Destination folder");
    auto* files = app.add_option("files", line.files, "Source files, converted in this order");
    auto* info = app.add_option("--info", line.infoFiles, "Describe the files instead of converting them")
                     ->excludes(destination)
                     ->excludes(files);
    (void)info;

    try {
        app.parse(argc, argv);
        if (line.infoFiles.empty()) {
            if (line.destination.empty())
                throw CLI::RequiredError("-o,--output");
            if (line.files.empty())
                throw CLI::RequiredError("files");
        }
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    try {
        if (!line.infoFiles.empty())
            return RunInfo(line.infoFiles);
        return RunJob(line);
    } catch (const std::exception& e) {
        std::cerr << "rastova-convert: " << e.what() << std::endl;
        return 1;
    }
}
