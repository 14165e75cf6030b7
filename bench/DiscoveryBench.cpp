// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The discovery parse alone for a fleet of 2,000 node exporters: both replies of a
// Prometheus 2.42 in its own shape (a target as the recorded one, names as its query
// answers them), read, joined and named. Reports the time and, as "peak_heap_bytes",
// the most heap that one pass held at once over what it started with; the replies
// themselves (their size as "reply_bytes") are the caller's and not counted.

#include "Discovery.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

namespace {

std::atomic<long> heapNow{0};
std::atomic<long> heapPeak{0};

void* Count(void* p) {
    if (p == nullptr)
        throw std::bad_alloc();
    const long now = heapNow.fetch_add(long(malloc_usable_size(p))) + long(malloc_usable_size(p));
    long peak = heapPeak.load();
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void Uncount(void* p) {
    if (p != nullptr)
        heapNow.fetch_sub(long(malloc_usable_size(p)));
    std::free(p);
}

} // namespace

void* operator new(std::size_t size) {
    return Count(std::malloc(size == 0 ? 1 : size));
}
void* operator new[](std::size_t size) {
    return Count(std::malloc(size == 0 ? 1 : size));
}
void operator delete(void* p) noexcept {
    Uncount(p);
}
void operator delete[](void* p) noexcept {
    Uncount(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Uncount(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Uncount(p);
}

namespace {

constexpr int Servers = 2000;

std::string Instance(int i) {
    return "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ":9100";
}

std::string TargetsReply() {
    std::string list;
    for (int i = 0; i < Servers; ++i) {
        const std::string at = Instance(i);
        list += std::string(i ? "," : "") + R"({"discoveredLabels":{"__address__":")" + at +
                R"(","__metrics_path__":"/metrics","__scheme__":"http","__scrape_interval__":"15s",)"
                R"("__scrape_timeout__":"10s","job":"node"},"labels":{"instance":")" + at +
                R"(","job":"node"},"scrapePool":"node","scrapeUrl":"http://)" + at +
                R"(/metrics","globalUrl":"http://)" + at +
                R"(/metrics","lastError":"","lastScrape":"2026-12-09T16:48:38.624032672Z",)"
                R"("lastScrapeDuration":0.00328711,"health":"up","scrapeInterval":"15s","scrapeTimeout":"10s"})";
    }
    return R"({"status":"success","data":{"activeTargets":[)" + list + R"(],"droppedTargets":[]}})";
}

std::string NamesReply() {
    std::string list;
    for (int i = 0; i < Servers; ++i)
        list += std::string(i ? "," : "") + R"x({"metric":{"__name__":"node_uname_info","domainname":"(none)",)x"
                R"("instance":")" + Instance(i) + R"(","job":"node","machine":"x86_64","nodename":"fileserver-)" +
                std::to_string((i * 7919) % Servers) +
                R"(","release":"6.1.0-28-amd64","sysname":"Linux","version":"#1 SMP PREEMPT_DYNAMIC Debian"},)"
                R"("value":[1796834918.896,"1"]})";
    return R"({"status":"success","data":{"resultType":"vector","result":[)" + list + "]}}";
}

void DiscoveryParse(benchmark::State& state) {
    const std::string targetsReply = TargetsReply();
    const std::string namesReply = NamesReply();
    long peak = 0;
    for (auto _ : state) {
        const long base = heapNow.load();
        heapPeak.store(base);
        std::vector<ActiveTarget> targets;
        std::vector<InstanceName> names;
        if (!ReadActiveTargets(targetsReply, "node", targets).ok || !ReadInstanceNames(namesReply, names).ok) {
            state.SkipWithError("the generated replies do not parse");
            break;
        }
        std::vector<DiscoveredServer> servers = JoinDiscovery(targets, names);
        std::vector<ListedName> list;
        list.reserve(servers.size());
        for (const DiscoveredServer& s : servers)
            list.push_back({s.name, s.instance});
        TellNamesApart(list);
        if (list.size() != Servers) {
            state.SkipWithError("not every server was listed");
            break;
        }
        benchmark::DoNotOptimize(list.data());
        peak = std::max(peak, heapPeak.load() - base);
    }
    state.counters["peak_heap_bytes"] = double(peak);
    state.counters["reply_bytes"] = double(targetsReply.size() + namesReply.size());
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(targetsReply.size() + namesReply.size()));
}
BENCHMARK(DiscoveryParse)->Unit(benchmark::kMillisecond);

// A hostile reply ten thousand brackets deep, refused at the sixty-fifth.
void DiscoveryDeepRefused(benchmark::State& state) {
    const std::string deep = R"({"status":"success","data":{"activeTargets":)" + std::string(10000, '[') +
                             std::string(10000, ']') + "}}";
    std::vector<ActiveTarget> targets;
    for (auto _ : state) {
        if (ReadActiveTargets(deep, "node", targets).ok) {
            state.SkipWithError("the deep reply was read");
            break;
        }
    }
}
BENCHMARK(DiscoveryDeepRefused)->Unit(benchmark::kMicrosecond);

} // namespace
