// The picture control as a widget, on the offscreen platform: what it paints on
// each display depth, the worker, tiles and flips, clocks, the selection and the
// mouse.
#include "view/PGImage.h"

#include "image/PGExceptions.h"
#include "support/TestSupport.h"
#include "view/PGDraw.h"

#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>

namespace rastova {
namespace {

using test::FillRandom;
using test::SamePixels;

std::unique_ptr<TPixelGraphic> RandomImage(int w, int h, TBitCount bits, std::uint32_t seed)
{
    auto image = std::make_unique<TPixelGraphic>();
    FillRandom(*image, w, h, bits, seed);
    if (bits != bc24)
        image->DetectPaletteIdent();
    return image;
}

QRgb Rgb(TRGB c) { return qRgb(RedOf(c), GreenOf(c), BlueOf(c)); }

// A control of the given outer size without a border.
std::unique_ptr<TPGImage> MakeView(int w, int h)
{
    auto view = std::make_unique<TPGImage>();
    view->SetBorderKind(bkNone);
    view->resize(w, h);
    return view;
}

// The control's client area as painted.
QImage Grab(TPGImage& view) { return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// ---- which picture is drawn, and how the paint image is made ---------------------------------------

struct TPathCase {
    const char* what;
    int depth;
    TBitCount bits;
    TStretchMode mode;
    bool allow24BitStretch;
    bool expectPaint;
    TBitCount paintBits;
    int stageCount;
    bool boxSized;  // the paint image has the picture box's size
    TPaletteIdent palette = pOptimized252Sys16;  // wanted on an 8-bit display
};

const TPathCase kPathCases[] = {
    {"24 display, 8-bit picture, fast: drawn directly", 24, bc8, smFast, false, false, bc24, 1, false},
    {"24 display, 24-bit picture, fast: drawn directly", 24, bc24, smFast, false, false, bc24, 1, false},
    {"24 display, precise shrink: box-sized copy", 24, bc24, smPrecise, false, true, bc24, 1, true},
    {"8 display, 24-bit picture: optimal palette", 8, bc24, smFast, false, true, bc8, 2, false},
    {"8 display, 8-bit picture: optimal palette", 8, bc8, smFast, false, true, bc8, 2, false},
    {"8 display, stretched through 24 bits", 8, bc24, smPrecise, true, true, bc8, 3, true},
    {"4 display, 24-bit picture: system colours", 4, bc24, smFast, false, true, bc4, 1, false},
    {"4 display, 8-bit picture: system colours", 4, bc8, smFast, false, true, bc4, 1, false},
    {"8 display, 24-bit picture, fixed 252 palette", 8, bc24, smFast, false, true, bc8, 1, false, pSpecial252},
    {"8 display, 8-bit picture, own palette: drawn directly", 8, bc8, smFast, false, false, bc8, 1, false, pSource},
};

class PaintPathTest : public testing::TestWithParam<TPathCase> {};

TEST_P(PaintPathTest, PaintImageMatchesADirectConversion)
{
    const TPathCase& c = GetParam();
    auto view = MakeView(120, 100);
    view->SetUseThread(false);
    view->SetDisplayDepthOverride(c.depth);
    view->SetStretch(sShrinkKAR);
    view->SetStretchMode(c.mode);
    view->SetAllow24BitStretch(c.allow24BitStretch);
    if (c.bits == bc24)
        view->SetPalette8BitSys24BitGraphic(c.palette);
    else
        view->SetPalette8BitSys8BitGraphic(c.palette);
    view->SetPixelGraphic(RandomImage(200, 150, c.bits, 7));
    const QImage shot = Grab(*view);
    const TPixelGraphic& image = *view->PixelGraphic();
    const TPixelGraphic* paint = view->PaintPixelGraphic();
    ASSERT_EQ(paint != nullptr, c.expectPaint) << c.what;
    const TViewRect box = view->PicBoxContentRect();
    EXPECT_EQ(box, (TViewRect{0, 0, 120, 90})) << c.what;
    if (!c.expectPaint) {
        // Sampled pixel of the picture on screen is the picture's own colour.
        EXPECT_EQ(shot.pixel(0, 0), Rgb(image.GetColor(0, 0)));
        return;
    }
    EXPECT_EQ(view->ProgressStageCount(), c.stageCount) << c.what;
    EXPECT_EQ(paint->BitCount(), c.paintBits) << c.what;
    const int w = c.boxSized ? box.Width() : image.Width(), h = c.boxSized ? box.Height() : image.Height();
    EXPECT_EQ(paint->Width(), w);
    EXPECT_EQ(paint->Height(), h);

    // The same conversion done by hand.
    TPixelGraphic source;
    source.Assign(&image);
    if (c.allow24BitStretch) {
        TPixelGraphic help;
        help.SetSize(w, h, bc24);
        help.SetStretchMode(c.mode);
        help.CopyFrom(image);
        source.Assign(&help);
    }
    TPixelGraphic expected;
    const bool optimal = c.paintBits == bc8 && c.palette == pOptimized252Sys16;
    const bool throughTable = optimal && source.BitCount() == bc8;
    if (c.paintBits == bc4) {
        expected.SetBitCount(bc4);
        expected.SetPaletteIdent(pSys16);
    } else if (optimal) {
        expected.SetBitCount(bc8);
        expected.CreateOptimalPalette(source, 252, true);
        EXPECT_EQ(paint->PaletteCount(), expected.PaletteCount());
    } else if (c.paintBits == bc8) {
        expected.SetBitCount(bc8);
        expected.SetPaletteIdent(c.palette);
    }
    expected.SetSize(w, h, c.paintBits);
    expected.SetStretchMode(c.mode);
    if (throughTable) {  // equal-size palette source: nearest colour per entry, no dithering
        expected.SetUseColorCache(false);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                expected.SetPixel(x, y, expected.NearestPaletteIndex(source.GetColor(x, y)));
    } else {
        expected.CopyFrom(source);
    }
    std::string why;
    EXPECT_TRUE(SamePixels(*paint, expected, &why)) << c.what << ": " << why;
    // And that is what the screen shows (palette entries are exact colours).
    EXPECT_EQ(shot.pixel(0, 0), Rgb(paint->GetColor(0, 0))) << c.what;
    EXPECT_EQ(shot.pixel(119, 89), Rgb(paint->GetColor(w - 1, h - 1))) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Depths, PaintPathTest, testing::ValuesIn(kPathCases));

TEST(PaintPath, ResizingAPreciseViewPreparesAgain)
{
    auto view = MakeView(120, 100);
    view->SetUseThread(false);
    view->SetDisplayDepthOverride(24);
    view->SetStretch(sShrinkKAR);
    view->SetStretchMode(smPrecise);
    view->SetPixelGraphic(RandomImage(200, 150, bc24, 3));
    Grab(*view);
    ASSERT_NE(view->PaintPixelGraphic(), nullptr);
    EXPECT_EQ(view->PaintPixelGraphic()->Width(), 120);
    view->resize(60, 100);
    Grab(*view);
    ASSERT_NE(view->PaintPixelGraphic(), nullptr);
    EXPECT_EQ(view->PaintPixelGraphic()->Width(), 60);
    EXPECT_EQ(view->PaintPixelGraphic()->Height(), 45);
}

TEST(PaintPath, ReduceOnLoadReplacesThePictureOnce)
{
    for (int depth : {4, 8, 24}) {
        for (bool threaded : {false, true}) {
            auto view = MakeView(120, 100);
            view->SetUseThread(threaded);
            view->SetReduceOnLoad(true);
            view->SetDisplayDepthOverride(depth);
            view->SetStretch(sShrinkKAR);
            view->SetStretchMode(smPrecise);
            view->SetPixelGraphic(RandomImage(200, 150, bc24, 47));
            const QImage first = Grab(*view);
            view->WaitForPaintImage();
            const TPixelGraphic* reduced = view->PixelGraphic();
            ASSERT_NE(reduced, nullptr);
            EXPECT_EQ(reduced->BitCountNum(), depth) << depth;
            EXPECT_EQ(reduced->Width(), 120) << depth;
            EXPECT_EQ(view->PaintPixelGraphic(), nullptr);
            if (!threaded) {  // the paint that made it already shows it
                EXPECT_EQ(first.pixel(5, 5), Rgb(reduced->GetColor(5, 5))) << depth;
            }
            Grab(*view);  // the reduced picture is shown as it is
            view->WaitForPaintImage();
            EXPECT_EQ(view->PixelGraphic(), reduced) << depth;
            EXPECT_EQ(view->PaintPixelGraphic(), nullptr);
        }
    }
}

// ---- the worker ------------------------------------------------------------------------------------

TEST(PaintThread, ThreadedPreparationArrivesThroughTheEventLoop)
{
    auto view = MakeView(200, 160);
    view->SetDisplayDepthOverride(8);
    view->SetPixelGraphic(RandomImage(300, 200, bc24, 5));
    Grab(*view);  // starts the worker
    EXPECT_EQ(view->PaintPixelGraphic(), nullptr);
    view->WaitForPaintImage();
    ASSERT_NE(view->PaintPixelGraphic(), nullptr);
    EXPECT_EQ(view->PaintPixelGraphic()->BitCount(), bc8);
    EXPECT_EQ(view->PaintPixelGraphic()->Width(), 300);
}

TEST(PaintThread, LoadingWhilePreparingDiscardsTheResult)
{
    test::TTempDir dir;
    TPixelGraphic small;
    FillRandom(small, 40, 30, bc24, 9);
    const std::string file = dir.File("small.bmp");
    small.SaveToFile(file);

    auto view = MakeView(300, 200);
    view->SetDisplayDepthOverride(8);
    view->SetPixelGraphic(RandomImage(1500, 1000, bc24, 11));
    for (int round = 0; round < 3; ++round) {
        Grab(*view);  // a preparation of the big picture runs
        view->SetDisplayDepthOverride(24);
        view->LoadImageFile(file, 0);  // stops it
        QApplication::processEvents();
        QApplication::sendPostedEvents();
        // The 24-bit picture on a 24-bit display needs no paint image; whatever
        // the stopped worker made is gone.
        EXPECT_EQ(view->PaintPixelGraphic(), nullptr);
        Grab(*view);
        EXPECT_EQ(view->PaintPixelGraphic(), nullptr);
        EXPECT_EQ(view->PixelGraphic()->Width(), 40);
        view->SetDisplayDepthOverride(8);
        view->SetPixelGraphic(RandomImage(1500, 1000, bc24, 11 + round));
    }
}

TEST(PaintThread, AResultPostedBeforeTheStopIsDiscarded)
{
    auto view = MakeView(100, 80);
    view->SetDisplayDepthOverride(8);
    view->SetPixelGraphic(RandomImage(40, 30, bc24, 59));
    Grab(*view);
    QThread::msleep(300);  // the small preparation is done and its result queued
    view->SetDisplayDepthOverride(24);
    view->SetPixelGraphic(RandomImage(50, 20, bc24, 61));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(view->PaintPixelGraphic(), nullptr);
}

// Collects what a worker posts, in arrival order.
class TPostBox : public QObject {
public:
    std::vector<std::pair<int, int>> progress;  // stage, percent
    int ready = 0;
    bool event(QEvent* e) override
    {
        if (e->type() == TPaintProgressEvent::kType) {
            auto* p = static_cast<TPaintProgressEvent*>(e);
            progress.emplace_back(p->Stage(), p->Percent());
            return true;
        }
        if (e->type() == TPaintImageReadyEvent::kType) {
            ++ready;
            return true;
        }
        return QObject::event(e);
    }
};

TEST(PaintThread, ProgressIsThrottledAndAbortFollowsTermination)
{
    TPostBox box;
    TCreatePaintPGThread worker(true, true, &box, 1);
    worker.DoTheWork();  // no images: nothing is posted, but the throttle is reset
    bool abort = true;
    for (int step = 1; step <= 100; ++step)
        worker.Progress(nullptr, step, 100, abort);
    EXPECT_FALSE(abort);
    QCoreApplication::sendPostedEvents(&box);
    // A tight loop spans at most two 50 ms slots.
    EXPECT_LE(box.progress.size(), 2u);
    const std::size_t before = box.progress.size();
    QThread::msleep(60);
    worker.Progress(nullptr, 100, 100, abort);  // same percent as the last report: nothing
    QCoreApplication::sendPostedEvents(&box);
    if (before > 0 && box.progress.back().second == 100) {
        EXPECT_EQ(box.progress.size(), before);
    }
    QThread::msleep(60);
    worker.Progress(nullptr, 0, 0, abort);  // Max 0 counts as 100 percent
    worker.Progress(nullptr, 1, 4, abort);
    QCoreApplication::sendPostedEvents(&box);
    ASSERT_FALSE(box.progress.empty());
    EXPECT_EQ(box.progress.back(), std::make_pair(1, 25));
    worker.Terminate();
    worker.Progress(nullptr, 2, 4, abort);
    EXPECT_TRUE(abort);
    EXPECT_EQ(box.ready, 0);
}

TEST(PaintThread, ATerminatedWorkerPostsNoImage)
{
    for (bool terminate : {false, true}) {
        TPostBox box;
        TPixelGraphic source;
        FillRandom(source, 64, 48, bc24, 53);
        TCreatePaintPGThread worker(true, true, &box, 1);
        worker.FPixelGraphic = &source;
        worker.FHelpPixelGraphic = &source;
        worker.FPaintPixelGraphic = std::make_unique<TPixelGraphic>();
        worker.FPaintPixelGraphic->SetSize(64, 48, bc8);
        worker.OptimalPalette = true;
        if (terminate)
            worker.Terminate();
        worker.Resume();
        worker.WaitFor();
        QCoreApplication::sendPostedEvents(&box);
        EXPECT_EQ(box.ready, terminate ? 0 : 1);
        EXPECT_EQ(worker.FPaintPixelGraphic, nullptr);  // handed over or freed
        EXPECT_EQ(worker.Stage(), terminate ? 1 : 3);
    }
}

// ---- tiles and flips ---------------------------------------------------------------------------------

// Pixel the screen must show at client (x, y) for a picture box at (left, top).
QRgb ExpectedTilePixel(const TPixelGraphic& g, int x, int y, int left, int top, TTiling tiling, bool flipH,
                       bool flipV)
{
    const int w = g.Width(), h = g.Height();
    const int i = int(std::floor(double(x - left) / w)), j = int(std::floor(double(y - top) / h));
    int px = x - left - i * w, py = y - top - j * h;
    const bool oddI = std::abs(i) % 2 == 1, oddJ = std::abs(j) % 2 == 1;
    const bool mirrorX = flipH != (oddI && (tiling == tMirrorHorizontal || tiling == tMirror));
    const bool mirrorY = flipV != (oddJ && (tiling == tMirrorVertical || tiling == tMirror));
    if (mirrorX)
        px = w - 1 - px;
    if (mirrorY)
        py = h - 1 - py;
    return Rgb(g.GetColor(px, py));
}

TEST(Tiles, EveryClientPixelComesFromTheRightCell)
{
    struct TCase {
        TTiling tiling;
        bool flipH, flipV;
    } cases[] = {{tNone, true, false},       {tNone, false, true},        {tRepeat, false, false},
                 {tMirrorHorizontal, false, false}, {tMirrorVertical, true, false}, {tMirror, false, false},
                 {tMirror, true, true}};
    auto view = MakeView(67, 45);
    view->SetCenter(true);
    view->SetColor(QColor(1, 2, 3));
    view->SetPixelGraphic(RandomImage(7, 5, bc24, 13));
    const TViewRect box = view->PicBoxContentRect();
    ASSERT_EQ(box, (TViewRect{30, 20, 37, 25}));
    const TPixelGraphic& g = *view->PixelGraphic();
    for (const TCase& c : cases) {
        view->SetTiling(c.tiling);
        view->SetFlipHorizontal(c.flipH);
        view->SetFlipVertical(c.flipV);
        const QImage shot = Grab(*view);
        int wrong = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const bool inBox = box.Contains(x, y);
                const QRgb want = c.tiling == tNone && !inBox
                                      ? qRgb(1, 2, 3)
                                      : ExpectedTilePixel(g, x, y, box.left, box.top, c.tiling, c.flipH, c.flipV);
                wrong += shot.pixel(x, y) != want;
            }
        EXPECT_EQ(wrong, 0) << "tiling " << c.tiling << " flips " << c.flipH << c.flipV;
    }
}

TEST(Tiles, ScaledDrawFollowsNearestPixels)
{
    // The adapter on its own: 4-bit and 1-bit pictures, enlarged and mirrored.
    for (TBitCount bits : {bc1, bc4, bc8, bc24}) {
        auto g = RandomImage(5, 3, bits, 17);
        QImage target(15, 9, QImage::Format_RGB32);
        target.fill(Qt::black);
        QPainter painter(&target);
        DrawPixelGraphic(painter, {14, 8, -1, -1}, *g);  // both edges exchanged
        painter.end();
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 15; ++x)
                ASSERT_EQ(target.pixel(x, y), Rgb(g->GetColor(4 - x / 3, 2 - y / 3)))
                    << "bits " << int(bits) << " at " << x << "," << y;
    }
}

// ---- clocks, frame and selection ----------------------------------------------------------------------

TEST(Clocks, FrameAndClocksWhileThePaintImageIsMade)
{
    const QColor frame(10, 20, 30), fill(200, 210, 220), line(0, 0, 255), face(255, 255, 0);
    for (int size : {60, 101, 140}) {
        auto view = MakeView(size, size);
        view->SetDisplayDepthOverride(24);
        view->SetStretch(sAlways);
        view->SetStretchMode(smPrecise);  // box-sized paint image: a preparation is needed
        view->SetPicBoxFrameColor(frame);
        view->SetPicBoxColor(fill);
        view->SetProgressClockLineColor(line);
        view->SetProgressClockBkColor(face);
        view->SetPixelGraphic(RandomImage(500, 400, bc24, 19));
        // The worker's result waits in the event queue, so this paint shows the frame.
        const QImage shot = Grab(*view);
        const TViewRect r{0, 0, size, size};
        EXPECT_EQ(shot.pixel(0, 0), frame.rgb());
        EXPECT_EQ(shot.pixel(size - 1, size - 1), frame.rgb());
        std::array<std::array<int, 2>, 5> at{};
        const int clocks = ProgressClockPositions(r, true, at);
        EXPECT_EQ(clocks, size >= 101 ? 5 : 1);
        for (int i = 0; i < clocks; ++i) {
            const TClockHands hands = ClockHandsAt(at[i][0], at[i][1], 1, 0);
            EXPECT_EQ(shot.pixel(hands.hourX, hands.hourY), line.rgb()) << "clock " << i;
            EXPECT_EQ(shot.pixel(hands.centerX, hands.centerY + 4), face.rgb()) << "clock " << i;
        }
        if (clocks == 1) {  // no corner clock
            EXPECT_EQ(shot.pixel(5 + 7, 5 + 1), fill.rgb());
        }
        view->WaitForPaintImage();
    }
}

TEST(Selection, OutlineBrushStepsWithTheCounterAndHandlesFollowTheMode)
{
    const QColor c1(255, 255, 255), c2(255, 0, 0);
    auto view = MakeView(200, 200);
    view->SetPixelGraphic(RandomImage(150, 120, bc24, 23));
    view->SetSelectionColor1(c1);
    view->SetSelectionColor2(c2);
    view->SetSelectionRect(20, 30, 50, 40);
    view->SetSelection(true);
    for (TActionMode mode : {amMoveImage, amMoveResizeCreateSelection}) {
        view->SetActionMode(mode);
        for (int tick = 0; tick < 3; ++tick) {
            const QImage shot = Grab(*view);
            const TViewRect s = view->SelectionBoxRect();
            const int brush = (view->SelectionAnimationCounter() + (s.left - 1) + (s.top - 1)) % 8;
            auto expect = [&](int x, int y) { return SelectionBrushSecondColor(brush, x & 7, y & 7) ? c2.rgb() : c1.rgb(); };
            int wrong = 0;
            for (int x = s.left - 1; x <= s.right; ++x)
                wrong += (shot.pixel(x, s.top - 1) != expect(x, s.top - 1)) + (shot.pixel(x, s.bottom) != expect(x, s.bottom));
            for (int y = s.top - 1; y <= s.bottom; ++y)
                wrong += (shot.pixel(s.left - 1, y) != expect(s.left - 1, y)) + (shot.pixel(s.right, y) != expect(s.right, y));
            EXPECT_EQ(wrong, 0) << "mode " << mode << " tick " << tick;
            // Handles are framed only while they can be dragged.
            const auto handles = SelectionHandles(s);
            for (const TViewRect& h : handles) {
                const QRgb corner = shot.pixel(h.left, h.top);
                if (mode == amMoveResizeCreateSelection)
                    EXPECT_EQ(corner, expect(h.left, h.top));
                else
                    EXPECT_EQ(corner, Rgb(view->PixelGraphic()->GetColor(h.left, h.top)));
            }
            const int before = view->SelectionAnimationCounter();
            view->AdvanceSelectionAnimation();
            EXPECT_EQ(view->SelectionAnimationCounter(), (before + 1) % 8);
        }
    }
}

// ---- properties and signals ------------------------------------------------------------------------

TEST(Properties, WritersRunWhatTheyShould)
{
    auto view = MakeView(400, 400);
    int zoomChanges = 0, layoutUpdates = 0;
    QObject::connect(view.get(), &TPGImage::OnZoomFactorChange, [&] { ++zoomChanges; });
    QObject::connect(view.get(), &TPGImage::OnPixelGraphicChange, [&] { ++layoutUpdates; });
    view->SetPixelGraphic(RandomImage(300, 200, bc24, 29));
    EXPECT_EQ(layoutUpdates, 1);
    view->SetStretch(sAlways);
    EXPECT_EQ(view->EffectiveZoom(), -1.0L);
    EXPECT_EQ(zoomChanges, 1);
    view->SetStretch(sAlways);  // unchanged: nothing
    view->SetTiling(tRepeat);   // repaint only
    view->SetFlipVertical(true);
    EXPECT_EQ(zoomChanges, 1);
    EXPECT_EQ(layoutUpdates, 1);
    view->SetStretchMode(smMedium);  // layout update
    EXPECT_EQ(layoutUpdates, 2);
    view->SetAutoSizeMaxWidth(100);  // limits only count with AutoSize
    EXPECT_EQ(layoutUpdates, 2);
    view->SetAutoSize(false);  // always updates, even unchanged
    EXPECT_EQ(layoutUpdates, 3);

    view->SetPicBoxParentColor(true);  // the box follows the control's colour
    view->SetColor(QColor(9, 8, 7));
    EXPECT_EQ(view->PicBoxColor(), QColor(9, 8, 7));
    view->SetPicBoxColor(QColor(1, 1, 1));  // its own colour ends that
    EXPECT_FALSE(view->PicBoxParentColor());
    view->SetColor(QColor(2, 2, 2));
    EXPECT_EQ(view->PicBoxColor(), QColor(1, 1, 1));
}

TEST(Properties, HintsFollowTheShowHintChain)
{
    // control ShowHint written?, its value, box ShowHint written?, its value -> box shows hints
    const struct {
        bool setControl, control, setBox, box, shown;
    } cases[] = {
        {false, false, false, false, true},  // both take it from above: Qt windows show tips
        {true, false, false, false, false},  // the box follows a control that hides them
        {true, true, false, false, true},
        {true, true, true, false, false},    // the box's own value ends following
        {false, false, true, true, true},
        {true, false, true, true, true},
    };
    for (const auto& c : cases) {
        auto view = MakeView(100, 100);
        view->SetPicBoxHint("hint");
        if (c.setControl)
            view->SetShowHint(c.control);
        if (c.setBox)
            view->SetPicBoxShowHint(c.box);
        EXPECT_EQ(view->PicBoxShowHint(), c.shown);
        QHelpEvent help(QEvent::ToolTip, QPoint(1, 1), view->PicBox()->mapToGlobal(QPoint(1, 1)));
        QCoreApplication::sendEvent(view->PicBox(), &help);
        EXPECT_EQ(help.isAccepted(), c.shown) << c.setControl << c.control << c.setBox << c.box;
    }
}

TEST(Properties, AutoSizeCenterAndConversions)
{
    auto view = MakeView(100, 100);
    int autoW = -1, autoH = -1;
    QObject::connect(view.get(), &TPGImage::OnNewAutoSize, [&](TPGImage*, int w, int h) {
        autoW = w;
        autoH = h;
    });
    view->SetAutoSizeMaxWidth(200);
    view->SetPixelGraphic(RandomImage(300, 100, bc24, 31));
    EXPECT_EQ(autoW, 200);
    EXPECT_EQ(autoH, 100 + view->HorzScrollBarHeight());
    EXPECT_EQ(view->size(), QSize(100, 100));  // reported, not applied
    view->SetAutoSize(true);
    EXPECT_EQ(view->size(), QSize(200, 100 + view->HorzScrollBarHeight()));

    // Centred picture wider than the area: the scroll position starts in the middle.
    auto wide = MakeView(400, 400);
    wide->SetCenter(true);
    wide->SetPixelGraphic(RandomImage(600, 200, bc24, 37));
    EXPECT_EQ(wide->horizontalScrollBar()->value(), (600 - 400) / 2);  // no vertical bar takes width
    EXPECT_EQ(wide->PicBoxContentRect().top, (400 - wide->HorzScrollBarHeight() - 200) / 2);

    wide->SetStretch(sAlways);
    EXPECT_EQ(wide->PicBoxToPictureX(200), 300);
    EXPECT_EQ(wide->PictureToPicBoxY(100), 200);
}

TEST(Properties, SaveWithoutAnImageRaises)
{
    auto view = MakeView(100, 100);
    EXPECT_THROW(view->Save("/nonexistent/x.bmp"), EPGEmpty);
    EXPECT_THROW(view->LoadImageFile("/nonexistent/x.bmp", 0), EPixelGraphic);
    EXPECT_EQ(view->FileName(), "");
    EXPECT_EQ(view->PixelGraphic(), nullptr);
}

// ---- mouse ------------------------------------------------------------------------------------------

void Mouse(QWidget* w, QEvent::Type type, int x, int y, Qt::MouseButtons buttons)
{
    const QPointF local(x, y);
    QMouseEvent event(type, local, w->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void Drag(TPGImage& view, int x0, int y0, int x1, int y1)
{
    QWidget* box = view.PicBox();
    Mouse(box, QEvent::MouseButtonPress, x0, y0, Qt::LeftButton);
    Mouse(box, QEvent::MouseMove, x1, y1, Qt::LeftButton);
    Mouse(box, QEvent::MouseButtonRelease, x1, y1, Qt::NoButton);
}

TEST(Mouse, SelectionDragsMoveCreateAndResize)
{
    struct TCase {
        const char* what;
        TActionMode mode;
        bool selection;
        int x0, y0, x1, y1;
        TViewRect want;  // left, top, right, bottom in picture pixels
    } cases[] = {
        {"move", amMoveSelection, true, 60, 60, 100, 70, {90, 60, 130, 90}},
        {"move clamps up-left", amMoveSelection, true, 60, 60, -100, -100, {-39, -29, 1, 1}},
        {"move clamps down-right", amMoveSelection, true, 60, 60, 400, 400, {199, 149, 239, 179}},
        {"create", amCreateSelection, false, 20, 30, 10, 50, {10, 30, 21, 51}},
        {"create over a selection in create mode", amCreateSelection, true, 60, 60, 61, 61, {60, 60, 62, 62}},
        {"resize top-left", amMoveResizeCreateSelection, true, 44, 44, 34, 39, {40, 45, 90, 80}},
        {"resize top", amMoveResizeCreateSelection, true, 70, 44, 60, 39, {50, 45, 90, 80}},
        {"resize top-right", amMoveResizeCreateSelection, true, 95, 44, 85, 39, {50, 45, 80, 80}},
        {"resize left", amMoveResizeCreateSelection, true, 44, 65, 34, 60, {40, 50, 90, 80}},
        {"resize right", amMoveResizeCreateSelection, true, 95, 65, 85, 60, {50, 50, 80, 80}},
        {"resize bottom-left", amMoveResizeCreateSelection, true, 44, 85, 34, 80, {40, 50, 90, 75}},
        {"resize bottom", amMoveResizeCreateSelection, true, 70, 85, 60, 80, {50, 50, 90, 75}},
        {"resize bottom-right", amMoveResizeCreateSelection, true, 95, 85, 85, 80, {50, 50, 80, 75}},
        {"resize top-left past the far corner", amMoveResizeCreateSelection, true, 44, 44, 244, 244, {89, 79, 90, 80}},
        {"resize bottom-right past the near corner", amMoveResizeCreateSelection, true, 95, 85, -100, -100,
         {50, 50, 51, 51}},
        {"create where no handle is", amMoveResizeCreateSelection, true, 150, 120, 160, 125, {150, 120, 161, 126}},
        {"nothing in move-image mode on a small picture", amMoveImage, true, 60, 60, 100, 100, {50, 50, 90, 80}},
    };
    for (const TCase& c : cases) {
        auto view = MakeView(300, 300);
        view->SetPixelGraphic(RandomImage(200, 150, bc24, 41));
        view->SetActionMode(c.mode);
        view->SetSelectionRect(50, 50, 40, 30);
        view->SetSelection(c.selection);
        int made = 0;
        QObject::connect(view.get(), &TPGImage::OnSelectionMade, [&] { ++made; });
        Drag(*view, c.x0, c.y0, c.x1, c.y1);
        const TViewRect got{view->SelectionLeft(), view->SelectionTop(),
                            view->SelectionLeft() + view->SelectionWidth(), view->SelectionTop() + view->SelectionHeight()};
        EXPECT_EQ(got, c.want) << c.what;
        EXPECT_EQ(made, c.mode == amMoveImage ? 0 : 1) << c.what;
        if (c.mode != amMoveImage) {
            EXPECT_TRUE(view->Selection()) << c.what;
        }
    }
}

TEST(Mouse, ImageDragScrolls)
{
    auto view = MakeView(200, 150);
    view->SetPixelGraphic(RandomImage(600, 500, bc24, 43));
    QScrollBar* h = view->horizontalScrollBar();
    QScrollBar* v = view->verticalScrollBar();
    h->setValue(100);
    v->setValue(100);
    QCursor offered;
    QObject::connect(view.get(), &TPGImage::PicBoxOnSetCursor, [&](TPGImage*, QCursor& c) { offered = c; });
    QWidget* box = view->PicBox();
    Mouse(box, QEvent::MouseButtonPress, 50, 50, Qt::LeftButton);
    EXPECT_EQ(offered.hotSpot(), QPoint(16, 12));
    Mouse(box, QEvent::MouseMove, 20, 30, Qt::LeftButton);
    EXPECT_EQ(h->value(), 130);
    EXPECT_EQ(v->value(), 120);
    Mouse(box, QEvent::MouseButtonRelease, 20, 30, Qt::NoButton);
}

TEST(Mouse, SelectionDragScrollsWhileOutsideTheVisibleArea)
{
    auto view = MakeView(150, 120);
    view->show();
    view->SetPixelGraphic(RandomImage(400, 300, bc24, 73));
    view->SetActionMode(amCreateSelection);
    QWidget* box = view->PicBox();
    Mouse(box, QEvent::MouseButtonPress, 10, 10, Qt::LeftButton);
    QCursor::setPos(view->viewport()->mapToGlobal(QPoint(view->viewport()->width() + 20, 30)));
    if (view->viewport()->mapFromGlobal(QCursor::pos()).x() <= view->viewport()->width())
        GTEST_SKIP() << "the platform cannot place the pointer";
    for (int i = 0; i < 20 && view->horizontalScrollBar()->value() == 0; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
    const int scrolled = view->horizontalScrollBar()->value();
    EXPECT_GT(scrolled, 0);
    EXPECT_EQ(view->verticalScrollBar()->value(), 0);
    // The selection followed the pointer into the newly shown part.
    EXPECT_GT(view->SelectionLeft() + view->SelectionWidth(), view->viewport()->width());
    Mouse(box, QEvent::MouseButtonRelease, 10, 10, Qt::NoButton);
    QThread::msleep(60);
    QApplication::processEvents();
    EXPECT_EQ(view->horizontalScrollBar()->value(), scrolled);  // the timer stopped with the release
}

TEST(Mouse, CursorRulesOverThePicture)
{
    // Selection (50, 50, 40, 30) on a 1:1 picture; -1: a standard shape.
    struct TCase {
        const char* what;
        TActionMode mode;
        bool scrollable;
        int x, y;
        int custom;  // TViewCursor, or -1
        Qt::CursorShape shape;
    } cases[] = {
        {"scrollable picture", amMoveImage, true, 10, 10, vcScroll, Qt::BitmapCursor},
        {"picture that fits", amMoveImage, false, 10, 10, -1, Qt::ArrowCursor},
        {"create mode", amCreateSelection, false, 10, 10, vcSelection, Qt::BitmapCursor},
        {"create mode over the selection", amCreateSelection, false, 60, 60, vcSelection, Qt::BitmapCursor},
        {"over the selection", amMoveResizeCreateSelection, false, 60, 60, vcMove, Qt::BitmapCursor},
        {"move beats scroll", amMoveSelectionMoveImage, true, 60, 60, vcMove, Qt::BitmapCursor},
        {"scroll outside the selection", amMoveSelectionMoveImage, true, 10, 10, vcScroll, Qt::BitmapCursor},
        {"move mode outside", amMoveSelection, false, 10, 10, -1, Qt::ArrowCursor},
        {"top-left handle", amMoveResizeCreateSelection, false, 44, 44, -1, Qt::SizeFDiagCursor},
        {"top handle", amMoveResizeCreateSelection, false, 70, 44, -1, Qt::SizeVerCursor},
        {"top-right handle", amMoveResizeCreateSelection, false, 95, 44, -1, Qt::SizeBDiagCursor},
        {"right handle", amMoveResizeCreateSelection, false, 95, 65, -1, Qt::SizeHorCursor},
        {"bottom-left handle", amMoveResizeCreateSelection, false, 44, 85, -1, Qt::SizeBDiagCursor},
        {"handles only in their mode", amMoveSelection, false, 44, 44, -1, Qt::ArrowCursor},
    };
    for (const TCase& c : cases) {
        auto view = MakeView(c.scrollable ? 150 : 300, c.scrollable ? 120 : 300);
        view->SetPixelGraphic(RandomImage(200, 150, bc24, 71));
        view->SetActionMode(c.mode);
        view->SetSelectionRect(50, 50, 40, 30);
        view->SetSelection(true);
        Mouse(view->PicBox(), QEvent::MouseMove, c.x, c.y, Qt::NoButton);
        const QCursor got = view->PicBox()->cursor();
        EXPECT_EQ(got.shape(), c.shape) << c.what;
        if (c.custom >= 0) {
            EXPECT_EQ(got.pixmap().cacheKey(), ViewCursor(TViewCursor(c.custom)).pixmap().cacheKey()) << c.what;
        }
    }
}

TEST(Mouse, DropsAreOfferedToTheHandlers)
{
    auto view = MakeView(200, 200);
    view->SetPixelGraphic(RandomImage(100, 100, bc24, 67));
    QObject::connect(view.get(), &TPGImage::PicBoxOnDragOver,
                     [](TPGImage*, QObject*, int x, int, bool& accept) { accept = x >= 50; });
    QPoint dropped(-1, -1);
    QObject::connect(view.get(), &TPGImage::PicBoxOnDragDrop,
                     [&](TPGImage*, QObject*, int x, int y) { dropped = QPoint(x, y); });
    // Delivered straight to the box: the application routes drag events only
    // while a platform drag is running.
    QObject* box = view->PicBox();
    QMimeData data;
    for (int x : {20, 70}) {
        QDragMoveEvent move(QPoint(x, 30), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        box->event(&move);
        EXPECT_EQ(move.isAccepted(), x >= 50) << x;
    }
    QDropEvent drop(QPointF(70, 30), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    box->event(&drop);
    EXPECT_EQ(dropped, QPoint(70, 30));
}

TEST(Mouse, CursorsAreDistinct32By32WithTheirHotSpots)
{
    const QPoint hot[4] = {{16, 12}, {16, 12}, {15, 15}, {16, 15}};
    QImage seen[4];
    for (int i = 0; i < 4; ++i) {
        const QCursor& c = ViewCursor(TViewCursor(i));
        EXPECT_EQ(c.hotSpot(), hot[i]);
        for (qreal ratio : {1.0, 2.0}) {
            const QPixmap p = ViewCursorPixmap(TViewCursor(i), ratio);
            EXPECT_EQ(p.deviceIndependentSize().toSize(), QSize(32, 32));
            EXPECT_EQ(p.width(), int(32 * ratio));
        }
        seen[i] = ViewCursorPixmap(TViewCursor(i), 1.0).toImage();
        for (int j = 0; j < i; ++j)
            EXPECT_NE(seen[i], seen[j]) << i << " and " << j;
    }
}

}  // namespace
}  // namespace rastova
