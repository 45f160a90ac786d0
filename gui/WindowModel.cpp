#include "gui/WindowModel.h"

#include <algorithm>

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
}

TConversionOptions JobOptions(const TWindowOptions& options)
{
    TConversionOptions job;
    job.Destination = options.Destination.toStdString();
    job.TargetFormat = options.TargetFormat;
    job.ColorResolution = options.ColorResolution;
    job.Mirror = options.Mirror;
    job.Rotate = options.Rotate;
    return job;
}

QString FailureLine(const TFileOutcome& outcome)
{
    return QString::fromStdString(outcome.SourcePath) + ": " + JobStepFailureText(outcome.FailedStep) + ": " +
           QString::fromStdString(outcome.Message);
}

TEndReport EndReport(const std::string& jobMessage, const TRunTally& tally)
{
    TEndReport report{QString::fromStdString(jobMessage), tally.Failures};
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
    if (outcome.Failed)
        m_tally.Failures << FailureLine(outcome);
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
