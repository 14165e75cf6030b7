// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "FleetDiscovery.h"

#include "CredentialPolicy.h"
#include "CurlLoop.h"
#include "Discovery.h"
#include "PrometheusReply.h"
#include "Loopback.h"
#include "ScrapeOptions.h"
#include "ServerName.h"
#include "TransferVerdict.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <unordered_set>

namespace {

/* Servers left out one by one on standard error; past this, only their count. */
constexpr std::size_t MaxReportedServers = 20;

/* One request's answer, as read on the network thread. */
struct Answer {
    bool done = false;
    std::string failure; // the transfer's, in words; empty when a reply came
    ClientResult code = 0;
    long status = 0;
    ApiVerdict verdict;
};

/* One discovery line's answers as the network thread reads them. */
struct LineState {
    Answer targets;
    Answer names;
    std::vector<ActiveTarget> targetList;
    std::vector<InstanceName> nameList;
    /* Once both answers are in: the servers it lists, or why none. */
    bool joined = false;
    std::vector<FoundServer> servers;
    std::string reason;
    /* Exporters left out for where their credentials would go, each as its line. */
    std::vector<std::string> refused;
    /* Targets the reader left out past its limit. */
    std::size_t leftOut = 0;
};

/* Joins a line's two answers into the servers it lists, with the credentials each may
   have; on the network thread, so that the window's thread never sees a fleet's bulk. */
void Join(LineState& l, const ConnectionEntry& from, std::size_t index) {
    DiscoveryOutcome outcome;
    const bool fallback = DiscoveryFallsBack(l.targets.status);
    if (!l.targets.failure.empty())
        outcome.reason = "the targets request: " + l.targets.failure;
    else if (!l.names.failure.empty())
        outcome.reason = "the node_uname_info query: " + l.names.failure;
    else if (!fallback && l.targets.status != 200)
        outcome.reason = "the targets request answered HTTP " + std::to_string(l.targets.status);
    else if (l.names.status != 200)
        outcome.reason = "the node_uname_info query answered HTTP " + std::to_string(l.names.status);
    else if (!l.names.verdict.ok)
        outcome.reason = "the node_uname_info query: " + l.names.verdict.error;
    else if (!fallback && !l.targets.verdict.ok)
        outcome.reason = "the targets request: " + l.targets.verdict.error;
    else
        outcome.servers = fallback ? FallbackServers(l.nameList, !from.exporterCaFile.empty())
                                   : JoinDiscovery(l.targetList, l.nameList);
    l.leftOut = fallback ? 0 : l.targets.verdict.leftOut;
    l.targetList = {};
    l.nameList = {};
    l.joined = true;
    if (outcome.reason.empty() && outcome.servers.empty())
        outcome.reason = "no target of the job \"" + from.discoverJob +
                         "\" is up with a node_uname_info name";
    l.reason = std::move(outcome.reason);
    const bool allOnLoopback =
        std::all_of(outcome.servers.begin(), outcome.servers.end(),
                    [](const DiscoveredServer& s) { return IsLoopbackUrl(s.scrapeUrl); });
    for (DiscoveredServer& server : outcome.servers) {
        const bool https = server.scrapeUrl.starts_with("https://");
        const bool loopback = IsLoopbackUrl(server.scrapeUrl);
        // Prometheus names the exporters: the password goes only where the site's trust does.
        const std::string_view refused =
            ExporterCredentialsRefusal(from, server.scrapeUrl, allOnLoopback);
        if (!refused.empty()) {
            l.refused.push_back(PrintableText(server.scrapeUrl) + ": " + std::string(refused) +
                                "; left out");
            continue;
        }
        ConnectionEntry entry{server.scrapeUrl, from.exporterUser, from.exporterPassword,
                              https ? from.exporterCaFile : std::string(), loopback};
        l.servers.push_back(
            {std::move(entry), std::move(server.name), std::move(server.instance), index});
    }
}

} // namespace

struct FleetDiscovery::State {
    std::mutex mutex;
    std::condition_variable done;
    /* All API replies of the scan share one limit: two requests a line, both answered with a
       flood, hold no more than one could; the second waits for the first to be read. */
    ReplyMemory memory{MaxApiReplyBytes, 0, 0};
    std::vector<ConnectionEntry> from; // the discovery lines; never changed
    std::vector<LineState> lines;           // guarded by mutex
};


FleetDiscovery::FleetDiscovery(std::vector<ConnectionEntry> lines, const ExporterTiming& timing)
    : m_lines(std::move(lines)), m_timing(timing), m_state(std::make_shared<State>()) {
    m_state->from = m_lines;
    m_state->lines.resize(m_lines.size());
}

FleetDiscovery::~FleetDiscovery() = default;

void FleetDiscovery::Ask(CurlLoop& loop) {
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const ConnectionEntry& line = m_lines[i];
        for (const bool targets : {true, false}) {
            ConnectionEntry request = line; // the API's own user, password and trust
            request.url = targets ? TargetsRequestUrl(line.url, line.discoverJob)
                                  : NamesRequestUrl(line.url, line.discoverJob);
            std::string why;
            ScrapeHandle handle = MakeScrapeHandle(request, m_timing, why, HandleUse::Api);
            std::shared_ptr<State> state = m_state;
            auto read = [state, i, targets, job = line.discoverJob](FinishedTransfer& f) {
                // Read here, on the network thread; the reply's bytes go with `f`.
                Answer answer{true, {}, 0, f.status, {}};
                LineState scratch;
                if (f.result != CURLE_OK) {
                    const std::string limit = std::to_string(MaxApiReplyBytes >> 20) + " MiB";
                    TransferVerdict verdict = JudgeTransfer(f.result, 0, f.error, limit);
                    answer.code = verdict.code.value_or(RemoteCode::NoAnswer);
                    answer.failure = std::move(verdict.reason);
                } else if (targets && f.status == 200) {
                    answer.verdict = ReadActiveTargets(f.body.View(), job, scratch.targetList);
                } else if (!targets && f.status == 200) {
                    answer.verdict = ReadInstanceNames(f.body.View(), scratch.nameList);
                }
                f.body.Release();
                {
                    const std::lock_guard lock(state->mutex);
                    LineState& line = state->lines[i];
                    (targets ? line.targets : line.names) = std::move(answer);
                    if (targets)
                        line.targetList = std::move(scratch.targetList);
                    else
                        line.nameList = std::move(scratch.nameList);
                    if (!line.targets.done || !line.names.done)
                        return; // the other answer joins them
                    // Both are in: the join runs outside the lock, with the line's answers.
                    scratch = std::move(line);
                }
                Join(scratch, state->from[i], i);
                {
                    const std::lock_guard lock(state->mutex);
                    state->lines[i] = std::move(scratch);
                }
                state->done.notify_all();
            };
            if (!handle.easy) {
                FinishedTransfer refused{0, CURLE_FAILED_INIT, 0, why, {}};
                read(refused);
                continue;
            }
            loop.Get(std::move(handle), m_state->memory, MaxApiReplyBytes, std::move(read));
        }
    }
}

void FleetDiscovery::Wait(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_state->mutex);
    m_state->done.wait_until(lock, deadline, [&] {
        return std::all_of(m_state->lines.begin(), m_state->lines.end(),
                           [](const LineState& l) { return l.joined; });
    });
}

std::vector<FoundServer> FleetDiscovery::Merge(const std::vector<std::string>& taken,
                                               std::size_t room, std::ostream& errors) {
    std::vector<LineState> lines;
    {
        // Late replies find their line gone: nothing waits beyond the scan.
        const std::lock_guard lock(m_state->mutex);
        lines.swap(m_state->lines);
        m_state->lines.resize(lines.size());
    }
    std::unordered_set<std::string> seen(taken.begin(), taken.end());
    std::vector<FoundServer> found;
    std::size_t beyond = 0;    // past the most servers discovered in all
    std::size_t refused = 0; // left out for where their credentials would go
    for (std::size_t i = 0; i < lines.size(); ++i) {
        LineState& l = lines[i];
        if (!l.joined)
            l.reason = "no answer in " + InSeconds(m_timing.scan);
        beyond += l.leftOut;
        for (const std::string& line : l.refused)
            if (++refused <= MaxReportedServers)
                errors << line << '\n';
        if (l.servers.empty()) {
            if (l.refused.empty())
                errors << PrintableText(m_lines[i].url) << ": " << PrintableText(l.reason) << '\n';
            continue;
        }
        for (FoundServer& server : l.servers) {
            if (!seen.insert(server.entry.url).second)
                continue; // a line before reached it
            if (found.size() == room) {
                ++beyond;
                continue;
            }
            found.push_back(std::move(server));
        }
    }
    if (refused > MaxReportedServers)
        errors << refused - MaxReportedServers
               << " more servers left out for where exporter-user= may go\n";
    if (beyond > 0)
        errors << beyond << " discovered servers left out: at most " << room << " are listed\n";
    return found;
}
