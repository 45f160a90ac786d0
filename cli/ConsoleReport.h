// What rastova-convert tells its user: errors and warnings on standard error,
// each naming the program and the file; information on standard output; one
// progress bar on standard error when it is a terminal; a closing summary.
#pragma once

#include "job/ConversionJob.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace rastova {

enum TVerbosity { vbQuiet, vbNormal, vbVerbose };

class TConsoleReport {
public:
    // infoToStandardError: standard output carries the image (-o -).
    TConsoleReport(std::string programName, TVerbosity verbosity, bool progressBar, bool infoToStandardError = false);

    void Error(const std::string& file, const std::string& text);
    void Warning(const std::string& file, const std::string& text);
    void Info(const std::string& text);

    // The run's size, for the bar and the summary.
    void Start(int total);
    void Progress(int position);  // 0..100
    // One item's end, in the order items end.
    void ItemDone(const TFileOutcome& outcome);
    // An input that never became an item (a folder, an empty file, ...).
    void InputFailed(const std::string& file, const std::string& reason);
    // "N converted, S skipped, F failed", and the failed files again when a
    // long run would have scrolled them away.
    void Summary();

    int Converted() const { return m_converted; }
    int Skipped() const { return m_skipped; }
    int Failed() const { return int(m_failures.size()); }

private:
    void ClearBar();
    void DrawBar();

    std::string m_programName;
    TVerbosity m_verbosity;
    bool m_progressBar;
    bool m_infoToStandardError;
    bool m_barShown = false;
    int m_total = 0;
    int m_done = 0;
    int m_position = 0;
    int m_converted = 0;
    int m_skipped = 0;
    int m_inputs = 0;  // items and refused inputs together
    std::vector<std::pair<std::string, std::string>> m_failures;  // file, reason
    std::chrono::steady_clock::time_point m_started;
};

// Why an item failed, as one line: the step and the library's message.
std::string FailureReason(const TFileOutcome& outcome);

}  // namespace rastova
