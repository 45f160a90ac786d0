// The picture control's paint and paint-image preparation on the 6000 x 4000 photo.
// CPU time counts every thread of the process (Qt may spread a large blit over
// its pool); on a busy machine it is the figure to read, not the wall time.
#include "BenchImages.h"
#include "view/PGImage.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <memory>

namespace rastova {
namespace {

std::unique_ptr<TPGImage> PhotoView(int depth, TStretch stretch, TStretchMode mode, bool allow24)
{
    auto view = std::make_unique<TPGImage>();
    view->SetBorderKind(bkNone);
    view->SetUseThread(false);  // the preparation runs inside the paint being timed
    view->SetDisplayDepthOverride(depth);
    view->SetStretch(stretch);
    view->SetStretchMode(mode);
    view->SetAllow24BitStretch(allow24);
    view->resize(1000, 800);
    auto photo = std::make_unique<TPixelGraphic>();
    photo->Assign(&bench::Photo());
    view->SetPixelGraphic(std::move(photo));
    return view;
}

// A paint of the visible 1000 x 800 area at 1:1 from the image itself.
void BM_PaintVisibleArea(benchmark::State& state)
{
    auto view = PhotoView(24, sNeverKAR, smFast, false);
    view->horizontalScrollBar()->setValue(2000);
    view->verticalScrollBar()->setValue(1500);
    QImage target(view->viewport()->size(), QImage::Format_RGB32);
    for (auto _ : state) {
        view->viewport()->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    if (view->PaintPixelGraphic())
        state.SkipWithError("a paint image was made");
}

// Preparing the paint image for the shrunk picture: each round the area changes
// by one pixel so that a new box-sized image is due; the paint itself is included.
void Prepare(benchmark::State& state, int depth, bool allow24)
{
    auto view = PhotoView(depth, sShrinkKAR, smPrecise, allow24);
    QImage target(1000, 800, QImage::Format_RGB32);
    int round = 0;
    for (auto _ : state) {
        view->resize(1000 - (round++ & 1), 800);
        view->viewport()->render(&target);
        if (!view->PaintPixelGraphic())
            state.SkipWithError("no paint image");
    }
}

void BM_PrepareShrinkPrecise24(benchmark::State& state) { Prepare(state, 24, false); }
void BM_PrepareShrinkPrecise8(benchmark::State& state) { Prepare(state, 8, false); }
void BM_PrepareShrinkPrecise8Through24(benchmark::State& state) { Prepare(state, 8, true); }

BENCHMARK(BM_PaintVisibleArea)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_PrepareShrinkPrecise24)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(6);
BENCHMARK(BM_PrepareShrinkPrecise8)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(4);
BENCHMARK(BM_PrepareShrinkPrecise8Through24)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(4);

}  // namespace
}  // namespace rastova

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
