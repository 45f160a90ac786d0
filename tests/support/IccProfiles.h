// ICC profiles made in place with Little CMS from published numbers, for the
// tests and the benchmarks (header-only: lcms comes with the image core).
#pragma once

#include "image/Metadata.h"

#include <lcms2.h>

#include <array>

namespace rastova::test {

inline constexpr double kAdobeGamma = 563.0 / 256.0;
inline constexpr std::array<double, 2> kD65 = {0.3127, 0.3290};
inline constexpr std::array<std::array<double, 2>, 3> kAdobePrimaries = {{{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}}};

// Serialises and closes the profile.
inline TBytes SavedProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    TBytes bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// Adobe RGB (1998) from its primaries, D65 white and gamma, described as such;
// extraBytes adds a private tag, so that the profile needs several JPEG segments.
inline TBytes AdobeRgbProfile(std::size_t extraBytes = 0)
{
    const cmsCIExyY white = {kD65[0], kD65[1], 1.0};
    cmsCIExyYTRIPLE primaries;
    cmsCIExyY* p[3] = {&primaries.Red, &primaries.Green, &primaries.Blue};
    for (std::size_t i = 0; i < 3; ++i)
        *p[i] = {kAdobePrimaries[i][0], kAdobePrimaries[i][1], 1.0};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, kAdobeGamma);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    cmsMLU* name = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(name, "en", "US", "Adobe RGB (1998)");
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, name);
    cmsMLUfree(name);
    if (extraBytes > 0) {
        const TBytes filler(extraBytes, 0x5A);
        cmsWriteRawTag(profile, cmsTagSignature(0x7A7A7A7A), filler.data(), cmsUInt32Number(filler.size()));
    }
    return SavedProfile(profile);
}

}  // namespace rastova::test
