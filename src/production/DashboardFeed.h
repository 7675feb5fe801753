// The dashboard's sink of the line's events: it keeps the page's model up to date and collects
// what changed for the live stream, and never makes a port's thread wait for a browser. A
// port's thread takes one short lock, changes the model, notes what changed and, the first
// time since the server last looked, calls the wake-up (which only posts to the server's own
// thread). The server then drains the changes as ready server-sent-event frames and copies
// them into each client's bounded queue.
//
//   line     the event as --progress json writes it (progress at most every 200 ms a port),
//            or a port's own event (port_state, port_appeared, port_left)
//   tile     the tile of a port that changed, as in the snapshot
//   header   the line's header and counts, after a start or a result
//   unit     a unit that ended, as in the list of the last units
//   state    the whole snapshot: the first frame a client gets, and after changes were lost
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "production/DashboardModel.h"
#include "production/JsonProgress.h"
#include "production/UnitIds.h"

namespace tarvex::production {

// "event: NAME\ndata: JSON\n\n"
std::string EventFrame(const char* name, const nlohmann::json& data);

class DashboardFeed final : public IEventSink {
  public:
    // More changes than this between two drains (a server that cannot keep up) are replaced
    // by one snapshot.
    static constexpr std::size_t kMaxPending = 4096;

    explicit DashboardFeed(DashboardModel& model) : model_(model) {}

    // Called on the emitting thread after a change, once until the next Drain().
    void SetWake(std::function<void()> wake);

    void OnEvent(const LineEvent& event) override;

    // The frames for every change since the last call.
    std::vector<std::string> Drain();
    // Runs f on the model under the feed's lock (a request of the page, a snapshot).
    template <typename F>
    auto With(F f) {
        const std::lock_guard<std::mutex> lock(mutex_);
        return f(model_);
    }
    // For a line that takes unit ids from the dashboard: on the port's thread, before a unit
    // is loaded, waits (polling every `poll`) until an id was typed or scanned into the port's
    // tile, and takes it; nullopt when `stop` says the line ends first. Meanwhile the tile
    // waits and asks for the id (wants_unit_id).
    std::optional<std::string> WaitForUnitId(const std::string& port,
                                             const std::function<bool()>& stop,
                                             std::chrono::milliseconds poll);
    // The id taken for `port` was not loaded: the tile says why.
    void RefuseUnitId(const std::string& port, const std::string& why);
    // Marks a tile or the header as changed (after With()), and wakes the server.
    void Changed(const std::string& port);
    void HeaderChanged();

  private:
    void MarkTile(const std::string& port);
    void Wake();  // with mutex_ held

    std::mutex mutex_;
    DashboardModel& model_;
    JsonProgress objects_;
    std::function<void()> wake_;
    std::atomic<bool> wakePending_{false};
    std::vector<std::string> lineFrames_;
    std::vector<std::string> dirtyTiles_;
    bool headerDirty_ = false;
    std::size_t newUnits_ = 0;
    bool overflowed_ = false;
};

// Unit ids typed or scanned into the tiles (--unit-id-from dashboard): every port waits for
// the id of its own tile, side by side; an id is what starts the next panel on a fixed port.
// Marks the line as one that takes ids from the dashboard, so that the server accepts them.
class DashboardUnitIds final : public IUnitIdSource {
  public:
    explicit DashboardUnitIds(DashboardFeed& feed);

    std::optional<std::string> Take(const std::string& port) override;
    bool Exhausted() const override { return false; }
    bool IdMarksNextUnit() const override { return true; }
    bool IdsPerPort() const override { return true; }
    std::optional<std::string> Wait(const std::string& port, const std::function<bool()>& stop,
                                    const std::function<void()>& idle) override;
    void Refused(const std::string& port, const std::string& why) override;

  private:
    DashboardFeed& feed_;
};

}  // namespace tarvex::production
