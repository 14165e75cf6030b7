// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The window on this platform's client with a table of three: Debian's node
// exporter, a closed port and the scripted fake. The timer runs as in the program;
// a server that stalls suspends sampling after 5 s, and the ticks never wait for it.

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
class TickClock : public ClientLibrary {
public:
    explicit TickClock(ClientLibrary& inner) : m_inner(inner) { m_clock.start(); }
    ClientResult ClientInit(void* a, void* b) override { return m_inner.ClientInit(a, b); }
    ClientResult GetPrimaryConnRef(ConnRef& ref) override { return m_inner.GetPrimaryConnRef(ref); }
    ClientResult ScanConnRefs(ScanIterator& i, ConnRef& ref) override { return m_inner.ScanConnRefs(i, ref); }
    ClientResult GetConnRefInfo(ConnRef ref, std::uint32_t type, std::uint32_t length,
                                unsigned char* buffer) override {
        return m_inner.GetConnRefInfo(ref, type, length, buffer);
    }
    ClientResult NWCCOpenConnByRef(ConnRef ref, std::uint32_t state, std::uint32_t reserved,
                                   ConnectionHandle& handle) override {
        return m_inner.NWCCOpenConnByRef(ref, state, reserved, handle);
    }
    ClientResult CloseConn(ConnectionHandle handle) override { return m_inner.CloseConn(handle); }
    ClientResult GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) override {
        m_calls.push_back(m_clock.elapsed());
        return m_inner.GetServerInfoRecord(handle, record);
    }
    ClientResult GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) override {
        m_calls.push_back(m_clock.elapsed());
        return m_inner.GetCacheInfoRecord(handle, record);
    }
    /* Milliseconds since creation of every statistics request, in order. */
    const std::vector<qint64>& Calls() const { return m_calls; }

private:
    ClientLibrary& m_inner;
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
        QVERIFY2(longest < 1200, qPrintable(QString::number(longest)));
        QCOMPARE(watcher.boxes().size(), std::size_t(0));
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(RemoteWindowTest)

#include "RemoteWindowTest.moc"
