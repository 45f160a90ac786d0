// What a conversion does with a picture's metadata: it comes off the image
// after the load, the pixel steps never see it, and it goes back onto the
// image that is saved, adjusted to what the steps did.
#pragma once

#include "image/Metadata.h"

#include <string>

namespace rastova {

class TPixelGraphic;

// The metadata of a freshly loaded image, taken off it.
TImageMetadata TakeMetadata(TPixelGraphic& image);

// Whether the writer for the output path stores an ICC profile.
bool TargetCarriesProfile(const std::string& outputPath);

// Before the colour step. Keeping: a target that stores the profile keeps it
// and the pixels; any other gets the pixels converted to sRGB and no profile.
// Stripping: EXIF, XMP, IPTC and comments go, and the pixels are converted to
// sRGB so that losing the profile does not change the look.
void PrepareMetadata(TPixelGraphic& image, TImageMetadata& metadata, bool keep, bool targetCarriesProfile);

// After the picture was turned upright by its orientation: it now stands as
// stored, so the tag says 1.
void MarkTurnedUpright(TImageMetadata& metadata);

}  // namespace rastova
