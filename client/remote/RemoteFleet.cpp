// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "RemoteFleet.h"

#include "BusyShare.h"
#include "Discovery.h"
#include "ExporterText.h"

#include <mutex>

namespace {

using Clock = RemoteFleet::Clock;

struct PlainState {
    std::uint64_t generation = 0;
    bool inFlight = false;
    Clock::time_point due{};
    std::optional<ExporterReading> previous;
    Clock::time_point previousAt{};
    FleetRow row;
};

struct LineState {
    std::uint64_t generation = 0;
    int pending = 0; // replies of this refresh still to come
    Clock::time_point due{};
    Clock::time_point sentAt{};
    std::chrono::milliseconds interval = DefaultFleetRefresh;
    LineReplies collected;
    std::vector<FleetRow> rows;
    std::vector<std::string> problems;
};

std::string Where(const ConnectionEntry& api) {
    return "Prometheus at " + HostAndPort(api.url);
}

} // namespace

struct RemoteFleet::State {
    const FleetPlan plan;
    std::mutex mutex;
    bool running = false;
    bool changed = true;
    std::vector<PlainState> plain;
    std::vector<LineState> lines;

    explicit State(FleetPlan p) : plan(std::move(p)), plain(plan.plain.size()), lines(plan.discovery.size()) {
        for (std::size_t i = 0; i < plain.size(); ++i) {
            const FleetPlainLine& line = plan.plain[i];
            plain[i].row = {line.name, line.ref, {}, {}, {}, Waiting(line)};
        }
        for (std::size_t i = 0; i < lines.size(); ++i)
            for (const FleetListed& l : plan.discovery[i].listed)
                lines[i].rows.push_back({l.name, l.ref, {}, {}, {}, "waiting for Prometheus"});
    }

    static std::string Waiting(const FleetPlainLine& line) {
        return line.ref ? "waiting for the first scrape" : "not in the connection list: " + line.leftOut;
    }

    /* A plain line's scrape came: rates against the one before. Network thread. */
    void Scraped(std::size_t i, std::uint64_t generation, const FleetFetch& fetch, Clock::time_point at) {
        ExporterReading reading;
        const bool read = fetch.ok && ParseExporterText(fetch.body, reading) && reading.hasCpu &&
                          reading.hasVmstat && reading.majorPageFaults <= reading.pageFaults;
        const std::lock_guard lock(mutex);
        PlainState& p = plain[i];
        if (p.generation != generation)
            return;
        p.inFlight = false;
        const FleetPlainLine& line = plan.plain[i];
        FleetRow& row = p.row;
        row.utilisation = row.requests = row.hits = std::nullopt;
        if (!read) {
            row.state = fetch.ok ? "bad answer: not a node exporter's metrics" : fetch.failure;
            p.previous.reset();
        } else {
            row.state = "ok";
            if (p.previous) {
                const double seconds = std::chrono::duration<double>(at - p.previousAt).count();
                const ExporterReading& b = *p.previous;
                row.utilisation = BusyPercent({b.cpuTotalMicros, b.cpuBusyMicros},
                                              {reading.cpuTotalMicros, reading.cpuBusyMicros});
                if (seconds > 0 && reading.pageFaults >= b.pageFaults) {
                    row.requests = double(reading.pageFaults - b.pageFaults) / seconds;
                    const std::uint64_t hitsNow = reading.pageFaults - reading.majorPageFaults;
                    const std::uint64_t hitsBefore = b.pageFaults - b.majorPageFaults;
                    if (hitsNow >= hitsBefore)
                        row.hits = double(hitsNow - hitsBefore) / seconds;
                }
            }
            p.previous = reading;
            p.previousAt = at;
        }
        if (!line.ref)
            row.state += "; not in the connection list: " + line.leftOut;
        changed = true;
    }

    /* One reply of a discovery line's refresh, read here on the network thread; the last one
       makes the line's rows. */
    void Answered(std::size_t i, std::uint64_t generation, int which, const FleetFetch& fetch) {
        std::string failure = fetch.failure;
        std::vector<TargetState> targets;
        std::vector<InstanceValue> values;
        if (fetch.ok) {
            const FleetDiscoveryLine& line = plan.discovery[i];
            const ApiVerdict verdict = which < 0 ? ReadTargetStates(fetch.body, line.api.discoverJob, targets)
                                                 : ReadInstanceValues(fetch.body, values);
            if (!verdict.ok)
                failure = "bad answer: " + verdict.error;
        }
        LineReplies done;
        {
            const std::lock_guard lock(mutex);
            LineState& l = lines[i];
            if (l.generation != generation)
                return;
            if (which < 0) {
                l.collected.failure = failure;
                l.collected.targets = std::move(targets);
            } else {
                l.collected.queryFailures[std::size_t(which)] = failure;
                l.collected.values[std::size_t(which)] = std::move(values);
            }
            if (--l.pending > 0)
                return;
            done = std::move(l.collected);
            l.collected = {};
        }
        std::vector<std::string> problems;
        std::vector<FleetRow> rows = DiscoveryRows(plan.discovery[i].listed, done, Where(plan.discovery[i].api), problems);
        const std::lock_guard lock(mutex);
        LineState& l = lines[i];
        if (l.generation != generation)
            return;
        if (done.failure.empty()) {
            l.interval = FleetRefreshInterval(done.targets);
            l.due = l.sentAt + l.interval;
        }
        l.rows = std::move(rows);
        l.problems = std::move(problems);
        changed = true;
    }
};

RemoteFleet::RemoteFleet(FleetPlan plan, FleetGet get)
    : m_state(std::make_shared<State>(std::move(plan))), m_get(std::move(get)) {}

RemoteFleet::~RemoteFleet() {
    Stop();
}

void RemoteFleet::Start() {
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->running = true;
        const Clock::time_point now = Clock::now();
        for (PlainState& p : m_state->plain)
            p.due = now;
        for (LineState& l : m_state->lines)
            l.due = now;
    }
    Tick(Clock::now());
}

void RemoteFleet::Stop() {
    const std::lock_guard lock(m_state->mutex);
    m_state->running = false;
    for (PlainState& p : m_state->plain) {
        ++p.generation;
        p.inFlight = false;
        p.previous.reset(); // a rate across the hidden time would mean little
    }
    for (LineState& l : m_state->lines) {
        ++l.generation;
        l.pending = 0;
        l.collected = {};
    }
}

void RemoteFleet::Tick(Clock::time_point now) {
    struct Send {
        ConnectionEntry request;
        FleetDone done;
    };
    std::vector<Send> sends;
    {
        const std::lock_guard lock(m_state->mutex);
        if (!m_state->running)
            return;
        const FleetPlan& plan = m_state->plan;
        for (std::size_t i = 0; i < m_state->plain.size(); ++i) {
            PlainState& p = m_state->plain[i];
            if (p.inFlight || now < p.due)
                continue;
            p.inFlight = true;
            p.due = now + PlainInterval;
            sends.push_back({plan.plain[i].exporter,
                             [state = m_state, i, g = ++p.generation](const FleetFetch& f) {
                                 state->Scraped(i, g, f, Clock::now());
                             }});
        }
        for (std::size_t i = 0; i < m_state->lines.size(); ++i) {
            LineState& l = m_state->lines[i];
            // A refresh still waiting for a reply is not piled on: the transfers end in time.
            if (l.pending > 0 || now < l.due)
                continue;
            l.sentAt = now;
            l.due = now + l.interval;
            l.pending = 1 + int(FleetStatistics.size());
            const std::uint64_t g = ++l.generation;
            const ConnectionEntry& api = plan.discovery[i].api;
            // A rate over four scrape intervals, as Grafana's $__rate_interval: never fewer
            // than two samples in the window, however the scrapes fall.
            const std::chrono::milliseconds window = 4 * l.interval;
            ConnectionEntry request = api;
            request.url = TargetsRequestUrl(api.url);
            sends.push_back({request, [state = m_state, i, g](const FleetFetch& f) {
                                 state->Answered(i, g, -1, f);
                             }});
            for (std::size_t s = 0; s < FleetStatistics.size(); ++s) {
                request.url = FleetQueryUrl(api.url, api.discoverJob, FleetStatistics[s], window);
                sends.push_back({request, [state = m_state, i, g, s](const FleetFetch& f) {
                                     state->Answered(i, g, int(s), f);
                                 }});
            }
        }
    }
    // Outside the lock: a transport may end a GET at once, on this thread.
    for (Send& s : sends)
        m_get(s.request, std::move(s.done));
}

bool RemoteFleet::Take(FleetSnapshot& into) {
    Tick(Clock::now());
    const std::lock_guard lock(m_state->mutex);
    if (!m_state->changed)
        return false;
    m_state->changed = false;
    into.rows.clear();
    into.problems.clear();
    for (const PlainState& p : m_state->plain)
        into.rows.push_back(p.row);
    for (const LineState& l : m_state->lines) {
        into.rows.insert(into.rows.end(), l.rows.begin(), l.rows.end());
        into.problems.insert(into.problems.end(), l.problems.begin(), l.problems.end());
    }
    return true;
}
