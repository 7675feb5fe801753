#include "production/DashboardFeed.h"

#include <algorithm>
#include <thread>

namespace tarvex::production {

std::string EventFrame(const char* name, const nlohmann::json& data) {
    return std::string("event: ") + name +
           "\ndata: " + data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
           "\n\n";
}

void DashboardFeed::MarkTile(const std::string& port) {
    if (std::find(dirtyTiles_.begin(), dirtyTiles_.end(), port) == dirtyTiles_.end()) {
        dirtyTiles_.push_back(port);
    }
}

void DashboardFeed::SetWake(std::function<void()> wake) {
    const std::lock_guard<std::mutex> lock(mutex_);
    wake_ = std::move(wake);
}

void DashboardFeed::Wake() {
    // Under the lock, so that the server can take its wake-up away while ports still emit.
    if (wake_ && !wakePending_.exchange(true)) {
        wake_();
    }
}

void DashboardFeed::OnEvent(const LineEvent& event) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        // The progress objects are thinned out per port; a progress event in between only
        // moves the model, and the tile goes out with the next one that passes.
        nlohmann::json object = objects_.Object(event);
        if (object.is_null()) {
            object = PortEventObject(event);
        }
        const bool quietProgress = std::holds_alternative<ProgressEvent>(event) && object.is_null();
        const std::optional<std::string> changed = model_.Apply(event);
        if (quietProgress) {
            return;
        }
        if (!object.is_null()) {
            if (lineFrames_.size() < kMaxPending) {
                lineFrames_.push_back(EventFrame("line", object));
            } else {
                overflowed_ = true;
            }
        }
        if (changed) {
            MarkTile(*changed);
        }
        if (std::holds_alternative<StartEvent>(event) ||
            std::holds_alternative<ResultEvent>(event)) {
            headerDirty_ = true;
        }
        if (changed && std::holds_alternative<ResultEvent>(event)) {
            ++newUnits_;
        }
        Wake();
    }
}

void DashboardFeed::Changed(const std::string& port) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        MarkTile(port);
        Wake();
    }
}

void DashboardFeed::HeaderChanged() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        headerDirty_ = true;
        Wake();
    }
}

std::optional<std::string> DashboardFeed::WaitForUnitId(const std::string& port,
                                                        const std::function<bool()>& stop,
                                                        std::chrono::milliseconds poll) {
    const auto ask = [&](bool asking) {
        model_.AskUnitId(port, asking);
        MarkTile(port);
        Wake();
    };
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ask(true);
    }
    while (!stop || !stop()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (std::optional<std::string> id = model_.TakeNextUnitId(port)) {
                ask(false);
                return id;
            }
        }
        std::this_thread::sleep_for(poll);
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    ask(false);
    return std::nullopt;
}

void DashboardFeed::RefuseUnitId(const std::string& port, const std::string& why) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (model_.RefuseUnitId(port, why)) {
        MarkTile(port);
        Wake();
    }
}

std::vector<std::string> DashboardFeed::Drain() {
    wakePending_.store(false);
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> frames;
    if (overflowed_) {
        frames.push_back(EventFrame("state", model_.StateJson()));
    } else {
        frames = std::move(lineFrames_);
        for (const std::string& port : dirtyTiles_) {
            if (const Tile* tile = model_.Find(port)) {
                frames.push_back(EventFrame("tile", model_.TileJson(*tile)));
            }
        }
        if (headerDirty_) {
            frames.push_back(EventFrame("header", model_.HeaderJson()));
        }
        if (newUnits_ > 0) {
            const nlohmann::json units = model_.UnitsJson();  // the newest first
            for (std::size_t i = std::min(newUnits_, units.size()); i > 0; --i) {
                frames.push_back(EventFrame("unit", units[i - 1]));
            }
        }
    }
    lineFrames_.clear();
    dirtyTiles_.clear();
    headerDirty_ = false;
    newUnits_ = 0;
    overflowed_ = false;
    return frames;
}

DashboardUnitIds::DashboardUnitIds(DashboardFeed& feed) : feed_(feed) {
    feed_.With([](DashboardModel& m) { m.Header().unitIdsFromDashboard = true; });
    feed_.HeaderChanged();
}

std::optional<std::string> DashboardUnitIds::Take(const std::string& port) {
    std::optional<std::string> id =
        feed_.With([&](DashboardModel& m) { return m.TakeNextUnitId(port); });
    if (id) {
        feed_.Changed(port);
    }
    return id;
}

std::optional<std::string> DashboardUnitIds::Wait(const std::string& port,
                                                  const std::function<bool()>& stop,
                                                  const std::function<void()>& idle) {
    using namespace std::chrono_literals;
    // The idle work runs with each look at the tile.
    return feed_.WaitForUnitId(
        port,
        [&] {
            if (idle) {
                idle();
            }
            return stop && stop();
        },
        50ms);
}

void DashboardUnitIds::Refused(const std::string& port, const std::string& why) {
    feed_.RefuseUnitId(port, why);
}

}  // namespace tarvex::production
