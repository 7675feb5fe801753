// The count behind a process-wide priority (Windows' priority class): forms that run side by
// side enter and leave in any order, and only the last to leave puts back what the first
// found. The platform's calls are replaced by ones that keep a pretend class, so the count is
// tested the same on every platform; the real class is tried once at the end where it is the
// process's.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ProcessPriority.h"

namespace tarvex::platform {
namespace {

// The pretend class: 1 normal, 2 raised; every change is logged.
int g_class = 1;
std::vector<std::string> g_log;

SavedPriority FakeSave() {
    SavedPriority s;
    s.valid = true;
    s.policy = g_class;
    return s;
}
RaisedPriority FakeRaise() {
    g_class = 2;
    g_log.push_back("raise");
    return RaisedPriority::High;
}
void FakeRestore(const SavedPriority& s) {
    g_class = s.policy;
    g_log.push_back("restore " + std::to_string(s.policy));
}

struct Order {
    const char* name;
    std::vector<int> leaving;  // which of the forms leaves, in turn
};

TEST(SharedPriority, OnlyTheLastFormToFinishPutsBackWhatTheFirstFound) {
    const Order orders[] = {
        {"first in, first out", {0, 1, 2}},
        {"last in, first out", {2, 1, 0}},
        {"the middle one first", {1, 0, 2}},
    };
    for (const Order& order : orders) {
        SCOPED_TRACE(order.name);
        g_class = 1;
        g_log.clear();
        SharedPriority shared({&FakeSave, &FakeRaise, &FakeRestore});
        for (int form = 0; form < 3; ++form) {
            SavedPriority found;
            RaisedPriority obtained = RaisedPriority::Unchanged;
            shared.Enter(found, obtained);
            // Every form is told the class from before the first raise, never the raised one.
            EXPECT_EQ(found.policy, 1);
            EXPECT_EQ(obtained, RaisedPriority::High);
        }
        EXPECT_EQ(shared.Holders(), 3);
        for (std::size_t i = 0; i < order.leaving.size(); ++i) {
            shared.Leave();
            const bool last = i + 1 == order.leaving.size();
            EXPECT_EQ(g_class, last ? 1 : 2) << "after form " << order.leaving[i] << " left";
        }
        EXPECT_EQ(g_log, (std::vector<std::string>{"raise", "restore 1"}));
        // A leave too many changes nothing; the next run starts afresh.
        shared.Leave();
        EXPECT_EQ(g_log.size(), 2u);
        SavedPriority found;
        RaisedPriority obtained = RaisedPriority::Unchanged;
        shared.Enter(found, obtained);
        shared.Leave();
        EXPECT_EQ(g_log.size(), 4u);
        EXPECT_EQ(g_class, 1);
    }
}

// The forms' own scopes, on threads of their own as in a gang: the first raises and the one
// that ends last restores, in both orders. Each scope's extra Restore (a cancel drops the
// priority at once, the scope's end restores again) must not count twice.
TEST(SharedPriority, ScopesOnTwoThreadsEndInEitherOrderWhereTheProcessStarted) {
    if (PriorityIsPerThread()) {
        GTEST_SKIP() << "each thread has a priority of its own here";
    }
    const SavedPriority start = SaveProcessPriority();
    ASSERT_TRUE(start.valid);
    for (const bool firstEndsFirst : {true, false}) {
        SCOPED_TRACE(firstEndsFirst ? "first ends first" : "second ends first");
        auto first = std::make_unique<RaisedPriorityScope>();
        std::unique_ptr<RaisedPriorityScope> second;
        std::thread([&] { second = std::make_unique<RaisedPriorityScope>(); }).join();
        EXPECT_EQ(second->Saved().policy, start.policy);
        const bool raised = first->Obtained() != RaisedPriority::Unchanged;
        auto& early = firstEndsFirst ? first : second;
        auto& late = firstEndsFirst ? second : first;
        early->Restore();
        early->Restore();
        if (raised) {
            EXPECT_NE(SaveProcessPriority().policy, start.policy) << "restored too early";
        }
        std::thread([&] { early.reset(); }).join();
        late.reset();
        EXPECT_EQ(SaveProcessPriority().policy, start.policy);
        EXPECT_EQ(SharedPriority::Process().Holders(), 0);
    }
}

}  // namespace
}  // namespace tarvex::platform
