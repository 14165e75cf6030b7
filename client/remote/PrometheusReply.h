// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Reads the two answers of a Prometheus HTTP API (Prometheus itself, Thanos Query,
// Mimir, VictoriaMetrics) that list a fleet of node exporters: the active targets,
// and the instant query of node_uname_info. Knows nothing of HTTP.
//
// A reply is read in one streaming pass that keeps only the fields needed, so its
// memory stays a small share of its size and no document tree is ever built. Nothing
// throws: a reply that cannot be used is a verdict with a reason. A reply that repeats
// a key the readers use within one object is refused rather than guessed at.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

/* The longest reply read at all, and the deepest nesting of objects and arrays. */
constexpr std::size_t MaxApiReplyBytes = std::size_t(64) << 20;
constexpr int MaxApiReplyDepth = 64;
/* The most targets of one job kept from one reply; the rest are left out. */
constexpr std::size_t MaxDiscoveredServers = 10000;
/* The most names kept from one query reply: it also lists targets that are down. */
constexpr std::size_t MaxDiscoveredNames = 4 * MaxDiscoveredServers;
/* Longer instances and URLs are no exporter's: their entry is left out. */
constexpr std::size_t MaxDiscoveredFieldBytes = 4096;

/* A reply as it arrives, refused past MaxApiReplyBytes. It grows with realloc, which moves
   a large block by remapping its pages instead of copying them: a std::string that doubles
   would hold its old and new buffers at once, near twice the limit at the end. */
class ReplyBuffer {
public:
    /* Appends `bytes`; false, keeping what it had, where the reply would pass the limit or
       no memory is left. */
    [[nodiscard]] bool Append(std::string_view bytes);
    std::string_view View() const { return {m_data.get(), m_size}; }
    /* Empties it and gives its memory back. */
    void Clear();

private:
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    std::unique_ptr<char, Free> m_data;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

/* One active target of the job that Prometheus last scraped well. */
struct ActiveTarget {
    std::string instance;  // labels.instance, the join key
    std::string scrapeUrl; // as Prometheus gave it; not yet checked
};

/* One series of node_uname_info: which node name an instance reports. */
struct InstanceName {
    std::string instance;
    std::string nodeName; // as the exporter gave it; not yet filtered
};

/* What a reader made of a reply. */
struct ApiVerdict {
    bool ok = false;
    /* Why not, fit for standard error: Prometheus's own text for "status":"error". */
    std::string error;
    /* How many entries that the reader would have kept it left out, past its limit. */
    std::size_t leftOut = 0;
};

/* Reads /api/v1/targets?state=active: the targets whose labels.job is `job` and whose
   health is "up", with a string scrapeUrl and labels.instance, in reply order. A target
   missing any of these, or with one longer than MaxDiscoveredFieldBytes, is skipped.
   Not ok, with `targets` empty, for a reply over MaxApiReplyBytes, nested deeper than
   MaxApiReplyDepth, that is not JSON, whose status is not "success", or without an
   array data.activeTargets, or where one object gives a key that the reader reads twice. */
[[nodiscard]] ApiVerdict ReadActiveTargets(std::string_view reply, std::string_view job,
                                           std::vector<ActiveTarget>& targets);

/* Reads /api/v1/query for node_uname_info: each result's metric.instance and
   metric.nodename, in reply order, skipping results without both as strings. Not ok
   as above, with data.result instead of data.activeTargets. */
[[nodiscard]] ApiVerdict ReadInstanceNames(std::string_view reply, std::vector<InstanceName>& names);

/* One target of a job as the overview sees it, up or not. */
struct TargetState {
    std::string instance;
    bool up = false;
    /* Why the last scrape failed, as Prometheus says it; empty when it did not. */
    std::string lastError;
    /* How often it is scraped, as given ("15s", "1m30s"); empty when the API gives none. */
    std::string scrapeInterval;
};

/* One series of an instant query's vector result: the instance and its value, which is
   NaN for a value that is not a finite number. */
struct InstanceValue {
    std::string instance;
    double value = 0;
};

/* Reads /api/v1/targets: every target whose labels.job is `job` and that has an instance,
   in reply order, at most MaxDiscoveredServers. Not ok as ReadActiveTargets. */
[[nodiscard]] ApiVerdict ReadTargetStates(std::string_view reply, std::string_view job,
                                          std::vector<TargetState>& targets);
/* Reads an instant query's vector result: metric.instance and value[1] of each series,
   skipping series without both, at most MaxDiscoveredNames. Not ok as ReadInstanceNames. */
[[nodiscard]] ApiVerdict ReadInstanceValues(std::string_view reply, std::vector<InstanceValue>& values);
