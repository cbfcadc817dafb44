#include "VersionCheck.h"

#include <mutex>
#include <utility>

namespace {

struct HookSlot {
    std::mutex mutex;
    NewVersionHook hook;
};

// Never destroyed: a detached transfer thread may still look at it while the process exits.
HookSlot& Slot() {
    static HookSlot* const slot = new HookSlot;
    return *slot;
}

} // namespace

void SetNewVersionHook(NewVersionHook hook) {
    HookSlot& slot = Slot();
    {
        std::lock_guard lock(slot.mutex);
        std::swap(slot.hook, hook);
    }
    // The old hook (now in 'hook') is destroyed here, outside the lock.
}

void CheckServerVersion(const std::string& serverVersion) {
    if (serverVersion != ProgramVersion) {
        NotifyNewVersion();
    }
}

void NotifyNewVersion() {
    HookSlot& slot = Slot();
    NewVersionHook hook;
    {
        std::lock_guard lock(slot.mutex);
        hook = slot.hook;
    }
    if (hook) {
        hook();
    }
}
