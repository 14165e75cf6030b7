// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The window from the keyboard: the tab order, arrows and Space, typing ahead and paging
// through the list, also a list of two thousand servers.

#include "TwoServerWindow.h"
#include "TypeAhead.h"

#include <QElapsedTimer>
#include <QRadioButton>
#include <QScrollArea>
#include <QTabBar>

namespace {

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

class WindowKeyboardTest : public QObject {
    Q_OBJECT

    // No stray "Read.me" from the build directory reaches the windows.
    std::optional<ScopedCurrentDir> m_dir;

private slots:
    void initTestCase() { m_dir.emplace(); }
    void cleanupTestCase() { m_dir.reset(); }

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
};

SERVERSTATS_WINDOW_TEST_MAIN(WindowKeyboardTest)

#include "WindowKeyboardTest.moc"
