// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "RoutingClient.h"

#include "ConnectionTable.h"

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
        m_remote = std::make_unique<ExporterClient>(std::move(servers), m_timing);
        m_remote->ScanNames();
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
    if (!remoteServer(ref, server))
        return m_local.NWCCOpenConnByRef(ref, openState, reserved, handle);
    return m_remote->Open(server, handle);
}

ClientResult RoutingClient::CloseConn(ConnectionHandle handle) {
    return remoteHandle(handle) ? m_remote->Close(handle) : m_local.CloseConn(handle);
}

ClientResult RoutingClient::GetServerInfoRecord(ConnectionHandle handle,
                                                ServerInfoRecord& record) {
    return remoteHandle(handle) ? m_remote->ServerInfo(handle, record)
                                : m_local.GetServerInfoRecord(handle, record);
}

ClientResult RoutingClient::GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) {
    return remoteHandle(handle) ? m_remote->CacheInfo(handle, record)
                                : m_local.GetCacheInfoRecord(handle, record);
}

bool RoutingClient::remoteServer(ConnRef ref, std::size_t& server) const {
    if (!m_remote || ref <= LocalMachineClient::LocalRef ||
        ref - LocalMachineClient::LocalRef > m_remote->ServerCount())
        return false;
    server = ref - LocalMachineClient::LocalRef - 1;
    return true;
}

bool RoutingClient::remoteHandle(ConnectionHandle handle) const {
    return m_remote && ExporterClient::OwnsHandle(handle);
}
