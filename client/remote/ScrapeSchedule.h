// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Which server is scraped when: plain bookkeeping, without libcurl or a clock of its
// own, so that it can be run against a made-up time. The network thread asks it on
// every turn what to do for each server, and tells it when a scrape starts and ends.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

class ScrapeSchedule {
public:
    using Clock = std::chrono::steady_clock;

    /* What the client wants of one server now. */
    struct Wish {
        /* Counts the restarts asked for; 0 before the first. */
        std::uint64_t generation = 0;
        /* Watched, or being scanned: a scrape in flight may go on. */
        bool wanted = false;
        /* Scraped every interval. */
        bool watched = false;
    };
    enum class Action {
        None,
        /* Drop the scrape in flight, and whatever reply memory the server holds. */
        Drop,
        /* Drop the scrape in flight and start a new one at once. */
        Restart,
        /* Start the next scrape. */
        Start,
    };

    explicit ScrapeSchedule(std::chrono::milliseconds interval) : m_interval(interval) {}

    /* Makes room for servers up to `count`. */
    void Resize(std::size_t count);
    /* What to do for `server` at `now`; lowers `next` to when it next needs a turn. */
    Action Decide(std::size_t server, const Wish& wish, Clock::time_point now,
                  Clock::time_point& next);
    /* A scrape of `server` started at `now` (after Restart or Start). */
    void Started(std::size_t server, Clock::time_point now);
    /* Its scrape ended; true when it answers the newest restart (false: a restart made it
       moot). A first good scrape of a restart is followed at once by the next, so that an
       opened server has its first interval by the first tick. */
    bool Ended(std::size_t server, bool good, Clock::time_point now);
    /* The restart that the scrape in flight, or the last one, belongs to. */
    std::uint64_t FlightGeneration(std::size_t server) const {
        return m_servers[server].flightGeneration;
    }
    /* Whether a scrape is in flight. */
    bool InFlight(std::size_t server) const { return m_servers[server].inFlight; }

    /* Whether a reading taken at `at` may still be used at `now`. */
    static bool Fresh(Clock::time_point at, Clock::time_point now, std::chrono::milliseconds stale) {
        return now - at <= stale;
    }

private:
    struct Server {
        std::uint64_t generation = 0;       // the restart its scrapes belong to
        std::uint64_t flightGeneration = 0; // that of the one in flight
        bool inFlight = false;
        bool fresh = false; // no good scrape yet since the restart
        Clock::time_point nextStart{};
    };
    std::chrono::milliseconds m_interval;
    std::vector<Server> m_servers;
};
