// The EXIF and ICC paths on arbitrary bytes: the same bytes as an EXIF block
// (reading, patching, the tree a TIFF file keeps, and every writer that stores
// EXIF), as an ICC profile (the checks, the sRGB conversion of true-colour,
// gray and palette pictures, CMYK rows) and as Photoshop resources.
#include "formats/Jpeg.h"
#include "formats/Png.h"
#include "formats/Register.h"
#include "formats/Tiff.h"
#include "image/ColorProfile.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace rastova;

namespace {

void ExifPaths(const TBytes& bytes)
{
    TBytes exif = bytes;
    const int orientation = ExifOrientation(exif);
    if (orientation < 0 || orientation > 8)
        std::abort();
    SetExifOrientation(exif, 1);
    SetExifPixelSize(exif, 70000, 3);
    if (exif.size() != bytes.size())
        std::abort();
    // The tree a TIFF file keeps must come back the same once built.
    TExifTree tree;
    if (ReadExifTree(bytes, tree)) {
        const TBytes built = BuildExif(tree);
        TExifTree again;
        if (!ReadExifTree(built, again) || BuildExif(again) != built)
            std::abort();
    }
    TPixelGraphic image;
    image.SetSize(3, 2, bc24);
    image.Metadata().Exif = bytes;
    TMemoryStream tiff, jpeg, png;
    TTIFFileFormatWriter().Write(tiff, image);
    TJPGFileFormatWriter().Write(jpeg, image);
    TPNGFileFormatWriter().Write(png, image);
    tiff.SetPosition(0);
    TPixelGraphic back;
    back.SetReadWarningAction(pgwaIgnore);
    TTIFFileFormatReader().Read(tiff, back, 0);
}

void ProfilePaths(const TBytes& bytes)
{
    TImageMetadata metadata;
    const bool accepted = AcceptProfile(metadata, bytes);
    if (accepted != (bytes.empty() || ProfileSpace(bytes) != psUnusable))
        std::abort();
    TPixelGraphic color;
    color.SetSize(4, 3, bc24);
    for (int x = 0; x < 4; ++x)
        color.SetColor(x, 1, RGBValue(std::uint8_t(60 * x), 200, 17));
    ConvertToSRGB(color, bytes);
    TPixelGraphic gray;
    gray.SetSize(5, 2, bc8);
    gray.SetPaletteIdent(pGray256);
    ConvertToSRGB(gray, bytes);
    TPixelGraphic palette;
    palette.SetSize(5, 2, bc4);
    palette.SetPaletteIdent(pSys16);
    ConvertToSRGB(palette, bytes);
    const TCmykTransform cmyk(bytes);
    if (cmyk.Valid()) {
        const std::uint8_t in[8] = {0, 0, 0, 0, 255, 128, 3, 90};
        std::uint8_t out[6];
        cmyk.Row(in, out, 2);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PGInitialize();
    const TBytes bytes(data, data + size);
    try {
        ExifPaths(bytes);
    } catch (const EPixelGraphic&) {
    }
    ProfilePaths(bytes);
    IptcOfPhotoshopResources(data, size);
    return 0;
}
