// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ClientFleet.h"

#include "ResultWords.h"

namespace {

/* A failed call's code, for a row's State. */
std::string Failure(const char* what, ClientResult code) {
    std::string text(what);
    text.append(": ");
    text.append(CodeWithWords(code));
    return text;
}

} // namespace

ClientFleet::ClientFleet(ClientLibrary& client, std::vector<ListedServer> servers)
    : m_client(client), m_watched(servers.size()) {
    m_snapshot.rows.reserve(servers.size());
    for (ListedServer& s : servers) {
        FleetRow row;
        row.name = std::move(s.name);
        row.ref = s.ref;
        row.state = "waiting for the first reading";
        m_snapshot.rows.push_back(std::move(row));
    }
}

ClientFleet::~ClientFleet() {
    Stop();
}

void ClientFleet::Start() {
    m_started = true;
}

void ClientFleet::Stop() {
    m_started = false;
    for (Watched& w : m_watched) {
        if (w.handle)
            m_client.CloseConn(*w.handle);
        // A later start begins afresh: the old counters span the hidden time.
        w = Watched{};
    }
}

bool ClientFleet::Take(FleetSnapshot& into) {
    Tick(Clock::now());
    if (!m_changed)
        return false;
    m_changed = false;
    into = m_snapshot;
    return true;
}

bool ClientFleet::Tick(Clock::time_point now) {
    if (!m_started || m_watched.empty())
        return false;
    // Each tick asks its share, so that a period asks every server once and no tick asks all.
    const std::size_t share = (m_watched.size() + TicksPerPeriod - 1) / TicksPerPeriod;
    for (std::size_t i = 0; i < share; ++i) {
        Visit(m_next, now);
        m_next = (m_next + 1) % m_watched.size();
    }
    return m_changed;
}

void ClientFleet::Visit(std::size_t index, Clock::time_point now) {
    Watched& w = m_watched[index];
    FleetRow& row = m_snapshot.rows[index];
    const FleetRow before = row;
    if (!w.handle) {
        ConnectionHandle handle = 0;
        const ClientResult opened =
            m_client.NWCCOpenConnByRef(*row.ref, OpenStateDefault, 0, handle);
        if (opened != 0) {
            row = FleetRow{row.name, row.ref, {}, {}, {}, Failure("cannot open", opened)};
            m_changed = m_changed || row.state != before.state;
            return;
        }
        w.handle = handle;
        w.askCache = true;
    }
    ClientResult result = 0;
    if (w.askCache) {
        CacheInfoRecord record{};
        result = m_client.GetCacheInfoRecord(*w.handle, record);
        if (result == 0) {
            const std::uint32_t requests = ReadField32(record, CacheInfoField::CacheRequests);
            const std::uint32_t hits = ReadField32(record, CacheInfoField::CacheHits);
            const double seconds = std::chrono::duration<double>(now - w.countedAt).count();
            // The counters wrap in 32 bits; hits outrunning requests is no reading to trust,
            // as the chart also drops it.
            const std::uint32_t dRequests = requests - w.requests.value_or(requests);
            const std::uint32_t dHits = hits - w.hits.value_or(hits);
            if (w.requests && seconds > 0 && std::int32_t(dHits) <= std::int32_t(dRequests)) {
                row.requests = dRequests / seconds;
                row.hits = dHits / seconds;
            }
            w.requests = requests;
            w.hits = hits;
            w.countedAt = now;
        }
    } else {
        ServerInfoRecord record{};
        result = m_client.GetServerInfoRecord(*w.handle, record);
        if (result == 0)
            row.utilisation = std::int32_t(ReadField32(record, ServerInfoField::Utilization));
    }
    w.askCache = !w.askCache;
    if (result != 0) {
        // The handle may be gone with the server: open afresh next time.
        m_client.CloseConn(*w.handle);
        w = Watched{};
        row = FleetRow{row.name, row.ref, {}, {}, {}, Failure("no reading", result)};
    } else {
        row.state = "ok";
    }
    m_changed = m_changed || row.state != before.state || row.utilisation != before.utilisation ||
                row.requests != before.requests || row.hits != before.hits;
}
