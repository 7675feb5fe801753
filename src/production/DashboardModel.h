// What the operator's dashboard shows, computed from the line's events: a header for the line
// (product, versions, container, counts, first-pass yield, median cycle time), one tile per
// port (waiting, loading, PASS, FAIL, cancelled, with what the operator needs to act on), and
// the last units. The page only draws what this model says, so the rules live here and are
// tested here; the server hands its JSON out unchanged.
//
// Not thread-safe on its own: the dashboard's sink holds one lock around it.
//
//   Apply(event)        one event of the line; returns the port whose tile changed
//   StateJson()         the snapshot (GET /api/v1/state): line, counts, tiles, last units
//   TileJson(port)      one tile, as the live stream sends it after a change
//   Acknowledge(port)   the operator has seen a failed tile; false when it is not failed
//   SetNextUnitId(...)  an id typed or scanned into a tile, for the unit the port loads next
//   TakeNextUnitId(...) the line takes it when the unit starts
//   AskUnitId(...)      the port waits for its unit's id (the tile shows the field), or no more
//   RefuseUnitId(...)   the id typed was not taken: the tile says why
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "production/LineEvents.h"

namespace tarvex::production {

enum class TileState { Waiting, Loading, Pass, Fail, Cancelled };

// "waiting", "loading", "pass", "fail", "cancelled": the page's style for the state.
const char* TileStateKey(TileState state);
// "WAITING", "LOADING", "PASS", "FAIL", "CANCELLED": the word on the tile.
const char* TileStateLabel(TileState state);

struct Tile {
    std::string port;
    std::string name;  // the fixture's name; the port when the line names none
    std::string serialNumber;
    TileState state = TileState::Waiting;
    std::string detail;  // what the port waits for ("waiting for a panel"), else empty
    std::string item;    // "Application", "Recipe Alpha"
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesPlanned = 0;
    double rate = 0;  // bytes per second since the unit started
    std::string outcome;
    int panelCode = 0;
    std::string message;
    std::string hint;
    std::string unitId;
    int attempt = 0;  // 0: the line does not count attempts
    int attempts = 0;
    std::string nextUnitId;
    bool wantsUnitId = false;  // the port waits for an id typed into the tile
    bool acknowledged = false;
    int passed = 0;
    int failed = 0;
};

struct UnitLine {
    WallTime time;
    std::string port;
    std::string unitId;
    std::string outcome;
    bool passed = false;
    int attempt = 0;
    double seconds = 0;
};

struct LineHeader {
    std::string command;  // "gang", "station"
    std::string job;
    std::string product;
    std::string bootloader;
    std::string firmware;
    std::string container;
    std::string containerSha256;  // in full; the page shows the first 12 digits
    bool unitIdsFromDashboard = false;
    bool stopping = false;
};

class DashboardModel {
  public:
    static constexpr std::size_t kLastUnits = 50;

    // The tiles in this order, named after the ports unless `names` gives a fixture's name.
    DashboardModel(std::vector<std::string> ports, std::map<std::string, std::string> names = {});

    LineHeader& Header() { return header_; }
    const LineHeader& Header() const { return header_; }

    // The port whose tile changed, or nullopt when nothing on a tile did.
    std::optional<std::string> Apply(const LineEvent& event);

    const Tile* Find(const std::string& port) const;
    const std::vector<Tile>& Tiles() const { return tiles_; }
    const std::deque<UnitLine>& LastUnits() const { return units_; }

    int Passed() const { return passed_; }
    int Failed() const { return failed_; }
    // Units that passed at their first attempt over every unit that ended; nullopt before one.
    std::optional<double> FirstPassYield() const;
    // The middle of the units' cycle times; nullopt before one.
    std::optional<double> MedianSeconds() const;

    bool Acknowledge(const std::string& port);
    bool SetNextUnitId(const std::string& port, const std::string& unitId);
    std::optional<std::string> TakeNextUnitId(const std::string& port);
    bool AskUnitId(const std::string& port, bool asking);
    bool RefuseUnitId(const std::string& port, const std::string& why);

    nlohmann::json StateJson() const;
    nlohmann::json HeaderJson() const;
    nlohmann::json TileJson(const Tile& tile) const;
    nlohmann::json UnitsJson() const;

  private:
    Tile* Mutable(const std::string& port);

    LineHeader header_;
    std::vector<Tile> tiles_;
    std::deque<UnitLine> units_;
    int passed_ = 0;
    int failed_ = 0;
    int firstPass_ = 0;
    std::vector<double> cycleSeconds_;
};

}  // namespace tarvex::production
