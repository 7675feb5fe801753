// The priority class of the process on Windows. REALTIME_PRIORITY_CLASS needs the right to
// raise scheduling priority; without it Windows grants HIGH_PRIORITY_CLASS instead and says
// nothing, so the class is read back to tell which one the process got.
#include <windows.h>

#include "platform/ProcessPriority.h"

namespace tarvex::platform {

SavedPriority SaveProcessPriority() {
    SavedPriority saved;
    const DWORD priorityClass = ::GetPriorityClass(::GetCurrentProcess());
    if (priorityClass == 0) {
        return saved;
    }
    saved.valid = true;
    saved.policy = static_cast<int>(priorityClass);
    return saved;
}

RaisedPriority RaiseProcessPriority() {
    const HANDLE self = ::GetCurrentProcess();
    if (::SetPriorityClass(self, REALTIME_PRIORITY_CLASS) == 0 &&
        ::SetPriorityClass(self, HIGH_PRIORITY_CLASS) == 0) {
        return RaisedPriority::Unchanged;
    }
    switch (::GetPriorityClass(self)) {
        case REALTIME_PRIORITY_CLASS:
            return RaisedPriority::RealTime;
        case HIGH_PRIORITY_CLASS:
            return RaisedPriority::High;
        default:
            return RaisedPriority::Unchanged;
    }
}

void RestoreProcessPriority(const SavedPriority& saved) {
    if (saved.valid) {
        (void)::SetPriorityClass(::GetCurrentProcess(), static_cast<DWORD>(saved.policy));
    }
}

void EmergencyRestorePriority(const SavedPriority& saved) {
    // A console control handler runs on a thread of its own, where any call is allowed.
    RestoreProcessPriority(saved);
}

bool PriorityIsPerThread() {
    return false;
}

}  // namespace tarvex::platform
