// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "RoutingClient.h"

#include <algorithm>

RoutingClient::RoutingClient(std::unique_ptr<ClientLibrary> first,
                             std::unique_ptr<ClientLibrary> second)
    : m_first(std::move(first)), m_second(std::move(second)) {}

ClientResult RoutingClient::ClientInit(void* reserved1, void* reserved2) {
    const ClientResult result = m_first->ClientInit(reserved1, reserved2);
    if (result != 0)
        return result;
    if (!m_secondStarted) {
        // The second starts once, and only after the first, whose names it may ask for.
        m_secondStarted = true;
        const bool second = m_second && m_second->ClientInit(nullptr, nullptr) == 0;
        m_refs.clear();
        number(*m_first);
        if (second)
            number(*m_second);
    }
    return 0;
}

void RoutingClient::number(ClientLibrary& backend) {
    ScanIterator iterator = 0;
    ConnRef inner = 0;
    // Bounded, should a backend never say "no more".
    for (std::size_t steps = 0; steps < 1'000'000 && backend.ScanConnRefs(iterator, inner) == 0;
         ++steps)
        m_refs.push_back({&backend, inner});
}

const RoutingClient::Route* RoutingClient::ref(ConnRef ref) {
    // Before the start, the first backend's connections alone, as that backend answers them.
    if (!m_secondStarted && m_refs.empty())
        number(*m_first);
    if (ref < 1 || ref > m_refs.size())
        return nullptr;
    return &m_refs[ref - 1];
}

ClientResult RoutingClient::GetPrimaryConnRef(ConnRef& ref) {
    ConnRef inner = 0;
    const ClientResult result = m_first->GetPrimaryConnRef(inner);
    if (result != 0)
        return result;
    if (!m_secondStarted && m_refs.empty())
        number(*m_first);
    const auto found = std::find_if(m_refs.begin(), m_refs.end(), [&](const Route& r) {
        return r.backend == m_first.get() && r.inner == inner;
    });
    if (found == m_refs.end())
        return UnknownConnRef;
    ref = ConnRef(found - m_refs.begin()) + 1;
    return 0;
}

ClientResult RoutingClient::ScanConnRefs(ScanIterator& iterator, ConnRef& connRef) {
    if (!m_secondStarted && m_refs.empty())
        number(*m_first);
    if (iterator >= m_refs.size())
        return NoMoreConnections;
    connRef = ++iterator;
    return 0;
}

ClientResult RoutingClient::GetConnRefInfo(ConnRef connRef, std::uint32_t infoType,
                                           std::uint32_t bufferLength, unsigned char* buffer) {
    const Route* r = ref(connRef);
    if (r == nullptr) {
        if (buffer != nullptr && bufferLength > 0)
            buffer[0] = '\0';
        return UnknownConnRef;
    }
    return r->backend->GetConnRefInfo(r->inner, infoType, bufferLength, buffer);
}

ClientResult RoutingClient::NWCCOpenConnByRef(ConnRef connRef, std::uint32_t openState,
                                              std::uint32_t reserved, ConnectionHandle& handle) {
    const Route* r = ref(connRef);
    if (r == nullptr)
        return UnknownConnRef;
    if (m_handles.Full())
        return TooManyOpen;
    ConnectionHandle inner = 0;
    const ClientResult result = r->backend->NWCCOpenConnByRef(r->inner, openState, reserved, inner);
    if (result != 0)
        return result;
    handle = *m_handles.Open(Route{r->backend, inner});
    return 0;
}

ClientResult RoutingClient::CloseConn(ConnectionHandle handle) {
    const Route* r = m_handles.Find(handle);
    if (r == nullptr)
        return InvalidHandle;
    const ClientResult result = r->backend->CloseConn(r->inner);
    m_handles.Close(handle);
    return result;
}

ClientResult RoutingClient::GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) {
    const Route* r = m_handles.Find(handle);
    if (r == nullptr) {
        record.fill(std::byte{0});
        return InvalidHandle;
    }
    return r->backend->GetServerInfoRecord(r->inner, record);
}

ClientResult RoutingClient::GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) {
    const Route* r = m_handles.Find(handle);
    if (r == nullptr) {
        record.fill(std::byte{0});
        return InvalidHandle;
    }
    return r->backend->GetCacheInfoRecord(r->inner, record);
}

std::optional<ConnRef> RoutingClient::OuterRef(const ClientLibrary& backend, ConnRef inner) const {
    const auto found = std::find_if(m_refs.begin(), m_refs.end(), [&](const Route& r) {
        return r.backend == &backend && r.inner == inner;
    });
    if (found == m_refs.end())
        return std::nullopt;
    return ConnRef(found - m_refs.begin()) + 1;
}
