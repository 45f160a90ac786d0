// Layout arithmetic of the picture control, free of any widget so that every
// branch can be checked on plain numbers.
#pragma once

#include "image/PGTypes.h"

#include <array>

namespace rastova {

enum TStretch {
    sNeverKAR,
    sAlways,
    sAlwaysKAR,
    sShrink,
    sShrinkKAR,
    sEnlarge,
    sEnlargeKAR,
    sAlwaysLongerEdgeKAR,
    sShrinkLongerEdgeKAR,
    sEnlargeShrinkLongerEdgeKAR,
    sEnlargeLongerEdgeKAR,
    sZoomKAR,
};

enum TTiling { tNone, tRepeat, tMirrorHorizontal, tMirrorVertical, tMirror };

enum TActionMode {
    amMoveImage,
    amMoveResizeCreateSelection,
    amMoveSelection,
    amMoveSelectionMoveImage,
    amCreateSelection,
    amNone,
};

// Rectangle with exclusive right and bottom edges, as the drawing code uses them.
struct TViewRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const TViewRect&) const = default;
};

struct TViewSize {
    int width = 0, height = 0;
    bool operator==(const TViewSize&) const = default;
};

// Size the control needs for a picture: border b on each side, a scroll bar
// added where a limit cuts the picture, then clamped to the limits.
TViewSize AutoSizeFor(int pictureWidth, int pictureHeight, int border, int hsb, int vsb, int minWidth,
                      int minHeight, int maxWidth, int maxHeight);

struct TStretchResult {
    int width = 0, height = 0;
    long double zoom = 1.0L;  // -1 when the axes are scaled by different factors
};

// Size at which the picture is shown in an available area of availW x availH.
TStretchResult StretchPicture(TStretch stretch, int pictureWidth, int pictureHeight, int availW,
                              int availH, int hsb, int vsb, long double zoomFactor);

struct TCentring {
    int left = 0, top = 0;
    bool horzBar = false, vertBar = false;  // scroll bars the centring expects
};

// Centres a w x h picture box in the available area, leaving room for the
// scroll bars that a box larger than the area brings.
TCentring CenterPictureBox(int width, int height, int availW, int availH, int hsb, int vsb);

struct TTileRange {
    int first = 0, last = 0;
};

// Cell indices along one axis whose copies of [low, high) reach into [0, clientExtent).
TTileRange TileRange(int low, int high, int clientExtent);

// Whether a tile cell is drawn mirrored along one axis: the flip, undone on
// every odd cell when the tiling mirrors along that axis.
bool TileCellMirrored(int index, bool flip, bool tilingMirrorsAxis);
bool TilingMirrorsHorizontally(TTiling tiling);
bool TilingMirrorsVertically(TTiling tiling);

// Picture-box <-> picture coordinate conversions (0 for an empty divisor).
int BoxToPicture(int value, int pictureExtent, int boxExtent);
int PictureToBox(int value, int pictureExtent, int boxExtent);

// The eight handle squares in the order top-left, top middle, top-right, left,
// right, bottom-left, bottom middle, bottom-right, for a selection whose
// picture-box rectangle is sel (exclusive right/bottom).
std::array<TViewRect, 8> SelectionHandles(const TViewRect& sel);

// Pixel (k, j) of selection brush i: true for the second colour.
constexpr bool SelectionBrushSecondColor(int brush, int k, int j)
{
    return (j + k - brush + 8) % 8 > 3;
}

struct TClockHands {
    int centerX = 0, centerY = 0;
    int hourX = 0, hourY = 0;
    int minuteX = 0, minuteY = 0;
    bool operator==(const TClockHands&) const = default;
};

// End points of a progress clock whose bounding square starts at (x, y).
TClockHands ClockHandsAt(int x, int y, int stage, int percent);

// Top-left corners of the progress clocks drawn in r: none, one centred clock
// or that one plus four in the corners.
int ProgressClockPositions(const TViewRect& r, bool fiveClocks, std::array<std::array<int, 2>, 5>& at);

// What the control needs of its picture to paint it, from its properties
// alone: whether a display-adapted paint image is wanted instead of the
// picture itself, and whether the one it has (or is making) is out of date.
struct TPaintWish {
    int displayBits = 24;       // bits per pixel of the display
    TViewSize box;              // the picture box
    bool hasImage = false;
    TViewSize image;            // the picture's size
    int imageBits = 24;         // and bits per pixel
    TPaletteIdent imagePalette = pTrueColor;
    TPaletteIdent palette8 = pSource;  // wanted for 8-bit pictures on an 8-bit display
    TStretchMode stretchMode = smFast;
    bool reduceOnLoad = false;
    bool paintInvalid = false;  // the properties changed since the last preparation
    TViewSize preparedSize;     // the size the last preparation made
};

struct TPaintChoice {
    bool stretched = false;  // the picture is resampled to the box, not scaled while drawn
    bool invalid = false;    // the paint image (made or in the making) is out of date
    bool usePaint = false;   // paint a prepared image rather than the picture
};

TPaintChoice ChoosePaint(const TPaintWish& wish);

}  // namespace rastova
