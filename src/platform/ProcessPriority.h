// The process's scheduling priority: save, raise, restore.
//
//   SaveProcessPriority()       what the process runs with now
//   RaiseProcessPriority()      the real-time class where allowed, else the highest priority the
//                               process may take, else nothing; tells which it got, never fails
//   RestoreProcessPriority(s)   brings back exactly what was saved
//   RaisedPriorityScope         saves and raises when made, restores when it ends, on every
//                               way out of its scope, an exception included
//   SharedPriority              the count of scopes that hold a process-wide priority raised
//   PriorityIsPerThread()       true where each thread has a priority of its own (Linux)
//
// A transfer runs raised so that other programs disturb the byte timing on the line less.
// On Linux the policy and the nice value belong to the calling thread: save, raise and restore
// from the thread that runs the transfer. On Windows the priority class is the process's.
#pragma once

#include <atomic>
#include <mutex>

namespace tarvex::platform {

struct SavedPriority {
    bool valid = false;  // false: nothing was saved, restoring does nothing
    int policy = 0;      // scheduling policy (SCHED_OTHER, SCHED_FIFO, ...); the priority class
                         // on Windows
    int rtPriority = 0;  // the policy's static priority
    int niceValue = 0;   // the nice value
};

// What RaiseProcessPriority obtained: the real-time class or policy, Windows' high priority
// class (what it grants instead of real time without the privilege), a better nice value, or
// nothing.
enum class RaisedPriority { Unchanged, Higher, High, RealTime };

SavedPriority SaveProcessPriority();
RaisedPriority RaiseProcessPriority();
void RestoreProcessPriority(const SavedPriority& saved);

// The same as RestoreProcessPriority for a signal handler that ends the program: two plain
// system calls (sched_setscheduler, setpriority), no allocation, no locks, errno preserved.
// Neither call is on POSIX's list of async-signal-safe functions, but on Linux both are thin
// wrappers around a single system call that touch no state of the C library besides errno.
void EmergencyRestorePriority(const SavedPriority& saved);

bool PriorityIsPerThread();

// Where the priority belongs to the whole process (Windows' priority class), forms that run
// side by side must not restore it under each other: the first to enter raises it and keeps
// what it found, the last to leave puts that back, whatever order they leave in. The calls are
// the platform's own; a test passes its own to watch them.
class SharedPriority {
  public:
    struct Calls {
        SavedPriority (*save)();
        RaisedPriority (*raise)();
        void (*restore)(const SavedPriority&);
    };
    explicit SharedPriority(Calls calls) : calls_(calls) {}

    // What was found before the first raise, and what that raise obtained.
    void Enter(SavedPriority& found, RaisedPriority& obtained);
    void Leave();
    int Holders() const;

    // The process's own, with the platform's calls.
    static SharedPriority& Process();

  private:
    Calls calls_;
    mutable std::mutex mutex_;
    int holders_ = 0;
    SavedPriority found_;
    RaisedPriority obtained_ = RaisedPriority::Unchanged;
};

// A raised priority that cannot outlive its scope. On Linux it must end on the thread that made
// it, since that thread's priority is the one raised; on Windows it holds the process's
// SharedPriority, and the first restore leaves it.
class RaisedPriorityScope {
  public:
    RaisedPriorityScope();
    ~RaisedPriorityScope();
    RaisedPriorityScope(const RaisedPriorityScope&) = delete;
    RaisedPriorityScope& operator=(const RaisedPriorityScope&) = delete;

    // What was found before the raise: what every restore brings back.
    const SavedPriority& Saved() const { return saved_; }
    RaisedPriority Obtained() const { return obtained_; }

    // Brings back the saved priority before the scope ends (a transfer that is cancelled drops
    // it at once). The end of the scope restores once more, which then changes nothing.
    void Restore() const;

  private:
    SavedPriority saved_;
    RaisedPriority obtained_ = RaisedPriority::Unchanged;
    mutable std::atomic<bool> holding_{false};  // in the process's SharedPriority
};

}  // namespace tarvex::platform
