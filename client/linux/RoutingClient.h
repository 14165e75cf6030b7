// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The client of this platform: this machine through the stand-in, as the primary
// connection and reference 1, and after it every server of the connection table,
// references 2, 3, ... in table order, through their node exporters. Without a
// table, or with an empty one, it is exactly the stand-in. It hands out its own
// handles, each standing for one backend's handle, so that no backend's numbers
// reach the caller.

#include "ClientLibrary.h"
#include "ExporterClient.h"
#include "LocalMachineClient.h"

#include <array>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>

class RoutingClient : public ClientLibrary {
public:
    /* `tablePath` is read once, by ClientInit, which reports unusable lines to `errors`;
       `procRoot` is where the stand-in finds the proc file system. Tests pass their own. */
    explicit RoutingClient(std::string tablePath, std::string procRoot = "/proc",
                           ExporterTiming timing = {}, std::ostream& errors = std::cerr);

    /* Starts the stand-in, reads the table and scans its servers for their names, waiting at
       most the timing's scan for all of them together. */
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

    /* What the overview asks of the table's servers, as the list holds them. */
    FleetPlan OverviewPlan() const;
    /* Sends the overview's GETs on the network thread; empty without a table. */
    FleetGet OverviewGet();

    /* The most handles open at once: every backend's all together. */
    static constexpr int MaxHandles = LocalMachineClient::MaxHandles + ExporterClient::MaxHandles;

private:
    enum class Backend { None, Local, Remote };
    /* What one of this client's handles stands for; its handle is its index + 1. */
    struct Route {
        Backend backend = Backend::None;
        ConnectionHandle inner = 0;
    };

    /* The remote server behind a reference, or false for the stand-in's own. */
    bool remoteServer(ConnRef ref, std::size_t& server) const;
    /* The route of an open handle, or null. */
    Route* route(ConnectionHandle handle);

    std::string m_tablePath;
    ExporterTiming m_timing;
    std::ostream& m_errors;
    LocalMachineClient m_local;
    bool m_tableRead = false;
    /* Only a table with servers in it brings up the network at all. */
    std::unique_ptr<ExporterClient> m_remote;
    std::array<Route, MaxHandles> m_routes{};
};
