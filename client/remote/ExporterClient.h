// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The remote servers of the connection table, watched through their Prometheus
// node exporters over HTTP(S). All network work happens on one thread of its
// own (ScrapeThread); a statistics request only copies the newest record of
// its server and never waits. Only opening a connection and the scan for names
// wait, each on a deadline. The calls themselves come from one thread, the
// user interface's.

#include "ClientLibrary.h"
#include "ConnectionTable.h"
#include "RemoteFleet.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <span>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/* How long the client waits or trusts a scrape, and how often it scrapes. */
struct ExporterTiming {
    /* The scan for names, over all servers together. */
    std::chrono::milliseconds scan{3000};
    /* Opening a connection, for its first scrape. */
    std::chrono::milliseconds open{2000};
    /* A server without a good scrape for this long no longer answers. */
    std::chrono::milliseconds stale{5000};
    /* An opened server is scraped this often. */
    std::chrono::milliseconds interval{1000};
};

class FleetTransport;
class ScrapeThread;
struct ServerReading;

class ExporterClient {
public:
    // Result codes of the remote servers, all within 0 to 0xFFFF.
    static constexpr ClientResult NoAnswer = 0x8901;  // no good scrape in time
    static constexpr ClientResult BadAnswer = 0x8902; // an HTTP error, a malformed or oversized
                                                      // reply, or a needed family missing
    static constexpr ClientResult Refused = 0x8903;   // the server answered 401 or 403
    static constexpr ClientResult TlsFailure = 0x8904; // the certificate is not trusted
    static constexpr ClientResult TooManyOpen = 0x8905;    // every handle of the table is in use
    static constexpr ClientResult InvalidHandle = 0x8906;  // the handle is not open
    static constexpr ClientResult UnknownServer = 0x8907;  // no such line in the table
    static constexpr ClientResult UnknownInfoType = 0x8908; // other than the server name

    /* How many handles may be open at once, over all servers; they are 1 to MaxHandles. */
    static constexpr int MaxHandles = 16;
    /* A reply longer than this is cut off and counts as a bad answer. */
    static constexpr std::size_t MaxReplyBytes = std::size_t(4) << 20;

    /* Starts the network thread for `servers`, which may come from the table or elsewhere;
       a discovery line among them lists its servers at the scan. Why a server is left out,
       at the scan or when it stops answering, goes to `errors` as one line "URL: reason". */
    explicit ExporterClient(std::vector<ConnectionEntry> servers, ExporterTiming timing = {},
                            std::ostream& errors = std::cerr);
    /* Stops the network thread at once, whatever is in flight. */
    ~ExporterClient();
    ExporterClient(const ExporterClient&) = delete;
    ExporterClient& operator=(const ExporterClient&) = delete;

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
       most ExporterTiming::open for one good scrape. From then on the network thread scrapes
       it every ExporterTiming::interval until its last handle is closed. */
    ClientResult Open(std::size_t server, ConnectionHandle& handle);
    ClientResult Close(ConnectionHandle handle);
    /* The utilisation over the last two scrapes (0 until there are two), without waiting. */
    ClientResult ServerInfo(ConnectionHandle handle, ServerInfoRecord& record);
    /* The page-fault counters of the newest scrape, without waiting. */
    ClientResult CacheInfo(ConnectionHandle handle, CacheInfoRecord& record);

    /* What the overview asks of the table's lines, after the scan: the list's entries with
       their references, counted from `firstRef`, and the lines it left out. */
    FleetPlan OverviewPlan(ConnRef firstRef) const;
    /* Sends the overview's GETs on the network thread. */
    FleetGet OverviewGet();

private:
    struct HandleSlot {
        bool open = false;
        /* Its failure has been reported to `errors`: once a handle is enough. */
        bool reported = false;
        std::size_t server = 0;
    };

    /* The open slot of a handle, or null. */
    HandleSlot* openSlot(ConnectionHandle handle);
    /* The newest reading of an open handle's server, when it may be used; otherwise the
       code of the request, reported once for the handle. */
    ClientResult freshReading(ConnectionHandle handle, ServerReading& reading);
    /* A failed statistics request's code, reported once for its handle. */
    ClientResult failed(HandleSlot& slot, ClientResult result);

    /* Asks the discovery lines' APIs, whose fetches are under way, and adds the servers
       they list; once, at the first scan. */
    void addDiscovered(std::span<const std::pair<std::size_t, std::size_t>> fetches);
    /* The list in the table's order, and its names told apart. */
    void makeList(std::string_view ownName);

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
    std::unique_ptr<ScrapeThread> m_thread;
    /* The overview's GETs, on the thread; made when first asked for, gone before the thread. */
    std::unique_ptr<FleetTransport> m_overview;
    std::array<HandleSlot, MaxHandles> m_slots{};
    /* The list: for each entry, its server. */
    std::vector<std::size_t> m_listed;
    /* Each server's name as found, as listed (told apart), and the code where the scan
       found none; for a discovered one, the instance that tells it apart. */
    std::vector<std::string> m_foundNames;
    std::vector<std::string> m_names;
    std::vector<ClientResult> m_nameResults;
    std::vector<std::string> m_instances;
};
