// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The overview's view of the client: one row of readings per server the client
// knows, those left out of the connection list included, handed over as values.
// Whatever asks the servers does so only between Start and Stop, and never makes
// the caller wait.

#include "ClientLibrary.h"

#include <optional>
#include <string>
#include <vector>

/* What the overview shows of one server. A reading that is not there is empty, never 0. */
struct FleetRow {
    std::string name;
    /* The reference its connection-list entry carries; none for a server left out of the list. */
    std::optional<ConnRef> ref;
    std::optional<double> utilisation; // percent of the CPU not idle nor waiting for I/O
    std::optional<double> requests;    // cache requests (page faults) per second
    std::optional<double> hits;        // cache hits (faults served from memory) per second
    /* "ok", or in words why there is no reading. */
    std::string state = "ok";
};

/* Everything the overview shows at one moment. */
struct FleetSnapshot {
    std::vector<FleetRow> rows;
    /* Troubles of a whole source (a Prometheus that did not answer), one line each, for the
       summary; each also shows in the State of the rows it leaves without data. */
    std::vector<std::string> problems;
};

class FleetReadings {
public:
    virtual ~FleetReadings() = default;
    /* The overview shows: readings start coming. */
    virtual void Start() = 0;
    /* The overview is hidden: nothing more is asked of any server or API until Start. */
    virtual void Stop() = 0;
    /* Called about once a second while started. Moves the newest snapshot into `into` and says
       true, or says false when nothing changed since the last one taken; never waits. */
    virtual bool Take(FleetSnapshot& into) = 0;
};
