// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The window on this platform's client with a table of three: Debian's node
// exporter, a closed port and the scripted fake. The timer runs as in the program;
// a server that stalls suspends sampling after 5 s, and the ticks never wait for it.

#include "ForwardingClient.h"
#include "ExporterClient.h"
#include "LocalMachineClient.h"
#include "RoutingClient.h"
#include "TestExporters.h"
#include "WindowFixture.h"

#include "ClientServices.h"
#include "LastResult.h"

#include <QElapsedTimer>
#include <QFile>

#include <fstream>
#include <sstream>

/* Passes every call on, noting when each statistics request was made. */
class TickClock : public ForwardingClient {
public:
    explicit TickClock(ClientLibrary& inner) : ForwardingClient(inner) { m_clock.start(); }
    ClientResult GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) override {
        m_calls.push_back(m_clock.elapsed());
        return ForwardingClient::GetServerInfoRecord(handle, record);
    }
    ClientResult GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) override {
        m_calls.push_back(m_clock.elapsed());
        return ForwardingClient::GetCacheInfoRecord(handle, record);
    }
    /* Milliseconds since creation of every statistics request, in order. */
    const std::vector<qint64>& Calls() const { return m_calls; }

private:
    QElapsedTimer m_clock;
    std::vector<qint64> m_calls;
};

class RemoteWindowTest : public QObject {
    Q_OBJECT

private slots:
    void tableOfThree() {
        if (!QFile::exists(QString::fromLatin1(NodeExporter::Program)))
            QSKIP("prometheus-node-exporter is not installed");
        const ScopedCurrentDir dir;
        NodeExporter exporter;
        FakeExporter fake;
        const std::string table = dir.FilePath(QStringLiteral("connections")).toStdString();
        std::ofstream(table) << "http://127.0.0.1:" << exporter.Port() << "\nhttp://127.0.0.1:"
                             << FreePort() << "\n" << fake.Url() << "\n";
        std::ostringstream errors;
        RoutingClient routing(table, "/proc", {}, errors);
        TickClock client(routing);

        MessageBoxWatcher watcher;
        watcher.arm(0);
        PrimaryConn = PrimaryConnUnopened;
        TMainForm form(client);
        WindowParts w(form);
        // This machine twice, the fake, and not the closed port.
        QCOMPARE(w.servers->Count(), 3);
        QCOMPARE(w.servers->ItemText(1), w.servers->ItemText(0) + QStringLiteral(" (127.0.0.1:%1)").arg(exporter.Port()));
        QCOMPARE(w.servers->ItemText(2), QStringLiteral("fake-exporter"));
        QCOMPARE(w.servers->ItemRef(2), ConnRef(4));

        w.servers->SetItemIndex(2);
        const std::size_t firstCall = client.Calls().size();
        QTest::qWait(3500);
        const SamplingState& sampling = form.Sampling();
        QVERIFY(!sampling.Stopped);
        QVERIFY(sampling.SampleCount >= 2);
        QCOMPARE(sampling.PeakHistory[std::size_t(sampling.SampleCount - 1)], 37);

        fake.SetMode("stall");
        QElapsedTimer stalled;
        stalled.start();
        while (!sampling.Stopped && stalled.elapsed() < 9000)
            QTest::qWait(50);
        const qint64 suspendedAfter = stalled.elapsed();
        qInfo("sampling suspended %lld ms after the fake stalled", suspendedAfter);
        QVERIFY(sampling.Stopped);
        QVERIFY2(suspendedAfter >= 4000 && suspendedAfter <= 7000, qPrintable(QString::number(suspendedAfter)));
        QCOMPARE(LastResult, std::int32_t(ExporterClient::NoAnswer));

        qint64 longest = 0;
        const std::vector<qint64>& calls = client.Calls();
        for (std::size_t i = firstCall + 1; i < calls.size(); ++i)
            longest = std::max(longest, calls[i] - calls[i - 1]);
        qInfo("%zu ticks, the longest gap between two %lld ms", calls.size() - firstCall, longest);
        QVERIFY(calls.size() - firstCall >= 7);
        // A tick that waited for the stalled server would wait its second or more.
        QVERIFY2(longest < 1800, qPrintable(QString::number(longest)));
        QCOMPARE(watcher.boxes().size(), std::size_t(0));
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(RemoteWindowTest)

#include "RemoteWindowTest.moc"
