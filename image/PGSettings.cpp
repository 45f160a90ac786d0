#include "image/PGSettings.h"

#include "image/PGExceptions.h"
#include "image/PGraphic.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include <jpeglib.h>

namespace rastova {

extern bool FlattenAlphaOnLoad;
extern bool Correct16BitColors;
extern bool IcoTrueColor;
extern TColor IcoMaskColor;
extern std::string IcoNotAnIconMessage;
extern std::string IcoSizesWord;
extern std::string IcoColorsWord;
extern int JPEGQuality;
extern bool JPEGProgressive;
extern J_DCT_METHOD JPEGWriteDCTMethod;
extern J_DCT_METHOD JPEGReadDCTMethod;
extern bool PNGUseFileBackground;
extern bool PNGWriteGamma;
extern bool PxMWriteBinary;
extern bool TIFFScanAllIFDs;
extern int TIFFMaxIFDCount;
extern int TIFFReadThreads;
extern TTIFFWriteCompression TIFFWriteCompression;
extern bool TIFFWriteCMYK;
extern bool TIFFWriteWhiteIsZero;
extern bool TIFFWriteMotorola;
extern TTIFFResolutionUnit TIFFWriteResolutionUnit;
extern std::uint32_t TIFFWriteXResNum;
extern std::uint32_t TIFFWriteXResDen;
extern std::uint32_t TIFFWriteYResNum;
extern std::uint32_t TIFFWriteYResDen;
extern int WebPQuality;
extern bool WebPLossless;
extern int HEICQuality;
extern int AVIFQuality;
extern bool AVIFLossless;
extern int JXLQuality;
extern bool JXLLossless;
extern int PhotoCodecThreads;

// The process-wide defaults. They are declared beside the code that reads them
// (image/PGraphic.h and the format headers) and kept together here, so one copy
// can be taken without the core knowing any format. Their values are the
// settings value's own member defaults, so each default is written once.
namespace {
const TPGSettings kBuiltIn{};
}  // namespace
static_assert(int(JDCT_ISLOW) == dctIntegerSlow && int(JDCT_IFAST) == dctIntegerFast && int(JDCT_FLOAT) == dctFloat,
              "the settings value stores libjpeg's DCT methods as their numbers");

long double DisplayGamma = kBuiltIn.DisplayGamma;
bool GammaCorrection = kBuiltIn.GammaCorrection;
std::uint64_t MaxImagePixels = kBuiltIn.MaxImagePixels;
bool FlattenAlphaOnLoad = kBuiltIn.FlattenAlphaOnLoad;
bool Correct16BitColors = kBuiltIn.Correct16BitColors;
bool IcoTrueColor = kBuiltIn.IcoTrueColor;
TColor IcoMaskColor = kBuiltIn.IcoMaskColor;
std::string IcoNotAnIconMessage = kBuiltIn.IcoNotAnIconMessage;
std::string IcoSizesWord = kBuiltIn.IcoSizesWord;
std::string IcoColorsWord = kBuiltIn.IcoColorsWord;
int JPEGQuality = kBuiltIn.JPEGQuality;
bool JPEGProgressive = kBuiltIn.JPEGProgressive;
J_DCT_METHOD JPEGWriteDCTMethod = J_DCT_METHOD(kBuiltIn.JPEGWriteDCTMethod);
J_DCT_METHOD JPEGReadDCTMethod = J_DCT_METHOD(kBuiltIn.JPEGReadDCTMethod);
bool PNGUseFileBackground = kBuiltIn.PNGUseFileBackground;
bool PNGWriteGamma = kBuiltIn.PNGWriteGamma;
bool PxMWriteBinary = kBuiltIn.PxMWriteBinary;
bool TIFFScanAllIFDs = kBuiltIn.TIFFScanAllIFDs;
int TIFFMaxIFDCount = kBuiltIn.TIFFMaxIFDCount;
int TIFFReadThreads = kBuiltIn.TIFFReadThreads;
TTIFFWriteCompression TIFFWriteCompression = kBuiltIn.TIFFWriteCompression;
bool TIFFWriteCMYK = kBuiltIn.TIFFWriteCMYK;
bool TIFFWriteWhiteIsZero = kBuiltIn.TIFFWriteWhiteIsZero;
bool TIFFWriteMotorola = kBuiltIn.TIFFWriteMotorola;
TTIFFResolutionUnit TIFFWriteResolutionUnit = kBuiltIn.TIFFWriteResolutionUnit;
std::uint32_t TIFFWriteXResNum = kBuiltIn.TIFFWriteXResNum;
std::uint32_t TIFFWriteXResDen = kBuiltIn.TIFFWriteXResDen;
std::uint32_t TIFFWriteYResNum = kBuiltIn.TIFFWriteYResNum;
std::uint32_t TIFFWriteYResDen = kBuiltIn.TIFFWriteYResDen;
int WebPQuality = kBuiltIn.WebPQuality;
bool WebPLossless = kBuiltIn.WebPLossless;
int HEICQuality = kBuiltIn.HEICQuality;
int AVIFQuality = kBuiltIn.AVIFQuality;
bool AVIFLossless = kBuiltIn.AVIFLossless;
int JXLQuality = kBuiltIn.JXLQuality;
bool JXLLossless = kBuiltIn.JXLLossless;
int PhotoCodecThreads = kBuiltIn.PhotoCodecThreads;

TPGSettings DefaultSettings()
{
    TPGSettings s;
    s.DisplayGamma = DisplayGamma;
    s.GammaCorrection = GammaCorrection;
    s.MaxImagePixels = MaxImagePixels;
    s.FlattenAlphaOnLoad = FlattenAlphaOnLoad;
    s.Correct16BitColors = Correct16BitColors;
    s.IcoTrueColor = IcoTrueColor;
    s.IcoMaskColor = IcoMaskColor;
    s.IcoNotAnIconMessage = IcoNotAnIconMessage;
    s.IcoSizesWord = IcoSizesWord;
    s.IcoColorsWord = IcoColorsWord;
    s.JPEGQuality = JPEGQuality;
    s.JPEGProgressive = JPEGProgressive;
    s.JPEGWriteDCTMethod = TDCTMethod(JPEGWriteDCTMethod);
    s.JPEGReadDCTMethod = TDCTMethod(JPEGReadDCTMethod);
    s.PNGUseFileBackground = PNGUseFileBackground;
    s.PNGWriteGamma = PNGWriteGamma;
    s.PxMWriteBinary = PxMWriteBinary;
    s.TIFFScanAllIFDs = TIFFScanAllIFDs;
    s.TIFFMaxIFDCount = TIFFMaxIFDCount;
    s.TIFFReadThreads = TIFFReadThreads;
    s.TIFFWriteCompression = TIFFWriteCompression;
    s.TIFFWriteCMYK = TIFFWriteCMYK;
    s.TIFFWriteWhiteIsZero = TIFFWriteWhiteIsZero;
    s.TIFFWriteMotorola = TIFFWriteMotorola;
    s.TIFFWriteResolutionUnit = TIFFWriteResolutionUnit;
    s.TIFFWriteXResNum = TIFFWriteXResNum;
    s.TIFFWriteXResDen = TIFFWriteXResDen;
    s.TIFFWriteYResNum = TIFFWriteYResNum;
    s.TIFFWriteYResDen = TIFFWriteYResDen;
    s.WebPQuality = WebPQuality;
    s.WebPLossless = WebPLossless;
    s.HEICQuality = HEICQuality;
    s.AVIFQuality = AVIFQuality;
    s.AVIFLossless = AVIFLossless;
    s.JXLQuality = JXLQuality;
    s.JXLLossless = JXLLossless;
    s.PhotoCodecThreads = PhotoCodecThreads;
    return s;
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
