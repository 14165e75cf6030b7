// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The overview built from the client's eight operations alone, for a client whose
// operations answer at once (the real client on Windows, the stand-in): every
// listed connection is opened by reference once, with a handle of its own, and
// asked for one statistics record every period, the servers spread over the ticks
// of a period. Utilisation and cache counters take turns, so a server sees one
// request a period; the counters come first, as a utilisation asked right after
// the open would span no time at all (the stand-in's does). Every handle is closed when the overview stops.

#include "ClientLibrary.h"
#include "FleetReadings.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/* A connection-list entry, as the scan found it. */
struct ListedServer {
    std::string name;
    ConnRef ref = 0;
};

class ClientFleet : public FleetReadings {
public:
    using Clock = std::chrono::steady_clock;
    /* How often each server is asked, and in how many ticks (Take calls) a period is spread. */
    static constexpr std::chrono::seconds Period{5};
    static constexpr int TicksPerPeriod = 5;

    /* `client` must outlive this object. */
    ClientFleet(ClientLibrary& client, std::vector<ListedServer> servers);
    ~ClientFleet() override;
    ClientFleet(const ClientFleet&) = delete;
    ClientFleet& operator=(const ClientFleet&) = delete;

    void Start() override;
    /* Closes every handle the overview opened. */
    void Stop() override;
    bool Take(FleetSnapshot& into) override;
    /* One tick at `now`: the next share of the servers is asked. True when a row changed. */
    bool Tick(Clock::time_point now);
    /* The rows as they are now. */
    const FleetSnapshot& Current() const { return m_snapshot; }

private:
    struct Watched {
        std::optional<ConnectionHandle> handle;
        bool askCache = false; // the next request is for the cache counters
        std::optional<std::uint32_t> requests, hits;
        Clock::time_point countedAt{};
    };
    /* Opens where needed and sends the server's one request of this period. */
    void Visit(std::size_t index, Clock::time_point now);

    ClientLibrary& m_client;
    std::vector<Watched> m_watched;
    FleetSnapshot m_snapshot;
    std::size_t m_next = 0;
    bool m_started = false;
    bool m_changed = true;
};

/* The overview's readings on this platform for the servers of the connection list, from the
   sources that serve each best; `client` is PlatformClient(), started and scanned. */
std::unique_ptr<FleetReadings> PlatformFleet(ClientLibrary& client, std::vector<ListedServer> listed);
