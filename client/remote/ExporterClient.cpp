// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ExporterClient.h"

#include "BusyShare.h"
#include "CurlLoop.h"
#include "Discovery.h"
#include "FleetDiscovery.h"
#include "FleetTransport.h"
#include "ScrapeSchedule.h"
#include "ScrapeThread.h"
#include "ServerName.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <unordered_set>

namespace {

using Clock = std::chrono::steady_clock;

/* A listed name's longest, in bytes, as the window's buffer keeps it whole. */
constexpr std::size_t MaxNameBytes = MaxServerNameBytes;

} // namespace

ExporterClient::ExporterClient(std::vector<ConnectionEntry> servers, ExporterTiming timing,
                               std::ostream& errors)
    : m_timing(timing), m_errors(errors) {
    start(std::move(servers));
}

ExporterClient::ExporterClient(std::string tablePath, std::function<std::string()> ownName,
                               ExporterTiming timing, std::ostream& errors)
    : m_tablePath(std::move(tablePath)), m_ownName(std::move(ownName)), m_timing(timing),
      m_errors(errors) {}

ExporterClient::~ExporterClient() = default;

void ExporterClient::start(std::vector<ConnectionEntry> servers) {
    m_started = true;
    for (ConnectionEntry& line : servers) {
        const bool discovery = !line.discoverJob.empty();
        std::vector<ConnectionEntry>& kind = discovery ? m_discoveryLines : m_servers;
        m_lines.emplace_back(discovery, kind.size());
        kind.push_back(std::move(line));
    }
    m_exporterLines = m_servers.size();
    m_discovered.resize(m_discoveryLines.size());
    if (!m_lines.empty())
        m_thread = std::make_unique<ScrapeThread>(m_servers, m_timing);
    m_foundNames.resize(m_servers.size());
    m_names.resize(m_servers.size());
    m_nameResults.resize(m_servers.size(), NoAnswer);
    m_instances.resize(m_servers.size());
    m_listed.resize(m_servers.size());
    std::iota(m_listed.begin(), m_listed.end(), std::size_t(0));
}

ClientResult ExporterClient::ClientInit(void*, void*) {
    if (!m_started) {
        start(ReadConnectionTable(m_tablePath, m_errors));
        if (m_thread)
            ScanNames(m_ownName ? m_ownName() : std::string());
    }
    return 0;
}

ClientResult ExporterClient::GetPrimaryConnRef(ConnRef& ref) {
    if (m_listed.empty())
        return UnknownServer;
    ref = 1;
    return 0;
}

ClientResult ExporterClient::ScanConnRefs(ScanIterator& iterator, ConnRef& ref) {
    if (iterator >= m_listed.size())
        return NoMoreConnections;
    ref = ++iterator;
    return 0;
}

ClientResult ExporterClient::GetConnRefInfo(ConnRef ref, std::uint32_t infoType,
                                            std::uint32_t bufferLength, unsigned char* buffer) {
    if (infoType != ConnInfoServerName) {
        if (buffer != nullptr && bufferLength > 0)
            buffer[0] = '\0';
        return ref >= 1 && ref <= m_listed.size() ? UnknownInfoType : UnknownServer;
    }
    return ServerName(std::size_t(ref) - 1, bufferLength, buffer);
}

ClientResult ExporterClient::NWCCOpenConnByRef(ConnRef ref, std::uint32_t, std::uint32_t,
                                               ConnectionHandle& handle) {
    return ref == 0 ? UnknownServer : Open(std::size_t(ref) - 1, handle);
}

std::size_t ExporterClient::ReplyPoolUsed() {
    return m_thread ? m_thread->PoolUsed() : 0;
}

std::size_t ExporterClient::ServerCount() const {
    return m_listed.size();
}

void ExporterClient::ScanNames(std::string_view ownName) {
    if (!m_thread)
        return;
    const Clock::time_point deadline = Clock::now() + m_timing.scan;
    // Both requests of every discovery line, on the network thread beside the scrapes.
    std::unique_ptr<FleetDiscovery> discovery;
    if (!m_discoveryDone && !m_discoveryLines.empty()) {
        discovery = std::make_unique<FleetDiscovery>(m_discoveryLines, m_timing);
        discovery->Ask(m_thread->Loop());
    }
    std::vector<std::size_t> exporters(m_exporterLines);
    std::iota(exporters.begin(), exporters.end(), std::size_t(0));
    m_thread->Restart(exporters, false);
    m_thread->WaitForAnswers(exporters, deadline);
    if (discovery)
        discovery->Wait(deadline);
    m_thread->EndScan(exporters);
    for (std::size_t server : exporters) {
        const ServerAnswer answer = m_thread->Answer(server);
        std::string& name = m_foundNames[server];
        name.clear();
        m_nameResults[server] = answer.answered ? answer.result : NoAnswer;
        std::string reason = answer.reason;
        if (!answer.answered)
            reason = "no answer in " + InSeconds(m_timing.scan);
        else if (answer.result == 0 && answer.name.empty())
            reason = "the exporter gives no node name fit for a list";
        if (answer.answered && answer.result == 0)
            name = ListableServerName(answer.name, MaxNameBytes); // whole characters
        if (name.empty())
            m_errors << PrintableText(m_servers[server].url) << ": " << PrintableText(reason) << '\n';
    }
    if (!m_discoveryDone) {
        m_discoveryDone = true;
        if (discovery)
            addDiscovered(*discovery);
    }
    makeList(ownName);
    m_errors.flush();
}

void ExporterClient::addDiscovered(FleetDiscovery& discovery) {
    std::vector<FoundServer> found = discovery.Merge({}, MaxDiscoveredServers, m_errors);
    std::vector<ConnectionEntry> added;
    added.reserve(found.size());
    for (FoundServer& server : found) {
        m_discovered[server.line].push_back(m_servers.size() + added.size());
        added.push_back(std::move(server.entry));
        m_foundNames.push_back(std::move(server.name));
        m_instances.push_back(std::move(server.instance));
    }
    m_names.resize(m_foundNames.size());
    m_nameResults.resize(m_foundNames.size(), 0);
    m_servers.insert(m_servers.end(), added.begin(), added.end());
    m_thread->AddServers(std::move(added));
}

void ExporterClient::makeList(std::string_view ownName) {
    // One server reached by an exporter's line and by discovery is listed once, where it
    // comes first; exporters' lines among themselves keep their duplicates, as before.
    std::unordered_set<std::string> listed;
    std::unordered_set<std::string> discovered;
    m_listed.clear();
    for (const auto& [discovery, index] : m_lines) {
        if (!discovery) {
            const std::string url = ScrapeUrl(m_servers[index].url).value_or(m_servers[index].url);
            if (discovered.contains(url))
                continue;
            if (m_nameResults[index] == 0)
                listed.insert(url);
            m_listed.push_back(index);
            continue;
        }
        for (std::size_t server : m_discovered[index]) {
            if (!listed.insert(m_servers[server].url).second)
                continue;
            discovered.insert(m_servers[server].url);
            m_listed.push_back(server);
        }
    }
    std::vector<ListedName> names;
    std::vector<std::size_t> named;
    names.reserve(m_listed.size() + 1);
    if (!ownName.empty())
        names.push_back({std::string(ownName), {}});
    for (std::size_t server : m_listed) {
        if (m_nameResults[server] != 0)
            continue;
        named.push_back(server);
        names.push_back({m_foundNames[server], server < m_exporterLines
                                                   ? HostAndPort(m_servers[server].url)
                                                   : m_instances[server]});
    }
    TellNamesApart(names, MaxNameBytes);
    const std::size_t first = ownName.empty() ? 0 : 1;
    for (std::size_t i = 0; i < named.size(); ++i)
        m_names[named[i]] = std::move(names[first + i].name);
}

ClientResult ExporterClient::ServerName(std::size_t entry, std::uint32_t bufferLength,
                                        unsigned char* buffer) {
    if (buffer == nullptr)
        bufferLength = 0;
    if (bufferLength > 0)
        buffer[0] = '\0';
    if (entry >= m_listed.size())
        return UnknownServer;
    const std::size_t server = m_listed[entry];
    if (m_nameResults[server] != 0)
        return m_nameResults[server];
    if (bufferLength == 0)
        return 0;
    const std::string& name = m_names[server];
    const std::size_t length = std::min<std::size_t>(name.size(), bufferLength - 1);
    std::memcpy(buffer, name.data(), length);
    buffer[length] = '\0';
    return 0;
}

ClientResult ExporterClient::Open(std::size_t entry, ConnectionHandle& handle) {
    if (entry >= m_listed.size())
        return UnknownServer;
    const std::size_t server = m_listed[entry];
    if (m_handles.Full())
        return TooManyOpen;

    // Another handle on the same server keeps its records; a first one starts from nothing.
    const std::size_t servers[] = {server};
    m_thread->Restart(servers, !m_thread->Watched(server));
    m_thread->Watch(server, true);
    m_thread->WaitForAnswers(servers, Clock::now() + m_timing.open);
    const ServerAnswer answer = m_thread->Answer(server);
    const ClientResult result = answer.answered ? answer.result : NoAnswer;
    m_thread->EndScan(servers); // it stays wanted as long as it is watched
    if (result != 0) {
        m_thread->Watch(server, false);
        m_errors << PrintableText(m_servers[server].url) << ": "
                 << PrintableText(answer.answered ? answer.reason
                                                  : "no answer in " + InSeconds(m_timing.open))
                 << std::endl;
        return result;
    }
    handle = *m_handles.Open(Opened{server, false});
    return 0;
}

ClientResult ExporterClient::Close(ConnectionHandle handle) {
    const Opened* slot = m_handles.Find(handle);
    if (slot == nullptr)
        return InvalidHandle;
    // The server's connection stays alive for the next open; its thread stops scraping, and
    // the last close gives back its reply memory.
    m_thread->Watch(slot->server, false);
    m_handles.Close(handle);
    return 0;
}

ClientResult ExporterClient::failed(Opened& slot, ClientResult result) {
    if (!slot.reported) {
        // Once a handle, when it first fails: the window suspends its sampling then.
        slot.reported = true;
        const ServerAnswer answer = m_thread->Answer(slot.server);
        m_errors << PrintableText(m_servers[slot.server].url) << ": ";
        if (result == NoAnswer)
            m_errors << "no good answer in " << InSeconds(m_timing.stale)
                     << (answer.reason.empty() ? "" : "; last: ");
        m_errors << PrintableText(answer.reason) << std::endl;
    }
    return result;
}

ClientResult ExporterClient::freshReading(ConnectionHandle handle, ServerReading& reading) {
    Opened* slot = m_handles.Find(handle);
    if (slot == nullptr)
        return InvalidHandle;
    reading = m_thread->Reading(slot->server);
    if (reading.failure != 0)
        return failed(*slot, reading.failure);
    if (!reading.newest || !ScrapeSchedule::Fresh(reading.newestAt, Clock::now(), m_timing.stale))
        return failed(*slot, NoAnswer);
    return 0;
}

ClientResult ExporterClient::ServerInfo(ConnectionHandle handle, ServerInfoRecord& record) {
    record.fill(std::byte{0});
    ServerReading reading;
    if (const ClientResult result = freshReading(handle, reading); result != 0)
        return result;
    const std::int32_t percent =
        reading.previous ? BusyPercent(reading.previous->cpu, reading.newest->cpu) : 0;
    WriteField32(record, ServerInfoField::Utilization, std::uint32_t(percent));
    return 0;
}

ClientResult ExporterClient::CacheInfo(ConnectionHandle handle, CacheInfoRecord& record) {
    record.fill(std::byte{0});
    ServerReading reading;
    if (const ClientResult result = freshReading(handle, reading); result != 0)
        return result;
    // As the stand-in counts them: every fault a request, one that did not need the disk a hit.
    const ScrapeRecord& newest = *reading.newest;
    WriteField32(record, CacheInfoField::CacheRequests, std::uint32_t(newest.faults));
    WriteField32(record, CacheInfoField::CacheHits,
                 std::uint32_t(newest.faults - newest.majorFaults));
    return 0;
}

FleetPlan ExporterClient::OverviewPlan(ConnRef firstRef) const {
    // Every server of the list has a reference; those without a name the scan left out.
    std::vector<std::optional<ConnRef>> refOf(m_servers.size());
    std::vector<bool> inList(m_servers.size());
    for (std::size_t entry = 0; entry < m_listed.size(); ++entry) {
        const std::size_t server = m_listed[entry];
        inList[server] = true;
        if (m_nameResults[server] == 0)
            refOf[server] = firstRef + ConnRef(entry);
    }
    FleetPlan plan;
    for (const auto& [discovery, index] : m_lines) {
        if (!discovery) {
            // A line whose exporter a discovery line lists, too, has its row there.
            if (!inList[index])
                continue;
            const std::optional<ConnRef> ref = refOf[index];
            plan.plain.push_back({m_servers[index], ref ? m_names[index] : HostAndPort(m_servers[index].url),
                                  ref, ref ? std::string() : std::string("no good answer at start-up")});
            continue;
        }
        FleetDiscoveryLine line{m_discoveryLines[index], {}};
        if (index < m_discovered.size())
            for (std::size_t server : m_discovered[index])
                if (refOf[server])
                    line.listed.push_back({m_names[server], *refOf[server], m_instances[server]});
        plan.discovery.push_back(std::move(line));
    }
    return plan;
}

FleetGet ExporterClient::OverviewGet() {
    if (!m_thread) {
        return [](const ConnectionEntry&, const FleetDone& done) {
            done(FleetFetch{false, "the network did not start", {}});
        };
    }
    if (!m_overview)
        m_overview = std::make_unique<FleetTransport>(m_thread->Loop());
    return m_overview->Get();
}
