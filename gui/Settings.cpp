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

void ReadText(QSettings& ini, const QString& key, QString& target)
{
    const QVariant value = ini.value(key);
    if (value.isValid())
        target = TextValue(value);
}

template <typename Int>
void ReadInt(QSettings& ini, const QString& key, Int& target)
{
    const QVariant value = ini.value(key);
    bool ok = false;
    const int number = TextValue(value).trimmed().toInt(&ok);
    if (value.isValid() && ok)
        target = Int(number);
}

// The conversion options' keys below prefix ("Options/" or a preset's group).
void ReadOptionKeys(QSettings& ini, const QString& prefix, TSettings& settings)
{
    ReadInt(ini, prefix + "TargetFormat", settings.TargetFormat);
    ReadInt(ini, prefix + "ColorResolution", settings.ColorResolution);
    ReadInt(ini, prefix + "Mirror", settings.Mirror);
    ReadInt(ini, prefix + "Rotate", settings.Rotate);
    ReadInt(ini, prefix + "JpegQuality", settings.JpegQuality);
    ReadInt(ini, prefix + "FitWithin", settings.FitWithin);
    ReadInt(ini, prefix + "FitWidth", settings.FitWidth);
    ReadInt(ini, prefix + "FitHeight", settings.FitHeight);
    ReadInt(ini, prefix + "AutoRotate", settings.AutoRotate);
    ReadInt(ini, prefix + "Existing", settings.Existing);
    ReadInt(ini, prefix + "IncludeSubfolders", settings.IncludeSubfolders);
    ReadText(ini, prefix + "Background", settings.Background);
    ReadInt(ini, prefix + "KeepMetadata", settings.KeepMetadata);
    ReadInt(ini, prefix + "BestPalette", settings.BestPalette);
}

void WriteOptionKeys(QSettings& ini, const QString& prefix, const TSettings& settings)
{
    ini.setValue(prefix + "TargetFormat", int(settings.TargetFormat));
    ini.setValue(prefix + "ColorResolution", int(settings.ColorResolution));
    ini.setValue(prefix + "Mirror", int(settings.Mirror));
    ini.setValue(prefix + "Rotate", int(settings.Rotate));
    ini.setValue(prefix + "JpegQuality", settings.JpegQuality);
    ini.setValue(prefix + "FitWithin", int(settings.FitWithin));
    ini.setValue(prefix + "FitWidth", settings.FitWidth);
    ini.setValue(prefix + "FitHeight", settings.FitHeight);
    ini.setValue(prefix + "AutoRotate", int(settings.AutoRotate));
    ini.setValue(prefix + "Existing", int(settings.Existing));
    ini.setValue(prefix + "IncludeSubfolders", int(settings.IncludeSubfolders));
    ini.setValue(prefix + "Background", settings.Background);
    ini.setValue(prefix + "KeepMetadata", int(settings.KeepMetadata));
    ini.setValue(prefix + "BestPalette", int(settings.BestPalette));
}

QString PresetGroup(const QString& name)
{
    return "Presets/" + QString::fromLatin1(name.toUtf8().toPercentEncoding()) + "/";
}

}  // namespace

QStringList PresetNames(const QString& fileName)
{
    QSettings ini(fileName, QSettings::IniFormat);
    ini.beginGroup("Presets");
    QStringList names;
    for (const QString& group : ini.childGroups())
        names << QString::fromUtf8(QByteArray::fromPercentEncoding(group.toLatin1()));
    names.sort(Qt::CaseInsensitive);
    return names;
}

void WritePreset(const QString& fileName, const QString& name, const TSettings& settings)
{
    QSettings ini(fileName, QSettings::IniFormat);
    ini.remove(PresetGroup(name).chopped(1));
    ini.setValue(PresetGroup(name) + "Destination", settings.SavePath);
    WriteOptionKeys(ini, PresetGroup(name), settings);
    ini.sync();
}

bool ReadPreset(const QString& fileName, const QString& name, TSettings& settings)
{
    QSettings ini(fileName, QSettings::IniFormat);
    if (!ini.contains(PresetGroup(name) + "TargetFormat"))
        return false;
    ReadText(ini, PresetGroup(name) + "Destination", settings.SavePath);
    ReadOptionKeys(ini, PresetGroup(name), settings);
    return true;
}

void DeletePreset(const QString& fileName, const QString& name)
{
    QSettings ini(fileName, QSettings::IniFormat);
    ini.remove(PresetGroup(name).chopped(1));
    ini.sync();
}

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
    ReadInt(ini, "Window/ViewStyle", settings.ViewStyle);
    ReadOptionKeys(ini, "Options/", settings);
    ReadInt(ini, "Options/Jobs", settings.Jobs);
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
    ini.setValue("Window/ViewStyle", settings.ViewStyle);
    WriteOptionKeys(ini, "Options/", settings);
    ini.setValue("Options/Jobs", settings.Jobs);
    ini.sync();
}

}  // namespace rastova
