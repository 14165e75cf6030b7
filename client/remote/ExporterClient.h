// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The remote servers of the connection table, watched through their Prometheus
// node exporters over HTTP(S), as a client of its own: references 1, 2, ... are the
// servers listed, in table order. All network work happens on one thread of its
// own (ScrapeThread); a statistics request only copies the newest record of its
// server and never waits. Only opening a connection and the scan for names wait,
// each on a deadline. The calls themselves come from one thread, the user
// interface's.

#include "ClientLibrary.h"
#include "ConnectionTable.h"
#include "ExporterTiming.h"
#include "HandleTable.h"
#include "RemoteFleet.h"
#include "RemoteResults.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class FleetTransport;
class ScrapeThread;
struct ServerReading;

class ExporterClient : public ClientLibrary {
public:
    static constexpr ClientResult NoAnswer = RemoteCode::NoAnswer;
    static constexpr ClientResult BadAnswer = RemoteCode::BadAnswer;
    static constexpr ClientResult Refused = RemoteCode::Refused;
    static constexpr ClientResult TlsFailure = RemoteCode::TlsFailure;
    static constexpr ClientResult TooManyOpen = RemoteCode::TooManyOpen;
    static constexpr ClientResult InvalidHandle = RemoteCode::InvalidHandle;
    static constexpr ClientResult UnknownServer = RemoteCode::UnknownServer;
    static constexpr ClientResult UnknownInfoType = RemoteCode::UnknownInfoType;
    static constexpr ClientResult NoMoreConnections = RemoteCode::NoMoreConnections;

    /* How many handles may be open at once, over all servers; they are 1 to MaxHandles. */
    static constexpr int MaxHandles = 16;
    static constexpr std::size_t MaxReplyBytes = MaxExporterReplyBytes;

    /* Starts the network thread for `servers`, which may come from the table or elsewhere;
       a discovery line among them lists its servers at the scan. Why a server is left out,
       at the scan, when an open fails or when it stops answering, goes to `errors` as one
       line "URL: reason". */
    explicit ExporterClient(std::vector<ConnectionEntry> servers, ExporterTiming timing = {},
                            std::ostream& errors = std::cerr);
    /* Reads the table at `tablePath` when ClientInit first runs; the network thread starts only
       for a table with servers in it. `ownName` gives this machine's name as its own client
       lists it, so that a namesake is told apart. */
    ExporterClient(std::string tablePath, std::function<std::string()> ownName,
                   ExporterTiming timing = {}, std::ostream& errors = std::cerr);
    /* Stops the network thread at once, whatever is in flight. */
    ~ExporterClient() override;
    ExporterClient(const ExporterClient&) = delete;
    ExporterClient& operator=(const ExporterClient&) = delete;

    // The client interface: references are ServerCount()'s entries, + 1.
    /* Reads the table (once) and scans, as ScanNames. */
    ClientResult ClientInit(void* reserved1, void* reserved2) override;
    ClientResult GetPrimaryConnRef(ConnRef& ref) override;
    ClientResult ScanConnRefs(ScanIterator& iterator, ConnRef& ref) override;
    ClientResult GetConnRefInfo(ConnRef ref, std::uint32_t infoType, std::uint32_t bufferLength,
                                unsigned char* buffer) override;
    ClientResult NWCCOpenConnByRef(ConnRef ref, std::uint32_t openState, std::uint32_t reserved,
                                   ConnectionHandle& handle) override;
    ClientResult CloseConn(ConnectionHandle handle) override { return Close(handle); }
    ClientResult GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) override {
        return ServerInfo(handle, record);
    }
    ClientResult GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) override {
        return CacheInfo(handle, record);
    }

    /* The number of servers listed, in the table's order; a server is named by its index.
       Before the scan, the exporters' own lines. */
    std::size_t ServerCount() const;
    /* Scrapes every exporter's line and asks every discovery line's API, all at once,
       waiting at most ExporterTiming::scan in all. Keeps the names of the exporters that
       answered well and the servers the discovery lines list (their names are the API's,
       and they are not scraped now), in the table's order, each discovery line's sorted by
       name; one that a line before already reached is listed once. Names that two entries
       share, `ownName` (this machine's) among them, get their place added, and `ownName`
       stays as it is. Reports what is left out, and why, to `errors`. */
    void ScanNames(std::string_view ownName = {});
    /* Writes the server's name, as the scan found it, NUL-terminated into `buffer` (cut to
       fit); the code that the scan met when it found none. */
    ClientResult ServerName(std::size_t server, std::uint32_t bufferLength, unsigned char* buffer);
    /* Starts the server afresh, dropping any scrape in flight and every failure, and waits at
       most ExporterTiming::open for one good scrape; a failure is reported as "URL: reason".
       From then on the network thread scrapes it every ExporterTiming::interval until its
       last handle is closed, when it gives back its reply memory. */
    ClientResult Open(std::size_t server, ConnectionHandle& handle);
    ClientResult Close(ConnectionHandle handle);
    /* The utilisation over the last two scrapes (0 until there are two), without waiting. */
    ClientResult ServerInfo(ConnectionHandle handle, ServerInfoRecord& record);
    /* The page-fault counters of the newest scrape, without waiting. */
    ClientResult CacheInfo(ConnectionHandle handle, CacheInfoRecord& record);
    /* What the reply memory holds beyond every server's own share: 0 at its floor. */
    std::size_t ReplyPoolUsed();

    /* What the overview asks of the table's lines, after the scan: the list's entries with
       their references, counted from `firstRef`, and the lines it left out. */
    FleetPlan OverviewPlan(ConnRef firstRef) const;
    /* Sends the overview's GETs on the network thread. */
    FleetGet OverviewGet();

private:
    struct Opened {
        std::size_t server = 0;
        /* Its failure has been reported to `errors`: once a handle is enough. */
        bool reported = false;
    };

    /* Sorts the table's lines into exporters and discovery lines, and starts the thread. */
    void start(std::vector<ConnectionEntry> servers);
    /* The newest reading of an open handle's server, when it may be used; otherwise the
       code of the request, reported once for the handle. */
    ClientResult freshReading(ConnectionHandle handle, ServerReading& reading);
    /* A failed statistics request's code, reported once for its handle. */
    ClientResult failed(Opened& slot, ClientResult result);
    /* Adds the servers that the discovery lines list; once, at the first scan. */
    void addDiscovered(class FleetDiscovery& discovery);
    /* The list in the table's order, and its names told apart. */
    void makeList(std::string_view ownName);

    std::string m_tablePath;
    std::function<std::string()> m_ownName;
    bool m_started = false;
    /* The table's discovery lines, and for each the servers it listed. */
    std::vector<ConnectionEntry> m_discoveryLines;
    std::vector<std::vector<std::size_t>> m_discovered;
    bool m_discoveryDone = false;
    /* For each line of the table: whether it is a discovery line, and its index among those
       or among the servers. */
    std::vector<std::pair<bool, std::size_t>> m_lines;
    /* The servers the thread knows: the exporters' own lines in table order, then those
       that the discovery lines listed. */
    std::vector<ConnectionEntry> m_servers;
    std::size_t m_exporterLines = 0;
    ExporterTiming m_timing;
    std::ostream& m_errors;
    /* The overview's GETs on the thread's loop, made when first asked for. Declared before the
       thread: the reply memory of its transfers must outlive the loop. */
    std::unique_ptr<FleetTransport> m_overview;
    std::unique_ptr<ScrapeThread> m_thread;
    HandleTable<Opened, MaxHandles> m_handles;
    /* The list: for each entry, its server. */
    std::vector<std::size_t> m_listed;
    /* Each server's name as found, as listed (told apart), and the code where the scan
       found none; for a discovered one, the instance that tells it apart. */
    std::vector<std::string> m_foundNames;
    std::vector<std::string> m_names;
    std::vector<ClientResult> m_nameResults;
    std::vector<std::string> m_instances;
};
