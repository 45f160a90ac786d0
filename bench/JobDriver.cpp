// Runs one conversion job over the files given, on N threads, and prints its
// wall time: the driver behind bench/parallel_bench.sh.
// Usage: rastova-job-driver THREADS TARGET(bmp|jpg|...|tif) COLORS(0..4) OUTDIR FILE...
// THREADS 0 runs the sequential job.
#include "job/ConversionJob.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace rastova;

class TQuietHost : public TConversionHost {
public:
    TQuietHost(std::vector<std::string> files, TConversionOptions options)
        : m_files(std::move(files)), m_options(std::move(options))
    {
        JpegQualityChoice = 90;
    }
    int ItemCount() override { return int(m_files.size()); }
    bool ItemSelected(int) override { return true; }
    std::string ItemPath(int index) override { return m_files[std::size_t(index)]; }
    TConversionOptions Options() override { return m_options; }
    void SetBusy(bool) override {}
    void SetProgress(int) override {}
    void SetStopCaption(bool) override {}
    void Pump() override {}
    void Inform(const std::string&) override {}
    bool Confirm(const std::string&) override { return true; }
    void FocusDestination() override {}
    void AskJpegQuality() override {}
    void FileDone(const TFileOutcome& outcome) override
    {
        if (outcome.Saved && !outcome.Failed)
            ++saved;
        else
            std::fprintf(stderr, "%s: %s\n", outcome.SourcePath.c_str(), outcome.Message.c_str());
    }
    int saved = 0;

private:
    std::vector<std::string> m_files;
    TConversionOptions m_options;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s THREADS TARGET COLORS OUTDIR FILE...\n", argv[0]);
        return 2;
    }
    const int threads = std::atoi(argv[1]);
    const std::string target = argv[2];
    const char* const kTargets[] = {"bmp", "jpg", "pbm", "pgm", "png", "ppm", "tga", "tif"};
    TConversionOptions options;
    for (int i = 0; i < 8; ++i)
        if (target == kTargets[i])
            options.TargetFormat = TTargetFormat(i);
    options.ColorResolution = TJobColorResolution(std::atoi(argv[3]));
    options.Destination = argv[4];
    const std::vector<std::string> files(argv + 5, argv + argc);

    TQuietHost host(files, options);
    const auto start = std::chrono::steady_clock::now();
    if (const auto plan = PlanConversion(host)) {
        if (threads == 0)
            RunSequential(host, *plan);
        else
            RunParallel(host, *plan, threads);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("threads %d  items %zu  saved %d  wall %.2f s  %.3f items/s\n", threads, files.size(), host.saved,
                seconds, double(files.size()) / seconds);
    return host.saved == int(files.size()) ? 0 : 1;
}
