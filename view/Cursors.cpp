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

// A four-way arrow around (cx, cy): arms of the given reach, a thin shaft and
// heads short enough that neighbouring heads stay apart.
QPainterPath FourWayArrow(qreal cx, qreal cy, qreal reach, qreal head)
{
    const qreal s = 1.5, neck = reach - head - 1;
    QPolygonF polygon;
    // One arm pointing up, turned four times.
    const QPointF arm[] = {{-s, -s}, {-s, -neck}, {-head, -neck}, {0, -reach}, {head, -neck}, {s, -neck}};
    for (int quarter = 0; quarter < 4; ++quarter)
        for (const QPointF& p : arm) {
            // (x, y) turned by 90 degrees clockwise per quarter
            QPointF q = p;
            for (int k = 0; k < quarter; ++k)
                q = QPointF(-q.y(), q.x());
            polygon << QPointF(cx + q.x(), cy + q.y());
        }
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.addPolygon(polygon);
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
    // Smoothing blurs a one-pixel outline into grey at 1x; it only helps at 2x.
    p.setRenderHint(QPainter::Antialiasing, p.device()->devicePixelRatio() > 1);
    p.setPen(QPen(line, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(fill);
    p.drawPath(path);
}

QPixmap Draw(TViewCursor which, qreal ratio)
{
    QPixmap pixmap = Canvas(ratio);
    QPainter p(&pixmap);
    switch (which) {
    case vcScroll:  // a ring with arrows: the picture can be dragged
    case vcScrolling: {  // the same filled in: it is being dragged
        const bool active = which == vcScrolling;
        p.setRenderHint(QPainter::Antialiasing, p.device()->devicePixelRatio() > 1);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(active ? QColor(Qt::black) : QColor(Qt::white));
        p.drawEllipse(QPointF(16.5, 12.5), 11.5, 11.5);
        Outlined(p, FourWayArrow(16.5, 12.5, 10, 3), active ? Qt::white : Qt::black, active ? Qt::white : Qt::black);
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
    case vcMove:  // a large hollow arrow with a solid centre: the selection moves
        Outlined(p, FourWayArrow(16.5, 15.5, 14, 4), Qt::white, Qt::black);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(QRectF(14.5, 13.5, 4, 4), Qt::black);
        break;
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
