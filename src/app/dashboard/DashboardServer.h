// The operator's dashboard served by the line's own process: an HTTP server on a thread of its
// own (Boost.Beast over Asio, one thread for every connection) that hands out the page built
// into the binary, the model's snapshot, and the live stream of the line's events.
//
//   GET  /                   the page (index.html, style.css, app.js)
//   GET  /api/v1/state       the snapshot: line, counts, tiles, last units
//   GET  /api/v1/units       the last units
//   GET  /api/v1/events      server-sent events: a state frame, then the changes
//   POST /api/v1/unit-id     {"port", "unit_id"}: the id of the unit a port loads next
//   POST /api/v1/ack         {"port"}: the operator has seen a failed tile
//   POST /api/v1/stop        {}: a station ends the units in progress and starts no more
//
// Safe by default: with a token every request needs it (401 without), compared in constant
// time; without one the server answers only to the loopback names. A POST needs a JSON body
// and an Origin that is this dashboard. Request heads and bodies are limited, and so is the
// number of connections; a live client whose queue overflows (a stalled browser) is dropped.
// The line's threads never wait for any of it (see production/DashboardFeed.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "production/DashboardFeed.h"

namespace tarvex::dashboard {

struct DashboardSettings {
    std::string address = "127.0.0.1";
    std::uint16_t port = 0;  // 0: any free port (tests)
    std::string token;       // empty: no token, loopback only
    std::size_t maxConnections = 32;
    std::size_t maxQueueBytes = 256 * 1024;  // per live client
    std::size_t maxBodyBytes = 4096;
    std::size_t maxHeaderBytes = 8192;
};

struct DashboardActions {
    std::function<void()> stop;  // stop after the units in progress
};

// True when `address` is a loopback address (127.0.0.0/8, ::1); false for a name or garbage.
bool IsLoopbackAddress(const std::string& address);

// Equal strings, in a time that does not depend on where they differ.
bool SameToken(const std::string& given, const std::string& expected);

struct DashboardCounters {
    std::size_t connections = 0;
    std::size_t liveClients = 0;
    std::size_t dropped = 0;      // live clients dropped for an overflowing queue
    std::size_t queuedBytes = 0;  // over every live client
    std::size_t peakQueued = 0;   // the most one client ever had queued
};

class DashboardServer {
  public:
    DashboardServer(production::DashboardFeed& feed, DashboardSettings settings,
                    DashboardActions actions = {});
    ~DashboardServer();
    DashboardServer(const DashboardServer&) = delete;
    DashboardServer& operator=(const DashboardServer&) = delete;

    // Binds and starts serving; false with the reason ("the address is already in use").
    bool Start(std::string& why);
    void Stop();
    // "http://127.0.0.1:8080/"
    std::string Url() const;
    std::uint16_t Port() const;
    DashboardCounters Counters() const;

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarvex::dashboard
