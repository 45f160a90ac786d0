#include "cli/SignalStop.h"

#include "image/LiveTemporaries.h"

#include <csignal>
#include <pthread.h>

namespace rastova {

namespace {

// Sent by the destructor to end the wait at once; from outside it does nothing.
constexpr int kWakeSignal = SIGUSR2;

sigset_t WatchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, kWakeSignal);
    return set;
}

}  // namespace

TSignalStop::TSignalStop(std::function<void()> onFirstInterrupt) : m_onFirstInterrupt(std::move(onFirstInterrupt))
{
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_thread = std::thread([this] { Watch(); });
}

TSignalStop::~TSignalStop()
{
    m_done = true;
    pthread_kill(m_thread.native_handle(), kWakeSignal);
    // The signals stay blocked: the process is about to end, and a late one
    // must not kill it half way through its last words.
    m_thread.join();
}

void TSignalStop::Watch()
{
    const sigset_t set = WatchedSignals();
    while (!m_done) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0 || signal == kWakeSignal)
            continue;
        if (signal == SIGINT && !m_interrupted.exchange(true)) {
            m_onFirstInterrupt();
            continue;
        }
        RemoveLiveTemporariesAndExit(128 + signal);
    }
}

}  // namespace rastova
