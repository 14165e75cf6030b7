// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Two clients joined into one, through the client interface alone: the first's
// connections, its primary among them, then the second's. On this platform the first
// is this machine through the stand-in and the second the connection table's
// servers through their node exporters; without a table it is exactly the stand-in.
// It hands out its own references and handles, each standing for one backend's,
// so that no backend's numbers reach the caller, and answers with codes of its own
// for those it does not know.

#include "ClientLibrary.h"
#include "ExporterTiming.h"
#include "HandleTable.h"

#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class RoutingClient : public ClientLibrary {
public:
    // Result codes of the router itself, all within 0 to 0xFFFF.
    static constexpr ClientResult NoMoreConnections = 0x88FF; // the scan has passed the last one
    static constexpr ClientResult InvalidHandle = 0x8A01;     // the handle is not open
    static constexpr ClientResult UnknownConnRef = 0x8A02;    // no such connection reference
    static constexpr ClientResult TooManyOpen = 0x8A03;       // every handle of the table is in use

    /* The most handles open at once, over both backends. */
    static constexpr int MaxHandles = 32;

    /* Joins `first` and `second`; ClientInit starts the first, then the second. */
    RoutingClient(std::unique_ptr<ClientLibrary> first, std::unique_ptr<ClientLibrary> second);
    /* This platform's: the stand-in on `procRoot`, then the servers of the table at
       `tablePath`, read and scanned by ClientInit, which reports unusable lines and servers
       left out to `errors`. Tests pass their own. */
    explicit RoutingClient(std::string tablePath, std::string procRoot = "/proc",
                           ExporterTiming timing = {}, std::ostream& errors = std::cerr);

    /* Starts the first backend, and once it is ready the second; a second that cannot start
       lists nothing. Then numbers their connections. */
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

    /* The second backend, as given. */
    ClientLibrary& Second() { return *m_second; }
    /* This client's reference for the connection `inner` of `backend`, once numbered. */
    std::optional<ConnRef> OuterRef(const ClientLibrary& backend, ConnRef inner) const;

private:
    /* What one of this client's references or handles stands for. */
    struct Route {
        ClientLibrary* backend = nullptr;
        std::uint32_t inner = 0;
    };

    /* The route of a reference, or null. */
    const Route* ref(ConnRef ref);
    /* Numbers the connections of `backend` after those already known. */
    void number(ClientLibrary& backend);

    std::unique_ptr<ClientLibrary> m_first;
    std::unique_ptr<ClientLibrary> m_second;
    bool m_secondStarted = false;
    std::vector<Route> m_refs; // reference - 1
    HandleTable<Route, MaxHandles> m_handles;
};

struct ListedServer;
class FleetReadings;
/* The overview's readings of a router made by this platform's constructor: this machine from
   `listed` through the stand-in, and the table's servers; the platform's PlatformFleet. */
std::unique_ptr<FleetReadings> RoutedFleet(RoutingClient& router, std::vector<ListedServer> listed);
