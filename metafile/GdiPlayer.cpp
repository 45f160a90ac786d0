#include "metafile/GdiPlayer.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPathStroker>
#include <QRegion>

#include <algorithm>
#include <cmath>

namespace rastova::gdi {

TGdiObject LogPen(std::uint32_t style, std::int32_t width, QColor color)
{
    TGdiObject o;
    o.Kind = TGdiObjectKind::Pen;
    o.Pen.Style = style;
    o.Pen.Width = width;
    o.Pen.Color = color;
    o.Pen.Cosmetic = width <= 1;
    const std::uint32_t dashes = style & PS_STYLE_MASK;
    if (width > 1 && dashes >= PS_DASH && dashes <= PS_DASHDOTDOT)
        o.Pen.Style = (style & ~PS_STYLE_MASK) | PS_SOLID;
    return o;
}

TGdiObject LogBrush(std::uint32_t style, QColor color, std::uint32_t hatch)
{
    TGdiObject o;
    o.Kind = TGdiObjectKind::Brush;
    o.Brush.Style = style;
    o.Brush.Color = color;
    o.Brush.Hatch = hatch;
    return o;
}

namespace {

// Coordinates beyond this are clamped, so a wild transform cannot send the
// rasterizer into endless work.
constexpr double kCoordinateLimit = 4.0e6;
constexpr double kMaxPenWidth = 2000;
constexpr std::size_t kMaxSavedStates = 4096;

double Finite(double v)
{
    if (!std::isfinite(v))
        return 0;
    return std::clamp(v, -kCoordinateLimit, kCoordinateLimit);
}

bool AxisAligned(const QTransform& t)
{
    return std::abs(t.m12()) < 1e-12 && std::abs(t.m21()) < 1e-12;
}

QPainter::CompositionMode Rop2Mode(int rop2)
{
    switch (rop2) {
    case 2: return QPainter::RasterOp_NotSourceAndNotDestination;  // NOTMERGEPEN
    case 3: return QPainter::RasterOp_NotSourceAndDestination;     // MASKNOTPEN
    case 4: return QPainter::RasterOp_NotSource;                   // NOTCOPYPEN
    case 5: return QPainter::RasterOp_SourceAndNotDestination;     // MASKPENNOT
    case 6: return QPainter::RasterOp_NotDestination;              // NOT
    case 7: return QPainter::RasterOp_SourceXorDestination;        // XORPEN
    case 8: return QPainter::RasterOp_NotSourceOrNotDestination;   // NOTMASKPEN
    case 9: return QPainter::RasterOp_SourceAndDestination;        // MASKPEN
    case 10: return QPainter::RasterOp_NotSourceXorDestination;    // NOTXORPEN
    case 12: return QPainter::RasterOp_NotSourceOrDestination;     // MERGENOTPEN
    case 14: return QPainter::RasterOp_SourceOrNotDestination;     // MERGEPENNOT
    case 15: return QPainter::RasterOp_SourceOrDestination;        // MERGEPEN
    default: return QPainter::CompositionMode_SourceOver;
    }
}

QRegion RegionOf(const QPainterPath& path)
{
    if (path.isEmpty())
        return {};
    return QRegion(path.toFillPolygon().toPolygon(), path.fillRule());
}

}  // namespace

QColor ColorRef(std::uint32_t value)
{
    return QColor(int(value & 0xFF), int(value >> 8 & 0xFF), int(value >> 16 & 0xFF));
}

TGdiPlayer::TGdiPlayer(QPainter& painter, const TPlacement& placement) : m_painter(painter), m_placement(placement)
{
    m_painter.save();
    m_painter.setRenderHint(QPainter::Antialiasing, false);
    m_painter.setRenderHint(QPainter::TextAntialiasing, false);
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    m_painter.resetTransform();
    MappingChanged();
}

TGdiPlayer::~TGdiPlayer()
{
    m_painter.restore();
}

// ---- state -------------------------------------------------------------------------

void TGdiPlayer::SaveDC()
{
    if (m_saved.size() < kMaxSavedStates)
        m_saved.push_back(m_state);
}

void TGdiPlayer::RestoreDC(int relative)
{
    const std::int64_t count = std::int64_t(m_saved.size());
    const std::int64_t index = relative < 0 ? count + relative : std::int64_t(relative) - 1;
    if (index < 0 || index >= count)
        return;
    m_state = m_saved[std::size_t(index)];
    m_saved.resize(std::size_t(index));
    MappingChanged();
    ApplyClip();
}

void TGdiPlayer::MappingChanged()
{
    const TDcState& s = m_state;
    auto safe = [](double v) { return std::abs(v) < 1e-9 || !std::isfinite(v) ? 1.0 : v; };
    if (!m_placement.Enhanced) {
        const QRectF& out = m_placement.WmfOutput;
        const double sx = out.width() / safe(s.WindowExt.x());
        const double sy = out.height() / safe(s.WindowExt.y());
        m_transform = QTransform(sx, 0, 0, sy, out.left() - s.WindowOrg.x() * sx, out.top() - s.WindowOrg.y() * sy);
        return;
    }
    double sx = 1, sy = 1;
    switch (s.MapMode) {
    case MM_LOMETRIC: sx = 0.1; sy = -0.1; break;
    case MM_HIMETRIC: sx = 0.01; sy = -0.01; break;
    case MM_LOENGLISH: sx = 0.254; sy = -0.254; break;
    case MM_HIENGLISH: sx = 0.0254; sy = -0.0254; break;
    case MM_TWIPS: sx = 25.4 / 1440; sy = -25.4 / 1440; break;
    case MM_ISOTROPIC:
    case MM_ANISOTROPIC:
        sx = s.ViewportExt.x() / safe(s.WindowExt.x());
        sy = s.ViewportExt.y() / safe(s.WindowExt.y());
        if (s.MapMode == MM_ISOTROPIC) {
            const double m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    default: break;
    }
    if (s.MapMode >= MM_LOMETRIC && s.MapMode <= MM_TWIPS) {
        sx *= m_placement.DevicePixelsPerMmX;
        sy *= m_placement.DevicePixelsPerMmY;
    }
    const QTransform page(sx, 0, 0, sy, s.ViewportOrg.x() - s.WindowOrg.x() * sx,
                          s.ViewportOrg.y() - s.WindowOrg.y() * sy);
    m_transform = s.World * page * m_placement.DeviceToOutput;
}

QPointF TGdiPlayer::Clamp(QPointF p) const
{
    return {Finite(p.x()), Finite(p.y())};
}

QPointF TGdiPlayer::Map(QPointF logical) const
{
    const QPointF p = Clamp(m_transform.map(logical));
    return {std::round(p.x()), std::round(p.y())};
}

double TGdiPlayer::ScaleX() const
{
    return Finite(std::hypot(m_transform.m11(), m_transform.m12()));
}

double TGdiPlayer::ScaleY() const
{
    return Finite(std::hypot(m_transform.m21(), m_transform.m22()));
}

QPainterPath TGdiPlayer::MapPath(const QPainterPath& logical) const
{
    QPainterPath out;
    out.setFillRule(logical.fillRule());
    for (int i = 0; i < logical.elementCount(); ++i) {
        const QPainterPath::Element e = logical.elementAt(i);
        const QPointF p = Map(QPointF(e.x, e.y));
        if (e.isMoveTo()) {
            out.moveTo(p);
        } else if (e.isLineTo()) {
            out.lineTo(p);
        } else if (e.isCurveTo() && i + 2 < logical.elementCount()) {
            const QPainterPath::Element c2 = logical.elementAt(i + 1);
            const QPainterPath::Element end = logical.elementAt(i + 2);
            out.cubicTo(Clamp(m_transform.map(QPointF(e.x, e.y))), Clamp(m_transform.map(QPointF(c2.x, c2.y))),
                        Map(QPointF(end.x, end.y)));
            i += 2;
        }
    }
    return out;
}

// ---- objects -----------------------------------------------------------------------

void TGdiPlayer::SelectObject(const TGdiObject& object)
{
    switch (object.Kind) {
    case TGdiObjectKind::Pen: m_state.Pen = object.Pen; break;
    case TGdiObjectKind::Brush: m_state.Brush = object.Brush; break;
    case TGdiObjectKind::Font: m_state.Font = object.Font; break;
    default: break;
    }
}

void TGdiPlayer::SelectStockObject(std::uint32_t index)
{
    static constexpr int kBrushGray[] = {255, 192, 128, 64, 0};
    if (index <= 4) {
        m_state.Brush = TBrush{};
        m_state.Brush.Color = QColor(kBrushGray[index], kBrushGray[index], kBrushGray[index]);
    } else if (index == 5) {
        m_state.Brush = TBrush{};
        m_state.Brush.Style = BS_NULL;
    } else if (index == 6 || index == 7) {
        m_state.Pen = TPen{};
        m_state.Pen.Color = index == 6 ? Qt::white : Qt::black;
    } else if (index == 8) {
        m_state.Pen = TPen{};
        m_state.Pen.Style = PS_NULL;
    } else if (index >= 10 && index <= 17 && index != 15) {
        m_state.Font = TFont{};
        m_state.Font.Height = index == 17 ? -11 : 16;
        m_state.Font.Face = index == 10 || index == 11 || index == 16 ? "Courier New" : "Arial";
        m_state.Font.Weight = index == 13 ? 700 : 400;
    }
}

// ---- clipping ----------------------------------------------------------------------

void TGdiPlayer::ApplyClip()
{
    if (m_state.Clip)
        m_painter.setClipPath(*m_state.Clip);
    else
        m_painter.setClipping(false);
}

void TGdiPlayer::ResetClip()
{
    m_state.Clip.reset();
    ApplyClip();
}

void TGdiPlayer::CombineClip(const QPainterPath& output, int mode)
{
    const QRegion add = RegionOf(output);
    const QPaintDevice* device = m_painter.device();
    const QRegion whole(-1, -1, (device ? device->width() : 0) + 2, (device ? device->height() : 0) + 2);
    const QRegion current = m_state.Clip ? RegionOf(*m_state.Clip) : whole;
    QRegion result;
    switch (mode) {
    case RGN_AND: result = current.intersected(add); break;
    case RGN_OR: result = current.united(add); break;
    case RGN_XOR: result = current.xored(add); break;
    case RGN_DIFF: result = current.subtracted(add); break;
    case RGN_COPY: result = add; break;
    default: return;
    }
    QPainterPath path;
    path.addRegion(result);
    m_state.Clip = path;
    ApplyClip();
}

// A logical rectangle as an output path: a rectangle when the transform keeps
// it axis-aligned, else its four transformed corners.
QPainterPath TGdiPlayer::DevicePath(QRectF logical) const
{
    bool aligned = false;
    QPolygonF corners;
    const QRectF box = DeviceBox(logical, aligned, corners);
    QPainterPath path;
    if (aligned)
        path.addRect(box);
    else
        path.addPolygon(corners);
    return path;
}

void TGdiPlayer::IntersectClipRect(QRectF logical) { CombineClip(DevicePath(logical), RGN_AND); }

void TGdiPlayer::ExcludeClipRect(QRectF logical) { CombineClip(DevicePath(logical), RGN_DIFF); }

void TGdiPlayer::OffsetClip(QPointF logical)
{
    if (!m_state.Clip)
        return;
    const QPointF d = Clamp(QPointF(logical.x() * m_transform.m11() + logical.y() * m_transform.m21(),
                                    logical.x() * m_transform.m12() + logical.y() * m_transform.m22()));
    m_state.Clip->translate(std::round(d.x()), std::round(d.y()));
    ApplyClip();
}

// ---- paths -------------------------------------------------------------------------

void TGdiPlayer::BeginPath()
{
    m_pathOpen = true;
    m_path = QPainterPath();
}

void TGdiPlayer::AbortPath()
{
    m_pathOpen = false;
    m_path = QPainterPath();
}

void TGdiPlayer::CloseFigure()
{
    if (m_pathOpen)
        m_path.closeSubpath();
}

void TGdiPlayer::FillPath(bool fill, bool stroke)
{
    m_pathOpen = false;
    m_path.setFillRule(m_state.FillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    if (fill) {
        // Every open figure is closed for filling.
        QPainterPath closed;
        closed.setFillRule(m_path.fillRule());
        for (const QPolygonF& poly : m_path.toSubpathPolygons())
            closed.addPolygon(poly), closed.closeSubpath();
        Draw(closed, true, false);
    }
    if (stroke)
        Draw(m_path, false, true);
    m_path = QPainterPath();
}

void TGdiPlayer::SelectClipPath(int mode)
{
    m_pathOpen = false;
    m_path.setFillRule(m_state.FillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    CombineClip(m_path, mode);
    m_path = QPainterPath();
}

void TGdiPlayer::WidenPath()
{
    QPainterPathStroker stroker;
    const QPen pen = MakePen();
    stroker.setWidth(std::max(1.0, pen.widthF()));
    m_path = stroker.createStroke(m_path);
}

// ---- drawing -----------------------------------------------------------------------

QPen TGdiPlayer::MakePen() const
{
    const TPen& p = m_state.Pen;
    const std::uint32_t style = p.Style & PS_STYLE_MASK;
    if (style == PS_NULL)
        return Qt::NoPen;
    double width = 1;
    if (!p.Cosmetic && p.Width > 0)
        width = std::clamp(std::round(p.Width * (ScaleX() + ScaleY()) / 2), 1.0, kMaxPenWidth);
    QColor color = p.Color;
    if (m_state.Rop2 == 1)
        color = Qt::black;
    else if (m_state.Rop2 == 16)
        color = Qt::white;
    QPen pen(color, width <= 1 ? 0 : width);
    if (width > 1) {
        const std::uint32_t cap = p.Style & PS_ENDCAP_MASK;
        const std::uint32_t join = p.Style & PS_JOIN_MASK;
        pen.setCapStyle(cap == PS_ENDCAP_SQUARE ? Qt::SquareCap : cap == PS_ENDCAP_FLAT ? Qt::FlatCap : Qt::RoundCap);
        pen.setJoinStyle(join == PS_JOIN_BEVEL ? Qt::BevelJoin : join == PS_JOIN_MITER ? Qt::MiterJoin : Qt::RoundJoin);
    } else {
        // Flat ends leave out a line's last pixel, as GDI does.
        pen.setCapStyle(Qt::FlatCap);
    }
    // Cosmetic styles are in pixels; geometric ones in multiples of the width.
    const bool unitPixels = width <= 1;
    QList<qreal> dashes;
    switch (style) {
    case PS_DASH: dashes = unitPixels ? QList<qreal>{18, 6} : QList<qreal>{3, 1}; break;
    case PS_DOT:
    case PS_ALTERNATE: dashes = unitPixels ? QList<qreal>{3, 3} : QList<qreal>{1, 1}; break;
    case PS_DASHDOT: dashes = unitPixels ? QList<qreal>{9, 6, 3, 6} : QList<qreal>{3, 1, 1, 1}; break;
    case PS_DASHDOTDOT: dashes = unitPixels ? QList<qreal>{9, 3, 3, 3, 3, 3} : QList<qreal>{3, 1, 1, 1, 1, 1}; break;
    case PS_USERSTYLE:
        for (double d : p.Dashes)
            dashes.push_back(std::clamp(d * ScaleX() / width, 0.5, 1000.0));
        if (dashes.size() % 2 == 1)
            dashes.push_back(dashes.back());
        break;
    default: break;
    }
    if (!dashes.isEmpty())
        pen.setDashPattern(dashes);
    return pen;
}

QBrush TGdiPlayer::MakeBrush(const TBrush& b) const
{
    QColor color = b.Color;
    if (m_state.Rop2 == 1)
        return QBrush(Qt::black);
    if (m_state.Rop2 == 16)
        return QBrush(Qt::white);
    switch (b.Style) {
    case BS_NULL: return Qt::NoBrush;
    case BS_HATCHED: {
        static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,   Qt::FDiagPattern,
                                                      Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        return b.Hatch < 6 ? QBrush(color, kHatches[b.Hatch]) : QBrush(color);
    }
    case BS_PATTERN:
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT: {
        if (b.Pattern.isNull())
            return QBrush(color);
        if (!b.Monochrome)
            return QBrush(b.Pattern);
        // Clear bits take the text colour, set bits the background colour.
        QImage tile = b.Pattern.convertToFormat(QImage::Format_RGB32);
        const QRgb fore = m_state.TextColor.rgb(), back = m_state.BkColor.rgb();
        for (int y = 0; y < tile.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(tile.scanLine(y));
            for (int x = 0; x < tile.width(); ++x)
                line[x] = qGray(line[x]) < 128 ? fore : back;
        }
        return QBrush(tile);
    }
    default: return QBrush(color);
    }
}

void TGdiPlayer::ApplyRop2()
{
    m_painter.setCompositionMode(Rop2Mode(m_state.Rop2));
}

void TGdiPlayer::Draw(const QPainterPath& output, bool fill, bool stroke)
{
    if (m_state.Rop2 == R2_NOP || output.isEmpty())
        return;
    m_painter.setPen(stroke ? MakePen() : QPen(Qt::NoPen));
    m_painter.setBrush(fill ? MakeBrush(m_state.Brush) : QBrush(Qt::NoBrush));
    m_painter.setBrushOrigin(0, 0);
    m_painter.setBackgroundMode(m_state.BkMode == OPAQUE ? Qt::OpaqueMode : Qt::TransparentMode);
    m_painter.setBackground(m_state.BkColor);
    ApplyRop2();
    m_painter.drawPath(output);
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TGdiPlayer::AddToPathOrDraw(const QPainterPath& output, bool fill, bool stroke)
{
    if (m_pathOpen) {
        m_path.addPath(output);
        return;
    }
    QPainterPath path = output;
    path.setFillRule(m_state.FillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    Draw(path, fill, stroke);
}

void TGdiPlayer::MoveTo(QPointF p)
{
    m_state.Position = p;
    if (m_pathOpen)
        m_path.moveTo(Map(p));
}

void TGdiPlayer::LineTo(QPointF p)
{
    if (m_pathOpen) {
        if (m_path.elementCount() == 0)
            m_path.moveTo(Map(m_state.Position));
        m_path.lineTo(Map(p));
    } else {
        DrawOpen(QPolygonF{Map(m_state.Position), Map(p)});
    }
    m_state.Position = p;
}

void TGdiPlayer::DrawOpen(QPolygonF device)
{
    if (device.size() < 2)
        return;
    QPainterPath path(device[0]);
    for (qsizetype i = 1; i < device.size(); ++i)
        path.lineTo(device[i]);
    Draw(path, false, true);
}

void TGdiPlayer::Polyline(const QPolygonF& points)
{
    if (points.size() < 2)
        return;
    QPolygonF device;
    for (const QPointF& p : points)
        device.append(Map(p));
    if (!m_pathOpen) {
        DrawOpen(device);
        return;
    }
    m_path.moveTo(device[0]);
    for (qsizetype i = 1; i < device.size(); ++i)
        m_path.lineTo(device[i]);
}

void TGdiPlayer::PolylineTo(const QPolygonF& points)
{
    if (points.isEmpty())
        return;
    if (m_pathOpen) {
        if (m_path.elementCount() == 0)
            m_path.moveTo(Map(m_state.Position));
        for (const QPointF& p : points)
            m_path.lineTo(Map(p));
    } else {
        QPolygonF device{Map(m_state.Position)};
        for (const QPointF& p : points)
            device.append(Map(p));
        DrawOpen(device);
    }
    m_state.Position = points.back();
}

void TGdiPlayer::PolyBezier(const QPolygonF& points)
{
    if (points.size() < 4)
        return;
    QPainterPath path(Map(points[0]));
    for (qsizetype i = 1; i + 2 < points.size(); i += 3)
        path.cubicTo(Map(points[i]), Map(points[i + 1]), Map(points[i + 2]));
    AddToPathOrDraw(path, false, true);
}

void TGdiPlayer::PolyBezierTo(const QPolygonF& points)
{
    if (points.size() < 3)
        return;
    QPainterPath path(Map(m_state.Position));
    qsizetype i = 0;
    for (; i + 2 < points.size(); i += 3)
        path.cubicTo(Map(points[i]), Map(points[i + 1]), Map(points[i + 2]));
    if (m_pathOpen) {
        if (m_path.elementCount() == 0)
            m_path.moveTo(Map(m_state.Position));
        for (qsizetype k = 0; k + 2 < points.size(); k += 3)
            m_path.cubicTo(Map(points[k]), Map(points[k + 1]), Map(points[k + 2]));
    } else {
        Draw(path, false, true);
    }
    m_state.Position = points[i - 1];
}

void TGdiPlayer::PolyPolygon(const std::vector<QPolygonF>& polygons)
{
    QPainterPath path;
    for (const QPolygonF& polygon : polygons) {
        if (polygon.size() < 2)
            continue;
        path.moveTo(Map(polygon[0]));
        for (qsizetype i = 1; i < polygon.size(); ++i)
            path.lineTo(Map(polygon[i]));
        path.closeSubpath();
    }
    AddToPathOrDraw(path, true, true);
}

void TGdiPlayer::PolyPolyline(const std::vector<QPolygonF>& polylines)
{
    for (const QPolygonF& polyline : polylines)
        Polyline(polyline);
}

void TGdiPlayer::PolyDraw(const QPolygonF& points, const std::vector<std::uint8_t>& types)
{
    enum : std::uint8_t { PT_CLOSEFIGURE = 1, PT_LINETO = 2, PT_BEZIERTO = 4, PT_MOVETO = 6 };
    QPainterPath path(Map(m_state.Position));
    for (qsizetype i = 0; i < points.size(); ++i) {
        const std::uint8_t type = types[std::size_t(i)];
        if ((type & 6) == PT_MOVETO) {
            path.moveTo(Map(points[i]));
        } else if ((type & 6) == PT_LINETO) {
            path.lineTo(Map(points[i]));
        } else if ((type & 6) == PT_BEZIERTO && i + 2 < points.size()) {
            path.cubicTo(Map(points[i]), Map(points[i + 1]), Map(points[i + 2]));
            i += 2;
        }
        if (type & PT_CLOSEFIGURE)
            path.closeSubpath();
    }
    if (!points.isEmpty())
        m_state.Position = points.back();
    AddToPathOrDraw(path, false, true);
}

QRectF TGdiPlayer::DeviceBox(QRectF logical, bool& axisAligned, QPolygonF& corners) const
{
    axisAligned = AxisAligned(m_transform);
    corners = QPolygonF{Map(logical.topLeft()), Map(logical.topRight()), Map(logical.bottomRight()),
                        Map(logical.bottomLeft())};
    return QRectF(corners[0], corners[2]).normalized();
}

void TGdiPlayer::Rectangle(QRectF box)
{
    bool aligned = false;
    QPolygonF corners;
    const QRectF device = DeviceBox(box, aligned, corners);
    QPainterPath path;
    if (!aligned) {
        path.addPolygon(corners);
        path.closeSubpath();
    } else if (m_state.Pen.Style == PS_NULL || m_pathOpen) {
        path.addRect(device);
    } else {
        // The outline covers the left and top edges but not the right and bottom ones.
        path.addRect(device.adjusted(0, 0, -1, -1));
    }
    AddToPathOrDraw(path, true, true);
}

void TGdiPlayer::RoundRect(QRectF box, QSizeF corner)
{
    bool aligned = false;
    QPolygonF corners;
    const QRectF device = DeviceBox(box, aligned, corners);
    if (!aligned) {
        QPainterPath logical;
        logical.addRoundedRect(box.normalized(), corner.width() / 2, corner.height() / 2);
        AddToPathOrDraw(MapPath(logical), true, true);
        return;
    }
    QPainterPath path;
    const double rx = std::min(std::abs(corner.width() * ScaleX()) / 2, device.width() / 2);
    const double ry = std::min(std::abs(corner.height() * ScaleY()) / 2, device.height() / 2);
    path.addRoundedRect(device.adjusted(0, 0, -1, -1), rx, ry);
    AddToPathOrDraw(path, true, true);
}

void TGdiPlayer::Ellipse(QRectF box)
{
    bool aligned = false;
    QPolygonF corners;
    const QRectF device = DeviceBox(box, aligned, corners);
    QPainterPath path;
    if (aligned) {
        path.addEllipse(device.adjusted(0, 0, -1, -1));
    } else {
        QPainterPath logical;
        logical.addEllipse(box.normalized());
        path = MapPath(logical);
    }
    AddToPathOrDraw(path, true, true);
}

void TGdiPlayer::ArcShape(TArcKind kind, QRectF box, QPointF start, QPointF end)
{
    bool aligned = false;
    QPolygonF corners;
    const QRectF device = DeviceBox(box, aligned, corners);
    // Angles are taken in whichever space the ellipse is upright in; Qt's arc
    // angles are parametric, so the radial points are scaled to a circle first.
    const bool inDevice = aligned;
    const QRectF rect = inDevice ? device.adjusted(0, 0, -1, -1) : box.normalized();
    const QPointF s = inDevice ? Map(start) : start;
    const QPointF e = inDevice ? Map(end) : end;
    const QPointF c = rect.center();
    const double rx = std::max(rect.width() / 2, 1e-9), ry = std::max(rect.height() / 2, 1e-9);
    const double a0 = std::atan2(-(s.y() - c.y()) / ry, (s.x() - c.x()) / rx) * 180 / M_PI;
    const double a1 = std::atan2(-(e.y() - c.y()) / ry, (e.x() - c.x()) / rx) * 180 / M_PI;
    double sweep;
    if (m_state.ArcDirection == AD_CLOCKWISE) {
        sweep = -std::fmod(a0 - a1 + 720, 360);
        if (sweep == 0)
            sweep = -360;
    } else {
        sweep = std::fmod(a1 - a0 + 720, 360);
        if (sweep == 0)
            sweep = 360;
    }
    QPainterPath path;
    if (kind == TArcKind::Pie) {
        path.moveTo(c);
        path.arcTo(rect, a0, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(rect, a0);
        path.arcTo(rect, a0, sweep);
        if (kind == TArcKind::Chord)
            path.closeSubpath();
    }
    if (!inDevice)
        path = MapPath(path);
    const bool closed = kind == TArcKind::Chord || kind == TArcKind::Pie;
    if (kind == TArcKind::ArcTo) {
        QPainterPath joined(Map(m_state.Position));
        joined.connectPath(path);
        path = joined;
        const QPointF last = path.currentPosition();
        m_state.Position = m_transform.inverted().map(last);
    }
    if (m_pathOpen && kind == TArcKind::ArcTo) {
        if (m_path.elementCount() == 0)
            m_path.moveTo(path.elementAt(0));
        m_path.connectPath(path);
        return;
    }
    AddToPathOrDraw(path, closed, true);
}

void TGdiPlayer::AngleArc(QPointF center, double radius, double startDegrees, double sweepDegrees)
{
    if (!std::isfinite(radius) || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees))
        return;
    sweepDegrees = std::clamp(sweepDegrees, -3600.0, 3600.0);
    const QRectF rect(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    QPainterPath logical(m_state.Position);
    logical.arcTo(rect, startDegrees, sweepDegrees);
    m_state.Position = logical.currentPosition();
    const QPainterPath path = MapPath(logical);
    if (m_pathOpen) {
        if (m_path.elementCount() == 0)
            m_path.moveTo(path.elementAt(0));
        m_path.connectPath(path);
        return;
    }
    Draw(path, false, true);
}

void TGdiPlayer::SetPixel(QPointF p, QColor color)
{
    const QPointF d = Map(p);
    m_painter.fillRect(QRectF(d, QSizeF(1, 1)), color);
}

void TGdiPlayer::FillRegion(const QPainterPath& output, const TBrush& brush)
{
    const TBrush saved = m_state.Brush;
    m_state.Brush = brush;
    Draw(output, true, false);
    m_state.Brush = saved;
}

void TGdiPlayer::FrameRegion(const QPainterPath& output, const TBrush& brush, double width, double height)
{
    QPainterPathStroker stroker;
    stroker.setWidth(std::clamp(2 * std::max(std::abs(width * ScaleX()), std::abs(height * ScaleY())), 1.0,
                                kMaxPenWidth));
    // The frame lies inside the region.
    const QPainterPath frame = stroker.createStroke(output).intersected(output);
    FillRegion(frame, brush);
}

void TGdiPlayer::InvertRegion(const QPainterPath& output)
{
    m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    m_painter.fillPath(output, Qt::white);
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TGdiPlayer::GradientRect(QRectF logical, QColor from, QColor to, bool vertical)
{
    bool aligned = false;
    QPolygonF corners;
    const QRectF device = DeviceBox(logical, aligned, corners);
    QLinearGradient gradient(device.topLeft(), vertical ? device.bottomLeft() : device.topRight());
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    m_painter.fillRect(device, gradient);
}

void TGdiPlayer::GradientTriangle(const QPolygonF& logical, const QColor colors[3])
{
    // Shaded by the mean colour of the corners: good enough after the
    // picture is reduced to a small palette.
    const QColor mean((colors[0].red() + colors[1].red() + colors[2].red()) / 3,
                      (colors[0].green() + colors[1].green() + colors[2].green()) / 3,
                      (colors[0].blue() + colors[1].blue() + colors[2].blue()) / 3);
    QPainterPath path;
    path.moveTo(Map(logical[0]));
    path.lineTo(Map(logical[1]));
    path.lineTo(Map(logical[2]));
    path.closeSubpath();
    m_painter.fillPath(path, mean);
}

// ---- text --------------------------------------------------------------------------

QFont TGdiPlayer::MakeFont(double& ascent, double& descent) const
{
    const TFont& lf = m_state.Font;
    QFont font(MapFontFace(lf.Face, lf.PitchAndFamily));
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    double height = lf.Height == 0 ? 16 : std::abs(double(lf.Height)) * ScaleY();
    height = std::clamp(height, 1.0, 2000.0);
    font.setPixelSize(std::max(1, int(std::lround(height))));
    if (lf.Height > 0) {
        // A positive height is the cell (ascent + descent), not the em.
        const QFontMetricsF cell(font);
        const double cellHeight = cell.ascent() + cell.descent();
        if (cellHeight > 0)
            font.setPixelSize(std::max(1, int(std::lround(height * height / cellHeight))));
    }
    font.setWeight(QFont::Weight(std::clamp(lf.Weight == 0 ? 400 : lf.Weight, 1, 1000)));
    font.setItalic(lf.Italic);
    font.setUnderline(lf.Underline);
    font.setStrikeOut(lf.StrikeOut);
    if (lf.Width != 0) {
        const double average = QFontMetricsF(font).averageCharWidth();
        const double wanted = std::abs(double(lf.Width)) * ScaleX();
        if (average > 0)
            font.setStretch(std::clamp(int(std::lround(100 * wanted / average)), 1, 4000));
    }
    const QFontMetricsF metrics(font);
    ascent = metrics.ascent();
    descent = metrics.descent();
    return font;
}

QPainterPath TGdiPlayer::DeviceArea(const QRectF& rect) const
{
    bool aligned = false;
    QPolygonF corners;
    const QRectF box = DeviceBox(rect, aligned, corners);
    QPainterPath path;
    path.addPolygon(aligned ? QPolygonF(box) : corners);
    return path;
}

std::vector<double> TGdiPlayer::Advances(const TText& text, const QFontMetricsF& metrics, double sx)
{
    std::vector<double> advances;
    for (qsizetype i = 0; i < text.Chars.size(); ++i) {
        const double a = i < qsizetype(text.Dx.size()) ? text.Dx[std::size_t(i)] * sx
                                                       : metrics.horizontalAdvance(text.Chars[i]);
        advances.push_back(Finite(a));
    }
    return advances;
}

void TGdiPlayer::DrawCharacters(const TText& text, const std::vector<double>& advances, QPointF at)
{
    if (text.Dx.empty()) {
        m_painter.drawText(at, text.Chars);
        return;
    }
    // Each character at its own rounded place, a surrogate pair as one.
    double pen = at.x();
    for (qsizetype i = 0; i < text.Chars.size(); ++i) {
        const bool pair = text.Chars[i].isHighSurrogate() && i + 1 < text.Chars.size();
        m_painter.drawText(QPointF(std::round(pen), at.y()), text.Chars.mid(i, pair ? 2 : 1));
        pen += advances[std::size_t(i)];
        if (pair)
            pen += advances[std::size_t(++i)];
    }
}

void TGdiPlayer::TextOut(const TText& text)
{
    if (m_pathOpen)
        return;
    const double sx = ScaleX();
    if (text.Rect && (text.Options & ETO_OPAQUE)) {
        m_painter.fillPath(DeviceArea(*text.Rect), m_state.BkColor);
    }
    if (text.Chars.isEmpty())
        return;
    double ascent = 0, descent = 0;
    const QFont font = MakeFont(ascent, descent);
    const QFontMetricsF metrics(font);

    const std::vector<double> advances = Advances(text, metrics, sx);
    double total = text.Dx.empty() ? metrics.horizontalAdvance(text.Chars) : 0;
    if (!text.Dx.empty())
        for (const double a : advances)
            total += a;

    const bool updateCp = (m_state.TextAlign & TA_UPDATECP) != 0;
    const QPointF origin = Clamp(m_transform.map(updateCp ? m_state.Position : text.Reference));
    double angle = m_state.Font.Escapement / 10.0;
    if (!AxisAligned(m_transform))
        angle += std::atan2(-m_transform.m12(), m_transform.m11()) * 180 / M_PI;

    double x = 0;
    const std::uint32_t horizontal = m_state.TextAlign & TA_CENTER;
    if (horizontal == TA_CENTER)
        x = -total / 2;
    else if (horizontal == TA_RIGHT)
        x = -total;
    const std::uint32_t vertical = m_state.TextAlign & TA_BASELINE;
    const double y = vertical == TA_BASELINE ? 0 : vertical == TA_BOTTOM ? -descent : ascent;

    m_painter.save();
    if (text.Rect && (text.Options & ETO_CLIPPED)) {
        m_painter.setClipPath(DeviceArea(*text.Rect), m_state.Clip ? Qt::IntersectClip : Qt::ReplaceClip);
    }
    m_painter.translate(origin);
    m_painter.rotate(-angle);
    if (m_state.BkMode == OPAQUE)
        m_painter.fillRect(QRectF(x, y - ascent, total, ascent + descent), m_state.BkColor);
    m_painter.setFont(font);
    m_painter.setPen(m_state.TextColor);
    // The cell background is filled above; Qt's own opaque text would use a stale colour.
    m_painter.setBackgroundMode(Qt::TransparentMode);
    DrawCharacters(text, advances, QPointF(x, y));
    m_painter.restore();
    if (updateCp && sx > 0) {
        const double step = horizontal == TA_CENTER ? 0 : total / sx;
        m_state.Position.rx() += horizontal == TA_RIGHT ? -step : step;
    }
}

// ---- bitmaps -----------------------------------------------------------------------

void TGdiPlayer::PatBlt(QRectF destination, std::uint32_t rop)
{
    const QPainterPath path = DeviceArea(destination);
    const std::uint32_t code = rop >> 16 & 0xFF;
    QBrush brush = MakeBrush(m_state.Brush);
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (code) {
    case 0x00: brush = QBrush(Qt::black); break;
    case 0xFF: brush = QBrush(Qt::white); break;
    case 0x55: mode = QPainter::RasterOp_NotDestination; brush = QBrush(Qt::white); break;
    case 0x5A: mode = QPainter::RasterOp_SourceXorDestination; break;
    case 0x0F: mode = QPainter::RasterOp_NotSource; break;
    case 0xA5: mode = QPainter::RasterOp_NotSourceXorDestination; break;
    case 0xAA: return;
    default: break;
    }
    if (brush.style() == Qt::NoBrush)
        return;
    m_painter.setCompositionMode(mode);
    m_painter.setBrushOrigin(0, 0);
    m_painter.fillPath(path, brush);
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

namespace {

// How a raster operation with a source combines it with the picture; the
// plain copy for the ones drawn otherwise.
QPainter::CompositionMode SourceRopMode(std::uint32_t code)
{
    switch (code) {
    case 0xEE: return QPainter::RasterOp_SourceOrDestination;
    case 0x88: return QPainter::RasterOp_SourceAndDestination;
    case 0x66: return QPainter::RasterOp_SourceXorDestination;
    case 0x44: return QPainter::RasterOp_SourceAndNotDestination;
    case 0x33: return QPainter::RasterOp_NotSource;
    case 0x11: return QPainter::RasterOp_NotSourceAndNotDestination;
    case 0xBB: return QPainter::RasterOp_NotSourceOrDestination;
    case 0x99: return QPainter::RasterOp_NotSourceXorDestination;
    case 0x22: return QPainter::RasterOp_NotSourceAndDestination;
    default: return QPainter::CompositionMode_SourceOver;
    }
}

// Masked pattern fills: where the source is dark (0xB8) or light (0xE2) the
// brush colour is painted, elsewhere the picture stays.
QImage MaskedPatternFill(const QImage& source, bool whereDark, QRgb brush)
{
    QImage mask = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < mask.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(mask.scanLine(y));
        for (int x = 0; x < mask.width(); ++x)
            line[x] = (qGray(line[x]) < 128) == whereDark ? brush : 0;
    }
    return mask;
}

}  // namespace

void TGdiPlayer::StretchBlt(QRectF destination, const QImage& source, QRectF from, std::uint32_t rop)
{
    const std::uint32_t code = rop >> 16 & 0xFF;
    switch (code) {
    case 0x00: case 0xFF: case 0x55: case 0x5A: case 0xF0: case 0x0F: case 0xA5: case 0xAA:
        PatBlt(destination, rop);
        return;
    default: break;
    }
    if (source.isNull())
        return;
    QImage image = source;
    if (from.width() < 0 || from.height() < 0)
        return;
    from = from.intersected(QRectF(image.rect()));
    if (from.isEmpty())
        return;
    // A negative destination extent mirrors the picture.
    const bool flipX = destination.width() < 0, flipY = destination.height() < 0;
    destination = destination.normalized();
    bool aligned = false;
    QPolygonF corners;
    QRectF box = DeviceBox(destination, aligned, corners);
    const bool deviceFlipX = aligned && m_transform.m11() < 0, deviceFlipY = aligned && m_transform.m22() < 0;
    if (flipX != deviceFlipX || flipY != deviceFlipY) {
        image = image.copy(from.toRect()).mirrored(flipX != deviceFlipX, flipY != deviceFlipY);
        from = QRectF(image.rect());
    }
    if (code == 0xB8 || code == 0xE2) {
        image = MaskedPatternFill(image.copy(from.toRect()), code == 0xB8, m_state.Brush.Color.rgb());
        from = QRectF(image.rect());
    }
    m_painter.setCompositionMode(SourceRopMode(code));
    if (aligned) {
        m_painter.drawImage(box, image, from);
    } else {
        m_painter.setTransform(m_transform);
        m_painter.drawImage(destination, image, from);
        m_painter.resetTransform();
    }
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

}  // namespace rastova::gdi
