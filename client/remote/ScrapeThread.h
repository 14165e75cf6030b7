// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The exporters' side of the network thread: what the user interface's thread
// asks of each server, and what the network thread found. The network thread
// (CurlLoop) scrapes on the schedule (ScrapeSchedule), reads each reply there
// into a small record, and publishes it; the other side only asks for fresh
// scrapes, says which servers it watches, and copies records under a mutex held
// for the copy. It never calls libcurl, and waits only with a deadline.

#include "ClientLibrary.h"
#include "ConnectionTable.h"
#include "ExporterReply.h"
#include "ExporterTiming.h"
#include "RemoteResults.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

class CurlLoop;
struct FinishedTransfer;

/* What a statistics request needs of a server. */
struct ServerReading {
    /* A failure the newest scrapes met that the server must answer for (HTTP, TLS, the reply). */
    ClientResult failure = 0;
    std::optional<ScrapeRecord> newest;
    std::optional<ScrapeRecord> previous;
    std::chrono::steady_clock::time_point newestAt{};
};

/* How the newest scrape asked for ended, for the open and the scan. */
struct ServerAnswer {
    /* False while it is in flight. */
    bool answered = false;
    /* 0 for a good scrape, its code otherwise (NoAnswer when the network failed). */
    ClientResult result = RemoteCode::NoAnswer;
    /* The node name of a good scrape, fit for a list; empty when it gave none. */
    std::string name;
    /* In words, why the newest failed scrape failed. */
    std::string reason;
};

class ScrapeThread {
public:
    /* Starts the network loop for `servers`; nothing is set up for a server until it is
       first restarted, so a long list costs nothing until it is used. */
    ScrapeThread(std::vector<ConnectionEntry> servers, const ExporterTiming& timing);
    /* Stops the loop at once: transfers in flight, look-ups included, are dropped. */
    ~ScrapeThread();
    ScrapeThread(const ScrapeThread&) = delete;
    ScrapeThread& operator=(const ScrapeThread&) = delete;

    /* The loop, for other requests to share its thread (discovery). */
    CurlLoop& Loop() { return *m_loop; }

    /* Appends servers after those already known, at the next indices. */
    void AddServers(std::vector<ConnectionEntry> servers);
    /* Drops the scrapes in flight of `servers` and starts new ones at once. With `forget`,
       the records of their earlier scrapes go, too. */
    void Restart(std::span<const std::size_t> servers, bool forget);
    /* One more (or one fewer) watcher: a watched server is scraped every interval. */
    void Watch(std::size_t server, bool watch);
    /* Whether the server has any watcher. */
    bool Watched(std::size_t server);
    /* Ends the servers' one-off scrapes for the scan: those nobody watches stop, and give
       back their reply memory. */
    void EndScan(std::span<const std::size_t> servers);
    /* Waits until each of `servers` has answered its newest restart, or until `deadline`. */
    void WaitForAnswers(std::span<const std::size_t> servers,
                        std::chrono::steady_clock::time_point deadline);
    /* Copies the server's newest records: only a copy under the lock. */
    ServerReading Reading(std::size_t server);
    /* Copies how the server's newest restart went. */
    ServerAnswer Answer(std::size_t server);
    /* What the reply memory holds beyond each server's own share, from the network thread. */
    std::size_t PoolUsed();

private:
    struct Shared;
    struct Network;
    /* Tells the loop there is something new. */
    void wake();
    // On the network thread: one turn of the schedule, a scrape's start and its end.
    std::chrono::steady_clock::time_point turn(std::chrono::steady_clock::time_point now);
    bool start(std::size_t server, std::chrono::steady_clock::time_point now);
    void finished(std::size_t server, FinishedTransfer& done);
    /* A server that cannot be scraped answers every restart at once, with `why`. */
    void refuse(std::size_t server, const std::string& why);

    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::vector<Shared> m_shared;        // guarded by m_mutex
    std::vector<ConnectionEntry> m_added; // guarded by m_mutex: not yet taken by the thread
    std::size_t m_poolUsed = 0;           // guarded by m_mutex
    std::unique_ptr<Network> m_network;   // the network thread's own
    std::unique_ptr<CurlLoop> m_loop;     // stops before the rest goes
};
