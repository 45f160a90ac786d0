#include "image/LiveTemporaries.h"

#include <set>
#include <unistd.h>

namespace rastova {

namespace {

std::mutex& Mutex()
{
    static std::mutex mutex;
    return mutex;
}

std::set<std::string>& Names()
{
    static std::set<std::string> names;
    return names;
}

}  // namespace

std::unique_lock<std::mutex> LockLiveTemporaries()
{
    return std::unique_lock<std::mutex>(Mutex());
}

void RegisterLiveTemporary(const std::string& name)
{
    Names().insert(name);
}

void UnregisterLiveTemporary(const std::string& name)
{
    Names().erase(name);
}

void RemoveLiveTemporariesAndExit(int status)
{
    Mutex().lock();
    for (const std::string& name : Names())
        ::unlink(name.c_str());
    // No destructors and no stdio flushing: other threads are still running.
    ::_exit(status);
}

}  // namespace rastova
