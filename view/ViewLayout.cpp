#include "view/ViewLayout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rastova {

namespace {

// Nearest integer, halves to the even neighbour.
int RoundEven(long double value)
{
    long double whole = std::floor(value);
    long double fraction = value - whole;
    if (fraction > 0.5L || (fraction == 0.5L && std::fmod(whole, 2.0L) != 0))
        whole += 1;
    return int(whole);
}

TStretchResult Fit(int pw, int ph, int availW, int availH, long double rA, long double rP)
{
    TStretchResult r;
    if (rA >= rP) {
        r.height = availH;
        r.width = int(std::trunc(availH * rP));
        r.zoom = (long double)r.height / ph;
    } else {
        r.width = availW;
        r.height = int(std::trunc(availW / rP));
        r.zoom = (long double)r.width / pw;
    }
    return r;
}

TStretchResult EdgeFit(int pw, int ph, int availW, int availH, int hsb, int vsb, long double rA,
                       long double rP)
{
    TStretchResult r = Fit(pw, ph, availW, availH, rA, rP);
    if (r.width >= availW - vsb && r.height >= availH - hsb)
        return r;
    if (rA > rP) {
        r.width = availW - vsb;
        r.height = int(std::trunc(r.width / rP));
        r.zoom = (long double)r.width / pw;
    } else {
        r.height = availH - hsb;
        r.width = int(std::trunc(r.height * rP));
        r.zoom = (long double)r.height / ph;
    }
    return r;
}

}  // namespace

TViewSize AutoSizeFor(int pictureWidth, int pictureHeight, int border, int hsb, int vsb, int minWidth,
                      int minHeight, int maxWidth, int maxHeight)
{
    long long w = (long long)pictureWidth + 2 * border;
    long long h = (long long)pictureHeight + 2 * border;
    bool horzBar = false, vertBar = false;
    for (int pass = 0; pass < 2; ++pass) {
        if (w > maxWidth && !horzBar) {
            h += hsb;
            horzBar = true;
        }
        if (h > maxHeight && !vertBar) {
            w += vsb;
            vertBar = true;
        }
    }
    w = std::max<long long>(std::min<long long>(w, maxWidth), minWidth);
    h = std::max<long long>(std::min<long long>(h, maxHeight), minHeight);
    return {int(w), int(h)};
}

namespace {

// Each side on its own: shrunk to (or enlarged to) its available length when
// it is longer (shorter); the ratio is then lost.
TStretchResult EachSideTowards(TStretchResult r, int availW, int availH, bool shrink)
{
    if (shrink ? r.width > availW : availW > r.width) {
        r.width = availW;
        r.zoom = -1.0L;
    }
    if (shrink ? r.height > availH : availH > r.height) {
        r.height = availH;
        r.zoom = -1.0L;
    }
    return r;
}

}  // namespace

TStretchResult StretchPicture(TStretch stretch, int pw, int ph, int availW, int availH, int hsb, int vsb,
                              long double zoomFactor)
{
    TStretchResult r{pw, ph, 1.0L};
    if (pw <= 0 || ph <= 0 || availW <= 0 || availH <= 0)
        return r;
    const long double rA = (long double)availW / availH;
    const long double rP = (long double)pw / ph;
    auto shrinkLongerEdge = [&] {
        if ((pw > availW && ph > availH - hsb) || (pw > availW - vsb && ph > availH))
            r = EdgeFit(pw, ph, availW, availH, hsb, vsb, rA, rP);
    };
    switch (stretch) {
    case sNeverKAR:
        break;
    case sAlways:
        r = {availW, availH, -1.0L};
        break;
    case sAlwaysKAR:
        r = Fit(pw, ph, availW, availH, rA, rP);
        break;
    case sShrink:
        r = EachSideTowards(r, availW, availH, true);
        break;
    case sShrinkKAR:
        if (pw > availW || ph > availH)
            r = Fit(pw, ph, availW, availH, rA, rP);
        break;
    case sEnlarge:
        // A side that stays too long keeps its scroll bar, which the other side loses.
        r = EachSideTowards(r, availW - (ph > availH ? vsb : 0), availH - (pw > availW ? hsb : 0), false);
        break;
    case sEnlargeKAR:
        if (pw < availW && ph < availH)
            r = Fit(pw, ph, availW, availH, rA, rP);
        break;
    case sAlwaysLongerEdgeKAR:
        r = EdgeFit(pw, ph, availW, availH, hsb, vsb, rA, rP);
        break;
    case sShrinkLongerEdgeKAR:
        shrinkLongerEdge();
        break;
    case sEnlargeShrinkLongerEdgeKAR:
        if (pw < availW && ph < availH)
            r = Fit(pw, ph, availW, availH, rA, rP);
        else
            shrinkLongerEdge();
        break;
    case sEnlargeLongerEdgeKAR:
        if (pw < availW || ph < availH)
            r = EdgeFit(pw, ph, availW, availH, hsb, vsb, rA, rP);
        break;
    case sZoomKAR:
        if (zoomFactor > 0)
            r.zoom = zoomFactor;
        r.width = RoundEven(pw * r.zoom);
        r.height = RoundEven(ph * r.zoom);
        break;
    }
    return r;
}

TCentring CenterPictureBox(int width, int height, int availW, int availH, int hsb, int vsb)
{
    TCentring c;
    int cx = availW, cy = availH;
    for (int pass = 0; pass < 2; ++pass) {
        if (cx < width && !c.horzBar) {
            cy -= hsb;
            c.horzBar = true;
        }
        if (height > cy && !c.vertBar) {
            cx -= vsb;
            c.vertBar = true;
        }
    }
    c.left = cx > width ? (cx - width) / 2 : 0;
    c.top = cy > height ? (cy - height) / 2 : 0;
    return c;
}

TTileRange TileRange(int low, int high, int clientExtent)
{
    TTileRange range;
    const int size = high - low;
    if (size <= 0)
        return range;
    if (low > 0)
        range.first = (1 - high) / size;
    if (high < clientExtent)
        range.last = (clientExtent - low - 1) / size;
    return range;
}

bool TilingMirrorsHorizontally(TTiling tiling) { return tiling == tMirrorHorizontal || tiling == tMirror; }
bool TilingMirrorsVertically(TTiling tiling) { return tiling == tMirrorVertical || tiling == tMirror; }

bool TileCellMirrored(int index, bool flip, bool tilingMirrorsAxis)
{
    const bool odd = index % 2 != 0;
    return flip != (odd && tilingMirrorsAxis);
}

int BoxToPicture(int value, int pictureExtent, int boxExtent)
{
    return boxExtent == 0 ? 0 : int((long long)value * pictureExtent / boxExtent);
}

int PictureToBox(int value, int pictureExtent, int boxExtent)
{
    return pictureExtent == 0 ? 0 : int((long long)value * boxExtent / pictureExtent);
}

std::array<TViewRect, 8> SelectionHandles(const TViewRect& s)
{
    const int midX = (s.left + s.right) / 2;
    const int midY = (s.top + s.bottom) / 2;
    const int xs[3][2] = {{s.left - 8, s.left - 3}, {midX - 2, midX + 3}, {s.right + 3, s.right + 8}};
    const int ys[3][2] = {{s.top - 8, s.top - 3}, {midY - 2, midY + 3}, {s.bottom + 3, s.bottom + 8}};
    // column, row of each handle in hit-test order
    static constexpr int order[8][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}};
    std::array<TViewRect, 8> handles;
    for (int i = 0; i < 8; ++i) {
        const auto& x = xs[order[i][0]];
        const auto& y = ys[order[i][1]];
        handles[i] = {x[0], y[0], x[1], y[1]};
    }
    return handles;
}

TClockHands ClockHandsAt(int x, int y, int stage, int percent)
{
    const long double m = percent * std::numbers::pi_v<long double> * 0.02L;
    const long double h = ((stage - 1) * 2 * std::numbers::pi_v<long double> + m) / 12;
    TClockHands c;
    c.centerX = x + 7;
    c.centerY = y + 7;
    c.hourX = c.centerX + RoundEven(6 * std::sin(h));
    c.hourY = c.centerY - RoundEven(6 * std::cos(h));
    c.minuteX = c.centerX + RoundEven(7 * std::sin(m));
    c.minuteY = c.centerY - RoundEven(7 * std::cos(m));
    return c;
}

int ProgressClockPositions(const TViewRect& r, bool fiveClocks, std::array<std::array<int, 2>, 5>& at)
{
    const int w = r.Width(), h = r.Height();
    if (w <= 20 || h <= 20)
        return 0;
    at[0] = {r.left + w / 2 - 7, r.top + h / 2 - 7};
    if (!fiveClocks || w < 101 || h < 101)
        return 1;
    at[1] = {r.left + 5, r.top + 5};
    at[2] = {r.right - 20, r.top + 5};
    at[3] = {r.left + 5, r.bottom - 20};
    at[4] = {r.right - 20, r.bottom - 20};
    return 5;
}

TPaintChoice ChoosePaint(const TPaintWish& w)
{
    TPaintChoice c;
    c.stretched = w.hasImage && w.stretchMode != smFast && !(w.box == w.image);
    c.invalid = w.paintInvalid || (w.stretchMode != smFast && !w.reduceOnLoad && !(w.box == w.preparedSize));
    if (!w.hasImage)
        return c;
    const int d = w.displayBits, p = w.imageBits;
    c.usePaint = (d < p && d <= 8) || c.stretched;
    if (p > 8 || d > 8)
        return c;
    if (d == 4)
        c.usePaint = c.usePaint || (w.imagePalette != pSys16 && (!w.reduceOnLoad || c.invalid));
    else if (!c.usePaint)
        c.usePaint = w.palette8 != pSource && w.palette8 != w.imagePalette && (!w.reduceOnLoad || c.invalid);
    return c;
}

}  // namespace rastova
