// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The remote backend against the scripted fake exporter: sound replies, and every
// fault a server can commit, each answered at once with its code.

#include "ExporterClient.h"
#include "TestExporters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Short enough that the faults take a second each rather than five.
constexpr ExporterTiming FastTiming{1000ms, 1000ms, 1000ms};

ConnectionEntry Entry(const std::string& url) {
    return ConnectionEntry{url, {}, {}, {}};
}

class FakeServer : public ::testing::Test {
protected:
    /* One statistics request of either kind; the time it took, on the clock and on this
       thread's CPU (which a busy machine's scheduling does not inflate), goes into m_calls. */
    ClientResult Call(ConnectionHandle handle, bool cache, std::int32_t* value = nullptr) {
        ServerInfoRecord info;
        CacheInfoRecord caching;
        const Clock::time_point start = Clock::now();
        const double cpuStart = ThreadCpuMicros();
        const ClientResult result =
            cache ? client.CacheInfo(handle, caching) : client.ServerInfo(handle, info);
        m_calls.push_back({std::chrono::duration<double, std::micro>(Clock::now() - start).count(),
                           ThreadCpuMicros() - cpuStart});
        if (value != nullptr)
            *value = cache ? std::int32_t(ReadField32(caching, CacheInfoField::CacheRequests))
                           : std::int32_t(ReadField32(info, ServerInfoField::Utilization));
        return result;
    }

    FakeExporter fake;
    ExporterClient client{{Entry(fake.Url())}, FastTiming};
    static double ThreadCpuMicros() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
    }
    struct CallTime {
        double wallMicros;
        double cpuMicros;
    };
    std::vector<CallTime> m_calls;
};

TEST(FailedOpen, SaysWhereAndWhyOnOneLineWithTheHintForTheMistake) {
    FakeExporter fake;
    std::ostringstream errors;
    ExporterClient client({Entry(fake.Url())}, FastTiming, errors);
    client.ScanNames();
    ASSERT_EQ(errors.str(), "");
    // A wrong path that the exporter answers with its landing page.
    fake.SetMode("html");
    ConnectionHandle handle = 0;
    EXPECT_EQ(client.Open(0, handle), ExporterClient::BadAnswer);
    const std::string said = errors.str();
    EXPECT_TRUE(said.starts_with(fake.Url() + ": ")) << said;
    EXPECT_TRUE(said.ends_with("; the reply is an HTML page, not the exporter's metrics: check the "
                               "path (the default is /metrics)\n"))
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST_F(FakeServer, ScanOpenAndSample) {
    client.ScanNames();
    std::array<unsigned char, 255> name{};
    ASSERT_EQ(client.ServerName(0, name.size(), name.data()), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(name.data()), "fake-exporter");
    std::array<unsigned char, 5> shortName{};
    ASSERT_EQ(client.ServerName(0, shortName.size(), shortName.data()), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(shortName.data()), "fake");
    EXPECT_EQ(client.ServerName(1, name.size(), name.data()), ExporterClient::UnknownServer);

    ConnectionHandle handle = 0;
    ASSERT_EQ(client.Open(0, handle), 0u);
    EXPECT_GE(handle, 1u);
    EXPECT_LE(handle, ConnectionHandle(ExporterClient::MaxHandles));
    // The second scrape was started by the open; once it is in, both intervals are there.
    // Asked until then: a busy machine may take longer than a tick to scrape.
    std::int32_t percent = -1;
    for (const Clock::time_point until = Clock::now() + 5s; percent != 37 && Clock::now() < until;) {
        std::this_thread::sleep_for(50ms);
        ASSERT_EQ(Call(handle, false, &percent), 0u);
    }
    EXPECT_EQ(percent, 37);
    std::this_thread::sleep_for(200ms);
    CacheInfoRecord record;
    ASSERT_EQ(client.CacheInfo(handle, record), 0u);
    const std::uint32_t requests = ReadField32(record, CacheInfoField::CacheRequests);
    // Low 32 bits of 2^32 + 1000 n, of which 10 n were major faults.
    EXPECT_EQ(requests % 1000, 0u);
    EXPECT_EQ(ReadField32(record, CacheInfoField::CacheHits), requests - requests / 100);

    EXPECT_EQ(client.Close(handle), 0u);
    EXPECT_EQ(client.Close(handle), ExporterClient::InvalidHandle);
    EXPECT_EQ(Call(handle, false), ExporterClient::InvalidHandle);
    EXPECT_EQ(Call(7, false), ExporterClient::InvalidHandle);
}

TEST_F(FakeServer, HandlesRunOut) {
    std::array<ConnectionHandle, ExporterClient::MaxHandles> handles{};
    for (ConnectionHandle& handle : handles)
        ASSERT_EQ(client.Open(0, handle), 0u);
    std::sort(handles.begin(), handles.end());
    EXPECT_EQ(std::adjacent_find(handles.begin(), handles.end()), handles.end());
    ConnectionHandle extra = 0;
    EXPECT_EQ(client.Open(0, extra), ExporterClient::TooManyOpen);
    EXPECT_EQ(client.Close(handles[3]), 0u);
    EXPECT_EQ(client.Open(0, extra), 0u);
    EXPECT_EQ(extra, handles[3]);
}

struct Fault {
    const char* mode;
    ClientResult code;
    /* Where a slow machine (a sanitizer's) may run out of time before the fault shows. */
    ClientResult orSlow = 0xFFFF;
};

// Each fault, from a server that was answering well: every request returns at once, the
// fault's code comes within the time a server is trusted, and a fresh open samples again.
TEST_F(FakeServer, EveryFaultAnswersAtOnceWithItsCode) {
    const Fault faults[] = {
        {"stall", ExporterClient::NoAnswer},    {"close", ExporterClient::NoAnswer},
        {"trickle", ExporterClient::NoAnswer},  {"500", ExporterClient::BadAnswer},
        {"401", ExporterClient::Refused},       {"garbage", ExporterClient::BadAnswer},
        {"nohttp", ExporterClient::BadAnswer},  {"huge", ExporterClient::BadAnswer, ExporterClient::NoAnswer},
        {"hugelength", ExporterClient::BadAnswer}, {"missing", ExporterClient::BadAnswer},
        {"back", 0},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.mode);
        fake.SetMode("good");
        ConnectionHandle handle = 0;
        ASSERT_EQ(client.Open(0, handle), 0u);
        std::this_thread::sleep_for(100ms);
        ASSERT_EQ(Call(handle, true), 0u);
        fake.SetMode(fault.mode);
        m_calls.clear();

        ClientResult result = 0;
        std::int32_t percent = -1;
        const Clock::time_point start = Clock::now();
        int count = 0;
        // Two scrapes and the trusted second reach the fault, the last good one perhaps still in
        // flight; a client that trusted a server the default five seconds would not get there.
        while (Clock::now() - start < 4000ms && result == 0 && !(fault.code == 0 && percent == 0)) {
            std::this_thread::sleep_for(50ms);
            result = Call(handle, fault.code != 0 && count % 2 == 1, &percent);
            ++count;
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        std::vector<CallTime> calls = m_calls;
        std::sort(calls.begin(), calls.end(),
                  [](const CallTime& a, const CallTime& b) { return a.wallMicros < b.wallMicros; });
        double longestCpu = 0;
        for (const CallTime& call : calls)
            longestCpu = std::max(longestCpu, call.cpuMicros);
        std::printf("fault %-10s code %04X after %4lld ms, %2zu calls: median %6.1f us, longest "
                    "%7.1f us (CPU %7.1f us)\n",
                    fault.mode, unsigned(result), static_cast<long long>(took.count()), calls.size(),
                    calls[calls.size() / 2].wallMicros, calls.back().wallMicros, longestCpu);
        EXPECT_TRUE(result == fault.code || result == fault.orSlow) << std::hex << result;
        if (fault.code == 0) {
            EXPECT_EQ(percent, 0); // the counters went back: no busy share, no code
        }
        // A request only copies a record (bench_exporter measures it). A request that waited
        // for the faulty server would wait its second; a busy machine's scheduler stays under.
        EXPECT_LT(calls.back().wallMicros, 500000.0);
        client.Close(handle);

        fake.SetMode("good");
        ASSERT_EQ(client.Open(0, handle), 0u);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(Call(handle, false), 0u);
        client.Close(handle);
    }
}

TEST(ExporterClient, DeadAndStalledServersCostTheScanItsTimeAtMost) {
    FakeExporter stalled;
    stalled.SetMode("stall");
    FakeExporter good;
    ExporterClient client({Entry(stalled.Url()), Entry("http://127.0.0.1:" + std::to_string(FreePort())),
                           Entry(good.Url())},
                          FastTiming);
    const Clock::time_point start = Clock::now();
    client.ScanNames();
    // The scan's second, and what a busy machine adds; the default three would cross it.
    EXPECT_LT(Clock::now() - start, 2000ms);
    std::array<unsigned char, 255> name{};
    EXPECT_EQ(client.ServerName(0, name.size(), name.data()), ExporterClient::NoAnswer);
    EXPECT_EQ(name[0], 0);
    EXPECT_EQ(client.ServerName(1, name.size(), name.data()), ExporterClient::NoAnswer);
    EXPECT_EQ(client.ServerName(2, name.size(), name.data()), 0u);

    ConnectionHandle handle = 999;
    EXPECT_EQ(client.Open(1, handle), ExporterClient::NoAnswer);
    EXPECT_EQ(handle, 999u);
    EXPECT_EQ(client.Open(0, handle), ExporterClient::NoAnswer);
    stalled.SetMode("good");
    EXPECT_EQ(client.Open(0, handle), 0u);
}

} // namespace
