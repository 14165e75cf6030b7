// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The remote backend while a look-up takes 8 s: run with SlowDnsShim preloaded,
// which answers names under .test late and refuses every other name, so that
// `localhost` works here only as the pinned loopback it must be.

#include "ExporterClient.h"
#include "TestExporters.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double ThreadCpuMicros() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

ConnectionEntry Entry(const std::string& url) {
    return ConnectionEntry{url, {}, {}, {}};
}

TEST(SlowDns, NoCallWaitsForALookUp) {
    ASSERT_NE(dlsym(RTLD_DEFAULT, "serverstats_slow_dns_shim"), nullptr)
        << "run this test with the slow resolver preloaded";
    // A proxy would take the names under .test off the resolver's hands.
    for (const char* proxy : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(proxy);
    FakeExporter fake;
    const std::string port = std::to_string(fake.Port());
    std::ostringstream errors;
    std::optional<ExporterClient> client(std::in_place,
        std::vector<ConnectionEntry>{Entry("http://exporter.test:" + port), Entry(fake.Url("localhost")),
                                     Entry(fake.Url("LOCALHOST.")), Entry(fake.Url())},
        ExporterTiming{}, errors);

    Clock::time_point start = Clock::now();
    client->ScanNames();
    // The scan's three seconds, and what a busy machine's scheduler adds; waiting for the
    // look-up would take eight.
    EXPECT_LE(Clock::now() - start, 4500ms);
    std::array<unsigned char, 64> name{};
    EXPECT_EQ(client->ServerName(0, name.size(), name.data()), ExporterClient::NoAnswer);
    // `localhost` in any spelling is pinned to this machine; the shim would refuse it.
    for (std::size_t server = 1; server <= 3; ++server) {
        EXPECT_EQ(client->ServerName(server, name.size(), name.data()), 0u) << server;
        // Three entries of one name: each told apart by its host and port.
        EXPECT_TRUE(std::string(reinterpret_cast<const char*>(name.data())).starts_with("fake-exporter ("));
    }
    EXPECT_NE(errors.str().find("exporter.test:" + port + ": "), std::string::npos) << errors.str();

    ConnectionHandle slow = 0;
    start = Clock::now();
    EXPECT_EQ(client->Open(0, slow), ExporterClient::NoAnswer);
    EXPECT_LE(Clock::now() - start, 3500ms); // the open's two seconds, and the same allowance
    ConnectionHandle good = 0;
    ASSERT_EQ(client->Open(2, good), 0u);

    // A look-up in flight all the while: every call is a copy.
    start = Clock::now();
    ConnectionHandle again = 0;
    EXPECT_EQ(client->Open(0, again), ExporterClient::NoAnswer);
    double longest = 0;
    double longestCpu = 0;
    while (Clock::now() - start < 3s) {
        ServerInfoRecord info;
        const double cpu = ThreadCpuMicros();
        const Clock::time_point call = Clock::now();
        EXPECT_EQ(client->ServerInfo(good, info), 0u);
        longest = std::max(longest, std::chrono::duration<double, std::micro>(Clock::now() - call).count());
        longestCpu = std::max(longestCpu, ThreadCpuMicros() - cpu);
        std::this_thread::sleep_for(20ms);
    }
    std::printf("longest statistics call during a look-up: %.1f us (CPU %.1f us)\n", longest, longestCpu);
    // What a call costs is bench_exporter's to measure. Here only a wait is caught: one for
    // the look-up would take seconds, a busy machine's scheduler does not.
    EXPECT_LT(longest, 1e6);

    // A scan that gives up while its look-up is still running; stopping does not wait for it.
    ExporterTiming quick;
    quick.scan = 200ms;
    std::optional<ExporterClient> other(std::in_place,
                                        std::vector<ConnectionEntry>{Entry("http://exporter.test:" + port)},
                                        quick, errors);
    other->ScanNames();
    for (std::optional<ExporterClient>* stopping : {&other, &client}) {
        start = Clock::now();
        stopping->reset();
        const auto stopped = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("stopped in %.1f ms\n", stopped);
        EXPECT_LT(stopped, 1000.0); // the look-up has seconds to go
    }
}

} // namespace
