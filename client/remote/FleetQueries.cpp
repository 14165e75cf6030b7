// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "FleetQueries.h"

#include "Discovery.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_map>

namespace {

/* `text` as a PromQL string literal's contents. */
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        // The job comes from the user's own table, and control characters never pass it.
        out += c;
    }
    return out + '"';
}

/* "[60s]": whole seconds, rounded up. Appended piece by piece: GCC 12 warns falsely
   (-Wrestrict) on "[" + std::to_string(...) when optimising. */
std::string Range(std::chrono::milliseconds window) {
    std::string out("[");
    out.append(std::to_string(std::max<long long>(1, (window.count() + 999) / 1000)));
    out.append("s]");
    return out;
}

const char* StatisticName(std::size_t i) {
    static constexpr const char* names[] = {"utilisation", "cache requests", "cache hits"};
    return names[i];
}

std::optional<double> Finite(double value) {
    return std::isfinite(value) ? std::optional(value) : std::nullopt;
}

} // namespace

std::string FleetQuery(std::string_view job, FleetStatistic statistic, std::chrono::milliseconds window) {
    const std::string sel = "{job=" + Quoted(job);
    const std::string range = Range(window);
    const auto rate = [&](const char* metric, const std::string& extra = {}) {
        return "sum by (instance) (rate(" + std::string(metric) + sel + extra + "}" + range + "))";
    };
    switch (statistic) {
    case FleetStatistic::Utilisation:
        return "100 * (1 - " + rate("node_cpu_seconds_total", ",mode=~\"idle|iowait\"") + " / " +
               rate("node_cpu_seconds_total") + ")";
    case FleetStatistic::Requests:
        return rate("node_vmstat_pgfault");
    case FleetStatistic::Hits:
        return rate("node_vmstat_pgfault") + " - " + rate("node_vmstat_pgmajfault");
    }
    return {};
}

std::string FleetQueryUrl(std::string_view base, std::string_view job, FleetStatistic statistic,
                          std::chrono::milliseconds window) {
    // The names request's URL has the same shape: swap its query for ours.
    const std::string names = NamesRequestUrl(base, job);
    const std::size_t query = names.find("?query=");
    if (query == std::string::npos)
        return {};
    std::string encoded;
    for (const unsigned char c : FleetQuery(job, statistic, window)) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += char(c);
        } else {
            static constexpr char hex[] = "0123456789ABCDEF";
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    return names.substr(0, query) + "?query=" + encoded;
}

std::optional<std::chrono::milliseconds> PrometheusDuration(std::string_view text) {
    static constexpr std::pair<std::string_view, long long> units[] = {
        {"ms", 1}, {"s", 1000}, {"m", 60000}, {"h", 3600000}, {"d", 86400000}, {"w", 604800000}, {"y", 31536000000}};
    long long total = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        long long number = 0;
        const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), number);
        if (error != std::errc() || number < 0 || number > 1000000)
            return std::nullopt;
        at = std::size_t(end - text.data());
        long long scale = 0;
        for (const auto& [unit, ms] : units) {
            if (text.substr(at).starts_with(unit) &&
                !(unit == "m" && text.substr(at).starts_with("ms"))) {
                scale = ms;
                at += unit.size();
                break;
            }
        }
        if (scale == 0)
            return std::nullopt;
        total += number * scale;
    }
    if (total <= 0)
        return std::nullopt;
    return std::chrono::milliseconds(total);
}

std::chrono::milliseconds FleetRefreshInterval(std::span<const TargetState> targets) {
    std::optional<std::chrono::milliseconds> shortest;
    for (const TargetState& t : targets)
        if (const auto interval = PrometheusDuration(t.scrapeInterval))
            shortest = shortest ? std::min(*shortest, *interval) : *interval;
    return shortest.value_or(DefaultFleetRefresh);
}

std::vector<FleetRow> DiscoveryRows(std::span<const FleetListed> listed, const LineReplies& replies,
                                    std::string_view where, std::vector<std::string>& problems) {
    std::vector<FleetRow> rows;
    const std::string prefix = std::string(where) + ": ";
    if (!replies.failure.empty()) {
        problems.push_back(prefix + replies.failure);
        for (const FleetListed& l : listed)
            rows.push_back({l.name, l.ref, {}, {}, {}, "Prometheus " + replies.failure});
        return rows;
    }
    for (std::size_t s = 0; s < replies.queryFailures.size(); ++s)
        if (!replies.queryFailures[s].empty())
            problems.push_back(prefix + "the " + StatisticName(s) + " query: " + replies.queryFailures[s]);

    std::unordered_map<std::string_view, const FleetListed*> byInstance;
    byInstance.reserve(listed.size());
    for (const FleetListed& l : listed)
        byInstance.emplace(l.instance, &l);
    std::array<std::unordered_map<std::string_view, double>, 3> values;
    for (std::size_t s = 0; s < values.size(); ++s) {
        values[s].reserve(replies.values[s].size());
        for (const InstanceValue& v : replies.values[s])
            values[s].emplace(v.instance, v.value);
    }
    const auto value = [&](std::size_t s, std::string_view instance) -> std::optional<double> {
        const auto found = values[s].find(instance);
        return found == values[s].end() ? std::nullopt : Finite(found->second);
    };

    rows.reserve(replies.targets.size());
    std::unordered_map<std::string_view, bool> seen;
    for (const TargetState& t : replies.targets) {
        if (!seen.emplace(t.instance, true).second)
            continue;
        const auto found = byInstance.find(t.instance);
        const FleetListed* l = found == byInstance.end() ? nullptr : found->second;
        FleetRow row{l ? l->name : t.instance, l ? std::optional(l->ref) : std::nullopt,
                     value(0, t.instance), value(1, t.instance), value(2, t.instance), "ok"};
        if (!t.up)
            row.state = "Prometheus reports it down: " +
                        (t.lastError.empty() ? std::string("no reason given") : t.lastError);
        if (!l)
            row.state = (t.up ? std::string("up") : row.state) +
                        "; not in the connection list, which was made while it was down or unnamed";
        rows.push_back(std::move(row));
    }
    for (const FleetListed& l : listed)
        if (!seen.contains(l.instance))
            rows.push_back({l.name, l.ref, {}, {}, {}, "Prometheus no longer lists it"});
    return rows;
}
