// Mirror, rotate and resampling copies.
#include "image/PGColorInternal.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace rastova {

namespace {

// ---- mirrors ----------------------------------------------------------------------------

std::uint32_t PackedValue(const std::uint8_t* row, TBitCount bitCount, int x)
{
    if (bitCount == bc4)
        return (x & 1) ? (row[x >> 1] & 0x0Fu) : unsigned(row[x >> 1] >> 4);
    return (row[x >> 3] >> (7 - (x & 7))) & 1u;
}

void SetPackedValue(std::uint8_t* row, TBitCount bitCount, int x, std::uint32_t v)
{
    if (bitCount == bc4) {
        std::uint8_t& b = row[x >> 1];
        b = (x & 1) ? std::uint8_t((b & 0xF0) | v) : std::uint8_t((b & 0x0F) | (v << 4));
        return;
    }
    const std::uint8_t mask = std::uint8_t(0x80u >> (x & 7));
    row[x >> 3] = v ? std::uint8_t(row[x >> 3] | mask) : std::uint8_t(row[x >> 3] & ~mask);
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
constexpr int kRotateBlockRows = 64;
constexpr int kPrefetchAhead = 8;

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

// Gathers the source colours of `rows` target rows starting at y0, columns
// lo[r]..hi[r] of each, into `block` (row r at r x stride, column x at 3 (x - col0)).
void GatherBlock(const TRotation& rot, const TIntegerMap& map, const TSourceReader& reader,
                 const TPixelGraphic& source, int y0, int rows, int col0, const int* lo, const int* hi,
                 std::uint8_t* block, std::size_t stride)
{
    const auto sourceOf = [&](int x, int y, std::int64_t& u, std::int64_t& v) {
        u = map.a00 * (x - rot.destCenterX) + map.a01 * (y - rot.destCenterY) + rot.srcCenterX;
        v = map.a10 * (x - rot.destCenterX) + map.a11 * (y - rot.destCenterY) + rot.srcCenterY;
    };
    // Rows whose source pixels lie in the usable area form one run r0..r1; in
    // a quarter turn they share one column interval, since u then depends on
    // the row alone and v on the column alone.
    int r0 = 0;
    while (r0 < rows && lo[r0] > hi[r0])
        ++r0;
    int r1 = r0;
    while (r1 + 1 < rows && lo[r1 + 1] == lo[r0] && hi[r1 + 1] == hi[r0])
        ++r1;
    bool oneRun = r0 < rows;
    for (int r = r1 + 1; r < rows; ++r)
        oneRun = oneRun && lo[r] > hi[r];
    if (source.BitCount() == bc24 && map.a00 == 0 && oneRun) {
        // A target row is a source column. Walking the target columns outside
        // and the block's rows inside reads each source row once, in a short run.
        std::int64_t u, v;
        sourceOf(lo[r0], y0 + r0, u, v);
        const std::ptrdiff_t step = 3 * map.a01;  // source bytes from one block row to the next
        const std::int64_t runBytes = 3 * std::int64_t(r1 - r0 + 1);
        for (int x = lo[r0]; x <= hi[r0]; ++x) {
            if (x + kPrefetchAhead <= hi[r0]) {
                // Each column reads a different source row: fetch a few ahead.
                sourceOf(x + kPrefetchAhead, y0 + r0, u, v);
                const std::uint8_t* ahead = source.ScanLine(int(v)) + 3 * u;
                const std::uint8_t* first = step > 0 ? ahead : ahead - (runBytes - 3);
                __builtin_prefetch(first);
                __builtin_prefetch(first + runBytes - 1);
            }
            sourceOf(x, y0 + r0, u, v);
            const std::uint8_t* from = source.ScanLine(int(v)) + 3 * u;
            std::uint8_t* to = block + std::size_t(r0) * stride + 3 * std::size_t(x - col0);
            for (int r = r0; r <= r1; ++r, from += step, to += stride) {
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
            }
        }
        return;
    }
    if (source.BitCount() == bc24 && map.a01 == 0) {
        // Half turn or none: a target row is a source row, reversed or not.
        const std::ptrdiff_t step = 3 * map.a00;
        for (int r = 0; r < rows; ++r) {
            if (lo[r] > hi[r])
                continue;
            std::int64_t u, v;
            sourceOf(lo[r], y0 + r, u, v);
            const std::uint8_t* from = source.ScanLine(int(v)) + 3 * u;
            std::uint8_t* to = block + std::size_t(r) * stride + 3 * std::size_t(lo[r] - col0);
            if (step > 0) {
                std::memcpy(to, from, 3 * std::size_t(hi[r] - lo[r] + 1));
                continue;
            }
            for (int x = lo[r]; x <= hi[r]; ++x, from += step, to += 3) {
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
            }
        }
        return;
    }
    for (int r = 0; r < rows; ++r) {
        std::uint8_t* out = block + std::size_t(r) * stride;
        for (int x = lo[r]; x <= hi[r]; ++x) {
            std::int64_t u, v;
            sourceOf(x, y0 + r, u, v);
            reader.Read(int(u), int(v), out + 3 * std::size_t(x - col0));
        }
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

}  // namespace

// ---- mirrors ---------------------------------------------------------------------------------

void TPixelGraphic::MirrorHorizontal()
{
    if (m_width < 1 || m_height < 1 || !m_bits)
        return;
    ProgressStart(this);
    std::vector<std::uint8_t> scratch;
    for (int y = 0; y < m_height; ++y) {
        ReverseRow(ScanLine(y), m_bitCount, m_width, scratch);
        if (Progress(this, y, m_height - 1))
            break;
    }
    ProgressEnd(this);
    Changed();
}

void TPixelGraphic::MirrorVertical()
{
    if (m_width < 1 || m_height < 1 || !m_bits)
        return;
    ProgressStart(this);
    // The swap goes column by column, with a progress event after each column.
    // Whole rows are exchanged at once instead; when the handler stops the
    // work (or fails) at column x, the columns after x are exchanged back.
    const auto swapRows = [this](int c0, int c1) {
        for (int j = 0; j < m_height / 2; ++j)
            SwapColumns(ScanLine(j), ScanLine(m_height - 1 - j), m_bitCount, c0, c1);
    };
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
    ProgressEnd(this);
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

    long double minX = 0, maxX = 0, minY = 0, maxY = 0;
    bool firstCorner = true;
    for (const std::int64_t u : {std::int64_t(srcLeft), std::int64_t(srcLeft) + srcWidth})
        for (const std::int64_t v : {std::int64_t(srcTop), std::int64_t(srcTop) + srcHeight}) {
            const long double x = (long double)(u - srcCenterX) * rot.c - (long double)(v - srcCenterY) * rot.s +
                                  destCenterX;
            const long double y = (long double)(u - srcCenterX) * rot.s + (long double)(v - srcCenterY) * rot.c +
                                  destCenterY;
            minX = firstCorner ? x : std::min(minX, x);
            maxX = firstCorner ? x : std::max(maxX, x);
            minY = firstCorner ? y : std::min(minY, y);
            maxY = firstCorner ? y : std::max(maxY, y);
            firstCorner = false;
        }
    const long double fCol0 = std::max(std::floor(minX), 0.0L), fCol1 = std::min(std::ceil(maxX), m_width - 1.0L);
    const long double fRow0 = std::max(std::floor(minY), 0.0L), fRow1 = std::min(std::ceil(maxY), m_height - 1.0L);
    // An empty row range leaves as little to do as an empty column range.
    if (!(fCol0 <= fCol1) || !(fRow0 <= fRow1))
        return;
    const int col0 = int(fCol0), col1 = int(fCol1), row0 = int(fRow0), row1 = int(fRow1);
    rot.u0 = std::max<std::int64_t>(srcLeft, 0);
    rot.u1 = std::min<std::int64_t>(std::int64_t(srcLeft) + srcWidth - 1, source.m_width - 1);
    rot.v0 = std::max<std::int64_t>(srcTop, 0);
    rot.v1 = std::min<std::int64_t>(std::int64_t(srcTop) + srcHeight - 1, source.m_height - 1);

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

    const bool dither = m_dither && m_bitCount != bc24;
    {
        TDitherScope ditherScope(*this, dither);
        ProgressStart(this);
        TRowStore store(*this, dither);
        const TSourceReader reader(source);
        const int columns = col1 - col0 + 1;
        const auto genericRow = [&](int y) {
            // Pixel by pixel, each stored before the next is read: the order the
            // operation is defined in, needed when source and target are one image.
            const bool odd = (y & 1) != 0;
            for (int k = col0; k <= col1; ++k) {
                const int x = odd ? col0 + col1 - k : k;
                if (const std::optional<TRGB> color = RotatedColor(rot, reader, *this, x, y))
                    store.StorePixel(x, y, *color);
            }
        };
        const std::optional<TIntegerMap> map = IntegerMapOf(rot, *this);
        if (&source == this) {
            for (int y = row0; y <= row1; ++y) {
                if (dither)
                    DitherNextRow(*this);
                genericRow(y);
                if (Progress(this, y - row0, row1 - row0))
                    break;
            }
        } else if (map) {
            const std::size_t stride = 3 * std::size_t(columns);
            std::vector<std::uint8_t> block(stride * kRotateBlockRows);
            int lo[kRotateBlockRows], hi[kRotateBlockRows];
            bool stop = false;
            for (int y0 = row0; y0 <= row1 && !stop; y0 += kRotateBlockRows) {
                const int rows = std::min(kRotateBlockRows, row1 - y0 + 1);
                for (int r = 0; r < rows; ++r)
                    ValidColumns(rot, *map, y0 + r, col0, col1, lo[r], hi[r]);
                bool gathered = true;
                try {
                    GatherBlock(rot, *map, reader, source, y0, rows, col0, lo, hi, block.data(), stride);
                } catch (const EPGInvalidPaletteIndex&) {
                    gathered = false;  // the rows go pixel by pixel and fail where they should
                }
                for (int r = 0; r < rows && !stop; ++r) {
                    const int y = y0 + r;
                    if (dither)
                        DitherNextRow(*this);
                    if (!gathered)
                        genericRow(y);
                    else if (lo[r] <= hi[r])
                        store.Store(y, block.data() + std::size_t(r) * stride + 3 * std::size_t(lo[r] - col0), lo[r],
                                    hi[r]);
                    stop = Progress(this, y - row0, row1 - row0);
                }
            }
        } else {
            std::vector<std::uint8_t> colors(3 * std::size_t(columns));
            std::vector<std::uint8_t> skip(static_cast<std::size_t>(columns));
            for (int y = row0; y <= row1; ++y) {
                if (dither)
                    DitherNextRow(*this);
                bool computed = true;
                try {
                    for (int x = col0; x <= col1; ++x) {
                        const std::optional<TRGB> color = RotatedColor(rot, reader, *this, x, y);
                        skip[std::size_t(x - col0)] = !color;
                        if (color) {
                            std::uint8_t* c = colors.data() + 3 * std::size_t(x - col0);
                            c[0] = BlueOf(*color);
                            c[1] = GreenOf(*color);
                            c[2] = RedOf(*color);
                        }
                    }
                } catch (const EPGInvalidPaletteIndex&) {
                    computed = false;
                }
                if (computed)
                    store.Store(y, colors.data(), col0, col1, skip.data());
                else
                    genericRow(y);
                if (Progress(this, y - row0, row1 - row0))
                    break;
            }
        }
        ProgressEnd(this);
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
    const TStretchMode mode = m_stretchMode;
    const std::int64_t x0 = std::max(destX, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t(destX) + destWidth - 1, m_width - 1);
    const std::int64_t firstRow = std::max(destY, 0);
    const std::int64_t lastRow = std::min<std::int64_t>(std::int64_t(destY) + destHeight - 1, m_height - 1);

    // One record per target column, computed once.
    std::vector<TTap> columns;
    std::int64_t needFirst = source.m_width, needLast = -1;  // source columns any valid record reads
    bool allValid = true;
    for (std::int64_t x = x0; x <= x1; ++x) {
        columns.push_back(AxisTap(mode, srcX, srcWidth, destWidth, x - destX, source.m_width));
        const TTap& t = columns.back();
        allValid = allValid && t.valid;
        if (t.valid) {
            needFirst = std::min(needFirst, std::min(t.first, t.last));
            needLast = std::max(needLast, std::max(t.first, t.last));
        }
    }
    const int n = int(columns.size());
    std::vector<std::uint8_t> skip(static_cast<std::size_t>(n));
    std::vector<TColumnPlan> plans(static_cast<std::size_t>(n));
    std::vector<std::int64_t> tapOffset, tapWeight;
    for (int k = 0; k < n; ++k) {
        const TTap& t = columns[std::size_t(k)];
        skip[std::size_t(k)] = !t.valid;
        if (!t.valid)
            continue;
        TColumnPlan& plan = plans[std::size_t(k)];
        plan.firstTap = int(tapOffset.size());
        plan.tapCount = t.count;
        plan.unit = t.count == 1 && t.Weight(0) == t.divisor;
        plan.divide = TDivider(t.divisor);
        for (int j = 0; j < t.count; ++j) {
            tapOffset.push_back(3 * (t.Position(j) - needFirst));
            tapWeight.push_back(t.Weight(j));
        }
    }

    const bool dither = m_dither && m_bitCount != bc24;
    {
        TDitherScope ditherScope(*this, dither);
        ProgressStart(this);
        TRowStore store(*this, dither);
        const TSourceReader reader(source);
        std::vector<std::int64_t> sums(3 * std::size_t(n));
        std::vector<std::uint8_t> colors(3 * std::size_t(n));
        std::vector<std::uint8_t> decoded;
        std::int64_t decodedRow = -1;
        if (source.m_bitCount != bc24 && needLast >= needFirst)
            decoded.resize(3 * std::size_t(needLast - needFirst + 1));

        // Source row sr, columns needFirst..needLast, as blue, green, red bytes;
        // nullptr when a value lies outside the source palette.
        const auto sourceRow = [&](std::int64_t sr) -> const std::uint8_t* {
            if (source.m_bitCount == bc24)
                return source.ScanLine(int(sr)) + 3 * needFirst;
            if (sr != decodedRow) {
                decodedRow = -1;
                if (!DecodeRow(source, reader.Palette(), int(sr), int(needFirst), int(needLast), decoded.data()))
                    return nullptr;
                decodedRow = sr;
            }
            return decoded.data();
        };
        // The defined order, pixel by pixel with GetColor: used where a value
        // outside the source palette must fail at exactly its pixel.
        const auto genericRow = [&](int y, const TTap& rowTap) {
            const bool odd = (y & 1) != 0;
            for (int k = 0; k < n; ++k) {
                const int o = odd ? n - 1 - k : k;
                const TTap& col = columns[std::size_t(o)];
                if (!col.valid)
                    continue;
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
                store.StorePixel(int(x0) + o, y,
                                 RGBValue(std::uint8_t(sum[0] / rowTap.divisor), std::uint8_t(sum[1] / rowTap.divisor),
                                          std::uint8_t(sum[2] / rowTap.divisor)));
            }
        };

        for (std::int64_t y = firstRow; y <= lastRow; ++y) {
            const TTap rowTap = AxisTap(mode, srcY, srcHeight, destHeight, y - destY, source.m_height);
            if (!rowTap.valid)
                continue;
            if (dither)
                DitherNextRow(*this);
            // Reading and writing one image must follow the defined order.
            bool fast = &source != this;
            std::fill(sums.begin(), sums.end(), 0);
            for (int i = 0; i < rowTap.count && fast && needLast >= needFirst; ++i) {
                const std::uint8_t* row = sourceRow(rowTap.Position(i));
                if (!row) {
                    fast = false;
                    break;
                }
                const std::int64_t rowWeight = rowTap.Weight(i);
                for (int o = 0; o < n; ++o) {
                    const TColumnPlan& plan = plans[std::size_t(o)];
                    std::int64_t* sum = sums.data() + 3 * o;
                    if (plan.unit) {
                        const std::uint8_t* c = row + tapOffset[std::size_t(plan.firstTap)];
                        sum[0] += rowWeight * c[2];
                        sum[1] += rowWeight * c[1];
                        sum[2] += rowWeight * c[0];
                        continue;
                    }
                    std::int64_t inner[3] = {0, 0, 0};
                    for (int j = plan.firstTap; j < plan.firstTap + plan.tapCount; ++j) {
                        const std::uint8_t* c = row + tapOffset[std::size_t(j)];
                        const std::int64_t weight = tapWeight[std::size_t(j)];
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
            if (fast) {
                const TDivider rowDivide(rowTap.divisor);
                for (int o = 0; o < n; ++o) {
                    const std::int64_t* sum = sums.data() + 3 * o;
                    std::uint8_t* c = colors.data() + 3 * o;
                    c[0] = std::uint8_t(rowDivide(sum[2]));
                    c[1] = std::uint8_t(rowDivide(sum[1]));
                    c[2] = std::uint8_t(rowDivide(sum[0]));
                }
                if (n > 0)
                    store.Store(int(y), colors.data(), int(x0), int(x1), allValid ? nullptr : skip.data());
            } else {
                genericRow(int(y), rowTap);
            }
            if (Progress(this, int(y - firstRow), int(lastRow - firstRow)))
                break;
        }
        ProgressEnd(this);
    }
    Changed();
}

}  // namespace rastova
