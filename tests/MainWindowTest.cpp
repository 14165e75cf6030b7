// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The main window against a scripted client, without a display: start-up, choosing
// a server, switching the statistic, ticks, failures and exactly the boxes they
// show, zooming with the mouse, and the Info page's text.

#include "ClientServices.h"
#include "LastResult.h"
#include "MessageBoxWatcher.h"
#include "ReadMeText.h"
#include "Report.h"
#include "ScriptedClient.h"
#include "TypeAhead.h"
#include "WindowFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPaintEvent>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStyle>
#include <QTabBar>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace {

constexpr ConnRef AlphaRef = 11;
constexpr ConnRef BetaRef = 22;
// Markup and an accelerator sign: both must be shown as they are.
const QString BetaName = QStringLiteral("R&D <2>");
constexpr ConnectionHandle PrimaryHandle = ScriptedClient::FirstHandle;
constexpr ConnectionHandle FirstOpen = PrimaryHandle + 1;

const QString UtilizationTitle = QStringLiteral("Server Utilization");
const QString CachingTitle = QStringLiteral("Server Caching Stats");

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

QString ErrorBox(const QString& text) {
    return QStringLiteral("Error [error] ") + text;
}
QString PlainBox(const QString& text) {
    return ApplicationTitle() + QStringLiteral(" [plain] ") + text;
}

QString ChartTitle(const QString& statistic, const std::optional<QString>& server) {
    return server ? statistic + u'\n' + *server : statistic;
}

std::array<std::int32_t, WindowPoints> ToArray(std::span<const std::int32_t> points) {
    std::array<std::int32_t, WindowPoints> out{};
    std::copy(points.begin(), points.end(), out.begin());
    return out;
}

// A window with its own scripted client, by default two servers of which the first
// is the primary connection; every box the window shows is closed and recorded.
struct Rig {
    ScriptedClient client;
    MessageBoxWatcher watcher;
    std::unique_ptr<TMainForm> form;
    std::optional<WindowParts> parts;

    Rig() {
        client.connections = {{AlphaRef, "ALPHA"}, {BetaRef, BetaName.toStdString()}};
        client.primary = AlphaRef;
        // A failed open that scribbles on its out-handle must still not count as opened.
        client.handleLeftByFailedOpen = 0x42;
    }

    /* Builds the window; unless `ticking`, its timer is stopped so that only the test ticks. */
    void Build(bool ticking = false) {
        PrimaryConn = PrimaryConnUnopened;
        LastResult = 0;
        watcher.arm(0);
        form = std::make_unique<TMainForm>(client);
        parts.emplace(*form);
        if (!ticking)
            parts->timer->stop();
    }
    WindowParts& w() { return *parts; }
    SamplingState& s() { return form->Sampling(); }
    void Tick() { form->Timer1Timer(parts->timer); }
    void TickUtilization(std::int32_t percent) {
        client.SetUtilization(percent);
        Tick();
    }
    QStringList Boxes() const { return BoxLines(watcher); }
    /* Shows the window as the active one, so that keys and focus land. */
    bool ShowActive() {
        form->show();
        QApplication::setActiveWindow(form.get());
        return QTest::qWaitForWindowActive(form.get());
    }
    /* Shows the window at its design size on the server page, so that mouse input lands. */
    bool ShowServerPage() {
        form->resize(683, 312);
        parts->pages->setCurrentWidget(parts->serverPage);
        form->show();
        return QTest::qWaitForWindowExposed(form.get());
    }
};

// Captions of the check boxes, names of the lines and the legend's labels; the lines
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

void Drag(LiveChart* chart, QPoint from, QPoint to) {
    QTest::mousePress(chart, Qt::LeftButton, {}, from);
    QTest::mouseMove(chart, to);
    QTest::mouseRelease(chart, Qt::LeftButton, {}, to);
}

// The focused widget's name; an entry of the connection list by its server name.
QString FocusName() {
    const QWidget* focus = QApplication::focusWidget();
    if (const auto* entry = qobject_cast<const QRadioButton*>(focus))
        return QStringLiteral("ServerList:") + entry->text();
    return focus != nullptr ? focus->objectName() : QString();
}

// Where focus goes, one key at a time, until it is back on the tab bar (12 keys at most).
QStringList FocusChain(Qt::Key key) {
    QStringList chain;
    for (int step = 0; step < 12; ++step) {
        QTest::keyClick(QApplication::focusWidget(), key);
        if (FocusName() == QStringLiteral("qt_tabwidget_tabbar"))
            break;
        chain << FocusName();
    }
    return chain;
}

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

    // A flat line spans nothing: one label, at its value; points then widen both axes alike.
    void flatThenWideRange() {
        Rig rig;
        rig.Build();
        LiveChart* chart = rig.w().chart;
        QVERIFY((chart->Ranges() == ShownRanges{{0, 180}, {0, 0}, {0, 0}}));
        QCOMPARE(chart->Frame().RightLabels().ticks.count, 1);
        QCOMPARE(chart->Frame().RightLabels().text[0], QStringLiteral("0"));
        rig.TickUtilization(80);
        rig.TickUtilization(-5);
        QVERIFY((chart->Ranges() == ShownRanges{{0, 180}, {-5, 80}, {-5, 80}}));
    }

    // A reset lets the right axis follow the points while the zoomed left one stays.
    void resetWhileZoomed() {
        Rig rig;
        rig.Build();
        QVERIFY(rig.ShowServerPage());
        LiveChart* chart = rig.w().chart;
        for (std::int32_t v : {0, 100, 50})
            rig.TickUtilization(v);
        const QRect plot = chart->Frame().Plot();
        Drag(chart, plot.topLeft() + QPoint(10, 10), plot.center());
        QVERIFY(chart->IsZoomed());
        const ValueRange zoomed = chart->Ranges().left;

        rig.w().statistic->setCurrentIndex(1);
        QVERIFY(chart->IsZoomed());
        QVERIFY(chart->Ranges().left == zoomed);
        QVERIFY((chart->Ranges().right == ValueRange{0, 0}));
        rig.client.SetCacheCounters(100, 50);
        rig.Tick();
        rig.client.SetCacheCounters(160, 90);
        rig.Tick();
        QVERIFY(chart->Ranges().left == zoomed);
        QVERIFY((chart->Ranges().right == ValueRange{0, 60}));
    }

    // What a tick draws is what a fresh layout of the same points draws, whether
    // or not the tick moves the axes.
    void ticksDrawTheirPoints_data() {
        QTest::addColumn<bool>("caching");
        QTest::addColumn<QList<QPair<std::uint32_t, std::uint32_t>>>("samples");
        QTest::newRow("axes keep their range")
            << false << QList<QPair<std::uint32_t, std::uint32_t>>{{100, 0}, {50, 0}};
        QTest::newRow("axes keep their span")
            << true << QList<QPair<std::uint32_t, std::uint32_t>>{{100, 50}, {101, 49}};
    }
    void ticksDrawTheirPoints() {
        QFETCH(bool, caching);
        using Samples = QList<QPair<std::uint32_t, std::uint32_t>>;
        QFETCH(Samples, samples);
        Rig rig;
        rig.Build();
        QVERIFY(rig.ShowServerPage());
        rig.w().statistic->setCurrentIndex(caching ? 1 : 0);
        LiveChart* chart = rig.w().chart;
        for (const auto& [first, second] : samples) {
            rig.client.SetUtilization(std::int32_t(first));
            rig.client.SetCacheCounters(first, second);
            rig.Tick();
            QCoreApplication::processEvents();
        }
        const QImage drawn = chart->grab().toImage();
        // A resize lays the frame out afresh.
        chart->resize(chart->size() + QSize(1, 0));
        chart->resize(chart->size() - QSize(1, 0));
        QCOMPARE(chart->grab().toImage(), drawn);
    }

    // A tick repaints one rectangle of the chart and nothing else in the window: the
    // plotting area, and the right axis too when the range moved.
    void tickPaintsOnlyThePlot() {
        struct PaintLog : QObject {
            QList<QPair<QObject*, QRegion>> paints;
            bool eventFilter(QObject* watched, QEvent* event) override {
                if (event->type() == QEvent::Paint)
                    paints.append({watched, static_cast<QPaintEvent*>(event)->region()});
                return false;
            }
        } log;
        Rig rig;
        rig.Build();
        QVERIFY(rig.ShowServerPage());
        LiveChart* chart = rig.w().chart;
        for (std::int32_t v : {10, 40, 20, 30})
            rig.TickUtilization(v);
        QCoreApplication::processEvents();
        qApp->installEventFilter(&log);
        for (const bool rangeMoves : {false, true}) {
            log.paints.clear();
            const ValueRange before = chart->Ranges().left;
            rig.TickUtilization(rangeMoves ? 90 : 25);
            QCoreApplication::processEvents();
            QCOMPARE(chart->Ranges().left != before, rangeMoves);
            QCOMPARE(log.paints.size(), 1);
            QCOMPARE(log.paints[0].first, chart);
            QCOMPARE(log.paints[0].second,
                     QRegion(rangeMoves ? chart->Frame().RangeArea() : chart->LinesArea()));
        }
    }

    // Lines out of sight on the Info page are drawn as they are when their page is shown.
    void hiddenChartCatchesUp() {
        Rig rig;
        rig.Build();
        rig.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        QCOMPARE(rig.w().pages->currentWidget(), rig.w().infoPage);
        for (std::int32_t v : {10, 20, 30})
            rig.TickUtilization(v);
        rig.w().pages->setCurrentWidget(rig.w().serverPage);
        VERIFY_LINE(rig.w().chart, ChartLine::Series1, rig.s().PeakHistory);
        VERIFY_LINE(rig.w().chart, ChartLine::Series2, rig.s().GlideHistory);
        QVERIFY((rig.w().chart->Ranges().left == ValueRange{0, 30}));
    }

    // The border between the list and the chart moves on release; a list dragged
    // to 30 pixels or less closes.
    void splitterClosesNarrowList_data() {
        QTest::addColumn<int>("dropAt");
        QTest::addColumn<int>("listWidth");
        QTest::newRow("31 pixels: stays") << 31 << 31;
        QTest::newRow("30 pixels: closes") << 30 << 0;
        QTest::newRow("8 pixels: closes") << 8 << 0;
        QTest::newRow("wider: follows") << 220 << 220;
    }
    void splitterClosesNarrowList() {
        QFETCH(int, dropAt);
        QFETCH(int, listWidth);
        Rig rig;
        rig.Build();
        QVERIFY(rig.ShowServerPage());
        auto* splitter = rig.form->findChild<QSplitter*>(QStringLiteral("Splitter1"));
        QVERIFY(splitter != nullptr);
        QCOMPARE(splitter->handleWidth(), 5);
        QCOMPARE(rig.w().servers->width(), 161);
        QSplitterHandle* handle = splitter->handle(1);
        const QPoint grip(handle->width() / 2, handle->height() / 2);
        QTest::mousePress(handle, Qt::LeftButton, {}, grip);
        QTest::mouseMove(handle, grip + QPoint(dropAt - 161, 0));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(dropAt - 161, 0));
        QCOMPARE(splitter->sizes().first(), listWidth);
    }

    // Tab and Shift+Tab round a page from the tab bar, in the form's order; Tab leaves
    // the Info text without typing into it, and Alt+C goes to the selected entry.
    void tabOrder_data() {
        QTest::addColumn<bool>("serverPage");
        QTest::addColumn<int>("selected"); // -1: no entries
        QTest::addColumn<QStringList>("chain");
        const QStringList panel{"ComboBox1", "CheckBox0", "CheckBox1", "Chart1"};
        QTest::newRow("Info page") << false << 0 << QStringList{"Memo1"};
        QTest::newRow("server page") << true << 0 << QStringList{"ServerList:ALPHA"} + panel;
        QTest::newRow("second entry selected")
            << true << 1 << QStringList{"ServerList:R&&D <2>"} + panel;
        QTest::newRow("no entries") << true << -1 << panel;
    }
    void tabOrder() {
        QFETCH(bool, serverPage);
        QFETCH(int, selected);
        QFETCH(QStringList, chain);
        Rig rig;
        if (selected < 0)
            rig.client.connections.clear();
        rig.Build();
        WindowParts& w = rig.w();
        w.servers->SetItemIndex(selected);
        w.memo->setPlainText(QStringLiteral("text"));
        w.pages->setCurrentWidget(serverPage ? w.serverPage : w.infoPage);
        QVERIFY(rig.ShowActive());
        w.pages->findChild<QTabBar*>()->setFocus();

        QCOMPARE(FocusChain(Qt::Key_Tab), chain);
        std::reverse(chain.begin(), chain.end());
        QCOMPARE(FocusChain(Qt::Key_Backtab), chain);
        QCOMPARE(w.memo->toPlainText(), QStringLiteral("text"));
        QTest::keyClick(rig.form.get(), Qt::Key_C, Qt::AltModifier);
        QCOMPARE(FocusName(), serverPage && selected >= 0 ? chain.back() : "qt_tabwidget_tabbar");
    }

    // Arrows pick a server (scrolling it into sight) and a statistic; Space toggles a line.
    void keyboardUse() {
        Rig rig;
        // Not "S" + std::to_string(ref): GCC 12 warns falsely there (-Wrestrict) when optimising.
        for (ConnRef ref = 100; ref < 130; ++ref)
            rig.client.connections.push_back({ref, QStringLiteral("S%1").arg(ref).toStdString()});
        rig.Build();
        QVERIFY(rig.ShowServerPage() && rig.ShowActive());
        WindowParts& w = rig.w();
        const QList<QAbstractButton*> entries = w.servers->Entries();
        entries[0]->setFocus();
        for (int i = 1; i < entries.size(); ++i)
            QTest::keyClick(entries[i - 1], Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), entries.back());
        QCOMPARE(w.servers->ItemIndex(), int(entries.size()) - 1);
        QCOMPARE(rig.client.CallCount(ClientOp::NWCCOpenConnByRef), 1 + int(entries.size()));
        const QWidget* viewport = w.servers->findChild<QScrollArea*>()->viewport();
        QVERIFY(viewport->rect().contains(
            QRect(entries.back()->mapTo(viewport, QPoint()), entries.back()->size())));

        w.statistic->setFocus();
        QTest::keyClick(w.statistic, Qt::Key_Down);
        QCOMPARE(w.Title(), ChartTitle(CachingTitle, QStringLiteral("S129")));
        w.peaks->setFocus();
        QTest::keyClick(w.peaks, Qt::Key_Space);
        QVERIFY(!w.peaks->isChecked());
    }

    // Typing jumps to the next entry that begins with the text typed without a pause of a
    // second; Home, End, Page Up and Page Down move too. Every move selects, as arrows do.
    void typeAheadAndPaging() {
        Rig rig;
        rig.client.connections.clear();
        for (ConnRef ref = 100; ref < 140; ++ref)
            rig.client.connections.push_back(
                {ref, QStringLiteral("node-%1").arg(ref).toStdString()});
        for (const char* name : {"alpha", "Apple", "beta", "beta two", "bravo"})
            rig.client.connections.push_back({ConnRef(rig.client.connections.size() + 200), name});
        rig.Build();
        QVERIFY(rig.ShowServerPage() && rig.ShowActive());
        WindowParts& w = rig.w();
        const QList<QAbstractButton*> entries = w.servers->Entries();
        const QWidget* viewport = w.servers->findChild<QScrollArea*>()->viewport();
        const auto inSight = [&](int i) {
            return viewport->rect().contains(
                QRect(entries[i]->mapTo(viewport, QPoint()), entries[i]->size()));
        };
        // Keys in turn; then the selection and the focus are on the entry expected, in sight.
        const auto landed = [&](int expected) {
            return w.servers->ItemIndex() == expected &&
                   QApplication::focusWidget() == entries[expected] && inSight(expected);
        };
        const auto press = [&](const QString& keys, int expected) {
            QTest::keyClicks(QApplication::focusWidget(), keys);
            return landed(expected);
        };
        const auto key = [&](Qt::Key k, int expected) {
            QTest::keyClick(QApplication::focusWidget(), k);
            return landed(expected);
        };
        entries[0]->setFocus();
        const int opens = rig.client.CallCount(ClientOp::NWCCOpenConnByRef);

        QVERIFY(press("b", 42));    // the next entry from the selected one
        QVERIFY(press("E", 42));    // "be" still fits the entry it is at: no new selection
        QVERIFY(press("ta t", 43)); // a space within the text is part of it
        QVERIFY(press("q", 43));    // "beta tq" fits no entry: the selection stays
        QCOMPARE(rig.client.CallCount(ClientOp::NWCCOpenConnByRef), opens + 2);
        QTest::qWait(TypeAhead::Pause.count() + 100);
        QVERIFY(press("a", 40)); // a new text, searched from the next entry round
        QVERIFY(press("a", 41)); // the same key again: the next entry beginning with it
        QVERIFY(press("aa", 40));
        QTest::qWait(TypeAhead::Pause.count() + 100);
        QVERIFY(press(" b", 42)); // Space starts no text: it presses the entry selected
        QCOMPARE(rig.client.CallCount(ClientOp::NWCCOpenConnByRef), opens + 6);

        QVERIFY(key(Qt::Key_Home, 0));
        QVERIFY(key(Qt::Key_PageUp, 0));
        // Page Down goes to the last entry in sight, then a page on with the last one in sight.
        int bottom = 0;
        while (bottom + 1 < entries.size() && inSight(bottom + 1))
            ++bottom;
        QVERIFY(bottom > 2 && bottom + 1 < entries.size());
        QVERIFY(key(Qt::Key_PageDown, bottom));
        QVERIFY(key(Qt::Key_PageDown, 2 * bottom));
        QVERIFY(inSight(bottom));
        QVERIFY(key(Qt::Key_PageUp, bottom));
        QVERIFY(key(Qt::Key_End, 44));
        QVERIFY(key(Qt::Key_PageDown, 44));
        QVERIFY(key(Qt::Key_Up, 43)); // the arrows still move one entry
        QCOMPARE(rig.client.CallCount(ClientOp::NWCCOpenConnByRef), opens + 12);
        QCOMPARE(w.Title(), ChartTitle(UtilizationTitle, QStringLiteral("beta two")));
        QCOMPARE(rig.Boxes(), QStringList{});
    }

    // Two thousand servers are listed and the window shows them (bench_window times the build).
    void manyServersShowInTime() {
        Rig rig;
        rig.client.connections.clear();
        for (ConnRef ref = 1; ref <= 2000; ++ref)
            rig.client.connections.push_back(
                {ref, QStringLiteral("server-%1").arg(ref).toStdString()});
        QElapsedTimer started;
        started.start();
        rig.Build();
        QVERIFY(rig.ShowServerPage());
        qInfo("2000 servers listed and shown in %lld ms", started.elapsed());
        QCOMPARE(rig.w().servers->Count(), 2000);
        QCOMPARE(rig.w().servers->ItemText(1999), QStringLiteral("server-2000"));
        QVERIFY(rig.ShowActive());
        QTest::keyClick(rig.form.get(), Qt::Key_C, Qt::AltModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        QCOMPARE(rig.w().servers->ItemIndex(), 1999);
        QCOMPARE(rig.w().Title(), ChartTitle(UtilizationTitle, QStringLiteral("server-2000")));
    }

    // The frame, not just the client area, sits in the middle of the screen's free area.
    void frameCentredOnScreen() {
        Rig rig;
        rig.Build();
        rig.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        const QRect frame = rig.form->frameGeometry();
        if (frame == rig.form->geometry())
            QSKIP("this platform gives windows no frame");
        QCOMPARE(frame.center(), rig.form->screen()->availableGeometry().center());
    }

    void readMeText_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << "none" << QByteArray() << QString();
        QTest::newRow("empty") << "file" << QByteArray() << QString();
        QTest::newRow("CR only") << "file" << QByteArray("one\rtwo\r\rfour") << "one\ntwo\n\nfour";
        QTest::newRow("CR LF, final break") << "file" << QByteArray("one\r\ntwo\r\n") << "one\ntwo";
        QTest::newRow("mixed, blank last line")
            << "file" << QByteArray("a\r\n\rb\nc\n\n") << "a\n\nb\nc\n";
        QTest::newRow("NUL bytes")
            << "file" << QByteArray("x\0y\0", 4) << QStringLiteral("x\uFFFDy\uFFFD");
        QTest::newRow("8-bit text") << "file" << QByteArray("caf\xC3\xA9") << "caf\u00E9";
        QTest::newRow("exactly the limit")
            << "file" << QByteArray(MaxReadMeBytes, 'a') << QString(MaxReadMeBytes, u'a');
        QTest::newRow("over the limit")
            << "file" << QByteArray(MaxReadMeBytes + 1, 'a') << QString();
        QTest::newRow("directory") << "dir" << QByteArray() << QString();
    }
    void readMeText() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const ScopedCurrentDir dir;
        const QString path = QStringLiteral("Read.me");
        if (kind == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(bytes), bytes.size());
        } else if (kind == "dir") {
            QVERIFY(QDir().mkdir(path));
        }
        QCOMPARE(ReadMeText(path), text);
    }

    void readMeIsNamedPipe() {
        const ScopedCurrentDir dir;
        const QByteArray path = QFile::encodeName(dir.FilePath(QStringLiteral("Read.me")));
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        // Opening a pipe waits for a writer for ever: play the writer that would release
        // such a reader, and fail if one needed releasing.
        std::atomic<bool> released{false};
        std::jthread writer([&](std::stop_token stop) {
            while (!stop.stop_requested()) {
                if (const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK); fd >= 0) {
                    ::close(fd);
                    released = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        const QString text = ReadMeText(QStringLiteral("Read.me"));
        writer.request_stop();
        writer.join();
        QVERIFY2(!released, "the named pipe was opened");
        QCOMPARE(text, QString());
    }

    void infoPageShowsReadMe() {
        const struct {
            QByteArray bytes;
            QString text;
        } cases[] = {
            {QByteArray("Line 1\r\nLine 2\rx\0y\n", 19),
             QStringLiteral("Line 1\nLine 2\nx\uFFFDy")},
            {QByteArray(MaxReadMeBytes + 1, '\0'), QString()},
        };
        for (const auto& c : cases) {
            const ScopedCurrentDir dir;
            QFile file(QStringLiteral("Read.me"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(c.bytes) == c.bytes.size());
            file.close();
            Rig rig;
            rig.Build();
            QCOMPARE(rig.w().memo->toPlainText(), c.text);
            QCOMPARE(rig.Boxes(), QStringList{});
        }
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(MainWindowTest)

#include "MainWindowTest.moc"
