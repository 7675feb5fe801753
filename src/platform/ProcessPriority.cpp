#include "platform/ProcessPriority.h"

namespace tarvex::platform {

void SharedPriority::Enter(SavedPriority& found, RaisedPriority& obtained) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (holders_++ == 0) {
        found_ = calls_.save();
        obtained_ = calls_.raise();
    }
    found = found_;
    obtained = obtained_;
}

void SharedPriority::Leave() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (holders_ > 0 && --holders_ == 0) {
        calls_.restore(found_);
    }
}

int SharedPriority::Holders() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return holders_;
}

SharedPriority& SharedPriority::Process() {
    static SharedPriority shared(
        {&SaveProcessPriority, &RaiseProcessPriority, &RestoreProcessPriority});
    return shared;
}

RaisedPriorityScope::RaisedPriorityScope() {
    if (PriorityIsPerThread()) {
        saved_ = SaveProcessPriority();
        obtained_ = RaiseProcessPriority();
        return;
    }
    SharedPriority::Process().Enter(saved_, obtained_);
    holding_ = true;
}

RaisedPriorityScope::~RaisedPriorityScope() {
    Restore();
}

void RaisedPriorityScope::Restore() const {
    if (PriorityIsPerThread()) {
        RestoreProcessPriority(saved_);
    } else if (holding_.exchange(false)) {
        SharedPriority::Process().Leave();
    }
}

}  // namespace tarvex::platform
