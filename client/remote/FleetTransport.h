// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The overview's GETs on the program's one network loop: each with a handle of its
// own, its reply in memory of its own, ended within a timeout, and its failure put
// in the words a row's State shows.

#include "ExporterClient.h"
#include "RemoteFleet.h"
#include "ScrapeThread.h"

#include <curl/curl.h>

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

    /* `network` must outlive this object: it is the thread of the client that owns both. */
    explicit FleetTransport(ScrapeThread& network);
    FleetTransport(const FleetTransport&) = delete;
    FleetTransport& operator=(const FleetTransport&) = delete;

    /* A FleetGet that sends on the loop; `done` runs on the loop's thread. */
    FleetGet Get();

private:
    ScrapeThread& m_network;
    ExporterTiming m_timing;
};
