// Steps a batch adds around the job's mirror, rotate and colour steps: turning
// a photo upright from its EXIF orientation and fitting it into a box. Also the
// parsing of their option texts, shared by every host.
#pragma once

#include "formats/JpegExif.h"
#include "image/PGTypes.h"

#include <string>

namespace rastova {

class TPixelGraphic;

// The box of --fit: scale down (and up when Enlarge) to fit inside, keeping the aspect ratio.
struct TFitBox {
    int Width = 0;  // 0: no fitting
    int Height = 0;
    bool Enlarge = false;
    bool Active() const { return Width > 0 && Height > 0; }
};

// "WxH" or "WxH!" with positive sizes; false for anything else.
bool ParseFitBox(const std::string& text, TFitBox& box);

struct TImageSize {
    int Width = 0;
    int Height = 0;
};

// The size an image of width x height gets in the box: both sides scaled by the
// same factor, rounded to the nearest pixel and at least 1; unchanged when the
// box is inactive or the image already fits and may not be enlarged.
TImageSize FittedSize(int width, int height, const TFitBox& box);

// Resamples source into target (bc24, precise resampling) at the fitted size.
// False, with target untouched, when the size does not change.
bool FitImage(const TPixelGraphic& source, TPixelGraphic& target, const TFitBox& box);

// Makes target a true-colour image of the given size for a geometric step
// from source: 32-bit when the source has alpha (it is kept), else 24-bit;
// a true-colour source's background goes along, for a later flattening.
void PrepareGeometryTarget(const TPixelGraphic& source, TPixelGraphic& target, int width, int height);

// --resize GEOMETRY as ImageMagick reads it: "N%" scales both sides; "W" and
// "xH" set one side and keep the aspect ratio; "WxH" fits inside the box,
// enlarging too; "WxH!" is exact; "WxH>" only shrinks, "WxH<" only enlarges;
// "WxH^" fills the box. The flags also follow "W" and "xH".
enum TResizeMode { rmNone, rmPercent, rmFit, rmExact, rmShrink, rmEnlarge, rmFill };

struct TResizeGeometry {
    TResizeMode Mode = rmNone;
    int Width = 0;   // 0: not given
    int Height = 0;  // 0: not given
    double Percent = 0;
    bool Active() const { return Mode != rmNone; }
};

// False for anything that is not one of the forms above with positive sizes.
bool ParseResizeGeometry(const std::string& text, TResizeGeometry& geometry);

// The size an image of width x height gets: the side that reaches the box first
// (last for a fill) sets the factor; sides are rounded to the nearest pixel and
// at least 1.
TImageSize ResizedSize(int width, int height, const TResizeGeometry& geometry);

// Resamples source into target (bc24, precise resampling) at the resized size.
// False, with target untouched, when the size does not change.
bool ResizeImage(const TPixelGraphic& source, TPixelGraphic& target, const TResizeGeometry& geometry);

// Turns the image so that the stored picture appears as the orientation says.
// current holds the image; the result is in current afterwards, which may now
// point at what was other (the two are swapped when a quarter turn is made).
void ApplyOrientation(TPixelGraphic*& current, TPixelGraphic*& other, TExifOrientation orientation);

// A quarter turn of source into target (resized to H x W, bc24), with the pivots
// that keep every pixel: clockwise is the job's "Right (90 degrees)".
void RotateQuarter(const TPixelGraphic& source, TPixelGraphic& target, bool clockwise);

// "#rrggbb" or a colour name ("white", "black", "gray", ...); false when unknown.
bool ParseColor(const std::string& text, TRGB& color);

}  // namespace rastova
