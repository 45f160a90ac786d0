// TPGImage: the scrolling picture control. A scroll area whose only child, the
// picture box, has exactly the size and position at which the picture is shown.
// The picture is drawn from the image itself when the display shows it
// unchanged, otherwise from a display-adapted paint image made by a worker.
//
// Events are Qt signals named after the events; a reference parameter is the
// handler's answer and is only seen by handlers connected directly.
#pragma once

#include "image/PGraphic.h"
#include "view/PaintThread.h"
#include "view/ViewLayout.h"

#include <QColor>
#include <QCursor>
#include <QScrollArea>

#include <array>
#include <memory>
#include <string>

class QMenu;
class QTimer;

namespace rastova {

class TPGImage;

enum TBorderKind { bkNone, bkFlat, bk3D };
// dmAutomatic: a left press on the picture box starts dragging it.
enum TDragMode { dmManual, dmAutomatic };

class TPicBox : public QWidget {
    Q_OBJECT
public:
    explicit TPicBox(TPGImage* owner);

    QColor Color() const { return m_color; }
    void SetColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool event(QEvent* event) override;

private:
    TPGImage* m_owner;
    QColor m_color;
};

// The four cursors of the control (32 x 32, drawn in code).
enum TViewCursor { vcScroll, vcScrolling, vcSelection, vcMove };
const QCursor& ViewCursor(TViewCursor which);
QPixmap ViewCursorPixmap(TViewCursor which, qreal devicePixelRatio);

class TPGImage : public QScrollArea {
    Q_OBJECT
public:
    explicit TPGImage(QWidget* parent = nullptr);
    ~TPGImage() override;

    // ---- the image ---------------------------------------------------------------
    TPixelGraphic* PixelGraphic();  // stops the paint thread first
    void SetPixelGraphic(std::unique_ptr<TPixelGraphic> graphic);
    // The paint image, or none (for inspection; not stopped).
    const TPixelGraphic* PaintPixelGraphic() const { return m_paint.get(); }
    void LoadImageFile(const std::string& fileName, int imageIndex);
    const std::string& FileName() const { return m_fileName; }
    void SetFileName(const std::string& fileName);
    void Save(const std::string& fileName);

    // ---- coordinate conversions --------------------------------------------------
    int PicBoxToPictureX(int x) const;
    int PicBoxToPictureY(int y) const;
    int PictureToPicBoxX(int x) const;
    int PictureToPicBoxY(int y) const;

    // ---- layout ------------------------------------------------------------------
    TStretch Stretch() const { return m_stretch; }
    void SetStretch(TStretch value);
    bool Center() const { return m_center; }
    void SetCenter(bool value);
    long double ZoomFactor() const { return m_zoomFactor; }
    void SetZoomFactor(long double value);
    long double EffectiveZoom() const { return m_effectiveZoom; }
    TTiling Tiling() const { return m_tiling; }
    void SetTiling(TTiling value);
    bool FlipHorizontal() const { return m_flipHorizontal; }
    void SetFlipHorizontal(bool value);
    bool FlipVertical() const { return m_flipVertical; }
    void SetFlipVertical(bool value);
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool value);
    int AutoSizeMinWidth() const { return m_autoSizeMinWidth; }
    void SetAutoSizeMinWidth(int value);
    int AutoSizeMinHeight() const { return m_autoSizeMinHeight; }
    void SetAutoSizeMinHeight(int value);
    int AutoSizeMaxWidth() const { return m_autoSizeMaxWidth; }
    void SetAutoSizeMaxWidth(int value);
    int AutoSizeMaxHeight() const { return m_autoSizeMaxHeight; }
    void SetAutoSizeMaxHeight(int value);
    bool RearrangeAlways() const { return m_rearrangeAlways; }
    void SetRearrangeAlways(bool value) { m_rearrangeAlways = value; }
    TBorderKind BorderKind() const { return m_borderKind; }
    void SetBorderKind(TBorderKind value);
    int BorderWidth() const;
    int HorzScrollBarHeight() const;
    int VertScrollBarWidth() const;
    // The picture box's rectangle in the scrolled content (scroll position 0).
    TViewRect PicBoxContentRect() const { return m_boxRect; }

    // ---- display adaptation --------------------------------------------------------
    TStretchMode StretchMode() const { return m_stretchMode; }
    void SetStretchMode(TStretchMode value);
    bool Allow24BitStretch() const { return m_allow24BitStretch; }
    void SetAllow24BitStretch(bool value);
    bool Dither() const { return m_dither; }
    void SetDither(bool value);
    std::uint8_t DitherErrorLimit() const { return m_ditherErrorLimit; }
    void SetDitherErrorLimit(std::uint8_t value);
    bool DitherErrorLimitAuto() const { return m_ditherErrorLimitAuto; }
    void SetDitherErrorLimitAuto(bool value);
    bool DitherErrorLimitSoft() const { return m_ditherErrorLimitSoft; }
    void SetDitherErrorLimitSoft(bool value);
    bool RGBWeighting() const { return m_rgbWeighting; }
    void SetRGBWeighting(bool value);
    TPaletteIdent Palette8BitSys24BitGraphic() const { return m_palette24; }
    void SetPalette8BitSys24BitGraphic(TPaletteIdent value);  // pBlackWhite ... pOptimized252Sys16
    TPaletteIdent Palette8BitSys8BitGraphic() const { return m_palette8; }
    void SetPalette8BitSys8BitGraphic(TPaletteIdent value);  // pBlackWhite ... pSource
    bool UseThread() const { return m_useThread; }
    void SetUseThread(bool value);
    bool KeepOldPaintPixelGraphic() const { return m_keepOldPaint; }
    void SetKeepOldPaintPixelGraphic(bool value) { m_keepOldPaint = value; }
    bool ReduceOnLoad() const { return m_reduceOnLoad; }
    void SetReduceOnLoad(bool value) { m_reduceOnLoad = value; }
    // Display bits per pixel: the override when set (>0), else the environment
    // variable RASTOVA_DISPLAY_DEPTH, else the screen's depth.
    int DisplayBitsPerPixel() const;
    int DisplayDepthOverride() const { return m_displayDepthOverride; }
    void SetDisplayDepthOverride(int bitsPerPixel);  // 0: no override
    // Stage, stage count and percent of the running preparation.
    int ProgressStage() const { return m_progressStage; }
    int ProgressStageCount() const { return m_progressStageCount; }
    int ProgressPercent() const { return m_progressPercent; }
    bool PaintImageInvalid() const { return m_paintInvalid; }
    // Blocks until the running preparation has finished and its result was taken.
    void WaitForPaintImage();

    // ---- look ----------------------------------------------------------------------
    bool ShowHourGlass() const { return m_showHourGlass; }
    void SetShowHourGlass(bool value) { m_showHourGlass = value; }
    bool ProgressClockVisible() const { return m_progressClockVisible; }
    void SetProgressClockVisible(bool value);
    bool Progress5Clocks() const { return m_progress5Clocks; }
    void SetProgress5Clocks(bool value);
    QColor ProgressClockBkColor() const { return m_clockBkColor; }
    void SetProgressClockBkColor(QColor value);
    QColor ProgressClockLineColor() const { return m_clockLineColor; }
    void SetProgressClockLineColor(QColor value);
    QColor Color() const { return m_color; }
    void SetColor(QColor value);
    TRGB BackGroundColor() const { return m_backGroundColor; }
    void SetBackGroundColor(TRGB value) { m_backGroundColor = value; }
    TPGWarningAction ReadWarningAction() const { return m_readWarningAction; }
    void SetReadWarningAction(TPGWarningAction value) { m_readWarningAction = value; }
    TPGWarningAction SaveColorResWarningAction() const { return m_saveWarningAction; }
    void SetSaveColorResWarningAction(TPGWarningAction value) { m_saveWarningAction = value; }

    // ---- picture box pass-through ---------------------------------------------------
    TPicBox* PicBox() const { return m_picBox; }
    QColor PicBoxColor() const;
    void SetPicBoxColor(const QColor& value);
    QCursor PicBoxCursor() const { return m_picBoxCursor; }
    void SetPicBoxCursor(const QCursor& value);
    QString PicBoxHint() const;
    void SetPicBoxHint(const QString& value);
    QColor PicBoxFrameColor() const { return m_picBoxFrameColor; }
    void SetPicBoxFrameColor(QColor value);
    // With ParentColor the picture box takes the control's Color.
    bool PicBoxParentColor() const { return m_picBoxParentColor; }
    void SetPicBoxParentColor(bool value);
    // Shown on a right click over the picture box (not owned).
    QMenu* PicBoxPopupMenu() const { return m_picBoxPopupMenu; }
    void SetPicBoxPopupMenu(QMenu* menu) { m_picBoxPopupMenu = menu; }
    TDragMode PicBoxDragMode() const { return m_picBoxDragMode; }
    void SetPicBoxDragMode(TDragMode value) { m_picBoxDragMode = value; }
    QCursor PicBoxDragCursor() const { return m_picBoxDragCursor; }
    void SetPicBoxDragCursor(const QCursor& value) { m_picBoxDragCursor = value; }
    // Starts dragging the picture box (what dmAutomatic does on a press).
    void PicBoxBeginDrag();
    long long PicBoxTag() const { return m_picBoxTag; }
    void SetPicBoxTag(long long value) { m_picBoxTag = value; }
    // Hints (tool tips). Setting ShowHint ends taking it from the parent. Qt
    // windows always show tool tips, so a control that takes ShowHint from its
    // window shows them; the picture box takes it from this control.
    bool ShowHint() const { return m_parentShowHint || m_showHint; }
    void SetShowHint(bool value);
    bool ParentShowHint() const { return m_parentShowHint; }
    void SetParentShowHint(bool value) { m_parentShowHint = value; }
    bool PicBoxShowHint() const { return m_picBoxParentShowHint ? ShowHint() : m_picBoxShowHint; }
    void SetPicBoxShowHint(bool value);
    bool PicBoxParentShowHint() const { return m_picBoxParentShowHint; }
    void SetPicBoxParentShowHint(bool value) { m_picBoxParentShowHint = value; }

    // ---- selection and mouse ---------------------------------------------------------
    TActionMode ActionMode() const { return m_actionMode; }
    void SetActionMode(TActionMode value);
    bool Selection() const { return m_selection; }
    void SetSelection(bool value);
    int SelectionLeft() const { return m_sel.left; }
    int SelectionTop() const { return m_sel.top; }
    int SelectionWidth() const { return m_sel.Width(); }
    int SelectionHeight() const { return m_sel.Height(); }
    void SetSelectionLeft(int value);
    void SetSelectionTop(int value);
    void SetSelectionWidth(int value);
    void SetSelectionHeight(int value);
    void SetSelectionRect(int left, int top, int width, int height);
    QColor SelectionColor1() const { return m_selColor1; }
    void SetSelectionColor1(QColor value);
    QColor SelectionColor2() const { return m_selColor2; }
    void SetSelectionColor2(QColor value);
    int SelectionAnimationCounter() const { return m_animCounter; }
    // One animation step (what the 50 ms timer does).
    void AdvanceSelectionAnimation();
    // The selection's picture-box rectangle and handles.
    TViewRect SelectionBoxRect() const;

signals:
    void OnNewAutoSize(rastova::TPGImage* sender, int pgImageWidth, int pgImageHeight);
    void OnPaint(rastova::TPGImage* sender);
    void OnPainting(rastova::TPGImage* sender);
    void OnPixelGraphicChange(rastova::TPGImage* sender);
    void OnPixelGraphicProgress(rastova::TObject* sender, int step, int max, bool& abort);
    void OnPixelGraphicProgressStart(rastova::TObject* sender);
    void OnPixelGraphicProgressEnd(rastova::TObject* sender);
    void OnSelectionChange(rastova::TPGImage* sender);
    void OnSelectionMade(rastova::TPGImage* sender);
    void OnSetCursor(rastova::TPGImage* sender, QCursor& cursor);
    void OnZoomFactorChange(rastova::TPGImage* sender);
    // The picture box's events (its own handlers run first, except mouse up).
    void PicBoxOnClick(rastova::TPGImage* sender);
    void PicBoxOnDblClick(rastova::TPGImage* sender);
    void PicBoxOnMouseDown(rastova::TPGImage* sender, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                           int x, int y);
    void PicBoxOnMouseMove(rastova::TPGImage* sender, Qt::KeyboardModifiers modifiers, int x, int y);
    void PicBoxOnMouseUp(rastova::TPGImage* sender, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                         int x, int y);
    void PicBoxOnPaint(rastova::TPGImage* sender);
    void PicBoxOnSetCursor(rastova::TPGImage* sender, QCursor& cursor);
    // Dragging: source is the widget the drag came from (nullptr from another
    // program); accept answers whether the picture box takes the drop.
    void PicBoxOnStartDrag(rastova::TPGImage* sender);
    void PicBoxOnDragOver(rastova::TPGImage* sender, QObject* source, int x, int y, bool& accept);
    void PicBoxOnDragDrop(rastova::TPGImage* sender, QObject* source, int x, int y);
    void PicBoxOnEndDrag(rastova::TPGImage* sender, bool dropped);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    friend class TPicBox;
    enum TDragKind { dkNone, dkScroll, dkMoveSelection, dkResize, dkCreate };

    void HookImageEvents(TPixelGraphic& graphic, bool all);
    void DropPaintImage();
    void StopThread();
    void UpdateLayout();
    void Place(bool force);
    void UpdateScrollRanges();
    void PositionPicBox();
    TPaintWish PaintWish() const;
    bool ChoosePicture();
    void StartPreparation(bool stretched, int displayBits);
    void AddStretchStage(TCreatePaintPGThread& t);
    std::unique_ptr<TPixelGraphic> NewPaintTarget(TCreatePaintPGThread& t, int d);
    void TakePaintImage(std::unique_ptr<TPixelGraphic> image);
    void PaintPicture(QPainter& painter, const QRect& clip);
    void PaintTiles(QPainter& painter, const QRect& clip, const TViewRect& r, const TPixelGraphic& g);
    void DrawClocks(QPainter& painter, const TViewRect& r);
    void PaintSelection(QPainter& painter);
    const QBrush& SelectionBrush(int index);
    void InvalidateSelectionArea(const TViewRect& sel);
    void Repaint();

    // mouse
    void PicBoxMouseDown(QMouseEvent* event);
    void PicBoxMouseMove(QMouseEvent* event);
    void PicBoxMouseUp(QMouseEvent* event);
    void DragTo(int boxX, int boxY);
    void AutoScrollTick();
    bool CanScrollPicture() const;
    int HandleAt(int boxX, int boxY) const;
    void UpdatePicBoxCursor(int boxX, int boxY);

    TPicBox* m_picBox;
    std::unique_ptr<TPixelGraphic> m_image;
    std::unique_ptr<TPixelGraphic> m_paint;
    std::unique_ptr<TCreatePaintPGThread> m_thread;
    std::uint64_t m_generation = 0;
    int m_pictureWidth = 0, m_pictureHeight = 0;
    long double m_effectiveZoom = 1.0L;
    bool m_arranging = false;
    bool m_paintInvalid = true;
    TViewSize m_preparedSize;
    int m_progressStage = 1, m_progressStageCount = 1, m_progressPercent = 0;
    TViewRect m_boxRect;  // content coordinates
    int m_clientW = 0, m_clientH = 0;  // visible area beside the scroll bars shown
    bool m_horzBar = false, m_vertBar = false;
    std::string m_fileName;

    TStretch m_stretch = sNeverKAR;
    bool m_center = false;
    long double m_zoomFactor = 1.0L;
    TTiling m_tiling = tNone;
    bool m_flipHorizontal = false, m_flipVertical = false;
    bool m_autoSize = false;
    int m_autoSizeMinWidth = 0, m_autoSizeMinHeight = 0;
    int m_autoSizeMaxWidth = 2147483647, m_autoSizeMaxHeight = 2147483647;
    bool m_rearrangeAlways = false;
    TBorderKind m_borderKind = bk3D;
    TStretchMode m_stretchMode = smFast;
    bool m_allow24BitStretch = false;
    bool m_dither = true;
    std::uint8_t m_ditherErrorLimit = 32;
    bool m_ditherErrorLimitAuto = true, m_ditherErrorLimitSoft = true, m_rgbWeighting = true;
    TPaletteIdent m_palette24 = pOptimized252Sys16, m_palette8 = pOptimized252Sys16;
    bool m_useThread = true, m_keepOldPaint = false, m_reduceOnLoad = false;
    int m_displayDepthOverride = 0;
    bool m_showHourGlass = true, m_progressClockVisible = true, m_progress5Clocks = true;
    QColor m_clockBkColor, m_clockLineColor, m_color, m_picBoxFrameColor;
    QCursor m_picBoxCursor;
    bool m_picBoxParentColor = false;
    bool m_showHint = false;
    bool m_parentShowHint = true;
    bool m_picBoxShowHint = false;
    bool m_picBoxParentShowHint = true;
    QMenu* m_picBoxPopupMenu = nullptr;
    long long m_picBoxTag = 0;
    TDragMode m_picBoxDragMode = dmManual;
    QCursor m_picBoxDragCursor{Qt::DragMoveCursor};
    TRGB m_backGroundColor = 0;
    TPGWarningAction m_readWarningAction = pgwaOKCancelBox, m_saveWarningAction = pgwaOKCancelBox;

    TActionMode m_actionMode = amMoveImage;
    bool m_selection = false;
    TViewRect m_sel{0, 0, 1, 1};  // picture pixels
    QColor m_selColor1{Qt::white}, m_selColor2{Qt::red};
    std::array<QBrush, 8> m_selBrushes;
    bool m_selBrushesMade = false;
    int m_animCounter = 0;
    QTimer* m_animTimer = nullptr;

    TDragKind m_drag = dkNone;
    int m_dragHandle = -1;
    int m_grabX = 0, m_grabY = 0;      // picture offset or anchor
    int m_lastBoxX = 0, m_lastBoxY = 0;  // last mouse point (picture box)
    QPoint m_lastGlobal;
    QTimer* m_scrollTimer = nullptr;
};

}  // namespace rastova
