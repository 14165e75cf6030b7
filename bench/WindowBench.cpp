// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// One tick on the real window, offscreen at its design size: the sampling tick
// with all of its point updates, the hand-over to the chart, the axis rescale
// and the repaint it asks for, through the window's backing store as on a screen
// (or one paint of the whole window into an image). Painted at the screen's
// density: run it with QT_SCALE_FACTOR=2 to measure a high-density screen.
// The chart's tick also with a long connection list, which must not cost more,
// and the building of a window that lists that many servers.

#include "ClientServices.h"
#include "LiveChart.h"
#include "StubClient.h"
#include "TMainForm.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QTabWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// A server whose utilisation and cache counters move every request, so that
// the lines and the axis ranges change as they would on a live server: by
// default jumping anywhere in 0..100 every second, the most a line can cost to
// draw; wandering, a few percent up or down at a time, as a server usually does;
// quiet, level at 1 % with a blip to 3 % every 20 s, as an idle one.
enum class Movement { Jagged, Wandering, Quiet };

// The stub, listing `servers` connections, references 1 to `servers`, all of them
// answering alike.
class MovingServer final : public StubClient {
public:
    explicit MovingServer(Movement movement = Movement::Jagged, int servers = 1)
        : m_movement(movement), m_servers(std::uint32_t(servers)) {}
    ClientResult ScanConnRefs(ScanIterator& iterator, ConnRef& ref) override {
        if (iterator >= m_servers)
            return NoMoreConnections;
        return ref = ++iterator, 0;
    }
    ClientResult GetConnRefInfo(ConnRef ref, std::uint32_t, std::uint32_t length,
                                unsigned char* buffer) override {
        const int written = std::snprintf(reinterpret_cast<char*>(buffer), length,
                                          "bench-server-%u", unsigned(ref));
        return written > 0 && std::uint32_t(written) < length ? 0 : 1;
    }
    ClientResult GetServerInfoRecord(ConnectionHandle, ServerInfoRecord& record) override {
        m_step = (m_step * 37 + 11) % 101;
        if (m_movement == Movement::Wandering)
            m_level = std::clamp<std::int32_t>(m_level + std::int32_t(m_step % 13) - 6, 0, 100);
        if (m_movement == Movement::Quiet)
            m_level = ++m_requests % 20 == 0 ? 3 : 1;
        WriteField32(record, ServerInfoField::Utilization,
                     m_movement == Movement::Jagged ? std::int32_t(m_step) : m_level);
        return 0;
    }
    ClientResult GetCacheInfoRecord(ConnectionHandle, CacheInfoRecord& record) override {
        m_requests += 500 + m_step;
        m_hits += 400 + m_step / 2;
        m_step = (m_step * 37 + 11) % 101;
        WriteField32(record, CacheInfoField::CacheRequests, m_requests);
        WriteField32(record, CacheInfoField::CacheHits, m_hits);
        return 0;
    }

private:
    Movement m_movement;
    std::uint32_t m_servers;
    std::int32_t m_level = 50;
    std::uint32_t m_step = 0;
    std::uint32_t m_requests = 1;
    std::uint32_t m_hits = 1;
};

// An image like the window's backing store, at the screen's density.
QImage ScreenImage(const QWidget& widget) {
    const qreal ratio = widget.devicePixelRatioF();
    QImage image(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    return image;
}

// What a tick paints: the whole window into an image (as after an expose); what
// the tick marks for repainting, painted into the window's backing store; or all
// that the event loop does after the tick, as on a screen.
enum class Painted { Window, Marked, EventLoop };

void TickAndPaint(benchmark::State& state, Painted painted, Movement movement = Movement::Jagged,
                  int servers = 1) {
    MovingServer server(movement, servers);
    PrimaryConn = PrimaryConnUnopened;
    TMainForm form(server);
    form.resize(683, 312);
    form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
    form.findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentIndex(int(state.range(0)));
    form.show();
    QImage image = ScreenImage(form);
    for (int i = 0; i < 200; ++i) // fill the window so that every tick scrolls
        form.Timer1Timer(nullptr);
    QCoreApplication::processEvents();

    for (auto _ : state) {
        form.Timer1Timer(nullptr);
        if (painted == Painted::Window) {
            form.render(&image);
            benchmark::DoNotOptimize(image.constBits());
        } else if (painted == Painted::Marked) {
            QCoreApplication::sendPostedEvents(&form, QEvent::UpdateRequest);
        } else {
            QCoreApplication::processEvents();
        }
    }
    state.SetLabel(state.range(0) == 0 ? "utilization" : "caching");
}

void WindowTick(benchmark::State& state) {
    TickAndPaint(state, Painted::Window);
}
BENCHMARK(WindowTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void ChartTick(benchmark::State& state) {
    TickAndPaint(state, Painted::Marked);
}
BENCHMARK(ChartTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The tick and the event loop's paint beside a list of 1 or 2,000 servers (the
// second argument): a tick repaints the chart only, so the list's length must not show.
void ChartTickListed(benchmark::State& state) {
    TickAndPaint(state, Painted::EventLoop, Movement::Jagged, int(state.range(1)));
    state.SetLabel(std::to_string(state.range(1)) + " listed");
}
BENCHMARK(ChartTickListed)->Args({0, 1})->Args({0, 2000})->Unit(benchmark::kMicrosecond);

// From nothing to a window listing that many servers, shown and painted once on
// its server page: the scan, the list, the layout and the first paint.
void WindowBuild(benchmark::State& state) {
    for (auto _ : state) {
        MovingServer server(Movement::Jagged, int(state.range(0)));
        PrimaryConn = PrimaryConnUnopened;
        TMainForm form(server);
        form.resize(683, 312);
        form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
        form.show();
        QImage image = ScreenImage(form);
        form.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(WindowBuild)->Arg(1)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

void ChartTickWandering(benchmark::State& state) {
    TickAndPaint(state, Painted::Marked, Movement::Wandering);
}
BENCHMARK(ChartTickWandering)->Arg(0)->Unit(benchmark::kMicrosecond);

void ChartTickQuiet(benchmark::State& state) {
    TickAndPaint(state, Painted::Marked, Movement::Quiet);
}
BENCHMARK(ChartTickQuiet)->Arg(0)->Unit(benchmark::kMicrosecond);

// The chart alone, outside the window: one wandering line set anew and painted.
void ChartAlone(benchmark::State& state) {
    LiveChart chart;
    chart.resize(460, 250);
    chart.SetLineLength(WindowPoints);
    chart.FillZeros();
    chart.show();
    QImage image = ScreenImage(chart);
    std::int32_t level = 50;
    std::uint32_t step = 0;
    for (auto _ : state) {
        for (int i = 0; i < WindowPoints; ++i) {
            step = (step * 37 + 11) % 101;
            level = std::clamp<std::int32_t>(level + std::int32_t(step % 13) - 6, 0, 100);
            chart.SetPoint(ChartLine::Series1, i, level);
        }
        chart.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(ChartAlone)->Unit(benchmark::kMicrosecond);

// The chart alone, on a screen: a tick whose new point moves the range every time,
// so that its axis is drawn anew along with the lines.
void ChartRangeMoves(benchmark::State& state) {
    LiveChart chart;
    chart.resize(460, 250);
    chart.SetLineLength(WindowPoints);
    chart.FillZeros();
    chart.show();
    for (int i = 0; i < WindowPoints; ++i)
        chart.SetPoint(ChartLine::Series1, i, (i * 37) % 90);
    QCoreApplication::processEvents();
    std::int32_t top = 100;
    for (auto _ : state) {
        top = top == 100 ? 150 : 100;
        chart.SetPoint(ChartLine::Series2, WindowPoints / 2, top);
        QCoreApplication::sendPostedEvents(&chart, QEvent::UpdateRequest);
    }
}
BENCHMARK(ChartRangeMoves)->Unit(benchmark::kMicrosecond);

// The same without the paint: what a tick costs while the window is hidden or
// shows its other page.
void WindowTickWithoutPaint(benchmark::State& state) {
    MovingServer server;
    PrimaryConn = PrimaryConnUnopened;
    TMainForm form(server);
    for (int i = 0; i < 200; ++i)
        form.Timer1Timer(nullptr);
    for (auto _ : state)
        form.Timer1Timer(nullptr);
}
BENCHMARK(WindowTickWithoutPaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
