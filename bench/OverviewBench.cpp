// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// One refresh of the overview for 10,000 discovered servers, in its two halves:
// on the network thread, reading the targets reply and the three query replies of
// a Prometheus in its own shape and making the rows; on the window's thread,
// taking the rows into the model, sorting them busiest first through the proxy and
// repainting the table, offscreen at a usual size. The process's peak resident
// memory is reported as "peak_rss_mb".

#include "FleetQueries.h"
#include "OverviewPage.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <string>

namespace {

constexpr int Servers = 10000;

std::string Instance(int i) {
    return "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ":9100";
}

// A target as Prometheus 2.42 writes it, every field it sends.
std::string TargetsReply() {
    std::string out = R"({"status":"success","data":{"activeTargets":[)";
    for (int i = 0; i < Servers; ++i) {
        const std::string inst = Instance(i);
        out += (i ? "," : "") + std::string(R"({"discoveredLabels":{"__address__":")") + inst +
               R"(","__metrics_path__":"/metrics","__scheme__":"http","__scrape_interval__":"15s","__scrape_timeout__":"10s","job":"node"},"labels":{"instance":")" +
               inst + R"(","job":"node"},"scrapePool":"node","scrapeUrl":"http://)" + inst +
               R"(/metrics","globalUrl":"http://)" + inst +
               R"(/metrics","lastError":"","lastScrape":"2026-01-01T00:00:00.000Z","lastScrapeDuration":0.0031,"health":")" +
               (i % 500 == 0 ? "down" : "up") + R"(","scrapeInterval":"15s","scrapeTimeout":"10s"})";
    }
    return out + R"(],"droppedTargets":[]}})";
}

std::string ValuesReply(std::mt19937& random) {
    std::uniform_real_distribution<double> value(0, 100);
    std::string out = R"({"status":"success","data":{"resultType":"vector","result":[)";
    for (int i = 0; i < Servers; ++i)
        out += (i ? "," : "") + std::string(R"({"metric":{"instance":")") + Instance(i) +
               R"("},"value":[1767225600.123,")" + std::to_string(value(random)) + "\"]}";
    return out + "]}}";
}

std::vector<FleetListed> Listed() {
    std::vector<FleetListed> listed;
    for (int i = 0; i < Servers; ++i)
        if (i % 500 != 0)
            listed.push_back({"fs-" + std::to_string(i), ConnRef(i + 2), Instance(i)});
    return listed;
}

std::vector<FleetRow> Refresh(const std::string& targets, const std::array<std::string, 3>& values,
                              const std::vector<FleetListed>& listed) {
    LineReplies replies;
    if (!ReadTargetStates(targets, "node", replies.targets).ok)
        std::abort();
    for (std::size_t s = 0; s < 3; ++s)
        if (!ReadInstanceValues(values[s], replies.values[s]).ok)
            std::abort();
    std::vector<std::string> problems;
    return DiscoveryRows(listed, replies, "Prometheus at prom:9090", problems);
}

void NetworkSide(benchmark::State& state) {
    std::mt19937 random(1);
    const std::string targets = TargetsReply();
    const std::array<std::string, 3> values{ValuesReply(random), ValuesReply(random), ValuesReply(random)};
    const std::vector<FleetListed> listed = Listed();
    for (auto _ : state)
        benchmark::DoNotOptimize(Refresh(targets, values, listed));
    state.counters["reply_bytes"] = double(targets.size() + 3 * values[0].size());
}
BENCHMARK(NetworkSide)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

/* Hands the page a new snapshot at every Take. */
struct Fresh : FleetReadings {
    std::vector<FleetSnapshot> snapshots;
    std::size_t next = 0;
    void Start() override {}
    void Stop() override {}
    bool Take(FleetSnapshot& into) override {
        into = snapshots[next++ % snapshots.size()];
        return true;
    }
};

void WindowSide(benchmark::State& state) {
    std::mt19937 random(2);
    auto readings = std::make_unique<Fresh>();
    const std::string targets = TargetsReply();
    const std::vector<FleetListed> listed = Listed();
    for (int i = 0; i < 2; ++i) {
        const std::array<std::string, 3> values{ValuesReply(random), ValuesReply(random), ValuesReply(random)};
        readings->snapshots.push_back({Refresh(targets, values, listed), {}});
    }
    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    auto* filter = new QLineEdit;
    auto* summary = new QLabel;
    auto* table = new QTableView;
    layout->addWidget(filter);
    layout->addWidget(summary);
    layout->addWidget(table);
    OverviewPage overview(&page, filter, summary, table);
    overview.SetReadings(std::move(readings));
    page.resize(900, 600);
    page.show();
    QApplication::processEvents();
    for (auto _ : state) {
        overview.Refresh();
        table->viewport()->repaint();
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            state.counters["peak_rss_mb"] = std::stod(line.substr(6)) / 1024;
}
BENCHMARK(WindowSide)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
