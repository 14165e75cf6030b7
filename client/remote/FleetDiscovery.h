// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The fleets that the table's discovery lines name: for each line it asks the
// Prometheus API for the job's targets and their names, reads both replies on the
// network thread as they arrive (keeping only the fields used, so the window's
// thread never sees a reply), merges the lines into one list of servers, and
// decides which of them may be sent the line's exporter credentials.

#include "ConnectionTable.h"
#include "ExporterTiming.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class CurlLoop;

/* A server that a discovery line lists, ready to scrape. */
struct FoundServer {
    ConnectionEntry entry; // the exporter, with the credentials and trust it may have
    std::string name;      // fit for a list
    std::string instance;  // what tells it apart from a namesake
    std::size_t line = 0;  // among the discovery lines
};

class FleetDiscovery {
public:
    /* `lines` are the table's discovery lines, in table order. */
    FleetDiscovery(std::vector<ConnectionEntry> lines, const ExporterTiming& timing);
    ~FleetDiscovery();
    FleetDiscovery(const FleetDiscovery&) = delete;
    FleetDiscovery& operator=(const FleetDiscovery&) = delete;

    /* Sends both requests of every line on `loop`, at once. */
    void Ask(CurlLoop& loop);
    /* Waits until every line has both replies read, or until `deadline`. */
    void Wait(std::chrono::steady_clock::time_point deadline);
    /* The servers the lines list, in line order, each line's sorted by name; a server that a
       line before (or `taken`, the URLs listed already) reached is left out. At most
       `room` in all. Why a line lists nothing, and what is left out, goes to `errors`. */
    std::vector<FoundServer> Merge(const std::vector<std::string>& taken, std::size_t room,
                                   std::ostream& errors);

private:
    struct State;
    std::vector<ConnectionEntry> m_lines;
    ExporterTiming m_timing;
    /* Shared with the requests in flight, which may end after this object. */
    std::shared_ptr<State> m_state;
};
