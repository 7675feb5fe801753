#include "production/UnitIds.h"

#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

namespace tarvex::production {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCounterFile = "tarvex-unit-counter.json";

nlohmann::json ReadJsonFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return nlohmann::json::object();
    }
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json j = nlohmann::json::parse(text.str(), nullptr, false);
    return j.is_object() ? j : nlohmann::json::object();
}

}  // namespace

std::optional<UnitIdSpec> ParseUnitIdFrom(const std::string& spec) {
    if (spec == "stdin") {
        return UnitIdSpec{};
    }
    if (spec == "dashboard") {
        UnitIdSpec dashboard;
        dashboard.kind = UnitIdSpec::Kind::Dashboard;
        return dashboard;
    }
    constexpr std::string_view kCounter = "counter:";
    if (spec.rfind(kCounter, 0) != 0) {
        return std::nullopt;
    }
    // The prefix may itself hold colons: the number is what follows the last one.
    const std::string rest = spec.substr(kCounter.size());
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    UnitIdSpec parsed;
    parsed.kind = UnitIdSpec::Kind::Counter;
    parsed.prefix = rest.substr(0, colon);
    const std::string number = rest.substr(colon + 1);
    const auto [end, error] =
        std::from_chars(number.data(), number.data() + number.size(), parsed.start);
    if (number.empty() || error != std::errc{} || end != number.data() + number.size()) {
        return std::nullopt;
    }
    parsed.digits = number.size() > 1 && number[0] == '0' ? number.size() : 0;
    return parsed;
}

CounterIds::CounterIds(const UnitIdSpec& spec, std::string folder)
    : spec_(spec), next_(spec.start) {
    statePath_ = (fs::path(folder.empty() ? "." : folder) / kCounterFile).string();
    // One number per prefix: lines that number their units differently share the folder.
    const nlohmann::json state = ReadJsonFile(statePath_);
    if (const auto found = state.find(spec_.prefix);
        found != state.end() && found->is_number_unsigned()) {
        next_ = std::max(next_, found->get<std::uint64_t>() + 1);
    }
}

std::optional<std::string> CounterIds::Take(const std::string& /*port*/) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t number = next_++;
    // Kept before the unit is loaded: a run that breaks off never hands the number out twice.
    nlohmann::json state = ReadJsonFile(statePath_);
    state[spec_.prefix] = number;
    const std::string temporary = statePath_ + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << state.dump(2) << '\n';
        out.close();
        std::error_code ec;
        if (!out) {
            failure_ = "cannot write " + temporary;
        } else if (fs::rename(temporary, statePath_, ec); ec) {
            failure_ = "cannot replace " + statePath_ + ": " + ec.message();
        }
    }
    std::string digits = std::to_string(number);
    if (digits.size() < spec_.digits) {
        digits.insert(0, spec_.digits - digits.size(), '0');
    }
    return spec_.prefix + digits;
}

bool CounterIds::Failed(std::string& why) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    why = failure_;
    return !failure_.empty();
}

std::set<std::string> PassedIdsInReport(const std::string& reportPath) {
    std::set<std::string> ids;
    std::ifstream in(reportPath, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        if (!record.is_object()) {
            continue;
        }
        const auto id = record.find("unit_id");
        const auto status = record.find("exit_status");
        if (id != record.end() && id->is_string() && status != record.end() &&
            status->is_number_integer() && status->get<int>() == 0) {
            ids.insert(id->get<std::string>());
        }
    }
    return ids;
}

void UnitIds::RememberPassed(std::set<std::string> ids) {
    const std::lock_guard<std::mutex> lock(passedMutex_);
    passed_.merge(ids);
}

std::optional<std::string> IUnitIdSource::Wait(const std::string& port,
                                               const std::function<bool()>& stop,
                                               const std::function<void()>& idle) {
    using namespace std::chrono_literals;
    while (!(stop && stop())) {
        if (std::optional<std::string> id = Take(port)) {
            return id;
        }
        if (Exhausted()) {
            return std::nullopt;
        }
        if (idle) {
            idle();
        }
        std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
}

std::optional<std::string> UnitIds::Next(const std::string& port, const std::function<bool()>& stop,
                                         const std::function<void(const std::string&)>& tell,
                                         const std::function<void()>& idle) {
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (!source_.IdsPerPort()) {
        lock.lock();
    }
    while (!(stop && stop())) {
        std::optional<std::string> id = source_.Wait(port, stop, idle);
        if (!id) {
            return std::nullopt;
        }
        bool before = false;
        {
            const std::lock_guard<std::mutex> passedLock(passedMutex_);
            before = passed_.count(*id) > 0;
        }
        if (before && !allowRepeat_) {
            const std::string why = "unit " + *id +
                                    " has passed before in this report; not loaded again "
                                    "(--allow-repeat loads it)";
            source_.Refused(port, why);
            if (tell) {
                tell("tarvex-cli: " + why);
            }
            continue;
        }
        return id;
    }
    return std::nullopt;
}

void UnitIds::Passed(const std::string& id) {
    const std::lock_guard<std::mutex> lock(passedMutex_);
    passed_.insert(id);
}

}  // namespace tarvex::production
