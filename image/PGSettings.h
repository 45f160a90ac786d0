// The library-wide settings as one value. The process-wide values are the
// defaults a host edits; every load and save copies them once at its start and
// reads only that copy, so a host changing a setting while another thread
// loads or saves cannot tear a file, and a host may pass a copy of its own.
#pragma once

#include "image/PGTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace rastova {

// Images claiming more pixels than this are refused before anything is
// allocated; 0 means no limit.
extern std::uint64_t& MaxImagePixels;  // 2^30

// libjpeg's DCT methods (J_DCT_METHOD) by their numbers, so the core needs no codec header.
enum TDCTMethod : std::uint8_t { dctIntegerSlow = 0, dctIntegerFast = 1, dctFloat = 2 };

// Compression of written TIFF files, as the Compression tag holds it; the
// writer refuses any other value.
enum TTIFFWriteCompression : int { twcNone = 1, twcLZW = 5, twcDeflate = 8, twcPackBits = 32773 };
// Chroma subsampling of written JPEG files; jsDefault is libjpeg's own (4:2:0).
enum TJPEGSampling : int { jsDefault, js444, js422, js420 };
// Unit of the written resolution, stored as ResolutionUnit value + 1.
enum TTIFFResolutionUnit : int { truNone = 0, truInch = 1, truCentimetre = 2 };

struct TPGSettings {
    // image core
    long double DisplayGamma = 2.2L;  // an sRGB display
    bool GammaCorrection = true;
    std::uint64_t MaxImagePixels = std::uint64_t(1) << 30;
    // Readers keep alpha in a 32-bit image; true: a loaded image with alpha is
    // laid over its BackGroundColor at once, for hosts that show only opaque pictures.
    bool FlattenAlphaOnLoad = false;
    // BMP
    bool Correct16BitColors = true;
    // icon reader
    bool IcoTrueColor = true;
    TColor IcoMaskColor = 0xFFFFFF;
    std::string IcoNotAnIconMessage = "Not an Icon file";
    std::string IcoSizesWord = "Sizes";
    std::string IcoColorsWord = "Colors";
    // JPEG
    int JPEGQuality = 80;
    bool JPEGProgressive = false;
    TDCTMethod JPEGWriteDCTMethod = dctFloat;
    TDCTMethod JPEGReadDCTMethod = dctIntegerSlow;
    TJPEGSampling JPEGSampling = jsDefault;
    // PNG
    bool PNGUseFileBackground = true;
    bool PNGWriteGamma = true;
    // The image data deflated in blocks on several threads (formats/PngBlocks.h)
    // instead of as libpng's one stream; the bytes do not depend on the threads.
    bool PNGBlockCompression = false;
    int PNGWriteThreads = 0;  // 0: one per online processor
    std::size_t PNGBlockBytes = 0;  // filtered bytes per block, whole rows; 0: 256 KB
    int PNGCompressionLevel = -1;  // zlib's 0..9; -1: zlib's default
    // BMP and Targa: run-length encoded files (BMP at 4 and 8 bits only)
    bool BMPWriteRLE = false;
    bool TGAWriteRLE = false;
    // PBM, PGM, PPM
    bool PxMWriteBinary = false;
    // TIFF
    bool TIFFScanAllIFDs = false;
    int TIFFMaxIFDCount = 1000;
    int TIFFReadThreads = 0;  // 0: one per online processor
    TTIFFWriteCompression TIFFWriteCompression = twcNone;
    int TIFFWriteDeflateLevel = -1;  // zlib's 0..9 for twcDeflate; -1: zlib's default
    bool TIFFWriteCMYK = false;
    bool TIFFWriteWhiteIsZero = false;
    bool TIFFWriteMotorola = false;
    TTIFFResolutionUnit TIFFWriteResolutionUnit = truInch;
    std::uint32_t TIFFWriteXResNum = 300;
    std::uint32_t TIFFWriteXResDen = 1;
    std::uint32_t TIFFWriteYResNum = 300;
    std::uint32_t TIFFWriteYResDen = 1;
    // WebP, HEIC, AVIF and JPEG XL: quality 1..100 of lossy coding, defaults
    // chosen to match the reference encoders (cwebp, heif-enc, avifenc, cjxl)
    int WebPQuality = 75;
    bool WebPLossless = false;
    int HEICQuality = 50;
    int AVIFQuality = 60;
    bool AVIFLossless = false;
    int JXLQuality = 90;  // butteraugli distance 1.0
    bool JXLLossless = false;
    int PhotoCodecThreads = 0;  // threads of those codecs for one image; 0: one per online processor
};

// The process-wide defaults a host edits, in one place; the library-wide
// variables (DisplayGamma, JPEGQuality, TIFFWriteCompression, ...) name its members.
extern TPGSettings LibraryDefaults;

// A copy of the process-wide values as they are now.
TPGSettings DefaultSettings();

// The settings of the load or save running on this thread; outside one, a
// fresh copy of the process-wide values. Readers and writers read only this.
const TPGSettings& Settings();

// Makes settings the ones Settings() returns on this thread until the scope
// ends; scopes nest.
class TSettingsScope {
public:
    explicit TSettingsScope(const TPGSettings& settings);
    ~TSettingsScope();
    TSettingsScope(const TSettingsScope&) = delete;
    TSettingsScope& operator=(const TSettingsScope&) = delete;

private:
    const TPGSettings* m_previous;
};

// Readers call this with the size a file claims, before allocating for it:
// EPGInvalidSize naming the size when it has more pixels than the
// MaxImagePixels of Settings() allows. Sizes that are not positive pass.
void CheckImagePixels(std::int64_t width, std::int64_t height);

// The settings a load or save without explicit ones uses: the enclosing
// scope's, or else a copy of the process-wide values.
TPGSettings SettingsForNewCall();

}  // namespace rastova
