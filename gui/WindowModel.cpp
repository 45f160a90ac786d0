#include "gui/WindowModel.h"

#include <algorithm>
#include <filesystem>

namespace rastova {

TWindowOptions OptionsFromSettings(const TSettings& settings)
{
    TWindowOptions options;
    options.Destination = settings.SavePath;
    options.TargetFormat = settings.TargetFormat;
    options.ColorResolution = settings.ColorResolution;
    options.Mirror = settings.Mirror;
    options.Rotate = settings.Rotate;
    options.JpegQuality = settings.JpegQuality;
    options.FitWithin = settings.FitWithin;
    options.FitWidth = settings.FitWidth;
    options.FitHeight = settings.FitHeight;
    options.AutoRotate = settings.AutoRotate;
    options.Existing = settings.Existing >= epOverwrite && settings.Existing <= epRename ? settings.Existing : epOverwrite;
    options.IncludeSubfolders = settings.IncludeSubfolders;
    options.Background = settings.Background;
    options.KeepMetadata = settings.KeepMetadata;
    options.BestPalette = settings.BestPalette;
    return options;
}

void StoreOptions(const TWindowOptions& options, TSettings& settings)
{
    settings.SavePath = options.Destination;
    settings.TargetFormat = options.TargetFormat;
    settings.ColorResolution = options.ColorResolution;
    settings.Mirror = options.Mirror;
    settings.Rotate = options.Rotate;
    settings.JpegQuality = options.JpegQuality;
    settings.FitWithin = options.FitWithin;
    settings.FitWidth = options.FitWidth;
    settings.FitHeight = options.FitHeight;
    settings.AutoRotate = options.AutoRotate;
    settings.Existing = options.Existing;
    settings.IncludeSubfolders = options.IncludeSubfolders;
    settings.Background = options.Background;
    settings.KeepMetadata = options.KeepMetadata;
    settings.BestPalette = options.BestPalette;
}

std::optional<TWindowOptions> PresetOptions(const QString& iniFileName, const QString& name,
                                            const TWindowOptions& current)
{
    TSettings settings;
    StoreOptions(current, settings);
    if (!ReadPreset(iniFileName, name, settings))
        return std::nullopt;
    return OptionsFromSettings(settings);
}

void SavePreset(const QString& iniFileName, const QString& name, const TWindowOptions& options)
{
    TSettings settings;
    StoreOptions(options, settings);
    WritePreset(iniFileName, name, settings);
}

TConversionOptions JobOptions(const TWindowOptions& options)
{
    TConversionOptions job;
    job.Destination = options.Destination.toStdString();
    job.TargetFormat = options.TargetFormat;
    job.ColorResolution = options.ColorResolution;
    job.Mirror = options.Mirror;
    job.Rotate = options.Rotate;
    if (options.FitWithin)
        job.Fit = {std::max(options.FitWidth, 1), std::max(options.FitHeight, 1), false};
    job.AutoOrient = options.AutoRotate;
    job.Existing = options.Existing;
    job.KeepMetadata = options.KeepMetadata;
    job.Quantizer = options.BestPalette ? jqBest : jqMedianCut;
    TRGB background{};
    if (ParseColor(options.Background.toStdString(), background))
        job.BackGroundColor = background;
    return job;
}

std::vector<TBatchInput> RunItems(const std::vector<std::string>& selected, bool includeSubfolders)
{
    std::vector<TBatchInput> items;
    for (const std::string& path : selected) {
        std::error_code error;
        if (!includeSubfolders || !std::filesystem::is_directory(path, error)) {
            items.push_back({path, "", ""});
            continue;
        }
        TBatchInputs tree;
        tree.Add(path, true);
        std::string folder = path;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        const std::string name = std::filesystem::path(folder).filename().string();
        for (TBatchInput item : tree.Items()) {
            item.RelativeFolder = JoinedPath(name, item.RelativeFolder);
            items.push_back(std::move(item));
        }
    }
    return items;
}

QString FailureLine(const TFileOutcome& outcome)
{
    return QString::fromStdString(outcome.SourcePath) + ": " + JobStepFailureText(outcome.FailedStep) + ": " +
           QString::fromStdString(outcome.Message);
}

QString ShortFailureLine(const TFileOutcome& outcome, const QString& sourceFolder)
{
    QString name = QString::fromStdString(outcome.SourcePath);
    const QString prefix = sourceFolder.endsWith('/') ? sourceFolder : sourceFolder + '/';
    if (!sourceFolder.isEmpty() && name.startsWith(prefix))
        name = name.mid(prefix.size());
    QString reason = QString::fromStdString(outcome.Message).section('\n', 0, 0).trimmed();
    constexpr int kShort = 60;
    if (reason.size() > kShort)
        reason = reason.left(kShort - 1) + "…";
    return name + ": " + JobStepFailureText(outcome.FailedStep) + (reason.isEmpty() ? "" : " (" + reason + ")");
}

TEndReport EndReport(const std::string& jobMessage, const TRunTally& tally, const QString& destination,
                     const QString& sourceFolder)
{
    TEndReport report{QString::fromStdString(jobMessage), {}, destination, tally.Failures, {}};
    report.Counts = QString("%1 converted, %2 skipped, %3 failed")
                        .arg(tally.Converted)
                        .arg(tally.Skipped)
                        .arg(tally.Failures.size());
    for (const TFileOutcome& outcome : tally.Failed)
        report.ShortFailures << ShortFailureLine(outcome, sourceFolder);
    if (!tally.Failures.isEmpty())
        report.Text += QString("\n\n%1 of %2 files could not be converted:")
                           .arg(tally.Failures.size())
                           .arg(tally.Attempted);
    return report;
}

QString DurationText(qint64 milliseconds)
{
    const qint64 seconds = std::max<qint64>(milliseconds, 0) / 1000;
    const qint64 hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
    if (hours > 0)
        return QString("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QChar('0')).arg(rest, 2, 10, QChar('0'));
    return QString("%1:%2").arg(minutes).arg(rest, 2, 10, QChar('0'));
}

QString ProgressText(int position, qint64 elapsedMs)
{
    QString text = QString("%1%   %2 elapsed").arg(position).arg(DurationText(elapsedMs));
    if (position > 0 && position < 100)
        text += QString(", about %1 left").arg(DurationText(elapsedMs * (100 - position) / position));
    return text;
}

void TWindowModel::SetRunning(bool running, qint64 elapsedMs)
{
    if (running) {
        m_tally = {};
        m_finalMs.reset();
    } else if (m_running) {
        StopClock(elapsedMs);
    }
    m_running = running;
}

void TWindowModel::StopClock(qint64 elapsedMs)
{
    if (m_running && !m_finalMs)
        m_finalMs = elapsedMs;
}

void TWindowModel::FileDone(const TFileOutcome& outcome)
{
    if (outcome.Skipped) {
        ++m_tally.Skipped;
        return;
    }
    ++m_tally.Attempted;
    if (outcome.Failed) {
        m_tally.Failures << FailureLine(outcome);
        m_tally.Failed.push_back(outcome);
    }
    else if (outcome.Saved)
        ++m_tally.Converted;
}

QString TWindowModel::ProgressFormat(qint64 elapsedMs) const
{
    if (m_running)
        return ProgressText(m_position, m_finalMs.value_or(elapsedMs));
    if (m_finalMs)
        return "Last run: " + DurationText(*m_finalMs);
    return "%p%";
}

}  // namespace rastova
