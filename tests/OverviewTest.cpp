// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The overview page against a scripted client and readings the test hands in: its
// place among the pages, order, empty cells, filter, summary, when readings are
// asked for, and picking a row.

#include "OverviewModel.h"
#include "WindowFixture.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

#include <memory>

namespace {

constexpr ConnRef AlphaRef = 11;
constexpr ConnRef BetaRef = 22;

/* Readings that the test sets, counting what the page asks of them. */
struct HandedReadings : FleetReadings {
    FleetSnapshot next;
    bool fresh = true;
    int starts = 0, stops = 0, takes = 0;
    void Start() override { ++starts; }
    void Stop() override { ++stops; }
    bool Take(FleetSnapshot& into) override {
        ++takes;
        if (!std::exchange(fresh, false))
            return false;
        into = next;
        return true;
    }
};

FleetRow Row(const char* name, std::optional<ConnRef> ref, std::optional<double> util,
             const char* state = "ok") {
    return {name, ref, util, util ? std::optional(10.0 * *util) : std::nullopt, util, state};
}

/* The shared window rig, with readings the test hands in and the overview's parts. */
struct Rig : WindowRig {
    HandedReadings* readings = nullptr;
    QLineEdit* filter = nullptr;
    QLabel* summary = nullptr;
    QTableView* table = nullptr;
    QWidget* page = nullptr;

    Rig() {
        client.connections = {{AlphaRef, "alpha"}, {BetaRef, "beta"}};
        client.primary = AlphaRef;
        Build();
        auto handed = std::make_unique<HandedReadings>();
        readings = handed.get();
        readings->next.rows = {Row("beta", BetaRef, 5), Row("cold", std::nullopt, std::nullopt,
                                                             "left out of the list: no answer in 3 s"),
                               Row("Alpha", AlphaRef, 93.5), Row("gamma", 33, 40)};
        form->SetFleet(std::move(handed));
        page = form->findChild<QWidget*>(QStringLiteral("TabSheetOverview"));
        filter = form->findChild<QLineEdit*>(QStringLiteral("OverviewFilter"));
        summary = form->findChild<QLabel*>(QStringLiteral("OverviewSummary"));
        table = form->findChild<QTableView*>(QStringLiteral("OverviewTable"));
    }
    bool ShowOverview() {
        parts->pages->setCurrentWidget(page);
        return ShowActive();
    }
    QStringList Column(int column) const {
        QStringList out;
        for (int r = 0; r < table->model()->rowCount(); ++r)
            out << table->model()->index(r, column).data().toString();
        return out;
    }
};

} // namespace

class OverviewTest : public QObject {
    Q_OBJECT
private slots:
    // The third page, after the design's two, which keep their order and accelerators.
    void thirdPageAfterTheDesignsTwo() {
        Rig rig;
        QTabWidget* pages = rig.parts->pages;
        QCOMPARE(pages->count(), 3);
        QCOMPARE(pages->widget(0), rig.parts->infoPage);
        QCOMPARE(pages->widget(1), rig.parts->serverPage);
        QCOMPARE(pages->widget(2), rig.page);
        QCOMPARE(pages->tabText(0), QStringLiteral("&Info"));
        QCOMPARE(pages->tabText(1), QStringLiteral("&Select Server / Show Stats"));
        QCOMPARE(pages->tabText(2), QStringLiteral("&Overview"));
        QCOMPARE(rig.filter->placeholderText(), QStringLiteral("Filter by name"));
        QCOMPARE(pages->currentWidget(), rig.parts->infoPage); // start-up still shows Info
    }

    // Busiest first, no reading empty (never 0), the summary, a header click, and the filter.
    void rowsSortedFilteredAndSummed() {
        Rig rig;
        QVERIFY(rig.ShowOverview());
        QCOMPARE(rig.Column(OverviewModel::Server),
                 QStringList({"Alpha", "gamma", "beta", "cold"}));
        QCOMPARE(rig.Column(OverviewModel::Utilization), QStringList({"93.5", "40.0", "5.0", ""}));
        QCOMPARE(rig.Column(OverviewModel::Requests), QStringList({"935", "400", "50", ""}));
        QCOMPARE(rig.summary->text(),
                 QStringLiteral("4 servers: 3 answering, 1 without data; 1 above 90 %"));

        QTest::mouseClick(rig.table->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(rig.table->horizontalHeader()->sectionViewportPosition(0) + 5, 5));
        QCOMPARE(rig.Column(OverviewModel::Server).first(), QStringLiteral("Alpha")); // case-blind

        rig.filter->setText(QStringLiteral("A")); // ignores case: Alpha, beta, gamma
        QCOMPARE(rig.table->model()->rowCount(), 3);
        rig.filter->setText(QStringLiteral("MM"));
        QCOMPARE(rig.Column(OverviewModel::Server), QStringList({"gamma"}));
    }

    // Readings are asked for only while the page shows, at most once a second.
    void readingsOnlyWhileShown() {
        Rig rig;
        rig.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        QCOMPARE(rig.readings->starts, 0);
        QCOMPARE(rig.readings->takes, 0);
        rig.parts->pages->setCurrentWidget(rig.page);
        QCOMPARE(rig.readings->starts, 1);
        QTest::qWait(2500);
        QVERIFY2(rig.readings->takes >= 2 && rig.readings->takes <= 4,
                 qPrintable(QString::number(rig.readings->takes)));
        rig.parts->pages->setCurrentWidget(rig.parts->serverPage);
        QCOMPARE(rig.readings->stops, 1);
        const int takes = rig.readings->takes;
        QTest::qWait(1500);
        QCOMPARE(rig.readings->takes, takes);
    }

    // Enter charts the row's server as a pick in the list would; a row left out stays.
    void enterPicksTheServer() {
        Rig rig;
        QVERIFY(rig.ShowOverview());
        QCOMPARE(rig.parts->servers->ItemIndex(), 0);
        const int opens = rig.client.CallCount(ClientOp::NWCCOpenConnByRef);

        QTest::keyClick(rig.form.get(), Qt::Key_F, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), rig.filter);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), rig.table);
        QTest::keyClick(rig.table, Qt::Key_Down); // from nothing to the first row
        QTest::keyClick(rig.table, Qt::Key_Down);
        QTest::keyClick(rig.table, Qt::Key_Down);
        QTest::keyClick(rig.table, Qt::Key_Down); // "cold", not in the list
        QTest::keyClick(rig.table, Qt::Key_Return);
        QCOMPARE(rig.parts->pages->currentWidget(), rig.page);
        QCOMPARE(rig.client.CallCount(ClientOp::NWCCOpenConnByRef), opens);

        QTest::keyClick(rig.table, Qt::Key_Up); // "beta"
        QTest::keyClick(rig.table, Qt::Key_Return);
        QCOMPARE(rig.parts->pages->currentWidget(), rig.parts->serverPage);
        QCOMPARE(rig.parts->servers->ItemIndex(), 1);
        QCOMPARE(rig.client.CallCount(ClientOp::NWCCOpenConnByRef), opens + 1);
        QVERIFY(rig.parts->Title().contains(QStringLiteral("beta")));

        QTest::keyClick(rig.form.get(), Qt::Key_O, Qt::AltModifier);
        QCOMPARE(rig.parts->pages->currentWidget(), rig.page);
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(OverviewTest)
#include "OverviewTest.moc"
