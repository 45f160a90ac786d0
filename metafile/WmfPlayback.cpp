// Windows metafile records onto the shared device context. Parameters of
// these records come in reverse order (y before x, bottom before top).
#include "metafile/GdiPlayer.h"

#include <array>
#include <bit>
#include <cmath>

namespace rastova::gdi {

namespace {

enum : std::uint16_t {
    META_EOF = 0x0000, META_SAVEDC = 0x001E, META_REALIZEPALETTE = 0x0035, META_SETPALENTRIES = 0x0037,
    META_CREATEPALETTE = 0x00F7, META_SETBKMODE = 0x0102, META_SETMAPMODE = 0x0103, META_SETROP2 = 0x0104,
    META_SETRELABS = 0x0105, META_SETPOLYFILLMODE = 0x0106, META_SETSTRETCHBLTMODE = 0x0107,
    META_SETTEXTCHAREXTRA = 0x0108, META_RESTOREDC = 0x0127, META_INVERTREGION = 0x012A,
    META_PAINTREGION = 0x012B, META_SELECTCLIPREGION = 0x012C, META_SELECTOBJECT = 0x012D,
    META_SETTEXTALIGN = 0x012E, META_RESIZEPALETTE = 0x0139, META_DIBCREATEPATTERNBRUSH = 0x0142,
    META_SETLAYOUT = 0x0149, META_DELETEOBJECT = 0x01F0, META_CREATEPATTERNBRUSH = 0x01F9,
    META_SETBKCOLOR = 0x0201, META_SETTEXTCOLOR = 0x0209, META_SETTEXTJUSTIFICATION = 0x020A,
    META_SETWINDOWORG = 0x020B, META_SETWINDOWEXT = 0x020C, META_SETVIEWPORTORG = 0x020D,
    META_SETVIEWPORTEXT = 0x020E, META_OFFSETWINDOWORG = 0x020F, META_OFFSETVIEWPORTORG = 0x0211,
    META_LINETO = 0x0213, META_MOVETO = 0x0214, META_OFFSETCLIPRGN = 0x0220, META_FILLREGION = 0x0228,
    META_SETMAPPERFLAGS = 0x0231, META_SELECTPALETTE = 0x0234, META_CREATEPENINDIRECT = 0x02FA,
    META_CREATEFONTINDIRECT = 0x02FB, META_CREATEBRUSHINDIRECT = 0x02FC, META_POLYGON = 0x0324,
    META_POLYLINE = 0x0325, META_SCALEWINDOWEXT = 0x0410, META_SCALEVIEWPORTEXT = 0x0412,
    META_EXCLUDECLIPRECT = 0x0415, META_INTERSECTCLIPRECT = 0x0416, META_ELLIPSE = 0x0418,
    META_FLOODFILL = 0x0419, META_RECTANGLE = 0x041B, META_SETPIXEL = 0x041F, META_FRAMEREGION = 0x0429,
    META_ANIMATEPALETTE = 0x0436, META_TEXTOUT = 0x0521, META_POLYPOLYGON = 0x0538, META_EXTFLOODFILL = 0x0548,
    META_ROUNDRECT = 0x061C, META_PATBLT = 0x061D, META_ESCAPE = 0x0626, META_CREATEREGION = 0x06FF,
    META_ARC = 0x0817, META_PIE = 0x081A, META_CHORD = 0x0830, META_BITBLT = 0x0922, META_DIBBITBLT = 0x0940,
    META_EXTTEXTOUT = 0x0A32, META_STRETCHBLT = 0x0B23, META_DIBSTRETCHBLT = 0x0B41, META_SETDIBTODEV = 0x0D33,
    META_STRETCHDIB = 0x0F43
};

constexpr std::size_t kRecordHeader = 6;   // size in words (4 bytes), function (2 bytes)
constexpr std::size_t kMaxObjects = 65535;

QPointF YX(const TRecordBytes& r, std::size_t at) { return QPointF(r.I16(at + 2), r.I16(at)); }

// Bottom, right, top, left.
QRectF BoxAt(const TRecordBytes& r, std::size_t at)
{
    return QRectF(QPointF(r.I16(at + 6), r.I16(at + 4)), QPointF(r.I16(at + 2), r.I16(at)));
}

QPolygonF PointsAt(const TRecordBytes& r, std::size_t at, std::uint32_t count)
{
    r.RequireArray(at, count, 4);
    QPolygonF points;
    points.reserve(qsizetype(count));
    for (std::uint32_t i = 0; i < count; ++i)
        points.append(QPointF(r.I16(at + 4 * std::size_t(i)), r.I16(at + 4 * std::size_t(i) + 2)));
    return points;
}

// Region16: a header, then scans of (count, top, bottom, left/right pairs, count).
QPainterPath RegionObject(const TRecordBytes& r, std::size_t at)
{
    const std::uint16_t scans = r.U16(at + 10);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    std::size_t p = at + 22;
    for (std::uint16_t s = 0; s < scans && r.Has(p, 6); ++s) {
        const std::uint16_t count = r.U16(p);
        const double top = r.I16(p + 2), bottom = r.I16(p + 4);
        p += 6;
        for (std::uint16_t k = 0; k < count / 2 && r.Has(p, 4); ++k, p += 4)
            path.addRect(QRectF(QPointF(r.I16(p), top), QPointF(r.I16(p + 2), bottom)));
        p += 2;
    }
    if (path.isEmpty()) {
        const QRectF bounds(QPointF(r.I16(at + 14), r.I16(at + 16)), QPointF(r.I16(at + 18), r.I16(at + 20)));
        path.addRect(bounds.normalized());
    }
    return path;
}

// The free slots of the object table as bits, with a second level marking the
// words that hold a free one: the lowest free slot costs two word scans however
// many objects a file creates (a flood of creations must not cost a table walk each).
class TFreeSlots {
public:
    TFreeSlots()
    {
        for (std::size_t i = 0; i < kMaxObjects; ++i)
            Free(i);
    }
    void Free(std::size_t i)
    {
        m_words[i / 64] |= std::uint64_t(1) << (i % 64);
        m_summary[i / 4096] |= std::uint64_t(1) << (i / 64 % 64);
    }
    void Take(std::size_t i)
    {
        m_words[i / 64] &= ~(std::uint64_t(1) << (i % 64));
        if (m_words[i / 64] == 0)
            m_summary[i / 4096] &= ~(std::uint64_t(1) << (i / 64 % 64));
    }
    // kMaxObjects when every slot is taken.
    std::size_t Lowest() const
    {
        for (std::size_t s = 0; s < m_summary.size(); ++s) {
            if (m_summary[s] == 0)
                continue;
            const std::size_t word = s * 64 + std::size_t(std::countr_zero(m_summary[s]));
            return word * 64 + std::size_t(std::countr_zero(m_words[word]));
        }
        return kMaxObjects;
    }

private:
    std::array<std::uint64_t, (kMaxObjects + 63) / 64> m_words{};
    std::array<std::uint64_t, (kMaxObjects + 4095) / 4096> m_summary{};
};

class TWmfPlayback {
public:
    TWmfPlayback(TGdiPlayer& player, int objectCount)
        : m_player(player), m_slots(std::size_t(std::clamp(objectCount, 0, int(kMaxObjects))))
    {
    }
    bool Play(const TRecordBytes& r, std::uint16_t function);

private:
    // Every new object takes the lowest free slot.
    void Create(TObject object);
    const TObject* ObjectAt(std::uint16_t index) const;
    void Text(const TRecordBytes& r, bool extended);
    void Bitmap(const TRecordBytes& r, std::uint16_t function);
    QPainterPath RegionInOutput(const TObject& region) const;

    TGdiPlayer& m_player;
    std::vector<std::optional<TObject>> m_slots;
    TFreeSlots m_free;
};

void TWmfPlayback::Create(TObject object)
{
    // Slots past the table's end are free too: the lowest of them is its end.
    const std::size_t slot = m_free.Lowest();
    if (slot == kMaxObjects)
        return;
    if (slot >= m_slots.size())
        m_slots.resize(slot + 1);
    m_slots[slot] = std::move(object);
    m_free.Take(slot);
}

const TObject* TWmfPlayback::ObjectAt(std::uint16_t index) const
{
    return index < m_slots.size() && m_slots[index] ? &*m_slots[index] : nullptr;
}

QPainterPath TWmfPlayback::RegionInOutput(const TObject& region) const
{
    QPainterPath out;
    out.setFillRule(Qt::WindingFill);
    for (const QPolygonF& poly : region.Region.toFillPolygons())
        out.addPolygon(m_player.Transform().map(poly));
    return out;
}

void TWmfPlayback::Text(const TRecordBytes& r, bool extended)
{
    TGdiPlayer::TText text;
    const std::uint8_t charSet = m_player.State().Font.CharSet;
    if (!extended) {
        const std::int16_t length = r.I16(6);
        if (length <= 0)
            return;
        const std::size_t padded = (std::size_t(length) + 1) & ~std::size_t(1);
        text.Chars = DecodeAnsi(r.At(8, std::size_t(length)), std::size_t(length), charSet);
        text.Reference = YX(r, 8 + padded);
        m_player.TextOut(text);
        return;
    }
    text.Reference = YX(r, 6);
    const std::int16_t length = r.I16(10);
    text.Options = r.U16(12);
    std::size_t at = 14;
    if (text.Options & (ETO_OPAQUE | ETO_CLIPPED)) {
        text.Rect = QRectF(QPointF(r.I16(at), r.I16(at + 2)), QPointF(r.I16(at + 4), r.I16(at + 6)));
        at += 8;
    }
    if (length > 0) {
        text.Chars = DecodeAnsi(r.At(at, std::size_t(length)), std::size_t(length), charSet);
        const std::size_t dxAt = at + ((std::size_t(length) + 1) & ~std::size_t(1));
        if (r.HasArray(dxAt, std::uint64_t(length), 2)) {
            for (std::int16_t i = 0; i < length; ++i)
                text.Dx.push_back(r.I16(dxAt + 2 * std::size_t(i)));
            text.Dx.resize(std::min<std::size_t>(text.Dx.size(), std::size_t(text.Chars.size())));
        }
    }
    m_player.TextOut(text);
}

void TWmfPlayback::Bitmap(const TRecordBytes& r, std::uint16_t function)
{
    // The records without a bitmap are one word shorter than the function's
    // parameter count says and carry a reserved word instead.
    const std::uint32_t rop = r.U32(6);
    const std::size_t paramWords = std::size_t(function >> 8) + 3;
    const bool noBitmap = r.Size() / 2 == paramWords;
    switch (function) {
    case META_DIBBITBLT: {
        const std::size_t d = noBitmap ? 2 : 0;
        const QPointF src(r.I16(12), r.I16(10));
        const QRectF dest(r.I16(20 + d), r.I16(18 + d), r.I16(16 + d), r.I16(14 + d));
        if (noBitmap) {
            m_player.PatBlt(dest, rop);
            return;
        }
        const QImage image = DecodePackedDib(r.Sub(22, r.Size() - 22));
        m_player.StretchBlt(dest, image, QRectF(src, dest.size()), rop);
        return;
    }
    case META_DIBSTRETCHBLT: {
        const std::size_t d = noBitmap ? 2 : 0;
        const QRectF from(r.I16(16), r.I16(14), r.I16(12), r.I16(10));
        const QRectF dest(r.I16(24 + d), r.I16(22 + d), r.I16(20 + d), r.I16(18 + d));
        if (noBitmap) {
            m_player.PatBlt(dest, rop);
            return;
        }
        const QImage image = DecodePackedDib(r.Sub(26, r.Size() - 26));
        m_player.StretchBlt(dest, image, from, rop);
        return;
    }
    case META_STRETCHDIB: {
        const double srcH = r.I16(12), srcW = r.I16(14), ySrc = r.I16(16), xSrc = r.I16(18);
        const QRectF dest(r.I16(26), r.I16(24), r.I16(22), r.I16(20));
        const QImage image = DecodePackedDib(r.Sub(28, r.Size() - 28));
        if (image.isNull())
            return;
        // The source origin is the bitmap's lower-left corner.
        m_player.StretchBlt(dest, image, QRectF(xSrc, image.height() - ySrc - srcH, srcW, srcH), rop);
        return;
    }
    case META_SETDIBTODEV: {
        const double yDib = r.I16(12), xDib = r.I16(14), h = r.I16(16), w = r.I16(18);
        const QRectF dest(r.I16(22), r.I16(20), w, h);
        const QImage image = DecodePackedDib(r.Sub(24, r.Size() - 24));
        if (image.isNull())
            return;
        m_player.StretchBlt(dest, image, QRectF(xDib, image.height() - yDib - h, w, h), 0x00CC0020);
        return;
    }
    case META_PATBLT: m_player.PatBlt(QRectF(r.I16(16), r.I16(14), r.I16(12), r.I16(10)), rop); return;
    default: return;
    }
}

bool TWmfPlayback::Play(const TRecordBytes& r, std::uint16_t function)
{
    TGdiPlayer& p = m_player;
    TDcState& s = p.State();
    constexpr std::size_t a = kRecordHeader;  // first parameter
    switch (function) {
    case META_EOF: return false;
    case META_SAVEDC: p.SaveDC(); break;
    case META_RESTOREDC: p.RestoreDC(r.I16(a)); break;
    case META_SETBKMODE: s.BkMode = r.U16(a); break;
    case META_SETMAPMODE: s.MapMode = r.U16(a); break;
    case META_SETROP2: s.Rop2 = r.U16(a); break;
    case META_SETPOLYFILLMODE: s.FillMode = r.U16(a); break;
    case META_SETTEXTALIGN: s.TextAlign = r.U16(a); break;
    case META_SETBKCOLOR: s.BkColor = ColorRef(r.U32(a)); break;
    case META_SETTEXTCOLOR: s.TextColor = ColorRef(r.U32(a)); break;
    case META_SETWINDOWORG: s.WindowOrg = YX(r, a); p.MappingChanged(); break;
    case META_SETWINDOWEXT: s.WindowExt = YX(r, a); p.MappingChanged(); break;
    case META_OFFSETWINDOWORG: s.WindowOrg += YX(r, a); p.MappingChanged(); break;
    case META_SCALEWINDOWEXT: {
        const double yDen = r.I16(a), yNum = r.I16(a + 2), xDen = r.I16(a + 4), xNum = r.I16(a + 6);
        if (xDen != 0 && yDen != 0) {
            s.WindowExt = QPointF(s.WindowExt.x() * xNum / xDen, s.WindowExt.y() * yNum / yDen);
            p.MappingChanged();
        }
        break;
    }
    case META_SETVIEWPORTORG: s.ViewportOrg = YX(r, a); break;
    case META_SETVIEWPORTEXT: s.ViewportExt = YX(r, a); break;
    case META_MOVETO: p.MoveTo(YX(r, a)); break;
    case META_LINETO: p.LineTo(YX(r, a)); break;
    case META_RECTANGLE: p.Rectangle(BoxAt(r, a)); break;
    case META_ELLIPSE: p.Ellipse(BoxAt(r, a)); break;
    case META_ROUNDRECT: p.RoundRect(BoxAt(r, a + 4), QSizeF(r.I16(a + 2), r.I16(a))); break;
    case META_ARC: p.ArcShape(TGdiPlayer::TArcKind::Arc, BoxAt(r, a + 8), YX(r, a + 4), YX(r, a)); break;
    case META_PIE: p.ArcShape(TGdiPlayer::TArcKind::Pie, BoxAt(r, a + 8), YX(r, a + 4), YX(r, a)); break;
    case META_CHORD: p.ArcShape(TGdiPlayer::TArcKind::Chord, BoxAt(r, a + 8), YX(r, a + 4), YX(r, a)); break;
    case META_SETPIXEL: p.SetPixel(YX(r, a + 4), ColorRef(r.U32(a))); break;
    case META_POLYGON: p.PolyPolygon({PointsAt(r, a + 2, std::uint16_t(r.I16(a)))}); break;
    case META_POLYLINE: p.Polyline(PointsAt(r, a + 2, std::uint16_t(r.I16(a)))); break;
    case META_POLYPOLYGON: {
        const std::uint16_t count = r.U16(a);
        r.RequireArray(a + 2, count, 2);
        std::size_t at = a + 2 + std::size_t(count) * 2;
        std::vector<QPolygonF> polygons;
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::uint16_t n = r.U16(a + 2 + 2 * std::size_t(i));
            polygons.push_back(PointsAt(r, at, n));
            at += std::size_t(n) * 4;
        }
        p.PolyPolygon(polygons);
        break;
    }
    case META_TEXTOUT: Text(r, false); break;
    case META_EXTTEXTOUT: Text(r, true); break;
    case META_EXCLUDECLIPRECT: p.ExcludeClipRect(BoxAt(r, a)); break;
    case META_INTERSECTCLIPRECT: p.IntersectClipRect(BoxAt(r, a)); break;
    case META_OFFSETCLIPRGN: p.OffsetClip(YX(r, a)); break;
    case META_SELECTCLIPREGION: {
        const TObject* region = ObjectAt(r.U16(a));
        if (region && region->Kind == TObjectKind::Region)
            p.CombineClip(RegionInOutput(*region), RGN_COPY);
        else
            p.ResetClip();
        break;
    }
    case META_FILLREGION:
    case META_FRAMEREGION: {
        const TObject* region = ObjectAt(r.U16(a));
        const TObject* brush = ObjectAt(r.U16(a + 2));
        if (!region || region->Kind != TObjectKind::Region || !brush || brush->Kind != TObjectKind::Brush)
            break;
        if (function == META_FILLREGION)
            p.FillRegion(RegionInOutput(*region), brush->Brush);
        else
            p.FrameRegion(RegionInOutput(*region), brush->Brush, r.I16(a + 6), r.I16(a + 4));
        break;
    }
    case META_PAINTREGION:
    case META_INVERTREGION: {
        const TObject* region = ObjectAt(r.U16(a));
        if (!region || region->Kind != TObjectKind::Region)
            break;
        if (function == META_PAINTREGION)
            p.FillRegion(RegionInOutput(*region), s.Brush);
        else
            p.InvertRegion(RegionInOutput(*region));
        break;
    }
    case META_SELECTOBJECT:
        if (const TObject* object = ObjectAt(r.U16(a)))
            p.SelectObject(*object);
        break;
    case META_DELETEOBJECT:
        if (r.U16(a) < m_slots.size()) {
            m_slots[r.U16(a)].reset();
            m_free.Free(r.U16(a));
        }
        break;
    case META_CREATEPENINDIRECT: {
        TObject o;
        o.Kind = TObjectKind::Pen;
        o.Pen.Style = r.U16(a);
        o.Pen.Width = r.I16(a + 2);
        o.Pen.Color = ColorRef(r.U32(a + 6));
        o.Pen.Cosmetic = o.Pen.Width <= 1;
        if (o.Pen.Width > 1 && (o.Pen.Style & PS_STYLE_MASK) >= PS_DASH && (o.Pen.Style & PS_STYLE_MASK) <= PS_DASHDOTDOT)
            o.Pen.Style = (o.Pen.Style & ~PS_STYLE_MASK) | PS_SOLID;
        Create(o);
        break;
    }
    case META_CREATEBRUSHINDIRECT: {
        TObject o;
        o.Kind = TObjectKind::Brush;
        o.Brush.Style = r.U16(a);
        o.Brush.Color = ColorRef(r.U32(a + 2));
        o.Brush.Hatch = r.U16(a + 6);
        Create(o);
        break;
    }
    case META_DIBCREATEPATTERNBRUSH: {
        TObject o;
        o.Kind = TObjectKind::Brush;
        o.Brush.Style = BS_DIBPATTERNPT;
        o.Brush.Color = Qt::gray;
        o.Brush.Pattern = DecodePackedDib(r.Sub(a + 4, r.Size() - (a + 4)));
        constexpr std::uint32_t kInfoHeader = 40;
        o.Brush.Monochrome = r.U16(a) == BS_PATTERN && r.Has(a + 4, kInfoHeader) && r.U32(a + 4) == kInfoHeader &&
                             r.U16(a + 4 + 14) == 1;
        Create(o);
        break;
    }
    case META_CREATEFONTINDIRECT: {
        TObject o;
        o.Kind = TObjectKind::Font;
        o.Font.Height = r.I16(a);
        o.Font.Width = r.I16(a + 2);
        o.Font.Escapement = r.I16(a + 4);
        o.Font.Orientation = r.I16(a + 6);
        o.Font.Weight = r.I16(a + 8);
        o.Font.Italic = r.U8(a + 10) != 0;
        o.Font.Underline = r.U8(a + 11) != 0;
        o.Font.StrikeOut = r.U8(a + 12) != 0;
        o.Font.CharSet = r.U8(a + 13);
        o.Font.PitchAndFamily = r.U8(a + 17);
        std::size_t n = 0;
        while (n < 32 && r.Has(a + 18 + n, 1) && r.U8(a + 18 + n) != 0)
            ++n;
        if (n > 0)
            o.Font.Face = DecodeAnsi(r.At(a + 18, n), n, 0);
        Create(o);
        break;
    }
    case META_CREATEREGION: {
        TObject o;
        o.Kind = TObjectKind::Region;
        o.Region = RegionObject(r, a);
        Create(o);
        break;
    }
    case META_CREATEPALETTE: {
        TObject o;
        o.Kind = TObjectKind::Palette;
        Create(o);
        break;
    }
    case META_CREATEPATTERNBRUSH: {
        // An old device-dependent bitmap: kept as a grey brush so the slots stay right.
        TObject o;
        o.Kind = TObjectKind::Brush;
        o.Brush.Color = Qt::gray;
        Create(o);
        break;
    }
    case META_DIBBITBLT:
    case META_DIBSTRETCHBLT:
    case META_STRETCHDIB:
    case META_SETDIBTODEV:
    case META_PATBLT: Bitmap(r, function); break;
    default: break;  // palettes, escapes, flood fills, settings without effect here
    }
    return true;
}

}  // namespace

void PlayWindows(TGdiPlayer& player, const std::uint8_t* data, std::size_t size, const TMetafileHeader& header)
{
    TDcState& state = player.State();
    state.WindowOrg = QPointF(header.BoxLeft, header.BoxTop);
    state.WindowExt = QPointF(double(header.BoxRight) - header.BoxLeft, double(header.BoxBottom) - header.BoxTop);
    player.MappingChanged();
    TWmfPlayback playback(player, header.ObjectCount);
    std::size_t offset = header.FirstRecord;
    while (offset <= size && size - offset >= kRecordHeader) {
        const TRecordBytes head(data + offset, kRecordHeader);
        const std::uint64_t length = std::uint64_t(head.U32(0)) * 2;
        const std::uint16_t function = head.U16(4);
        if (length < kRecordHeader || length > size - offset)
            return;
        try {
            if (!playback.Play(TRecordBytes(data + offset, std::size_t(length)), function))
                return;
        } catch (const EMetafileRecord&) {
            return;
        }
        offset += std::size_t(length);
    }
}

}  // namespace rastova::gdi
