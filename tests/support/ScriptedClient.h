// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// A client whose every answer a test sets up beforehand, and which logs
// every call with its arguments so that a test can assert exactly what was asked.
// It answers every call itself; of the stub it keeps the records and their setters.

#include "StubClient.h"

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

/* One logged call: the operation and its scalar arguments in order
   (references, handles, iterators, types, lengths; out-arguments as passed in). */
struct ClientCall {
    ClientOp op;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint32_t c = 0;
    friend bool operator==(const ClientCall&, const ClientCall&) = default;
};

struct ScriptedConnection {
    ConnRef ref = 0;
    /* Bytes of the server name, as the client would write them. */
    std::string name;
    /* Nonzero: reading the name fails with this code. */
    ClientResult nameResult = 0;
    /* False: the name fills the whole buffer without a terminating NUL. */
    bool nulTerminated = true;
};

class ScriptedClient : public StubClient {
public:
    // Codes this client answers with when nothing else is scripted.
    static constexpr ClientResult BadHandle = 0x8801;
    static constexpr ClientResult NoPrimary = 0x8802;
    static constexpr ClientResult UnknownRef = 0x8803;
    /* First handle handed out; each open gets the next. */
    static constexpr ConnectionHandle FirstHandle = 0x100;

    ScriptedClient();

    /* The connections that scans return, in order. */
    std::vector<ScriptedConnection> connections;
    /* Reference of the primary connection; 0 means there is none. */
    ConnRef primary = 0;
    /* A scan that never ends: every step succeeds with the first connection. */
    bool endlessScan = false;
    /* False: statistics requests answer on any handle, open or not. */
    bool requireOpenHandle = true;
    /* What a failed open leaves in the out-handle (left untouched when 0). */
    ConnectionHandle handleLeftByFailedOpen = 0;

    /* Makes `op` return `code` on its `fromCall`-th call (1-based) and, unless
       `once`, on every call after it. Code 0 removes the failure. */
    void Fail(ClientOp op, ClientResult code, int fromCall = 1, bool once = false);

    /* Every call in order. Reserved generously so that logging does not allocate
       within a test's first hundred thousand calls. */
    std::vector<ClientCall> calls;
    int CallCount(ClientOp op) const;
    std::set<ConnectionHandle> openHandles;

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
    struct Failure {
        ClientResult code = 0;
        int fromCall = 1;
        bool once = false;
    };
    /* Logs the call and returns the scripted failure for it, or 0. */
    ClientResult enter(ClientOp op, std::uint32_t a = 0, std::uint32_t b = 0, std::uint32_t c = 0);
    const ScriptedConnection* find(ConnRef ref) const;

    std::array<Failure, ClientOpCount> m_failures{};
    std::array<int, ClientOpCount> m_callCounts{};
    ConnectionHandle m_nextHandle = FirstHandle;
};
