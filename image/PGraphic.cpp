#include "image/PGraphic.h"

#include "image/ByteOrder.h"
#include "image/PGColorState.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PackedPixels.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace rastova {

namespace {

constexpr int kBitmapInfoHeaderSize = 40;

}  // namespace

TPixelGraphic::TPixelGraphic() : m_gamma(DisplayGamma), m_colorState(std::make_unique<TColorState>()) {}

TPixelGraphic::~TPixelGraphic() = default;

TColorState& TPixelGraphic::ColorState()
{
    return *m_colorState;
}

int TPixelGraphic::BitCountNumOf(TBitCount bitCount)
{
    switch (bitCount) {
    case bc1: return 1;
    case bc4: return 4;
    case bc8: return 8;
    case bc24: return 24;
    case bc32: return 32;
    }
    return 24;
}

TBitCount TPixelGraphic::BitCountFromNum(int bitCountNum)
{
    switch (bitCountNum) {
    case 1: return bc1;
    case 4: return bc4;
    case 8: return bc8;
    case 24: return bc24;
    case 32: return bc32;
    default: throw EPGInvalidBitCountNum(MessageText(kMsgInvalidValueFor, "BitCountNum"));
    }
}

int TPixelGraphic::PaletteCapacityOf(TBitCount bitCount)
{
    switch (bitCount) {
    case bc1: return 2;
    case bc4: return 16;
    case bc8: return 256;
    case bc24:
    case bc32: return 0;
    }
    return 0;
}

void TPixelGraphic::SetWidth(int value)
{
    if (value != m_width)
        SetSize(value, m_height, m_bitCount);
}

void TPixelGraphic::SetHeight(int value)
{
    if (value != m_height)
        SetSize(m_width, value, m_bitCount);
}

void TPixelGraphic::SetBitCount(TBitCount value)
{
    if (value != m_bitCount)
        SetSize(m_width, m_height, value);
}

void TPixelGraphic::ReleasePixels()
{
    if (m_bits) {
        m_spare = std::move(m_bits);
        m_spareCapacity = m_capacity;
    }
    m_capacity = 0;
}

void TPixelGraphic::SetSize(int width, int height, TBitCount bitCount)
{
    if (width < 0)
        throw EPGInvalidSize(MessageText(kMsgNegativeWidth));
    if (height < 0)
        throw EPGInvalidSize(MessageText(kMsgNegativeHeight));
    if (width == m_width && height == m_height && bitCount == m_bitCount) {
        Clear();
        return;
    }
    m_width = width;
    m_height = height;
    m_bitCount = bitCount;

    // 64-bit arithmetic: a hostile header must not wrap the size into something small.
    const std::int64_t stride = (std::int64_t(BitCountNumOf(bitCount)) * width + 31) / 32 * 4;
    const std::int64_t size = stride * height;
    const bool fits = stride <= std::numeric_limits<std::int32_t>::max() &&
                      size <= std::numeric_limits<std::int32_t>::max();
    m_rowStride = fits ? int(stride) : 0;
    m_imageSize = fits ? int(size) : 0;
    ReleasePixels();
    if (fits && size == 0) {
        Changed();
        return;
    }
    if (PaletteCount() > PaletteCapacity())
        SetPaletteCount(PaletteCapacity());
    if (IsTrueColorFormat())
        m_paletteIdent = pTrueColor;
    m_headerColorsUsed = PaletteCapacity();
    // A batch turns one picture after another through the same images: the
    // memory of the pixels before is zeroed and taken again, which costs far
    // less than the system's fresh zero pages, as long as it is not much more
    // than the image needs.
    if (fits && m_spare && std::size_t(size) <= m_spareCapacity && std::size_t(size) >= m_spareCapacity / 4) {
        m_bits = std::move(m_spare);
        m_capacity = m_spareCapacity;
        std::memset(m_bits.get(), 0, std::size_t(size));
    } else {
        m_spare.reset();
        if (fits)
            m_bits.reset(static_cast<std::uint8_t*>(std::calloc(std::size_t(size), 1)));
        m_capacity = m_bits ? std::size_t(size) : 0;
    }
    if (!m_bits) {
        m_rowStride = int(std::min<std::int64_t>(stride, std::numeric_limits<std::int32_t>::max()));
        m_imageSize = int(std::min<std::int64_t>(size, std::numeric_limits<std::int32_t>::max()));
        throw EPixelGraphic(MessageText(kMsgFailed, "CreateDIBSection"));
    }
    Changed();
}

void TPixelGraphic::Clear()
{
    if (!m_bits || m_width == 0 || m_height == 0)
        return;
    const std::uint32_t value = m_backGroundColor;
    if (value == 0) {
        std::memset(m_bits.get(), 0, std::size_t(m_imageSize));
    } else if (m_bitCount == bc8) {
        for (int y = 0; y < m_height; ++y)
            std::memset(ScanLine(y), int(value & 0xFF), std::size_t(m_width));
    } else {
        // Build one row, then copy it: every row of a cleared image is the same.
        std::uint8_t* first = ScanLine(0);
        for (int x = 0; x < m_width; ++x)
            SetPixel(x, 0, value);
        for (int y = 1; y < m_height; ++y)
            std::memcpy(ScanLine(y), first, std::size_t(m_rowStride));
    }
    Changed();
}

std::vector<std::uint8_t> TPixelGraphic::BitmapInfo() const
{
    const int capacity = PaletteCapacity();
    std::vector<std::uint8_t> info(std::size_t(kBitmapInfoHeaderSize + capacity * 4), 0);
    std::uint8_t* h = info.data();
    PutU32LE(h + 0, kBitmapInfoHeaderSize);
    PutU32LE(h + 4, std::uint32_t(m_width));
    PutU32LE(h + 8, std::uint32_t(m_height));
    PutU16LE(h + 12, 1);
    PutU16LE(h + 14, std::uint16_t(BitCountNum()));
    PutU32LE(h + 20, std::uint32_t(m_imageSize));
    PutU32LE(h + 32, std::uint32_t(m_headerColorsUsed));
    for (int i = 0; i < capacity; ++i) {
        TRGB c = 0;
        if (i < PaletteCount())
            c = m_paletteColors[std::size_t(i)];
        else if (!m_paletteColors.empty())
            c = m_paletteColors[0];
        std::uint8_t* q = h + kBitmapInfoHeaderSize + i * 4;
        q[0] = BlueOf(c);
        q[1] = GreenOf(c);
        q[2] = RedOf(c);
    }
    return info;
}

// ---- pixels -----------------------------------------------------------------------

std::uint32_t TPixelGraphic::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height || !m_bits) {
        if (m_raiseOnRangeError)
            throw EPGXYIndexOutOfRange(MessageText(kMsgXYIndexOutOfRange));
        return m_backGroundColor;
    }
    const std::uint8_t* row = ScanLine(y);
    switch (m_bitCount) {
    case bc1: return GetPacked1(row, x);
    case bc4: return GetPacked4(row, x);
    case bc8: return row[x];
    case bc24: {
        const std::uint8_t* p = row + 3 * std::size_t(x);
        return RGBValue(p[2], p[1], p[0]);
    }
    case bc32: {
        const std::uint8_t* p = row + 4 * std::size_t(x);
        return WithAlpha(RGBValue(p[2], p[1], p[0]), p[3]);
    }
    }
    return 0;
}

void TPixelGraphic::SetPixel(int x, int y, std::uint32_t value)
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height || !m_bits) {
        if (m_raiseOnRangeError)
            throw EPGXYIndexOutOfRange(MessageText(kMsgXYIndexOutOfRange));
        return;
    }
    std::uint8_t* row = ScanLine(y);
    switch (m_bitCount) {
    case bc1: SetPacked1(row, x, value == 1); break;
    case bc4: SetPacked4(row, x, value); break;
    case bc8: row[x] = std::uint8_t(value); break;
    case bc24: {
        std::uint8_t* p = row + 3 * std::size_t(x);
        p[0] = BlueOf(value);
        p[1] = GreenOf(value);
        p[2] = RedOf(value);
        break;
    }
    case bc32: {
        std::uint8_t* p = row + 4 * std::size_t(x);
        p[0] = BlueOf(value);
        p[1] = GreenOf(value);
        p[2] = RedOf(value);
        p[3] = AlphaOf(value);
        break;
    }
    }
}

TRGB TPixelGraphic::GetColor(int x, int y) const
{
    const std::uint32_t value = GetPixel(x, y);
    if (m_bitCount == bc32)
        return value & 0x00FFFFFFu;
    return m_bitCount == bc24 ? value : GetPaletteColor(int(value));
}

void TPixelGraphic::SetColor(int x, int y, TRGB color)
{
    if (m_bitCount == bc24)
        SetPixel(x, y, color);
    else if (m_bitCount == bc32)
        SetPixel(x, y, WithAlpha(color, 255));
    else
        SetPixel(x, y, std::uint32_t(NearestPaletteIndex(color)));
}

TRGB TPixelGraphic::GetBackGroundColor() const
{
    if (m_bitCount == bc32)
        return m_backGroundColor & 0x00FFFFFFu;
    return m_bitCount == bc24 ? m_backGroundColor : GetPaletteColor(int(m_backGroundColor));
}

void TPixelGraphic::SetBackGroundColor(TRGB color)
{
    if (m_bitCount == bc32)
        m_backGroundColor = color & 0x00FFFFFFu;
    else
        m_backGroundColor = m_bitCount == bc24 ? color : std::uint32_t(NearestPaletteIndex(color));
}

// ---- palette ----------------------------------------------------------------------

TRGB TPixelGraphic::GetPaletteColor(int index) const
{
    if (m_paletteIdent == pTrueColor)
        return TRGB(index);
    if (index < 0 || index >= PaletteCount())
        throw EPGInvalidPaletteIndex(MessageText(kMsgInvalidPaletteIndex));
    return m_paletteColors[std::size_t(index)];
}

void TPixelGraphic::InvalidatePaletteCaches()
{
    m_paletteHandleStale = true;
    m_colorState->LastColorValid = false;
    ClearColorCache();
}

void TPixelGraphic::SetPaletteColor(int index, TRGB color)
{
    if (m_paletteIdent == pNone || m_paletteIdent == pTrueColor)
        throw EPGNoPalette(MessageText(kMsgNoPalette));
    if (index < 0 || index >= PaletteCount())
        throw EPGInvalidPaletteIndex(MessageText(kMsgInvalidPaletteIndex));
    m_paletteColors[std::size_t(index)] = color & 0x00FFFFFF;
    m_paletteIdent = pUnknown;
    InvalidatePaletteCaches();
}

void TPixelGraphic::SetPaletteCount(int count)
{
    count = std::clamp(count, 0, 256);
    if (count != PaletteCount()) {
        m_paletteColors.resize(std::size_t(count), 0);
        m_paletteIdent = count > 0 ? pUnknown : pNone;
        m_headerColorsUsed = count;
    }
    InvalidatePaletteCaches();
}

void TPixelGraphic::AssignPalette(const TPixelGraphic& source)
{
    SetPaletteCount(source.PaletteCount());
    for (int i = 0; i < source.PaletteCount(); ++i)
        SetPaletteColor(i, source.m_paletteColors[std::size_t(i)]);
    DetectPaletteIdent();
}

const std::vector<TRGB>& TPixelGraphic::GetPaletteHandle()
{
    if (m_paletteHandleStale) {
        if (m_paletteIdent != pTrueColor)
            m_paletteHandle = m_paletteColors;
        else
            m_paletteHandle.clear();
        m_paletteHandleStale = false;
    }
    return m_paletteHandle;
}

int TPixelGraphic::ColorResolution() const
{
    switch (m_bitCount) {
    case bc1: return m_paletteIdent == pBlackWhite ? crBlackWhite : cr2Colors;
    case bc4: return m_paletteIdent == pGray16 ? cr16Gray : m_paletteIdent == pSys16 ? cr16System : cr16Colors;
    case bc8: return m_paletteIdent == pGray256 ? cr256Gray : cr256Colors;
    case bc24:
    case bc32: return crTrueColor;
    }
    return crTrueColor;
}

// ---- settings ---------------------------------------------------------------------

void TPixelGraphic::SetUseColorCache(bool value)
{
    if (value == m_useColorCache)
        return;
    m_useColorCache = value;
    m_colorState->LastColorValid = false;
    Changed();
}

void TPixelGraphic::SetRGBWeighting(bool value)
{
    if (value == m_rgbWeighting)
        return;
    m_rgbWeighting = value;
    m_colorState->LastColorValid = false;
}

// ---- change notification and progress ---------------------------------------------

void TPixelGraphic::BeginUpdate()
{
    ++m_updateCount;
}

void TPixelGraphic::EndUpdate()
{
    --m_updateCount;
    Changed();
}

void TPixelGraphic::Changed(TObject* sender)
{
    if (m_updateCount == 0 && m_onChange)
        m_onChange(sender);
}

void TPixelGraphic::ProgressStart(TObject* sender)
{
    if (m_onProgressStart)
        m_onProgressStart(sender);
}

bool TPixelGraphic::Progress(TObject* sender, int step, int max)
{
    bool abort = false;
    if (m_onProgress)
        m_onProgress(sender, step, max, abort);
    return abort;
}

void TPixelGraphic::ProgressEnd(TObject* sender)
{
    if (m_onProgressEnd)
        m_onProgressEnd(sender);
}

// ---- Assign -----------------------------------------------------------------------

void TPixelGraphic::Assign(const TPixelGraphic* source)
{
    BeginUpdate();
    struct EndUpdateGuard {
        TPixelGraphic& g;
        ~EndUpdateGuard() { g.EndUpdate(); }
    } guard{*this};
    if (source == this)
        return;
    if (!source) {
        SetSize(0, 0, bc24);
        return;
    }
    SetSize(source->m_width, source->m_height, source->m_bitCount);
    if (m_bits && source->m_bits)
        std::memcpy(m_bits.get(), source->m_bits.get(), std::size_t(m_imageSize));
    SetPaletteIdent(source->m_paletteIdent);
    SetPaletteCount(source->PaletteCount());
    m_backGroundColor = source->m_backGroundColor;
    m_dither = source->m_dither;
    m_ditherErrorLimit = source->m_ditherErrorLimit;
    m_ditherErrorLimitAuto = source->m_ditherErrorLimitAuto;
    m_ditherErrorLimitSoft = source->m_ditherErrorLimitSoft;
    m_useColorCache = source->m_useColorCache;
    m_gamma = source->m_gamma;
    m_rgbWeighting = source->m_rgbWeighting;
    m_rotateInterpolation = source->m_rotateInterpolation;
    m_stretchMode = source->m_stretchMode;
    m_readWarningAction = source->m_readWarningAction;
    m_transparent = source->m_transparent;
    m_transparentColor = source->m_transparentColor;
    m_raiseOnRangeError = source->m_raiseOnRangeError;
    m_saveColorResWarningAction = source->m_saveColorResWarningAction;
    m_colorState->LastColorValid = false;
    for (int i = 0; i < source->PaletteCount(); ++i)
        SetPaletteColor(i, source->m_paletteColors[std::size_t(i)]);
    DetectPaletteIdent();
}

}  // namespace rastova
