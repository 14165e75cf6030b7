// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Tens of thousands of ticks on the real window at its design size, each one painted:
// values that keep both axes moving, statistic and server switches, failed requests
// and now and then a failed open. Each line keeps exactly its 181 points, and memory
// stays put once the first thousand ticks have warmed everything up: resident memory,
// which also rises when a step lays out a flood of short-lived objects, or under
// AddressSanitizer (fewer ticks, see CMakeLists.txt) the live heap.

#include "ClientServices.h"
#include "LastResult.h"
#include "MessageBoxWatcher.h"
#include "ScriptedClient.h"
#include "WindowFixture.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime; g++ ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#ifndef WINDOW_SOAK_TICKS
#define WINDOW_SOAK_TICKS 50000
#endif

namespace {

constexpr int SoakTicks = WINDOW_SOAK_TICKS;
// Allocator pools, glyph caches and the like fill during these; growth counts from here.
constexpr int SettleTicks = 1000;
constexpr long MaxGrowthKiB = 2048;
// How often things happen, in ticks.
constexpr int StatisticEvery = 2500;
constexpr int ServerEvery = 4000;
constexpr int FailedRequestEvery = 3000;
constexpr int FailedOpenEvery = 10000;
constexpr ClientResult OpenCode = 0x8870;

/* VmRSS of this process in KiB, or -1 when it cannot be read. */
long ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
// ASan's quarantine keeps freed blocks resident by design, so there the heap that is
// still allocated must stay put instead.
constexpr const char* Measure = "live heap (ASan)";
constexpr bool MeasuresResident = false;
long MeasuredKiB() {
    return long(__sanitizer_get_current_allocated_bytes() / 1024);
}
#else
constexpr const char* Measure = "VmRSS";
constexpr bool MeasuresResident = true;
long MeasuredKiB() {
    return ResidentKiB();
}
#endif

// Deterministic values that wander and spike now and then, so that both axes keep
// moving as spikes arrive and scroll out again; rarely a reply at the very ends of
// the field's range, which a server can send just as well.
class Wander {
public:
    std::uint32_t Next() {
        m_state = m_state * 1664525u + 1013904223u;
        return m_state >> 8;
    }
    std::int32_t Percent(int tick) {
        const std::uint32_t r = Next();
        if (tick % 9973 == 0)
            return r % 2 ? std::numeric_limits<std::int32_t>::max()
                         : std::numeric_limits<std::int32_t>::min();
        if (tick % 777 == 0)
            return std::int32_t(r % 5000) - 1000;
        return std::int32_t(r % 101);
    }

private:
    std::uint32_t m_state = 12345;
};

/* Empty when both lines hold exactly 181 points, all 0 if `zeros`. */
QString LineProblem(const LiveChart& chart, bool zeros) {
    if (chart.PointCount() != WindowPoints)
        return QStringLiteral("%1 points").arg(chart.PointCount());
    for (const ChartLine series : {ChartLine::Series1, ChartLine::Series2}) {
        const auto points = chart.Points(series);
        const auto nonzero = std::find_if(points.begin(), points.end(), [](auto y) { return y != 0; });
        if (zeros && nonzero != points.end())
            return QStringLiteral("series %1 point %2 is %3")
                .arg(int(series) + 1)
                .arg(nonzero - points.begin())
                .arg(*nonzero);
    }
    return {};
}

#define VERIFY_LINES(chart, zeros, tick)                                                           \
    do {                                                                                           \
        const QString problem = LineProblem(chart, zeros);                                         \
        QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("tick %1: ").arg(tick) + problem));  \
    } while (false)

} // namespace

class WindowSoakTest : public QObject {
    Q_OBJECT

private slots:
    void paintedTicks() {
        const ScopedCurrentDir dir;
        ScriptedClient client;
        client.connections = {{11, "ALPHA"}, {22, "BETA"}};
        client.primary = 11;
        MessageBoxWatcher watcher;
        watcher.arm(0);
        PrimaryConn = PrimaryConnUnopened;
        LastResult = 0;
        TMainForm form(client);
        WindowParts w(form);
        w.timer->stop(); // the test ticks
        form.resize(683, 312);
        w.pages->setCurrentWidget(w.serverPage);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(w.chart->isVisible());

        Wander wander;
        std::uint32_t requests = 1, hits = 1;
        int resets = 0, failedRequests = 0, failedOpens = 0;
        long before = -1, residentBefore = -1;
        QElapsedTimer clock;
        clock.start();
        for (int tick = 1; tick <= SoakTicks; ++tick) {
            client.SetUtilization(wander.Percent(tick));
            const std::uint32_t more = 100 + wander.Next() % 900;
            requests += more;
            hits += wander.Next() % (more + 1);
            client.SetCacheCounters(requests, hits);

            form.Timer1Timer(w.timer);
            w.chart->repaint();
            QCoreApplication::processEvents();

            if (tick % 1000 == 0)
                client.calls.clear(); // keeps its capacity: the log never grows past it
            if (tick == SettleTicks) {
                before = MeasuredKiB();
                residentBefore = ResidentKiB();
            }

            if (tick % FailedRequestEvery == FailedRequestEvery / 2 &&
                form.Sampling().ConnHandle != NoConnection) {
                const ClientOp op = w.statistic->currentIndex() == 0 ? ClientOp::GetServerInfoRecord
                                                                     : ClientOp::GetCacheInfoRecord;
                client.Fail(op, 0x8836, client.CallCount(op) + 1, true);
                form.Timer1Timer(w.timer);
                QVERIFY(form.Sampling().Stopped);
                ++failedRequests;
            }
            if (tick % StatisticEvery == 0) {
                w.statistic->setCurrentIndex(1 - w.statistic->currentIndex());
                ++resets;
                VERIFY_LINES(*w.chart, true, tick);
            }
            if (tick % ServerEvery == 0 || tick % FailedOpenEvery == FailedOpenEvery / 2) {
                const bool fails = tick % FailedOpenEvery == FailedOpenEvery / 2;
                if (fails)
                    client.Fail(ClientOp::NWCCOpenConnByRef, OpenCode,
                                client.CallCount(ClientOp::NWCCOpenConnByRef) + 1, true);
                w.servers->SetItemIndex(1 - w.servers->ItemIndex());
                QCOMPARE(form.Sampling().ConnHandle == NoConnection, fails);
                failedOpens += fails ? 1 : 0;
                ++resets;
                VERIFY_LINES(*w.chart, true, tick);
            }
        }
        const qint64 elapsed = clock.elapsed();
        const long after = MeasuredKiB();

        VERIFY_LINES(*w.chart, false, SoakTicks);
        QCOMPARE(form.Sampling().SampleCount, WindowPoints);
        QCOMPARE(int(watcher.boxes().size()), failedOpens);
        for (const SeenBox& box : watcher.boxes())
            QCOMPARE(box.text, QStringLiteral("Error 8870: NWCCOpenConnByRef"));
        qInfo("%d painted ticks in %lld ms (%.1f us each); %d resets, %d failed requests, "
              "%d failed opens",
              SoakTicks, elapsed, 1000.0 * double(elapsed) / SoakTicks, resets, failedRequests,
              failedOpens);
        qInfo("%s at tick %d: %ld KiB, at the end: %ld KiB, growth %ld KiB (limit %ld)", Measure,
              SettleTicks, before, after, after - before, MaxGrowthKiB);
        if (!MeasuresResident)
            qInfo("VmRSS at tick %d: %ld KiB, at the end: %ld KiB", SettleTicks, residentBefore,
                  ResidentKiB());
        QVERIFY(before > 0 && after > 0);
        QVERIFY2(after - before <= MaxGrowthKiB, "memory grew");
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(WindowSoakTest)

#include "WindowSoakTest.moc"
