// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The overview's readings of the connection table's servers: each discovery line's
// servers from the Prometheus API that listed them (the targets and three queries a
// refresh, once per scrape interval), and each plain line's exporter scraped every
// 5 s. It only sends GETs and takes what they bring, through a function that runs
// them on the network thread; the replies are read there, and the window takes the
// rows as values.

#include "ClientLibrary.h"
#include "ConnectionTable.h"
#include "FleetQueries.h"
#include "FleetReadings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/* How one GET ended. */
struct FleetFetch {
    /* A whole reply with status 200. */
    bool ok = false;
    /* Otherwise why not, in words: "down: connection refused", "no answer in 5 s",
       "HTTP 401: the password is refused". */
    std::string failure;
    std::string_view body;
};
/* Called on the network thread when a GET ends, once. */
using FleetDone = std::function<void(const FleetFetch&)>;
/* Sends a GET of `request.url` with its credentials and trust; never waits. */
using FleetGet = std::function<void(const ConnectionEntry& request, FleetDone done)>;

/* A plain line of the table; without a ref when the list left it out, with the reason. */
struct FleetPlainLine {
    ConnectionEntry exporter;
    std::string name;
    std::optional<ConnRef> ref;
    std::string leftOut;
};
/* A discovery line: its API (url, credentials, job) and the servers it put in the list. */
struct FleetDiscoveryLine {
    ConnectionEntry api;
    std::vector<FleetListed> listed;
};
struct FleetPlan {
    std::vector<FleetPlainLine> plain;
    std::vector<FleetDiscoveryLine> discovery;
};

class RemoteFleet : public FleetReadings {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds PlainInterval{5};

    RemoteFleet(FleetPlan plan, FleetGet get);
    /* GETs still in flight end unheard. */
    ~RemoteFleet() override;
    RemoteFleet(const RemoteFleet&) = delete;
    RemoteFleet& operator=(const RemoteFleet&) = delete;

    void Start() override;
    /* Replies still in flight are dropped when they come. */
    void Stop() override;
    /* Sends what is due, then takes the newest rows. */
    bool Take(FleetSnapshot& into) override;
    /* Sends what is due at `now`. */
    void Tick(Clock::time_point now);

private:
    struct State; // shared with the GETs in flight, which may outlive this object
    std::shared_ptr<State> m_state;
    FleetGet m_get;
};
