#include "cli/ConsoleReport.h"

#include <filesystem>
#include <iostream>

namespace rastova {

namespace {

// Items are listed again at the end only beyond this many; shorter runs still show them.
constexpr int kListFailuresAbove = 20;
constexpr int kBarWidth = 30;

std::string Clock(double seconds)
{
    const long total = long(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

}  // namespace

std::string FailureReason(const TFileOutcome& outcome)
{
    return std::string(JobStepFailureText(outcome.FailedStep)) + ": " + outcome.Message;
}

TConsoleReport::TConsoleReport(std::string programName, TVerbosity verbosity, bool progressBar,
                               bool infoToStandardError)
    : m_programName(std::move(programName)),
      m_verbosity(verbosity),
      m_progressBar(progressBar && verbosity != vbQuiet),
      m_infoToStandardError(infoToStandardError)
{
}

void TConsoleReport::Error(const std::string& file, const std::string& text)
{
    ClearBar();
    std::cerr << m_programName << ": " << (file.empty() ? "" : file + ": ") << text << std::endl;
}

void TConsoleReport::Warning(const std::string& file, const std::string& text)
{
    Error(file, "warning: " + text);
}

void TConsoleReport::Info(const std::string& text)
{
    if (m_verbosity == vbQuiet)
        return;
    ClearBar();
    (m_infoToStandardError ? std::cerr : std::cout) << text << std::endl;
}

void TConsoleReport::Start(int total)
{
    m_total = total;
    m_started = std::chrono::steady_clock::now();
}

void TConsoleReport::Progress(int position)
{
    m_position = position;
    DrawBar();
}

void TConsoleReport::ItemDone(const TFileOutcome& outcome)
{
    ++m_inputs;
    ++m_done;
    for (const std::string& warning : outcome.Warnings)
        Warning(outcome.SourcePath, warning);
    if (outcome.Skipped) {
        ++m_skipped;
        if (m_verbosity != vbQuiet)
            Info(outcome.SourcePath + ": skipped, " + outcome.OutputPath + " exists");
    } else if (outcome.Failed || !outcome.Saved) {
        if (outcome.Stopped && !outcome.Failed) {
            --m_inputs;  // stopped before its save: the interruption says it
            return;
        }
        m_failures.emplace_back(outcome.SourcePath, FailureReason(outcome));
        Error(outcome.SourcePath, m_failures.back().second);
    } else {
        ++m_converted;
        if (m_verbosity == vbVerbose) {
            std::error_code error;
            const auto bytes = std::filesystem::file_size(outcome.OutputPath, error);
            char timing[64];
            std::snprintf(timing, sizeof timing, "%.3f s", outcome.Seconds);
            Info(outcome.SourcePath + " -> " + outcome.OutputPath + ", " + std::to_string(outcome.Width) + "x" +
                 std::to_string(outcome.Height) + ", " + (error ? "?" : std::to_string(bytes)) + " bytes, " +
                 timing);
        }
    }
    DrawBar();
}

void TConsoleReport::InputFailed(const std::string& file, const std::string& reason)
{
    ++m_inputs;
    m_failures.emplace_back(file, reason);
    Error(file, reason);
}

void TConsoleReport::Summary()
{
    ClearBar();
    Info(std::to_string(m_converted) + " converted, " + std::to_string(m_skipped) + " skipped, " +
         std::to_string(m_failures.size()) + " failed");
    if (m_failures.empty() || m_inputs <= kListFailuresAbove)
        return;
    std::cerr << m_programName << ": failed files:" << std::endl;
    for (const auto& [file, reason] : m_failures)
        std::cerr << "  " << file << ": " << reason << std::endl;
}

void TConsoleReport::ClearBar()
{
    if (!m_barShown)
        return;
    std::fprintf(stderr, "\r%*s\r", kBarWidth + 48, "");
    std::fflush(stderr);
    m_barShown = false;
}

void TConsoleReport::DrawBar()
{
    if (!m_progressBar || m_total == 0 || m_position <= 0)
        return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    const int filled = m_position * kBarWidth / 100;
    const std::string eta = m_position >= 100 ? "" : "  ETA " + Clock(elapsed * (100 - m_position) / m_position);
    std::fprintf(stderr, "\r[%s%s] %d/%d files %3d%%%s   ", std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(kBarWidth - filled), ' ').c_str(), m_done, m_total, m_position,
                 eta.c_str());
    std::fflush(stderr);
    m_barShown = true;
}

}  // namespace rastova
