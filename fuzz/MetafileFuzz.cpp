// Metafile header reader and record player on arbitrary bytes, drawing onto a
// small offscreen image.
#include "metafile/Metafile.h"

#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace rastova;

namespace {

// The application lives until the process ends: destroying it among the exit
// handlers would run after Qt's own globals are gone.
void EnsureGuiApplication()
{
    if (QGuiApplication::instance())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    EnsureGuiApplication();
    TMetafile metafile;
    try {
        metafile.LoadFromBytes(std::vector<std::uint8_t>(data, data + size));
    } catch (const EPGMetafile&) {
        return 0;
    }
    // The picture is played whole; only the canvas is kept small.
    QImage image(std::min(metafile.Width(), 256), std::min(metafile.Height(), 256), QImage::Format_RGB32);
    image.fill(Qt::white);
    metafile.Draw(image, 1, 1);
    return 0;
}
