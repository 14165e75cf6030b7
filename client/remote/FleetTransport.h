// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The overview's GETs on the program's one network loop: each with a handle of its
// own, its reply in memory of its own, ended within a timeout, and its failure put
// in the words a row's State shows.

#include "CurlLoop.h"
#include "ExporterTiming.h"
#include "RemoteFleet.h"
#include "ReplyMemory.h"

#include <chrono>
#include <string>
#include <string_view>

/* How a failed transfer reads in a row's State: "down: connection refused", "no answer in
   5 s", "HTTP 401: the password is refused", "HTTP 500", or libcurl's own words. */
std::string FleetFailure(CURLcode result, long status, std::string_view error,
                         std::chrono::milliseconds timeout);

class FleetTransport {
public:
    /* How long one GET may take, connecting included. */
    static constexpr std::chrono::milliseconds Timeout{5000};

    /* `loop` is the network loop of the client that owns this object, which must outlive the
       loop: its transfers' replies are in this object's memory. */
    explicit FleetTransport(CurlLoop& loop);
    FleetTransport(const FleetTransport&) = delete;
    FleetTransport& operator=(const FleetTransport&) = delete;

    /* A FleetGet that sends on the loop; `done` runs on the loop's thread. */
    FleetGet Get();

private:
    CurlLoop& m_loop;
    ReplyMemory m_memory;
    ExporterTiming m_timing;
};
