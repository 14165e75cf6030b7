// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The main window against a scripted client, without a display: start-up, choosing
// a server, switching the statistic, ticks, and failures with exactly the boxes they show.

#include "TwoServerWindow.h"

#include <QRadioButton>
#include <QStyle>

#include <algorithm>
#include <array>
#include <span>

namespace {

// "Op(args)" with the arguments each operation really has, in ClientOp's order.
QStringList Log(const ScriptedClient& client, std::size_t from = 0) {
    static const struct {
        const char* name;
        int arguments;
    } ops[] = {{"ClientInit", 0},   {"GetPrimaryConnRef", 0},
               {"ScanConnRefs", 1}, {"GetConnRefInfo", 3},
               {"Open", 3},         {"Close", 1},
               {"ServerInfo", 1},   {"CacheInfo", 1}};
    QStringList out;
    for (std::size_t i = from; i < client.calls.size(); ++i) {
        const ClientCall& c = client.calls[i];
        const std::uint32_t values[] = {c.a, c.b, c.c};
        QStringList arguments;
        for (int k = 0; k < ops[int(c.op)].arguments; ++k)
            arguments << QString::number(values[k]);
        out << QStringLiteral("%1(%2)").arg(QLatin1String(ops[int(c.op)].name),
                                            arguments.join(u','));
    }
    return out;
}

QString Close(ConnectionHandle handle) {
    return QStringLiteral("Close(%1)").arg(handle);
}
QString Open(ConnRef ref) {
    return QStringLiteral("Open(%1,1,0)").arg(ref);
}

const QStringList TwoServerStartUp{"ClientInit()",
                                   "GetPrimaryConnRef()",
                                   Open(AlphaRef),
                                   "ScanConnRefs(0)",
                                   "GetConnRefInfo(11,7,255)",
                                   "ScanConnRefs(1)",
                                   "GetConnRefInfo(22,7,255)",
                                   "ScanConnRefs(2)",
                                   Open(AlphaRef)};

std::array<std::int32_t, WindowPoints> ToArray(std::span<const std::int32_t> points) {
    std::array<std::int32_t, WindowPoints> out{};
    std::copy(points.begin(), points.end(), out.begin());
    return out;
}

// are named as their check boxes unless told otherwise (as at design time).
void CheckCaptions(WindowParts& w, const QString& peaks, const QString& glide,
                   const QString& line1 = {}, const QString& line2 = {}) {
    QCOMPARE(w.peaks->text(), peaks);
    QCOMPARE(w.glide->text(), glide);
    QCOMPARE(w.chart->SeriesTitle(ChartLine::Series1), line1.isEmpty() ? peaks : line1);
    QCOMPARE(w.chart->SeriesTitle(ChartLine::Series2), line2.isEmpty() ? glide : line2);
}

#define CHECK_CAPTIONS(w, ...)                                                                     \
    do {                                                                                           \
        CheckCaptions(w, __VA_ARGS__);                                                             \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    // No stray "Read.me" from the build directory reaches the windows.
    std::optional<ScopedCurrentDir> m_dir;

private slots:
    void initTestCase() { m_dir.emplace(); }
    void cleanupTestCase() { m_dir.reset(); }

    void startUpWithTwoServers() {
        Rig rig;
        rig.Build(true);
        WindowParts& w = rig.w();

        // The first selection has nothing to close; the primary connection stays apart.
        QCOMPARE(Log(rig.client), TwoServerStartUp);
        QCOMPARE(rig.Boxes(), QStringList{});
        QCOMPARE(PrimaryConn, PrimaryHandle);
        QCOMPARE(rig.s().ConnHandle, FirstOpen);
        QCOMPARE(LastResult, 0);

        QCOMPARE(w.pages->currentWidget(), w.infoPage);
        QCOMPARE(w.memo->toPlainText(), QString());
        QCOMPARE(w.servers->Count(), 2);
        QCOMPARE(w.servers->ItemIndex(), 0);
        QCOMPARE(w.servers->ItemText(1), BetaName);
        QCOMPARE(w.servers->ItemRef(1), BetaRef);
        const auto buttons = w.servers->findChildren<QRadioButton*>();
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(buttons[1]->text(), QStringLiteral("R&&D <2>"));

        QCOMPARE(w.Title(), ChartTitle(UtilizationTitle, QStringLiteral("ALPHA")));
        VERIFY_LINE(w.chart, ChartLine::Series1, History{});
        VERIFY_LINE(w.chart, ChartLine::Series2, History{});
        CHECK_CAPTIONS(w, "Utilization (Peaks)", "Utilization (Gliding)");
        QVERIFY(w.peaks->isChecked() && w.glide->isChecked());
        QCOMPARE(rig.s().SampleCount, 0);

        // The timer is what drives the sampling.
        QVERIFY(w.timer->isActive());
        QCOMPARE(w.timer->interval(), 1000);
        rig.client.SetUtilization(37);
        QTRY_COMPARE_WITH_TIMEOUT(rig.client.CallCount(ClientOp::GetServerInfoRecord), 1, 3000);
        w.timer->stop();
        QCOMPARE(Log(rig.client, TwoServerStartUp.size()),
                 QStringList{QStringLiteral("ServerInfo(%1)").arg(FirstOpen)});
        QCOMPARE(rig.s().SampleCount, 1);
        QCOMPARE(w.chart->Points(ChartLine::Series1)[0], 37);
    }

    void selectingServers() {
        Rig rig;
        rig.Build();
        WindowParts& w = rig.w();
        QVERIFY(rig.ShowServerPage());
        const auto buttons = w.servers->findChildren<QRadioButton*>();
        QCOMPARE(buttons.size(), 2);
        const auto click = [&](int i) {
            const int indicator =
                buttons[i]->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth);
            QTest::mouseClick(buttons[i], Qt::LeftButton, {},
                              QPoint(indicator / 2 + 1, buttons[i]->height() / 2));
        };

        rig.TickUtilization(50);
        std::size_t mark = rig.client.calls.size();
        click(1);
        QCOMPARE(Log(rig.client, mark), QStringList({Close(FirstOpen), Open(BetaRef)}));
        QCOMPARE(w.servers->ItemIndex(), 1);
        QCOMPARE(rig.s().ConnHandle, FirstOpen + 1);
        QCOMPARE(rig.client.openHandles,
                 std::set<ConnectionHandle>({PrimaryHandle, FirstOpen + 1}));
        QCOMPARE(w.Title(), ChartTitle(UtilizationTitle, BetaName));
        VERIFY_LINE(w.chart, ChartLine::Series1, History{});

        // Picking the entry already selected, by mouse or by index: no call, no reset.
        rig.TickUtilization(40);
        mark = rig.client.calls.size();
        click(1);
        w.servers->SetItemIndex(1);
        QCOMPARE(Log(rig.client, mark), QStringList{});
        QCOMPARE(rig.s().PeakHistory[1], 40);
        QCOMPARE(w.chart->Points(ChartLine::Series1)[1], 40);

        w.servers->SetItemIndex(0);
        QCOMPARE(Log(rig.client, mark), QStringList({Close(FirstOpen + 1), Open(AlphaRef)}));
        QCOMPARE(rig.s().ConnHandle, FirstOpen + 2);
        QCOMPARE(w.Title(), ChartTitle(UtilizationTitle, QStringLiteral("ALPHA")));
        VERIFY_LINE(w.chart, ChartLine::Series1, History{});
        QCOMPARE(rig.Boxes(), QStringList{});
    }

    void failedOpenNeverClosesTwice() {
        Rig rig;
        rig.client.Fail(ClientOp::NWCCOpenConnByRef, 0x8871, 3, true); // the open of the second
        rig.Build();
        WindowParts& w = rig.w();

        rig.TickUtilization(60);
        // Behind the box the chart is the new server's already, empty, and says why.
        QStringList behindBox;
        QTimer::singleShot(0, [&] {
            behindBox << w.Title() << w.chart->Notice();
            rig.Tick();
            behindBox << QString::number(rig.client.CallCount(ClientOp::GetServerInfoRecord));
        });
        std::size_t mark = rig.client.calls.size();
        w.servers->SetItemIndex(1);
        QCOMPARE(Log(rig.client, mark), QStringList({Close(FirstOpen), Open(BetaRef)}));
        QCOMPARE(rig.Boxes(), QStringList{ErrorBox("Error 8871: NWCCOpenConnByRef")});
        QCOMPARE(rig.s().ConnHandle, NoConnection);
        QCOMPARE(LastResult, 0x8871);
        QCOMPARE(w.Title(), ChartTitle(UtilizationTitle, BetaName));
        const QString unopened =
            QStringLiteral("Could not connect (Error 8871). Pick another server, then this one "
                           "again, to retry.");
        QCOMPARE(behindBox, QStringList({w.Title(), unopened, QStringLiteral("1")}));
        VERIFY_LINE(w.chart, ChartLine::Series1, History{});
        // The requests on the handle that did not open fail, and the notice keeps the open's code.
        rig.Tick();
        QCOMPARE(LastResult, std::int32_t(ScriptedClient::BadHandle));
        QCOMPARE(w.chart->Notice(), unopened);
        w.statistic->setCurrentIndex(1);
        QCOMPARE(w.chart->Notice(), unopened);
        w.statistic->setCurrentIndex(0);

        // The old handle is gone already: the next selection only opens.
        mark = rig.client.calls.size();
        w.servers->SetItemIndex(0);
        QCOMPARE(Log(rig.client, mark), QStringList{Open(AlphaRef)});
        QCOMPARE(rig.s().ConnHandle, FirstOpen + 1);
        QCOMPARE(rig.client.CallCount(ClientOp::CloseConn), 1);
        QCOMPARE(rig.Boxes().size(), qsizetype(1));
    }

    void switchingStatistic_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("peaks");
        QTest::addColumn<QString>("glide");
        QTest::addColumn<QString>("request");
        QTest::newRow("to caching")
            << 0 << 1 << CachingTitle << "Cache requests"
            << "Cache hits" << QStringLiteral("CacheInfo(%1)").arg(FirstOpen);
        QTest::newRow("back to utilisation")
            << 1 << 0 << UtilizationTitle << "Utilization (Peaks)"
            << "Utilization (Gliding)" << QStringLiteral("ServerInfo(%1)").arg(FirstOpen);
    }
    void switchingStatistic() {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, title);
        QFETCH(QString, peaks);
        QFETCH(QString, glide);
        QFETCH(QString, request);
        Rig rig;
        rig.Build();
        WindowParts& w = rig.w();
        w.statistic->setCurrentIndex(from);
        w.glide->setChecked(false);
        for (std::uint32_t i = 1; i <= 3; ++i) {
            rig.client.SetCacheCounters(1000 * i, 600 * i);
            rig.TickUtilization(30);
        }
        QVERIFY(w.chart->Points(ChartLine::Series1)[2] > 0);

        w.statistic->setCurrentIndex(to);

        QCOMPARE(w.Title(), ChartTitle(title, QStringLiteral("ALPHA")));
        CHECK_CAPTIONS(w, peaks, glide);
        VERIFY_LINE(w.chart, ChartLine::Series1, History{});
        VERIFY_LINE(w.chart, ChartLine::Series2, History{});
        QCOMPARE(rig.s().PeakHistory, History{});
        QCOMPARE(rig.s().PrevRequests, 0u);
        QVERIFY(w.peaks->isChecked() && !w.glide->isChecked()); // the check boxes keep their state
        QCOMPARE(rig.s().SampleCount, 3); // the reset empties the window, it does not rewind it
        const std::size_t mark = rig.client.calls.size();
        rig.Tick();
        QCOMPARE(Log(rig.client, mark), QStringList{request});
        QCOMPARE(rig.Boxes(), QStringList{});
    }

    void ticksFollowHistories() {
        Rig rig;
        rig.Build();
        WindowParts& w = rig.w();
        const std::int32_t values[] = {10, 20, 30, 40, 100, 0, 7};
        for (std::int32_t v : values) {
            rig.TickUtilization(v);
            VERIFY_LINE(w.chart, ChartLine::Series1, rig.s().PeakHistory);
            VERIFY_LINE(w.chart, ChartLine::Series2, rig.s().GlideHistory);
        }
        QCOMPARE(w.chart->Points(ChartLine::Series1)[4], 100);
        QCOMPARE(w.chart->Points(ChartLine::Series2)[3], 25); // (10 + 20 + 30 + 40) / 4

        // An unchecked line freezes; the other goes on, and unfreezes in full.
        w.glide->setChecked(false);
        const std::array<std::int32_t, WindowPoints> frozen =
            ToArray(w.chart->Points(ChartLine::Series2));
        rig.TickUtilization(90);
        QCOMPARE(ToArray(w.chart->Points(ChartLine::Series2)), frozen);
        QCOMPARE(w.chart->Points(ChartLine::Series1)[7], 90);
        QCOMPARE(rig.s().GlideHistory[7], (100 + 0 + 7 + 90) / 4);
        w.glide->setChecked(true);
        rig.TickUtilization(1);
        VERIFY_LINE(w.chart, ChartLine::Series2, rig.s().GlideHistory);

        // Fill the window and scroll it once; a reset then shows zeros, and the next
        // sample appears at the right end.
        while (rig.s().SampleCount < WindowPoints)
            rig.TickUtilization(rig.s().SampleCount % 100);
        rig.TickUtilization(55);
        QCOMPARE(w.chart->Points(ChartLine::Series1)[180], 55);
        QCOMPARE(w.chart->Points(ChartLine::Series1)[0],
                 20); // the first sample, 10, has scrolled out
        VERIFY_LINE(w.chart, ChartLine::Series1, rig.s().PeakHistory);
        rig.form->ResetChart(w.statistic);
        VERIFY_LINE(w.chart, ChartLine::Series1, History{});
        VERIFY_LINE(w.chart, ChartLine::Series2, History{});
        QCOMPARE(rig.s().SampleCount, WindowPoints);
        rig.TickUtilization(77);
        History expected{};
        expected[180] = 77;
        VERIFY_LINE(w.chart, ChartLine::Series1, expected);
        expected[180] = 77 / 4;
        VERIFY_LINE(w.chart, ChartLine::Series2, expected);
        QCOMPARE(rig.Boxes(), QStringList{});
    }

    void startUpFailures_data() {
        QTest::addColumn<quint32>("initFailure");
        QTest::addColumn<quint32>("primary");
        QTest::addColumn<bool>("servers");
        QTest::addColumn<quint32>("openFailure");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("lastResult");
        QTest::addColumn<QString>("title");

        const QString bare = ChartTitle(UtilizationTitle, std::nullopt);
        QTest::newRow("client will not start")
            << 0x1Fu << quint32(AlphaRef) << true << 0u << QStringList{"ClientInit()"}
            << QStringList{PlainBox("Could not Initialize NetWare Client"),
                           ErrorBox("Error   1F: InitNetWare")}
            << 0x1F << bare;
        QTest::newRow("no connection at all")
            << 0u << 0u << false << 0u
            << QStringList{"ClientInit()", "GetPrimaryConnRef()", "ScanConnRefs(0)"}
            << QStringList{ErrorBox("Error 88FF: InitNetWare")} << 0x88FF << bare;
        // Only the primary connection, which the scan does not list: an empty list, no box.
        QTest::newRow("empty connection list")
            << 0u << quint32(AlphaRef) << false << 0u
            << QStringList{"ClientInit()", "GetPrimaryConnRef()", Open(AlphaRef), "ScanConnRefs(0)"}
            << QStringList{} << 0x88FF << bare;
        QTest::newRow("client code above 16 bits")
            << 0x18870u << quint32(AlphaRef) << true << 0u << QStringList{"ClientInit()"}
            << QStringList{PlainBox("Could not Initialize NetWare Client"),
                           ErrorBox("Error 8870: InitNetWare")}
            << 0x8870 << bare;
        QTest::newRow("first server will not open")
            << 0u << quint32(AlphaRef) << true << 0x8870u << TwoServerStartUp
            << QStringList{ErrorBox("Error 8870: NWCCOpenConnByRef")} << 0x8870
            << ChartTitle(UtilizationTitle, QStringLiteral("ALPHA"));
    }
    void startUpFailures() {
        QFETCH(quint32, initFailure);
        QFETCH(quint32, primary);
        QFETCH(bool, servers);
        QFETCH(quint32, openFailure);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, boxes);
        QFETCH(int, lastResult);
        QFETCH(QString, title);
        Rig rig;
        rig.client.primary = primary;
        if (!servers)
            rig.client.connections.clear();
        rig.client.Fail(ClientOp::ClientInit, initFailure);
        rig.client.Fail(ClientOp::NWCCOpenConnByRef, openFailure, 2);
        rig.Build(true);
        WindowParts& w = rig.w();

        QCOMPARE(Log(rig.client), calls);
        QCOMPARE(rig.Boxes(), boxes);
        QCOMPARE(LastResult, lastResult);
        QCOMPARE(rig.s().ConnHandle, NoConnection);
        QCOMPARE(w.Title(), title);
        if (w.servers->Count() == 0) {
            // No server: start-up ends with the title's first line. No points, the captions
            // of the design, no timer, no request and no box of its own.
            CHECK_CAPTIONS(w, "Peak Values", "Gliding Average", "Packets Out", "Packets In");
            QCOMPARE(w.chart->PointCount(), 0);
            QVERIFY(!w.timer->isActive());
            // Every later choice of statistic also ends with the title, and leaves the
            // sampling state as it is.
            rig.s().Stopped = true;
            w.statistic->setCurrentIndex(1);
            QCOMPARE(w.Title(), ChartTitle(CachingTitle, std::nullopt));
            CHECK_CAPTIONS(w, "Peak Values", "Gliding Average", "Packets Out", "Packets In");
            QCOMPARE(w.chart->PointCount(), 0);
            QVERIFY(rig.s().Stopped);
            QCOMPARE(Log(rig.client), calls);
            QCOMPARE(rig.Boxes(), boxes);
            return;
        }

        // A server that will not open is charted all the same, and the timer runs.
        CHECK_CAPTIONS(w, "Utilization (Peaks)", "Utilization (Gliding)");
        VERIFY_LINE(w.chart, ChartLine::Series1, History{});
        VERIFY_LINE(w.chart, ChartLine::Series2, History{});
        QVERIFY(w.timer->isActive());
        QCOMPARE(rig.s().SampleCount, 0);
        w.timer->stop();

        // Ticks fail quietly on the unopened handle and suspend the requests until a reset.
        std::size_t mark = rig.client.calls.size();
        rig.TickUtilization(60);
        rig.Tick();
        QCOMPARE(Log(rig.client, mark), QStringList{QStringLiteral("ServerInfo(999)")});
        QVERIFY(rig.s().Stopped);
        QCOMPARE(rig.s().SampleCount, 2);
        VERIFY_LINE(w.chart, ChartLine::Series1, History{});
        mark = rig.client.calls.size();
        w.statistic->setCurrentIndex(1);
        rig.Tick();
        QCOMPARE(Log(rig.client, mark), QStringList{QStringLiteral("CacheInfo(999)")});
        QCOMPARE(rig.Boxes(), boxes);
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(MainWindowTest)

#include "MainWindowTest.moc"
