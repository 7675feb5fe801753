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
    bool told = false;
    while (!stop || !stop()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (std::optional<std::string> id = model_.TakeNextUnitId(port)) {
                MarkTile(port);
                Wake();
                return id;
            }
            if (!told) {
                model_.Apply(PortStateEvent{port, std::chrono::system_clock::now(),
                                            "waiting for a unit id"});
                MarkTile(port);
                Wake();
                told = true;
            }
        }
        std::this_thread::sleep_for(poll);
    }
    return std::nullopt;
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

}  // namespace tarvex::production
