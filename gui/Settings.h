// The settings file "Rastova.ini": where it lives, and reading and writing the
// main window's values in one place.
#pragma once

#include "job/JobChoices.h"
#include "job/OutputNames.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace rastova {

inline const char* const kSettingsFileName = "Rastova.ini";

struct TSettings {
    // [Path] and [Ext]
    QString OpenPath;  // source folder
    QString SavePath;  // destination text, as typed
    int ExtIndex = 0;  // filter combo item
    // [Window]; a missing key keeps the window where and as large as it is.
    std::optional<int> Left, Top, Width, Height;
    int ViewStyle = 0;  // of the file list: 0 list, 1 details
    // [Options]
    TTargetFormat TargetFormat = tfBMP;
    TJobColorResolution ColorResolution = jcrTrueColor;
    TJobMirror Mirror = jmNone;
    TJobRotate Rotate = jrNone;
    bool BestPalette = false;  // 16 and 256 colours from the best palette
    int JpegQuality = 75;  // last position of the quality dialog
    // [Options] of the batch, as the command line has them
    bool FitWithin = false;
    int FitWidth = 1920, FitHeight = 1080;
    bool AutoRotate = false;
    TExistingPolicy Existing = epOverwrite;
    bool IncludeSubfolders = false;
    QString Background;  // "#rrggbb"; empty: the picture's own
    int Jobs = 0;          // parallel conversions; 0 means one per processor
    bool KeepMetadata = true;  // off: EXIF, XMP, IPTC and comments are stripped
};

// The settings file beside the program when that folder is writable, else in
// the user's configuration folder ($XDG_CONFIG_HOME/Rastova, default ~/.config/Rastova).
QString SettingsFilePath(const QString& programDir);

// Reads what the file holds; missing keys keep the values already in settings.
// Returns false when the file exists but cannot be read or parsed; the caller
// then falls back to the root folder (ApplyReadFailure).
bool ReadSettings(const QString& fileName, TSettings& settings);
// Source and destination at the file-system root, first filter: used when the
// settings cannot be read.
void ApplyReadFailure(TSettings& settings);
// Writes every key; failures are ignored (the values are simply not remembered).
void WriteSettings(const QString& fileName, const TSettings& settings);

// Presets: the destination and the conversion options of settings stored under
// a name in the settings file, beside the window's own.
QStringList PresetNames(const QString& fileName);
// Replaces a preset of that name.
void WritePreset(const QString& fileName, const QString& name, const TSettings& settings);
// The preset's keys into settings; false, settings untouched, when there is none of that name.
bool ReadPreset(const QString& fileName, const QString& name, TSettings& settings);
void DeletePreset(const QString& fileName, const QString& name);

}  // namespace rastova
