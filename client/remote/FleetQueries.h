// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// What the overview asks a Prometheus API about the servers of one discovery line,
// and how the answers become rows. Pure functions: the transfers are the caller's.

#include "ClientLibrary.h"
#include "FleetReadings.h"
#include "PrometheusReply.h"

#include <array>
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

/* The three statistics, one query each. */
enum class FleetStatistic { Utilisation, Requests, Hits };
inline constexpr std::array<FleetStatistic, 3> FleetStatistics{
    FleetStatistic::Utilisation, FleetStatistic::Requests, FleetStatistic::Hits};

/* How often a line is refreshed when the API gives no scrape interval. */
inline constexpr std::chrono::milliseconds DefaultFleetRefresh{15000};

/* The PromQL of a statistic over the job's series, by instance, rated over `window`:
   utilisation in percent, counting idle and iowait as idle as the chart does; requests
   the rate of node_vmstat_pgfault; hits that less the rate of node_vmstat_pgmajfault. */
std::string FleetQuery(std::string_view job, FleetStatistic statistic, std::chrono::milliseconds window);
/* The instant query's URL under the API's base; empty where the base is no http(s) URL. */
std::string FleetQueryUrl(std::string_view base, std::string_view job, FleetStatistic statistic,
                          std::chrono::milliseconds window);

/* A Prometheus duration ("15s", "1m30s", "500ms", "2h"); nullopt when it is none or 0. */
std::optional<std::chrono::milliseconds> PrometheusDuration(std::string_view text);
/* The shortest scrape interval among the targets, or DefaultFleetRefresh without one. */
std::chrono::milliseconds FleetRefreshInterval(std::span<const TargetState> targets);

/* A server of the connection list that a discovery line found. */
struct FleetListed {
    std::string name;
    ConnRef ref = 0;
    std::string instance;
};

/* What one refresh of a discovery line brought, read. */
struct LineReplies {
    /* Why the targets request brought nothing, in words; empty when it answered. */
    std::string failure;
    std::vector<TargetState> targets;
    std::array<std::vector<InstanceValue>, 3> values; // by FleetStatistic
    std::array<std::string, 3> queryFailures;         // in words; empty for a good answer
};

/* One row per target of the job, up or down, and one per listed server that the targets
   no longer name; a target not in the list says so in its State. Troubles of the whole
   line go to `problems`, led by `where`. */
std::vector<FleetRow> DiscoveryRows(std::span<const FleetListed> listed, const LineReplies& replies,
                                    std::string_view where, std::vector<std::string>& problems);
