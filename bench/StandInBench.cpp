// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Cost of one statistics request of the stand-in on this machine's real /proc:
// the sampling makes one per second, so anything well below a millisecond is fine.
#include "LocalMachineClient.h"

#include <benchmark/benchmark.h>

namespace {

/* Opens a handle on this machine, or marks the run as skipped. */
ConnectionHandle openLocal(LocalMachineClient& client, benchmark::State& state) {
    ConnectionHandle handle = 0;
    if (client.NWCCOpenConnByRef(LocalMachineClient::LocalRef, OpenStateDefault, 0, handle) != 0)
        state.SkipWithError("cannot open this machine: /proc unreadable");
    return handle;
}

void ServerInfoRequest(benchmark::State& state) {
    LocalMachineClient client;
    const ConnectionHandle handle = openLocal(client, state);
    ServerInfoRecord record;
    for (auto _ : state) {
        if (client.GetServerInfoRecord(handle, record) != 0) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(record);
    }
    client.CloseConn(handle);
}
BENCHMARK(ServerInfoRequest)->Unit(benchmark::kMicrosecond);

void CacheInfoRequest(benchmark::State& state) {
    LocalMachineClient client;
    const ConnectionHandle handle = openLocal(client, state);
    CacheInfoRecord record;
    for (auto _ : state) {
        if (client.GetCacheInfoRecord(handle, record) != 0) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(record);
    }
    client.CloseConn(handle);
}
BENCHMARK(CacheInfoRequest)->Unit(benchmark::kMicrosecond);

} // namespace
