// The worker that makes the display-adapted paint image of the picture control.
#pragma once

#include "image/PGraphic.h"

#include <QEvent>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class QObject;

namespace rastova {

// Posted from the worker to the control; delivered on the GUI thread in the
// order sent. The generation tells results of a stopped preparation apart.
class TPaintImageReadyEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = QEvent::Type(QEvent::User + 0);
    TPaintImageReadyEvent(std::unique_ptr<TPixelGraphic> image, std::uint64_t generation)
        : QEvent(kType), m_image(std::move(image)), m_generation(generation) {}
    std::unique_ptr<TPixelGraphic> TakeImage() { return std::move(m_image); }
    std::uint64_t Generation() const { return m_generation; }

private:
    std::unique_ptr<TPixelGraphic> m_image;
    std::uint64_t m_generation;
};

class TPaintProgressEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = QEvent::Type(QEvent::User + 1);
    TPaintProgressEvent(int stage, int percent, std::uint64_t generation)
        : QEvent(kType), m_stage(stage), m_percent(percent), m_generation(generation) {}
    int Stage() const { return m_stage; }
    int Percent() const { return m_percent; }
    std::uint64_t Generation() const { return m_generation; }

private:
    int m_stage, m_percent;
    std::uint64_t m_generation;
};

class TCreatePaintPGThread : public TObject {
public:
    using TReadyHandler = std::function<void(std::unique_ptr<TPixelGraphic>)>;

    // An idle object (working false) does nothing when run. window receives the
    // posted notifications of a threaded one.
    TCreatePaintPGThread(bool working, bool threaded, QObject* window, std::uint64_t generation);
    // Stops the work (terminate, wait) before the images go.
    ~TCreatePaintPGThread() override;

    // The control's image (read only, not owned), the image being made, and the
    // source of the final copy: FPixelGraphic or an owned 24-bit intermediate.
    TPixelGraphic* FPixelGraphic = nullptr;
    std::unique_ptr<TPixelGraphic> FPaintPixelGraphic;
    TPixelGraphic* FHelpPixelGraphic = nullptr;
    std::unique_ptr<TPixelGraphic> FOwnedHelpPixelGraphic;
    bool StretchFirst = false;
    bool OptimalPalette = false;
    TReadyHandler ReadyHandler;  // used instead of posting when not threaded

    bool Working() const { return m_working; }
    bool Threaded() const { return m_threaded; }
    int Stage() const { return m_stage; }

    // Starts Execute on its own thread (the object is created suspended).
    void Resume();
    void Terminate() { m_terminated = true; }
    bool Terminated() const { return m_terminated; }
    void WaitFor();
    // Terminate and wait.
    void Stop();

    void Execute();
    void DoTheWork();
    void Progress(TObject* sender, int step, int max, bool& abort);

private:
    void FinalCopyThroughTable();

    bool m_working;
    bool m_threaded;
    QObject* m_window;
    std::uint64_t m_generation;
    std::atomic<bool> m_terminated{false};
    std::thread m_thread;
    bool m_ran = false;
    int m_stage = 1;
    int m_lastPercent = 0;
    long long m_lastTick = 0;
};

}  // namespace rastova
