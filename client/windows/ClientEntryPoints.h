// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// How the real client's two libraries are called: which library and ordinal
// serves each operation, and the signature of each entry point. Every argument
// is a 32-bit value or a pointer.

#include "ClientLibrary.h"

#include <array>
#include <cstddef>
#include <cstdint>

/* The calling convention of the client's entry points: the callee removes its
   arguments, so a mismatch would corrupt the caller's stack on every call. */
#define CLIENT_CALL __stdcall

using ClientInitEntry = ClientResult(CLIENT_CALL*)(void* reserved1, void* reserved2);
using GetPrimaryConnRefEntry = ClientResult(CLIENT_CALL*)(ConnRef* ref);
using ScanConnRefsEntry = ClientResult(CLIENT_CALL*)(ScanIterator* iterator, ConnRef* ref);
using GetConnRefInfoEntry = ClientResult(CLIENT_CALL*)(ConnRef ref, std::uint32_t infoType,
                                                       std::uint32_t bufferLength,
                                                       unsigned char* buffer);
using OpenConnByRefEntry = ClientResult(CLIENT_CALL*)(ConnRef ref, std::uint32_t openState,
                                                      std::uint32_t reserved,
                                                      ConnectionHandle* handle);
using CloseConnEntry = ClientResult(CLIENT_CALL*)(ConnectionHandle handle);
using GetServerInfoRecordEntry = ClientResult(CLIENT_CALL*)(ConnectionHandle handle,
                                                            std::byte* record);
using GetCacheInfoRecordEntry = ClientResult(CLIENT_CALL*)(ConnectionHandle handle,
                                                           std::byte* record);

enum class ClientDll { Cal, Clx };

/* The eight operations, in the order of EntryOrdinals. */
enum class Entry {
    ClientInit,
    GetServerInfoRecord,
    GetCacheInfoRecord,
    GetPrimaryConnRef,
    ScanConnRefs,
    GetConnRefInfo,
    NWCCOpenConnByRef,
    CloseConn,
};
inline constexpr std::size_t EntryCount = 8;

struct EntryOrdinal {
    Entry entry;
    ClientDll library;
    std::uint16_t ordinal;
};

/* Where each operation lives; the client exports them by ordinal only. */
inline constexpr std::array<EntryOrdinal, EntryCount> EntryOrdinals{{
    {Entry::ClientInit, ClientDll::Cal, 377},
    {Entry::GetServerInfoRecord, ClientDll::Cal, 410},
    {Entry::GetCacheInfoRecord, ClientDll::Cal, 403},
    {Entry::GetPrimaryConnRef, ClientDll::Clx, 111},
    {Entry::ScanConnRefs, ClientDll::Clx, 113},
    {Entry::GetConnRefInfo, ClientDll::Clx, 115},
    {Entry::NWCCOpenConnByRef, ClientDll::Clx, 102},
    {Entry::CloseConn, ClientDll::Clx, 103},
}};

// The table is indexed by Entry: keep its order in step with the enumeration.
static_assert([] {
    for (std::size_t i = 0; i < EntryCount; ++i)
        if (std::size_t(EntryOrdinals[i].entry) != i)
            return false;
    return true;
}());
