#include "view/PGDraw.h"

#include "image/PackedPixels.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rastova {

QVector<QRgb> ColorTableOf(const TPixelGraphic& graphic)
{
    QVector<QRgb> table(graphic.PaletteCapacity(), qRgb(0, 0, 0));
    const int count = std::min(graphic.PaletteCount(), int(table.size()));
    for (int i = 0; i < count; ++i) {
        const TRGB c = graphic.PaletteColors()[i];
        table[i] = qRgb(RedOf(c), GreenOf(c), BlueOf(c));
    }
    return table;
}

QImage WrapRowsUpsideDown(const TPixelGraphic& graphic, int firstRow, int lastRow, int firstCol, int lastCol)
{
    const int rows = lastRow - firstRow;
    if (graphic.GetEmpty() || rows <= 0 || lastCol <= firstCol)
        return {};
    const std::uint8_t* base = graphic.ScanLine(lastRow - 1);  // lowest address of the band
    const int stride = graphic.RowStride();
    const int cols = lastCol - firstCol;
    switch (graphic.BitCount()) {
    case bc24:
        return QImage(base + std::size_t(firstCol) * 3, cols, rows, stride, QImage::Format_BGR888);
    case bc32:
        // Blue, green, red, alpha in memory is Qt's straight ARGB32 on little-endian machines.
        return QImage(base + std::size_t(firstCol) * 4, cols, rows, stride, QImage::Format_ARGB32);
    case bc8: {
        QImage image(base + firstCol, cols, rows, stride, QImage::Format_Indexed8);
        image.setColorTable(ColorTableOf(graphic));
        return image;
    }
    case bc1: {
        // Bits cannot be addressed at a column, so the band keeps its full width.
        QImage image(base, graphic.Width(), rows, stride, QImage::Format_Mono);
        image.setColorTable(ColorTableOf(graphic));
        return image.copy(firstCol, 0, cols, rows).convertToFormat(QImage::Format_Indexed8);
    }
    case bc4: {
        QImage image(cols, rows, QImage::Format_Indexed8);
        image.setColorTable(ColorTableOf(graphic));
        for (int r = 0; r < rows; ++r) {
            const std::uint8_t* src = base + std::size_t(r) * stride;
            std::uint8_t* dst = image.scanLine(r);
            for (int x = firstCol; x < lastCol; ++x)
                *dst++ = std::uint8_t(GetPacked4(src, x));
        }
        return image;
    }
    }
    return {};
}

// Light and dark gray squares of 8 pixels, behind pictures with alpha.
const QBrush& CheckerboardBrush()
{
    static const QBrush brush = [] {
        QImage tile(16, 16, QImage::Format_RGB32);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                tile.setPixel(x, y, ((x / 8) ^ (y / 8)) != 0 ? qRgb(204, 204, 204) : qRgb(255, 255, 255));
        return QBrush(tile);
    }();
    return brush;
}

void DrawPixelGraphic(QPainter& painter, const TViewRect& dest, const TPixelGraphic& graphic)
{
    const int pw = graphic.Width(), ph = graphic.Height();
    if (graphic.GetEmpty() || pw <= 0 || ph <= 0)
        return;
    const bool mirrorX = dest.right < dest.left;
    const bool mirrorY = dest.bottom < dest.top;
    // Covered pixel span [x0, x1) x [y0, y1) on the device.
    const int x0 = mirrorX ? dest.right + 1 : dest.left, x1 = mirrorX ? dest.left + 1 : dest.right;
    const int y0 = mirrorY ? dest.bottom + 1 : dest.top, y1 = mirrorY ? dest.top + 1 : dest.bottom;
    const int dw = x1 - x0, dh = y1 - y0;
    if (dw <= 0 || dh <= 0)
        return;

    // The part of the destination that can be seen, in destination pixels.
    QRect visible(x0, y0, dw, dh);
    if (painter.hasClipping())
        visible &= painter.clipBoundingRect().toAlignedRect();
    if (visible.isEmpty())
        return;
    // Visible span measured from the covered rectangle's own near edges, as
    // seen from the picture (a mirrored axis counts from the far edge).
    int vx0 = visible.left() - x0, vx1 = visible.right() + 1 - x0;
    int vy0 = visible.top() - y0, vy1 = visible.bottom() + 1 - y0;
    if (mirrorX)
        std::tie(vx0, vx1) = std::pair(dw - vx1, dw - vx0);
    if (mirrorY)
        std::tie(vy0, vy1) = std::pair(dh - vy1, dh - vy0);
    // Picture columns and rows whose samples land there.
    const int c0 = std::clamp(int((long long)vx0 * pw / dw), 0, pw);
    const int c1 = std::clamp(int(((long long)vx1 * pw + dw - 1) / dw) + 1, 0, pw);
    const int r0 = std::clamp(int((long long)vy0 * ph / dh), 0, ph);
    const int r1 = std::clamp(int(((long long)vy1 * ph + dh - 1) / dh) + 1, 0, ph);
    const QImage band = WrapRowsUpsideDown(graphic, r0, r1, c0, c1);
    if (band.isNull())
        return;
    if (graphic.HasAlpha())
        painter.fillRect(visible, CheckerboardBrush());

    // Band pixel (bx, by) is picture pixel (c0 + bx, r1 - 1 - by): the memory
    // order flips the band unless the caller asked for an upside-down picture.
    const qreal sx = qreal(dw) / pw, sy = qreal(dh) / ph;
    QTransform t(mirrorX ? -1 : 1, 0, 0, mirrorY ? 1 : -1, mirrorX ? x1 - c0 * sx : x0 + c0 * sx,
                 mirrorY ? y1 - r1 * sy : y0 + r1 * sy);
    painter.save();
    painter.setTransform(t, true);
    painter.drawImage(QRectF(0, 0, (c1 - c0) * sx, (r1 - r0) * sy), band);
    painter.restore();
}

}  // namespace rastova
