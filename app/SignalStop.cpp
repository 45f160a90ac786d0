#include "app/SignalStop.h"

#include "image/LiveTemporaries.h"

#include <csignal>
#include <ctime>
#include <pthread.h>

namespace rastova {

namespace {

sigset_t WatchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
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
    // The signals stay blocked: the process is about to end, and a late one
    // must not kill it half way through its last words.
    m_thread.join();
}

void TSignalStop::Watch()
{
    const sigset_t set = WatchedSignals();
    // A short wait, so that the destructor's request to end is seen.
    const timespec wait{0, 100 * 1000 * 1000};
    while (!m_done) {
        const int signal = sigtimedwait(&set, nullptr, &wait);
        if (signal < 0)
            continue;
        if (signal == SIGINT && !m_interrupted.exchange(true)) {
            m_onFirstInterrupt();
            continue;
        }
        RemoveLiveTemporariesAndExit(128 + signal);
    }
}

}  // namespace rastova
