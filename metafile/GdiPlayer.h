// The device context of metafile playback: state, objects and the drawing
// primitives both record formats share. Coordinates arrive in logical units;
// every primitive maps them to output pixels itself and draws with an identity
// painter transform, so that pen widths, hatches and GDI's pixel rules are
// decided in device space as the graphics interface does.
#pragma once

#include "metafile/Metafile.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

class QFontMetricsF;

namespace rastova::gdi {

// Map modes, background modes, fill modes and other numbered settings.
enum : int { MM_TEXT = 1, MM_LOMETRIC, MM_HIMETRIC, MM_LOENGLISH, MM_HIENGLISH, MM_TWIPS, MM_ISOTROPIC, MM_ANISOTROPIC };
enum : int { TRANSPARENT = 1, OPAQUE = 2 };
enum : int { ALTERNATE = 1, WINDING = 2 };
enum : int { AD_COUNTERCLOCKWISE = 1, AD_CLOCKWISE = 2 };
enum : int { R2_NOP = 11, R2_COPYPEN = 13 };
enum : int { RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5 };
enum : std::uint32_t { TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24 };
enum : std::uint32_t { ETO_OPAQUE = 2, ETO_CLIPPED = 4, ETO_GLYPH_INDEX = 0x10, ETO_PDY = 0x2000 };
enum : std::uint32_t {
    PS_SOLID = 0, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME, PS_USERSTYLE, PS_ALTERNATE,
    PS_STYLE_MASK = 0xF, PS_ENDCAP_SQUARE = 0x100, PS_ENDCAP_FLAT = 0x200, PS_ENDCAP_MASK = 0xF00,
    PS_JOIN_BEVEL = 0x1000, PS_JOIN_MITER = 0x2000, PS_JOIN_MASK = 0xF000, PS_GEOMETRIC = 0x10000
};
enum : std::uint32_t { BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2, BS_PATTERN = 3, BS_DIBPATTERN = 5, BS_DIBPATTERNPT = 6 };

// COLORREF: red in the low byte.
QColor ColorRef(std::uint32_t value);

struct TPen {
    std::uint32_t Style = PS_SOLID;
    double Width = 0;       // logical units; 0 = one pixel
    bool Cosmetic = true;   // one pixel wide whatever the transform
    QColor Color = Qt::black;
    std::vector<double> Dashes;  // user style, in logical units
};

struct TBrush {
    std::uint32_t Style = BS_SOLID;
    QColor Color = Qt::white;
    std::uint32_t Hatch = 0;
    QImage Pattern;          // pattern brushes
    bool Monochrome = false; // pattern bits take text and background colours
};

struct TFont {
    std::int32_t Height = 0, Width = 0, Escapement = 0, Orientation = 0, Weight = 400;
    bool Italic = false, Underline = false, StrikeOut = false;
    std::uint8_t CharSet = 1, PitchAndFamily = 0;
    QString Face;
};

enum class TGdiObjectKind { Pen, Brush, Font, Palette, Region, Other };

struct TGdiObject {
    TGdiObjectKind Kind = TGdiObjectKind::Other;
    TPen Pen;
    TBrush Brush;
    TFont Font;
    QPainterPath Region;  // WMF regions, logical units
};

// The objects both record formats create alike. A pen of CreatePen (EMF's
// EMR_CREATEPEN, WMF's META_CREATEPENINDIRECT) wider than one unit cannot be
// dashed: its style becomes solid and keeps its end cap and join, which the
// wide pen is drawn with.
TGdiObject LogPen(std::uint32_t style, std::int32_t width, QColor color);
TGdiObject LogBrush(std::uint32_t style, QColor color, std::uint32_t hatch);

struct TDcState {
    int MapMode = MM_TEXT;
    QPointF WindowOrg{0, 0}, WindowExt{1, 1}, ViewportOrg{0, 0}, ViewportExt{1, 1};
    QTransform World;
    QPointF Position;
    TPen Pen;
    TBrush Brush;
    TFont Font;
    QColor TextColor = Qt::black, BkColor = Qt::white;
    int BkMode = OPAQUE;
    std::uint32_t TextAlign = 0;
    int Rop2 = R2_COPYPEN;
    int FillMode = ALTERNATE;
    int ArcDirection = AD_COUNTERCLOCKWISE;
    std::optional<QPainterPath> Clip;  // output pixels; none = whole picture
};

// The mapping from the metafile's device space to output pixels.
struct TPlacement {
    QTransform DeviceToOutput;
    double DevicePixelsPerMmX = 96 / 25.4, DevicePixelsPerMmY = 96 / 25.4;
    bool Enhanced = true;
    QRectF WmfOutput;  // WMF: the rectangle the window maps onto
};

class TGdiPlayer {
public:
    TGdiPlayer(QPainter& painter, const TPlacement& placement);
    ~TGdiPlayer();

    TDcState& State() { return m_state; }
    QPainter& Painter() { return m_painter; }

    // ---- state -----------------------------------------------------------------
    void SaveDC();
    void RestoreDC(int relative);
    void MappingChanged();          // after any window/viewport/world change
    const QTransform& Transform() const { return m_transform; }
    QPointF Map(QPointF logical) const;
    double ScaleX() const;          // output pixels per logical unit along x
    double ScaleY() const;

    // ---- objects ---------------------------------------------------------------
    void SelectObject(const TGdiObject& object);
    void SelectStockObject(std::uint32_t index);  // index without the high bit

    // ---- clipping (rectangles in logical units, regions in output pixels) -----
    void IntersectClipRect(QRectF logical);
    void ExcludeClipRect(QRectF logical);
    void CombineClip(const QPainterPath& output, int mode);
    QPainterPath DevicePath(QRectF logical) const;
    void OffsetClip(QPointF logical);
    void ResetClip();

    // ---- paths -----------------------------------------------------------------
    void BeginPath();
    void EndPath() { m_pathOpen = false; }
    void AbortPath();
    void CloseFigure();
    void FillPath(bool fill, bool stroke);
    void SelectClipPath(int mode);
    void WidenPath();

    // ---- drawing (logical units) -----------------------------------------------
    void MoveTo(QPointF p);
    void LineTo(QPointF p);
    void Polyline(const QPolygonF& points);
    void PolylineTo(const QPolygonF& points);
    void PolyBezier(const QPolygonF& points);
    void PolyBezierTo(const QPolygonF& points);
    void PolyPolygon(const std::vector<QPolygonF>& polygons);
    void PolyPolyline(const std::vector<QPolygonF>& polylines);
    void PolyDraw(const QPolygonF& points, const std::vector<std::uint8_t>& types);
    void Rectangle(QRectF box);
    void RoundRect(QRectF box, QSizeF corner);
    void Ellipse(QRectF box);
    enum class TArcKind { Arc, ArcTo, Chord, Pie };
    void ArcShape(TArcKind kind, QRectF box, QPointF start, QPointF end);
    void AngleArc(QPointF center, double radius, double startDegrees, double sweepDegrees);
    void SetPixel(QPointF p, QColor color);
    void FillRegion(const QPainterPath& output, const TBrush& brush);
    void FrameRegion(const QPainterPath& output, const TBrush& brush, double width, double height);
    void InvertRegion(const QPainterPath& output);
    void GradientRect(QRectF logical, QColor from, QColor to, bool vertical);
    void GradientTriangle(const QPolygonF& logical, const QColor colors[3]);

    // ---- text ------------------------------------------------------------------
    struct TText {
        QPointF Reference;            // logical
        QString Chars;
        std::vector<double> Dx;       // logical advances, empty when absent
        std::uint32_t Options = 0;
        std::optional<QRectF> Rect;   // logical, for ETO_OPAQUE / ETO_CLIPPED
    };
    // The device-space area of a logical rectangle, turned with the mapping.
    QPainterPath DeviceArea(const QRectF& rect) const;
    void TextOut(const TText& text);

    // ---- bitmaps ---------------------------------------------------------------
    // Draws `image` (source rectangle in image pixels, top-down) into the
    // logical destination rectangle with a ternary raster operation.
    void StretchBlt(QRectF destination, const QImage& image, QRectF source, std::uint32_t rop);
    // Raster operations that use no source: PATCOPY, DSTINVERT, BLACKNESS...
    void PatBlt(QRectF destination, std::uint32_t rop);

    // ---- objects kept by index -------------------------------------------------
    std::unordered_map<std::uint32_t, TGdiObject> Objects;

private:
    QPainterPath MapPath(const QPainterPath& logical) const;
    QRectF DeviceBox(QRectF logical, bool& axisAligned, QPolygonF& corners) const;
    void Draw(const QPainterPath& output, bool fill, bool stroke);
    void DrawOpen(QPolygonF device);  // an open polyline in output pixels
    void AddToPathOrDraw(const QPainterPath& output, bool fill, bool stroke);
    QPen MakePen() const;
    QBrush MakeBrush(const TBrush& brush) const;
    void ApplyRop2();
    void ApplyClip();
    QFont MakeFont(double& ascent, double& descent) const;
    // Per character: the record's spacing scaled to the device, else the font's.
    static std::vector<double> Advances(const TText& text, const QFontMetricsF& metrics, double sx);
    void DrawCharacters(const TText& text, const std::vector<double>& advances, QPointF at);
    QPointF Clamp(QPointF p) const;

    QPainter& m_painter;
    TPlacement m_placement;
    TDcState m_state;
    std::vector<TDcState> m_saved;
    QTransform m_transform;  // logical -> output
    bool m_pathOpen = false;
    QPainterPath m_path;     // output pixels
};

// Text of an ANSI string in the code page of a font character set.
QString DecodeAnsi(const std::uint8_t* bytes, std::size_t count, std::uint8_t charSet);
// A family that exists here for a face name asked for by the metafile.
QString MapFontFace(const QString& face, std::uint8_t pitchAndFamily);

// A device-independent bitmap (info header with colour table, then bits) as
// an RGB32 image; a null image when it cannot be decoded.
QImage DecodeDib(TRecordBytes info, TRecordBytes bits, bool keepAlpha = false);
// A packed DIB (header, colours and bits in one block).
QImage DecodePackedDib(TRecordBytes packed);

// Playback loops; they stop at the end record, the end of the data or the
// first damaged record.
void PlayEnhanced(TGdiPlayer& player, const std::uint8_t* data, std::size_t size, const TMetafileHeader& header);
void PlayWindows(TGdiPlayer& player, const std::uint8_t* data, std::size_t size, const TMetafileHeader& header);

}  // namespace rastova::gdi
