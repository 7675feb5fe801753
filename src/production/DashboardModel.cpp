#include "production/DashboardModel.h"

#include <algorithm>

#include "production/DownloadReport.h"

namespace tarvex::production {
namespace {

using nlohmann::json;

json TextOrNull(const std::string& text) {
    return text.empty() ? json(nullptr) : json(text);
}

json PositiveOrNull(int value) {
    return value > 0 ? json(value) : json(nullptr);
}

// What a station's port says while it waits for the operator; the rest of its states ("passed:
// remove the panel", "stopped") only add a line under the result.
bool IsWaiting(const std::string& state) {
    return state.starts_with("waiting") || state.starts_with("press Enter");
}

}  // namespace

const char* TileStateKey(TileState state) {
    switch (state) {
        case TileState::Waiting:
            return "waiting";
        case TileState::Loading:
            return "loading";
        case TileState::Pass:
            return "pass";
        case TileState::Fail:
            return "fail";
        case TileState::Cancelled:
            return "cancelled";
    }
    return "waiting";
}

const char* TileStateLabel(TileState state) {
    switch (state) {
        case TileState::Waiting:
            return "WAITING";
        case TileState::Loading:
            return "LOADING";
        case TileState::Pass:
            return "PASS";
        case TileState::Fail:
            return "FAIL";
        case TileState::Cancelled:
            return "CANCELLED";
    }
    return "WAITING";
}

DashboardModel::DashboardModel(std::vector<std::string> ports,
                               std::map<std::string, std::string> names) {
    for (std::string& port : ports) {
        Tile tile;
        const auto named = names.find(port);
        tile.name = named != names.end() && !named->second.empty() ? named->second : port;
        tile.port = std::move(port);
        tiles_.push_back(std::move(tile));
    }
}

Tile* DashboardModel::Mutable(const std::string& port) {
    const auto found =
        std::find_if(tiles_.begin(), tiles_.end(), [&](const Tile& t) { return t.port == port; });
    return found == tiles_.end() ? nullptr : &*found;
}

const Tile* DashboardModel::Find(const std::string& port) const {
    const auto found =
        std::find_if(tiles_.begin(), tiles_.end(), [&](const Tile& t) { return t.port == port; });
    return found == tiles_.end() ? nullptr : &*found;
}

std::optional<std::string> DashboardModel::Apply(const LineEvent& any) {
    Tile* tile = Mutable(PortOf(any));
    if (tile == nullptr) {
        return std::nullopt;  // a port the line was not started with
    }
    if (const auto* start = std::get_if<StartEvent>(&any)) {
        header_.product = start->product;
        header_.bootloader = start->bootloader;
        header_.firmware = start->firmware;
        header_.container = start->container;
        tile->state = TileState::Loading;
        tile->detail.clear();
        tile->item.clear();
        tile->bytesDone = 0;
        tile->bytesPlanned = 0;
        tile->rate = 0;
        tile->outcome.clear();
        tile->panelCode = 0;
        tile->message.clear();
        tile->hint.clear();
        tile->acknowledged = false;
        tile->wantsUnitId = false;
        tile->unitId = start->unit.unitId;
        // The attempt is worth a word only when the line may try a unit more than once.
        const bool retries = start->unit.attempts > 1;
        tile->attempt = retries ? start->unit.attempt : 0;
        tile->attempts = retries ? start->unit.attempts : 0;
    } else if (const auto* item = std::get_if<ItemEvent>(&any)) {
        tile->item = item->item + (item->name.empty() ? "" : " " + item->name);
    } else if (const auto* progress = std::get_if<ProgressEvent>(&any)) {
        tile->bytesDone = progress->unitBytesDone;
        tile->bytesPlanned = progress->unitBytesPlanned;
        tile->rate = progress->unitRate;
    } else if (const auto* e = std::get_if<ResultEvent>(&any)) {
        const bool passed = e->exitStatus == 0;
        const bool cancelled = e->outcome == DownloadOutcome::Cancelled;
        tile->state = passed ? TileState::Pass : cancelled ? TileState::Cancelled : TileState::Fail;
        tile->outcome = OutcomeKey(e->outcome);
        tile->panelCode = e->panelCode;
        tile->message = e->message;
        tile->hint = e->hint;
        if (e->facts.adapter && !e->facts.adapter->serialNumber.empty()) {
            tile->serialNumber = e->facts.adapter->serialNumber;
        }
        // An attempt that is tried again is listed, but only the unit's last one counts.
        if (!cancelled && !e->again) {
            ++(passed ? tile->passed : tile->failed);
            ++(passed ? passed_ : failed_);
            if (passed && tile->attempt <= 1) {
                ++firstPass_;
            }
            cycleSeconds_.push_back(e->seconds);
        }
        units_.push_front(UnitLine{e->time, tile->port, tile->unitId, tile->outcome, passed,
                                   tile->attempt, e->seconds});
        if (units_.size() > kLastUnits) {
            units_.pop_back();
        }
    } else if (const auto* state = std::get_if<PortStateEvent>(&any)) {
        if (IsWaiting(state->state)) {
            tile->state = TileState::Waiting;
        }
        tile->detail = state->state;
    } else if (std::holds_alternative<PortAppearedEvent>(any)) {
        tile->detail = "panel plugged in";
    } else if (std::holds_alternative<PortLeftEvent>(any)) {
        tile->detail = "panel removed";
    } else {
        return std::nullopt;  // messages: the result carries what the operator needs
    }
    return tile->port;
}

std::optional<double> DashboardModel::FirstPassYield() const {
    const int units = passed_ + failed_;
    if (units == 0) {
        return std::nullopt;
    }
    return static_cast<double>(firstPass_) / units;
}

std::optional<double> DashboardModel::MedianSeconds() const {
    if (cycleSeconds_.empty()) {
        return std::nullopt;
    }
    std::vector<double> sorted = cycleSeconds_;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t mid = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

bool DashboardModel::Acknowledge(const std::string& port) {
    Tile* tile = Mutable(port);
    if (tile == nullptr || tile->state != TileState::Fail) {
        return false;
    }
    tile->acknowledged = true;
    return true;
}

bool DashboardModel::SetNextUnitId(const std::string& port, const std::string& unitId) {
    Tile* tile = Mutable(port);
    if (tile == nullptr) {
        return false;
    }
    tile->nextUnitId = unitId;
    return true;
}

bool DashboardModel::AskUnitId(const std::string& port, bool asking) {
    Tile* tile = Mutable(port);
    if (tile == nullptr) {
        return false;
    }
    tile->wantsUnitId = asking;
    if (asking) {
        tile->state = TileState::Waiting;
    }
    return true;
}

bool DashboardModel::RefuseUnitId(const std::string& port, const std::string& why) {
    Tile* tile = Mutable(port);
    if (tile == nullptr) {
        return false;
    }
    tile->detail = why;
    return true;
}

std::optional<std::string> DashboardModel::TakeNextUnitId(const std::string& port) {
    Tile* tile = Mutable(port);
    if (tile == nullptr || tile->nextUnitId.empty()) {
        return std::nullopt;
    }
    std::string id = std::move(tile->nextUnitId);
    tile->nextUnitId.clear();
    return id;
}

json DashboardModel::HeaderJson() const {
    json line;
    line["command"] = TextOrNull(header_.command);
    line["job"] = TextOrNull(header_.job);
    line["product"] = TextOrNull(header_.product);
    line["bootloader"] = TextOrNull(header_.bootloader);
    line["firmware"] = TextOrNull(header_.firmware);
    line["container"] = TextOrNull(header_.container);
    line["container_sha256"] = TextOrNull(header_.containerSha256);
    line["unit_ids_from_dashboard"] = header_.unitIdsFromDashboard;
    line["stopping"] = header_.stopping;
    json counts;
    counts["passed"] = passed_;
    counts["failed"] = failed_;
    const auto yield = FirstPassYield();
    counts["first_pass_yield"] = yield ? json(*yield) : json(nullptr);
    const auto median = MedianSeconds();
    counts["median_seconds"] = median ? json(*median) : json(nullptr);
    line["counts"] = counts;
    return line;
}

json DashboardModel::TileJson(const Tile& t) const {
    json tile;
    tile["port"] = t.port;
    tile["name"] = t.name;
    tile["serial_number"] = TextOrNull(t.serialNumber);
    tile["state"] = TileStateKey(t.state);
    tile["label"] = TileStateLabel(t.state);
    tile["detail"] = TextOrNull(t.detail);
    const bool loading = t.state == TileState::Loading;
    tile["item"] = loading ? TextOrNull(t.item) : json(nullptr);
    tile["bytes_done"] = t.bytesDone;
    tile["bytes_planned"] = t.bytesPlanned;
    json percent = nullptr;
    json secondsLeft = nullptr;
    if (loading && t.bytesPlanned > 0) {
        const std::uint64_t done = std::min(t.bytesDone, t.bytesPlanned);
        percent = static_cast<int>(done * 100 / t.bytesPlanned);
        if (t.rate > 0) {
            secondsLeft = static_cast<double>(t.bytesPlanned - done) / t.rate;
        }
    }
    tile["percent"] = percent;
    tile["rate"] = loading ? json(t.rate) : json(nullptr);
    tile["seconds_left"] = secondsLeft;
    tile["outcome"] = TextOrNull(t.outcome);
    tile["panel_code"] = PositiveOrNull(t.panelCode);
    tile["message"] = TextOrNull(t.message);
    tile["hint"] = TextOrNull(t.hint);
    tile["unit_id"] = TextOrNull(t.unitId);
    tile["attempt"] = PositiveOrNull(t.attempt);
    tile["attempts"] = PositiveOrNull(t.attempts);
    tile["next_unit_id"] = TextOrNull(t.nextUnitId);
    tile["wants_unit_id"] = t.wantsUnitId;
    tile["acknowledged"] = t.acknowledged;
    tile["passed"] = t.passed;
    tile["failed"] = t.failed;
    return tile;
}

json DashboardModel::UnitsJson() const {
    json units = json::array();
    for (const UnitLine& u : units_) {
        json unit;
        unit["time"] = IsoTimeUtc(u.time);
        unit["port"] = u.port;
        unit["unit_id"] = TextOrNull(u.unitId);
        unit["outcome"] = u.outcome;
        unit["passed"] = u.passed;
        unit["attempt"] = PositiveOrNull(u.attempt);
        unit["seconds"] = u.seconds;
        units.push_back(std::move(unit));
    }
    return units;
}

json DashboardModel::StateJson() const {
    json state;
    state["schema"] = 1;
    state["line"] = HeaderJson();
    json tiles = json::array();
    for (const Tile& t : tiles_) {
        tiles.push_back(TileJson(t));
    }
    state["ports"] = std::move(tiles);
    state["units"] = UnitsJson();
    return state;
}

}  // namespace tarvex::production
