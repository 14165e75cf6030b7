// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The chart taken out of the window, and a chart that says why it shows nothing:
// the context menu beside the drag zoom, copying, saving the picture and the data
// (or failing to, without leaving anything behind), and the notice of a suspended
// sampling, on the real window against a scripted client.

#include "ChartMenu.h"
#include "ChartExport.h"
#include "ScriptedClient.h"
#include "WindowFixture.h"

#include <QAccessible>
#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QMenu>

#include <chrono>
#include <optional>

namespace {

// Two servers, the first the primary connection, on the server page at the design size.
struct Rig : WindowRig {
    Rig() {
        client.connections = {{11, "ALPHA, the first"}, {22, "BETA"}};
        client.primary = 11;
        Build();
        ShowServerPage();
    }
    ChartMenu* menu() { return chart()->findChild<ChartMenu*>(); }
    // The pixels of the chart's picture that are not its background, within `area`.
    int Ink(const QRect& area) {
        const QImage image = chart()->Image();
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += image.pixelColor(x, y) != chart()->Colours().background ? 1 : 0;
        return count;
    }
};

} // namespace

class ChartMenuTest : public QObject {
    Q_OBJECT

    std::optional<ScopedCurrentDir> m_dir;

private slots:
    void initTestCase() { m_dir.emplace(); }
    void cleanupTestCase() { m_dir.reset(); }

    // A right click opens the menu; a right drag opens nothing and zooms nothing (the left
    // button's drags are MainWindowTest's, on this window with its menu); the keyboard
    // and a screen reader open it too.
    void menuBesideTheZoom() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        LiveChart* chart = rig.chart();
        QMenu* menu = rig.menu()->Menu();
        const QRect plot = chart->Frame().Plot();
        const QPoint at = plot.center();

        QTest::mouseClick(chart, Qt::RightButton, {}, at);
        QTRY_VERIFY(menu->isVisible());
        QStringList texts;
        for (const QAction* action : menu->actions())
            texts << action->text();
        QCOMPARE(texts, (QStringList{"&Copy Chart", "Save Chart &As…", "Save &Data As…"}));
        menu->hide();

        QTest::mousePress(chart, Qt::RightButton, {}, at);
        QTest::mouseMove(chart, at + QPoint(40, 30));
        QTest::mouseRelease(chart, Qt::RightButton, {}, at + QPoint(40, 30));
        QTest::qWait(50);
        QVERIFY(!menu->isVisible());
        QVERIFY(!chart->IsZoomed());

        chart->setFocus();
        QTest::keyClick(chart, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(menu->isVisible());
        menu->hide();

        // The names a screen reader lists are checked over AT-SPI (tests/accessibility).
        QAccessibleActionInterface* actions =
            QAccessible::queryAccessibleInterface(chart)->actionInterface();
        actions->doAction(QAccessibleActionInterface::showMenuAction());
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
    }

    // Ctrl+C on the focused chart: its picture, of its size, on the clipboard, without
    // the focus outline.
    void copyPutsThePicture() {
        Rig rig;
        QVERIFY(rig.ShowActive());
        QGuiApplication::clipboard()->clear();
        rig.chart()->setFocus();
        QVERIFY(rig.chart()->hasFocus());
        QTest::keyClick(rig.chart(), Qt::Key_C, Qt::ControlModifier);
        const QImage copied = QGuiApplication::clipboard()->image();
        QCOMPARE(copied.size(), rig.chart()->size() * rig.chart()->devicePixelRatio());
        QVERIFY(copied != rig.chart()->grab().toImage()); // the screen shows the outline
        rig.chart()->clearFocus();
        QCOMPARE(copied, rig.chart()->grab().toImage());
    }

    // 181 rows under the header, oldest first, equal to the histories; a frozen line as shown.
    void saveDataAsShown() {
        Rig rig;
        for (int i = 0; i < 200; ++i)
            rig.TickUtilization(i % 97);
        rig.parts->glide->setChecked(false);
        rig.TickUtilization(55);
        const QString path = m_dir->FilePath(QStringLiteral("data.csv"));
        QVERIFY(rig.menu()->SaveDataTo(path));
        QCOMPARE(rig.watcher.boxes().size(), std::size_t(0));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList rows = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        QCOMPARE(rows.size(), 1 + WindowPoints + 1); // the last line ends with CR LF too
        QCOMPARE(rows[0],
                 QStringLiteral(R"x("Seconds ago (Server Utilization, ALPHA, the first)",)x"
                                R"x(Utilization (Peaks),Utilization (Gliding))x"));
        QVERIFY(rows.last().isEmpty());
        const auto frozen = rig.chart()->Points(ChartLine::Series2);
        for (int i = 0; i < WindowPoints; ++i) {
            const QString expected = QStringLiteral("%1,%2,%3")
                                         .arg(WindowPoints - 1 - i)
                                         .arg(rig.form->Sampling().PeakHistory[std::size_t(i)])
                                         .arg(frozen[std::size_t(i)]);
            QCOMPARE(rows[1 + i], expected);
        }
        // Frozen indeed: the gliding history went on without the chart.
        QVERIFY(
            !std::equal(frozen.begin(), frozen.end(), rig.form->Sampling().GlideHistory.begin()));
    }

    // A path that cannot be written: a box with the path and the reason, and no file; a
    // write that fails half-way leaves the earlier file as it was, and no stray copy.
    void failedSaveLeavesNothing() {
        Rig rig;
        rig.watcher.arm(1);
        const QString path = m_dir->FilePath(QStringLiteral("missing/chart.png"));
        QVERIFY(!rig.menu()->SaveChartTo(path));
        QVERIFY(rig.watcher.waitForBoxes());
        const SeenBox& box = rig.watcher.boxes().at(0);
        QVERIFY2(box.text.contains(path) && box.text.contains(QLatin1String("No such file")),
                 qPrintable(box.text));
        QVERIFY(!QFile::exists(path));

        const QString earlier = m_dir->FilePath(QStringLiteral("earlier.csv"));
        QFile file(earlier);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kept") == 4);
        file.close();
        const QStringList before = QDir(m_dir->FilePath(".")).entryList(QDir::Files);
        QVERIFY(
            !WriteWhole(earlier, [](QIODevice& out) { return out.write("half") < 0; }).isEmpty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("kept"));
        QCOMPARE(QDir(m_dir->FilePath(".")).entryList(QDir::Files), before);
    }

    // A failing server: the notice, in the picture and for screen readers, until the next pick.
    void suspendedChartSaysSo() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        LiveChart* chart = rig.chart();
        rig.TickUtilization(40);
        const QRect plot = chart->Frame().Plot();
        const QRect band(plot.left(), plot.top() + 1, plot.width(),
                         chart->fontMetrics().height() + 6);
        const int quiet = rig.Ink(band);

        // The last reading an hour back: the notice gives its time, not that of the failure.
        SamplingState& sampling = rig.form->Sampling();
        QVERIFY(sampling.LastReading);
        *sampling.LastReading -= std::chrono::hours{1};
        rig.client.Fail(ClientOp::GetServerInfoRecord, ScriptedClient::BadHandle);
        rig.TickUtilization(40);
        const QString since =
            QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               sampling.LastReading->time_since_epoch())
                                               .count())
                .toString(QStringLiteral("HH:mm:ss"));
        QCOMPARE(chart->Notice(),
                 QStringLiteral("No data since %1 (Error 8801: connection not "
                                "open). Pick another server or statistic to resume.")
                     .arg(since));
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(chart);
        QCOMPARE(accessible->text(QAccessible::Description), chart->Notice());
        QVERIFY2(rig.Ink(band) > quiet + 200, "no notice in the picture");
        const QString shown = chart->Notice();
        rig.TickUtilization(40);
        QCOMPARE(chart->Notice(), shown); // still since the first failure

        rig.client.Fail(ClientOp::GetServerInfoRecord, 0);
        rig.parts->servers->SetItemIndex(1);
        QCOMPARE(chart->Notice(), QString());
        QVERIFY(!accessible->text(QAccessible::Description).contains(QLatin1String("No data")));
        QVERIFY(rig.Ink(band) < quiet + 100);
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(ChartMenuTest)

#include "ChartMenuTest.moc"
