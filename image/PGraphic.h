// TPixelGraphic: the one in-memory raster image of the library.
//
// Pixels live in one buffer laid out as a device-independent bitmap: rows
// bottom-up, each row padded to a multiple of 4 bytes, 24-bit pixels stored
// blue, green, red (32-bit pixels blue, green, red, alpha), 1-bit pixels MSB
// leftmost, 4-bit pixels high nibble first.
// Readers, writers and conversions address rows through ScanLine.
#pragma once

#include "image/PGTypes.h"

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace rastova {

class TStream;
struct TPGSettings;
class TFormatRegistry;
struct TColorState;  // nearest-colour caches and dithering buffers (PGColor)

// Library-wide settings of the image core.
extern long double DisplayGamma;  // 2.2: an sRGB display
extern bool GammaCorrection;      // true: loads are corrected to DisplayGamma
extern bool FlattenAlphaOnLoad;   // true: loads lay alpha over the background at once

// Colour resolution codes: what writers can store and the save path converts to.
enum TColorResolution : std::uint8_t {
    crBlackWhite = 0,
    cr2Colors = 1,
    cr16Gray = 2,
    cr16System = 3,
    cr16Colors = 4,
    cr256Gray = 5,
    cr256Colors = 6,
    crTrueColor = 7,
};
using TColorResolutions = std::uint8_t;  // bit k set: code k is in the set
constexpr TColorResolutions ResolutionBit(int code) { return TColorResolutions(1u << code); }

// Clipboard format codes of packed device-independent bitmaps.
constexpr std::uint32_t CF_BITMAP = 2;
constexpr std::uint32_t CF_DIB = 8;

class TPixelGraphic : public TObject {
public:
    TPixelGraphic();
    ~TPixelGraphic() override;

    // ---- size, format and memory -------------------------------------------------
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    void SetWidth(int value);
    void SetHeight(int value);
    TBitCount BitCount() const { return m_bitCount; }
    // bc32: every pixel has an alpha of its own.
    bool HasAlpha() const { return m_bitCount == bc32; }
    // bc24 or bc32: pixels are colours, not palette indices.
    bool IsTrueColorFormat() const { return m_bitCount == bc24 || m_bitCount == bc32; }
    void SetBitCount(TBitCount value);
    int BitCountNum() const { return BitCountNumOf(m_bitCount); }
    static int BitCountNumOf(TBitCount bitCount);
    static TBitCount BitCountFromNum(int bitCountNum);  // EPGInvalidBitCountNum for others
    int PaletteCapacity() const { return PaletteCapacityOf(m_bitCount); }
    static int PaletteCapacityOf(TBitCount bitCount);
    int RowStride() const { return m_rowStride; }
    int ImageSize() const { return m_imageSize; }
    bool GetEmpty() const { return m_bits == nullptr; }
    std::uint8_t* Bits() { return m_bits.get(); }
    const std::uint8_t* Bits() const { return m_bits.get(); }
    std::uint8_t* GetBits() { return m_bits.get(); }

    // The only allocator. Raises EPGInvalidSize for negative sizes and
    // EPixelGraphic "CreateDIBSection failed" when the memory cannot be had.
    void SetSize(int width, int height, TBitCount bitCount);
    void Clear();

    // Start of image row y (0 = top); nullptr when empty. No range check.
    std::uint8_t* ScanLine(int y)
    {
        return m_bits ? m_bits.get() + std::size_t(m_rowStride) * std::size_t(m_height - 1 - y) : nullptr;
    }
    const std::uint8_t* ScanLine(int y) const
    {
        return m_bits ? m_bits.get() + std::size_t(m_rowStride) * std::size_t(m_height - 1 - y) : nullptr;
    }

    // 40-byte BITMAPINFOHEADER followed by the colour table (capacity x RGBQUAD).
    std::vector<std::uint8_t> BitmapInfo() const;

    // ---- pixels ------------------------------------------------------------------
    // Raw values: a palette index, a colour (bc24), or a colour with its alpha
    // in the top byte (bc32). GetColor of a bc32 pixel is its colour without the
    // alpha; SetColor stores the colour opaque.
    std::uint32_t GetPixel(int x, int y) const;
    void SetPixel(int x, int y, std::uint32_t value);
    TRGB GetColor(int x, int y) const;
    void SetColor(int x, int y, TRGB color);
    TRGB GetBackGroundColor() const;
    TRGB BackGroundColor() const { return GetBackGroundColor(); }
    void SetBackGroundColor(TRGB color);
    // The stored background value: a colour for bc24 and bc32, else a palette
    // index. A bc32 image's background is where its alpha is flattened onto;
    // Clear and reads outside it give that colour fully transparent.
    std::uint32_t BackGroundValue() const { return m_backGroundColor; }

    // ---- palette -----------------------------------------------------------------
    int PaletteCount() const { return int(m_paletteColors.size()); }
    const TRGB* PaletteColors() const { return m_paletteColors.data(); }
    TPaletteIdent PaletteIdent() const { return m_paletteIdent; }
    bool IsGray() const { return m_isGray; }
    TRGB GetPaletteColor(int index) const;
    virtual void SetPaletteColor(int index, TRGB color);
    virtual void SetPaletteCount(int count);
    virtual void SetPaletteIdent(TPaletteIdent ident);
    void AssignPalette(const TPixelGraphic& source);
    void DetectPaletteIdent();
    virtual int NearestPaletteIndex(TRGB color);
    virtual void ClearColorCache();
    // What a display uses in place of a logical palette: the palette entries,
    // empty for true colour; rebuilt only when the palette changed.
    const std::vector<TRGB>& GetPaletteHandle();
    // The colour resolution code (0..7) of the current format and palette kind.
    int ColorResolution() const;

    // ---- settings ----------------------------------------------------------------
    bool Dither() const { return m_dither; }
    void SetDither(bool value) { m_dither = value; }
    std::uint8_t DitherErrorLimit() const { return m_ditherErrorLimit; }
    void SetDitherErrorLimit(std::uint8_t value) { m_ditherErrorLimit = value; }
    bool DitherErrorLimitAuto() const { return m_ditherErrorLimitAuto; }
    void SetDitherErrorLimitAuto(bool value) { m_ditherErrorLimitAuto = value; }
    bool DitherErrorLimitSoft() const { return m_ditherErrorLimitSoft; }
    void SetDitherErrorLimitSoft(bool value) { m_ditherErrorLimitSoft = value; }
    bool UseColorCache() const { return m_useColorCache; }
    virtual void SetUseColorCache(bool value);
    bool RGBWeighting() const { return m_rgbWeighting; }
    virtual void SetRGBWeighting(bool value);
    bool JPEGFastDCT() const { return m_jpegFastDCT; }
    void SetJPEGFastDCT(bool value) { m_jpegFastDCT = value; }
    bool SkipRealizePalette() const { return m_skipRealizePalette; }
    void SetSkipRealizePalette(bool value) { m_skipRealizePalette = value; }
    long double Gamma() const { return m_gamma; }
    void SetGamma(long double value) { m_gamma = value; }
    std::uint8_t RotateInterpolation() const { return m_rotateInterpolation; }
    TStretchMode StretchMode() const { return m_stretchMode; }
    void SetStretchMode(TStretchMode value) { m_stretchMode = value; }
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool value) { m_transparent = value; }
    TColor TransparentColor() const { return m_transparentColor; }
    void SetTransparentColor(TColor value) { m_transparentColor = value; }
    TPGWarningAction ReadWarningAction() const { return m_readWarningAction; }
    void SetReadWarningAction(TPGWarningAction value) { m_readWarningAction = value; }
    TPGWarningAction SaveColorResWarningAction() const { return m_saveColorResWarningAction; }
    void SetSaveColorResWarningAction(TPGWarningAction value) { m_saveColorResWarningAction = value; }
    bool RaiseOnRangeError() const { return m_raiseOnRangeError; }
    void SetRaiseOnRangeError(bool value) { m_raiseOnRangeError = value; }

    // ---- change notification and progress ----------------------------------------
    int UpdateCount() const { return m_updateCount; }
    void BeginUpdate();
    void EndUpdate();
    void Changed(TObject* sender);
    void Changed() { Changed(this); }

    const TNotifyEvent& OnChange() const { return m_onChange; }
    void SetOnChange(TNotifyEvent handler) { m_onChange = std::move(handler); }
    const TPGProgressEvent& OnProgress() const { return m_onProgress; }
    void SetOnProgress(TPGProgressEvent handler) { m_onProgress = std::move(handler); }
    const TNotifyEvent& OnProgressStart() const { return m_onProgressStart; }
    void SetOnProgressStart(TNotifyEvent handler) { m_onProgressStart = std::move(handler); }
    const TNotifyEvent& OnProgressEnd() const { return m_onProgressEnd; }
    void SetOnProgressEnd(TNotifyEvent handler) { m_onProgressEnd = std::move(handler); }

    // Fire the events if set. Progress returns the handler's Abort (false without one).
    void ProgressStart(TObject* sender);
    bool Progress(TObject* sender, int step, int max);
    void ProgressEnd(TObject* sender);

    // ---- whole-image copies --------------------------------------------------------
    // nullptr empties the image (0 x 0, bc24).
    void Assign(const TPixelGraphic* source);

    // ---- loading and saving ----------------------------------------------------------
    // The core forms: the formats come from the registry given, the library-wide
    // settings from the copy given.
    void LoadFromStreamExt(TStream& stream, const std::string& ext, int imageIndex, const TPGSettings& settings,
                           const TFormatRegistry& formats);
    void LoadFromFileIndex(const std::string& fileName, int imageIndex, const TPGSettings& settings,
                           const TFormatRegistry& formats);
    void SaveToStreamExt(TStream& stream, const std::string& ext, const TPGSettings& settings,
                         const TFormatRegistry& formats);
    void SaveToFile(const std::string& fileName, const TPGSettings& settings, const TFormatRegistry& formats);

    // The forms over the built-in formats; they come with the formats library.
    // Those without settings use a copy of the process-wide values taken at their start.
    void LoadFromFile(const std::string& fileName);
    void LoadFromFileIndex(const std::string& fileName, int imageIndex);
    void LoadFromStream(TStream& stream);
    void LoadFromStreamExt(TStream& stream, const std::string& ext, int imageIndex);
    void SaveToFile(const std::string& fileName);
    void SaveToStreamExt(TStream& stream, const std::string& ext);
    void LoadFromFile(const std::string& fileName, const TPGSettings& settings);
    void LoadFromFileIndex(const std::string& fileName, int imageIndex, const TPGSettings& settings);
    void LoadFromStreamExt(TStream& stream, const std::string& ext, int imageIndex, const TPGSettings& settings);
    void SaveToFile(const std::string& fileName, const TPGSettings& settings);
    void SaveToStreamExt(TStream& stream, const std::string& ext, const TPGSettings& settings);
    void SaveToStream(TStream& stream);
    void ReadData(TStream& stream);
    void WriteData(TStream& stream);
    // Packed DIB exchange as memory blocks (format CF_BITMAP or CF_DIB).
    void LoadFromClipboardFormat(std::uint32_t format, const std::uint8_t* data, std::size_t size,
                                 std::uint32_t palette = 0);
    void SaveToClipboardFormat(std::uint32_t& format, std::vector<std::uint8_t>& data,
                               std::uint32_t& palette);
    // Packed DIB coding (header, colour entries, pixels), implemented with the BMP format.
    void ReadDIB(TStream& stream, bool coreHeader);
    void WriteDIB(TStream& stream);

    // ---- colour conversion --------------------------------------------------------------
    void CopyRect(int destX, int destY, const TPixelGraphic& source, int srcX, int srcY, int width,
                  int height);
    void CopyFrom(const TPixelGraphic& source);
    // A bc32 image becomes bc24, every pixel laid over BackGroundColor; other
    // formats stay as they are.
    void FlattenAlpha();
    // True when some pixel of a bc32 image is not fully opaque.
    bool AnyTranslucentPixel() const;
    void CreateOptimalPalette(const TPixelGraphic& source, int colorCount, bool reserveSys16);

    // ---- geometry ---------------------------------------------------------------------------
    void MirrorHorizontal();
    void MirrorVertical();
    void Rotate(const TPixelGraphic& source, int srcLeft, int srcTop, int srcWidth, int srcHeight,
                int srcCenterX, int srcCenterY, int destCenterX, int destCenterY, long double angle);
    void StretchCopyRect(int destX, int destY, int destWidth, int destHeight,
                         const TPixelGraphic& source, int srcX, int srcY, int srcWidth,
                         int srcHeight);

    // Colour conversion work state (caches, dither rows); owned by PGColor.
    TColorState& ColorState();

private:
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };

    void ReleasePixels();
    void InvalidatePaletteCaches();

    TRGB m_backGroundColor = 0;
    TBitCount m_bitCount = bc24;
    std::unique_ptr<std::uint8_t[], FreeDeleter> m_bits;
    std::size_t m_capacity = 0;  // bytes m_bits holds, possibly more than the image needs
    // The pixels of the image before, kept for the next allocation (see SetSize).
    std::unique_ptr<std::uint8_t[], FreeDeleter> m_spare;
    std::size_t m_spareCapacity = 0;
    bool m_dither = true;
    std::uint8_t m_ditherErrorLimit = 32;
    bool m_ditherErrorLimitAuto = true;
    bool m_ditherErrorLimitSoft = true;
    bool m_useColorCache = true;
    bool m_jpegFastDCT = false;
    int m_height = 0;
    bool m_skipRealizePalette = false;
    bool m_isGray = false;
    long double m_gamma;
    int m_imageSize = 0;
    int m_rowStride = 0;
    int m_headerColorsUsed = 0;  // the header's colours-used field
    TNotifyEvent m_onChange;
    TPGProgressEvent m_onProgress;
    TNotifyEvent m_onProgressEnd;
    TNotifyEvent m_onProgressStart;
    std::vector<TRGB> m_paletteHandle;
    bool m_paletteHandleStale = true;
    std::vector<TRGB> m_paletteColors;
    TPaletteIdent m_paletteIdent = pTrueColor;
    bool m_rgbWeighting = true;
    std::uint8_t m_rotateInterpolation = 1;
    TStretchMode m_stretchMode = smPrecise;
    bool m_transparent = false;
    TColor m_transparentColor = 0;
    int m_updateCount = 0;
    TPGWarningAction m_readWarningAction = pgwaOKCancelBox;
    bool m_raiseOnRangeError = false;
    TPGWarningAction m_saveColorResWarningAction = pgwaOKCancelBox;
    int m_width = 0;
    std::unique_ptr<TColorState> m_colorState;

    friend struct TColorAccess;
};

// One progress bracket: starts it, and ends it when the scope is left, also
// when an exception passes, so a host's progress display never stays open.
// An end handler that fails on a normal exit fails the operation, as it would
// without the scope; while another exception passes, that one is reported.
class TProgressScope {
public:
    TProgressScope(TPixelGraphic& graphic, TObject* sender)
        : m_graphic(graphic), m_sender(sender), m_uncaught(std::uncaught_exceptions())
    {
        m_graphic.ProgressStart(m_sender);
    }
    ~TProgressScope() noexcept(false)
    {
        if (std::uncaught_exceptions() == m_uncaught) {
            m_graphic.ProgressEnd(m_sender);
            return;
        }
        try {
            m_graphic.ProgressEnd(m_sender);
        } catch (...) {
        }
    }
    TProgressScope(const TProgressScope&) = delete;
    TProgressScope& operator=(const TProgressScope&) = delete;

private:
    TPixelGraphic& m_graphic;
    TObject* m_sender;
    int m_uncaught;
};

// Gray sum 0..765 of a colour; weighted uses the luminance weights times three.
int GrayValue(TRGB color, bool weighted);

}  // namespace rastova
