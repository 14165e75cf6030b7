// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The program's one network thread: a libcurl multi handle, the loop that moves
// bytes for it, its wake-up and its stop. It knows transfers, not what they carry:
// a transfer is an id with an easy handle that its owner set up, its reply goes
// into a ReplyMemory buffer, and it ends as a FinishedTransfer value.
//
// All of libcurl runs on this thread. Other threads only Post() work to it or ask
// for a one-off Get(); everything else here is called on the loop's own thread,
// from a posted task, a turn hook or a Done callback.
//
// At exit the loop is stopped, and libcurl cleaned up, before the TLS library's own
// exit handlers run, whatever the order in which static objects die.

#include "ReplyMemory.h"
#include "ScrapeOptions.h"

#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* A transfer once it has ended. */
struct FinishedTransfer {
    std::uint64_t id = 0;
    CURLcode result = CURLE_OK;
    /* The HTTP status, 0 when no reply came. */
    long status = 0;
    /* libcurl's own words for a failed transfer. */
    std::string error;
    ReplyMemory::Buffer body;
};

class CurlLoop {
public:
    using Clock = std::chrono::steady_clock;
    using Done = std::function<void(FinishedTransfer&)>;
    using Turn = std::function<Clock::time_point(Clock::time_point now)>;

    /* Starts the thread, unless libcurl cannot start (Running() then says so). */
    CurlLoop();
    /* Stops at once: whatever is in flight, look-ups included, is dropped, no Done runs. */
    ~CurlLoop();
    CurlLoop(const CurlLoop&) = delete;
    CurlLoop& operator=(const CurlLoop&) = delete;

    bool Running() const { return m_thread.joinable(); }

    // From any thread.
    /* Runs `task` on the loop's thread at its next turn; never once the loop has stopped. */
    void Post(std::function<void()> task);
    /* A one-off GET with `handle`, its reply into `memory` up to `limit` bytes; `done` runs on
       the loop's thread when it ends. `memory` must outlive the loop. */
    void Get(ScrapeHandle handle, ReplyMemory& memory, std::size_t limit, Done done);

    // On the loop's thread only.
    /* Calls `turn` once a turn; it answers when it next wants one at the latest. */
    void AddTurn(Turn turn) { m_turns.push_back(std::move(turn)); }
    /* Keeps `handle` as a new transfer, reused by every Start so that its connection lives. */
    std::uint64_t Adopt(ScrapeHandle handle);
    /* Starts transfer `id` with its reply into `body`, cut off past `limit`; false when it
       cannot start. `done` gets the transfer, and the buffer back, when it ends. */
    bool Start(std::uint64_t id, ReplyMemory::Buffer body, std::size_t limit, Done done);
    /* Drops transfer `id` if it is in flight; its buffer gives back what it held. */
    void Cancel(std::uint64_t id);
    /* Cancels it and frees its handle. */
    void Forget(std::uint64_t id);

private:
    struct Transfer;
    void run();
    void finish(CURL* easy, CURLcode code);
    /* Stops the thread and frees every handle; once. Also the exit handler's work. */
    void shutdown();
    // CurlGlobal.cpp: libcurl's set-up once, the list of loops alive, and the exit handler.
    bool enlist();
    void delist();
    static void exitHandler();

    std::mutex m_mutex;
    std::vector<std::function<void()>> m_posted; // guarded by m_mutex
    bool m_stop = false;                         // guarded by m_mutex
    bool m_registered = false; // among the live loops, which the exit handler stops
    CURLM* m_multi = nullptr;
    std::vector<Turn> m_turns;
    std::vector<std::unique_ptr<Transfer>> m_transfers; // by id - 1; null once forgotten
    std::thread m_thread;
};
