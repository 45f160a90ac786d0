#include "gui/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace rastova {

namespace {

// Values with a comma come back from the INI reader as lists; the settings
// are plain texts, so put them back together.
QString TextValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(',');
    return value.toString();
}

void ReadText(QSettings& ini, const char* key, QString& target)
{
    const QVariant value = ini.value(key);
    if (value.isValid())
        target = TextValue(value);
}

template <typename Int>
void ReadInt(QSettings& ini, const char* key, Int& target)
{
    const QVariant value = ini.value(key);
    bool ok = false;
    const int number = TextValue(value).trimmed().toInt(&ok);
    if (value.isValid() && ok)
        target = Int(number);
}

}  // namespace

QString SettingsFilePath(const QString& programDir)
{
    const QFileInfo dir(programDir);
    if (!programDir.isEmpty() && dir.isDir() && dir.isWritable())
        return QDir(programDir).filePath(kSettingsFileName);
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + "/.config";
    return QDir(config).filePath(QString("Rastova/") + kSettingsFileName);
}

bool ReadSettings(const QString& fileName, TSettings& settings)
{
    const QFileInfo file(fileName);
    if (file.exists() && (!file.isFile() || !file.isReadable()))
        return false;
    QSettings ini(fileName, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return false;
    ReadText(ini, "Path/Open", settings.OpenPath);
    ReadText(ini, "Path/Save", settings.SavePath);
    ReadInt(ini, "Ext/Index", settings.ExtIndex);
    ReadInt(ini, "Window/Left", settings.Left);
    ReadInt(ini, "Window/Top", settings.Top);
    ReadInt(ini, "Window/Width", settings.Width);
    ReadInt(ini, "Window/Height", settings.Height);
    ReadInt(ini, "Options/TargetFormat", settings.TargetFormat);
    ReadInt(ini, "Options/ColorResolution", settings.ColorResolution);
    ReadInt(ini, "Options/Mirror", settings.Mirror);
    ReadInt(ini, "Options/Rotate", settings.Rotate);
    settings.BestPalette = ini.value("Options/BestPalette", settings.BestPalette).toBool();
    ReadInt(ini, "Options/JpegQuality", settings.JpegQuality);
    ReadInt(ini, "Options/Jobs", settings.Jobs);
    ReadInt(ini, "Options/KeepMetadata", settings.KeepMetadata);
    return true;
}

void ApplyReadFailure(TSettings& settings)
{
    settings.OpenPath = QDir::rootPath();
    settings.SavePath = QDir::rootPath();
    settings.ExtIndex = 0;
}

void WriteSettings(const QString& fileName, const TSettings& settings)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QSettings ini(fileName, QSettings::IniFormat);
    ini.setValue("Path/Open", settings.OpenPath);
    ini.setValue("Path/Save", settings.SavePath);
    ini.setValue("Ext/Index", settings.ExtIndex);
    const auto writeOptional = [&ini](const char* key, const std::optional<int>& value) {
        if (value)
            ini.setValue(key, *value);
    };
    writeOptional("Window/Left", settings.Left);
    writeOptional("Window/Top", settings.Top);
    writeOptional("Window/Width", settings.Width);
    writeOptional("Window/Height", settings.Height);
    ini.setValue("Options/TargetFormat", int(settings.TargetFormat));
    ini.setValue("Options/ColorResolution", int(settings.ColorResolution));
    ini.setValue("Options/Mirror", int(settings.Mirror));
    ini.setValue("Options/Rotate", int(settings.Rotate));
    ini.setValue("Options/BestPalette", settings.BestPalette);
    ini.setValue("Options/JpegQuality", settings.JpegQuality);
    ini.setValue("Options/Jobs", settings.Jobs);
    ini.setValue("Options/KeepMetadata", int(settings.KeepMetadata));
    ini.sync();
}

}  // namespace rastova
