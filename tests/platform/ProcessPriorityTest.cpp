// Save, raise and restore of the scheduling priority. On Linux both the policy and the nice
// value belong to a thread, so every case runs on a thread of its own: whatever happens there
// cannot leak into the rest of the test program.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>

#include <stdexcept>
#include <thread>

#include "platform/ProcessPriority.h"

namespace tarvex::platform {
namespace {

template <typename F>
void OnOwnThread(F body) {
    std::thread t(body);
    t.join();
}

int BasePolicy(int policy) {
#ifdef SCHED_RESET_ON_FORK
    return policy & ~SCHED_RESET_ON_FORK;
#else
    return policy;
#endif
}

void ExpectSame(const SavedPriority& a, const SavedPriority& b) {
    EXPECT_TRUE(a.valid);
    EXPECT_TRUE(b.valid);
    EXPECT_EQ(a.policy, b.policy);
    EXPECT_EQ(a.rtPriority, b.rtPriority);
    EXPECT_EQ(a.niceValue, b.niceValue);
}

// Raising never leaves the thread worse off than before, and restoring brings back exactly
// what was saved. Between the two nothing spins, so a granted real-time class is harmless.
void SaveRaiseRestore(const SavedPriority& start) {
    const SavedPriority saved = SaveProcessPriority();
    ExpectSame(saved, start);
    RaiseProcessPriority();
    const SavedPriority raised = SaveProcessPriority();
    ASSERT_TRUE(raised.valid);
    const bool realTime = BasePolicy(raised.policy) == SCHED_FIFO;
    if (realTime) {
        EXPECT_GE(raised.rtPriority, sched_get_priority_min(SCHED_FIFO));
        EXPECT_LT(raised.rtPriority, sched_get_priority_max(SCHED_FIFO));  // not the very top
    } else {
        EXPECT_EQ(raised.policy, saved.policy);
        EXPECT_LE(raised.niceValue, saved.niceValue);
    }
    RestoreProcessPriority(saved);
    ExpectSame(SaveProcessPriority(), start);
}

TEST(ProcessPriority, SaveRaiseRestoreEndsWhereItStarted) {
    OnOwnThread([] { SaveRaiseRestore(SaveProcessPriority()); });
}

TEST(ProcessPriority, RestoreBringsBackANiceValueOtherThanTheDefault) {
    OnOwnThread([] {
        // Raising one's own nice value is always allowed.
        const SavedPriority before = SaveProcessPriority();
        ASSERT_EQ(setpriority(PRIO_PROCESS, 0, before.niceValue + 3), 0);
        SavedPriority start = SaveProcessPriority();
        ASSERT_EQ(start.niceValue, before.niceValue + 3);
        SaveRaiseRestore(start);
        // And once more from the same point: a second download finds the same state.
        SaveRaiseRestore(start);
    });
}

TEST(ProcessPriority, RestoringWhatWasNeverSavedChangesNothing) {
    OnOwnThread([] {
        const SavedPriority before = SaveProcessPriority();
        RestoreProcessPriority(SavedPriority{});
        ExpectSame(SaveProcessPriority(), before);

        // Restore twice, as the download sequence does on some exits.
        RaiseProcessPriority();
        RestoreProcessPriority(before);
        RestoreProcessPriority(before);
        ExpectSame(SaveProcessPriority(), before);
    });
}

// The scope brings back what it found however it is left, also from a nice value other than
// the default; after an early Restore (a cancelled transfer) its end restores once more.
TEST(ProcessPriority, ScopeRestoresOnEveryWayOut) {
    OnOwnThread([] {
        const SavedPriority before = SaveProcessPriority();
        ASSERT_EQ(setpriority(PRIO_PROCESS, 0, before.niceValue + 2), 0);
        const SavedPriority start = SaveProcessPriority();

        {
            RaisedPriorityScope scope;
            ExpectSame(scope.Saved(), start);
            if (scope.Obtained() == RaisedPriority::Unchanged) {
                ExpectSame(SaveProcessPriority(), start);
            } else {
                const SavedPriority raised = SaveProcessPriority();
                EXPECT_TRUE(raised.policy != start.policy || raised.niceValue < start.niceValue);
            }
        }
        ExpectSame(SaveProcessPriority(), start);

        try {
            RaisedPriorityScope scope;
            throw std::runtime_error("out of the scope");
        } catch (const std::runtime_error&) {
        }
        ExpectSame(SaveProcessPriority(), start);

        {
            RaisedPriorityScope scope;
            scope.Restore();
            ExpectSame(SaveProcessPriority(), start);
            // Whatever was set after the early restore, the end puts the saved priority back.
            ASSERT_EQ(setpriority(PRIO_PROCESS, 0, start.niceValue + 1), 0);
        }
        ExpectSame(SaveProcessPriority(), start);
    });
}

}  // namespace
}  // namespace tarvex::platform
