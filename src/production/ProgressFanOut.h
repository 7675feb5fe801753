// Passes every event of the transfer's progress sink on to several listeners, in the order
// they were added.
#pragma once

#include <vector>

#include "hmi/TransferProgress.h"

namespace tarvex::production {

class ProgressFanOut final : public ITransferProgress {
  public:
    void Add(ITransferProgress* listener) {
        if (listener != nullptr) {
            listeners_.push_back(listener);
        }
    }
    void OnTransferStarted(const std::vector<TransferItem>& items) override {
        Each([&](auto* l) { l->OnTransferStarted(items); });
    }
    void OnItemStarted(const TransferItem& i) override {
        Each([&](auto* l) { l->OnItemStarted(i); });
    }
    void OnPhase(TransferPhase p) override {
        Each([&](auto* l) { l->OnPhase(p); });
    }
    void OnConfirmed(TransferPhase p) override {
        Each([&](auto* l) { l->OnConfirmed(p); });
    }
    void OnDescribeWaitOver() override {
        Each([](auto* l) { l->OnDescribeWaitOver(); });
    }
    void OnPacketSent(std::uint32_t n, std::uint64_t b) override {
        Each([&](auto* l) { l->OnPacketSent(n, b); });
    }
    void OnResend(TransferPhase p, int a) override {
        Each([&](auto* l) { l->OnResend(p, a); });
    }
    void OnItemEnded(int r) override {
        Each([&](auto* l) { l->OnItemEnded(r); });
    }
    void OnCancelled() override {
        Each([](auto* l) { l->OnCancelled(); });
    }
    void OnOutcome(std::string_view text) override {
        Each([&](auto* l) { l->OnOutcome(text); });
    }

  private:
    template <typename F>
    void Each(F f) {
        for (ITransferProgress* l : listeners_) {
            f(l);
        }
    }
    std::vector<ITransferProgress*> listeners_;
};

}  // namespace tarvex::production
