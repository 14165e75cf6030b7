// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// A fleet of node exporters as a Prometheus server knows it, turned into servers the
// client can list: the two requests to make, what their HTTP status means, the join
// of their replies (PrometheusReply.h) on the instance label, and names a user can
// tell apart. Pure functions: the transfers are the caller's.

#include "ClientLibrary.h"
#include "PrometheusReply.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

/* One discovered server. */
struct DiscoveredServer {
    std::string name;      // the node name, fit for the list (ListableServerName)
    std::string scrapeUrl; // a checked, normalised http or https URL (ScrapeUrl)
    std::string instance;  // the instance label it was found under
};

/* How a discovery ends, in the remote range and with the same meanings as there. */
namespace DiscoveryCode {
inline constexpr ClientResult NoAnswer = 0x8901;   // no complete reply in time
inline constexpr ClientResult BadAnswer = 0x8902;  // an HTTP error, or a reply not to be read
inline constexpr ClientResult Refused = 0x8903;    // 401 or 403
inline constexpr ClientResult TlsFailure = 0x8904; // no trusted TLS connection
} // namespace DiscoveryCode

/* What the HTTP status of either request means: 0 for 200, Refused for 401 and 403,
   BadAnswer for any other. The caller asks DiscoveryFallsBack() first about 404 on the
   targets request. */
ClientResult DiscoveryHttpResult(long status);
/* True where the targets request answered 404: a Thanos Query or Mimir, which have no
   /api/v1/targets; the servers then come from the names alone (FallbackServers). */
inline bool DiscoveryFallsBack(long targetsStatus) {
    return targetsStatus == 404;
}

/* The two requests under the API's base URL (the table's, a path prefix allowed, any
   query or fragment dropped): /api/v1/targets?state=active&scrapePool=JOB (without a job,
   no pool), and /api/v1/query with query=node_uname_info{job="JOB"} URL-encoded. Empty
   where `base` is not an http or https URL with a host. Prometheus 2.42 and later filter
   the targets by pool; an older one sends them all, and the reader still keeps the job's. */
std::string TargetsRequestUrl(std::string_view base, std::string_view job = {});
std::string NamesRequestUrl(std::string_view base, std::string_view job);

/* `url` as libcurl normalises it (lower-case scheme and host, no default port, "/metrics"
   for an empty path), so that two spellings of one exporter compare equal; nullopt unless
   it is http or https with a host and without user, password or fragment. */
std::optional<std::string> ScrapeUrl(std::string_view url);
/* The host and port of such a URL, as "host:port", the default port written out. */
std::string HostAndPort(std::string_view url);

/* The targets that have a name, joined on instance (the first name of an instance counts),
   with their names through ListableServerName and sorted (CompareServerNames), ties by
   instance and URL. Left out: a target without a name, or whose name is empty once
   filtered, or whose scrape URL ScrapeUrl refuses. */
std::vector<DiscoveredServer> JoinDiscovery(std::span<const ActiveTarget> targets,
                                            std::span<const InstanceName> names);
/* Without a targets list: http://INSTANCE/metrics for every named instance (https when
   the exporters have their own certificate authority), sorted the same way. An instance
   that is not a plain host:port is left out, so no reply can steer the URL. */
std::vector<DiscoveredServer> FallbackServers(std::span<const InstanceName> names, bool https);

/* What one discovery line found, from its two replies. */
struct DiscoveryOutcome {
    /* 0, or why the line found nothing (DiscoveryCode). */
    ClientResult result = 0;
    /* Why, fit for standard error: with a result, or for a line that found no server. */
    std::string reason;
    std::vector<DiscoveredServer> servers;
    /* Targets of the job beyond the most that one reply gives (MaxDiscoveredServers). */
    std::size_t leftOut = 0;
};
/* Reads the HTTP status and body of the targets request and of the names request for
   `job`: a status other than 200 (but 404 on the targets, which falls back to the names
   alone) or a reply a reader refuses ends the line, with the reader's reason. */
DiscoveryOutcome ReadDiscovery(long targetsStatus, std::string_view targetsBody,
                               long namesStatus, std::string_view namesBody,
                               std::string_view job, bool exportersHttps);

/* The list's order: case-blind over ASCII letters, then byte by byte. */
bool CompareServerNames(std::string_view a, std::string_view b);

/* An entry of the whole connection list, as the client answers its names. */
struct ListedName {
    std::string name;
    /* What tells it apart from a namesake: the instance, or the URL's host:port;
       empty for an entry that stays as it is (this machine's own). */
    std::string place;
};
/* Gives every name that two or more entries share " (PLACE)" at its end, cutting the
   name so that the whole stays within `maxBytes` bytes. Unique names, and entries
   without a place, stay as they are. */
void TellNamesApart(std::span<ListedName> entries, std::size_t maxBytes = 255);
