// One download on one port, told as events: a listener of the transfer's progress sink that
// turns its calls into item and progress events, and the entry points for the rest (start,
// messages, notes, the port's state). It also keeps what the unit's record needs: the items
// with their results, the resends, the bytes.
//
// Used from the port's own thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "hmi/TransferProgress.h"
#include "production/LineEvents.h"

namespace tarvex::production {

class UnitEvents final : public ITransferProgress {
  public:
    UnitEvents(const EventStream& stream, std::string port)
        : stream_(stream), port_(std::move(port)) {}

    const EventStream& Stream() const { return stream_; }
    const std::string& Port() const { return port_; }
    // Asked once, at the first item: the image bytes of every ticked item.
    void SetPlanner(std::function<std::uint64_t()> planner) { planner_ = std::move(planner); }

    // A download begins: counts start again, and the start event goes out.
    void Start(const CTarvexDlg& form, UnitTag unit = {});
    const UnitTag& Unit() const { return unit_; }
    void Message(MessageKind kind, std::string_view caption, std::string_view text);
    void Note(std::string text);
    void State(std::string state);
    void Appeared();
    void Left();

    void OnItemStarted(const TransferItem& item) override;
    void OnPacketSent(std::uint32_t packetsDone, std::uint64_t bytesDone) override;
    void OnResend(TransferPhase phase, int attempt) override;
    void OnItemEnded(int result) override;

    std::uint64_t BytesDone() const { return doneBefore_ + itemDone_; }
    std::uint64_t Resends() const { return resends_; }
    const std::vector<RecordItem>& Items() const { return items_; }
    double Seconds() const;

  private:
    WallTime Now() const { return std::chrono::system_clock::now(); }

    const EventStream& stream_;
    std::string port_;
    std::function<std::uint64_t()> planner_;
    UnitTag unit_;
    std::uint64_t planned_ = 0;
    bool plannedAsked_ = false;
    std::vector<RecordItem> items_;
    std::uint32_t itemPackets_ = 0;
    std::uint64_t doneBefore_ = 0;  // bytes of the items before this one
    std::uint64_t itemDone_ = 0;
    std::uint64_t resends_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point itemStart_{};
};

}  // namespace tarvex::production
