// Enhanced metafile records onto the shared device context.
#include "metafile/GdiPlayer.h"

#include <cmath>

namespace rastova::gdi {

namespace {

enum : std::uint32_t {
    EMR_HEADER = 1, EMR_POLYBEZIER, EMR_POLYGON, EMR_POLYLINE, EMR_POLYBEZIERTO, EMR_POLYLINETO,
    EMR_POLYPOLYLINE, EMR_POLYPOLYGON, EMR_SETWINDOWEXTEX, EMR_SETWINDOWORGEX, EMR_SETVIEWPORTEXTEX,
    EMR_SETVIEWPORTORGEX, EMR_SETBRUSHORGEX, EMR_EOF, EMR_SETPIXELV, EMR_SETMAPPERFLAGS, EMR_SETMAPMODE,
    EMR_SETBKMODE, EMR_SETPOLYFILLMODE, EMR_SETROP2, EMR_SETSTRETCHBLTMODE, EMR_SETTEXTALIGN,
    EMR_SETCOLORADJUSTMENT, EMR_SETTEXTCOLOR, EMR_SETBKCOLOR, EMR_OFFSETCLIPRGN, EMR_MOVETOEX, EMR_SETMETARGN,
    EMR_EXCLUDECLIPRECT, EMR_INTERSECTCLIPRECT, EMR_SCALEVIEWPORTEXTEX, EMR_SCALEWINDOWEXTEX, EMR_SAVEDC,
    EMR_RESTOREDC, EMR_SETWORLDTRANSFORM, EMR_MODIFYWORLDTRANSFORM, EMR_SELECTOBJECT, EMR_CREATEPEN,
    EMR_CREATEBRUSHINDIRECT, EMR_DELETEOBJECT, EMR_ANGLEARC, EMR_ELLIPSE, EMR_RECTANGLE, EMR_ROUNDRECT, EMR_ARC,
    EMR_CHORD, EMR_PIE, EMR_SELECTPALETTE, EMR_CREATEPALETTE, EMR_SETPALETTEENTRIES, EMR_RESIZEPALETTE,
    EMR_REALIZEPALETTE, EMR_EXTFLOODFILL, EMR_LINETO, EMR_ARCTO, EMR_POLYDRAW, EMR_SETARCDIRECTION,
    EMR_SETMITERLIMIT, EMR_BEGINPATH, EMR_ENDPATH, EMR_CLOSEFIGURE, EMR_FILLPATH, EMR_STROKEANDFILLPATH,
    EMR_STROKEPATH, EMR_FLATTENPATH, EMR_WIDENPATH, EMR_SELECTCLIPPATH, EMR_ABORTPATH,
    EMR_GDICOMMENT = 70, EMR_FILLRGN, EMR_FRAMERGN, EMR_INVERTRGN, EMR_PAINTRGN, EMR_EXTSELECTCLIPRGN,
    EMR_BITBLT, EMR_STRETCHBLT, EMR_MASKBLT, EMR_PLGBLT, EMR_SETDIBITSTODEVICE, EMR_STRETCHDIBITS,
    EMR_EXTCREATEFONTINDIRECTW, EMR_EXTTEXTOUTA, EMR_EXTTEXTOUTW, EMR_POLYBEZIER16, EMR_POLYGON16,
    EMR_POLYLINE16, EMR_POLYBEZIERTO16, EMR_POLYLINETO16, EMR_POLYPOLYLINE16, EMR_POLYPOLYGON16, EMR_POLYDRAW16,
    EMR_CREATEMONOBRUSH, EMR_CREATEDIBPATTERNBRUSHPT, EMR_EXTCREATEPEN, EMR_POLYTEXTOUTA, EMR_POLYTEXTOUTW,
    EMR_SETICMMODE, EMR_SMALLTEXTOUT = 108, EMR_ALPHABLEND = 114, EMR_SETLAYOUT, EMR_TRANSPARENTBLT, EMR_GRADIENTFILL = 118
};

constexpr std::size_t kRecordHeader = 8;
constexpr std::uint32_t kStockObject = 0x80000000u;
constexpr std::uint32_t kSrcCopy = 0x00CC0020;

QPointF PointL(const TRecordBytes& r, std::size_t at) { return QPointF(r.I32(at), r.I32(at + 4)); }

QRectF RectL(const TRecordBytes& r, std::size_t at)
{
    const double left = r.I32(at), top = r.I32(at + 4), right = r.I32(at + 8), bottom = r.I32(at + 12);
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

// Points of a POLY* record: a count at `countAt`, then 32- or 16-bit pairs at `at`.
QPolygonF Points(const TRecordBytes& r, std::size_t at, std::uint32_t count, bool small)
{
    const std::size_t size = small ? 4 : 8;
    r.RequireArray(at, count, size);
    QPolygonF points;
    points.reserve(qsizetype(count));
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t p = at + std::size_t(i) * size;
        points.append(small ? QPointF(r.I16(p), r.I16(p + 2)) : QPointF(r.I32(p), r.I32(p + 4)));
    }
    return points;
}

std::vector<QPolygonF> PolyPoints(const TRecordBytes& r, bool small)
{
    const std::uint32_t polys = r.U32(24), total = r.U32(28);
    r.RequireArray(32, polys, 4);
    const std::size_t pointsAt = 32 + std::size_t(polys) * 4;
    const QPolygonF all = Points(r, pointsAt, total, small);
    std::vector<QPolygonF> result;
    std::uint64_t used = 0;
    for (std::uint32_t i = 0; i < polys; ++i) {
        const std::uint32_t n = r.U32(32 + std::size_t(i) * 4);
        if (n > total - used)
            throw EMetafileRecord("Metafile: polygon counts exceed the points");
        result.push_back(all.mid(qsizetype(used), qsizetype(n)));
        used += n;
    }
    return result;
}

QTransform XForm(const TRecordBytes& r, std::size_t at)
{
    double m[6];
    for (int i = 0; i < 6; ++i) {
        m[i] = r.F32(at + 4 * std::size_t(i));
        if (!std::isfinite(m[i]) || std::abs(m[i]) > 1e9)
            return QTransform();
    }
    return QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
}

// RGNDATA: a header of 32 bytes, then rectangles in device units.
QPainterPath Region(const TRecordBytes& r, std::size_t at, std::uint32_t size, const QTransform& toOutput)
{
    const TRecordBytes data = r.Sub(at, size);
    const std::uint32_t count = data.U32(8);
    data.RequireArray(32, count, 16);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (std::uint32_t i = 0; i < count; ++i) {
        const QRectF rect = RectL(data, 32 + std::size_t(i) * 16);
        path.addPolygon(toOutput.map(QPolygonF(rect)));
        path.closeSubpath();
    }
    return path;
}

TFont LogFont(const TRecordBytes& r, std::size_t at)
{
    TFont font;
    font.Height = r.I32(at);
    font.Width = r.I32(at + 4);
    font.Escapement = r.I32(at + 8);
    font.Orientation = r.I32(at + 12);
    font.Weight = r.I32(at + 16);
    font.Italic = r.U8(at + 20) != 0;
    font.Underline = r.U8(at + 21) != 0;
    font.StrikeOut = r.U8(at + 22) != 0;
    font.CharSet = r.U8(at + 23);
    font.PitchAndFamily = r.U8(at + 27);
    const std::uint8_t* face = r.At(at + 28, 64);
    for (int i = 0; i < 32; ++i) {
        const char16_t c = char16_t(U16LE(face + 2 * i));
        if (c == 0)
            break;
        font.Face.append(QChar(c));
    }
    return font;
}

// Bitmap fields at fixed offsets of the blit records.
struct TDibFields {
    std::size_t offBmi, cbBmi, offBits, cbBits;
};

QImage DibOf(const TRecordBytes& r, const TDibFields& at, bool keepAlpha = false)
{
    const std::uint32_t offBmi = r.U32(at.offBmi), cbBmi = r.U32(at.cbBmi);
    const std::uint32_t offBits = r.U32(at.offBits), cbBits = r.U32(at.cbBits);
    if (cbBmi == 0 || !r.Has(offBmi, cbBmi))
        return {};
    const TRecordBytes bits = r.Has(offBits, cbBits) ? r.Sub(offBits, cbBits) : TRecordBytes();
    return DecodeDib(r.Sub(offBmi, cbBmi), bits, keepAlpha);
}

// Offsets in the object-creating records: the object table index, then a
// LOGPEN (style, width as a point whose x counts, colour) or a LOGBRUSH.
constexpr std::size_t kObjectIndex = 8;
constexpr std::size_t kLogPenStyle = 12, kLogPenWidth = 16, kLogPenColor = 24;
constexpr std::size_t kLogBrushStyle = 12, kLogBrushColor = 16, kLogBrushHatch = 20;

TGdiObject PatternBrush(const TRecordBytes& r, bool monochrome)
{
    TGdiObject object;
    object.Kind = TGdiObjectKind::Brush;
    object.Brush.Style = BS_DIBPATTERNPT;
    object.Brush.Pattern = DibOf(r, {16, 20, 24, 28});
    object.Brush.Monochrome = monochrome;
    object.Brush.Color = Qt::gray;
    return object;
}

// One EMRTEXT at `kText`; its string and advance offsets count from the record's start.
void Text(TGdiPlayer& player, const TRecordBytes& r, bool wide, std::size_t kText = 36)
{
    TGdiPlayer::TText text;
    text.Reference = PointL(r, kText);
    const std::uint32_t chars = r.U32(kText + 8), offString = r.U32(kText + 12);
    text.Options = r.U32(kText + 16);
    const QRectF rect = RectL(r, kText + 20);
    if (text.Options & (ETO_OPAQUE | ETO_CLIPPED))
        text.Rect = rect;
    const std::uint32_t offDx = r.U32(kText + 36);
    r.RequireArray(offString, chars, wide ? 2 : 1);
    if (wide) {
        const std::uint8_t* p = r.At(offString, std::size_t(chars) * 2);
        for (std::uint32_t i = 0; i < chars; ++i)
            text.Chars.append(QChar(char16_t(U16LE(p + 2 * i))));
    } else {
        text.Chars = DecodeAnsi(r.At(offString, chars), chars, player.State().Font.CharSet);
    }
    if (text.Options & ETO_GLYPH_INDEX)
        return;  // glyph indexes of a font we do not have
    const std::size_t step = (text.Options & ETO_PDY) ? 8 : 4;
    if (offDx != 0 && r.HasArray(offDx, chars, step)) {
        for (std::uint32_t i = 0; i < chars; ++i)
            text.Dx.push_back(r.I32(offDx + i * step));
        // A decoded ANSI string can be shorter than its bytes.
        text.Dx.resize(std::min<std::size_t>(text.Dx.size(), std::size_t(text.Chars.size())));
    }
    player.TextOut(text);
}

void SmallText(TGdiPlayer& player, const TRecordBytes& r)
{
    constexpr std::uint32_t kNoRect = 0x100, kSmallChars = 0x200;
    TGdiPlayer::TText text;
    text.Reference = QPointF(r.I32(8), r.I32(12));
    const std::uint32_t chars = r.U32(16);
    text.Options = r.U32(20);
    std::size_t at = 36;
    if (!(text.Options & kNoRect)) {
        text.Rect = RectL(r, at);
        at += 16;
    }
    if (text.Options & kSmallChars) {
        text.Chars = DecodeAnsi(r.At(at, chars), chars, player.State().Font.CharSet);
    } else {
        r.RequireArray(at, chars, 2);
        for (std::uint32_t i = 0; i < chars; ++i)
            text.Chars.append(QChar(char16_t(r.U16(at + 2 * std::size_t(i)))));
    }
    player.TextOut(text);
}

void GradientFill(TGdiPlayer& player, const TRecordBytes& r)
{
    const std::uint32_t vertices = r.U32(24), shapes = r.U32(28), mode = r.U32(32);
    r.RequireArray(36, vertices, 16);
    const std::size_t shapesAt = 36 + std::size_t(vertices) * 16;
    auto vertex = [&](std::uint32_t i, QPointF& p, QColor& c) {
        if (i >= vertices)
            throw EMetafileRecord("Metafile: gradient vertex out of range");
        const std::size_t at = 36 + std::size_t(i) * 16;
        p = PointL(r, at);
        c = QColor(r.U16(at + 8) >> 8, r.U16(at + 10) >> 8, r.U16(at + 12) >> 8);
    };
    if (mode == 2) {
        r.RequireArray(shapesAt, shapes, 12);
        for (std::uint32_t s = 0; s < shapes; ++s) {
            QPolygonF triangle(3);
            QColor colors[3];
            for (int k = 0; k < 3; ++k)
                vertex(r.U32(shapesAt + s * 12 + 4 * std::size_t(k)), triangle[k], colors[k]);
            player.GradientTriangle(triangle, colors);
        }
    } else if (mode <= 1) {
        r.RequireArray(shapesAt, shapes, 8);
        for (std::uint32_t s = 0; s < shapes; ++s) {
            QPointF a, b;
            QColor ca, cb;
            vertex(r.U32(shapesAt + s * 8), a, ca);
            vertex(r.U32(shapesAt + s * 8 + 4), b, cb);
            player.GradientRect(QRectF(a, b), ca, cb, mode == 1);
        }
    }
}

class TEmfPlayback {
public:
    explicit TEmfPlayback(TGdiPlayer& player) : m_player(player) {}
    bool Play(const TRecordBytes& r, std::uint32_t type);

private:
    void Blit(const TRecordBytes& r, std::uint32_t type);
    void CreateObject(std::uint32_t index, TGdiObject object) { m_player.Objects[index] = std::move(object); }
    QTransform DeviceToOutput() const;

    TGdiPlayer& m_player;
};

QTransform TEmfPlayback::DeviceToOutput() const
{
    // Region rectangles are in device units: the mapping with no page or world part.
    TDcState& s = m_player.State();
    const TDcState saved = s;
    s.MapMode = MM_TEXT;
    s.WindowOrg = s.ViewportOrg = QPointF(0, 0);
    s.World = QTransform();
    m_player.MappingChanged();
    const QTransform result = m_player.Transform();
    s = saved;
    m_player.MappingChanged();
    return result;
}

void TEmfPlayback::Blit(const TRecordBytes& r, std::uint32_t type)
{
    if (type == EMR_STRETCHDIBITS || type == EMR_SETDIBITSTODEVICE) {
        const QPointF dest(r.I32(24), r.I32(28));
        const double xSrc = r.I32(32), ySrc = r.I32(36), cxSrc = r.I32(40), cySrc = r.I32(44);
        const QImage image = DibOf(r, {48, 52, 56, 60});
        if (image.isNull())
            return;
        double cxDest = cxSrc, cyDest = cySrc;
        std::uint32_t rop = kSrcCopy;
        if (type == EMR_STRETCHDIBITS) {
            rop = r.U32(68);
            cxDest = r.I32(72);
            cyDest = r.I32(76);
        }
        // The source origin of these records is the bitmap's lower-left corner.
        const QRectF from(xSrc, image.height() - ySrc - cySrc, cxSrc, cySrc);
        m_player.StretchBlt(QRectF(dest.x(), dest.y(), cxDest, cyDest), image, from, rop);
        return;
    }
    const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
    const std::uint32_t rop = type == EMR_TRANSPARENTBLT || type == EMR_ALPHABLEND ? kSrcCopy : r.U32(40);
    const QPointF src(r.I32(44), r.I32(48));
    const bool alpha = type == EMR_ALPHABLEND;
    QImage image = r.Has(0, 100) ? DibOf(r, {84, 88, 92, 96}, alpha) : QImage();
    if (image.isNull()) {
        m_player.PatBlt(dest, rop);
        return;
    }
    QSizeF srcSize = dest.size();
    if (type != EMR_BITBLT && type != EMR_MASKBLT && r.Has(100, 8))
        srcSize = QSizeF(r.I32(100), r.I32(104));
    if (type == EMR_TRANSPARENTBLT) {
        const QColor key = ColorRef(r.U32(40));
        image = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if ((line[x] & 0xFFFFFF) == (key.rgb() & 0xFFFFFF))
                    line[x] = 0;
        }
    } else if (alpha) {
        const int constant = r.U8(42);
        if (constant < 255) {
            QImage faded(image.size(), QImage::Format_ARGB32_Premultiplied);
            faded.fill(Qt::transparent);
            QPainter p(&faded);
            p.setOpacity(constant / 255.0);
            p.drawImage(0, 0, image);
            p.end();
            image = faded;
        }
    }
    m_player.StretchBlt(dest, image, QRectF(src, srcSize), rop);
}

bool TEmfPlayback::Play(const TRecordBytes& r, std::uint32_t type)
{
    TGdiPlayer& p = m_player;
    TDcState& s = p.State();
    switch (type) {
    case EMR_EOF: return false;
    case EMR_HEADER: break;
    case EMR_POLYBEZIER: p.PolyBezier(Points(r, 28, r.U32(24), false)); break;
    case EMR_POLYBEZIER16: p.PolyBezier(Points(r, 28, r.U32(24), true)); break;
    case EMR_POLYGON: p.PolyPolygon({Points(r, 28, r.U32(24), false)}); break;
    case EMR_POLYGON16: p.PolyPolygon({Points(r, 28, r.U32(24), true)}); break;
    case EMR_POLYLINE: p.Polyline(Points(r, 28, r.U32(24), false)); break;
    case EMR_POLYLINE16: p.Polyline(Points(r, 28, r.U32(24), true)); break;
    case EMR_POLYBEZIERTO: p.PolyBezierTo(Points(r, 28, r.U32(24), false)); break;
    case EMR_POLYBEZIERTO16: p.PolyBezierTo(Points(r, 28, r.U32(24), true)); break;
    case EMR_POLYLINETO: p.PolylineTo(Points(r, 28, r.U32(24), false)); break;
    case EMR_POLYLINETO16: p.PolylineTo(Points(r, 28, r.U32(24), true)); break;
    case EMR_POLYPOLYLINE: p.PolyPolyline(PolyPoints(r, false)); break;
    case EMR_POLYPOLYLINE16: p.PolyPolyline(PolyPoints(r, true)); break;
    case EMR_POLYPOLYGON: p.PolyPolygon(PolyPoints(r, false)); break;
    case EMR_POLYPOLYGON16: p.PolyPolygon(PolyPoints(r, true)); break;
    case EMR_POLYDRAW:
    case EMR_POLYDRAW16: {
        const bool small = type == EMR_POLYDRAW16;
        const std::uint32_t count = r.U32(24);
        const QPolygonF points = Points(r, 28, count, small);
        const std::size_t typesAt = 28 + std::size_t(count) * (small ? 4 : 8);
        const std::uint8_t* types = r.At(typesAt, count);
        p.PolyDraw(points, std::vector<std::uint8_t>(types, types + count));
        break;
    }
    case EMR_SETWINDOWEXTEX: s.WindowExt = PointL(r, 8); p.MappingChanged(); break;
    case EMR_SETWINDOWORGEX: s.WindowOrg = PointL(r, 8); p.MappingChanged(); break;
    case EMR_SETVIEWPORTEXTEX: s.ViewportExt = PointL(r, 8); p.MappingChanged(); break;
    case EMR_SETVIEWPORTORGEX: s.ViewportOrg = PointL(r, 8); p.MappingChanged(); break;
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: {
        const double xNum = r.I32(8), xDen = r.I32(12), yNum = r.I32(16), yDen = r.I32(20);
        if (xDen == 0 || yDen == 0)
            break;
        QPointF& ext = type == EMR_SCALEVIEWPORTEXTEX ? s.ViewportExt : s.WindowExt;
        ext = QPointF(ext.x() * xNum / xDen, ext.y() * yNum / yDen);
        p.MappingChanged();
        break;
    }
    case EMR_SETMAPMODE: s.MapMode = int(r.U32(8)); p.MappingChanged(); break;
    case EMR_SETBKMODE: s.BkMode = int(r.U32(8)); break;
    case EMR_SETPOLYFILLMODE: s.FillMode = int(r.U32(8)); break;
    case EMR_SETROP2: s.Rop2 = int(r.U32(8)); break;
    case EMR_SETTEXTALIGN: s.TextAlign = r.U32(8); break;
    case EMR_SETTEXTCOLOR: s.TextColor = ColorRef(r.U32(8)); break;
    case EMR_SETBKCOLOR: s.BkColor = ColorRef(r.U32(8)); break;
    case EMR_SETARCDIRECTION: s.ArcDirection = int(r.U32(8)); break;
    case EMR_MOVETOEX: p.MoveTo(PointL(r, 8)); break;
    case EMR_LINETO: p.LineTo(PointL(r, 8)); break;
    case EMR_SAVEDC: p.SaveDC(); break;
    case EMR_RESTOREDC: p.RestoreDC(r.I32(8)); break;
    case EMR_SETWORLDTRANSFORM: s.World = XForm(r, 8); p.MappingChanged(); break;
    case EMR_MODIFYWORLDTRANSFORM: {
        const QTransform x = XForm(r, 8);
        switch (r.U32(32)) {
        case 1: s.World = QTransform(); break;
        case 2: s.World = x * s.World; break;
        case 3: s.World = s.World * x; break;
        case 4: s.World = x; break;
        default: break;
        }
        p.MappingChanged();
        break;
    }
    case EMR_SELECTOBJECT: {
        const std::uint32_t index = r.U32(8);
        if (index & kStockObject) {
            p.SelectStockObject(index & ~kStockObject);
        } else if (auto it = p.Objects.find(index); it != p.Objects.end()) {
            p.SelectObject(it->second);
        }
        break;
    }
    case EMR_DELETEOBJECT: p.Objects.erase(r.U32(8)); break;
    case EMR_CREATEPEN:
        CreateObject(r.U32(kObjectIndex), LogPen(r.U32(kLogPenStyle), r.I32(kLogPenWidth), ColorRef(r.U32(kLogPenColor))));
        break;
    case EMR_EXTCREATEPEN: {
        TGdiObject o;
        o.Kind = TGdiObjectKind::Pen;
        o.Pen.Style = r.U32(28);
        o.Pen.Width = r.U32(32);
        o.Pen.Cosmetic = !(o.Pen.Style & PS_GEOMETRIC);
        if (r.U32(36) == BS_NULL)
            o.Pen.Style = (o.Pen.Style & ~PS_STYLE_MASK) | PS_NULL;
        o.Pen.Color = ColorRef(r.U32(40));
        const std::uint32_t entries = std::min<std::uint32_t>(r.U32(48), 16);
        for (std::uint32_t i = 0; i < entries && r.Has(52 + 4 * std::size_t(i), 4); ++i)
            o.Pen.Dashes.push_back(r.U32(52 + 4 * std::size_t(i)));
        CreateObject(r.U32(kObjectIndex), o);
        break;
    }
    case EMR_CREATEBRUSHINDIRECT:
        CreateObject(r.U32(kObjectIndex), LogBrush(r.U32(kLogBrushStyle), ColorRef(r.U32(kLogBrushColor)),
                                                   r.U32(kLogBrushHatch)));
        break;
    case EMR_CREATEMONOBRUSH: CreateObject(r.U32(kObjectIndex), PatternBrush(r, true)); break;
    case EMR_CREATEDIBPATTERNBRUSHPT: CreateObject(r.U32(kObjectIndex), PatternBrush(r, false)); break;
    case EMR_EXTCREATEFONTINDIRECTW: {
        TGdiObject o;
        o.Kind = TGdiObjectKind::Font;
        o.Font = LogFont(r, 12);
        CreateObject(r.U32(kObjectIndex), o);
        break;
    }
    case EMR_CREATEPALETTE: {
        TGdiObject o;
        o.Kind = TGdiObjectKind::Palette;
        CreateObject(r.U32(kObjectIndex), o);
        break;
    }
    case EMR_RECTANGLE: p.Rectangle(RectL(r, 8)); break;
    case EMR_ELLIPSE: p.Ellipse(RectL(r, 8)); break;
    case EMR_ROUNDRECT: p.RoundRect(RectL(r, 8), QSizeF(r.I32(24), r.I32(28))); break;
    case EMR_ARC: p.ArcShape(TGdiPlayer::TArcKind::Arc, RectL(r, 8), PointL(r, 24), PointL(r, 32)); break;
    case EMR_ARCTO: p.ArcShape(TGdiPlayer::TArcKind::ArcTo, RectL(r, 8), PointL(r, 24), PointL(r, 32)); break;
    case EMR_CHORD: p.ArcShape(TGdiPlayer::TArcKind::Chord, RectL(r, 8), PointL(r, 24), PointL(r, 32)); break;
    case EMR_PIE: p.ArcShape(TGdiPlayer::TArcKind::Pie, RectL(r, 8), PointL(r, 24), PointL(r, 32)); break;
    case EMR_ANGLEARC: p.AngleArc(PointL(r, 8), r.U32(16), r.F32(20), r.F32(24)); break;
    case EMR_SETPIXELV: p.SetPixel(PointL(r, 8), ColorRef(r.U32(16))); break;
    case EMR_BEGINPATH: p.BeginPath(); break;
    case EMR_ENDPATH: p.EndPath(); break;
    case EMR_ABORTPATH: p.AbortPath(); break;
    case EMR_CLOSEFIGURE: p.CloseFigure(); break;
    case EMR_FILLPATH: p.FillPath(true, false); break;
    case EMR_STROKEPATH: p.FillPath(false, true); break;
    case EMR_STROKEANDFILLPATH: p.FillPath(true, true); break;
    case EMR_WIDENPATH: p.WidenPath(); break;
    case EMR_SELECTCLIPPATH: p.SelectClipPath(int(r.U32(8))); break;
    case EMR_INTERSECTCLIPRECT: p.IntersectClipRect(RectL(r, 8)); break;
    case EMR_EXCLUDECLIPRECT: p.ExcludeClipRect(RectL(r, 8)); break;
    case EMR_OFFSETCLIPRGN: p.OffsetClip(PointL(r, 8)); break;
    case EMR_EXTSELECTCLIPRGN: {
        const std::uint32_t size = r.U32(8);
        const int mode = int(r.U32(12));
        if (size == 0 || mode == RGN_COPY) {
            if (size == 0)
                p.ResetClip();
            else
                p.CombineClip(Region(r, 16, size, DeviceToOutput()), RGN_COPY);
        } else {
            p.CombineClip(Region(r, 16, size, DeviceToOutput()), mode);
        }
        break;
    }
    case EMR_FILLRGN: {
        const auto it = p.Objects.find(r.U32(28));
        TBrush brush = s.Brush;
        if (it != p.Objects.end() && it->second.Kind == TGdiObjectKind::Brush)
            brush = it->second.Brush;
        p.FillRegion(Region(r, 32, r.U32(24), DeviceToOutput()), brush);
        break;
    }
    case EMR_FRAMERGN: {
        const auto it = p.Objects.find(r.U32(28));
        TBrush brush = s.Brush;
        if (it != p.Objects.end() && it->second.Kind == TGdiObjectKind::Brush)
            brush = it->second.Brush;
        p.FrameRegion(Region(r, 40, r.U32(24), DeviceToOutput()), brush, r.I32(32), r.I32(36));
        break;
    }
    case EMR_INVERTRGN: p.InvertRegion(Region(r, 28, r.U32(24), DeviceToOutput())); break;
    case EMR_PAINTRGN: p.FillRegion(Region(r, 28, r.U32(24), DeviceToOutput()), s.Brush); break;
    case EMR_BITBLT:
    case EMR_STRETCHBLT:
    case EMR_MASKBLT:
    case EMR_STRETCHDIBITS:
    case EMR_SETDIBITSTODEVICE:
    case EMR_ALPHABLEND:
    case EMR_TRANSPARENTBLT: Blit(r, type); break;
    case EMR_EXTTEXTOUTW: Text(p, r, true); break;
    case EMR_EXTTEXTOUTA: Text(p, r, false); break;
    case EMR_SMALLTEXTOUT: SmallText(p, r); break;
    case EMR_POLYTEXTOUTA:
    case EMR_POLYTEXTOUTW: {
        constexpr std::size_t kFirst = 40, kEmrText = 40;
        const std::uint32_t strings = r.U32(36);
        r.RequireArray(kFirst, strings, kEmrText);
        for (std::uint32_t i = 0; i < strings; ++i)
            Text(p, r, type == EMR_POLYTEXTOUTW, kFirst + std::size_t(i) * kEmrText);
        break;
    }
    case EMR_SETMAPPERFLAGS:
    case EMR_SETSTRETCHBLTMODE:
    case EMR_SETCOLORADJUSTMENT:
    case EMR_SETBRUSHORGEX:
    case EMR_SETMITERLIMIT:
    case EMR_SETMETARGN:
    case EMR_FLATTENPATH:
    case EMR_SELECTPALETTE:
    case EMR_SETPALETTEENTRIES:
    case EMR_RESIZEPALETTE:
    case EMR_REALIZEPALETTE:
    case EMR_SETICMMODE:
    case EMR_SETLAYOUT:
    case EMR_GDICOMMENT:
        // No effect on a true-colour picture drawn once (comments carry EMF+
        // data whose GDI fallback follows in ordinary records).
        break;
    case EMR_GRADIENTFILL: GradientFill(p, r); break;
    default: break;  // comments (EMF+ included), palettes, colour management, ignorable settings
    }
    return true;
}

}  // namespace

void PlayEnhanced(TGdiPlayer& player, const std::uint8_t* data, std::size_t size, const TMetafileHeader&)
{
    TEmfPlayback playback(player);
    std::size_t offset = 0;
    while (offset <= size && size - offset >= kRecordHeader) {
        const TRecordBytes head(data + offset, kRecordHeader);
        const std::uint32_t type = head.U32(0), length = head.U32(4);
        if (length < kRecordHeader || length % 4 != 0 || length > size - offset)
            return;
        try {
            if (!playback.Play(TRecordBytes(data + offset, length), type))
                return;
        } catch (const EMetafileRecord&) {
            return;
        }
        offset += length;
    }
}

}  // namespace rastova::gdi
