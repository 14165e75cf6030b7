// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The overview's readings of the table's servers over HTTP on 127.0.0.1, through the
// client's own network thread: Debian's real Prometheus and VictoriaMetrics watching a
// node exporter, fakes busy 90 % and 5 % and a dead port; the scripted fake Prometheus
// with 10,000 targets, then stalling, failing and talking nonsense; and plain lines
// to a dead port and to an exporter that refuses.

#include "ClientFleet.h"
#include "RoutingClient.h"
#include "TestExporters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

using namespace std::chrono_literals;

namespace {

// ThreadSanitizer watches the threads, not the scale, and reads a reply ten times slower.
#if defined(__SANITIZE_THREAD__)
constexpr int Fleet = 2000;
#else
constexpr int Fleet = 10000;
#endif

/* A client started on a table of the given lines, and the overview's readings of it. */
struct Overview {
    QTemporaryDir folder;
    std::ostringstream errors;
    std::optional<RoutingClient> client;
    std::unique_ptr<FleetReadings> fleet;
    FleetSnapshot snapshot;
    /* The longest a Take took: the window's wait. */
    std::chrono::steady_clock::duration longestTake{};

    explicit Overview(const std::string& table) {
        const std::string path = folder.filePath(QStringLiteral("connections")).toStdString();
        std::ofstream(path) << table;
        client.emplace(path, "/proc", ExporterTiming{}, errors);
        EXPECT_EQ(client->ClientInit(nullptr, nullptr), 0u);
        fleet = RoutedFleet(*client, {});
        fleet->Start();
    }
    /* Takes snapshots, as the page does once a second, until `done` holds or `limit` passes. */
    bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        for (const auto end = std::chrono::steady_clock::now() + limit;;) {
            const auto before = std::chrono::steady_clock::now();
            fleet->Take(snapshot);
            longestTake = std::max(longestTake, std::chrono::steady_clock::now() - before);
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(200ms);
        }
    }
    const FleetRow* Row(const std::string& name) const {
        const auto found = std::find_if(snapshot.rows.begin(), snapshot.rows.end(),
                                        [&](const FleetRow& r) { return r.name == name; });
        return found == snapshot.rows.end() ? nullptr : &*found;
    }
    std::string Rows() const {
        std::string out;
        for (const FleetRow& r : snapshot.rows)
            out += r.name + " " + std::to_string(r.utilisation.value_or(-1)) + " " + r.state + "\n";
        for (const std::string& p : snapshot.problems)
            out += "problem: " + p + "\n";
        return out;
    }
};

class RealEngine : public ::testing::TestWithParam<const char*> {};

} // namespace

// Busiest first within two refreshes, the down target with the engine's reason, and the hot
// row's server charted through the list's reference it carries.
TEST_P(RealEngine, ListsTheFleetBusiestFirstAndTheDownOneWithItsReason) {
    const std::string engine = GetParam();
    if (access(("/usr/bin/" + engine).c_str(), X_OK) != 0 ||
        access("/usr/bin/prometheus-node-exporter", X_OK) != 0)
        GTEST_SKIP() << engine << " or prometheus-node-exporter is not installed";
    Script real("real_engines.py", {QString::fromStdString(engine)});
    std::istringstream line(real.ReadLine(40000));
    std::string port, node, hot, cold, down;
    line >> port >> node >> hot >> cold >> down;
    ASSERT_FALSE(down.empty()) << engine << " did not come up: " << line.str();

    Overview overview("http://127.0.0.1:" + port + " discover=node\n");
    // The first refresh learns the 1 s scrape interval; the second follows a second later.
    const bool listed = overview.Until([&] {
        const FleetRow* h = overview.Row("hot");
        const FleetRow* c = overview.Row("cold");
        const FleetRow* d = overview.Row(down);
        return h && c && d && h->utilisation && c->utilisation && h->requests && h->hits &&
               d->state.starts_with("Prometheus reports it down: ");
    }, 15s);
    ASSERT_TRUE(listed) << overview.Rows();
    const FleetRow& h = *overview.Row("hot");
    EXPECT_NEAR(*h.utilisation, 90, 3) << overview.Rows();
    EXPECT_NEAR(*overview.Row("cold")->utilisation, 5, 3) << overview.Rows();
    EXPECT_NE(overview.Row(down)->state.find("connection refused"), std::string::npos) << overview.Rows();
    EXPECT_EQ(overview.Row(down)->ref, std::nullopt) << "down at start-up: not in the list";
    EXPECT_GT(*h.requests, 0);
    EXPECT_LE(*h.hits, *h.requests);
    EXPECT_EQ(overview.snapshot.rows.size(), 4u) << overview.Rows();

    ASSERT_TRUE(h.ref);
    ConnectionHandle handle = 0;
    ASSERT_EQ(overview.client->NWCCOpenConnByRef(*h.ref, OpenStateDefault, 0, handle), 0u);
    std::this_thread::sleep_for(2500ms);
    ServerInfoRecord record{};
    ASSERT_EQ(overview.client->GetServerInfoRecord(handle, record), 0u);
    EXPECT_NEAR(std::int32_t(ReadField32(record, ServerInfoField::Utilization)), 90, 3);
}

INSTANTIATE_TEST_SUITE_P(Engines, RealEngine, ::testing::Values("prometheus", "victoria-metrics"),
                         [](const auto& info) { return std::string(info.param) == "prometheus" ? "Prometheus" : "VictoriaMetrics"; });

// 10,000 targets, then a stall, a 500, garbage and a query error: the rows or the summary say
// so, and taking a snapshot never waits on the network.
TEST(OverviewFakePrometheus, TenThousandServersAndEveryFault) {
    Script fake("fake_prometheus.py", {QString::number(Fleet)});
    const std::string port = fake.ReadLine();
    Overview overview("http://127.0.0.1:" + port + " discover=node\n");
    // A row's State, or what the summary's first problem says when no row is left to say it
    // (a start-up slow enough to list none of them, as under the sanitizers).
    const auto stateOf = [&](std::size_t row) {
        return row < overview.snapshot.rows.size() ? overview.snapshot.rows[row].state : std::string();
    };
    ASSERT_TRUE(overview.Until([&] {
        return overview.snapshot.rows.size() >= std::size_t(Fleet) && overview.snapshot.rows[0].utilisation;
    }, 20s)) << overview.snapshot.rows.size() << " rows";
    const bool listed = overview.snapshot.rows[0].ref.has_value();
    if (listed) {
        EXPECT_EQ(stateOf(0), "ok");
    }

    const auto expect = [&](const std::string& mode, const std::string& state, const std::string& problem) {
        fake.Say(mode);
        EXPECT_EQ(fake.ReadLine(), "ok " + mode);
        // No problem expected: none at all.
        EXPECT_TRUE(overview.Until([&] {
            const auto& problems = overview.snapshot.problems;
            return (!listed || stateOf(0).starts_with(state)) &&
                   (problem.empty() ? problems.empty()
                                    : !problems.empty() && problems[0].find(problem) != std::string::npos);
        }, 45s)) << mode << ": " << stateOf(0) << " / "
                 << (overview.snapshot.problems.empty() ? "" : overview.snapshot.problems[0]);
    };
    expect("stall", "Prometheus no answer in 5 s", ": no answer in 5 s");
    EXPECT_LT(overview.longestTake, 1s) << "the window waited during the stall";
    expect("500", "Prometheus HTTP 500", ": HTTP 500");
    expect("garbage", "Prometheus bad answer: not JSON", ": bad answer: not JSON");
    expect("good", listed ? "ok" : "up", "");
    fake.Say("error");
    EXPECT_EQ(fake.ReadLine(), "ok error");
    EXPECT_TRUE(overview.Until([&] {
        return !overview.snapshot.problems.empty() &&
               overview.snapshot.problems.back().find("parse error") != std::string::npos;
    }, 20s)) << overview.Rows().substr(0, 2000);
}

// Plain lines left out at start-up stay in the overview with their reasons.
TEST(OverviewPlainLines, ADeadPortAndARefusalEachSayWhy) {
    FakeExporter refusing;
    refusing.SetMode("401");
    const int dead = FreePort();
    Overview overview("http://127.0.0.1:" + std::to_string(dead) + "\n" + refusing.Url() + "\n");
    ASSERT_TRUE(overview.Until([&] {
        return overview.snapshot.rows.size() == 2 && overview.snapshot.rows[0].state.starts_with("down") &&
               overview.snapshot.rows[1].state.starts_with("HTTP");
    }, 10s)) << overview.Rows();
    EXPECT_EQ(overview.snapshot.rows[0].state.substr(0, 24), "down: connection refused");
    EXPECT_EQ(overview.snapshot.rows[1].state.substr(0, 33), "HTTP 401: the password is refused");
    EXPECT_EQ(overview.snapshot.rows[0].ref, std::nullopt);
    EXPECT_EQ(overview.snapshot.rows[0].utilisation, std::nullopt);
}
