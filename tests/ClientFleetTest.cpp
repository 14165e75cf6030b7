// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The overview from the eight operations alone, against the scripted client: handles
// of its own, one request a server a period spread over the ticks, rates, failures,
// and every handle closed when the page hides.

#include "ClientFleet.h"
#include "ScriptedClient.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

struct Fleet : testing::Test {
    ScriptedClient client;
    std::vector<ListedServer> listed;
    std::chrono::steady_clock::time_point t{};
    void SetUp() override {
        for (ConnRef ref = 1; ref <= 7; ++ref) {
            // Piece by piece: g++ 12 at -O3 warns wrongly of overlapping copies for "s" + ...
            std::string name = "s";
            name += std::to_string(ref);
            client.connections.push_back({ref, name});
            listed.push_back({name, ref});
        }
    }
    int Requests() const {
        return client.CallCount(ClientOp::GetServerInfoRecord) + client.CallCount(ClientOp::GetCacheInfoRecord);
    }
};

} // namespace

TEST_F(Fleet, OneRequestAServerAPeriodOnHandlesOfItsOwn) {
    ClientFleet fleet(client, listed);
    fleet.Tick(t);
    EXPECT_EQ(client.calls.size(), 0u) << "nothing before the page shows";
    fleet.Start();
    for (int tick = 0; tick < ClientFleet::TicksPerPeriod; ++tick) {
        fleet.Tick(t += 1s);
        EXPECT_LE(Requests(), (tick + 1) * 2) << "7 servers over 5 ticks: at most 2 a tick";
    }
    EXPECT_EQ(Requests(), 7 + 3); // the share of the last tick wraps round to the first servers
    EXPECT_EQ(client.CallCount(ClientOp::NWCCOpenConnByRef), 7);
    EXPECT_EQ(client.openHandles.size(), 7u);
    fleet.Stop();
    EXPECT_TRUE(client.openHandles.empty());
    EXPECT_EQ(client.CallCount(ClientOp::CloseConn), 7);
}

TEST_F(Fleet, RatesFromTheCountersAndFailuresInTheState) {
    listed.resize(1);
    ClientFleet fleet(client, listed);
    fleet.Start();
    client.SetUtilization(77);
    client.SetCacheCounters(4294967000u, 4294966900u);
    fleet.Tick(t);       // opens, and takes the counters as the baseline
    EXPECT_EQ(fleet.Current().rows[0].utilisation, std::nullopt) << "no reading yet: empty, not 0";
    fleet.Tick(t += 1s); // utilisation
    client.SetCacheCounters(1000, 800); // wrapped past 2^32: 1,296 requests, 1,196 hits more
    fleet.Tick(t += 2s);
    FleetSnapshot snapshot;
    ASSERT_TRUE(fleet.Take(snapshot));
    const FleetRow& row = snapshot.rows.at(0);
    EXPECT_EQ(row.utilisation, 77.0);
    ASSERT_TRUE(row.requests && row.hits);
    EXPECT_NEAR(*row.requests, 1296 / 3.0, 1e-6);
    EXPECT_NEAR(*row.hits, 1196 / 3.0, 1e-6);
    EXPECT_EQ(row.state, "ok");

    client.Fail(ClientOp::GetServerInfoRecord, 0x8901);
    fleet.Tick(t += 1s);
    ASSERT_TRUE(fleet.Take(snapshot));
    EXPECT_EQ(snapshot.rows[0].utilisation, std::nullopt);
    EXPECT_EQ(snapshot.rows[0].state, "no reading: Error 8901: no answer");
    EXPECT_TRUE(client.openHandles.empty()) << "the failed handle is closed, to be opened afresh";
}
