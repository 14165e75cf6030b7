// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The overview's Prometheus side without a network: the queries, the two readers,
// durations, and how one refresh's answers become rows.

#include "FleetQueries.h"
#include "RemoteFleet.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace std::chrono_literals;

TEST(FleetQueries, QueriesMatchTheChartsDefinitions) {
    EXPECT_EQ(FleetQuery("node", FleetStatistic::Utilisation, 4s),
              "100 * (1 - sum by (instance) (rate(node_cpu_seconds_total{job=\"node\",mode=~\"idle|iowait\"}[4s]))"
              " / sum by (instance) (rate(node_cpu_seconds_total{job=\"node\"}[4s])))");
    EXPECT_EQ(FleetQuery("a\"b", FleetStatistic::Hits, 60s),
              "sum by (instance) (rate(node_vmstat_pgfault{job=\"a\\\"b\"}[60s])) - "
              "sum by (instance) (rate(node_vmstat_pgmajfault{job=\"a\\\"b\"}[60s]))");
    const std::string url = FleetQueryUrl("https://prom.example.org:9090/prefix/", "node",
                                          FleetStatistic::Requests, 1500ms);
    EXPECT_EQ(url, "https://prom.example.org:9090/prefix/api/v1/query?query=sum%20by%20%28instance%29"
                   "%20%28rate%28node_vmstat_pgfault%7Bjob%3D%22node%22%7D%5B2s%5D%29%29");
    EXPECT_EQ(FleetQueryUrl("ftp://x", "node", FleetStatistic::Requests, 1s), "");
}

TEST(FleetQueries, Durations) {
    EXPECT_EQ(PrometheusDuration("15s"), 15s);
    EXPECT_EQ(PrometheusDuration("1m30s"), 90s);
    EXPECT_EQ(PrometheusDuration("500ms"), 500ms);
    EXPECT_EQ(PrometheusDuration("2h"), 2h);
    for (const char* bad : {"", "0s", "s", "15", "1x", "-1s", "1.5s"})
        EXPECT_EQ(PrometheusDuration(bad), std::nullopt) << bad;
    std::vector<TargetState> targets{{"a", true, "", "1m"}, {"b", true, "", "5s"}, {"c", true, "", "?"}};
    EXPECT_EQ(FleetRefreshInterval(targets), 5s);
    EXPECT_EQ(FleetRefreshInterval({}), DefaultFleetRefresh);
}

TEST(FleetQueries, ReadersKeepWhatTheRowsNeed) {
    std::vector<TargetState> targets;
    ASSERT_TRUE(ReadTargetStates(
                    R"({"status":"success","data":{"activeTargets":[
        {"labels":{"instance":"a:9100","job":"node"},"health":"up","lastError":"","scrapeInterval":"1s"},
        {"labels":{"instance":"b:9100","job":"node"},"health":"down","lastError":"connection refused"},
        {"labels":{"instance":"c:9100","job":"other"},"health":"up"},
        {"labels":{"job":"node"},"health":"up"}]}})",
                    "node", targets)
                    .ok);
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_TRUE(targets[0].up);
    EXPECT_EQ(targets[0].scrapeInterval, "1s");
    EXPECT_FALSE(targets[1].up);
    EXPECT_EQ(targets[1].lastError, "connection refused");

    std::vector<InstanceValue> values;
    ASSERT_TRUE(ReadInstanceValues(R"({"status":"success","data":{"resultType":"vector","result":[
        {"metric":{"instance":"a:9100"},"value":[1767225600.5,"90.25"]},
        {"metric":{"instance":"b:9100"},"value":[1767225600.5,"NaN"]},
        {"metric":{},"value":[1,"3"]}]}})",
                                   values)
                    .ok);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].value, 90.25);
    EXPECT_TRUE(std::isnan(values[1].value));
    const ApiVerdict error = ReadInstanceValues(
        R"({"status":"error","errorType":"bad_data","error":"parse error"})", values);
    EXPECT_FALSE(error.ok);
    EXPECT_EQ(error.error, "parse error");
}

TEST(FleetQueries, RowsForEveryTargetUpOrDownAndEveryListedServer) {
    const std::vector<FleetListed> listed{{"alpha", 2, "a:9100"}, {"gone", 3, "g:9100"}};
    LineReplies replies;
    replies.targets = {{"a:9100", true, "", "1s"}, {"b:9100", false, "connection refused", "1s"},
                       {"n:9100", true, "", "1s"}};
    replies.values[0] = {{"a:9100", 91.5}, {"b:9100", std::nan("")}};
    replies.values[1] = {{"a:9100", 200}};
    replies.queryFailures[2] = "HTTP 500";
    std::vector<std::string> problems;
    const std::vector<FleetRow> rows = DiscoveryRows(listed, replies, "prom:9090", problems);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].name, "alpha");
    EXPECT_EQ(rows[0].ref, 2u);
    EXPECT_EQ(rows[0].utilisation, 91.5);
    EXPECT_EQ(rows[0].requests, 200.0);
    EXPECT_EQ(rows[0].hits, std::nullopt); // its query failed: empty, never 0
    EXPECT_EQ(rows[0].state, "ok");
    EXPECT_EQ(rows[1].name, "b:9100");
    EXPECT_EQ(rows[1].ref, std::nullopt);
    EXPECT_EQ(rows[1].utilisation, std::nullopt);
    EXPECT_TRUE(rows[1].state.starts_with("Prometheus reports it down: connection refused; not in the"));
    EXPECT_TRUE(rows[2].state.starts_with("up; not in the connection list"));
    EXPECT_EQ(rows[3].name, "gone");
    EXPECT_EQ(rows[3].state, "Prometheus no longer lists it");
    EXPECT_EQ(problems, std::vector<std::string>{"prom:9090: the cache hits query: HTTP 500"});

    replies.failure = "no answer in 5 s";
    problems.clear();
    const std::vector<FleetRow> failed = DiscoveryRows(listed, replies, "prom:9090", problems);
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0].state, "Prometheus no answer in 5 s");
    EXPECT_EQ(problems, std::vector<std::string>{"prom:9090: no answer in 5 s"});
}

namespace {

/* A transport that keeps every GET until the test answers it. */
struct HeldGets {
    std::vector<std::pair<std::string, FleetDone>> held;
    FleetGet Get() {
        return [this](const ConnectionEntry& request, FleetDone done) {
            held.emplace_back(request.url, std::move(done));
        };
    }
    /* Answers every held GET whose URL contains `part` with `body` (or `failure`). */
    int Answer(std::string_view part, std::string_view body, std::string failure = {}) {
        int answered = 0;
        for (auto it = held.begin(); it != held.end();) {
            if (it->first.find(part) == std::string::npos) {
                ++it;
                continue;
            }
            FleetDone done = std::move(it->second);
            it = held.erase(it);
            done(FleetFetch{failure.empty(), failure, body});
            ++answered;
        }
        return answered;
    }
};

const char* const Targets = R"({"status":"success","data":{"activeTargets":[
    {"labels":{"instance":"a:9100","job":"node"},"health":"up","lastError":"","scrapeInterval":"2s"},
    {"labels":{"instance":"b:9100","job":"node"},"health":"down","lastError":"connection refused"}]}})";
const char* const Value = R"({"status":"success","data":{"resultType":"vector","result":[
    {"metric":{"instance":"a:9100"},"value":[1,"42"]}]}})";

FleetPlan OneLine() {
    ConnectionEntry api;
    api.url = "http://127.0.0.1:9090";
    api.discoverJob = "node";
    return {{}, {{api, {{"alpha", 2, "a:9100"}}}}};
}

} // namespace

// Four GETs a refresh, none while hidden, none piled on one unanswered, the next after the
// targets' scrape interval, and replies that come after a stop are dropped.
TEST(RemoteFleet, AsksOnlyWhileShownOncePerScrapeInterval) {
    HeldGets gets;
    RemoteFleet fleet(OneLine(), gets.Get());
    const auto t0 = RemoteFleet::Clock::now();
    fleet.Tick(t0);
    EXPECT_TRUE(gets.held.empty());
    fleet.Start();
    ASSERT_EQ(gets.held.size(), 4u);
    EXPECT_NE(gets.held[1].first.find("%5B60s%5D"), std::string::npos); // 4 x the default 15 s
    fleet.Tick(t0 + std::chrono::seconds(30));
    EXPECT_EQ(gets.held.size(), 4u); // still waiting for the first refresh
    EXPECT_EQ(gets.Answer("targets", Targets), 1);
    EXPECT_EQ(gets.Answer("query", Value), 3);

    FleetSnapshot snapshot;
    ASSERT_TRUE(fleet.Take(snapshot));
    ASSERT_EQ(snapshot.rows.size(), 2u);
    EXPECT_EQ(snapshot.rows[0].name, "alpha");
    EXPECT_EQ(snapshot.rows[0].utilisation, 42.0);
    EXPECT_TRUE(snapshot.rows[1].state.starts_with("Prometheus reports it down: connection refused"));
    EXPECT_FALSE(fleet.Take(snapshot));

    const auto later = RemoteFleet::Clock::now();
    fleet.Tick(later + std::chrono::milliseconds(1900));
    EXPECT_TRUE(gets.held.empty()) << "before the 2 s interval";
    fleet.Tick(later + std::chrono::milliseconds(2100));
    ASSERT_EQ(gets.held.size(), 4u);
    EXPECT_NE(gets.held[1].first.find("%5B8s%5D"), std::string::npos); // 4 x 2 s

    fleet.Stop();
    gets.Answer("", "", "no answer in 5 s"); // late: dropped
    EXPECT_FALSE(fleet.Take(snapshot));
    fleet.Tick(later + std::chrono::seconds(60));
    EXPECT_TRUE(gets.held.empty());
}

// A Prometheus that fails says so in the rows' State and in the summary's problems.
TEST(RemoteFleet, AFailedRefreshSaysWhy) {
    HeldGets gets;
    RemoteFleet fleet(OneLine(), gets.Get());
    fleet.Start();
    gets.Answer("targets", "garbage");
    gets.Answer("query", R"({"status":"error","error":"1:17: parse error"})");
    FleetSnapshot snapshot;
    ASSERT_TRUE(fleet.Take(snapshot));
    ASSERT_EQ(snapshot.rows.size(), 1u);
    EXPECT_TRUE(snapshot.rows[0].state.starts_with("Prometheus bad answer: not JSON")) << snapshot.rows[0].state;
    ASSERT_EQ(snapshot.problems.size(), 1u);
    EXPECT_TRUE(snapshot.problems[0].starts_with("Prometheus at 127.0.0.1:9090: bad answer"));
}
