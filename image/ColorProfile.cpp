#include "image/ColorProfile.h"

#include "image/PGraphic.h"

#include <lcms2.h>

#include <array>
#include <cstring>

namespace rastova {

namespace {

// Owners of lcms handles; a null handle is safe to release.
struct TProfileCloser {
    void operator()(void* p) const
    {
        if (p)
            cmsCloseProfile(p);
    }
};
struct TTransformCloser {
    void operator()(void* p) const
    {
        if (p)
            cmsDeleteTransform(p);
    }
};
using TProfile = std::unique_ptr<void, TProfileCloser>;
using TTransform = std::unique_ptr<void, TTransformCloser>;

constexpr cmsUInt32Number kIntent = INTENT_RELATIVE_COLORIMETRIC;
constexpr cmsUInt32Number kFlags = cmsFLAGS_BLACKPOINTCOMPENSATION;

TProfile OpenProfile(const TBytes& icc)
{
    if (icc.empty() || icc.size() > kMaxMetadataBlock)
        return TProfile();
    return TProfile(cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size())));
}

TProfileSpace SpaceOf(cmsHPROFILE profile)
{
    if (!profile)
        return psUnusable;
    const cmsProfileClassSignature kind = cmsGetDeviceClass(profile);
    if (kind != cmsSigInputClass && kind != cmsSigDisplayClass && kind != cmsSigOutputClass &&
        kind != cmsSigColorSpaceClass)
        return psUnusable;
    switch (cmsGetColorSpace(profile)) {
    case cmsSigGrayData: return psGray;
    case cmsSigRgbData: return psRGB;
    case cmsSigCmykData: return psCMYK;
    default: return psUnusable;
    }
}

// The gray of sRGB: its tone curve on the D50 white lcms works in.
TProfile SRGBGray()
{
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, parameters);
    if (!curve)
        return TProfile();
    TProfile gray(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return gray;
}

TTransform MakeTransform(cmsHPROFILE from, cmsUInt32Number inFormat, cmsHPROFILE to, cmsUInt32Number outFormat)
{
    if (!from || !to)
        return TTransform();
    return TTransform(cmsCreateTransform(from, inFormat, to, outFormat, kIntent, kFlags));
}

// 24-bit rows, or 32-bit rows whose alpha is carried over untouched.
bool ConvertRows(TPixelGraphic& graphic, cmsHPROFILE profile)
{
    const TProfile srgb(cmsCreate_sRGBProfile());
    const bool alpha = graphic.BitCount() == bc32;
    const cmsUInt32Number format = alpha ? TYPE_BGRA_8 : TYPE_BGR_8;
    const TTransform transform(
        profile && srgb ? cmsCreateTransform(profile, format, srgb.get(), format, kIntent,
                                             kFlags | (alpha ? cmsFLAGS_COPY_ALPHA : 0))
                        : nullptr);
    if (!transform)
        return false;
    // lcms transforms in place when input and output have the same layout.
    for (int y = 0; y < graphic.Height(); ++y) {
        std::uint8_t* row = graphic.ScanLine(y);
        cmsDoTransform(transform.get(), row, row, cmsUInt32Number(graphic.Width()));
    }
    return true;
}

bool ConvertGrayLevels(TPixelGraphic& graphic, cmsHPROFILE profile)
{
    const TProfile gray = SRGBGray();
    const TTransform transform = MakeTransform(profile, TYPE_GRAY_8, gray.get(), TYPE_GRAY_8);
    if (!transform)
        return false;
    std::array<std::uint8_t, 256> levels;
    for (int i = 0; i < 256; ++i)
        levels[std::size_t(i)] = std::uint8_t(i);
    std::array<std::uint8_t, 256> mapped{};
    cmsDoTransform(transform.get(), levels.data(), mapped.data(), 256);
    for (int y = 0; y < graphic.Height(); ++y) {
        std::uint8_t* row = graphic.ScanLine(y);
        for (int x = 0; x < graphic.Width(); ++x)
            row[x] = mapped[row[x]];
    }
    return true;
}

bool ConvertPalette(TPixelGraphic& graphic, cmsHPROFILE profile, bool grayProfile)
{
    const TProfile srgb(cmsCreate_sRGBProfile());
    const int count = graphic.PaletteCount();
    std::vector<std::uint8_t> in(std::size_t(count) * 3), out(std::size_t(count) * 3);
    for (int i = 0; i < count; ++i) {
        const TRGB color = graphic.GetPaletteColor(i);
        in[std::size_t(3 * i)] = RedOf(color);
        in[std::size_t(3 * i + 1)] = GreenOf(color);
        in[std::size_t(3 * i + 2)] = BlueOf(color);
    }
    // A gray profile reads the red of each entry.
    const TTransform transform =
        MakeTransform(profile, grayProfile ? (TYPE_GRAY_8 | EXTRA_SH(2)) : TYPE_RGB_8, srgb.get(), TYPE_RGB_8);
    if (!transform)
        return false;
    cmsDoTransform(transform.get(), in.data(), out.data(), cmsUInt32Number(count));
    for (int i = 0; i < count; ++i)
        graphic.SetPaletteColor(
            i, RGBValue(out[std::size_t(3 * i)], out[std::size_t(3 * i + 1)], out[std::size_t(3 * i + 2)]));
    return true;
}

// lcms reads a tag only when asked: a profile cut short or with broken curves
// shows here, at a fraction of what building a transform would cost.
bool TagsReadable(cmsHPROFILE profile, TProfileSpace space)
{
    const auto readable = [profile](cmsTagSignature tag) { return cmsReadTag(profile, tag) != nullptr; };
    if (readable(cmsSigAToB0Tag))
        return true;
    if (space == psGray)
        return readable(cmsSigGrayTRCTag);
    return space == psRGB && readable(cmsSigRedColorantTag) && readable(cmsSigGreenColorantTag) &&
           readable(cmsSigBlueColorantTag) && readable(cmsSigRedTRCTag) && readable(cmsSigGreenTRCTag) &&
           readable(cmsSigBlueTRCTag);
}

}  // namespace

TProfileSpace ProfileSpace(const TBytes& icc)
{
    const TProfile profile = OpenProfile(icc);
    const TProfileSpace space = SpaceOf(profile.get());
    return space != psUnusable && TagsReadable(profile.get(), space) ? space : psUnusable;
}

bool AcceptProfile(TImageMetadata& metadata, TBytes icc)
{
    metadata.IccProfile.clear();
    if (icc.empty())
        return true;
    if (ProfileSpace(icc) == psUnusable)
        return false;
    metadata.IccProfile = std::move(icc);
    return true;
}

bool ConvertToSRGB(TPixelGraphic& graphic, const TBytes& icc)
{
    const TProfile profile = OpenProfile(icc);
    const TProfileSpace space = SpaceOf(profile.get());
    if (graphic.GetEmpty() || (space != psRGB && space != psGray))
        return false;
    if (graphic.BitCount() == bc24 || graphic.BitCount() == bc32)
        return space == psRGB && ConvertRows(graphic, profile.get());
    if (graphic.BitCount() == bc8 && graphic.PaletteIdent() == pGray256 && space == psGray)
        return ConvertGrayLevels(graphic, profile.get());
    const bool changed = ConvertPalette(graphic, profile.get(), space == psGray);
    graphic.DetectPaletteIdent();
    return changed;
}

bool ConvertMetadataProfileToSRGB(TPixelGraphic& graphic)
{
    if (graphic.Metadata().IccProfile.empty())
        return false;
    const bool changed = ConvertToSRGB(graphic, graphic.Metadata().IccProfile);
    graphic.Metadata().IccProfile.clear();
    return changed;
}

TCmykTransform::TCmykTransform(const TBytes& icc)
{
    const TProfile profile = OpenProfile(icc);
    if (SpaceOf(profile.get()) != psCMYK)
        return;
    const TProfile srgb(cmsCreate_sRGBProfile());
    // Strips decode on several threads at once; without the cache one transform serves them all.
    m_transform =
        cmsCreateTransform(profile.get(), TYPE_CMYK_8, srgb.get(), TYPE_BGR_8, kIntent, kFlags | cmsFLAGS_NOCACHE);
}

TCmykTransform::~TCmykTransform()
{
    if (m_transform)
        cmsDeleteTransform(m_transform);
}

void TCmykTransform::Row(const std::uint8_t* cmyk, std::uint8_t* bgr, int width) const
{
    cmsDoTransform(m_transform, cmyk, bgr, cmsUInt32Number(width));
}

TBytes SRGBProfile()
{
    const TProfile srgb(cmsCreate_sRGBProfile());
    cmsUInt32Number size = 0;
    if (!srgb || !cmsSaveProfileToMem(srgb.get(), nullptr, &size))
        return {};
    TBytes bytes(size);
    if (!cmsSaveProfileToMem(srgb.get(), bytes.data(), &size))
        return {};
    bytes.resize(size);
    return bytes;
}

}  // namespace rastova
