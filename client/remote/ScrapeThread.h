// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The one network thread of the program. It owns all of libcurl: the look-ups,
// connects, TLS and reading run there at full speed, and each completed reply is
// parsed there into a small record. The other side (the user interface's thread)
// only asks for fresh scrapes, says which servers it watches, and copies records
// under a mutex held for the copy; it never calls libcurl, and waits only on a
// condition variable with a deadline.

#include "BusyShare.h"
#include "ClientLibrary.h"
#include "ConnectionTable.h"
#include "ExporterClient.h"
#include "PrometheusReply.h"
#include "ScrapeOptions.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

/* The counters of one good scrape. */
struct ScrapeRecord {
    CpuTimes cpu;
    std::uint64_t faults = 0;
    std::uint64_t majorFaults = 0;
};

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
    ClientResult result = ExporterClient::NoAnswer;
    /* The node name of a good scrape, fit for a list; empty when it gave none. */
    std::string name;
    /* In words, why the newest failed scrape failed. */
    std::string reason;
};

/* A one-off GET of an API's (Fetch), once it has ended. */
struct FetchReply {
    bool done = false;
    /* 0 when a whole reply came, whatever its status; else why not, in the remote range. */
    ClientResult failure = 0;
    long status = 0;
    /* libcurl's words for a failed transfer. */
    std::string error;
    ReplyBuffer body;
};

class ScrapeThread {
public:
    ScrapeThread(const std::vector<ConnectionEntry>& servers, const ExporterTiming& timing);
    /* Stops the thread at once: transfers in flight, look-ups included, are dropped. */
    ~ScrapeThread();
    ScrapeThread(const ScrapeThread&) = delete;
    ScrapeThread& operator=(const ScrapeThread&) = delete;

    /* Appends servers after those already known, at the next indices. Nothing is set up for
       them until they are first restarted. */
    void AddServers(std::vector<ConnectionEntry> servers);

    /* Sends a one-off GET of `request.url` with its credentials and trust, on the thread
       beside the scrapes, for a reply up to MaxApiReplyBytes within the timing's scan;
       gives its id, for TakeFetch. */
    std::size_t Fetch(ConnectionEntry request);
    /* Waits until every fetch has ended (a dropped one never does), or until `deadline`. */
    void WaitForFetches(std::chrono::steady_clock::time_point deadline);
    /* Takes a fetch's reply: not done while it is in flight or was dropped. */
    FetchReply TakeFetch(std::size_t id);
    /* Drops every fetch still in flight. */
    void DropFetches();

    /* How a GET ended: libcurl's code and words for it, the HTTP status, the reply. */
    using GetDone = std::function<void(CURLcode result, long status, const std::string& error,
                                       std::string_view body)>;
    /* A one-off GET with `handle`, made by the caller, its reply cut off past `limit`; `done`
       runs on the network thread when it ends, and also when the thread stops first. */
    void Get(ScrapeHandle handle, std::size_t limit, GetDone done);

    /* Drops the scrapes in flight of `servers` and starts new ones at once. With
       `forget`, the records of their earlier scrapes go, too. */
    void Restart(std::span<const std::size_t> servers, bool forget);
    /* One more (or one fewer) watcher: a watched server is scraped every interval. */
    void Watch(std::size_t server, bool watch);
    /* Whether the server has any watcher. */
    bool Watched(std::size_t server);
    /* Ends the servers' one-off scrapes for the scan: those nobody watches stop. */
    void EndScan(std::span<const std::size_t> servers);
    /* Waits until each of `servers` has answered its newest restart, or until `deadline`. */
    void WaitForAnswers(std::span<const std::size_t> servers,
                        std::chrono::steady_clock::time_point deadline);
    /* Copies the server's newest records: only a copy under the lock. */
    ServerReading Reading(std::size_t server);
    /* Copies how the server's newest restart went. */
    ServerAnswer Answer(std::size_t server);

private:
    struct Shared;
    struct Network;
    /* The thread's loop: starts what is due, waits in curl_multi_poll, files what ended. */
    void run(std::chrono::milliseconds interval);

    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::vector<Shared> m_shared; // guarded by m_mutex
    /* Guarded by m_mutex: servers added and requests made that the thread has yet to take,
       the fetches' replies, and whether those in flight are to go. */
    std::vector<ConnectionEntry> m_added;
    std::vector<std::pair<std::size_t, ConnectionEntry>> m_fetchRequests;
    std::vector<FetchReply> m_fetchReplies;
    std::vector<std::tuple<ScrapeHandle, std::size_t, GetDone>> m_gets;
    bool m_dropFetches = false;
    bool m_stop = false;          // guarded by m_mutex
    std::unique_ptr<Network> m_network;
    std::thread m_thread;
};
