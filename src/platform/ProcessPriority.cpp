#include "platform/ProcessPriority.h"

namespace tarvex::platform {

RaisedPriorityScope::RaisedPriorityScope()
    : saved_(SaveProcessPriority()), obtained_(RaiseProcessPriority()) {}

RaisedPriorityScope::~RaisedPriorityScope() {
    Restore();
}

void RaisedPriorityScope::Restore() const {
    RestoreProcessPriority(saved_);
}

}  // namespace tarvex::platform
