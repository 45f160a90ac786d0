#include "hosts/MetafileSupport.h"

#include "image/PGraphic.h"
#include "metafile/Metafile.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace rastova {

namespace {

// Qt's own diagnostics (a damaged image inside a metafile, a missing runtime
// folder) are not the converter's messages; only serious ones get through.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

void EnsureGuiApplication()
{
    if (QGuiApplication::instance())
        return;
    qInstallMessageHandler(QuietMessages);
    // Without a display the offscreen platform still gives fonts and painting.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "rastova";
    static char* argv[] = {name, nullptr};
    // Kept until the process ends: destroying it among the exit handlers would
    // run after Qt's own globals are gone.
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
}

class TQtMetafileHolder : public TMetafileHolder {
public:
    void LoadFromFile(const std::string& fileName) override
    {
        EnsureGuiApplication();
        m_metafile.LoadFromFile(fileName);
    }
    int Width() const override { return m_metafile.Width(); }
    int Height() const override { return m_metafile.Height(); }
    void Draw(TPixelGraphic& bitmap, int left, int top) override
    {
        // The surface the picture is drawn on starts white, as a new bitmap's canvas does.
        std::fill(bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize(), std::uint8_t(0xFF));
        m_metafile.Draw(bitmap, left, top);
    }

private:
    TMetafile m_metafile;
};

}  // namespace

void StartMetafilePlayback()
{
    EnsureGuiApplication();
}

bool IsMetafileName(const std::string& fileName)
{
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || fileName.find('/', dot) != std::string::npos)
        return false;
    std::string ext = fileName.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".wmf" || ext == ".emf";
}

TMetafileHolder& WindowlessMetafileHolder()
{
    static TQtMetafileHolder holder;
    return holder;
}

}  // namespace rastova
