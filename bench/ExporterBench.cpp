// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The remote backend on 127.0.0.1:
// - the cost of one statistics request once a scrape has completed: the network thread has
//   parsed the reply into a record, and the request copies it under a mutex and fills the
//   reply record, while the network thread scrapes once a second meanwhile;
// - the scan of 256 exporters' lines whose replies are 200 KB each (a 128-CPU server's),
//   with the process's peak resident set as "peak_rss_mb": run it in a process of its own
//   (--benchmark_filter=Scan) for that figure to be its own.
#include "ExporterClient.h"
#include "LoopbackServer.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

std::string Recorded(const char* file) {
    std::ifstream in(std::string(SERVERSTATS_TEST_DATA) + "/" + file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <bool Cache> void StatisticsCall(benchmark::State& state, const char* file) {
    LoopbackServer server({{"/", Recorded(file)}});
    if (!server.Ready() || Recorded(file).size() < 100) {
        state.SkipWithError("no recorded reply or no socket");
        return;
    }
    ExporterClient client({ConnectionEntry{server.Base() + "/metrics", {}, {}, {}}});
    ConnectionHandle handle = 0;
    if (client.Open(0, handle) != 0) {
        state.SkipWithError("cannot open the recorded server");
        return;
    }
    ServerInfoRecord info;
    CacheInfoRecord caching;
    for (auto _ : state) {
        const ClientResult result =
            Cache ? client.CacheInfo(handle, caching) : client.ServerInfo(handle, info);
        if (result != 0) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(info);
        benchmark::DoNotOptimize(caching);
    }
}

void ServerInfo2Cpu(benchmark::State& state) { StatisticsCall<false>(state, "exporter-2cpu.txt"); }
void ServerInfo64Cpu(benchmark::State& state) { StatisticsCall<false>(state, "exporter-64cpu.txt"); }
void CacheInfo2Cpu(benchmark::State& state) { StatisticsCall<true>(state, "exporter-2cpu.txt"); }
BENCHMARK(ServerInfo2Cpu)->Unit(benchmark::kNanosecond);
BENCHMARK(ServerInfo64Cpu)->Unit(benchmark::kNanosecond);
BENCHMARK(CacheInfo2Cpu)->Unit(benchmark::kNanosecond);

void ScanOf256WideReplies(benchmark::State& state) {
    std::string reply = Recorded("exporter-64cpu.txt");
    const std::string filler = "# filler line of a long but valid reply\n";
    while (reply.size() + filler.size() < 200'000)
        reply.insert(0, filler);
    LoopbackServer server({{"/", reply}});
    if (!server.Ready()) {
        state.SkipWithError("no socket");
        return;
    }
    const std::vector<ConnectionEntry> lines(256, ConnectionEntry{server.Base() + "/metrics", {}, {}, {}});
    std::size_t named = 0;
    for (auto _ : state) {
        std::ostringstream errors;
        ExporterClient client(lines, ExporterTiming{}, errors);
        client.ScanNames();
        named = 0;
        std::array<unsigned char, 256> name{};
        for (std::size_t i = 0; i < lines.size(); ++i)
            named += client.ServerName(i, name.size(), name.data()) == 0 ? 1 : 0;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["named"] = double(named);
    state.counters["peak_rss_mb"] = double(usage.ru_maxrss) / 1024;
}
BENCHMARK(ScanOf256WideReplies)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
