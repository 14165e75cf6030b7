// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ScrapeSchedule.h"

#include <algorithm>

void ScrapeSchedule::Resize(std::size_t count) {
    if (count > m_servers.size())
        m_servers.resize(count);
}

ScrapeSchedule::Action ScrapeSchedule::Decide(std::size_t server, const Wish& wish,
                                              Clock::time_point now, Clock::time_point& next) {
    Server& s = m_servers[server];
    if (wish.generation != s.generation) {
        s.generation = wish.generation;
        s.fresh = true;
        s.inFlight = false;
        return Action::Restart;
    }
    if (!wish.wanted) {
        s.inFlight = false;
        return Action::Drop;
    }
    if (!wish.watched || s.inFlight)
        return Action::None;
    if (now >= s.nextStart)
        return Action::Start;
    next = std::min(next, s.nextStart);
    return Action::None;
}

void ScrapeSchedule::Started(std::size_t server, Clock::time_point now) {
    Server& s = m_servers[server];
    s.nextStart = now + m_interval;
    s.inFlight = true;
    s.flightGeneration = s.generation;
}

bool ScrapeSchedule::Ended(std::size_t server, bool good, Clock::time_point now) {
    Server& s = m_servers[server];
    s.inFlight = false;
    if (s.flightGeneration != s.generation)
        return false;
    if (good && s.fresh)
        s.nextStart = now;
    if (good)
        s.fresh = false;
    return true;
}
