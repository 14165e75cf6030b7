// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The window on the Windows backend under Wine: start-up without the client
// libraries, and with the stand-ins serving three connections, one unnamed.

#include "ClientServices.h"
#include "LastResult.h"
#include "MessageBoxWatcher.h"
#include "Report.h"
#include "StandInRun.h"
#include "WindowFixture.h"
#include "WindowsClient.h"

class WindowsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { PrimaryConn = PrimaryConnUnopened; }

    void withoutClientLibraries() {
        const ScopedCurrentDir dir;
        MessageBoxWatcher watcher;
        watcher.arm(2);
        WindowsClient client(L"absent-calwin32.dll", L"absent-clxwin32.dll");
        TMainForm form(client);
        WindowParts w(form);
        QVERIFY(watcher.waitForBoxes());
        QCOMPARE(BoxLines(watcher),
                 QStringList({ApplicationTitle() + " [plain] Could not Initialize NetWare Client",
                              "Error [error] Error FE01: InitNetWare"}));
        QCOMPARE(w.servers->Count(), 0);
        QCOMPARE(LastResult, std::int32_t(WindowsClient::CalLibraryMissing));
    }

    void withStandIns() {
        const ScopedCurrentDir dir;
        const StandInRun run("primary 0xA101\n"
                             "conn 0xA101 name ALPHA-FS1\n"
                             "conn 0xA102 name\n"
                             "conn 0xA103 name BRAVO-FS2\n"
                             "utilization 12 25 43\n");
        MessageBoxWatcher watcher;
        watcher.arm(0);
        WindowsClient client;
        TMainForm form(client);
        WindowParts w(form);
        w.timer->stop();

        QCOMPARE(w.servers->Count(), 2);
        QCOMPARE(w.servers->ItemText(0), QStringLiteral("ALPHA-FS1"));
        QCOMPARE(w.servers->ItemText(1), QStringLiteral("BRAVO-FS2"));
        QCOMPARE(w.servers->ItemRef(1), ConnRef(0xA103));
        QCOMPARE(w.Title(), QStringLiteral("Server Utilization\nALPHA-FS1"));

        for (int tick = 0; tick < 3; ++tick)
            form.Timer1Timer(w.timer);
        const auto points = w.chart->Points(ChartLine::Series1);
        QCOMPARE((std::vector<std::int32_t>(points.begin(), points.begin() + 4)),
                 (std::vector<std::int32_t>{12, 25, 43, 0}));

        w.servers->SetItemIndex(1);
        QCOMPARE(w.Title(), QStringLiteral("Server Utilization\nBRAVO-FS2"));
        const QStringList log = run.Log();
        QCOMPARE(log.mid(log.size() - 2),
                 QStringList(
                     {"CloseConn 0000C002 -> 00000000",
                      "NWCCOpenConnByRef 0000A103 00000001 00000000 -> 00000000 handle=0000C003"}));
        QCOMPARE(watcher.boxes().size(), std::size_t(0));
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(WindowsWindowTest)

#include "WindowsWindowTest.moc"
