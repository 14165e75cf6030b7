// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ScriptedClient.h"

#include <algorithm>
#include <cstring>

ScriptedClient::ScriptedClient() { calls.reserve(100000); }

void ScriptedClient::Fail(ClientOp op, ClientResult code, int fromCall, bool once) {
    m_failures[std::size_t(op)] = Failure{code, fromCall, once};
}

int ScriptedClient::CallCount(ClientOp op) const { return m_callCounts[std::size_t(op)]; }

ClientResult ScriptedClient::enter(ClientOp op, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    calls.push_back({op, a, b, c});
    const int n = ++m_callCounts[std::size_t(op)];
    const Failure& f = m_failures[std::size_t(op)];
    if (f.code == 0 || n < f.fromCall || (f.once && n != f.fromCall))
        return 0;
    return f.code;
}

const ScriptedConnection* ScriptedClient::find(ConnRef ref) const {
    auto it = std::find_if(connections.begin(), connections.end(),
                           [ref](const ScriptedConnection& c) { return c.ref == ref; });
    return it == connections.end() ? nullptr : &*it;
}

ClientResult ScriptedClient::ClientInit(void*, void*) { return enter(ClientOp::ClientInit); }

ClientResult ScriptedClient::GetPrimaryConnRef(ConnRef& ref) {
    if (ClientResult r = enter(ClientOp::GetPrimaryConnRef))
        return r;
    if (primary == 0)
        return NoPrimary;
    ref = primary;
    return 0;
}

ClientResult ScriptedClient::ScanConnRefs(ScanIterator& iterator, ConnRef& ref) {
    if (ClientResult r = enter(ClientOp::ScanConnRefs, iterator))
        return r;
    if (endlessScan && !connections.empty()) {
        ref = connections.front().ref;
        ++iterator;
        return 0;
    }
    if (iterator >= connections.size())
        return NoMoreConnections;
    ref = connections[iterator++].ref;
    return 0;
}

ClientResult ScriptedClient::GetConnRefInfo(ConnRef ref, std::uint32_t infoType,
                                            std::uint32_t bufferLength, unsigned char* buffer) {
    if (ClientResult r = enter(ClientOp::GetConnRefInfo, ref, infoType, bufferLength))
        return r;
    const ScriptedConnection* c = find(ref);
    if (c == nullptr)
        return UnknownRef;
    if (c->nameResult != 0)
        return c->nameResult;
    if (bufferLength == 0)
        return 0; // not even the terminating NUL fits
    if (c->nulTerminated) {
        const std::size_t n = std::min<std::size_t>(c->name.size(), bufferLength - 1);
        std::memcpy(buffer, c->name.data(), n);
        buffer[n] = 0;
    } else {
        // Fill the whole buffer, repeating the name, with no NUL anywhere.
        for (std::uint32_t i = 0; i < bufferLength; ++i)
            buffer[i] = c->name.empty() ? 'x' : static_cast<unsigned char>(c->name[i % c->name.size()]);
    }
    return 0;
}

ClientResult ScriptedClient::NWCCOpenConnByRef(ConnRef ref, std::uint32_t openState,
                                               std::uint32_t reserved, ConnectionHandle& handle) {
    if (ClientResult r = enter(ClientOp::NWCCOpenConnByRef, ref, openState, reserved)) {
        if (handleLeftByFailedOpen != 0)
            handle = handleLeftByFailedOpen;
        return r;
    }
    if (find(ref) == nullptr && ref != primary)
        return UnknownRef;
    handle = m_nextHandle++;
    openHandles.insert(handle);
    return 0;
}

ClientResult ScriptedClient::CloseConn(ConnectionHandle handle) {
    if (ClientResult r = enter(ClientOp::CloseConn, handle))
        return r;
    return openHandles.erase(handle) != 0 ? 0 : BadHandle;
}

ClientResult ScriptedClient::GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) {
    if (ClientResult r = enter(ClientOp::GetServerInfoRecord, handle))
        return r;
    if (requireOpenHandle && !openHandles.contains(handle))
        return BadHandle;
    record = serverRecord;
    return 0;
}

ClientResult ScriptedClient::GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) {
    if (ClientResult r = enter(ClientOp::GetCacheInfoRecord, handle))
        return r;
    if (requireOpenHandle && !openHandles.contains(handle))
        return BadHandle;
    record = cacheRecord;
    return 0;
}
