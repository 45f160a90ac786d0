#include "view/PaintThread.h"

#include <QCoreApplication>

#include <array>
#include <chrono>

namespace rastova {

namespace {

long long TickMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TCreatePaintPGThread::TCreatePaintPGThread(bool working, bool threaded, QObject* window,
                                           std::uint64_t generation)
    : m_working(working), m_threaded(threaded), m_window(window), m_generation(generation)
{
}

TCreatePaintPGThread::~TCreatePaintPGThread() { Stop(); }

void TCreatePaintPGThread::Resume()
{
    if (m_thread.joinable() || m_ran)
        return;
    m_ran = true;
    m_thread = std::thread([this] { Execute(); });
}

void TCreatePaintPGThread::WaitFor()
{
    if (m_thread.joinable())
        m_thread.join();
}

void TCreatePaintPGThread::Stop()
{
    Terminate();
    WaitFor();
}

void TCreatePaintPGThread::Execute()
{
    if (m_working)
        DoTheWork();
}

void TCreatePaintPGThread::DoTheWork()
{
    m_lastPercent = 0;
    m_lastTick = TickMs();
    m_stage = 1;
    try {
        if (FPaintPixelGraphic && FPixelGraphic) {
            if (StretchFirst && !Terminated()) {
                FHelpPixelGraphic->CopyFrom(*FPixelGraphic);
                ++m_stage;
            }
            if (OptimalPalette && !Terminated()) {
                FPaintPixelGraphic->CreateOptimalPalette(*FHelpPixelGraphic, 252, true);
                ++m_stage;
            }
            if (!Terminated()) {
                if (OptimalPalette && FHelpPixelGraphic->BitCount() == bc8 &&
                    FHelpPixelGraphic->Width() == FPaintPixelGraphic->Width() &&
                    FHelpPixelGraphic->Height() == FPaintPixelGraphic->Height())
                    FinalCopyThroughTable();
                else
                    FPaintPixelGraphic->CopyFrom(*FHelpPixelGraphic);
                ++m_stage;
            }
            if (Terminated()) {
                FPaintPixelGraphic.reset();
            } else if (m_threaded) {
                QCoreApplication::postEvent(
                    m_window, new TPaintImageReadyEvent(std::move(FPaintPixelGraphic), m_generation));
            } else if (ReadyHandler) {
                ReadyHandler(std::move(FPaintPixelGraphic));
            }
        }
    } catch (const std::exception&) {
        // A failed preparation leaves the picture unprepared; the control
        // keeps drawing the empty frame rather than failing its paint.
        FPaintPixelGraphic.reset();
    }
    FOwnedHelpPixelGraphic.reset();
    FHelpPixelGraphic = nullptr;
}

// An 8-bit source of the paint image's size needs no per-pixel palette search:
// each of its palette entries is looked up once.
void TCreatePaintPGThread::FinalCopyThroughTable()
{
    TPixelGraphic& paint = *FPaintPixelGraphic;
    const TPixelGraphic& help = *FHelpPixelGraphic;
    std::array<std::uint8_t, 256> map{};
    const bool useCache = paint.UseColorCache();
    paint.SetUseColorCache(false);
    try {
        for (int i = 0; i < help.PaletteCount() && i < 256; ++i)
            map[i] = std::uint8_t(paint.NearestPaletteIndex(help.PaletteColors()[i]));
    } catch (...) {
        paint.SetUseColorCache(useCache);
        throw;
    }
    paint.SetUseColorCache(useCache);
    const int width = paint.Width(), height = paint.Height();
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = help.ScanLine(y);
        std::uint8_t* dst = paint.ScanLine(y);
        for (int x = 0; x < width; ++x)
            dst[x] = map[src[x]];
        bool abort = false;
        Progress(&paint, y, height - 1, abort);
        if (abort)
            break;
    }
}

void TCreatePaintPGThread::Progress(TObject*, int step, int max, bool& abort)
{
    const int percent = max == 0 ? 100 : int((long long)step * 100 / max);
    const long long tick = TickMs();
    if (percent != m_lastPercent && tick / 50 != m_lastTick / 50) {
        m_lastPercent = percent;
        m_lastTick = tick;
        if (m_threaded)
            QCoreApplication::postEvent(m_window, new TPaintProgressEvent(m_stage, percent, m_generation));
    }
    abort = Terminated();
}

}  // namespace rastova
