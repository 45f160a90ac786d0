// Drawing a TPixelGraphic of any pixel format onto a QPainter.
#pragma once

#include "image/PGraphic.h"
#include "view/ViewLayout.h"

#include <QImage>
#include <QVector>

class QPainter;

namespace rastova {

// Colour table of a palette image for QImage (opaque ARGB).
QVector<QRgb> ColorTableOf(const TPixelGraphic& graphic);

// Rows [firstRow, lastRow) of graphic, columns [firstCol, lastCol), as a QImage. The
// rows come out in memory order, bottom row first, so the result is upside down.
// 1-, 8- and 24-bit images are wrapped without copying the pixels (the QImage
// must not outlive the image); 4-bit rows are unpacked into an 8-bit copy.
QImage WrapRowsUpsideDown(const TPixelGraphic& graphic, int firstRow, int lastRow, int firstCol,
                          int lastCol);

// Draws the whole image scaled into dest with nearest-pixel sampling. An exchanged
// pair of edges (right < left or bottom < top) draws it mirrored along that axis,
// covering the pixels right + 1 ... left (or bottom + 1 ... top). Only the part
// inside the painter's clip is fetched from the image.
void DrawPixelGraphic(QPainter& painter, const TViewRect& dest, const TPixelGraphic& graphic);

}  // namespace rastova
