// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The chart within the window: its axes as points come and the zoom stays, what a tick
// paints, a hidden chart catching up, and the splitter beside the list.

#include "TwoServerWindow.h"

#include <QPaintEvent>
#include <QSplitter>

namespace {

void Drag(LiveChart* chart, QPoint from, QPoint to) {
    QTest::mousePress(chart, Qt::LeftButton, {}, from);
    QTest::mouseMove(chart, to);
    QTest::mouseRelease(chart, Qt::LeftButton, {}, to);
}

} // namespace

class WindowChartTest : public QObject {
    Q_OBJECT

    // No stray "Read.me" from the build directory reaches the windows.
    std::optional<ScopedCurrentDir> m_dir;

private slots:
    void initTestCase() { m_dir.emplace(); }
    void cleanupTestCase() { m_dir.reset(); }

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
};

SERVERSTATS_WINDOW_TEST_MAIN(WindowChartTest)

#include "WindowChartTest.moc"
