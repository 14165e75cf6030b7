// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "RoutingClient.h"

#include "ConnectionTable.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

RoutingClient::RoutingClient(std::string tablePath, std::string procRoot,
                             ExporterTiming timing, std::ostream& errors)
    : m_tablePath(std::move(tablePath)), m_timing(timing), m_errors(errors),
      m_local(std::move(procRoot)) {}

ClientResult RoutingClient::ClientInit(void* reserved1, void* reserved2) {
    const ClientResult result = m_local.ClientInit(reserved1, reserved2);
    if (result != 0 || m_tableRead)
        return result;
    m_tableRead = true;
    std::vector<ConnectionEntry> servers = ReadConnectionTable(m_tablePath, m_errors);
    if (!servers.empty()) {
        m_remote = std::make_unique<ExporterClient>(std::move(servers), m_timing, m_errors);
        // This machine's name as the stand-in gives it, so that a namesake is told apart.
        std::array<unsigned char, 256> own{};
        if (m_local.GetConnRefInfo(LocalMachineClient::LocalRef, ConnInfoServerName,
                                   std::uint32_t(own.size()), own.data()) != 0)
            own[0] = '\0';
        m_remote->ScanNames(reinterpret_cast<const char*>(own.data()));
    }
    return 0;
}

ClientResult RoutingClient::GetPrimaryConnRef(ConnRef& ref) {
    return m_local.GetPrimaryConnRef(ref);
}

ClientResult RoutingClient::ScanConnRefs(ScanIterator& iterator, ConnRef& ref) {
    // The stand-in's one connection first; past the table's end, its own "no more".
    const std::size_t remote = m_remote ? m_remote->ServerCount() : 0;
    if (iterator == 0 || iterator > remote)
        return m_local.ScanConnRefs(iterator, ref);
    ref = LocalMachineClient::LocalRef + iterator;
    ++iterator;
    return 0;
}

ClientResult RoutingClient::GetConnRefInfo(ConnRef ref, std::uint32_t infoType,
                                           std::uint32_t bufferLength, unsigned char* buffer) {
    std::size_t server = 0;
    if (!remoteServer(ref, server))
        return m_local.GetConnRefInfo(ref, infoType, bufferLength, buffer);
    if (infoType != ConnInfoServerName) {
        if (buffer != nullptr && bufferLength > 0)
            buffer[0] = '\0';
        return ExporterClient::UnknownInfoType;
    }
    return m_remote->ServerName(server, bufferLength, buffer);
}

ClientResult RoutingClient::NWCCOpenConnByRef(ConnRef ref, std::uint32_t openState,
                                              std::uint32_t reserved, ConnectionHandle& handle) {
    std::size_t server = 0;
    const bool remote = remoteServer(ref, server);
    // Each backend has fewer handles than this table, so a route is free whenever the backend
    // can open; the check only keeps that true should the numbers ever change.
    const auto free = std::find_if(m_routes.begin(), m_routes.end(),
                                   [](const Route& r) { return r.backend == Backend::None; });
    if (free == m_routes.end())
        return remote ? ExporterClient::TooManyOpen : LocalMachineClient::TooManyOpen;
    ConnectionHandle inner = 0;
    const ClientResult result = remote ? m_remote->Open(server, inner)
                                       : m_local.NWCCOpenConnByRef(ref, openState, reserved, inner);
    if (result != 0)
        return result;
    *free = Route{remote ? Backend::Remote : Backend::Local, inner};
    handle = ConnectionHandle(free - m_routes.begin()) + 1;
    return 0;
}

ClientResult RoutingClient::CloseConn(ConnectionHandle handle) {
    Route* r = route(handle);
    if (r == nullptr)
        return LocalMachineClient::InvalidHandle;
    const ClientResult result =
        r->backend == Backend::Remote ? m_remote->Close(r->inner) : m_local.CloseConn(r->inner);
    *r = Route{};
    return result;
}

ClientResult RoutingClient::GetServerInfoRecord(ConnectionHandle handle,
                                                ServerInfoRecord& record) {
    const Route* r = route(handle);
    if (r == nullptr) {
        record.fill(std::byte{0});
        return LocalMachineClient::InvalidHandle;
    }
    return r->backend == Backend::Remote ? m_remote->ServerInfo(r->inner, record)
                                         : m_local.GetServerInfoRecord(r->inner, record);
}

ClientResult RoutingClient::GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) {
    const Route* r = route(handle);
    if (r == nullptr) {
        record.fill(std::byte{0});
        return LocalMachineClient::InvalidHandle;
    }
    return r->backend == Backend::Remote ? m_remote->CacheInfo(r->inner, record)
                                         : m_local.GetCacheInfoRecord(r->inner, record);
}

FleetPlan RoutingClient::OverviewPlan() const {
    // The table's servers follow the stand-in's own connection, in list order.
    return m_remote ? m_remote->OverviewPlan(LocalMachineClient::LocalRef + 1) : FleetPlan{};
}

FleetGet RoutingClient::OverviewGet() {
    return m_remote ? m_remote->OverviewGet() : FleetGet{};
}

bool RoutingClient::remoteServer(ConnRef ref, std::size_t& server) const {
    if (!m_remote || ref <= LocalMachineClient::LocalRef ||
        ref - LocalMachineClient::LocalRef > m_remote->ServerCount())
        return false;
    server = ref - LocalMachineClient::LocalRef - 1;
    return true;
}

RoutingClient::Route* RoutingClient::route(ConnectionHandle handle) {
    if (handle < 1 || handle > ConnectionHandle(MaxHandles) ||
        m_routes[handle - 1].backend == Backend::None)
        return nullptr;
    return &m_routes[handle - 1];
}
