#include "panel-sim/FaultPlan.h"

#include <algorithm>
#include <charconv>

namespace tarvex::panelsim {
namespace {

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> SplitAt(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        if (at == std::string_view::npos) {
            parts.push_back(text.substr(from));
            return parts;
        }
        parts.push_back(text.substr(from, at - from));
        from = at + 1;
    }
}

std::optional<FaultPhase> ParsePhase(std::string_view text) {
    if (text == "open") {
        return FaultPhase::Open;
    }
    if (text == "info") {
        return FaultPhase::Info;
    }
    if (text == "data") {
        return FaultPhase::Data;
    }
    if (text == "over") {
        return FaultPhase::Over;
    }
    if (text == "cancel") {
        return FaultPhase::Cancel;
    }
    return std::nullopt;
}

bool ParseWhen(std::string_view when, FaultRule& rule, std::string& error) {
    const auto fields = SplitAt(when, ',');
    bool havePhase = false;
    bool haveCount = false;
    for (const std::string_view field : fields) {
        const std::size_t eq = field.find('=');
        if (eq == std::string_view::npos) {
            error = "\"" + std::string(field) + "\" is not KEY=VALUE";
            return false;
        }
        const std::string_view key = field.substr(0, eq);
        const std::string_view value = field.substr(eq + 1);
        if (key == "frame") {
            const auto n = ParseNumber(value);
            if (!n || *n == 0) {
                error = "frame= needs a frame number from 1";
                return false;
            }
            rule.frameNumber = n;
        } else if (key == "item") {
            if (value != "application" && value != "bitmap" && value != "font" &&
                value != "recipe" && value != "any") {
                error = "item= must be application, bitmap, font, recipe or any";
                return false;
            }
            rule.kind = std::string(value);
        } else if (key == "phase") {
            const auto phase = ParsePhase(value);
            if (!phase) {
                error = "phase= must be open, info, data, over or cancel";
                return false;
            }
            rule.phase = *phase;
            havePhase = true;
        } else if (key == "packet") {
            const auto n = ParseNumber(value);
            if (!n) {
                error = "packet= needs a packet number";
                return false;
            }
            rule.packet = n;
        } else if (key == "count") {
            haveCount = true;
            if (value == "always") {
                rule.remaining.reset();
            } else {
                const auto n = ParseNumber(value);
                if (!n || *n == 0) {
                    error = "count= needs a number from 1 or \"always\"";
                    return false;
                }
                rule.remaining = n;
            }
        } else {
            error = "unknown key \"" + std::string(key) + "\"";
            return false;
        }
    }
    if (rule.frameNumber) {
        if (fields.size() != 1) {
            error = "frame=N stands alone";
            return false;
        }
        rule.remaining = 1;
        return true;
    }
    if (!rule.kind || !havePhase) {
        error = "WHEN needs frame=N, or item=KIND and phase=PHASE";
        return false;
    }
    if (rule.packet && rule.phase != FaultPhase::Data) {
        error = "packet= only goes with phase=data";
        return false;
    }
    if (!haveCount) {
        rule.remaining = 1;
    }
    return true;
}

bool ParseWhat(std::string_view what, FaultRule& rule, std::string& error) {
    if (what == "no-reply") {
        rule.effect = FaultEffect::NoReply;
    } else if (what == "bad-crc") {
        rule.effect = FaultEffect::BadCrc;
    } else if (what == "bad-echo") {
        rule.effect = FaultEffect::BadEcho;
    } else if (what == "close") {
        rule.effect = FaultEffect::Close;
    } else if (what.starts_with("status=")) {
        const auto n = ParseNumber(what.substr(7));
        if (!n || *n > 255) {
            error = "status= needs a number from 0 to 255";
            return false;
        }
        rule.effect = FaultEffect::Status;
        rule.value = *n;
    } else if (what.starts_with("delay=")) {
        const auto n = ParseNumber(what.substr(6));
        if (!n) {
            error = "delay= needs milliseconds";
            return false;
        }
        rule.effect = FaultEffect::Delay;
        rule.value = *n;
    } else {
        error = "WHAT must be no-reply, bad-crc, bad-echo, status=N, delay=MS or close";
        return false;
    }
    return true;
}

bool Matches(const FaultRule& rule, const FrameFacts& facts) {
    if (rule.frameNumber) {
        return *rule.frameNumber == facts.frameNumber;
    }
    if (!facts.phase || *facts.phase != rule.phase) {
        return false;
    }
    if (*rule.kind != "any" &&
        std::find(facts.kinds.begin(), facts.kinds.end(), *rule.kind) == facts.kinds.end()) {
        return false;
    }
    return !rule.packet || (facts.packet && *facts.packet == *rule.packet);
}

}  // namespace

std::optional<FaultRule> ParseFaultRule(std::string_view spec, std::string& error) {
    const std::size_t colon = spec.find(':');
    if (colon == std::string_view::npos) {
        error = "expected WHEN:WHAT";
        return std::nullopt;
    }
    FaultRule rule;
    rule.text = std::string(spec);
    if (!ParseWhen(spec.substr(0, colon), rule, error) ||
        !ParseWhat(spec.substr(colon + 1), rule, error)) {
        return std::nullopt;
    }
    return rule;
}

std::vector<FiredFault> FaultPlan::Fire(const FrameFacts& facts) {
    std::vector<FiredFault> fired;
    for (FaultRule& rule : rules_) {
        if (rule.remaining && *rule.remaining == 0) {
            continue;
        }
        if (!Matches(rule, facts)) {
            continue;
        }
        if (rule.remaining) {
            --*rule.remaining;
        }
        fired.push_back(FiredFault{rule.text, rule.effect, rule.value});
    }
    return fired;
}

}  // namespace tarvex::panelsim
