// The control's four cursors. They are drawn in code at 32 x 32 logical pixels
// (twice that on a 2x screen) so that no image files travel with the library.
#include "view/PGImage.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace rastova {

namespace {

// A four-way arrow around (cx, cy): arms of the given reach, shaft half-width 2.
QPainterPath FourWayArrow(qreal cx, qreal cy, qreal reach)
{
    QPainterPath path;
    const qreal s = 2, head = 5, neck = reach - 5;
    const QPointF pts[] = {
        {cx - s, cy - s},    {cx - s, cy - neck},       {cx - head, cy - neck}, {cx, cy - reach},
        {cx + head, cy - neck}, {cx + s, cy - neck},    {cx + s, cy - s},       {cx + neck, cy - s},
        {cx + neck, cy - head}, {cx + reach, cy},       {cx + neck, cy + head}, {cx + neck, cy + s},
        {cx + s, cy + s},    {cx + s, cy + neck},       {cx + head, cy + neck}, {cx, cy + reach},
        {cx - head, cy + neck}, {cx - s, cy + neck},    {cx - s, cy + s},       {cx - neck, cy + s},
        {cx - neck, cy + head}, {cx - reach, cy},       {cx - neck, cy - head}, {cx - neck, cy - s},
    };
    path.addPolygon(QPolygonF(std::begin(pts), std::end(pts)));
    path.closeSubpath();
    return path;
}

QPixmap Canvas(qreal ratio)
{
    QPixmap pixmap(int(32 * ratio), int(32 * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void Outlined(QPainter& p, const QPainterPath& path, const QColor& fill, const QColor& line)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(line, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(fill);
    p.drawPath(path);
}

QPixmap Draw(TViewCursor which, qreal ratio)
{
    QPixmap pixmap = Canvas(ratio);
    QPainter p(&pixmap);
    switch (which) {
    case vcScroll:  // hollow four-way arrow: the picture can be dragged
        Outlined(p, FourWayArrow(16.5, 12.5, 11), Qt::white, Qt::black);
        break;
    case vcScrolling: {  // solid arrow: the picture is being dragged
        Outlined(p, FourWayArrow(16.5, 12.5, 11), Qt::black, Qt::white);
        break;
    }
    case vcSelection: {  // thin cross with an open centre
        p.setPen(QPen(Qt::white, 3));
        const qreal c = 15.5;
        for (int pass = 0; pass < 2; ++pass) {
            p.drawLine(QPointF(c, 2), QPointF(c, 12));
            p.drawLine(QPointF(c, 19), QPointF(c, 29));
            p.drawLine(QPointF(2, c), QPointF(12, c));
            p.drawLine(QPointF(19, c), QPointF(29, c));
            p.setPen(QPen(Qt::black, 1));
        }
        p.drawPoint(QPointF(c, c));
        break;
    }
    case vcMove: {  // four-way arrow over a small frame: the selection moves
        p.setPen(QPen(Qt::black, 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(8.5, 7.5, 16, 16));
        Outlined(p, FourWayArrow(16.5, 15.5, 12), Qt::white, Qt::black);
        break;
    }
    }
    return pixmap;
}

constexpr int kHotSpots[4][2] = {{16, 12}, {16, 12}, {15, 15}, {16, 15}};

}  // namespace

const QCursor& ViewCursor(TViewCursor which)
{
    static const qreal ratio = qGuiApp ? std::max<qreal>(1.0, std::ceil(qGuiApp->devicePixelRatio())) : 1.0;
    static const QCursor cursors[4] = {
        QCursor(Draw(vcScroll, ratio), kHotSpots[0][0], kHotSpots[0][1]),
        QCursor(Draw(vcScrolling, ratio), kHotSpots[1][0], kHotSpots[1][1]),
        QCursor(Draw(vcSelection, ratio), kHotSpots[2][0], kHotSpots[2][1]),
        QCursor(Draw(vcMove, ratio), kHotSpots[3][0], kHotSpots[3][1]),
    };
    return cursors[which];
}

QPixmap ViewCursorPixmap(TViewCursor which, qreal ratio) { return Draw(which, ratio); }

}  // namespace rastova
