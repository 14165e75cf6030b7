// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Cost of parsing one recorded node exporter reply, as the remote client does
// on every completed scrape: a 2-CPU server and a 64-CPU one.
#include "ExporterText.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

void ParseReply(benchmark::State& state, const char* file) {
    std::ifstream in(std::string(SERVERSTATS_TEST_DATA) + "/" + file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string reply = text.str();
    ExporterReading reading;
    for (auto _ : state) {
        if (!ParseExporterText(reply, reading) || !reading.hasCpu) {
            state.SkipWithError("the recorded reply does not parse");
            break;
        }
        benchmark::DoNotOptimize(reading);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(reply.size()));
}
BENCHMARK_CAPTURE(ParseReply, Cpus2, "exporter-2cpu.txt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ParseReply, Cpus64, "exporter-64cpu.txt")->Unit(benchmark::kMicrosecond);

} // namespace
