// Metafile header reader and record player on arbitrary bytes, drawing onto a
// small offscreen image.
#include "metafile/Metafile.h"

#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace rastova;

namespace {

void EnsureGuiApplication()
{
    static std::unique_ptr<QGuiApplication> application;
    if (application)
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    application = std::make_unique<QGuiApplication>(argc, argv);
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
