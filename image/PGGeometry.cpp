// Mirror, rotate and resampling copies.
#include "image/PGColorInternal.h"
#include "image/PGExceptions.h"
#include "image/PackedPixels.h"
#include "image/PGMessages.h"
#include "image/TransposeKernels.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace rastova {

namespace {

// ---- mirrors ----------------------------------------------------------------------------

std::uint32_t PackedValue(const std::uint8_t* row, TBitCount bitCount, int x)
{
    return bitCount == bc4 ? GetPacked4(row, x) : GetPacked1(row, x);
}

void SetPackedValue(std::uint8_t* row, TBitCount bitCount, int x, std::uint32_t v)
{
    if (bitCount == bc4)
        SetPacked4(row, x, v);
    else
        SetPacked1(row, x, v != 0);
}

// Reverses the pixel values of one row in place; pad bits stay as they are.
void ReverseRow(std::uint8_t* row, TBitCount bitCount, int width, std::vector<std::uint8_t>& scratch)
{
    switch (bitCount) {
    case bc24:
        for (int j = 0, k = width - 1; j < k; ++j, --k) {
            std::uint8_t* a = row + 3 * std::size_t(j);
            std::uint8_t* b = row + 3 * std::size_t(k);
            std::swap(a[0], b[0]);
            std::swap(a[1], b[1]);
            std::swap(a[2], b[2]);
        }
        return;
    case bc8: std::reverse(row, row + width); return;
    case bc32: {
        // Whole 32-bit words, however the row is aligned.
        for (int j = 0, k = width - 1; j < k; ++j, --k) {
            std::uint32_t a, b;
            std::memcpy(&a, row + 4 * std::size_t(j), 4);
            std::memcpy(&b, row + 4 * std::size_t(k), 4);
            std::memcpy(row + 4 * std::size_t(j), &b, 4);
            std::memcpy(row + 4 * std::size_t(k), &a, 4);
        }
        return;
    }
    default:
        scratch.resize(std::size_t(width));
        for (int x = 0; x < width; ++x)
            scratch[std::size_t(width - 1 - x)] = std::uint8_t(PackedValue(row, bitCount, x));
        for (int x = 0; x < width; ++x)
            SetPackedValue(row, bitCount, x, scratch[std::size_t(x)]);
        return;
    }
}

// Exchanges the pixel values of columns c0..c1 between two rows.
void SwapColumns(std::uint8_t* a, std::uint8_t* b, TBitCount bitCount, int c0, int c1)
{
    if (c0 > c1)
        return;
    switch (bitCount) {
    case bc24: std::swap_ranges(a + 3 * std::size_t(c0), a + 3 * (std::size_t(c1) + 1), b + 3 * std::size_t(c0)); return;
    case bc8: std::swap_ranges(a + c0, a + c1 + 1, b + c0); return;
    case bc32: std::swap_ranges(a + 4 * std::size_t(c0), a + 4 * (std::size_t(c1) + 1), b + 4 * std::size_t(c0)); return;
    default:
        for (int x = c0; x <= c1; ++x) {
            const std::uint32_t va = PackedValue(a, bitCount, x);
            SetPackedValue(a, bitCount, x, PackedValue(b, bitCount, x));
            SetPackedValue(b, bitCount, x, va);
        }
        return;
    }
}

// ---- reading source pixels ----------------------------------------------------------------

// GetColor of a source without the per-call overhead; the same failure for a
// value outside the palette.
class TSourceReader {
public:
    explicit TSourceReader(const TPixelGraphic& source) : m_source(source), m_palette(source) {}

    // Blue, green, red of pixel (x, y), which must lie inside the image.
    void Read(int x, int y, std::uint8_t* bgr) const
    {
        const std::uint8_t* row = m_source.ScanLine(y);
        if (m_source.BitCount() == bc24) {
            std::memcpy(bgr, row + 3 * std::size_t(x), 3);
            return;
        }
        if (m_source.BitCount() == bc32) {
            FlattenRow(row + 4 * std::size_t(x), 1, m_source.GetBackGroundColor(), bgr);
            return;
        }
        const unsigned index = m_source.BitCount() == bc8 ? row[x] : PackedValue(row, m_source.BitCount(), x);
        if (int(index) >= m_palette.ValidCount)
            throw EPGInvalidPaletteIndex(MessageText(kMsgInvalidPaletteIndex));
        std::memcpy(bgr, m_palette.Bgr + 3 * index, 3);
    }

    TRGB Color(int x, int y) const
    {
        std::uint8_t c[3];
        Read(x, y, c);
        return RGBValue(c[2], c[1], c[0]);
    }

    const TSourcePalette& Palette() const { return m_palette; }

private:
    const TPixelGraphic& m_source;
    TSourcePalette m_palette;
};

// ---- rotation -----------------------------------------------------------------------------

constexpr long double kPi = 3.14159265358979323846264338327950288L;
// Whole-pixel turns go a block of target rows at a time, in tiles of
// kTileColumns columns: a block written in place spans many rows, so that
// each source row is read in long runs; a staged block stays small. A quarter
// turn of 8-bit values reads a third of the bytes per source row and takes
// tiles twice as wide, which write longer pieces of each target row.
constexpr int kRotateBlockRows = 512;
constexpr int kStagedBlockRows = 64;
constexpr int kTileColumns = 64;
constexpr int kNarrowTileColumns = 128;

struct TRotation {
    long double c, s;                  // cos and sin of the angle
    long double i00, i01, i10, i11;    // the inverse matrix
    std::int64_t destCenterX, destCenterY, srcCenterX, srcCenterY;
    std::int64_t u0, u1, v0, v1;       // the usable source area
    bool bilinear;

    bool Inside(long double u, long double v) const { return u >= u0 && u <= u1 && v >= v0 && v <= v1; }
    long double U(int x, int y) const
    {
        return (long double)(x - destCenterX) * i00 + (long double)(y - destCenterY) * i01 + srcCenterX;
    }
    long double V(int x, int y) const
    {
        return (long double)(x - destCenterX) * i10 + (long double)(y - destCenterY) * i11 + srcCenterY;
    }
};

// Rounding of extended values without the library calls, which save and
// restore the floating-point environment on every call. Adding and removing
// 1.5 x 2^63 leaves a whole number rounded in the current rounding mode, as
// nearbyint does; floor and ceiling follow from it. Exact for |v| < 2^62.
constexpr long double kRoundingShift = 1.5L * 9223372036854775808.0L;
constexpr long double kRoundingLimit = 4611686018427387904.0L;

inline long double NearbyInt(long double v)
{
    if (!(std::fabs(v) < kRoundingLimit))
        return std::nearbyint(v);
    return (v + kRoundingShift) - kRoundingShift;
}

inline long double Floor(long double v)
{
    const long double r = NearbyInt(v);
    return r > v ? r - 1 : r;
}

inline long double Ceil(long double v)
{
    const long double r = NearbyInt(v);
    return r < v ? r + 1 : r;
}

// A whole number in int range to int. Going through double keeps the x87
// rounding mode untouched (a direct conversion switches it twice).
inline int WholeToInt(long double v)
{
    return int(double(v));
}

// The colour target pixel (x, y) takes, or nothing when it is left alone.
std::optional<TRGB> RotatedColor(const TRotation& rot, const TSourceReader& source, const TPixelGraphic& target,
                                 int x, int y)
{
    const long double u = rot.U(x, y), v = rot.V(x, y);
    if (!rot.bilinear) {
        const long double ru = NearbyInt(u), rv = NearbyInt(v);
        if (!rot.Inside(ru, rv))
            return std::nullopt;
        return source.Color(WholeToInt(ru), WholeToInt(rv));
    }
    const long double x0 = Floor(u), x1 = Ceil(u), y0 = Floor(v), y1 = Ceil(v);
    const long double px[4] = {x0, x0, x1, x1}, py[4] = {y0, y1, y0, y1};
    TRGB sample[4];
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        if (rot.Inside(px[i], py[i])) {
            sample[i] = source.Color(WholeToInt(px[i]), WholeToInt(py[i]));
            any = true;
        } else {
            // Outside the source the target's own colour blends in.
            sample[i] = target.GetColor(x, y);
        }
    }
    if (!any)
        return std::nullopt;
    long double w[4];
    for (int i = 0; i < 4; ++i)
        w[i] = x0 == x1 ? 0.5L : (px[i] == x0 ? 1 - (u - x0) : 1 - (x1 - u));
    for (int i = 0; i < 4; ++i)
        w[i] = y0 == y1 ? w[i] / 2 : w[i] * (py[i] == y0 ? 1 - (v - y0) : 1 - (y1 - v));
    std::uint8_t channel[3];
    for (int k = 0; k < 3; ++k) {
        long double sum = 0;
        for (int i = 0; i < 4; ++i)
            sum += w[i] * ((sample[i] >> (8 * k)) & 0xFF);
        channel[k] = std::uint8_t(std::clamp(WholeToInt(NearbyInt(sum)), 0, 255));
    }
    return RGBValue(channel[0], channel[1], channel[2]);
}

// For angles that map whole pixels onto whole pixels (multiples of 90
// degrees): u = a00 (x - dcx) + a01 (y - dcy) + scx and likewise v, with
// coefficients -1, 0 or 1. Present only when that gives exactly what rounding
// the floating-point map gives for every pixel of the target.
struct TIntegerMap {
    int a00, a01, a10, a11;
};

std::optional<TIntegerMap> IntegerMapOf(const TRotation& rot, const TPixelGraphic& target)
{
    if (rot.bilinear)
        return std::nullopt;
    const long double m[4] = {rot.i00, rot.i01, rot.i10, rot.i11};
    int a[4];
    long double drift[4];
    for (int k = 0; k < 4; ++k) {
        const long double r = std::nearbyint(m[k]);
        if (r < -1 || r > 1)
            return std::nullopt;
        a[k] = int(r);
        drift[k] = std::fabs(m[k] - r);
    }
    // Largest distance of a pixel from the centre, and the drift that builds up
    // over it; the floating-point map rounds to the same whole number as long
    // as it stays well below half a pixel.
    const long double reachX = std::fabs((long double)rot.destCenterX) + target.Width();
    const long double reachY = std::fabs((long double)rot.destCenterY) + target.Height();
    const long double slack = (drift[0] + drift[2]) * reachX + (drift[1] + drift[3]) * reachY;
    if (!(slack < 1e-6L) || (a[0] == 0) == (a[1] == 0) || (a[2] == 0) == (a[3] == 0) || (a[0] == 0) == (a[2] == 0))
        return std::nullopt;
    return TIntegerMap{a[0], a[1], a[2], a[3]};
}

// Columns lo..hi of row y whose source pixel lies in the usable area, for an
// integer map; empty when lo > hi.
void ValidColumns(const TRotation& rot, const TIntegerMap& map, int y, int col0, int col1, int& lo, int& hi)
{
    std::int64_t l = col0, h = col1;
    const auto limit = [&](int a, std::int64_t base, std::int64_t min, std::int64_t max) {
        // min <= a (x - dcx) + base <= max
        if (a == 0) {
            if (base < min || base > max)
                l = 1, h = 0;
            return;
        }
        std::int64_t x0 = a > 0 ? min - base : base - max, x1 = a > 0 ? max - base : base - min;
        l = std::max(l, x0 + rot.destCenterX);
        h = std::min(h, x1 + rot.destCenterX);
    };
    limit(map.a00, map.a01 * (y - rot.destCenterY) + rot.srcCenterX, rot.u0, rot.u1);
    limit(map.a10, map.a11 * (y - rot.destCenterY) + rot.srcCenterY, rot.v0, rot.v1);
    lo = int(std::max<std::int64_t>(l, col0));
    hi = int(std::min<std::int64_t>(h, col1));
}

// ---- rotation by whole pixels ----------------------------------------------------------------

// Target rows y0 .. y0 + rows - 1 of one block. Row r reads inside the usable
// source at columns lo[r]..hi[r] (none when lo > hi); its column x goes to
// out[r] + 3 (x - col0), in the target itself or in a staging buffer.
struct TRotateBlock {
    int y0 = 0, rows = 0, col0 = 0;
    int lo[kRotateBlockRows] = {}, hi[kRotateBlockRows] = {};
    std::uint8_t* out[kRotateBlockRows] = {};

    std::uint8_t* At(int r, int x) const { return out[r] + 3 * std::ptrdiff_t(x - col0); }
};

// Source position of target pixel (x, y) under an integer map.
std::int64_t SourceU(const TRotation& rot, const TIntegerMap& map, int x, int y)
{
    return map.a00 * (x - rot.destCenterX) + map.a01 * (y - rot.destCenterY) + rot.srcCenterX;
}

std::int64_t SourceV(const TRotation& rot, const TIntegerMap& map, int x, int y)
{
    return map.a10 * (x - rot.destCenterX) + map.a11 * (y - rot.destCenterY) + rot.srcCenterY;
}

// The source as the whole-pixel strategies read it: 24-bit rows as they are,
// or 8-bit values through their colours. A pixel comes as one value with
// blue, green, red in its low three bytes.
class TWholePixelSource {
public:
    explicit TWholePixelSource(const TPixelGraphic& source, const TSourcePalette& palette)
        : m_image(source), m_validCount(unsigned(palette.ValidCount))
    {
        // Values outside the palette carry a mark in their top byte.
        for (unsigned i = 0; i < 256; ++i) {
            const std::uint8_t* c = palette.Bgr + 3 * i;
            m_colors[i] = c[0] | unsigned(c[1]) << 8 | unsigned(c[2]) << 16 | unsigned(i >= m_validCount) << 24;
        }
        const std::uint8_t* top = source.ScanLine(0);
        m_end = top + source.RowStride();
        m_grayRamp = source.BitCount() == bc8 && m_validCount >= 256;
        for (unsigned i = 0; i < 256 && m_grayRamp; ++i)
            m_grayRamp = m_colors[i] == i * 0x010101u;
    }

    const TPixelGraphic& Image() const { return m_image; }
    bool Direct() const { return m_image.BitCount() == bc24 || m_image.BitCount() == bc8; }
    bool Bytes() const { return m_image.BitCount() == bc24; }
    int BytesPerPixel() const { return Bytes() ? 3 : 1; }
    // Every value stands for a colour, so reading cannot fail.
    bool AllValid() const
    {
        return Bytes() || m_image.HasAlpha() ||
               m_validCount >= (1u << TPixelGraphic::BitCountNumOf(m_image.BitCount()));
    }
    // 8-bit values that stand for the gray of their own value, as gray pictures load.
    bool GrayRamp() const { return m_grayRamp; }
    // A four-byte read at p stays inside the pixel memory (the top row is the last in memory).
    bool WideReadFits(const std::uint8_t* p) const { return p + 4 <= m_end; }
    bool ReadFits(const std::uint8_t* p, std::ptrdiff_t bytes) const { return p + bytes <= m_end; }

    static std::uint32_t Wide(const std::uint8_t* p)
    {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static std::uint32_t Narrow(const std::uint8_t* p) { return p[0] | unsigned(p[1]) << 8 | unsigned(p[2]) << 16; }
    std::uint32_t Value(const std::uint8_t* p, std::uint32_t& seen) const
    {
        const std::uint32_t v = m_colors[*p];
        seen |= v;
        return v;
    }
    void ThrowIfInvalid(std::uint32_t seen) const
    {
        if (seen >> 24)
            throw EPGInvalidPaletteIndex(MessageText(kMsgInvalidPaletteIndex));
    }

private:
    const TPixelGraphic& m_image;
    unsigned m_validCount;
    const std::uint8_t* m_end;
    bool m_grayRamp = false;
    std::uint32_t m_colors[256];
};

static_assert(std::endian::native == std::endian::little, "pixels are read and written as little-endian words");

// Stores the pixel values fetch(k) for k = 0..count-1 (blue, green, red in
// the low three bytes) as bytes, four at a time in three words.
template <class TFetch>
inline void StorePixelValues(std::uint8_t* to, int count, TFetch fetch)
{
    int k = 0;
    for (; k + 4 <= count; k += 4, to += 12) {
        const std::uint32_t p0 = fetch(k), p1 = fetch(k + 1), p2 = fetch(k + 2), p3 = fetch(k + 3);
        const std::uint64_t first =
            (p0 & 0xFFFFFFu) | std::uint64_t(p1 & 0xFFFFFFu) << 24 | std::uint64_t(p2 & 0xFFFFu) << 48;
        const std::uint32_t last = ((p2 >> 16) & 0xFFu) | p3 << 8;
        std::memcpy(to, &first, 8);
        std::memcpy(to + 8, &last, 4);
    }
    for (; k < count; ++k, to += 3) {
        const std::uint32_t v = fetch(k);
        to[0] = std::uint8_t(v);
        to[1] = std::uint8_t(v >> 8);
        to[2] = std::uint8_t(v >> 16);
    }
}

// Rows first..last of a block that read inside the usable source, when they
// form one run sharing one column interval and no other row reads anything.
// In a quarter turn they always do: u then depends on the row alone and v on
// the column alone.
struct TRowRun {
    int first, last;
};

std::optional<TRowRun> SharedRun(const TRotateBlock& block)
{
    int first = 0;
    while (first < block.rows && block.lo[first] > block.hi[first])
        ++first;
    if (first == block.rows)
        return std::nullopt;
    int last = first;
    while (last + 1 < block.rows && block.lo[last + 1] == block.lo[first] && block.hi[last + 1] == block.hi[first])
        ++last;
    for (int r = last + 1; r < block.rows; ++r)
        if (block.lo[r] <= block.hi[r])
            return std::nullopt;
    return TRowRun{first, last};
}

// A quarter turn: target row y is source column u(y), target column x source
// row v(x). The block is walked in tiles of columns, so that the
// source rows a tile reads and the target row pieces it writes stay in the
// first-level cache, and their pages in the translation buffer; the next
// tile's source rows are fetched ahead. A vector kernel, where there is one,
// writes the tile's rows in fours; the loop below writes the rest.
using TTileKernel = int (*)(const detail::TTransposeTile&);

template <class TFetch>
void WalkQuarterTurn(const TRotation& rot, const TIntegerMap& map, const TWholePixelSource& source,
                     const TRotateBlock& block, TRowRun run, TFetch fetch, TTileKernel kernel)
{
    const int lo = block.lo[run.first], hi = block.hi[run.first];
    const std::ptrdiff_t bytes = source.BytesPerPixel();
    const std::ptrdiff_t offsetFirst = bytes * SourceU(rot, map, lo, block.y0 + run.first);
    const std::ptrdiff_t offsetLast = bytes * SourceU(rot, map, lo, block.y0 + run.last);
    const std::ptrdiff_t runStart = std::min(offsetFirst, offsetLast);
    const std::ptrdiff_t runBytes = std::max(offsetFirst, offsetLast) - runStart + bytes;
    const auto sourceRow = [&](int x) { return source.Image().ScanLine(int(SourceV(rot, map, x, block.y0 + run.first))); };
    const int columns = bytes == 1 ? kNarrowTileColumns : kTileColumns;
    const std::uint8_t* rows[kNarrowTileColumns];
    for (int x0 = lo; x0 <= hi; x0 += columns) {
        const int count = std::min(columns, hi - x0 + 1);
        bool wide = true, vector = kernel != nullptr;
        for (int k = 0; k < count; ++k) {
            rows[k] = sourceRow(x0 + k);
            wide = wide && source.WideReadFits(rows[k] + runStart + runBytes - bytes);
            vector = vector && source.ReadFits(rows[k] + runStart + runBytes, 16);
        }
        for (int x = x0 + columns; x < std::min(hi + 1, x0 + 2 * columns); ++x)
            for (std::ptrdiff_t b = 0; b < runBytes; b += 64)
                __builtin_prefetch(sourceRow(x) + runStart + b, 0, 1);
        if (x0 + columns <= hi)
            for (int r = run.first; r <= run.last; ++r)
                for (std::ptrdiff_t b = 0; b < 3 * columns; b += 64)
                    __builtin_prefetch(block.At(r, x0 + columns) + b, 1, 1);
        int first = run.first;
        if (vector) {
            const detail::TTransposeTile tile{rows,
                                              count,
                                              bytes * SourceU(rot, map, x0, block.y0 + first),
                                              map.a01,
                                              block.out + first,
                                              3 * std::ptrdiff_t(x0 - block.col0),
                                              run.last - first + 1};
            first += kernel(tile);
        }
        for (int r = first; r <= run.last; ++r) {
            const std::ptrdiff_t offset = bytes * SourceU(rot, map, x0, block.y0 + r);
            if (wide)
                StorePixelValues(block.At(r, x0), count, [&](int k) { return fetch(rows[k] + offset, true); });
            else
                StorePixelValues(block.At(r, x0), count, [&](int k) { return fetch(rows[k] + offset, false); });
        }
    }
}

// A half turn or none: a target row is a source row, reversed or not.
template <class TFetch>
void WalkHalfTurn(const TRotation& rot, const TIntegerMap& map, const TWholePixelSource& source,
                  const TRotateBlock& block, TFetch fetch)
{
    const std::ptrdiff_t bytes = source.BytesPerPixel(), step = bytes * map.a00;
    for (int r = 0; r < block.rows; ++r) {
        const int y = block.y0 + r;
        if (block.lo[r] > block.hi[r])
            continue;
        const std::uint8_t* from = source.Image().ScanLine(int(SourceV(rot, map, block.lo[r], y))) +
                                   bytes * SourceU(rot, map, block.lo[r], y);
        if (bytes == 3 && step > 0) {
            std::memcpy(block.At(r, block.lo[r]), from, 3 * std::size_t(block.hi[r] - block.lo[r] + 1));
            continue;
        }
        // Reversed, the row's first pixel is the farthest in memory.
        const bool wide = source.WideReadFits(from);
        for (int x0 = block.lo[r]; x0 <= block.hi[r]; x0 += kTileColumns) {
            const int count = std::min(kTileColumns, block.hi[r] - x0 + 1);
            if (wide)
                StorePixelValues(block.At(r, x0), count, [&](int k) { return fetch(from + k * step, true); });
            else
                StorePixelValues(block.At(r, x0), count, [&](int k) { return fetch(from + k * step, false); });
            from += count * step;
        }
    }
}

// Any other map (and 1- and 4-bit sources): pixel by pixel.
void GatherPixels(const TRotation& rot, const TIntegerMap& map, const TSourceReader& reader,
                  const TRotateBlock& block)
{
    for (int r = 0; r < block.rows; ++r)
        for (int x = block.lo[r]; x <= block.hi[r]; ++x)
            reader.Read(int(SourceU(rot, map, x, block.y0 + r)), int(SourceV(rot, map, x, block.y0 + r)),
                        block.At(r, x));
}

// Gathers the source colours of a block's rows (blue, green, red bytes).
// Raises EPGInvalidPaletteIndex when a value lies outside the source palette;
// what was gathered until then is partial.
void GatherBlock(const TRotation& rot, const TIntegerMap& map, const TSourceReader& reader,
                 const TWholePixelSource& source, const TRotateBlock& block)
{
    const std::optional<TRowRun> run = map.a00 == 0 ? SharedRun(block) : std::nullopt;
    if (!source.Direct() || (!run && map.a01 != 0)) {
        GatherPixels(rot, map, reader, block);
        return;
    }
    std::uint32_t seen = 0;
    const auto bytes = [](const std::uint8_t* p, bool wide) {
        return wide ? TWholePixelSource::Wide(p) : TWholePixelSource::Narrow(p);
    };
    const auto values = [&source, &seen](const std::uint8_t* p, bool) { return source.Value(p, seen); };
    if (run && source.Bytes())
        WalkQuarterTurn(rot, map, source, block, *run, bytes, detail::TransposeBgrTile);
    else if (run)
        WalkQuarterTurn(rot, map, source, block, *run, values,
                        source.GrayRamp() ? detail::TransposeGrayTile : nullptr);
    else if (source.Bytes())
        WalkHalfTurn(rot, map, source, block, bytes);
    else
        WalkHalfTurn(rot, map, source, block, values);
    source.ThrowIfInvalid(seen);
}

// ---- rotation: set-up and row strategies ---------------------------------------------------------

TRotation RotationOf(long double angle, int srcCenterX, int srcCenterY, int destCenterX, int destCenterY)
{
    TRotation rot{};
    const long double theta = angle * kPi / 180.0L;
    rot.c = std::cos(theta);
    rot.s = std::sin(theta);
    const long double det = rot.c * rot.c + rot.s * rot.s;
    rot.i00 = rot.c / det;
    rot.i01 = rot.s / det;
    rot.i10 = -rot.s / det;
    rot.i11 = rot.c / det;
    rot.destCenterX = destCenterX;
    rot.destCenterY = destCenterY;
    rot.srcCenterX = srcCenterX;
    rot.srcCenterY = srcCenterY;
    return rot;
}

// The target columns and rows the turned source rectangle can reach.
struct TRotateArea {
    int col0, col1, row0, row1;
};

// The bounding box of the turned source rectangle's corners, within the
// target; nothing when it misses the target.
std::optional<TRotateArea> ReachedArea(const TRotation& rot, int srcLeft, int srcTop, int srcWidth, int srcHeight,
                                       int width, int height)
{
    long double minX = 0, maxX = 0, minY = 0, maxY = 0;
    bool firstCorner = true;
    for (const std::int64_t u : {std::int64_t(srcLeft), std::int64_t(srcLeft) + srcWidth})
        for (const std::int64_t v : {std::int64_t(srcTop), std::int64_t(srcTop) + srcHeight}) {
            const long double x = (long double)(u - rot.srcCenterX) * rot.c -
                                  (long double)(v - rot.srcCenterY) * rot.s + rot.destCenterX;
            const long double y = (long double)(u - rot.srcCenterX) * rot.s +
                                  (long double)(v - rot.srcCenterY) * rot.c + rot.destCenterY;
            minX = firstCorner ? x : std::min(minX, x);
            maxX = firstCorner ? x : std::max(maxX, x);
            minY = firstCorner ? y : std::min(minY, y);
            maxY = firstCorner ? y : std::max(maxY, y);
            firstCorner = false;
        }
    const long double fCol0 = std::max(std::floor(minX), 0.0L), fCol1 = std::min(std::ceil(maxX), width - 1.0L);
    const long double fRow0 = std::max(std::floor(minY), 0.0L), fRow1 = std::min(std::ceil(maxY), height - 1.0L);
    // An empty row range leaves as little to do as an empty column range.
    if (!(fCol0 <= fCol1) || !(fRow0 <= fRow1))
        return std::nullopt;
    return TRotateArea{int(fCol0), int(fCol1), int(fRow0), int(fRow1)};
}

// The usable source area: the rectangle, within the source.
void LimitToSource(TRotation& rot, int srcLeft, int srcTop, int srcWidth, int srcHeight, const TPixelGraphic& source)
{
    rot.u0 = std::max<std::int64_t>(srcLeft, 0);
    rot.u1 = std::min<std::int64_t>(std::int64_t(srcLeft) + srcWidth - 1, source.Width() - 1);
    rot.v0 = std::max<std::int64_t>(srcTop, 0);
    rot.v1 = std::min<std::int64_t>(std::int64_t(srcTop) + srcHeight - 1, source.Height() - 1);
}

// What every row strategy works with.
struct TRotateRun {
    TPixelGraphic& target;
    const TRotation& rot;
    const TSourceReader& reader;
    TRowStore& store;
    TRotateArea area;
    bool dither;

    void BeginRow() const
    {
        if (dither)
            DitherNextRow(target);
    }
    // The progress event after row y; true when the handler stops the work.
    bool EndRow(int y) const { return target.Progress(&target, y - area.row0, area.row1 - area.row0); }

    // Pixel by pixel, each stored before the next is read: the order the
    // operation is defined in, needed when source and target are one image.
    void GenericRow(int y) const
    {
        store.StorePixels(y, area.col0, area.col1, [this, y](int x) { return RotatedColor(rot, reader, target, x, y); });
    }
};

void RotateInPlace(const TRotateRun& run)
{
    for (int y = run.area.row0; y <= run.area.row1; ++y) {
        run.BeginRow();
        run.GenericRow(y);
        if (run.EndRow(y))
            break;
    }
}

// Target rows y0.. of a block: which columns read inside the source, and
// where each row's pixels go.
void PlanBlock(const TRotateRun& run, const TIntegerMap& map, int y0, int rows, std::uint8_t* staging,
               TRotateBlock& block)
{
    const std::size_t stride = 3 * std::size_t(run.area.col1 - run.area.col0 + 1);
    block.y0 = y0;
    block.rows = std::min(rows, run.area.row1 - y0 + 1);
    block.col0 = run.area.col0;
    for (int r = 0; r < block.rows; ++r) {
        ValidColumns(run.rot, map, y0 + r, run.area.col0, run.area.col1, block.lo[r], block.hi[r]);
        block.out[r] = staging ? staging + std::size_t(r) * stride : run.target.ScanLine(y0 + r) + 3 * std::size_t(run.area.col0);
    }
}

// Stores a gathered block row by row (a failed one pixel by pixel, so that it
// fails where it should); true when the progress handler stops the work.
bool StoreBlock(const TRotateRun& run, const TRotateBlock& block, bool gathered, bool staged)
{
    for (int r = 0; r < block.rows; ++r) {
        const int y = block.y0 + r;
        run.BeginRow();
        if (!gathered)
            run.GenericRow(y);
        else if (staged && block.lo[r] <= block.hi[r])
            run.store.Store(y, block.At(r, block.lo[r]), block.lo[r], block.hi[r]);
        if (run.EndRow(y))
            return true;
    }
    return false;
}

// Maps that take whole pixels, a block of rows at a time. A 24-bit target
// takes them in place when no handler watches rows appear and no source value
// can fail half-way; otherwise they are staged and stored row by row.
void RotateWholePixels(const TRotateRun& run, const TPixelGraphic& source, const TIntegerMap& map)
{
    const TWholePixelSource whole(source, run.reader.Palette());
    const bool inPlace = run.target.BitCount() == bc24 && !run.target.OnProgress() && whole.AllValid();
    const std::size_t stride = 3 * std::size_t(run.area.col1 - run.area.col0 + 1);
    const int rows = inPlace ? kRotateBlockRows : kStagedBlockRows;
    std::vector<std::uint8_t> staging(inPlace ? 0 : stride * kStagedBlockRows);
    TRotateBlock block;
    for (int y0 = run.area.row0; y0 <= run.area.row1; y0 += rows) {
        PlanBlock(run, map, y0, rows, inPlace ? nullptr : staging.data(), block);
        bool gathered = true;
        try {
            GatherBlock(run.rot, map, run.reader, whole, block);
        } catch (const EPGInvalidPaletteIndex&) {
            gathered = false;  // the rows go pixel by pixel and fail where they should
        }
        if (StoreBlock(run, block, gathered, !inPlace))
            break;
    }
}

// Colours of row y into bgr, with skip set where the pixel is left alone;
// false when a source value lies outside its palette.
bool ComputeRow(const TRotateRun& run, int y, std::uint8_t* bgr, std::uint8_t* skip)
{
    try {
        for (int x = run.area.col0; x <= run.area.col1; ++x) {
            const std::optional<TRGB> color = RotatedColor(run.rot, run.reader, run.target, x, y);
            skip[x - run.area.col0] = !color;
            if (color) {
                std::uint8_t* c = bgr + 3 * std::size_t(x - run.area.col0);
                c[0] = BlueOf(*color);
                c[1] = GreenOf(*color);
                c[2] = RedOf(*color);
            }
        }
    } catch (const EPGInvalidPaletteIndex&) {
        return false;
    }
    return true;
}

// Any other angle: each row computed, then stored.
void RotateComputed(const TRotateRun& run)
{
    const int columns = run.area.col1 - run.area.col0 + 1;
    std::vector<std::uint8_t> colors(3 * std::size_t(columns));
    std::vector<std::uint8_t> skip(static_cast<std::size_t>(columns));
    for (int y = run.area.row0; y <= run.area.row1; ++y) {
        run.BeginRow();
        if (ComputeRow(run, y, colors.data(), skip.data()))
            run.store.Store(y, colors.data(), run.area.col0, run.area.col1, skip.data());
        else
            run.GenericRow(y);
        if (run.EndRow(y))
            break;
    }
}


// ---- 32-bit pixels: rotation ------------------------------------------------------------------

std::uint32_t Pixel32(const std::uint8_t* row, std::int64_t x)
{
    std::uint32_t v;
    std::memcpy(&v, row + 4 * x, 4);
    return v;
}

void PutPixel32(std::uint8_t* row, std::int64_t x, std::uint32_t v)
{
    std::memcpy(row + 4 * x, &v, 4);
}

// Bilinear blending of 32-bit samples weighs each colour by its alpha, so a
// transparent neighbour adds no colour of its own (no dark fringes).
std::uint32_t BlendPremultiplied(const std::uint32_t* sample, const long double* weight, int count)
{
    long double alpha = 0, sum[3] = {0, 0, 0};
    for (int i = 0; i < count; ++i) {
        const long double wa = weight[i] * AlphaOf(sample[i]);
        alpha += wa;
        for (int k = 0; k < 3; ++k)
            sum[k] += wa * ((sample[i] >> (8 * k)) & 0xFF);
    }
    const int a = std::clamp(WholeToInt(NearbyInt(alpha)), 0, 255);
    if (a == 0)
        return 0;
    std::uint32_t value = std::uint32_t(a) << 24;
    for (int k = 0; k < 3; ++k)
        value |= std::uint32_t(std::clamp(WholeToInt(NearbyInt(sum[k] / alpha)), 0, 255)) << (8 * k);
    return value;
}

// The 32-bit value target pixel (x, y) takes, or nothing: RotatedColor with alpha.
std::optional<std::uint32_t> RotatedPixel32(const TRotation& rot, const TPixelGraphic& source,
                                            const TPixelGraphic& target, int x, int y)
{
    const long double u = rot.U(x, y), v = rot.V(x, y);
    if (!rot.bilinear) {
        const long double ru = NearbyInt(u), rv = NearbyInt(v);
        if (!rot.Inside(ru, rv))
            return std::nullopt;
        return source.GetPixel(WholeToInt(ru), WholeToInt(rv));
    }
    const long double x0 = Floor(u), x1 = Ceil(u), y0 = Floor(v), y1 = Ceil(v);
    const long double px[4] = {x0, x0, x1, x1}, py[4] = {y0, y1, y0, y1};
    std::uint32_t sample[4];
    long double w[4];
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        const bool inside = rot.Inside(px[i], py[i]);
        sample[i] = inside ? source.GetPixel(WholeToInt(px[i]), WholeToInt(py[i])) : target.GetPixel(x, y);
        any = any || inside;
        w[i] = x0 == x1 ? 0.5L : (px[i] == x0 ? 1 - (u - x0) : 1 - (x1 - u));
        w[i] = y0 == y1 ? w[i] / 2 : w[i] * (py[i] == y0 ? 1 - (v - y0) : 1 - (y1 - v));
    }
    if (!any)
        return std::nullopt;
    return BlendPremultiplied(sample, w, 4);
}

#ifdef __SSE2__
// Four target rows of four pixels each from four source rows: the 4 x 4 block
// of 32-bit pixels transposed in registers. from[j] points at the first of
// the four neighbouring pixels source row j gives; step -1 reads them
// backwards (the lowest address is then from[j] - 12).
inline void Transpose4x4(const std::uint8_t* const* from, int step, std::uint8_t* const* to)
{
    __m128i r[4];
    for (int j = 0; j < 4; ++j) {
        r[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(step > 0 ? from[j] : from[j] - 12));
        if (step < 0)
            r[j] = _mm_shuffle_epi32(r[j], _MM_SHUFFLE(0, 1, 2, 3));
    }
    const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]), t1 = _mm_unpacklo_epi32(r[2], r[3]);
    const __m128i t2 = _mm_unpackhi_epi32(r[0], r[1]), t3 = _mm_unpackhi_epi32(r[2], r[3]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to[0]), _mm_unpacklo_epi64(t0, t1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to[1]), _mm_unpackhi_epi64(t0, t1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to[2]), _mm_unpacklo_epi64(t2, t3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to[3]), _mm_unpackhi_epi64(t2, t3));
}
#endif

// A quarter turn of 32-bit pixels, tile by tile: target row y is source column
// u(y), target column x source row v(x). Rows first..last share the column
// interval lo..hi; within a tile, four target rows and four columns go at once.
void QuarterTurn32(const TRotation& rot, const TIntegerMap& map, const TPixelGraphic& source,
                   TPixelGraphic& target, int first, int last, int lo, int hi)
{
    const std::uint8_t* rows[kTileColumns];
    const int step = map.a01;  // u changes by this from one target row to the next
    for (int y0 = first; y0 <= last; y0 += kTileColumns) {
        const int y1 = std::min(last, y0 + kTileColumns - 1);
        for (int x0 = lo; x0 <= hi; x0 += kTileColumns) {
            const int count = std::min(kTileColumns, hi - x0 + 1);
            for (int k = 0; k < count; ++k)
                rows[k] = source.ScanLine(int(SourceV(rot, map, x0 + k, y0)));
            // The next tile's source pieces are fetched while this one is turned.
            const std::int64_t uFirst = std::min(SourceU(rot, map, x0, y0), SourceU(rot, map, x0, y1));
            for (int x = x0 + kTileColumns; x < std::min(hi + 1, x0 + 2 * kTileColumns); ++x)
                for (std::int64_t b = 0; b < 4 * std::int64_t(y1 - y0 + 1); b += 64)
                    __builtin_prefetch(source.ScanLine(int(SourceV(rot, map, x, y0))) + 4 * uFirst + b, 0, 1);
            int y = y0;
#ifdef __SSE2__
            for (; y + 3 <= y1; y += 4) {
                const std::uint8_t* from[4];
                std::uint8_t* to[4];
                const std::int64_t u = SourceU(rot, map, x0, y);
                for (int j = 0; j < 4; ++j)
                    to[j] = target.ScanLine(y + j) + 4 * std::size_t(x0);
                int k = 0;
                for (; k + 3 < count; k += 4, to[0] += 16, to[1] += 16, to[2] += 16, to[3] += 16) {
                    for (int j = 0; j < 4; ++j)
                        from[j] = rows[k + j] + 4 * u;
                    Transpose4x4(from, step, to);
                }
                for (; k < count; ++k)
                    for (int j = 0; j < 4; ++j)
                        PutPixel32(target.ScanLine(y + j), x0 + k, Pixel32(rows[k], u + step * j));
            }
#endif
            for (; y <= y1; ++y) {
                std::uint8_t* out = target.ScanLine(y);
                const std::int64_t u = SourceU(rot, map, x0, y);
                for (int k = 0; k < count; ++k)
                    PutPixel32(out, x0 + k, Pixel32(rows[k], u));
            }
        }
    }
}

// Whole-pixel maps of 32-bit pixels; false when the map is not a plain
// quarter or half turn (the caller then goes pixel by pixel).
bool WholeTurn32(const TRotation& rot, const TIntegerMap& map, const TPixelGraphic& source, TPixelGraphic& target,
                 const TRotateArea& area)
{
    std::vector<int> lo(std::size_t(area.row1 - area.row0 + 1)), hi(lo.size());
    for (int y = area.row0; y <= area.row1; ++y)
        ValidColumns(rot, map, y, area.col0, area.col1, lo[std::size_t(y - area.row0)], hi[std::size_t(y - area.row0)]);
    if (map.a00 != 0) {  // a half turn or none: target rows are source rows
        for (int y = area.row0; y <= area.row1; ++y) {
            const int l = lo[std::size_t(y - area.row0)], h = hi[std::size_t(y - area.row0)];
            if (l > h)
                continue;
            const std::uint8_t* from = source.ScanLine(int(SourceV(rot, map, l, y)));
            std::uint8_t* out = target.ScanLine(y);
            const std::int64_t u = SourceU(rot, map, l, y);
            if (map.a00 > 0)
                std::memcpy(out + 4 * std::size_t(l), from + 4 * u, 4 * std::size_t(h - l + 1));
            else
                for (int x = l; x <= h; ++x)
                    PutPixel32(out, x, Pixel32(from, u - (x - l)));
        }
        return true;
    }
    // A quarter turn: one run of rows reads inside the source, all with one interval.
    int first = 0;
    while (first < int(lo.size()) && lo[std::size_t(first)] > hi[std::size_t(first)])
        ++first;
    int last = first;
    while (last + 1 < int(lo.size()) && lo[std::size_t(last + 1)] <= hi[std::size_t(last + 1)])
        ++last;
    for (std::size_t r = 0; r < lo.size(); ++r)
        if ((int(r) < first || int(r) > last) ? lo[r] <= hi[r] : lo[r] != lo[std::size_t(first)] || hi[r] != hi[std::size_t(first)])
            return false;
    if (first < int(lo.size()))
        QuarterTurn32(rot, map, source, target, area.row0 + first, area.row0 + last, lo[std::size_t(first)],
                      hi[std::size_t(first)]);
    return true;
}

// Rotation of a 32-bit source into a 32-bit target, alpha and all.
void Rotate32(const TRotation& rot, const TPixelGraphic& source, TPixelGraphic& target, const TRotateArea& area)
{
    const std::optional<TIntegerMap> map = IntegerMapOf(rot, target);
    // Whole turns go at once when nobody watches rows appear and source and target differ.
    if (map && &source != &target && !target.OnProgress() && WholeTurn32(rot, *map, source, target, area)) {
        target.Progress(&target, area.row1 - area.row0, area.row1 - area.row0);
        return;
    }
    for (int y = area.row0; y <= area.row1; ++y) {
        for (int x = area.col0; x <= area.col1; ++x)
            if (const std::optional<std::uint32_t> v = RotatedPixel32(rot, source, target, x, y))
                target.SetPixel(x, y, *v);
        if (target.Progress(&target, y - area.row0, area.row1 - area.row0))
            break;
    }
}

// ---- resampling -----------------------------------------------------------------------------

// Source positions and weights of one target column (or row).
struct TTap {
    bool valid = false;
    std::int64_t first = 0, last = 0;
    int count = 0;  // taps: first, then first + 1 ... (middle columns), then last
    std::int64_t weightFirst = 0, weightMiddle = 0, weightLast = 0;
    std::int64_t divisor = 1;

    std::int64_t Position(int k) const { return k == 0 ? first : k == count - 1 ? last : first + k; }
    std::int64_t Weight(int k) const { return k == 0 ? weightFirst : k == count - 1 ? weightLast : weightMiddle; }
};

TTap AxisTap(TStretchMode mode, std::int64_t src0, std::int64_t w, std::int64_t W, std::int64_t a,
             std::int64_t sourceSize)
{
    TTap t;
    const auto inside = [sourceSize](std::int64_t p) { return p >= 0 && p < sourceSize; };
    const auto single = [&](std::int64_t p, std::int64_t weight, std::int64_t divisor) {
        t.first = t.last = p;
        t.count = 1;
        t.weightFirst = t.weightLast = weight;
        t.divisor = divisor;
        t.valid = inside(p);
        return t;
    };
    if (mode == smFast)
        return single(src0 + (w * a) / W, 1, 1);
    if (w == W)
        return single(a + src0, 1, 1);
    const bool enlarging = W > w;
    if (enlarging == (mode == smPrecise)) {
        // Two taps around twice the source position of the pixel centre.
        const std::int64_t p = w * (2 * a + 1);
        std::int64_t first = src0 + (p - W) / (2 * W);
        std::int64_t last = src0 + (p + W) / (2 * W);
        if (p == 2 * W * (first - src0) + W || first == last)
            return single(first, 2 * W, 2 * W);
        t.count = 2;
        t.weightFirst = 2 * W - (p - (2 * W * (first - src0) + W));
        t.weightLast = 2 * W - (2 * W * (last - src0) + W - p);
        t.divisor = 2 * W;
        t.valid = inside(first) && inside(last);
        if (enlarging && ((first < 0 && 0 <= last) || (first < sourceSize && sourceSize <= last))) {
            // Enlarging keeps the edge pixels: a pair across an edge is pulled inside.
            first = std::clamp<std::int64_t>(first, 0, sourceSize - 1);
            last = std::clamp<std::int64_t>(last, 0, sourceSize - 1);
            t.valid = true;
        }
        t.first = first;
        t.last = last;
        return t;
    }
    // Area coverage.
    const std::int64_t first = src0 + (w * a) / W;
    std::int64_t last = src0 + (w * (a + 1)) / W;
    if ((w * (a + 1)) % W == 0)
        --last;
    if (first == last)
        return single(first, w, w);
    t.first = first;
    t.last = last;
    t.count = int(last - first + 1);
    t.weightFirst = W * (first - src0 + 1) - w * a;
    t.weightMiddle = W;
    t.weightLast = w * (a + 1) - W * (last - src0);
    t.divisor = w;
    t.valid = inside(first) && inside(last);
    return t;
}

// Sizes up to this keep every product of the weight arithmetic inside 64 bits.
constexpr std::int64_t kMaxStretchSize = std::int64_t(1) << 30;

// Integer division by a fixed divisor for the numerators of the resampling
// (below 2^40, quotients of at most 255): the double reciprocal gives the
// quotient to within one, and one comparison makes it exact.
class TDivider {
public:
    explicit TDivider(std::int64_t divisor = 1) : m_divisor(divisor), m_inverse(1.0 / double(divisor)) {}
    std::int64_t operator()(std::int64_t n) const
    {
        std::int64_t q = std::int64_t(double(n) * m_inverse);
        if (q * m_divisor > n)
            --q;
        else if ((q + 1) * m_divisor <= n)
            ++q;
        return q;
    }

private:
    std::int64_t m_divisor;
    double m_inverse;
};

// The taps of one target column, flattened for the inner loop.
struct TColumnPlan {
    int firstTap = 0;
    int tapCount = 0;  // 0: the column reads outside the source
    bool unit = false;  // one tap whose weight equals the divisor: the value itself
    TDivider divide;
};

// Every target column of a resampling copy, planned once: its taps, and the
// same flattened with offsets into a decoded source row that starts at needFirst.
struct TColumnPlans {
    std::vector<TTap> columns;
    std::vector<std::uint8_t> skip;  // one flag per column: reads outside the source
    std::vector<TColumnPlan> plans;
    std::vector<std::int64_t> tapOffset, tapWeight;
    std::int64_t needFirst = 0, needLast = -1;  // source columns any valid column reads
    bool allValid = true;

    int Count() const { return int(columns.size()); }
};

TColumnPlans PlanColumns(TStretchMode mode, std::int64_t x0, std::int64_t x1, int destX, int srcX, int srcWidth,
                         int destWidth, int sourceWidth)
{
    TColumnPlans p;
    p.needFirst = sourceWidth;
    for (std::int64_t x = x0; x <= x1; ++x) {
        p.columns.push_back(AxisTap(mode, srcX, srcWidth, destWidth, x - destX, sourceWidth));
        const TTap& t = p.columns.back();
        p.allValid = p.allValid && t.valid;
        if (t.valid) {
            p.needFirst = std::min(p.needFirst, std::min(t.first, t.last));
            p.needLast = std::max(p.needLast, std::max(t.first, t.last));
        }
    }
    p.skip.resize(p.columns.size());
    p.plans.resize(p.columns.size());
    for (int k = 0; k < p.Count(); ++k) {
        const TTap& t = p.columns[std::size_t(k)];
        p.skip[std::size_t(k)] = !t.valid;
        if (!t.valid)
            continue;
        TColumnPlan& plan = p.plans[std::size_t(k)];
        plan.firstTap = int(p.tapOffset.size());
        plan.tapCount = t.count;
        plan.unit = t.count == 1 && t.Weight(0) == t.divisor;
        plan.divide = TDivider(t.divisor);
        for (int j = 0; j < t.count; ++j) {
            p.tapOffset.push_back(3 * (t.Position(j) - p.needFirst));
            p.tapWeight.push_back(t.Weight(j));
        }
    }
    return p;
}

// Source rows as blue, green, red bytes of columns needFirst..needLast; a
// palette source is decoded into a buffer that keeps the last row.
class TDecodedRows {
public:
    TDecodedRows(const TPixelGraphic& source, const TSourcePalette& palette, std::int64_t first, std::int64_t last)
        : m_source(source), m_palette(palette), m_first(first), m_last(last)
    {
        if (source.BitCount() != bc24 && last >= first)
            m_decoded.resize(3 * std::size_t(last - first + 1));
    }

    // Row sr; nullptr when a value lies outside the source palette.
    const std::uint8_t* Row(std::int64_t sr)
    {
        if (m_source.BitCount() == bc24)
            return m_source.ScanLine(int(sr)) + 3 * m_first;
        if (sr != m_decodedRow) {
            m_decodedRow = -1;
            if (!DecodeRow(m_source, m_palette, int(sr), int(m_first), int(m_last), m_decoded.data()))
                return nullptr;
            m_decodedRow = sr;
        }
        return m_decoded.data();
    }

private:
    const TPixelGraphic& m_source;
    const TSourcePalette& m_palette;
    std::int64_t m_first, m_last;
    std::vector<std::uint8_t> m_decoded;
    std::int64_t m_decodedRow = -1;
};

// Adds one source row, weighted by the row tap, to the red, green, blue sums of every column.
void AccumulateRow(const TColumnPlans& p, const std::uint8_t* row, std::int64_t rowWeight, std::int64_t* sums)
{
    for (int o = 0; o < p.Count(); ++o) {
        const TColumnPlan& plan = p.plans[std::size_t(o)];
        std::int64_t* sum = sums + 3 * o;
        if (plan.unit) {
            const std::uint8_t* c = row + p.tapOffset[std::size_t(plan.firstTap)];
            sum[0] += rowWeight * c[2];
            sum[1] += rowWeight * c[1];
            sum[2] += rowWeight * c[0];
            continue;
        }
        std::int64_t inner[3] = {0, 0, 0};
        for (int j = plan.firstTap; j < plan.firstTap + plan.tapCount; ++j) {
            const std::uint8_t* c = row + p.tapOffset[std::size_t(j)];
            const std::int64_t weight = p.tapWeight[std::size_t(j)];
            inner[0] += weight * c[2];
            inner[1] += weight * c[1];
            inner[2] += weight * c[0];
        }
        if (plan.tapCount > 0) {
            sum[0] += rowWeight * plan.divide(inner[0]);
            sum[1] += rowWeight * plan.divide(inner[1]);
            sum[2] += rowWeight * plan.divide(inner[2]);
        }
    }
}

// The colours of one target row from decoded source rows, into bgr; false
// when a source row holds a value outside its palette.
bool ResampleRow(const TColumnPlans& p, const TTap& rowTap, TDecodedRows& rows, std::vector<std::int64_t>& sums,
                 std::uint8_t* bgr)
{
    std::fill(sums.begin(), sums.end(), 0);
    for (int i = 0; i < rowTap.count && p.needLast >= p.needFirst; ++i) {
        const std::uint8_t* row = rows.Row(rowTap.Position(i));
        if (!row)
            return false;
        AccumulateRow(p, row, rowTap.Weight(i), sums.data());
    }
    const TDivider rowDivide(rowTap.divisor);
    for (int o = 0; o < p.Count(); ++o) {
        const std::int64_t* sum = sums.data() + 3 * o;
        std::uint8_t* c = bgr + 3 * o;
        c[0] = std::uint8_t(rowDivide(sum[2]));
        c[1] = std::uint8_t(rowDivide(sum[1]));
        c[2] = std::uint8_t(rowDivide(sum[0]));
    }
    return true;
}

// The colour of one target column with GetColor's reads, in the defined
// arithmetic; for the pixel-by-pixel order.
TRGB ResampledColor(const TTap& col, const TTap& rowTap, const TSourceReader& reader)
{
    std::int64_t sum[3] = {0, 0, 0};
    for (int i = 0; i < rowTap.count; ++i) {
        std::int64_t inner[3] = {0, 0, 0};
        for (int j = 0; j < col.count; ++j) {
            const TRGB c = reader.Color(int(col.Position(j)), int(rowTap.Position(i)));
            inner[0] += col.Weight(j) * RedOf(c);
            inner[1] += col.Weight(j) * GreenOf(c);
            inner[2] += col.Weight(j) * BlueOf(c);
        }
        for (int ch = 0; ch < 3; ++ch)
            sum[ch] += rowTap.Weight(i) * (inner[ch] / col.divisor);
    }
    return RGBValue(std::uint8_t(sum[0] / rowTap.divisor), std::uint8_t(sum[1] / rowTap.divisor),
                    std::uint8_t(sum[2] / rowTap.divisor));
}


// ---- 32-bit pixels: resampling ------------------------------------------------------------------

// Source rows of a 32-bit source premultiplied (colour times alpha, then the
// alpha), columns needFirst..needLast; the last row is kept.
class TPremultipliedRows {
public:
    TPremultipliedRows(const TPixelGraphic& source, std::int64_t first, std::int64_t last)
        : m_source(source), m_first(first), m_values(last >= first ? 4 * std::size_t(last - first + 1) : 0)
    {
    }
    const std::uint32_t* Row(std::int64_t sr)
    {
        if (sr != m_row) {
            const std::uint8_t* p = m_source.ScanLine(int(sr)) + 4 * m_first;
            for (std::size_t k = 0; k < m_values.size(); k += 4, p += 4) {
                const std::uint32_t a = p[3];
                m_values[k] = p[0] * a;
                m_values[k + 1] = p[1] * a;
                m_values[k + 2] = p[2] * a;
                m_values[k + 3] = a;
            }
            m_row = sr;
        }
        return m_values.data();
    }

private:
    const TPixelGraphic& m_source;
    std::int64_t m_first;
    std::vector<std::uint32_t> m_values;
    std::int64_t m_row = -1;
};

// One target row of a 32-bit resampling copy: the sums of the premultiplied
// channels in the arithmetic of the colour copy, then each colour divided by
// its alpha again.
void ResampleRow32(const TColumnPlans& p, const TTap& rowTap, TPremultipliedRows& rows, std::vector<std::int64_t>& sums,
                   std::uint8_t* out, const std::uint8_t* skip)
{
    std::fill(sums.begin(), sums.end(), 0);
    for (int i = 0; i < rowTap.count && p.needLast >= p.needFirst; ++i) {
        const std::uint32_t* row = rows.Row(rowTap.Position(i));
        const std::int64_t rowWeight = rowTap.Weight(i);
        for (int o = 0; o < p.Count(); ++o) {
            const TColumnPlan& plan = p.plans[std::size_t(o)];
            std::int64_t inner[4] = {0, 0, 0, 0};
            for (int j = plan.firstTap; j < plan.firstTap + plan.tapCount; ++j) {
                // tapOffset counts three bytes a pixel; here a pixel is four values.
                const std::uint32_t* c = row + 4 * (p.tapOffset[std::size_t(j)] / 3);
                for (int k = 0; k < 4; ++k)
                    inner[k] += p.tapWeight[std::size_t(j)] * c[k];
            }
            if (plan.tapCount > 0)
                for (int k = 0; k < 4; ++k)
                    sums[4 * std::size_t(o) + std::size_t(k)] += rowWeight * plan.divide(inner[k]);
        }
    }
    const TDivider rowDivide(rowTap.divisor);
    for (int o = 0; o < p.Count(); ++o, out += 4) {
        if (skip && skip[o])
            continue;
        const std::int64_t* sum = sums.data() + 4 * o;
        const std::int64_t alpha = sum[3];
        out[3] = std::uint8_t(rowDivide(alpha));
        for (int k = 0; k < 3; ++k)
            out[k] = alpha > 0 ? std::uint8_t(std::min<std::int64_t>(255, (sum[k] + alpha / 2) / alpha)) : 0;
        if (out[3] == 0)
            out[0] = out[1] = out[2] = 0;
    }
}

// Resampling of a 32-bit source into a 32-bit target (different images).
void Stretch32(TPixelGraphic& target, const TColumnPlans& plans, TStretchMode mode, std::int64_t x0,
               std::int64_t firstRow, std::int64_t lastRow, int destY, int destHeight, const TPixelGraphic& source,
               int srcY, int srcHeight)
{
    TPremultipliedRows rows(source, plans.needFirst, plans.needLast);
    std::vector<std::int64_t> sums(4 * std::size_t(plans.Count()));
    for (std::int64_t y = firstRow; y <= lastRow; ++y) {
        const TTap rowTap = AxisTap(mode, srcY, srcHeight, destHeight, y - destY, source.Height());
        if (!rowTap.valid)
            continue;
        if (plans.Count() > 0)
            ResampleRow32(plans, rowTap, rows, sums, target.ScanLine(int(y)) + 4 * x0,
                          plans.allValid ? nullptr : plans.skip.data());
        if (target.Progress(&target, int(y - firstRow), int(lastRow - firstRow)))
            break;
    }
}

}  // namespace

// ---- mirrors ---------------------------------------------------------------------------------

void TPixelGraphic::MirrorHorizontal()
{
    if (m_width < 1 || m_height < 1 || !m_bits)
        return;
    {
        TProgressScope progress(*this, this);
        std::vector<std::uint8_t> scratch;
        for (int y = 0; y < m_height; ++y) {
            ReverseRow(ScanLine(y), m_bitCount, m_width, scratch);
            if (Progress(this, y, m_height - 1))
                break;
        }
    }
    Changed();
}

void TPixelGraphic::MirrorVertical()
{
    if (m_width < 1 || m_height < 1 || !m_bits)
        return;
    // The swap goes column by column, with a progress event after each column.
    // Whole rows are exchanged at once instead; when the handler stops the
    // work (or fails) at column x, the columns after x are exchanged back.
    const auto swapRows = [this](int c0, int c1) {
        for (int j = 0; j < m_height / 2; ++j)
            SwapColumns(ScanLine(j), ScanLine(m_height - 1 - j), m_bitCount, c0, c1);
    };
    {
        TProgressScope progress(*this, this);
        swapRows(0, m_width - 1);
        if (OnProgress()) {
            int x = 0;
            try {
                for (; x < m_width; ++x)
                    if (Progress(this, x, m_width - 1)) {
                        swapRows(x + 1, m_width - 1);
                        break;
                    }
            } catch (...) {
                swapRows(x + 1, m_width - 1);
                throw;
            }
        }
    }
    Changed();
}

// ---- rotation ---------------------------------------------------------------------------------

void TPixelGraphic::Rotate(const TPixelGraphic& source, int srcLeft, int srcTop, int srcWidth, int srcHeight,
                           int srcCenterX, int srcCenterY, int destCenterX, int destCenterY, long double angle)
{
    if (m_width < 1 || m_height < 1 || !m_bits || source.m_width < 1 || source.m_height < 1 || !source.m_bits)
        return;
    if (!std::isfinite(angle))
        return;  // no map at all
    TRotation rot = RotationOf(angle, srcCenterX, srcCenterY, destCenterX, destCenterY);
    const std::optional<TRotateArea> area =
        ReachedArea(rot, srcLeft, srcTop, srcWidth, srcHeight, m_width, m_height);
    if (!area)
        return;
    LimitToSource(rot, srcLeft, srcTop, srcWidth, srcHeight, source);

    // Whole multiples of 90 degrees take the nearest pixel. The setting is
    // restored on every path, so a failure cannot leave it switched.
    struct TInterpolationGuard {
        std::uint8_t& value;
        std::uint8_t saved;
        ~TInterpolationGuard() { value = saved; }
    } guard{m_rotateInterpolation, m_rotateInterpolation};
    if (angle == std::trunc(angle) && std::fmod(angle, 90.0L) == 0)
        m_rotateInterpolation = 0;
    rot.bilinear = m_rotateInterpolation == 1;

    if (source.HasAlpha() && HasAlpha()) {
        {
            TProgressScope progress(*this, this);
            Rotate32(rot, source, *this, *area);
        }
        m_rotateInterpolation = guard.saved;
        Changed();
        return;
    }
    const bool dither = m_dither && !IsTrueColorFormat();
    {
        TDitherScope ditherScope(*this, dither);
        TProgressScope progress(*this, this);
        TRowStore store(*this, dither);
        const TSourceReader reader(source);
        const TRotateRun run{*this, rot, reader, store, *area, dither};
        const std::optional<TIntegerMap> map = IntegerMapOf(rot, *this);
        if (&source == this)
            RotateInPlace(run);
        else if (map)
            RotateWholePixels(run, source, *map);
        else
            RotateComputed(run);
    }
    m_rotateInterpolation = guard.saved;
    Changed();
}

// ---- resampling copy -------------------------------------------------------------------------

void TPixelGraphic::StretchCopyRect(int destX, int destY, int destWidth, int destHeight,
                                    const TPixelGraphic& source, int srcX, int srcY, int srcWidth, int srcHeight)
{
    if (m_width < 1 || source.m_width < 1)
        return;
    if (m_height < 1 || source.m_height < 1 || !m_bits || !source.m_bits)
        return;
    if (srcWidth == destWidth && srcHeight == destHeight) {
        CopyRect(destX, destY, source, srcX, srcY, destWidth, destHeight);
        return;
    }
    // Empty or absurd rectangles have nothing to resample (and nothing to divide by).
    if (destWidth < 1 || destHeight < 1 || srcWidth < 1 || srcHeight < 1 || destWidth > kMaxStretchSize ||
        destHeight > kMaxStretchSize || srcWidth > kMaxStretchSize || srcHeight > kMaxStretchSize)
        return;
    const std::int64_t x0 = std::max(destX, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t(destX) + destWidth - 1, m_width - 1);
    const std::int64_t firstRow = std::max(destY, 0);
    const std::int64_t lastRow = std::min<std::int64_t>(std::int64_t(destY) + destHeight - 1, m_height - 1);
    const TColumnPlans plans = PlanColumns(m_stretchMode, x0, x1, destX, srcX, srcWidth, destWidth, source.m_width);
    const int n = plans.Count();
    if (source.HasAlpha() && HasAlpha()) {
        // Reading the image being written would see its own writes: read a copy.
        TPixelGraphic copy;
        if (&source == this)
            copy.Assign(this);
        {
            TProgressScope progress(*this, this);
            Stretch32(*this, plans, m_stretchMode, x0, firstRow, lastRow, destY, destHeight,
                      &source == this ? copy : source, srcY, srcHeight);
        }
        Changed();
        return;
    }

    const bool dither = m_dither && !IsTrueColorFormat();
    {
        TDitherScope ditherScope(*this, dither);
        TProgressScope progress(*this, this);
        TRowStore store(*this, dither);
        const TSourceReader reader(source);
        TDecodedRows rows(source, reader.Palette(), plans.needFirst, plans.needLast);
        std::vector<std::int64_t> sums(3 * std::size_t(n));
        std::vector<std::uint8_t> colors(3 * std::size_t(n));
        for (std::int64_t y = firstRow; y <= lastRow; ++y) {
            const TTap rowTap = AxisTap(m_stretchMode, srcY, srcHeight, destHeight, y - destY, source.m_height);
            if (!rowTap.valid)
                continue;
            if (dither)
                DitherNextRow(*this);
            // Reading and writing one image must follow the defined order, and
            // a value outside the source palette must fail at exactly its pixel.
            if (&source != this && ResampleRow(plans, rowTap, rows, sums, colors.data())) {
                if (n > 0)
                    store.Store(int(y), colors.data(), int(x0), int(x1), plans.allValid ? nullptr : plans.skip.data());
            } else {
                store.StorePixels(int(y), int(x0), int(x1), [&](int x) -> std::optional<TRGB> {
                    const TTap& col = plans.columns[std::size_t(x - x0)];
                    if (!col.valid)
                        return std::nullopt;
                    return ResampledColor(col, rowTap, reader);
                });
            }
            if (Progress(this, int(y - firstRow), int(lastRow - firstRow)))
                break;
        }
    }
    Changed();
}

}  // namespace rastova
