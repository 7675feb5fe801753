// On Linux both the scheduling policy (sched_setscheduler with pid 0) and the nice value
// (setpriority with PRIO_PROCESS and who 0) belong to the calling thread, not to the whole
// process. The download runs on one thread from start to end, and that thread is the one that
// saves, raises and restores, so the raise covers exactly the work that needs it.
#include <sched.h>
#include <sys/resource.h>

#include <cerrno>

#include "platform/ProcessPriority.h"

namespace tarvex::platform {
namespace {

// Children started while a transfer runs (there are none today) must not inherit a
// real-time policy they never asked for.
#ifdef SCHED_RESET_ON_FORK
constexpr int kResetOnFork = SCHED_RESET_ON_FORK;
#else
constexpr int kResetOnFork = 0;
#endif

bool ReadNice(int& value) {
    // getpriority may legitimately return -1, so only errno tells a failure apart.
    errno = 0;
    const int v = ::getpriority(PRIO_PROCESS, 0);
    if (v == -1 && errno != 0) {
        return false;
    }
    value = v;
    return true;
}

bool TryRealTime() {
    const int lo = ::sched_get_priority_min(SCHED_FIFO);
    const int hi = ::sched_get_priority_max(SCHED_FIFO);
    if (lo < 0 || hi < 0) {
        return false;
    }
    // The middle of the range, not the top: the kernel's own real-time threads (interrupt
    // handlers, watchdogs) must still be able to run ahead of the transfer.
    sched_param param{};
    param.sched_priority = lo + (hi - lo) / 2;
    return ::sched_setscheduler(0, SCHED_FIFO | kResetOnFork, &param) == 0;
}

// The lowest nice value the process may take. A privileged process may go to -20; an
// unprivileged one down to 20 - RLIMIT_NICE. Rather than predict which rule applies (capabilities,
// containers and limits all play a part), try -20 first and then from the limit upwards, keeping
// the first value the kernel accepts.
bool TryLowerNice() {
    int current = 0;
    if (!ReadNice(current)) {
        return false;
    }
    if (current > -20 && ::setpriority(PRIO_PROCESS, 0, -20) == 0) {
        return true;
    }
    int floor = -19;
    rlimit lim{};
    if (::getrlimit(RLIMIT_NICE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
        floor = lim.rlim_cur >= 39 ? -19 : 20 - static_cast<int>(lim.rlim_cur);
    }
    for (int v = floor; v < current; ++v) {
        if (::setpriority(PRIO_PROCESS, 0, v) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

SavedPriority SaveProcessPriority() {
    SavedPriority saved;
    const int policy = ::sched_getscheduler(0);
    if (policy < 0) {
        return saved;
    }
    sched_param param{};
    if (::sched_getparam(0, &param) != 0) {
        return saved;
    }
    int nice = 0;
    if (!ReadNice(nice)) {
        return saved;
    }
    saved.valid = true;
    saved.policy = policy;
    saved.rtPriority = param.sched_priority;
    saved.niceValue = nice;
    return saved;
}

RaisedPriority RaiseProcessPriority() {
    // Raising is a wish, not a requirement: without the right to it the transfer still runs,
    // only less shielded from other programs. Hence no failure, only what was had.
    if (TryRealTime()) {
        return RaisedPriority::RealTime;
    }
    return TryLowerNice() ? RaisedPriority::Higher : RaisedPriority::Unchanged;
}

void RestoreProcessPriority(const SavedPriority& saved) {
    if (!saved.valid) {
        return;
    }
    const SavedPriority now = SaveProcessPriority();
    if (!now.valid || now.policy != saved.policy || now.rtPriority != saved.rtPriority) {
        sched_param param{};
        param.sched_priority = saved.rtPriority;
        // Leaving a real-time policy is always allowed; going back to one that was in force
        // before needs the same right that put it there. A refusal leaves the thread where it
        // is, which is all that can be done.
        (void)::sched_setscheduler(0, saved.policy, &param);
    }
    int nice = 0;
    if (!ReadNice(nice) || nice != saved.niceValue) {
        (void)::setpriority(PRIO_PROCESS, 0, saved.niceValue);
    }
}

void EmergencyRestorePriority(const SavedPriority& saved) {
    if (!saved.valid) {
        return;
    }
    const int savedErrno = errno;
    sched_param param{};
    param.sched_priority = saved.rtPriority;
    // Unconditional: reading the current values first would only add calls. A refusal changes
    // nothing, and the program is about to end anyway.
    (void)::sched_setscheduler(0, saved.policy, &param);
    (void)::setpriority(PRIO_PROCESS, 0, saved.niceValue);
    errno = savedErrno;
}

bool PriorityIsPerThread() {
    return true;
}

}  // namespace tarvex::platform
