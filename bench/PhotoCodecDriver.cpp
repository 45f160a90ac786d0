// One load and one save through the library on a single codec thread, with one
// quality for every lossy format: the driver behind bench/photo_codecs.sh, which
// times it against the formats' own tools.
// Usage: rastova-photo-driver IN OUT [QUALITY]
#include "formats/PhotoCodecs.h"
#include "formats/Register.h"
#include "image/PGSettings.h"
#include "image/PGraphic.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    using namespace rastova;
    if (argc < 3) {
        std::fprintf(stderr, "usage: rastova-photo-driver IN OUT [QUALITY]\n");
        return 2;
    }
    PGInitialize();
    TPGSettings settings = DefaultSettings();
    settings.PhotoCodecThreads = 1;
    settings.PxMWriteBinary = true;  // as the tools write PPM
    if (argc > 3)
        settings.JPEGQuality = settings.WebPQuality = settings.HEICQuality = settings.AVIFQuality =
            settings.JXLQuality = std::stoi(argv[3]);
    try {
        TPixelGraphic image;
        image.LoadFromFile(argv[1], settings);
        image.SaveToFile(argv[2], settings);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
