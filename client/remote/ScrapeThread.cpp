// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ScrapeThread.h"

#include "CurlLoop.h"
#include "ReplyMemory.h"
#include "ScrapeOptions.h"
#include "ScrapeSchedule.h"
#include "TransferVerdict.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

/* What a server's reply buffer may always hold, and what a watched one keeps between
   scrapes (a 128-CPU server's reply is about 200 KB). */
constexpr std::size_t OwnBytes = 16 * 1024;
constexpr std::size_t KeepBytes = 256 * 1024;
/* What all replies together may hold beyond their own 16 KiB: a flood from every server at
   once pauses at this rather than taking 4 MiB each. */
constexpr std::size_t PoolBytes = std::size_t(16) << 20;

const char* const NotStarted = "libcurl did not start";

} // namespace

/* One server as both threads see it; guarded by the mutex. */
struct ScrapeThread::Shared {
    ServerReading reading;
    ServerAnswer answer;
    /* Asked-for restarts. */
    std::uint64_t generation = 0;
    int watchers = 0;
    bool scanning = false;
};

/* The network thread's own side. */
struct ScrapeThread::Network {
    struct Server {
        ConnectionEntry entry;
        std::uint64_t transfer = 0; // the loop's, once made
        bool made = false;
        /* Why the server cannot be scraped at all; empty when it can. */
        std::string unusable;
        ReplyMemory::Buffer body; // between scrapes; in the loop's hands during one
        ExporterReading scratch;
    };
    explicit Network(std::chrono::milliseconds interval) : schedule(interval) {}

    ReplyMemory memory{PoolBytes, OwnBytes, KeepBytes};
    ScrapeSchedule schedule;
    ExporterTiming timing;
    std::vector<Server> servers;
    std::vector<ScrapeSchedule::Wish> wishes;
};

ScrapeThread::ScrapeThread(std::vector<ConnectionEntry> servers, const ExporterTiming& timing)
    : m_shared(servers.size()), m_network(std::make_unique<Network>(timing.interval)),
      m_loop(std::make_unique<CurlLoop>()) {
    m_network->timing = timing;
    m_added = std::move(servers);
    if (!m_loop->Running()) {
        for (Shared& s : m_shared)
            s.answer = {true, RemoteCode::BadAnswer, {}, NotStarted};
        return;
    }
    m_loop->Post([this] {
        m_loop->AddTurn([this](Clock::time_point now) { return turn(now); });
    });
}

void ScrapeThread::finished(std::size_t i, FinishedTransfer& done) {
    Network& net = *m_network;
    Network::Server& server = net.servers[i];
    const Clock::time_point now = Clock::now();
    TransferVerdict verdict = JudgeTransfer(done.result, done.status, done.error, "4 MiB");
    ScrapeRecord record;
    std::string name;
    if (verdict.code == 0 &&
        !ReadExporterReply(done.body.View(), server.scratch, record, name, verdict.reason))
        verdict.code = RemoteCode::BadAnswer;
    const bool good = verdict.code == 0;
    const bool current = net.schedule.Ended(i, good, now);
    // Only a watched server keeps a modest buffer: any other gives its memory back now, which
    // is what lets a reply of the scan that paused for the pool go on.
    server.body = std::move(done.body);
    server.body.Clear(good && net.wishes[i].watched ? KeepBytes : 0);
    {
        const std::lock_guard lock(m_mutex);
        m_poolUsed = net.memory.Used();
        Shared& s = m_shared[i];
        if (!current || net.schedule.FlightGeneration(i) != s.generation)
            return; // a restart since made it moot
        ServerAnswer& a = s.answer;
        a.answered = true;
        a.result = verdict.code.value_or(RemoteCode::NoAnswer);
        a.reason = std::move(verdict.reason);
        if (good) {
            s.reading.previous = s.reading.newest;
            s.reading.newest = record;
            s.reading.newestAt = now;
            s.reading.failure = 0;
            a.name = std::move(name);
        } else if (verdict.code) {
            s.reading.failure = *verdict.code;
        }
    }
    m_answered.notify_all();
}

bool ScrapeThread::start(std::size_t i, Clock::time_point now) {
    Network& net = *m_network;
    Network::Server& server = net.servers[i];
    net.schedule.Started(i, now);
    if (server.body.Memory() == nullptr)
        server.body = ReplyMemory::Buffer(net.memory);
    // Two words of capture: std::function keeps them without allocating, on every scrape.
    return m_loop->Start(server.transfer, std::move(server.body), MaxExporterReplyBytes,
                         [this, i](FinishedTransfer& done) { finished(i, done); });
}

void ScrapeThread::refuse(std::size_t i, const std::string& why) {
    {
        const std::lock_guard lock(m_mutex);
        Shared& s = m_shared[i];
        s.reading.failure = RemoteCode::BadAnswer;
        s.answer = {true, RemoteCode::BadAnswer, {}, why.empty() ? "libcurl refused the request" : why};
    }
    m_answered.notify_all();
}

Clock::time_point ScrapeThread::turn(Clock::time_point now) {
    Network& net = *m_network;
    CurlLoop& loop = *m_loop;
    {
        const std::lock_guard lock(m_mutex);
        for (ConnectionEntry& added : m_added)
            net.servers.push_back({std::move(added), 0, false, {}, {}, {}});
        m_added.clear();
        net.wishes.resize(m_shared.size());
        for (std::size_t i = 0; i < m_shared.size(); ++i) {
            const Shared& s = m_shared[i];
            net.wishes[i] = {s.generation, s.watchers > 0 || s.scanning, s.watchers > 0};
        }
    }
    net.schedule.Resize(net.servers.size());
    Clock::time_point next = Clock::time_point::max();
    for (std::size_t i = 0; i < net.servers.size(); ++i) {
        Network::Server& server = net.servers[i];
        if (!server.made && net.wishes[i].generation == 0)
            continue; // never asked for
        if (!server.made) {
            server.made = true;
            ScrapeHandle handle =
                MakeScrapeHandle(server.entry, net.timing, server.unusable, HandleUse::Scrape);
            if (handle.easy)
                server.transfer = loop.Adopt(std::move(handle));
        }
        switch (net.schedule.Decide(i, net.wishes[i], now, next)) {
        case ScrapeSchedule::Action::None:
            break;
        case ScrapeSchedule::Action::Drop: // closed or idle: it gives back what it holds
            loop.Cancel(server.transfer);
            if (server.body.Capacity() > 0)
                server.body.Release();
            break;
        case ScrapeSchedule::Action::Restart:
            loop.Cancel(server.transfer);
            if (server.transfer == 0 || !start(i, now))
                refuse(i, server.unusable);
            break;
        case ScrapeSchedule::Action::Start:
            start(i, now);
            break;
        }
    }
    const std::lock_guard lock(m_mutex);
    m_poolUsed = net.memory.Used();
    return next;
}

ScrapeThread::~ScrapeThread() {
    // The thread first: its callbacks reach into the rest. Not reset(), which clears the
    // pointer before the loop's thread, still reading it in turn(), has stopped.
    delete m_loop.get();
    (void)m_loop.release();
}

void ScrapeThread::wake() {
    m_loop->Post([] {});
}

void ScrapeThread::AddServers(std::vector<ConnectionEntry> servers) {
    {
        const std::lock_guard lock(m_mutex);
        const std::size_t first = m_shared.size();
        m_shared.resize(first + servers.size());
        if (!m_loop->Running())
            for (std::size_t i = first; i < m_shared.size(); ++i)
                m_shared[i].answer = {true, RemoteCode::BadAnswer, {}, NotStarted};
        std::move(servers.begin(), servers.end(), std::back_inserter(m_added));
    }
    wake();
}

void ScrapeThread::Restart(std::span<const std::size_t> servers, bool forget) {
    {
        const std::lock_guard lock(m_mutex);
        for (std::size_t server : servers) {
            Shared& s = m_shared[server];
            if (!m_loop->Running())
                continue; // keeps its answer: libcurl did not start
            ++s.generation;
            s.answer.answered = false;
            s.reading.failure = 0;
            if (forget) {
                s.reading.newest.reset();
                s.reading.previous.reset();
            }
            s.scanning = true; // until EndScan, or until it answers while watched
        }
    }
    wake();
}

void ScrapeThread::Watch(std::size_t server, bool watch) {
    {
        const std::lock_guard lock(m_mutex);
        m_shared[server].watchers += watch ? 1 : -1;
    }
    wake();
}

bool ScrapeThread::Watched(std::size_t server) {
    const std::lock_guard lock(m_mutex);
    return m_shared[server].watchers > 0;
}

void ScrapeThread::EndScan(std::span<const std::size_t> servers) {
    {
        const std::lock_guard lock(m_mutex);
        for (std::size_t server : servers)
            m_shared[server].scanning = false;
    }
    wake();
}

void ScrapeThread::WaitForAnswers(std::span<const std::size_t> servers, Clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    m_answered.wait_until(lock, deadline, [&] {
        return std::all_of(servers.begin(), servers.end(),
                           [&](std::size_t server) { return m_shared[server].answer.answered; });
    });
}

ServerReading ScrapeThread::Reading(std::size_t server) {
    const std::lock_guard lock(m_mutex);
    return m_shared[server].reading;
}

ServerAnswer ScrapeThread::Answer(std::size_t server) {
    const std::lock_guard lock(m_mutex);
    return m_shared[server].answer;
}

std::size_t ScrapeThread::PoolUsed() {
    const std::lock_guard lock(m_mutex);
    return m_poolUsed;
}
