// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The eight operations of the file-server client that this program calls.
// Every backend (the real client where it exists, the stand-in elsewhere,
// scripted clients in tests) implements this one interface.

#include "ReplyRecords.h"

#include <cstdint>

/* Result of a client operation: 0 is success; the client's codes fit in 16 bits. */
using ClientResult = std::uint32_t;
/* Reference to a connection that the client holds, without opening it. */
using ConnRef = std::uint32_t;
/* Position of a connection scan, owned by the caller: 0 before the first call. */
using ScanIterator = std::uint32_t;
/* Handle of an opened connection, passed to every statistics request. */
using ConnectionHandle = std::uint32_t;

/* Information type of GetConnRefInfo that yields the server name. */
inline constexpr std::uint32_t ConnInfoServerName = 7;
/* The buffer a server name is read into: 255 bytes, so a name that a backend builds is at
   most MaxServerNameBytes long, to end in its NUL within the buffer. */
inline constexpr std::uint32_t ServerNameBufferBytes = 255;
inline constexpr std::uint32_t MaxServerNameBytes = ServerNameBufferBytes - 1;
/* Open state that NWCCOpenConnByRef is called with. */
inline constexpr std::uint32_t OpenStateDefault = 1;

class ClientLibrary {
public:
    virtual ~ClientLibrary() = default;

    /* Starts the client; both arguments are reserved and null. 0 when ready. */
    virtual ClientResult ClientInit(void* reserved1, void* reserved2) = 0;
    /* Reference of the primary connection. */
    virtual ClientResult GetPrimaryConnRef(ConnRef& ref) = 0;
    /* Next connection reference after `iterator`, advancing it; nonzero once none is left. */
    virtual ClientResult ScanConnRefs(ScanIterator& iterator, ConnRef& ref) = 0;
    /* Writes a NUL-terminated text of the given information type into `buffer`,
       which holds `bufferLength` bytes. */
    virtual ClientResult GetConnRefInfo(ConnRef ref, std::uint32_t infoType,
                                        std::uint32_t bufferLength, unsigned char* buffer) = 0;
    /* Opens the referenced connection into `handle`. */
    virtual ClientResult NWCCOpenConnByRef(ConnRef ref, std::uint32_t openState,
                                           std::uint32_t reserved, ConnectionHandle& handle) = 0;
    /* Closes a handle; harmless on one that is no longer open. */
    virtual ClientResult CloseConn(ConnectionHandle handle) = 0;
    /* Fills the server's general statistics; nonzero on a handle that is not open. */
    virtual ClientResult GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) = 0;
    /* Fills the server's cache statistics; nonzero on a handle that is not open. */
    virtual ClientResult GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) = 0;
};

/* The client library of this platform: the real one where it is present,
   otherwise the stand-in. Lives for the whole run. */
ClientLibrary& PlatformClient();
