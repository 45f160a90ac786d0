#include "view/PGImage.h"

#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "view/PGDraw.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QMimeData>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>

#include <cstdlib>

namespace rastova {

namespace {

bool IsAnyOf(TActionMode mode, std::initializer_list<TActionMode> modes)
{
    for (TActionMode m : modes)
        if (m == mode)
            return true;
    return false;
}

QRect ToQRect(const TViewRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

// Restores the cursor on every path out of a load.
class THourGlass {
public:
    explicit THourGlass(bool show) : m_shown(show)
    {
        if (m_shown)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~THourGlass()
    {
        if (m_shown)
            QGuiApplication::restoreOverrideCursor();
    }
    THourGlass(const THourGlass&) = delete;
    THourGlass& operator=(const THourGlass&) = delete;

private:
    bool m_shown;
};

// Handle indices in hit-test order and the edges each one drags.
constexpr bool kMovesLeft[8] = {true, false, false, true, false, true, false, false};
constexpr bool kMovesRight[8] = {false, false, true, false, true, false, false, true};
constexpr bool kMovesTop[8] = {true, true, true, false, false, false, false, false};
constexpr bool kMovesBottom[8] = {false, false, false, false, false, true, true, true};

}  // namespace

// ---- picture box ---------------------------------------------------------------------

TPicBox::TPicBox(TPGImage* owner) : QWidget(owner->viewport()), m_owner(owner)
{
    // The control paints the picture beneath; the box only adds the selection.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setAcceptDrops(true);
    m_color = palette().color(QPalette::Button);
}

void TPicBox::SetColor(const QColor& color)
{
    m_color = color;
    m_owner->viewport()->update(geometry());
}

void TPicBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_owner->PaintSelection(painter);
    painter.end();
    emit m_owner->PicBoxOnPaint(m_owner);
}

void TPicBox::mousePressEvent(QMouseEvent* event)
{
    if (m_owner->PicBoxDragMode() == dmAutomatic && event->button() == Qt::LeftButton) {
        m_owner->PicBoxBeginDrag();
        return;
    }
    m_owner->PicBoxMouseDown(event);
    const QPoint p = event->position().toPoint();
    emit m_owner->PicBoxOnMouseDown(m_owner, event->button(), event->modifiers(), p.x(), p.y());
}

void TPicBox::mouseMoveEvent(QMouseEvent* event)
{
    m_owner->PicBoxMouseMove(event);
    const QPoint p = event->position().toPoint();
    emit m_owner->PicBoxOnMouseMove(m_owner, event->modifiers(), p.x(), p.y());
}

void TPicBox::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit m_owner->PicBoxOnMouseUp(m_owner, event->button(), event->modifiers(), p.x(), p.y());
    m_owner->PicBoxMouseUp(event);
    if (rect().contains(p))
        emit m_owner->PicBoxOnClick(m_owner);
}

bool TPicBox::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && !m_owner->PicBoxShowHint()) {
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

void TPicBox::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = m_owner->PicBoxPopupMenu())
        menu->popup(event->globalPos());
    else
        QWidget::contextMenuEvent(event);
}

void TPicBox::dragEnterEvent(QDragEnterEvent* event) { dragMoveEvent(event); }

void TPicBox::dragMoveEvent(QDragMoveEvent* event)
{
    bool accept = false;
    const QPoint p = event->position().toPoint();
    emit m_owner->PicBoxOnDragOver(m_owner, event->source(), p.x(), p.y(), accept);
    if (accept)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TPicBox::dropEvent(QDropEvent* event)
{
    const QPoint p = event->position().toPoint();
    event->acceptProposedAction();
    emit m_owner->PicBoxOnDragDrop(m_owner, event->source(), p.x(), p.y());
}

void TPicBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    QWidget::mouseDoubleClickEvent(event);
    emit m_owner->PicBoxOnDblClick(m_owner);
}

// ---- construction ----------------------------------------------------------------------

TPGImage::TPGImage(QWidget* parent) : QScrollArea(parent)
{
    // The area manages its child itself: the box may sit at an offset inside the
    // scrolled range, which the stock single-widget layout cannot express.
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    viewport()->setMouseTracking(true);
    m_thread = std::make_unique<TCreatePaintPGThread>(false, false, this, m_generation);
    m_picBox = new TPicBox(this);
    m_picBox->setGeometry(0, 0, 0, 0);
    SetBorderKind(bk3D);
    const QPalette pal = palette();
    m_color = pal.color(QPalette::Button);
    m_clockBkColor = pal.color(QPalette::Button);
    m_clockLineColor = pal.color(QPalette::Dark);
    m_picBoxFrameColor = pal.color(QPalette::Dark);
    m_animTimer = new QTimer(this);
    m_animTimer->setInterval(50);
    connect(m_animTimer, &QTimer::timeout, this, &TPGImage::AdvanceSelectionAnimation);
    m_scrollTimer = new QTimer(this);
    m_scrollTimer->setInterval(50);
    connect(m_scrollTimer, &QTimer::timeout, this, &TPGImage::AutoScrollTick);
    // A new screen may have another depth: the paint image is made again.
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this] {
        m_paintInvalid = true;
        Repaint();
    });
    resize(100, 100);
}

TPGImage::~TPGImage()
{
    StopThread();
    m_thread.reset();
}

// ---- the image ---------------------------------------------------------------------------

void TPGImage::StopThread()
{
    m_thread->Stop();
    // Results already posted by the stopped worker belong to the past.
    ++m_generation;
}

void TPGImage::DropPaintImage()
{
    if (m_keepOldPaint && m_useThread)
        m_paintInvalid = true;
    else
        m_paint.reset();
}

void TPGImage::HookImageEvents(TPixelGraphic& graphic, bool all)
{
    graphic.SetOnProgressStart([this](TObject* s) { emit OnPixelGraphicProgressStart(s); });
    graphic.SetOnProgress([this](TObject* s, int step, int max, bool& abort) {
        emit OnPixelGraphicProgress(s, step, max, abort);
    });
    graphic.SetOnProgressEnd([this](TObject* s) { emit OnPixelGraphicProgressEnd(s); });
    if (all)
        graphic.SetOnChange([this](TObject*) { UpdateLayout(); });
}

TPixelGraphic* TPGImage::PixelGraphic()
{
    StopThread();
    return m_image.get();
}

void TPGImage::SetPixelGraphic(std::unique_ptr<TPixelGraphic> graphic)
{
    StopThread();
    m_image.reset();
    DropPaintImage();
    m_image = std::move(graphic);
    if (m_image)
        HookImageEvents(*m_image, true);
    UpdateLayout();
}

void TPGImage::LoadImageFile(const std::string& fileName, int imageIndex)
{
    m_fileName.clear();
    THourGlass hourGlass(m_showHourGlass);
    StopThread();
    m_image.reset();
    DropPaintImage();
    if (!fileName.empty()) {
        auto graphic = std::make_unique<TPixelGraphic>();
        graphic->SetReadWarningAction(m_readWarningAction);
        graphic->SetBackGroundColor(m_backGroundColor);
        HookImageEvents(*graphic, false);
        try {
            graphic->LoadFromFileIndex(fileName, imageIndex);
        } catch (...) {
            graphic.reset();
            UpdateLayout();
            throw;
        }
        HookImageEvents(*graphic, true);
        m_image = std::move(graphic);
    }
    m_fileName = fileName;
    UpdateLayout();
}

void TPGImage::SetFileName(const std::string& fileName) { LoadImageFile(fileName, 0); }

void TPGImage::Save(const std::string& fileName)
{
    if (!m_image)
        throw EPGEmpty(MessageText(kMsgIsEmpty, "PixelGraphic"));
    m_image->SetSaveColorResWarningAction(m_saveWarningAction);
    m_image->SaveToFile(fileName);
    m_fileName = fileName;
}

// ---- coordinates --------------------------------------------------------------------------

int TPGImage::PicBoxToPictureX(int x) const { return BoxToPicture(x, m_pictureWidth, m_boxRect.Width()); }
int TPGImage::PicBoxToPictureY(int y) const { return BoxToPicture(y, m_pictureHeight, m_boxRect.Height()); }
int TPGImage::PictureToPicBoxX(int x) const { return PictureToBox(x, m_pictureWidth, m_boxRect.Width()); }
int TPGImage::PictureToPicBoxY(int y) const { return PictureToBox(y, m_pictureHeight, m_boxRect.Height()); }

// ---- layout ---------------------------------------------------------------------------------

int TPGImage::BorderWidth() const { return m_borderKind == bkNone ? 0 : m_borderKind == bkFlat ? 1 : 2; }

int TPGImage::HorzScrollBarHeight() const { return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this); }

int TPGImage::VertScrollBarWidth() const { return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this); }

void TPGImage::SetBorderKind(TBorderKind value)
{
    m_borderKind = value;
    switch (value) {
    case bkNone:
        setFrameStyle(QFrame::NoFrame);
        break;
    case bkFlat:
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
        break;
    case bk3D:
        setFrameStyle(QFrame::WinPanel | QFrame::Sunken);  // two pixels wide
        break;
    }
    UpdateLayout();
}

void TPGImage::UpdateLayout()
{
    StopThread();
    m_pictureWidth = m_image ? m_image->Width() : 0;
    m_pictureHeight = m_image ? m_image->Height() : 0;
    const TViewSize size =
        AutoSizeFor(m_pictureWidth, m_pictureHeight, BorderWidth(), HorzScrollBarHeight(), VertScrollBarWidth(),
                    m_autoSizeMinWidth, m_autoSizeMinHeight, m_autoSizeMaxWidth, m_autoSizeMaxHeight);
    emit OnNewAutoSize(this, size.width, size.height);
    m_paintInvalid = true;
    if (m_autoSize && (size.width != width() || size.height != height())) {
        m_picBox->setGeometry(0, 0, 0, 0);
        m_boxRect = {};
        resize(size.width, size.height);
        if (!isVisible())  // a hidden widget gets its resize event only when shown
            Place(true);
    } else {
        Place(false);
    }
    SetSelectionRect(m_sel.left, m_sel.top, m_sel.Width(), m_sel.Height());
    emit OnPixelGraphicChange(this);
}

void TPGImage::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    m_picBox->setGeometry(0, 0, 0, 0);
    m_boxRect = {};
    Place(true);
}

void TPGImage::UpdateScrollRanges()
{
    const int b = frameWidth();
    const int aw = width() - 2 * b, ah = height() - 2 * b;
    const int hsb = HorzScrollBarHeight(), vsb = VertScrollBarWidth();
    const int cw = std::max(0, m_boxRect.right), ch = std::max(0, m_boxRect.bottom);
    bool horz = false, vert = false;
    for (int pass = 0; pass < 2; ++pass) {
        horz = cw > aw - (vert ? vsb : 0);
        vert = ch > ah - (horz ? hsb : 0);
    }
    const int clientW = aw - (vert ? vsb : 0), clientH = ah - (horz ? hsb : 0);
    // Kept here because a hidden area lays its viewport out only when shown.
    m_clientW = clientW;
    m_clientH = clientH;
    m_horzBar = horz;
    m_vertBar = vert;
    horizontalScrollBar()->setRange(0, horz ? cw - clientW : 0);
    horizontalScrollBar()->setPageStep(std::max(1, clientW));
    verticalScrollBar()->setRange(0, vert ? ch - clientH : 0);
    verticalScrollBar()->setPageStep(std::max(1, clientH));
}

void TPGImage::PositionPicBox()
{
    m_picBox->setGeometry(m_boxRect.left - horizontalScrollBar()->value(),
                          m_boxRect.top - verticalScrollBar()->value(), m_boxRect.Width(), m_boxRect.Height());
}

void TPGImage::scrollContentsBy(int, int)
{
    PositionPicBox();
    viewport()->update();
}

void TPGImage::Place(bool force)
{
    const int b = BorderWidth();
    const int availW = width() - 2 * b, availH = height() - 2 * b;
    const int hsb = HorzScrollBarHeight(), vsb = VertScrollBarWidth();
    const TStretchResult size =
        StretchPicture(m_stretch, m_pictureWidth, m_pictureHeight, availW, availH, hsb, vsb, m_zoomFactor);
    if (size.zoom != m_effectiveZoom) {
        m_effectiveZoom = size.zoom;
        emit OnZoomFactorChange(this);
    }
    TCentring at;
    if (m_center)
        at = CenterPictureBox(size.width, size.height, availW, availH, hsb, vsb);

    QScrollBar* hbar = horizontalScrollBar();
    QScrollBar* vbar = verticalScrollBar();
    bool move = m_boxRect.Width() != size.width || m_boxRect.Height() != size.height;
    if (!move && (m_rearrangeAlways || force)) {
        const int clientW = m_clientW, clientH = m_clientH;
        move = m_boxRect.left != at.left || m_boxRect.top != at.top;
        if (m_center)
            move = move || (at.horzBar && hbar->value() != (size.width - clientW) / 2) ||
                   (at.vertBar && vbar->value() != (size.height - clientH) / 2);
        else
            move = move || hbar->value() != 0 || vbar->value() != 0;
    }
    if (move) {
        struct TArranging {
            bool& flag;
            explicit TArranging(bool& f) : flag(f) { flag = true; }
            ~TArranging() { flag = false; }
        } arranging(m_arranging);
        hbar->setValue(0);
        vbar->setValue(0);
        m_boxRect = {at.left, at.top, at.left + size.width, at.top + size.height};
        UpdateScrollRanges();
        PositionPicBox();
        if (m_center) {
            if (at.horzBar)
                hbar->setValue((size.width - m_clientW) / 2);
            if (at.vertBar)
                vbar->setValue((size.height - m_clientH) / 2);
        }
    } else {
        UpdateScrollRanges();
    }
    // Palette realisation through the parent form has no counterpart here: X11
    // and Wayland true-colour visuals have no logical palettes to realise, so
    // the 4- and 8-bit paths only change how the paint image is made.
    Repaint();
}

void TPGImage::Repaint()
{
    viewport()->update();
    m_picBox->update();
}

// ---- property writers -------------------------------------------------------------------------

#define RASTOVA_WRITER(Name, member, action) \
    void TPGImage::Set##Name(decltype(member) value) \
    {                                                \
        if (member == value)                         \
            return;                                  \
        member = value;                              \
        action;                                      \
    }

RASTOVA_WRITER(Stretch, m_stretch, Place(true))
RASTOVA_WRITER(Center, m_center, Place(true))
RASTOVA_WRITER(ZoomFactor, m_zoomFactor, Place(true))
RASTOVA_WRITER(StretchMode, m_stretchMode, UpdateLayout())
RASTOVA_WRITER(Dither, m_dither, UpdateLayout())
RASTOVA_WRITER(DitherErrorLimit, m_ditherErrorLimit, UpdateLayout())
RASTOVA_WRITER(DitherErrorLimitAuto, m_ditherErrorLimitAuto, UpdateLayout())
RASTOVA_WRITER(DitherErrorLimitSoft, m_ditherErrorLimitSoft, UpdateLayout())
RASTOVA_WRITER(RGBWeighting, m_rgbWeighting, UpdateLayout())
RASTOVA_WRITER(Allow24BitStretch, m_allow24BitStretch, UpdateLayout())
RASTOVA_WRITER(AutoSizeMinWidth, m_autoSizeMinWidth, if (m_autoSize) UpdateLayout())
RASTOVA_WRITER(AutoSizeMinHeight, m_autoSizeMinHeight, if (m_autoSize) UpdateLayout())
RASTOVA_WRITER(AutoSizeMaxWidth, m_autoSizeMaxWidth, if (m_autoSize) UpdateLayout())
RASTOVA_WRITER(AutoSizeMaxHeight, m_autoSizeMaxHeight, if (m_autoSize) UpdateLayout())
RASTOVA_WRITER(Tiling, m_tiling, Repaint())
RASTOVA_WRITER(FlipHorizontal, m_flipHorizontal, Repaint())
RASTOVA_WRITER(FlipVertical, m_flipVertical, Repaint())
RASTOVA_WRITER(ProgressClockVisible, m_progressClockVisible, Repaint())
RASTOVA_WRITER(Progress5Clocks, m_progress5Clocks, Repaint())
RASTOVA_WRITER(ProgressClockBkColor, m_clockBkColor, Repaint())
RASTOVA_WRITER(ProgressClockLineColor, m_clockLineColor, Repaint())
RASTOVA_WRITER(Color, m_color, if (m_picBoxParentColor) m_picBox->SetColor(value); Repaint())
RASTOVA_WRITER(PicBoxFrameColor, m_picBoxFrameColor, Repaint())
RASTOVA_WRITER(ActionMode, m_actionMode, m_picBox->update())
RASTOVA_WRITER(SelectionColor1, m_selColor1, m_selBrushesMade = false; m_picBox->update())
RASTOVA_WRITER(SelectionColor2, m_selColor2, m_selBrushesMade = false; m_picBox->update())
RASTOVA_WRITER(UseThread, m_useThread, StopThread(); m_paintInvalid = true; Repaint())
RASTOVA_WRITER(DisplayDepthOverride, m_displayDepthOverride, m_paintInvalid = true; Repaint())
#undef RASTOVA_WRITER

// Only the kinds an 8-bit paint image can be given are taken.
void TPGImage::SetPalette8BitSys24BitGraphic(TPaletteIdent value)
{
    if (value == m_palette24 || value < pBlackWhite || value > pOptimized252Sys16)
        return;
    m_palette24 = value;
    UpdateLayout();
}

void TPGImage::SetPalette8BitSys8BitGraphic(TPaletteIdent value)
{
    if (value == m_palette8 || value < pBlackWhite || value > pSource)
        return;
    m_palette8 = value;
    UpdateLayout();
}

void TPGImage::SetAutoSize(bool value)
{
    m_autoSize = value;
    UpdateLayout();
}

QColor TPGImage::PicBoxColor() const { return m_picBox->Color(); }
void TPGImage::SetPicBoxColor(const QColor& value)
{
    m_picBoxParentColor = false;
    m_picBox->SetColor(value);
}
void TPGImage::PicBoxBeginDrag()
{
    emit PicBoxOnStartDrag(this);
    auto* drag = new QDrag(m_picBox);
    drag->setMimeData(new QMimeData);
    drag->setDragCursor(m_picBoxDragCursor.pixmap(), Qt::MoveAction);
    const Qt::DropAction done = drag->exec(Qt::MoveAction);
    emit PicBoxOnEndDrag(this, done != Qt::IgnoreAction);
}

void TPGImage::SetPicBoxParentColor(bool value)
{
    m_picBoxParentColor = value;
    if (value)
        m_picBox->SetColor(m_color);
}
void TPGImage::SetPicBoxCursor(const QCursor& value)
{
    m_picBoxCursor = value;
    m_picBox->setCursor(value);
}
void TPGImage::SetShowHint(bool value)
{
    m_showHint = value;
    m_parentShowHint = false;
}
void TPGImage::SetPicBoxShowHint(bool value)
{
    m_picBoxShowHint = value;
    m_picBoxParentShowHint = false;
}
QString TPGImage::PicBoxHint() const { return m_picBox->toolTip(); }
void TPGImage::SetPicBoxHint(const QString& value) { m_picBox->setToolTip(value); }

void TPGImage::changeEvent(QEvent* event)
{
    QScrollArea::changeEvent(event);
    if (event->type() == QEvent::StyleChange)
        UpdateLayout();
}

// ---- display adaptation ---------------------------------------------------------------------

int TPGImage::DisplayBitsPerPixel() const
{
    if (m_displayDepthOverride > 0)
        return m_displayDepthOverride;
    if (const char* env = std::getenv("RASTOVA_DISPLAY_DEPTH")) {
        const int depth = std::atoi(env);
        if (depth > 0)
            return depth;
    }
    const QScreen* s = screen();
    return s ? s->depth() : 24;
}

bool TPGImage::ChoosePicture()
{
    const int d = DisplayBitsPerPixel();
    const TViewSize box{m_boxRect.Width(), m_boxRect.Height()};
    const bool stretched = m_image && m_stretchMode != smFast &&
                           (box.width != m_image->Width() || box.height != m_image->Height());
    m_paintInvalid = m_paintInvalid || (m_stretchMode != smFast && !m_reduceOnLoad && !(box == m_preparedSize));
    bool need = false;
    if (m_image) {
        const int p = m_image->BitCountNum();
        need = (d < p && d <= 8) || stretched;
        if (p <= 8 && d <= 8) {
            if (d == 4) {
                need = need || (m_image->PaletteIdent() != pSys16 && (!m_reduceOnLoad || m_paintInvalid));
            } else if (!need) {
                if (m_palette8 == pSource || m_palette8 == m_image->PaletteIdent())
                    need = false;
                else
                    need = m_reduceOnLoad ? m_paintInvalid : true;
            }
        }
    }
    if (((m_paintInvalid && !(m_keepOldPaint && m_useThread)) || !need) && m_paint) {
        StopThread();
        m_paint.reset();
    }
    if (!need || (!m_paintInvalid && (m_paint || !m_thread->Terminated())))
        return need;
    StartPreparation(stretched, d);
    return need;
}

void TPGImage::StartPreparation(bool stretched, int d)
{
    StopThread();
    if (!(m_keepOldPaint && m_useThread))
        m_paint.reset();
    m_progressStage = 1;
    m_progressStageCount = 1;
    m_progressPercent = 0;
    m_thread.reset();
    m_thread = std::make_unique<TCreatePaintPGThread>(m_useThread, m_useThread, this, m_generation);
    TCreatePaintPGThread& t = *m_thread;
    if (!m_useThread)
        t.ReadyHandler = [this](std::unique_ptr<TPixelGraphic> image) { TakePaintImage(std::move(image)); };
    auto progress = [&t](TObject* s, int step, int max, bool& abort) { t.Progress(s, step, max, abort); };
    try {
        t.FPixelGraphic = m_image.get();
        t.FHelpPixelGraphic = m_image.get();
        if (m_allow24BitStretch && stretched && d == 8 && m_palette24 == pOptimized252Sys16) {
            auto help = std::make_unique<TPixelGraphic>();
            try {
                help->SetSize(m_boxRect.Width(), m_boxRect.Height(), bc24);
            } catch (const EPixelGraphic&) {
                help->SetSize(1, 1, bc24);
            }
            help->SetStretchMode(m_stretchMode);
            help->SetOnProgress(progress);
            t.FHelpPixelGraphic = help.get();
            t.FOwnedHelpPixelGraphic = std::move(help);
            t.StretchFirst = true;
            ++m_progressStageCount;
        }
        auto paint = std::make_unique<TPixelGraphic>();
        paint->SetOnProgress(progress);
        const TPixelGraphic& source = *t.FHelpPixelGraphic;
        if (d <= 7) {
            paint->SetBitCount(bc4);
            paint->SetPaletteIdent(pSys16);
        } else if (d > 8) {
            // A picture with alpha keeps it, to be shown over the checkerboard.
            paint->SetBitCount(source.HasAlpha() ? bc32 : bc24);
        } else {
            paint->SetBitCount(bc8);
            const TPaletteIdent wanted = source.BitCount() == bc24 ? m_palette24 : m_palette8;
            if (wanted == pOptimized252Sys16) {
                t.OptimalPalette = true;
                ++m_progressStageCount;
            } else if (wanted == pSource) {
                paint->AssignPalette(source);
            } else {
                paint->SetPaletteIdent(wanted);
            }
        }
        const TViewSize size = m_stretchMode != smFast ? TViewSize{m_boxRect.Width(), m_boxRect.Height()}
                                                       : TViewSize{m_image->Width(), m_image->Height()};
        paint->SetSize(size.width, size.height, paint->BitCount());
        m_preparedSize = size;
        paint->SetStretchMode(m_stretchMode);
        paint->SetDither(m_dither);
        paint->SetDitherErrorLimit(m_ditherErrorLimit);
        paint->SetDitherErrorLimitAuto(m_ditherErrorLimitAuto);
        paint->SetDitherErrorLimitSoft(m_ditherErrorLimitSoft);
        paint->SetRGBWeighting(m_rgbWeighting);
        t.FPaintPixelGraphic = std::move(paint);
        m_paintInvalid = false;
        if (m_useThread)
            t.Resume();
        else
            t.DoTheWork();
    } catch (const std::exception&) {
        // The picture stays unprepared; the frame with the clocks stays up.
        m_paintInvalid = false;
    }
}

void TPGImage::TakePaintImage(std::unique_ptr<TPixelGraphic> image)
{
    if (!image)
        return;
    // The worker's progress hook dies with the worker.
    image->SetOnProgress({});
    if (m_reduceOnLoad) {
        // Taken over without a layout update: that would mark the new picture
        // invalid, and on a palette display whose palette kind differs from the
        // wanted one each reduced picture would be reduced again without end.
        m_thread->Stop();
        m_paint.reset();
        m_image = std::move(image);
        HookImageEvents(*m_image, true);
        m_pictureWidth = m_image->Width();
        m_pictureHeight = m_image->Height();
        Place(false);
    } else {
        m_paint = std::move(image);
    }
    Repaint();
}

void TPGImage::WaitForPaintImage()
{
    m_thread->WaitFor();
    QCoreApplication::sendPostedEvents(this, TPaintImageReadyEvent::kType);
}

bool TPGImage::event(QEvent* event)
{
    if (event->type() == TPaintImageReadyEvent::kType) {
        auto* ready = static_cast<TPaintImageReadyEvent*>(event);
        // A stopped preparation may have posted before it was stopped.
        if (ready->Generation() == m_generation) {
            m_thread->WaitFor();
            TakePaintImage(ready->TakeImage());
        }
        return true;
    }
    if (event->type() == TPaintProgressEvent::kType) {
        auto* progress = static_cast<TPaintProgressEvent*>(event);
        if (progress->Generation() == m_generation) {
            m_progressStage = progress->Stage();
            m_progressPercent = progress->Percent();
            viewport()->update(m_picBox->geometry());
        }
        return true;
    }
    return QScrollArea::event(event);
}

// ---- painting ------------------------------------------------------------------------------------

void TPGImage::paintEvent(QPaintEvent* event)
{
    if (m_arranging)
        return;
    QPainter painter(viewport());
    painter.setClipRegion(event->region());
    try {
        PaintPicture(painter, event->rect());
    } catch (const std::exception&) {
        // A picture that cannot be drawn leaves the area as it is.
    }
    painter.end();
    emit OnPaint(this);
}

void TPGImage::PaintPicture(QPainter& painter, const QRect& clip)
{
    const TPixelGraphic* before = m_image.get();
    bool usePaint = ChoosePicture();
    // A preparation done right here with ReduceOnLoad has already put its result
    // in the picture's place (and may have moved the box): draw that.
    if (m_reduceOnLoad && m_image.get() != before)
        usePaint = false;
    const QRect box = m_picBox->geometry();
    const TViewRect r{box.left(), box.top(), box.left() + box.width(), box.top() + box.height()};
    const TPixelGraphic* g = usePaint ? m_paint.get() : m_image.get();
    if (g && g->GetEmpty())
        g = nullptr;
    emit OnPainting(this);
    const int clientW = viewport()->width(), clientH = viewport()->height();
    if (m_tiling == tNone || !g) {
        const QRect margins[4] = {QRect(0, 0, clientW, r.top), QRect(0, r.bottom, clientW, clientH - r.bottom),
                                  QRect(0, r.top, r.left, r.Height()),
                                  QRect(r.right, r.top, clientW - r.right, r.Height())};
        for (const QRect& m : margins)
            if (!m.isEmpty())
                painter.fillRect(m, m_color);
    }
    if (!g) {
        if (r.Width() > 0 && r.Height() > 0) {
            painter.setPen(m_picBoxFrameColor);
            painter.setBrush(m_picBox->Color());
            painter.drawRect(QRect(r.left, r.top, r.Width() - 1, r.Height() - 1));
            DrawClocks(painter, r);
        }
        return;
    }
    TTileRange cols, rows;
    if (m_tiling != tNone) {
        cols = TileRange(r.left, r.right, clientW);
        rows = TileRange(r.top, r.bottom, clientH);
    }
    struct TCell {
        TViewRect rect;
        bool mirrorX, mirrorY;
    };
    std::vector<TCell> cells;
    int counts[3] = {0, 0, 0};  // both ways, left-right only, upside-down only
    for (int j = rows.first; j <= rows.last; ++j) {
        for (int i = cols.first; i <= cols.last; ++i) {
            const TViewRect cell{r.left + i * r.Width(), r.top + j * r.Height(), r.right + i * r.Width(),
                                 r.bottom + j * r.Height()};
            if (!clip.intersects(ToQRect(cell)))
                continue;
            const bool mx = TileCellMirrored(i, m_flipHorizontal, TilingMirrorsHorizontally(m_tiling));
            const bool my = TileCellMirrored(j, m_flipVertical, TilingMirrorsVertically(m_tiling));
            cells.push_back({cell, mx, my});
            if (mx && my)
                ++counts[0];
            else if (mx)
                ++counts[1];
            else if (my)
                ++counts[2];
        }
    }
    std::unique_ptr<TPixelGraphic> copies[3];
    for (int k = 0; k < 3; ++k) {
        if (counts[k] <= 2)
            continue;
        copies[k] = std::make_unique<TPixelGraphic>();
        copies[k]->Assign(g);
        if (k != 2)
            copies[k]->MirrorHorizontal();
        if (k != 1)
            copies[k]->MirrorVertical();
    }
    for (const TCell& c : cells) {
        const int kind = c.mirrorX && c.mirrorY ? 0 : c.mirrorX ? 1 : c.mirrorY ? 2 : -1;
        if (kind >= 0 && copies[kind]) {
            DrawPixelGraphic(painter, c.rect, *copies[kind]);
            continue;
        }
        TViewRect d = c.rect;
        if (c.mirrorX)
            d = {c.rect.right - 1, d.top, c.rect.left - 1, d.bottom};
        if (c.mirrorY)
            d = {d.left, c.rect.bottom - 1, d.right, c.rect.top - 1};
        DrawPixelGraphic(painter, d, *g);
    }
}

void TPGImage::DrawClocks(QPainter& painter, const TViewRect& r)
{
    if (!m_progressClockVisible)
        return;
    std::array<std::array<int, 2>, 5> at{};
    const int count = ProgressClockPositions(r, m_progress5Clocks, at);
    painter.setPen(m_clockLineColor);
    painter.setBrush(m_clockBkColor);
    for (int i = 0; i < count; ++i) {
        const TClockHands c = ClockHandsAt(at[i][0], at[i][1], m_progressStage, m_progressPercent);
        painter.drawEllipse(QRect(at[i][0], at[i][1], 15, 15));
        painter.drawLine(c.centerX, c.centerY, c.hourX, c.hourY);
        painter.drawLine(c.centerX, c.centerY, c.minuteX, c.minuteY);
    }
}

// ---- selection --------------------------------------------------------------------------------------

TViewRect TPGImage::SelectionBoxRect() const
{
    return {PictureToPicBoxX(m_sel.left), PictureToPicBoxY(m_sel.top), PictureToPicBoxX(m_sel.right),
            PictureToPicBoxY(m_sel.bottom)};
}

const QBrush& TPGImage::SelectionBrush(int index)
{
    if (!m_selBrushesMade) {
        for (int i = 0; i < 8; ++i) {
            QImage pattern(8, 8, QImage::Format_RGB32);
            for (int j = 0; j < 8; ++j)
                for (int k = 0; k < 8; ++k)
                    pattern.setPixel(k, j, (SelectionBrushSecondColor(i, k, j) ? m_selColor2 : m_selColor1).rgb());
            m_selBrushes[i] = QBrush(pattern);
        }
        m_selBrushesMade = true;
    }
    return m_selBrushes[index & 7];
}

void TPGImage::PaintSelection(QPainter& painter)
{
    if (!m_selection)
        return;
    const TViewRect s = SelectionBoxRect();
    const TViewRect frame{s.left - 1, s.top - 1, s.right + 1, s.bottom + 1};
    const QBrush& brush = SelectionBrush(((m_animCounter + frame.left + frame.top) % 8 + 8) % 8);
    auto frameRect = [&](const TViewRect& f) {
        const QRect q = ToQRect(f);
        if (q.width() <= 0 || q.height() <= 0)
            return;
        painter.fillRect(QRect(q.left(), q.top(), q.width(), 1), brush);
        painter.fillRect(QRect(q.left(), q.bottom(), q.width(), 1), brush);
        painter.fillRect(QRect(q.left(), q.top(), 1, q.height()), brush);
        painter.fillRect(QRect(q.right(), q.top(), 1, q.height()), brush);
    };
    frameRect(frame);
    if (m_actionMode == amMoveResizeCreateSelection)
        for (const TViewRect& h : SelectionHandles(s))
            frameRect(h);
}

void TPGImage::AdvanceSelectionAnimation()
{
    m_animCounter = (m_animCounter + 1) % 8;
    if (m_selection)
        InvalidateSelectionArea(m_sel);
}

void TPGImage::InvalidateSelectionArea(const TViewRect& sel)
{
    const int margin = m_actionMode == amMoveResizeCreateSelection ? 8 : 1;
    const TViewRect s{PictureToPicBoxX(sel.left), PictureToPicBoxY(sel.top), PictureToPicBoxX(sel.right),
                      PictureToPicBoxY(sel.bottom)};
    const QRect outer(s.left - margin, s.top - margin, s.Width() + 2 * margin + 1, s.Height() + 2 * margin + 1);
    m_picBox->update(outer);
}

void TPGImage::SetSelection(bool value)
{
    if (m_selection == value)
        return;
    m_selection = value;
    if (value)
        m_animTimer->start();
    else
        m_animTimer->stop();
    m_picBox->update();
    emit OnSelectionChange(this);
}

void TPGImage::SetSelectionRect(int left, int top, int width, int height)
{
    const TViewRect next{left, top, left + width, top + height};
    if (next == m_sel)
        return;
    InvalidateSelectionArea(m_sel);
    InvalidateSelectionArea(next);
    m_sel = next;
    emit OnSelectionChange(this);
    if (m_selection)
        m_picBox->update();
}

void TPGImage::SetSelectionLeft(int value) { SetSelectionRect(value, m_sel.top, m_sel.Width(), m_sel.Height()); }
void TPGImage::SetSelectionTop(int value) { SetSelectionRect(m_sel.left, value, m_sel.Width(), m_sel.Height()); }
void TPGImage::SetSelectionWidth(int value) { SetSelectionRect(m_sel.left, m_sel.top, value, m_sel.Height()); }
void TPGImage::SetSelectionHeight(int value) { SetSelectionRect(m_sel.left, m_sel.top, m_sel.Width(), value); }

// ---- mouse -------------------------------------------------------------------------------------------

bool TPGImage::CanScrollPicture() const
{
    return (m_boxRect.Width() > m_clientW && m_horzBar) || (m_boxRect.Height() > m_clientH && m_vertBar);
}

int TPGImage::HandleAt(int x, int y) const
{
    if (m_actionMode != amMoveResizeCreateSelection || !m_selection)
        return -1;
    const auto handles = SelectionHandles(SelectionBoxRect());
    for (int i = 0; i < 8; ++i)
        if (handles[i].Contains(x, y))
            return i;
    return -1;
}

void TPGImage::PicBoxMouseDown(QMouseEvent* event)
{
    if (m_drag != dkNone)
        return;
    const QPoint p = event->position().toPoint();
    const int px = PicBoxToPictureX(p.x()), py = PicBoxToPictureY(p.y());
    int handle = -1;
    if (IsAnyOf(m_actionMode, {amMoveResizeCreateSelection, amMoveSelection, amMoveSelectionMoveImage}) &&
        m_selection && m_sel.Contains(px, py)) {
        m_drag = dkMoveSelection;
        m_grabX = px - m_sel.left;
        m_grabY = py - m_sel.top;
    } else if (IsAnyOf(m_actionMode, {amMoveImage, amMoveSelectionMoveImage}) && CanScrollPicture()) {
        m_drag = dkScroll;
        m_lastGlobal = event->globalPosition().toPoint();
        if (!QGuiApplication::overrideCursor()) {
            QCursor cursor = ViewCursor(vcScrolling);
            emit PicBoxOnSetCursor(this, cursor);
            m_picBox->setCursor(cursor);
        }
    } else if ((handle = HandleAt(p.x(), p.y())) >= 0) {
        m_drag = dkResize;
        m_dragHandle = handle;
        m_grabX = px - (kMovesLeft[handle] ? m_sel.left : m_sel.right);
        m_grabY = py - (kMovesTop[handle] ? m_sel.top : m_sel.bottom);
    } else if (IsAnyOf(m_actionMode, {amMoveResizeCreateSelection, amCreateSelection})) {
        SetSelection(true);
        m_drag = dkCreate;
        m_grabX = px;
        m_grabY = py;
        SetSelectionRect(px, py, 1, 1);
    } else {
        return;
    }
    // The press already holds the mouse for the box until release (Qt's
    // implicit grab), which is the capture the drags need.
    if (m_drag != dkScroll)
        m_scrollTimer->start();
}

void TPGImage::PicBoxMouseMove(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    m_lastBoxX = p.x();
    m_lastBoxY = p.y();
    if (m_drag == dkScroll) {
        const QPoint g = event->globalPosition().toPoint();
        const QPoint delta = g - m_lastGlobal;
        m_lastGlobal = g;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y());
    } else if (m_drag != dkNone) {
        DragTo(p.x(), p.y());
    }
    UpdatePicBoxCursor(p.x(), p.y());
}

void TPGImage::DragTo(int boxX, int boxY)
{
    const int px = PicBoxToPictureX(boxX), py = PicBoxToPictureY(boxY);
    switch (m_drag) {
    case dkMoveSelection: {
        const int left = std::min(std::max(px - m_grabX, 1 - m_sel.Width()), m_pictureWidth - 1);
        const int top = std::min(std::max(py - m_grabY, 1 - m_sel.Height()), m_pictureHeight - 1);
        SetSelectionRect(left, top, m_sel.Width(), m_sel.Height());
        break;
    }
    case dkCreate: {
        const int left = std::min(m_grabX, px), right = std::max(m_grabX, px);
        const int top = std::min(m_grabY, py), bottom = std::max(m_grabY, py);
        SetSelectionRect(left, top, right - left + 1, bottom - top + 1);
        break;
    }
    case dkResize: {
        TViewRect s = m_sel;
        const int h = m_dragHandle;
        if (kMovesLeft[h])
            s.left = std::min(px - m_grabX, s.right - 1);
        if (kMovesRight[h])
            s.right = std::max(px - m_grabX, s.left + 1);
        if (kMovesTop[h])
            s.top = std::min(py - m_grabY, s.bottom - 1);
        if (kMovesBottom[h])
            s.bottom = std::max(py - m_grabY, s.top + 1);
        SetSelectionRect(s.left, s.top, s.Width(), s.Height());
        break;
    }
    case dkScroll:
    case dkNone:
        break;
    }
}

void TPGImage::PicBoxMouseUp(QMouseEvent*)
{
    if (m_drag == dkNone)
        return;
    const bool selectionDrag = m_drag != dkScroll;
    m_drag = dkNone;
    m_scrollTimer->stop();
    UpdatePicBoxCursor(m_lastBoxX, m_lastBoxY);
    if (selectionDrag) {
        SetSelection(true);
        emit OnSelectionMade(this);
    }
}

void TPGImage::AutoScrollTick()
{
    if (m_drag == dkNone || m_drag == dkScroll)
        return;
    const QPoint v = viewport()->mapFromGlobal(QCursor::pos());
    const QRect area = viewport()->rect();
    if (area.contains(v))
        return;
    const int dx = v.x() < 0 ? v.x() : v.x() >= area.width() ? v.x() - area.width() + 1 : 0;
    const int dy = v.y() < 0 ? v.y() : v.y() >= area.height() ? v.y() - area.height() + 1 : 0;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + dx);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + dy);
    const QPoint b = m_picBox->mapFromGlobal(QCursor::pos());
    DragTo(b.x(), b.y());
}

void TPGImage::UpdatePicBoxCursor(int x, int y)
{
    if (QGuiApplication::overrideCursor())
        return;
    QCursor cursor = m_picBoxCursor;
    if (IsAnyOf(m_actionMode, {amMoveImage, amMoveSelectionMoveImage}) && CanScrollPicture())
        cursor = ViewCursor(m_drag == dkScroll ? vcScrolling : vcScroll);
    if (IsAnyOf(m_actionMode, {amMoveResizeCreateSelection, amCreateSelection}))
        cursor = ViewCursor(vcSelection);
    if (IsAnyOf(m_actionMode, {amMoveResizeCreateSelection, amMoveSelection, amMoveSelectionMoveImage}) &&
        m_selection && m_sel.Contains(PicBoxToPictureX(x), PicBoxToPictureY(y)))
        cursor = ViewCursor(vcMove);
    static constexpr Qt::CursorShape kHandleCursors[8] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor,
                                                          Qt::SizeHorCursor,   Qt::SizeHorCursor, Qt::SizeBDiagCursor,
                                                          Qt::SizeVerCursor,   Qt::SizeFDiagCursor};
    if (const int h = HandleAt(x, y); h >= 0)
        cursor = QCursor(kHandleCursors[h]);
    emit PicBoxOnSetCursor(this, cursor);
    m_picBox->setCursor(cursor);
}

void TPGImage::mouseMoveEvent(QMouseEvent* event)
{
    QScrollArea::mouseMoveEvent(event);
    if (QGuiApplication::overrideCursor())
        return;
    QCursor cursor = this->cursor();
    emit OnSetCursor(this, cursor);
    viewport()->setCursor(cursor);
}

}  // namespace rastova
