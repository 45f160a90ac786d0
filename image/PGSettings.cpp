#include "image/PGSettings.h"

#include "image/PGExceptions.h"
#include "image/PGraphic.h"

#include <cstdint>
#include <string>

namespace rastova {

// The one store of the process-wide defaults. The variables the core and the
// format headers declare (DisplayGamma, JPEGQuality, ...) are names for its
// members, so a host's edit of one is what the next DefaultSettings() copies.
TPGSettings LibraryDefaults;

long double& DisplayGamma = LibraryDefaults.DisplayGamma;
bool& GammaCorrection = LibraryDefaults.GammaCorrection;
std::uint64_t& MaxImagePixels = LibraryDefaults.MaxImagePixels;
bool& FlattenAlphaOnLoad = LibraryDefaults.FlattenAlphaOnLoad;
bool& Correct16BitColors = LibraryDefaults.Correct16BitColors;
bool& IcoTrueColor = LibraryDefaults.IcoTrueColor;
TColor& IcoMaskColor = LibraryDefaults.IcoMaskColor;
std::string& IcoNotAnIconMessage = LibraryDefaults.IcoNotAnIconMessage;
std::string& IcoSizesWord = LibraryDefaults.IcoSizesWord;
std::string& IcoColorsWord = LibraryDefaults.IcoColorsWord;
int& JPEGQuality = LibraryDefaults.JPEGQuality;
bool& JPEGProgressive = LibraryDefaults.JPEGProgressive;
bool& PNGUseFileBackground = LibraryDefaults.PNGUseFileBackground;
bool& PNGWriteGamma = LibraryDefaults.PNGWriteGamma;
bool& PxMWriteBinary = LibraryDefaults.PxMWriteBinary;
bool& TIFFScanAllIFDs = LibraryDefaults.TIFFScanAllIFDs;
int& TIFFMaxIFDCount = LibraryDefaults.TIFFMaxIFDCount;
int& TIFFReadThreads = LibraryDefaults.TIFFReadThreads;
TTIFFWriteCompression& TIFFWriteCompression = LibraryDefaults.TIFFWriteCompression;
bool& TIFFWriteCMYK = LibraryDefaults.TIFFWriteCMYK;
bool& TIFFWriteWhiteIsZero = LibraryDefaults.TIFFWriteWhiteIsZero;
bool& TIFFWriteMotorola = LibraryDefaults.TIFFWriteMotorola;
TTIFFResolutionUnit& TIFFWriteResolutionUnit = LibraryDefaults.TIFFWriteResolutionUnit;
std::uint32_t& TIFFWriteXResNum = LibraryDefaults.TIFFWriteXResNum;
std::uint32_t& TIFFWriteXResDen = LibraryDefaults.TIFFWriteXResDen;
std::uint32_t& TIFFWriteYResNum = LibraryDefaults.TIFFWriteYResNum;
std::uint32_t& TIFFWriteYResDen = LibraryDefaults.TIFFWriteYResDen;
int& WebPQuality = LibraryDefaults.WebPQuality;
bool& WebPLossless = LibraryDefaults.WebPLossless;
int& HEICQuality = LibraryDefaults.HEICQuality;
int& AVIFQuality = LibraryDefaults.AVIFQuality;
bool& AVIFLossless = LibraryDefaults.AVIFLossless;
int& JXLQuality = LibraryDefaults.JXLQuality;
bool& JXLLossless = LibraryDefaults.JXLLossless;
int& PhotoCodecThreads = LibraryDefaults.PhotoCodecThreads;

TPGSettings DefaultSettings()
{
    return LibraryDefaults;
}

namespace {

thread_local const TPGSettings* t_current = nullptr;

}  // namespace

const TPGSettings& Settings()
{
    if (t_current)
        return *t_current;
    thread_local TPGSettings fresh;
    fresh = DefaultSettings();
    return fresh;
}

TSettingsScope::TSettingsScope(const TPGSettings& settings) : m_previous(t_current)
{
    t_current = &settings;
}

TSettingsScope::~TSettingsScope()
{
    t_current = m_previous;
}

void CheckImagePixels(std::int64_t width, std::int64_t height)
{
    const std::uint64_t limit = Settings().MaxImagePixels;
    if (limit == 0 || width <= 0 || height <= 0)
        return;
    if (std::uint64_t(width) * std::uint64_t(height) > limit)
        throw EPGInvalidSize("Image size " + std::to_string(width) + " x " + std::to_string(height) +
                             " exceeds the limit of " + std::to_string(limit) + " pixels");
}

TPGSettings SettingsForNewCall()
{
    return t_current ? *t_current : DefaultSettings();
}

}  // namespace rastova
