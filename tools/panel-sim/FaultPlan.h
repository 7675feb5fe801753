// Faults the simulated panel injects on purpose, so that the tool's resends, time-outs and
// error messages can be exercised.
//
//   SPEC  = WHEN ":" WHAT
//   WHEN  = "frame=" N                       the N-th request frame for this panel (from 1)
//         | "item=" KIND ",phase=" PHASE [",packet=" N] [",count=" (C | "always")]
//   KIND  = application | bitmap | font | recipe | any
//   PHASE = open | info | data | over | cancel
//   WHAT  = no-reply | bad-crc | bad-echo | status=N | delay=MS | close
//
// An item rule fires on every matching frame until its count is used up (1 by default), so a
// resent frame can meet the same fault again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::panelsim {

enum class FaultPhase { Open, Info, Data, Over, Cancel };

enum class FaultEffect { NoReply, BadCrc, BadEcho, Status, Delay, Close };

struct FaultRule {
    std::string text;  // the rule as given, for the event log

    // WHEN: either a frame number, or an item kind and phase.
    std::optional<std::uint32_t> frameNumber;
    std::optional<std::string> kind;  // empty optional for frame rules; "any" matches all
    FaultPhase phase = FaultPhase::Open;
    std::optional<std::uint32_t> packet;
    std::optional<std::uint32_t> remaining;  // none: always

    // WHAT
    FaultEffect effect = FaultEffect::NoReply;
    std::uint32_t value = 0;  // status for Status, milliseconds for Delay
};

// Parses one SPEC; on failure returns nothing and sets error to a one-line reason.
std::optional<FaultRule> ParseFaultRule(std::string_view spec, std::string& error);

// What the panel knows about a request frame when it decides whether a fault applies.
struct FrameFacts {
    std::uint32_t frameNumber = 0;
    std::optional<FaultPhase> phase;  // none for frames outside the five phases
    // Item kinds the frame belongs to ("application", "bitmap", ...).
    std::vector<std::string> kinds;
    std::optional<std::uint32_t> packet;
};

struct FiredFault {
    std::string rule;
    FaultEffect effect = FaultEffect::NoReply;
    std::uint32_t value = 0;
};

class FaultPlan {
  public:
    FaultPlan() = default;
    explicit FaultPlan(std::vector<FaultRule> rules) : rules_(std::move(rules)) {}

    // The faults that fire on this frame, in the order the rules were given; each fired rule
    // uses up one of its count.
    std::vector<FiredFault> Fire(const FrameFacts& facts);

    bool empty() const { return rules_.empty(); }

  private:
    std::vector<FaultRule> rules_;
};

}  // namespace tarvex::panelsim
