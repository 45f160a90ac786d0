// Ctrl-C, SIGTERM and SIGHUP for a converter on the command line. The first
// Ctrl-C asks the run to stop after the step in hand; a second one, SIGTERM or
// SIGHUP end the process at once with 128 + the signal number, after removing
// the temporary files that saves were writing.
//
// The signals are taken by one thread of their own (sigwait), not by a handler:
// the removal then runs in ordinary code and can wait for a save that is just
// creating or renaming its temporary, so none is missed.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace rastova {

class TSignalStop {
public:
    // Blocks the signals in the calling thread; every thread started later
    // inherits that. Construct before any other thread exists.
    explicit TSignalStop(std::function<void()> onFirstInterrupt);
    ~TSignalStop();
    TSignalStop(const TSignalStop&) = delete;
    TSignalStop& operator=(const TSignalStop&) = delete;

    bool Interrupted() const { return m_interrupted; }

private:
    void Watch();

    std::function<void()> m_onFirstInterrupt;
    std::atomic<bool> m_interrupted{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

}  // namespace rastova
