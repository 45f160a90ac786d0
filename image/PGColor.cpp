// Colour resolution conversion: nearest-colour search, error diffusion and the
// converting pixel copy.
#include "image/PGColorInternal.h"
#include "image/PGExceptions.h"
#include "image/PackedPixels.h"
#include "image/PGMessages.h"
#include "image/PGPalettes.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <type_traits>

namespace rastova {

int GrayValue(TRGB color, bool weighted)
{
    return GrayValueOf(RedOf(color), GreenOf(color), BlueOf(color), weighted);
}

// ---- nearest palette index --------------------------------------------------------------

int ExactNearestIndex(const TRGB* palette, int count, int r, int g, int b)
{
    int best = 0;
    int bestDistance = 0x7FFFFFFF;
    for (int i = 0; i < count; ++i) {
        const TRGB c = palette[i];
        const int distance = ColorDistance(r, g, b, RedOf(c), GreenOf(c), BlueOf(c));
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

namespace {

int Sys16Index(int r, int g, int b)
{
    const std::uint8_t* c = kSys16Candidates[Sys16Cell(r, g, b)];
    int result = c[0];
    if (c[1] != c[0]) {
        const auto distance = [r, g, b](int index) {
            const TRGB p = kSystemColors[std::size_t(index)];
            return ColorDistance(r, g, b, RedOf(p), GreenOf(p), BlueOf(p));
        };
        int best = distance(result);
        const int second = distance(c[1]);
        if (second < best) {
            result = c[1];
            best = second;
        }
        if (c[2] != c[1] && distance(c[2]) < best)
            result = c[2];
    }
    return result;
}

int Special252Index(int r, int g, int b)
{
    static const TSpecial252Cells& cells = Special252Cells();
    static const std::array<TRGB, 252>& palette = Special252Palette();
    const int cell = Special252Cell(r, g, b);
    const std::uint8_t* k = cells.List.data() + cells.Start[std::size_t(cell)];
    const std::uint8_t* end = cells.List.data() + cells.Start[std::size_t(cell) + 1];
    int result = *k;
    TRGB p = palette[*k];
    int best = ColorDistance(r, g, b, RedOf(p), GreenOf(p), BlueOf(p));
    for (++k; k < end; ++k) {
        p = palette[*k];
        const int distance = ColorDistance(r, g, b, RedOf(p), GreenOf(p), BlueOf(p));
        if (distance < best) {
            result = *k;
            best = distance;
        }
    }
    return result;
}

int Special125Level(int k)
{
    // 224 lies nearer to 255 than to 192, which the plain rounding misses.
    if (k == 224)
        k = 225;
    return (k + 31) / 64;
}

int Special216Level(int k)
{
    return (k + 24) / 51;
}

int SysGray4Index(int v)
{
    return v < 193 ? 0 : v < 481 ? 1 : v < 671 ? 2 : 3;
}

// Pre-fills the cell cache around every entry, radius by radius, so that each
// cell within Chebyshev distance 4 of an entry's cell belongs to the nearest one.
void BuildColorCache(TColorState& state, const TRGB* palette, int count)
{
    state.ColorCache = std::make_unique<std::uint8_t[]>(kColorCacheCells);
    state.ColorCacheValid = std::make_unique<std::uint8_t[]>(kColorCacheCells / 8);
    std::uint8_t* cache = state.ColorCache.get();
    std::uint8_t* valid = state.ColorCacheValid.get();
    const auto visit = [cache, valid](int r, int g, int b, int index) {
        if (r < 0 || r > 31 || g < 0 || g > 63 || b < 0 || b > 31)
            return;
        const int cell = r * 2048 + g * 32 + b;
        const std::uint8_t bit = std::uint8_t(1u << (cell & 7));
        if (!(valid[cell >> 3] & bit)) {
            valid[cell >> 3] |= bit;
            cache[cell] = std::uint8_t(index);
        }
    };
    for (int radius = 0; radius <= 4; ++radius)
        for (int p = 0; p < count; ++p) {
            const int cr = RedOf(palette[p]) >> 3, cg = GreenOf(palette[p]) >> 2, cb = BlueOf(palette[p]) >> 3;
            for (int face = 0; face < 6; ++face) {
                const int side = (face & 1) ? radius : -radius;
                for (int s = -radius; s <= radius; ++s)
                    for (int t = -radius; t <= radius; ++t) {
                        switch (face >> 1) {
                        case 0: visit(cr + side, cg + s, cb + t, p); break;
                        case 1: visit(cr + s, cg + side, cb + t, p); break;
                        default: visit(cr + s, cg + t, cb + side, p); break;
                        }
                    }
            }
        }
    state.PaletteCells = std::make_unique<std::uint8_t[]>(kColorCacheCells / 8);
    state.PaletteColorIndex.clear();
    for (int p = 0; p < count; ++p) {
        const int cell = ColorCacheCell(RedOf(palette[p]), GreenOf(palette[p]), BlueOf(palette[p]));
        state.PaletteCells[std::size_t(cell >> 3)] |= std::uint8_t(1u << (cell & 7));
        state.PaletteColorIndex.emplace(palette[p], std::uint8_t(p));  // the first index wins
    }
    state.ColorCacheBuilt = true;
}

[[noreturn]] void NoPalette()
{
    throw EPGNoPalette(MessageText(kMsgNoPalette));
}

// ---- palette kind resolvers: Index(r, g, b) is NearestPaletteIndex of the colour,
// GrayIndex(g) that of the gray (g, g, g), whose gray sum is 3g in both weightings.

struct TBlackWhiteResolver {
    bool weighted;
    int Index(int r, int g, int b) const { return (GrayValueOf(r, g, b, weighted) + 1) / 384; }
    int GrayIndex(int g) const { return (3 * g + 1) / 384; }
};

struct TSysGray4Resolver {
    bool weighted;
    int Index(int r, int g, int b) const { return SysGray4Index(GrayValueOf(r, g, b, weighted)); }
    int GrayIndex(int g) const { return SysGray4Index(3 * g); }
};

struct TGray4Resolver {
    bool weighted;
    int Index(int r, int g, int b) const { return (GrayValueOf(r, g, b, weighted) + 127) / 255; }
    int GrayIndex(int g) const { return (3 * g + 127) / 255; }
};

struct TGray16Resolver {
    bool weighted;
    int Index(int r, int g, int b) const { return (GrayValueOf(r, g, b, weighted) + 25) / 51; }
    int GrayIndex(int g) const { return (3 * g + 25) / 51; }
};

struct TGray236Resolver {
    bool weighted;
    const std::uint8_t* table = Gray236Index().data();
    int Index(int r, int g, int b) const { return table[GrayValueOf(r, g, b, weighted)]; }
    int GrayIndex(int g) const { return table[3 * g]; }
};

struct TGray256Resolver {
    bool weighted;
    int Index(int r, int g, int b) const { return (GrayValueOf(r, g, b, weighted) + 1) / 3; }
    int GrayIndex(int g) const { return g; }
};

struct TSpecial125Resolver {
    int Index(int r, int g, int b) const
    {
        return Special125Level(r) * 25 + Special125Level(g) * 5 + Special125Level(b);
    }
    int GrayIndex(int g) const { return Index(g, g, g); }
};

struct TSpecial216Resolver {
    int Index(int r, int g, int b) const
    {
        return Special216Level(r) * 36 + Special216Level(g) * 6 + Special216Level(b);
    }
    int GrayIndex(int g) const { return Index(g, g, g); }
};

struct TSys16Resolver {
    int Index(int r, int g, int b) const { return Sys16Index(r, g, b); }
    int GrayIndex(int g) const { return Sys16Index(g, g, g); }
};

struct TSpecial252Resolver {
    int Index(int r, int g, int b) const { return Special252Index(r, g, b); }
    int GrayIndex(int g) const { return Special252Index(g, g, g); }
};

// Arbitrary palette through the cell cache; a miss stores the exact result.
struct TCachedResolver {
    std::uint8_t* cache;
    std::uint8_t* valid;
    const TRGB* palette;
    int count;
    const std::uint8_t* paletteCells;
    const std::unordered_map<TRGB, std::uint8_t>* paletteColorIndex;
    int Index(int r, int g, int b) const
    {
        const int cell = ColorCacheCell(r, g, b);
        const std::uint8_t bit = std::uint8_t(1u << (cell & 7));
        if (paletteCells[cell >> 3] & bit) {
            const auto exact = paletteColorIndex->find(RGBValue(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)));
            if (exact != paletteColorIndex->end())
                return exact->second;
        }
        if (valid[cell >> 3] & bit)
            return cache[cell];
        const int index = ExactNearestIndex(palette, count, r, g, b);
        cache[cell] = std::uint8_t(index);
        valid[cell >> 3] |= bit;
        return index;
    }
    int GrayIndex(int g) const { return Index(g, g, g); }
};

// Arbitrary palette without the cache; remembers the last colour like the memo.
struct TExactResolver {
    const TRGB* palette;
    int count;
    TRGB last = 0xFFFFFFFF;
    int lastIndex = 0;
    int Index(int r, int g, int b)
    {
        const TRGB color = RGBValue(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
        if (color != last) {
            last = color;
            lastIndex = ExactNearestIndex(palette, count, r, g, b);
        }
        return lastIndex;
    }
    int GrayIndex(int g) { return Index(g, g, g); }
};

TCachedResolver CachedResolver(TPixelGraphic& image)
{
    TColorState& state = image.ColorState();
    if (!state.ColorCacheBuilt)
        BuildColorCache(state, image.PaletteColors(), image.PaletteCount());
    return {state.ColorCache.get(), state.ColorCacheValid.get(), image.PaletteColors(), image.PaletteCount(),
            state.PaletteCells.get(), &state.PaletteColorIndex};
}

}  // namespace

int TPixelGraphic::NearestPaletteIndex(TRGB color)
{
    TColorState& state = ColorState();
    if (state.LastColorValid && color == state.LastColor)
        return state.LastIndex;
    const int r = RedOf(color), g = GreenOf(color), b = BlueOf(color);
    const bool w = m_rgbWeighting;
    int index = 0;
    switch (m_paletteIdent) {
    case pNone: NoPalette();
    case pTrueColor: index = int(color); break;
    case pUnknown:
        if (m_paletteColors.empty())
            NoPalette();  // an empty palette has no nearest entry
        index = m_useColorCache ? CachedResolver(*this).Index(r, g, b)
                                : ExactNearestIndex(m_paletteColors.data(), PaletteCount(), r, g, b);
        break;
    case pBlackWhite: index = TBlackWhiteResolver{w}.Index(r, g, b); break;
    case pSysGray4: index = TSysGray4Resolver{w}.Index(r, g, b); break;
    case pSys16: index = Sys16Index(r, g, b); break;
    case pGray4: index = TGray4Resolver{w}.Index(r, g, b); break;
    case pGray16: index = TGray16Resolver{w}.Index(r, g, b); break;
    case pGray236: index = TGray236Resolver{w}.Index(r, g, b); break;
    case pGray256: index = TGray256Resolver{w}.Index(r, g, b); break;
    case pSpecial125: index = TSpecial125Resolver{}.Index(r, g, b); break;
    case pSpecial216: index = TSpecial216Resolver{}.Index(r, g, b); break;
    case pSpecial252: index = Special252Index(r, g, b); break;
    case pOptimized252Sys16:
    case pSource: index = 0; break;
    }
    state.LastColor = color;
    state.LastIndex = index;
    state.LastColorValid = true;
    return index;
}

void TPixelGraphic::ClearColorCache()
{
    TColorState& state = ColorState();
    state.ColorCache.reset();
    state.ColorCacheValid.reset();
    state.PaletteCells.reset();
    state.PaletteColorIndex.clear();
    state.ColorCacheBuilt = false;
}

// ---- error diffusion --------------------------------------------------------------------

namespace {

// An accumulated error in sixteenths, rounded half away from zero.
inline int ReadError(int a)
{
    return a >= 0 ? (a + 8) >> 4 : (a - 8) / 16;
}

}  // namespace

void DitherLimit(const TPixelGraphic& image, int& limit, bool& soft)
{
    if (!image.DitherErrorLimitAuto()) {
        limit = image.DitherErrorLimit();
        soft = image.DitherErrorLimitSoft();
        return;
    }
    soft = true;
    switch (image.PaletteIdent()) {
    case pBlackWhite: limit = 255; break;
    case pSysGray4:
    case pSys16:
    case pGray4: limit = 128; break;
    case pGray236: limit = 3; break;
    case pGray256: limit = 2; break;
    case pSpecial125:
    case pSpecial252: limit = 104; break;
    case pSpecial216: limit = 86; break;
    case pOptimized252Sys16:
    case pSource: limit = 0; break;
    default: limit = 32; break;  // pNone, pTrueColor, pUnknown, pGray16
    }
}

std::vector<std::int32_t> BuildErrorLimitTable(int limit, bool soft)
{
    std::int32_t t[256];
    for (int e = 0; e <= 255; ++e)
        t[e] = e;
    if (limit < 255)
        for (int e = limit; e <= 255; ++e)
            t[e] = limit;
    if (soft)
        for (int e = limit / 2; e <= 3 * limit / 2 && e < 255; ++e)
            t[e] = e / 2 + limit / 4;
    std::vector<std::int32_t> table(511);
    for (int e = 0; e <= 255; ++e) {
        table[std::size_t(255 + e)] = t[e];
        table[std::size_t(255 - e)] = -t[e];
    }
    return table;
}

void DitherBegin(TPixelGraphic& image)
{
    DitherEnd(image);
    TColorState& state = image.ColorState();
    const std::size_t rowSize = (std::size_t(image.Width()) + 2) * 3;
    state.ErrorRowCurrent.assign(rowSize, 0);
    state.ErrorRowNext.assign(rowSize, 0);
    const TRGB* palette = image.PaletteColors();
    TColorAccess::SetIsGray(image, std::all_of(palette, palette + image.PaletteCount(), [](TRGB c) {
                                return RedOf(c) == BlueOf(c) && GreenOf(c) == BlueOf(c);
                            }));
    int limit = 0;
    bool soft = false;
    DitherLimit(image, limit, soft);
    state.ErrorLimitTable = BuildErrorLimitTable(limit, soft);
}

void DitherEnd(TPixelGraphic& image)
{
    TColorState& state = image.ColorState();
    std::vector<std::int32_t>().swap(state.ErrorRowCurrent);
    std::vector<std::int32_t>().swap(state.ErrorRowNext);
    std::vector<std::int32_t>().swap(state.ErrorLimitTable);
}

void DitherNextRow(TPixelGraphic& image)
{
    TColorState& state = image.ColorState();
    state.ErrorRowCurrent.swap(state.ErrorRowNext);
    std::fill(state.ErrorRowNext.begin(), state.ErrorRowNext.end(), 0);
}

void DitherPixel(TPixelGraphic& image, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    TColorState& state = image.ColorState();
    const int* clamp = ClampTable();
    const std::int32_t* limited = state.ErrorLimitTable.data() + 255;
    std::int32_t* cur = state.ErrorRowCurrent.data() + (std::size_t(x) + 1) * 3;
    std::int32_t* next = state.ErrorRowNext.data() + (std::size_t(x) + 1) * 3;
    const int ahead = (y % 2 == 0) ? 3 : -3;
    const auto spread = [cur, next, ahead](int channel, int d) {
        next[ahead + channel] += d;
        next[-ahead + channel] += 3 * d;
        next[channel] += 5 * d;
        cur[ahead + channel] += 7 * d;
    };
    if (image.IsGray()) {
        const int gray = clamp[GrayValueOf(r, g, b, image.RGBWeighting()) / 3 + limited[ReadError(cur[1])]];
        const int index = image.NearestPaletteIndex(RGBValue(std::uint8_t(gray), std::uint8_t(gray), std::uint8_t(gray)));
        image.SetPixel(x, y, std::uint32_t(index));
        spread(1, gray - GreenOf(image.GetPaletteColor(index)));
        return;
    }
    const int rc = clamp[r + limited[ReadError(cur[0])]];
    const int gc = clamp[g + limited[ReadError(cur[1])]];
    const int bc = clamp[b + limited[ReadError(cur[2])]];
    const int index = image.NearestPaletteIndex(RGBValue(std::uint8_t(rc), std::uint8_t(gc), std::uint8_t(bc)));
    image.SetPixel(x, y, std::uint32_t(index));
    const TRGB p = image.GetPaletteColor(index);
    spread(0, rc - RedOf(p));
    spread(1, gc - GreenOf(p));
    spread(2, bc - BlueOf(p));
}

TDitherScope::TDitherScope(TPixelGraphic& image, bool dither) : m_image(image)
{
    if (dither)
        DitherBegin(image);
    else
        DitherEnd(image);
}

TDitherScope::~TDitherScope()
{
    DitherEnd(m_image);
}

// ---- reading source colours ---------------------------------------------------------------

TSourcePalette::TSourcePalette(const TPixelGraphic& source)
{
    if (source.IsTrueColorFormat())
        return;
    if (source.PaletteIdent() == pTrueColor) {
        // Palette lookups of a true-colour kind return the value itself: red only.
        ValidCount = 256;
        for (int i = 0; i < 256; ++i)
            Bgr[3 * i + 2] = std::uint8_t(i);
        return;
    }
    ValidCount = std::min(source.PaletteCount(), 256);
    for (int i = 0; i < ValidCount; ++i) {
        const TRGB c = source.PaletteColors()[i];
        Bgr[3 * i] = BlueOf(c);
        Bgr[3 * i + 1] = GreenOf(c);
        Bgr[3 * i + 2] = RedOf(c);
    }
}

bool DecodeRow(const TPixelGraphic& source, const TSourcePalette& palette, int y, int x0, int x1,
               std::uint8_t* bgr)
{
    const std::uint8_t* row = source.ScanLine(y);
    const int n = x1 - x0 + 1;
    if (source.BitCount() == bc24) {
        std::memcpy(bgr, row + 3 * std::size_t(x0), 3 * std::size_t(n));
        return true;
    }
    if (source.BitCount() == bc32) {
        FlattenRow(row + 4 * std::size_t(x0), n, source.GetBackGroundColor(), bgr);
        return true;
    }
    unsigned invalid = 0;
    const unsigned validCount = unsigned(palette.ValidCount);
    const auto put = [&](int k, unsigned index) {
        invalid |= unsigned(index >= validCount);
        const std::uint8_t* c = palette.Bgr + 3 * (index & 0xFF);
        bgr[3 * k] = c[0];
        bgr[3 * k + 1] = c[1];
        bgr[3 * k + 2] = c[2];
    };
    switch (source.BitCount()) {
    case bc8:
        for (int k = 0; k < n; ++k)
            put(k, row[x0 + k]);
        break;
    case bc4:
        for (int k = 0; k < n; ++k) {
            const int x = x0 + k;
            put(k, GetPacked4(row, x));
        }
        break;
    default:
        for (int k = 0; k < n; ++k) {
            const int x = x0 + k;
            put(k, GetPacked1(row, x));
        }
        break;
    }
    return invalid == 0;
}

// ---- storing colours ----------------------------------------------------------------------

void PackIndices(std::uint8_t* row, TBitCount bitCount, const std::uint8_t* indices, int x0, int x1,
                 const std::uint8_t* skip)
{
    switch (bitCount) {
    case bc8:
        if (!skip) {
            std::memcpy(row + x0, indices, std::size_t(x1 - x0 + 1));
            return;
        }
        for (int x = x0; x <= x1; ++x)
            if (!skip[x - x0])
                row[x] = indices[x - x0];
        return;
    case bc4:
        for (int x = x0; x <= x1; ++x) {
            if (skip && skip[x - x0])
                continue;
            SetPacked4(row, x, indices[x - x0]);
        }
        return;
    case bc1: {
        int x = x0;
        if (!skip) {
            // Whole bytes at once once the run is aligned.
            for (; x <= x1 && (x & 7) != 0; ++x) {
                SetPacked1(row, x, indices[x - x0] == 1);
            }
            for (; x + 7 <= x1; x += 8) {
                const std::uint8_t* v = indices + (x - x0);
                row[x >> 3] = std::uint8_t((v[0] == 1) << 7 | (v[1] == 1) << 6 | (v[2] == 1) << 5 | (v[3] == 1) << 4 |
                                           (v[4] == 1) << 3 | (v[5] == 1) << 2 | (v[6] == 1) << 1 | (v[7] == 1));
            }
        }
        for (; x <= x1; ++x) {
            if (skip && skip[x - x0])
                continue;
            SetPacked1(row, x, indices[x - x0] == 1);
        }
        return;
    }
    case bc24:
    case bc32: return;
    }
}

namespace {

// Nearest index of every colour, in visiting order (a cache miss fills the cell
// for the colours after it).
template <class TResolver>
void NearestRow(TRowStore& store, int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip,
                TResolver resolver)
{
    const int n = x1 - x0 + 1;
    std::uint8_t* indices = store.Indices.data();
    const bool odd = (y & 1) != 0;
    for (int k = 0; k < n; ++k) {
        const int o = odd ? n - 1 - k : k;
        if (skip && skip[o])
            continue;
        const std::uint8_t* c = bgr + 3 * o;
        indices[o] = std::uint8_t(resolver.Index(c[2], c[1], c[0]));
    }
}

// DitherPixel over a row. The 7/16 share for the pixel ahead is carried in a
// register rather than added to the current error row: nothing else reads that
// entry, and the row is cleared before it is used again.
template <class TResolver>
void DitherColorRow(TRowStore& store, int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip,
                    TResolver resolver)
{
    TColorState& state = store.Target.ColorState();
    const std::int16_t* limited = store.LimitedError.data() + TRowStore::kMaxAccumulatedError;
    const std::int32_t* cur = state.ErrorRowCurrent.data();
    std::int32_t* next = state.ErrorRowNext.data();
    const TRGB* palette = store.Palette;
    std::uint8_t* indices = store.Indices.data();
    const int n = x1 - x0 + 1;
    const bool odd = (y & 1) != 0;
    const int ahead = odd ? -3 : 3;
    const auto clamp = [](int v) { return std::min(std::max(v, 0), 255); };
    int carryR = 0, carryG = 0, carryB = 0;
    for (int k = 0; k < n; ++k) {
        const int o = odd ? n - 1 - k : k;
        if (skip && skip[o]) {
            carryR = carryG = carryB = 0;
            continue;
        }
        const std::size_t e = (std::size_t(x0 + o) + 1) * 3;
        const std::uint8_t* c = bgr + 3 * o;
        const int r = clamp(c[2] + limited[cur[e] + carryR]);
        const int g = clamp(c[1] + limited[cur[e + 1] + carryG]);
        const int b = clamp(c[0] + limited[cur[e + 2] + carryB]);
        const int index = resolver.Index(r, g, b);
        indices[o] = std::uint8_t(index);
        const TRGB p = palette[index];
        const int dr = r - RedOf(p), dg = g - GreenOf(p), db = b - BlueOf(p);
        std::int32_t* q = next + e;
        q[ahead] += dr;
        q[ahead + 1] += dg;
        q[ahead + 2] += db;
        q[-ahead] += 3 * dr;
        q[-ahead + 1] += 3 * dg;
        q[-ahead + 2] += 3 * db;
        q[0] += 5 * dr;
        q[1] += 5 * dg;
        q[2] += 5 * db;
        carryR = 7 * dr;
        carryG = 7 * dg;
        carryB = 7 * db;
    }
}

template <class TResolver>
void DitherGrayRow(TRowStore& store, int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip,
                   TResolver resolver)
{
    TColorState& state = store.Target.ColorState();
    const std::int16_t* limited = store.LimitedError.data() + TRowStore::kMaxAccumulatedError;
    const std::int32_t* cur = state.ErrorRowCurrent.data() + 1;  // green channel
    std::int32_t* next = state.ErrorRowNext.data() + 1;
    const TRGB* palette = store.Palette;
    std::uint8_t* indices = store.Indices.data();
    const bool weighted = store.Weighted;
    const int n = x1 - x0 + 1;
    const bool odd = (y & 1) != 0;
    const int ahead = odd ? -3 : 3;
    int carry = 0;
    for (int k = 0; k < n; ++k) {
        const int o = odd ? n - 1 - k : k;
        if (skip && skip[o]) {
            carry = 0;
            continue;
        }
        const std::size_t e = (std::size_t(x0 + o) + 1) * 3;
        const std::uint8_t* c = bgr + 3 * o;
        const int gray = std::min(std::max(GrayValueOf(c[2], c[1], c[0], weighted) / 3 + limited[cur[e] + carry], 0), 255);
        const int index = resolver.GrayIndex(gray);
        indices[o] = std::uint8_t(index);
        const int d = gray - GreenOf(palette[index]);
        std::int32_t* q = next + e;
        q[ahead] += d;
        q[-ahead] += 3 * d;
        q[0] += 5 * d;
        carry = 7 * d;
    }
}

// The same for palettes whose gray lookup is a fixed function: one table gives
// the index and the error left for every corrected gray before clamping.
template <bool Weighted>
void DitherGrayTableRow(TRowStore& store, int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip)
{
    TColorState& state = store.Target.ColorState();
    const std::int16_t* limited = store.LimitedError.data() + TRowStore::kMaxAccumulatedError;
    const std::int32_t* quantize = store.GrayQuantize.data() + 255;
    const std::int32_t* cur = state.ErrorRowCurrent.data() + 1;  // green channel
    std::int32_t* next = state.ErrorRowNext.data() + 1;
    std::uint8_t* indices = store.Indices.data();
    const int n = x1 - x0 + 1;
    const bool odd = (y & 1) != 0;
    const int ahead = odd ? -3 : 3;
    int carry = 0;
    for (int k = 0; k < n; ++k) {
        const int o = odd ? n - 1 - k : k;
        if (skip && skip[o]) {
            carry = 0;
            continue;
        }
        const std::size_t e = (std::size_t(x0 + o) + 1) * 3;
        const std::uint8_t* c = bgr + 3 * o;
        const std::int32_t q = quantize[GrayValueOf(c[2], c[1], c[0], Weighted) / 3 + limited[cur[e] + carry]];
        indices[o] = std::uint8_t(q);
        const int d = q >> 8;
        std::int32_t* to = next + e;
        to[ahead] += d;
        to[-ahead] += 3 * d;
        to[0] += 5 * d;
        carry = 7 * d;
    }
    PackIndices(store.Target.ScanLine(y), store.Target.BitCount(), indices, x0, x1, skip);
}

// Every entry of a gray-256 palette is its own gray, so no error ever arises and
// each pixel simply takes its gray level.
void DitherGray256Row(TRowStore& store, int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip)
{
    std::uint8_t* indices = store.Indices.data();
    const int n = x1 - x0 + 1;
    if (store.Weighted)
        for (int o = 0; o < n; ++o)
            indices[o] = std::uint8_t(GrayValueOf(bgr[3 * o + 2], bgr[3 * o + 1], bgr[3 * o], true) / 3);
    else
        for (int o = 0; o < n; ++o)
            indices[o] = std::uint8_t(GrayValueOf(bgr[3 * o + 2], bgr[3 * o + 1], bgr[3 * o], false) / 3);
    PackIndices(store.Target.ScanLine(y), store.Target.BitCount(), indices, x0, x1, skip);
}

template <class TResolver>
TResolver MakeResolver(TRowStore& store);

template <class TResolver, int Mode>
void RowFunction(TRowStore& store, int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip)
{
    if constexpr (Mode == 0)
        NearestRow(store, y, bgr, x0, x1, skip, MakeResolver<TResolver>(store));
    else if constexpr (Mode == 1)
        DitherColorRow(store, y, bgr, x0, x1, skip, MakeResolver<TResolver>(store));
    else
        DitherGrayRow(store, y, bgr, x0, x1, skip, MakeResolver<TResolver>(store));
    PackIndices(store.Target.ScanLine(y), store.Target.BitCount(), store.Indices.data(), x0, x1, skip);
}

template <class TResolver>
TResolver MakeResolver(TRowStore& store)
{
    if constexpr (std::is_same_v<TResolver, TCachedResolver>)
        return CachedResolver(store.Target);
    else if constexpr (std::is_same_v<TResolver, TExactResolver>)
        return TExactResolver{store.Palette, store.PaletteCount};
    else if constexpr (requires { TResolver{true}; })  // the gray-sum kinds take the weighting
        return TResolver{store.Weighted};
    else
        return TResolver{};
}

template <class TResolver>
TRowStore::TRowFunction Pick(TRowStore& store, bool dither, bool gray)
{
    if (!dither)
        return &RowFunction<TResolver, 0>;
    if (!gray)
        return &RowFunction<TResolver, 1>;
    if constexpr (std::is_same_v<TResolver, TCachedResolver>) {
        return &RowFunction<TResolver, 2>;  // its answers depend on what was looked up before
    } else {
        TResolver resolver = MakeResolver<TResolver>(store);
        store.GrayQuantize.resize(766);
        for (int v = -255; v <= 510; ++v) {
            const int gray = std::min(std::max(v, 0), 255);
            const int index = resolver.GrayIndex(gray);
            const int error = gray - GreenOf(store.Palette[index]);
            store.GrayQuantize[std::size_t(v + 255)] = error * 256 + index;
        }
        return store.Weighted ? &DitherGrayTableRow<true> : &DitherGrayTableRow<false>;
    }
}

}  // namespace

TRowStore::TRowStore(TPixelGraphic& target, bool dither)
    : Target(target), Dither(dither), Weighted(target.RGBWeighting()), Palette(target.PaletteColors()),
      PaletteCount(target.PaletteCount())
{
    if (target.IsTrueColorFormat() || target.GetEmpty())
        return;
    const TPaletteIdent ident = target.PaletteIdent();
    // Only a palette that holds exactly what its kind says goes the fast way;
    // anything odd is left to the image's own per-pixel operations.
    if (ident == pUnknown) {
        if (PaletteCount < 1)
            return;
    } else if (ident == pNone || ident == pTrueColor || ident == pOptimized252Sys16 || ident == pSource) {
        return;
    } else {
        const std::vector<TRGB>& standard = StandardPalette(ident);
        if (std::size_t(PaletteCount) != standard.size() ||
            !std::equal(standard.begin(), standard.end(), Palette))
            return;
    }
    if (dither) {
        const std::vector<std::int32_t>& table = target.ColorState().ErrorLimitTable;
        LimitedError.resize(2 * kMaxAccumulatedError + 1);
        for (int a = -kMaxAccumulatedError; a <= kMaxAccumulatedError; ++a)
            LimitedError[std::size_t(a + kMaxAccumulatedError)] = std::int16_t(table[std::size_t(ReadError(a) + 255)]);
    }
    const bool gray = target.IsGray();
    switch (ident) {
    case pUnknown:
        m_row = target.UseColorCache() ? Pick<TCachedResolver>(*this, dither, gray) : Pick<TExactResolver>(*this, dither, gray);
        break;
    case pBlackWhite: m_row = Pick<TBlackWhiteResolver>(*this, dither, gray); break;
    case pSysGray4: m_row = Pick<TSysGray4Resolver>(*this, dither, gray); break;
    case pSys16: m_row = Pick<TSys16Resolver>(*this, dither, gray); break;
    case pGray4: m_row = Pick<TGray4Resolver>(*this, dither, gray); break;
    case pGray16: m_row = Pick<TGray16Resolver>(*this, dither, gray); break;
    case pGray236: m_row = Pick<TGray236Resolver>(*this, dither, gray); break;
    case pGray256:
        m_row = dither && gray ? &DitherGray256Row : Pick<TGray256Resolver>(*this, dither, gray);
        break;
    case pSpecial125: m_row = Pick<TSpecial125Resolver>(*this, dither, gray); break;
    case pSpecial216: m_row = Pick<TSpecial216Resolver>(*this, dither, gray); break;
    case pSpecial252: m_row = Pick<TSpecial252Resolver>(*this, dither, gray); break;
    default: break;
    }
    if (!m_row)
        return;
    Indices.resize(std::size_t(target.Width()));
}

void TRowStore::Store(int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip)
{
    if (x0 > x1)
        return;
    if (Target.BitCount() == bc24) {
        std::uint8_t* row = Target.ScanLine(y);
        if (!skip) {
            std::memcpy(row + 3 * std::size_t(x0), bgr, 3 * (std::size_t(x1 - x0) + 1));
            return;
        }
        for (int x = x0; x <= x1; ++x)
            if (!skip[x - x0])
                std::memcpy(row + 3 * std::size_t(x), bgr + 3 * (x - x0), 3);
        return;
    }
    if (Target.BitCount() == bc32) {
        OpaqueRow(bgr, x1 - x0 + 1, Target.ScanLine(y) + 4 * std::size_t(x0), skip);
        return;
    }
    if (m_row)
        m_row(*this, y, bgr, x0, x1, skip);
    else
        StoreGeneric(y, bgr, x0, x1, skip);
}

void TRowStore::StoreGeneric(int y, const std::uint8_t* bgr, int x0, int x1, const std::uint8_t* skip)
{
    StorePixels(y, x0, x1, [bgr, x0, skip](int x) -> std::optional<TRGB> {
        if (skip && skip[x - x0])
            return std::nullopt;
        const std::uint8_t* c = bgr + 3 * std::size_t(x - x0);
        return RGBValue(c[2], c[1], c[0]);
    });
}

void TRowStore::StorePixel(int x, int y, TRGB color)
{
    if (Target.IsTrueColorFormat())
        Target.SetColor(x, y, color);
    else if (Dither)
        DitherPixel(Target, x, y, RedOf(color), GreenOf(color), BlueOf(color));
    else
        Target.SetColor(x, y, color);
}

// ---- converting copies --------------------------------------------------------------------

namespace {

// Source columns of a copy: target columns x0..x1 read x + offsetX.
struct TCopyColumns {
    int x0, x1;
    std::int64_t offsetX;
};

// The target columns a copy can write: inside the rectangle, the target and
// the source; nothing when none.
std::optional<TCopyColumns> CopyColumns(int destX, int width, int targetWidth, int srcX, int sourceWidth)
{
    const std::int64_t offsetX = std::int64_t(srcX) - destX;
    const std::int64_t xMin = std::max<std::int64_t>({destX, 0, -offsetX});
    const std::int64_t xMax =
        std::min<std::int64_t>({std::int64_t(destX) + width - 1, targetWidth - 1, sourceWidth - 1 - offsetX});
    if (xMin > xMax)
        return std::nullopt;
    return TCopyColumns{int(xMin), int(xMax), offsetX};
}

// One converted row: source row sy into target row y. Reading and writing the
// same image may see its own writes, and a value outside the source palette
// must fail exactly where GetColor meets it: both go pixel by pixel.
void CopyConvertedRow(TRowStore& store, const TPixelGraphic& source, const TSourcePalette& palette,
                      std::uint8_t* decoded, bool perPixel, int y, int sy, const TCopyColumns& c)
{
    if (!perPixel) {
        if (source.BitCount() == bc24) {
            store.Store(y, source.ScanLine(sy) + 3 * (c.x0 + c.offsetX), c.x0, c.x1);
            return;
        }
        if (DecodeRow(source, palette, sy, int(c.x0 + c.offsetX), int(c.x1 + c.offsetX), decoded)) {
            store.Store(y, decoded, c.x0, c.x1);
            return;
        }
    }
    store.StorePixels(y, c.x0, c.x1, [&](int x) -> std::optional<TRGB> {
        return source.GetColor(int(x + c.offsetX), sy);
    });
}

}  // namespace

void TPixelGraphic::CopyRect(int destX, int destY, const TPixelGraphic& source, int srcX, int srcY, int width,
                             int height)
{
    if (m_width <= 0 || m_height <= 0 || source.m_width <= 0 || source.m_height <= 0)
        return;
    // An image whose memory could not be had has nothing to copy from or into.
    if (!m_bits || !source.m_bits)
        return;
    const std::optional<TCopyColumns> columns = CopyColumns(destX, width, m_width, srcX, source.m_width);
    if (!columns) {
        Changed();
        return;
    }
    const TCopyColumns& c = *columns;
    const bool dither = m_dither && !IsTrueColorFormat();
    {
        TDitherScope ditherScope(*this, dither);
        TProgressScope progress(*this, this);
        const std::int64_t firstRow = std::max(destY, 0);
        const std::int64_t lastRow = std::min<std::int64_t>(std::int64_t(destY) + height - 1, m_height - 1);
        const std::int64_t offsetY = std::int64_t(srcY) - destY;
        // Pixels of one true-colour format are copied as bytes, alpha and all.
        const bool bytesOnly = IsTrueColorFormat() && source.m_bitCount == m_bitCount;
        const std::size_t pixelBytes = m_bitCount == bc32 ? 4 : 3;
        const bool perPixel = &source == this && !bytesOnly;
        TRowStore store(*this, dither);
        const TSourcePalette palette(source);
        std::vector<std::uint8_t> decoded(source.m_bitCount == bc24 ? 0 : 3 * (std::size_t(c.x1 - c.x0) + 1));
        for (std::int64_t y = firstRow; y <= lastRow; ++y) {
            const std::int64_t sy = y + offsetY;
            if (sy < 0 || sy >= source.m_height)
                continue;
            if (bytesOnly) {
                std::memmove(ScanLine(int(y)) + pixelBytes * std::size_t(c.x0),
                             source.ScanLine(int(sy)) + pixelBytes * std::size_t(c.x0 + c.offsetX),
                             pixelBytes * (std::size_t(c.x1 - c.x0) + 1));
                continue;
            }
            if (dither)
                DitherNextRow(*this);
            CopyConvertedRow(store, source, palette, decoded.data(), perPixel, int(y), int(sy), c);
            if (Progress(this, int(y - firstRow), int(lastRow - firstRow)))
                break;
        }
    }
    Changed();
}

void TPixelGraphic::CopyFrom(const TPixelGraphic& source)
{
    if (source.m_width == m_width && source.m_height == m_height)
        CopyRect(0, 0, source, 0, 0, m_width, m_height);
    else
        StretchCopyRect(0, 0, m_width, m_height, source, 0, 0, source.m_width, source.m_height);
}

}  // namespace rastova
