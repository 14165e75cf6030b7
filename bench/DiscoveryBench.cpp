// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Discovery of a fleet through both replies of a Prometheus 2.42 in its own shape (a
// target as the recorded one, names as its query answers them):
// - the parse alone for 2,000 node exporters, read, joined and named. Reports the time and,
//   as "peak_heap_bytes", the most heap that one pass held at once over what it started
//   with; the replies themselves (their size as "reply_bytes") are the caller's;
// - the client's scan of 10,000 discovered exporters served on 127.0.0.1, with the CPU
//   time that the network thread ("net_cpu_ms") and the calling thread, the window's at
//   start-up ("window_cpu_ms"), spent on it.

#include "Discovery.h"
#include "ExporterClient.h"
#include "LoopbackServer.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
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

std::string TargetsReply(int servers = Servers) {
    std::string list;
    for (int i = 0; i < servers; ++i) {
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

std::string NamesReply(int servers = Servers) {
    std::string list;
    for (int i = 0; i < servers; ++i)
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

/* CPU time of the calling thread, in milliseconds. */
double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

/* CPU time of this process's thread named `name`, in milliseconds; 0 without one. */
double NamedThreadCpuMs(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        if (!std::getline(comm, line) || line != name)
            continue;
        std::ifstream schedstat(task.path() / "schedstat");
        double ns = 0;
        schedstat >> ns;
        return ns / 1e6;
    }
    return 0;
}

void DiscoveryStartUp(benchmark::State& state) {
    constexpr int Fleet = 10000;
    LoopbackServer prometheus({{"/api/v1/targets", TargetsReply(Fleet)}, {"/api/v1/query", NamesReply(Fleet)}});
    if (!prometheus.Ready()) {
        state.SkipWithError("no socket");
        return;
    }
    double window = 0;
    double network = 0;
    double scan = 0;
    std::size_t listed = 0;
    for (auto _ : state) {
        std::ostringstream errors;
        ConnectionEntry line{prometheus.Base(), {}, {}, {}, true};
        line.discoverJob = "node";
        ExporterClient client({line}, ExporterTiming{}, errors);
        const double before = ThreadCpuMs();
        const auto start = std::chrono::steady_clock::now();
        fprintf(stderr, "DBG start t=%lld\n", (long long)start.time_since_epoch().count() / 1000000);
        client.ScanNames();
        fprintf(stderr, "DBG end t=%lld\n", (long long)std::chrono::steady_clock::now().time_since_epoch().count() / 1000000);
        window = ThreadCpuMs() - before;
        scan = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        network = NamedThreadCpuMs("ServerStats net");
        listed = client.ServerCount();
        if (listed == 0)
            state.SetLabel(errors.str().substr(0, 200));
    }
    state.counters["listed"] = double(listed);
    state.counters["window_cpu_ms"] = window;
    state.counters["net_cpu_ms"] = network;
    state.counters["scan_ms"] = scan;
}
BENCHMARK(DiscoveryStartUp)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
