// Colour management with Little CMS 2: the one place that reads ICC profiles.
// A picture whose target can carry its profile keeps profile and pixels; one
// whose target cannot is brought to sRGB here first, so it looks the same in
// programs that assume sRGB.
#pragma once

#include "image/Metadata.h"

#include <cstdint>
#include <memory>

namespace rastova {

class TPixelGraphic;

enum TProfileSpace { psUnusable, psGray, psRGB, psCMYK };

// The colour space of the profile's device side; psUnusable when lcms cannot
// read it or it is of another kind (Lab, device links, ...).
TProfileSpace ProfileSpace(const TBytes& icc);

// Converts the pixels from the profile's colours to sRGB (relative colorimetric
// with black-point compensation): bc24 rows, the gray levels of a gray image,
// or the palette entries of any other palette image. False, with the image
// untouched, when the profile cannot describe the image's pixels.
bool ConvertToSRGB(TPixelGraphic& graphic, const TBytes& icc);

// The image's own profile: converted to sRGB and the profile dropped. True when
// the pixels changed.
bool ConvertMetadataProfileToSRGB(TPixelGraphic& graphic);

// Keeps icc as the metadata's profile when lcms can use it. False, with the
// profile dropped, for a damaged or unusable one (an empty one is no profile
// and counts as accepted); readers then warn with kProfileDroppedText.
bool AcceptProfile(TImageMetadata& metadata, TBytes icc);
inline constexpr const char* kProfileDroppedText = "the ICC profile cannot be read and was dropped";
inline constexpr const char* kExifDroppedText = "the EXIF block is damaged and was dropped";

// CMYK samples through a CMYK profile into blue, green, red rows.
class TCmykTransform {
public:
    // Invalid when the profile is not a readable CMYK profile.
    explicit TCmykTransform(const TBytes& icc);
    ~TCmykTransform();
    TCmykTransform(const TCmykTransform&) = delete;
    TCmykTransform& operator=(const TCmykTransform&) = delete;

    bool Valid() const { return m_transform != nullptr; }
    // width pixels of four 8-bit samples (0 = no ink) into width BGR pixels.
    void Row(const std::uint8_t* cmyk, std::uint8_t* bgr, int width) const;

private:
    void* m_transform = nullptr;
};

// The sRGB profile lcms builds, serialised (for tests and for writers that
// must name the colours they write).
TBytes SRGBProfile();

}  // namespace rastova
