// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The remote servers of the connection table, watched through their Prometheus
// node exporters over HTTP(S). Nothing here ever blocks a tick: a statistics
// request only moves the transfers on without waiting, answers at once from the
// newest completed scrape and starts the next one. Only opening a connection and
// the scan for names wait, each for a bounded time. Not thread-safe: all calls
// come from the user-interface thread.

#include "ClientLibrary.h"
#include "ConnectionTable.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

/* How long the client waits or trusts a scrape. */
struct ExporterTiming {
    /* The scan for names, over all servers together. */
    std::chrono::milliseconds scan{3000};
    /* Opening a connection, for its first scrape. */
    std::chrono::milliseconds open{2000};
    /* A server without a completed scrape for this long no longer answers. */
    std::chrono::milliseconds stale{5000};
};

class ExporterClient {
public:
    // Result codes of the remote servers, all within 0 to 0xFFFF.
    static constexpr ClientResult NoAnswer = 0x8901;  // no completed scrape in time
    static constexpr ClientResult BadAnswer = 0x8902; // an HTTP error, a malformed or oversized
                                                      // reply, or a needed family missing
    static constexpr ClientResult Refused = 0x8903;   // the server answered 401 or 403
    static constexpr ClientResult TlsFailure = 0x8904; // no trusted TLS connection
    static constexpr ClientResult TooManyOpen = 0x8905;    // every handle of the table is in use
    static constexpr ClientResult InvalidHandle = 0x8906;  // the handle is not open
    static constexpr ClientResult UnknownServer = 0x8907;  // no such line in the table
    static constexpr ClientResult UnknownInfoType = 0x8908; // other than the server name

    /* How many handles may be open at once, over all servers. */
    static constexpr int MaxHandles = 16;
    /* The first handle; the others follow. Clear of the stand-in's 1..8, of 999 (no connection
       opened) and of 0xFFFF (no primary connection). */
    static constexpr ConnectionHandle FirstHandle = 0x0101;
    /* A reply longer than this is cut off and counts as a bad answer. */
    static constexpr std::size_t MaxReplyBytes = std::size_t(4) << 20;

    explicit ExporterClient(std::vector<ConnectionEntry> servers, ExporterTiming timing = {});
    ~ExporterClient();
    ExporterClient(const ExporterClient&) = delete;
    ExporterClient& operator=(const ExporterClient&) = delete;

    /* The number of servers, in table order; a server is named by its index. */
    std::size_t ServerCount() const;
    /* True for the handles this client hands out, open or not. */
    static bool OwnsHandle(ConnectionHandle handle);

    /* Scrapes every server at once, waiting at most ExporterTiming::scan in all, and keeps the names
       of those that answered well. Cancels what has not finished by then. */
    void ScanNames();
    /* Writes the server's name, as the scan found it, NUL-terminated into `buffer` (cut to
       fit); the code that the scan met when it found none. */
    ClientResult ServerName(std::size_t server, std::uint32_t bufferLength, unsigned char* buffer);
    /* Starts the server afresh, dropping any scrape in flight and every failure, and waits at
       most ExporterTiming::open for one good scrape. */
    ClientResult Open(std::size_t server, ConnectionHandle& handle);
    ClientResult Close(ConnectionHandle handle);
    /* The utilisation over the last two scrapes (0 until there are two), without waiting. */
    ClientResult ServerInfo(ConnectionHandle handle, ServerInfoRecord& record);
    /* The page-fault counters of the newest scrape, without waiting. */
    ClientResult CacheInfo(ConnectionHandle handle, CacheInfoRecord& record);

private:
    struct Transfers;
    struct Server;
    /* One entry of the handle table; its handle is FirstHandle + its index. */
    struct HandleSlot {
        bool open = false;
        std::size_t server = 0;
    };

    /* The server of an open handle after the transfers have moved on, when its newest scrape
       may be used; otherwise null, with the code in `result`. */
    Server* readyServer(ConnectionHandle handle, ClientResult& result);

    ExporterTiming m_timing;
    std::unique_ptr<Transfers> m_transfers;
    std::array<HandleSlot, MaxHandles> m_slots{};
};
