// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The stand-in client used wherever the real file-server client is absent:
// it serves one connection, this machine, and reports its real CPU
// utilisation and page-fault counters read from /proc. Not thread-safe: all
// calls come from the user-interface thread, as with the real client.

#include "BusyShare.h"
#include "ClientLibrary.h"
#include "HandleTable.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class LocalMachineClient : public ClientLibrary {
public:
    // Result codes of this client, all within 0 to 0xFFFF.
    static constexpr ClientResult NoMoreConnections =
        0x88FF;                                           // the scan has passed the last connection
    static constexpr ClientResult InvalidHandle = 0x8801; // the handle is not open
    static constexpr ClientResult UnknownConnRef = 0x8802; // no such connection reference
    static constexpr ClientResult UnknownInfoType =
        0x8803; // information type other than the server name
    static constexpr ClientResult TooManyOpen = 0x8804;    // every handle of the table is in use
    static constexpr ClientResult ProcUnreadable = 0x8805; // /proc could not be read or parsed

    /* The reference of the one connection, this machine. */
    static constexpr ConnRef LocalRef = 1;
    /* How many handles may be open at once. */
    static constexpr int MaxHandles = 8;

    /* `procRoot` is where the proc file system is mounted; tests pass a fake tree. */
    explicit LocalMachineClient(std::string procRoot = "/proc");

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
    /* What an open handle holds. */
    struct HandleSlot {
        /* CPU times at the open or at the last successful utilisation request. */
        CpuTimes since{};
    };

    /* Reads `path` into m_buffer and returns a view of it, valid until the next read. A file
       larger than the buffer yields only its complete lines that fit. Empty on any failure. */
    std::optional<std::string_view> readFile(const std::string& path);
    /* The aggregate CPU times from the stat file; empty when unreadable or garbled. */
    std::optional<CpuTimes> readCpuTimes();
    /* The aggregate "cpu" line of a stat file's text; empty when missing or garbled. */
    static std::optional<CpuTimes> parseCpuLine(std::string_view stat);

    std::string m_statPath;
    std::string m_vmstatPath;
    std::string m_hostnamePath;
    HandleTable<HandleSlot, MaxHandles> m_handles;
    // /proc/vmstat is a few KB; one buffer serves every read, so requests never allocate.
    std::array<char, 16384> m_buffer{};
};
