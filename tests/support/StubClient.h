// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The simplest client a test, benchmark or fuzzer can stand on: one server, reference 1
// (also the primary) named `name`, opened as handle 1; every call succeeds, and the
// statistics requests copy out the records set beforehand. A fake that differs derives
// from it and overrides only what differs.

#include "ClientLibrary.h"

#include <array>
#include <cstdint>
#include <string>

enum class ClientOp {
    ClientInit,
    GetPrimaryConnRef,
    ScanConnRefs,
    GetConnRefInfo,
    NWCCOpenConnByRef,
    CloseConn,
    GetServerInfoRecord,
    GetCacheInfoRecord,
};
inline constexpr int ClientOpCount = 8;

class StubClient : public ClientLibrary {
public:
    static constexpr ConnRef Ref = 1;
    static constexpr ConnectionHandle Handle = 1;
    /* What a scan answers once past the one server. */
    static constexpr ClientResult NoMoreConnections = 0x88FF;

    /* The server's name, cut to the caller's buffer and always NUL-terminated. */
    std::string name = "stub-server";
    /* The records that statistics requests copy out. */
    ServerInfoRecord serverRecord{};
    CacheInfoRecord cacheRecord{};
    void SetUtilization(std::int32_t percent);
    void SetCacheCounters(std::uint32_t requests, std::uint32_t hits);

    /* Calls of `op` that reached this stub's own answer (not those an override kept). */
    int StubCalls(ClientOp op) const { return m_stubCalls[std::size_t(op)]; }
    /* The same over every operation: 0 where the overrides answered all that was asked. */
    int StubCalls() const;

    ClientResult ClientInit(void* reserved1, void* reserved2) override;
    ClientResult GetPrimaryConnRef(ConnRef& ref) override;
    ClientResult ScanConnRefs(ScanIterator& iterator, ConnRef& ref) override;
    ClientResult GetConnRefInfo(ConnRef ref, std::uint32_t infoType, std::uint32_t bufferLength,
                                unsigned char* buffer) override;
    ClientResult NWCCOpenConnByRef(ConnRef ref, std::uint32_t openState, std::uint32_t reserved,
                                   ConnectionHandle& handle) override;
    ClientResult CloseConn(ConnectionHandle handle) override;
    ClientResult GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) override;
    ClientResult GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) override;

private:
    void count(ClientOp op) { ++m_stubCalls[std::size_t(op)]; }
    std::array<int, ClientOpCount> m_stubCalls{};
};
