// Plain per-pixel versions of the converting copies, the resampling copy, the
// rotation and the mirrors, written from their definitions with GetPixel,
// SetPixel, GetColor and NearestPaletteIndex only. The library's row-based code
// must give exactly the same pixels.
#pragma once

#include "image/PGraphic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace rastova::ref {

inline int Clamp255(int v)
{
    return std::min(std::max(v, 0), 255);
}

inline int Gray(TRGB c, bool weighted)
{
    const int r = RedOf(c), g = GreenOf(c), b = BlueOf(c);
    return weighted ? (b * 342 + g * 1761 + r * 897) / 1000 : r + g + b;
}

// Error limit L and softness S of an image.
inline void Limit(const TPixelGraphic& image, int& limit, bool& soft)
{
    if (!image.DitherErrorLimitAuto()) {
        limit = image.DitherErrorLimit();
        soft = image.DitherErrorLimitSoft();
        return;
    }
    soft = true;
    switch (image.PaletteIdent()) {
    case pBlackWhite: limit = 255; return;
    case pSysGray4: case pSys16: case pGray4: limit = 128; return;
    case pGray236: limit = 3; return;
    case pGray256: limit = 2; return;
    case pSpecial125: case pSpecial252: limit = 104; return;
    case pSpecial216: limit = 86; return;
    case pOptimized252Sys16: case pSource: limit = 0; return;
    default: limit = 32; return;
    }
}

inline std::vector<int> LimitTable(int limit, bool soft)
{
    std::vector<int> t(256);
    for (int e = 0; e <= 255; ++e)
        t[std::size_t(e)] = e;
    if (limit < 255)
        for (int e = limit; e <= 255; ++e)
            t[std::size_t(e)] = limit;
    if (soft)
        for (int e = limit / 2; e <= (3 * limit) / 2 && e < 255; ++e)
            t[std::size_t(e)] = e / 2 + limit / 4;
    return t;
}

class TDither {
public:
    explicit TDither(TPixelGraphic& image) : m_image(image)
    {
        m_current.assign((std::size_t(image.Width()) + 2) * 3, 0);
        m_next = m_current;
        m_gray = true;
        for (int i = 0; i < image.PaletteCount(); ++i) {
            const TRGB c = image.PaletteColors()[i];
            m_gray = m_gray && RedOf(c) == BlueOf(c) && GreenOf(c) == BlueOf(c);
        }
        int limit = 0;
        bool soft = false;
        Limit(image, limit, soft);
        m_table = LimitTable(limit, soft);
    }

    void NextRow()
    {
        m_current.swap(m_next);
        std::fill(m_next.begin(), m_next.end(), 0);
    }

    void Pixel(int x, int y, TRGB color)
    {
        const int ahead = y % 2 == 0 ? x + 1 : x - 1;
        const int behind = y % 2 == 0 ? x - 1 : x + 1;
        if (m_gray) {
            const int g = Clamp255(Gray(color, m_image.RGBWeighting()) / 3 + T(Read(1, x)));
            const int i = m_image.NearestPaletteIndex(RGBValue(std::uint8_t(g), std::uint8_t(g), std::uint8_t(g)));
            m_image.SetPixel(x, y, std::uint32_t(i));
            Spread(1, x, ahead, behind, g - GreenOf(m_image.GetPaletteColor(i)));
            return;
        }
        const int r = Clamp255(RedOf(color) + T(Read(0, x)));
        const int g = Clamp255(GreenOf(color) + T(Read(1, x)));
        const int b = Clamp255(BlueOf(color) + T(Read(2, x)));
        const int i = m_image.NearestPaletteIndex(RGBValue(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)));
        m_image.SetPixel(x, y, std::uint32_t(i));
        const TRGB p = m_image.GetPaletteColor(i);
        Spread(0, x, ahead, behind, r - RedOf(p));
        Spread(1, x, ahead, behind, g - GreenOf(p));
        Spread(2, x, ahead, behind, b - BlueOf(p));
    }

private:
    int& At(std::vector<int>& row, int x, int channel) { return row[std::size_t((x + 1) * 3 + channel)]; }
    int Read(int channel, int x)
    {
        const int a = At(m_current, x, channel);
        return a >= 0 ? (a + 8) >> 4 : (a - 8) / 16;
    }
    int T(int e) const { return e >= 0 ? m_table[std::size_t(e)] : -m_table[std::size_t(-e)]; }
    void Spread(int channel, int x, int ahead, int behind, int d)
    {
        At(m_next, ahead, channel) += d;
        At(m_next, behind, channel) += 3 * d;
        At(m_next, x, channel) += 5 * d;
        At(m_current, ahead, channel) += 7 * d;
    }

    TPixelGraphic& m_image;
    std::vector<int> m_current, m_next, m_table;
    bool m_gray = false;
};

// Stores one colour the way the converting operations do.
inline void Store(TPixelGraphic& target, TDither* dither, int x, int y, TRGB color)
{
    if (target.BitCount() == bc24)
        target.SetPixel(x, y, color);
    else if (dither)
        dither->Pixel(x, y, color);
    else
        target.SetPixel(x, y, std::uint32_t(target.NearestPaletteIndex(color)));
}

inline void CopyRect(TPixelGraphic& target, int destX, int destY, const TPixelGraphic& source, int srcX, int srcY,
                     int width, int height)
{
    if (target.Width() <= 0 || target.Height() <= 0 || source.Width() <= 0 || source.Height() <= 0)
        return;
    int xMin = 1 << 30, xMax = -1;
    for (int x = destX; x <= destX + width - 1; ++x)
        if (x >= 0 && x < target.Width() && x + srcX - destX >= 0 && x + srcX - destX < source.Width()) {
            xMin = std::min(xMin, x);
            xMax = std::max(xMax, x);
        }
    if (xMax < 0)
        return;
    const bool dither = target.Dither() && target.BitCount() != bc24;
    TDither d(target);
    const int first = std::max(destY, 0), last = std::min(destY + height - 1, target.Height() - 1);
    for (int y = first; y <= last; ++y) {
        const int sy = y + srcY - destY;
        if (sy < 0 || sy >= source.Height())
            continue;
        if (dither)
            d.NextRow();
        for (int k = 0; k < width; ++k) {
            const int x = y % 2 == 0 ? destX + k : destX + width - 1 - k;
            const int sx = x + srcX - destX;
            if (x < 0 || x >= target.Width() || sx < 0 || sx >= source.Width())
                continue;
            Store(target, dither ? &d : nullptr, x, y, source.GetColor(sx, sy));
        }
    }
}

// One axis of the resampling copy: per target position, source positions and weights.
struct TTaps {
    bool valid = false;
    std::vector<std::int64_t> pos, weight;
    std::int64_t divisor = 1;
};

inline TTaps AxisTaps(TStretchMode mode, std::int64_t src0, std::int64_t w, std::int64_t W, std::int64_t a,
                      std::int64_t sourceSize)
{
    TTaps t;
    const auto in = [sourceSize](std::int64_t p) { return p >= 0 && p < sourceSize; };
    if (mode == smFast || w == W) {
        const std::int64_t p = mode == smFast ? src0 + (w * a) / W : a + src0;
        t.pos = {p};
        t.weight = {1};
        t.valid = in(p);
        return t;
    }
    const bool twoTap = (mode == smMedium && W < w) || (mode == smPrecise && W > w);
    if (twoTap) {
        const std::int64_t p = w * (2 * a + 1);
        std::int64_t first = src0 + (p - W) / (2 * W);
        std::int64_t last = src0 + (p + W) / (2 * W);
        t.divisor = 2 * W;
        if (p == 2 * W * (first - src0) + W || first == last) {
            t.pos = {first};
            t.weight = {2 * W};
            t.valid = in(first);
            return t;
        }
        const std::int64_t wf = 2 * W - (p - (2 * W * (first - src0) + W));
        const std::int64_t wl = 2 * W - (2 * W * (last - src0) + W - p);
        t.valid = in(first) && in(last);
        if (W > w && ((first < 0 && 0 <= last) || (first < sourceSize && sourceSize <= last))) {
            first = std::min(std::max<std::int64_t>(first, 0), sourceSize - 1);
            last = std::min(std::max<std::int64_t>(last, 0), sourceSize - 1);
            t.valid = true;
        }
        t.pos = {first, last};
        t.weight = {wf, wl};
        return t;
    }
    std::int64_t first = src0 + (w * a) / W;
    std::int64_t last = src0 + (w * (a + 1)) / W;
    if ((w * (a + 1)) % W == 0)
        last -= 1;
    t.divisor = w;
    if (first == last) {
        t.pos = {first};
        t.weight = {w};
        t.valid = in(first);
        return t;
    }
    t.valid = in(first) && in(last);
    t.pos.push_back(first);
    t.weight.push_back(W * (first - src0 + 1) - w * a);
    for (std::int64_t p = first + 1; p < last; ++p) {
        t.pos.push_back(p);
        t.weight.push_back(W);
    }
    t.pos.push_back(last);
    t.weight.push_back(w * (a + 1) - W * (last - src0));
    return t;
}

inline void StretchCopyRect(TPixelGraphic& target, int destX, int destY, int destW, int destH,
                            const TPixelGraphic& source, int srcX, int srcY, int srcW, int srcH)
{
    if (target.Width() < 1 || source.Width() < 1 || target.Height() < 1 || source.Height() < 1)
        return;
    if (srcW == destW && srcH == destH) {
        CopyRect(target, destX, destY, source, srcX, srcY, destW, destH);
        return;
    }
    const bool dither = target.Dither() && target.BitCount() != bc24;
    TDither d(target);
    const int x0 = std::max(destX, 0), x1 = std::min(destX + destW - 1, target.Width() - 1);
    const int y0 = std::max(destY, 0), y1 = std::min(destY + destH - 1, target.Height() - 1);
    for (int y = y0; y <= y1; ++y) {
        const TTaps rows = AxisTaps(target.StretchMode(), srcY, srcH, destH, y - destY, source.Height());
        if (!rows.valid)
            continue;
        if (dither)
            d.NextRow();
        for (int k = 0; k < target.Width(); ++k) {
            const int x = y % 2 == 0 ? k : target.Width() - 1 - k;
            if (x < x0 || x > x1)
                continue;
            const TTaps cols = AxisTaps(target.StretchMode(), srcX, srcW, destW, x - destX, source.Width());
            if (!cols.valid)
                continue;
            std::int64_t sum[3] = {0, 0, 0};
            for (std::size_t i = 0; i < rows.pos.size(); ++i) {
                std::int64_t inner[3] = {0, 0, 0};
                for (std::size_t j = 0; j < cols.pos.size(); ++j) {
                    const TRGB c = source.GetColor(int(cols.pos[j]), int(rows.pos[i]));
                    inner[0] += cols.weight[j] * RedOf(c);
                    inner[1] += cols.weight[j] * GreenOf(c);
                    inner[2] += cols.weight[j] * BlueOf(c);
                }
                for (int ch = 0; ch < 3; ++ch)
                    sum[ch] += rows.weight[i] * (inner[ch] / cols.divisor);
            }
            Store(target, dither ? &d : nullptr, x, y,
                  RGBValue(std::uint8_t(sum[0] / rows.divisor), std::uint8_t(sum[1] / rows.divisor),
                           std::uint8_t(sum[2] / rows.divisor)));
        }
    }
}

inline void Rotate(TPixelGraphic& target, const TPixelGraphic& source, int srcLeft, int srcTop, int srcWidth,
                   int srcHeight, int srcCenterX, int srcCenterY, int destCenterX, int destCenterY, long double angle)
{
    if (target.Width() < 1 || target.Height() < 1 || source.Width() < 1 || source.Height() < 1)
        return;
    const long double theta = angle * 3.14159265358979323846264338327950288L / 180.0L;
    const long double c = std::cos(theta), s = std::sin(theta);
    const long double det = c * c + s * s;
    const long double i00 = c / det, i01 = s / det, i10 = -s / det, i11 = c / det;
    long double minX = 1e30L, maxX = -1e30L, minY = 1e30L, maxY = -1e30L;
    for (const int u : {srcLeft, srcLeft + srcWidth})
        for (const int v : {srcTop, srcTop + srcHeight}) {
            const long double x = (u - srcCenterX) * c - (v - srcCenterY) * s + destCenterX;
            const long double y = (u - srcCenterX) * s + (v - srcCenterY) * c + destCenterY;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    const long double fx0 = std::max(std::floor(minX), 0.0L), fx1 = std::min(std::ceil(maxX), target.Width() - 1.0L);
    const long double fy0 = std::max(std::floor(minY), 0.0L), fy1 = std::min(std::ceil(maxY), target.Height() - 1.0L);
    if (fx0 > fx1 || fy0 > fy1)
        return;
    const int col0 = int(fx0), col1 = int(fx1), row0 = int(fy0), row1 = int(fy1);
    const int ux0 = std::max(srcLeft, 0), ux1 = std::min(srcLeft + srcWidth - 1, source.Width() - 1);
    const int vy0 = std::max(srcTop, 0), vy1 = std::min(srcTop + srcHeight - 1, source.Height() - 1);
    const auto inside = [&](long double u, long double v) { return u >= ux0 && u <= ux1 && v >= vy0 && v <= vy1; };
    const bool whole = angle == std::trunc(angle) && std::fmod(angle, 90.0L) == 0;
    const bool bilinear = target.RotateInterpolation() == 1 && !whole;
    const bool dither = target.Dither() && target.BitCount() != bc24;
    TDither d(target);
    for (int y = row0; y <= row1; ++y) {
        if (dither)
            d.NextRow();
        for (int k = 0; k < target.Width(); ++k) {
            const int x = y % 2 == 0 ? k : target.Width() - 1 - k;
            if (x < col0 || x > col1)
                continue;
            const long double u = (x - destCenterX) * i00 + (y - destCenterY) * i01 + srcCenterX;
            const long double v = (x - destCenterX) * i10 + (y - destCenterY) * i11 + srcCenterY;
            if (!bilinear) {
                const long double ru = std::nearbyint(u), rv = std::nearbyint(v);
                if (inside(ru, rv))
                    Store(target, dither ? &d : nullptr, x, y, source.GetColor(int(ru), int(rv)));
                continue;
            }
            const long double x0 = std::floor(u), x1 = std::ceil(u), y0 = std::floor(v), y1 = std::ceil(v);
            const long double px[4] = {x0, x0, x1, x1}, py[4] = {y0, y1, y0, y1};
            TRGB sample[4];
            bool any = false;
            for (int i = 0; i < 4; ++i) {
                if (inside(px[i], py[i])) {
                    sample[i] = source.GetColor(int(px[i]), int(py[i]));
                    any = true;
                } else {
                    sample[i] = target.GetColor(x, y);
                }
            }
            if (!any)
                continue;
            long double w[4];
            for (int i = 0; i < 4; ++i)
                w[i] = x0 == x1 ? 0.5L : (px[i] == x0 ? 1 - (u - x0) : 1 - (x1 - u));
            for (int i = 0; i < 4; ++i)
                w[i] = y0 == y1 ? w[i] / 2 : w[i] * (py[i] == y0 ? 1 - (v - y0) : 1 - (y1 - v));
            int ch[3];
            for (int k3 = 0; k3 < 3; ++k3) {
                long double sum = 0;
                for (int i = 0; i < 4; ++i)
                    sum += w[i] * ((sample[i] >> (8 * k3)) & 0xFF);
                ch[k3] = Clamp255(int(std::nearbyint(sum)));
            }
            Store(target, dither ? &d : nullptr, x, y,
                  RGBValue(std::uint8_t(ch[0]), std::uint8_t(ch[1]), std::uint8_t(ch[2])));
        }
    }
}

inline void MirrorHorizontal(TPixelGraphic& image)
{
    for (int y = 0; y < image.Height(); ++y)
        for (int j = 0; j < std::max(image.Width() / 2, 1); ++j) {
            const std::uint32_t a = image.GetPixel(j, y), b = image.GetPixel(image.Width() - 1 - j, y);
            image.SetPixel(j, y, b);
            image.SetPixel(image.Width() - 1 - j, y, a);
        }
}

inline void MirrorVertical(TPixelGraphic& image)
{
    for (int x = 0; x < image.Width(); ++x)
        for (int j = 0; j < std::max(image.Height() / 2, 1); ++j) {
            const std::uint32_t a = image.GetPixel(x, j), b = image.GetPixel(x, image.Height() - 1 - j);
            image.SetPixel(x, j, b);
            image.SetPixel(x, image.Height() - 1 - j, a);
        }
}

}  // namespace rastova::ref
