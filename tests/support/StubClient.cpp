// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "StubClient.h"

#include <algorithm>
#include <cstring>

void StubClient::SetUtilization(std::int32_t percent) {
    WriteField32(serverRecord, ServerInfoField::Utilization, std::uint32_t(percent));
}

void StubClient::SetCacheCounters(std::uint32_t requests, std::uint32_t hits) {
    WriteField32(cacheRecord, CacheInfoField::CacheRequests, requests);
    WriteField32(cacheRecord, CacheInfoField::CacheHits, hits);
}

int StubClient::StubCalls() const {
    int all = 0;
    for (const int calls : m_stubCalls)
        all += calls;
    return all;
}

ClientResult StubClient::ClientInit(void*, void*) {
    count(ClientOp::ClientInit);
    return 0;
}

ClientResult StubClient::GetPrimaryConnRef(ConnRef& ref) {
    count(ClientOp::GetPrimaryConnRef);
    ref = Ref;
    return 0;
}

ClientResult StubClient::ScanConnRefs(ScanIterator& iterator, ConnRef& ref) {
    count(ClientOp::ScanConnRefs);
    if (iterator != 0)
        return NoMoreConnections;
    iterator = 1;
    ref = Ref;
    return 0;
}

ClientResult StubClient::GetConnRefInfo(ConnRef, std::uint32_t, std::uint32_t bufferLength,
                                        unsigned char* buffer) {
    count(ClientOp::GetConnRefInfo);
    if (bufferLength == 0)
        return 0;
    const std::size_t n = std::min<std::size_t>(name.size(), bufferLength - 1);
    std::memcpy(buffer, name.data(), n);
    buffer[n] = 0;
    return 0;
}

ClientResult StubClient::NWCCOpenConnByRef(ConnRef, std::uint32_t, std::uint32_t,
                                           ConnectionHandle& handle) {
    count(ClientOp::NWCCOpenConnByRef);
    handle = Handle;
    return 0;
}

ClientResult StubClient::CloseConn(ConnectionHandle) {
    count(ClientOp::CloseConn);
    return 0;
}

ClientResult StubClient::GetServerInfoRecord(ConnectionHandle, ServerInfoRecord& record) {
    count(ClientOp::GetServerInfoRecord);
    record = serverRecord;
    return 0;
}

ClientResult StubClient::GetCacheInfoRecord(ConnectionHandle, CacheInfoRecord& record) {
    count(ClientOp::GetCacheInfoRecord);
    record = cacheRecord;
    return 0;
}
