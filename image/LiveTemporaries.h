// The hidden temporary files that saves are writing at this moment. A host that
// ends the process on a signal removes them, so an interrupted save leaves
// neither a damaged output nor a stray ".name.XXXXXX" behind.
#pragma once

#include <mutex>
#include <string>

namespace rastova {

// Held while a temporary is created and registered, and while it is renamed or
// removed and unregistered, so the set always matches the disk.
std::unique_lock<std::mutex> LockLiveTemporaries();

// With the lock held.
void RegisterLiveTemporary(const std::string& name);
void UnregisterLiveTemporary(const std::string& name);

// Takes the lock for good (no save can create, rename or remove a temporary
// afterwards), removes every registered temporary and ends the process with the
// status. For a host's signal-handling thread; not for a signal handler itself.
[[noreturn]] void RemoveLiveTemporariesAndExit(int status);

}  // namespace rastova
