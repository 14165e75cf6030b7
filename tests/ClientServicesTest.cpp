// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Client start-up, the connection scan and reading a connection's text items,
// against a scripted client and a list that records what it is given.

#include "ClientServices.h"
#include "LastResult.h"
#include "MessageBoxWatcher.h"
#include "ScriptedClient.h"

#include <QTest>

#include <vector>

using Connections = std::vector<ScriptedConnection>;
Q_DECLARE_METATYPE(Connections)

namespace {

constexpr ClientOp NoFailure = ClientOp(-1);
constexpr ConnectionHandle Opened = ScriptedClient::FirstHandle;

// Records each entry with the LastResult it was appended under.
class RecordingList : public ConnectionList {
public:
    QStringList entries;
    void Append(const QString& text, ConnRef ref) override {
        entries << QStringLiteral("%1 @%2 (%3)").arg(text).arg(ref).arg(LastResult);
    }
};

QStringList Describe(const std::vector<ClientCall>& calls, std::size_t from = 0) {
    static const char* const names[] = {"ClientInit",          "GetPrimaryConnRef", "ScanConnRefs",
                                        "GetConnRefInfo",      "NWCCOpenConnByRef", "CloseConn",
                                        "GetServerInfoRecord", "GetCacheInfoRecord"};
    QStringList out;
    for (std::size_t i = from; i < calls.size(); ++i) {
        const ClientCall& c = calls[i];
        out << QStringLiteral("%1(%2,%3,%4)")
                   .arg(QLatin1String(names[int(c.op)]))
                   .arg(c.a)
                   .arg(c.b)
                   .arg(c.c);
    }
    return out;
}

const QString Init = QStringLiteral("ClientInit(0,0,0)");
const QString Primary = QStringLiteral("GetPrimaryConnRef(0,0,0)");
const QString FirstScan = QStringLiteral("ScanConnRefs(0,0,0)");
QString OpenOf(ConnRef ref) {
    return QStringLiteral("NWCCOpenConnByRef(%1,1,0)").arg(ref);
}

// Names are 8-bit text in the system's character set: UTF-8 on Linux, a
// single-byte code page on most Windows systems, where these cases cannot arise.
bool SystemCharsetIsUtf8() {
    return QString::fromLocal8Bit("\xC3\xA9") == QStringLiteral("\u00E9");
}

void Script(ScriptedClient& client, const QList<quint32>& refs, ConnRef primary) {
    // Not "S" + std::to_string(ref): GCC 12 warns falsely there (-Wrestrict) when optimising.
    for (quint32 ref : refs)
        client.connections.push_back({ref, QStringLiteral("S%1").arg(ref).toStdString()});
    client.primary = primary;
    // A failed open that scribbles on its out-handle must still not count as opened.
    client.handleLeftByFailedOpen = 0x42;
}

} // namespace

class ClientServicesTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        PrimaryConn = PrimaryConnUnopened;
        LastResult = 0;
    }

    void initNetWare_data() {
        QTest::addColumn<QList<quint32>>("refs");
        QTest::addColumn<quint32>("primary");
        QTest::addColumn<int>("failOp");
        QTest::addColumn<quint32>("failCode");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<quint32>("primaryConn");
        QTest::addColumn<bool>("plainBox");

        const QList<quint32> two{21, 22};
        const int none = int(NoFailure);
        QTest::newRow("primary opened")
            << two << 22u << none << 0u << 0 << QStringList{Init, Primary, OpenOf(22)} << Opened
            << false;
        QTest::newRow("no primary: first scanned")
            << two << 0u << none << 0u << 0 << QStringList{Init, Primary, FirstScan, OpenOf(21)}
            << Opened << false;
        QTest::newRow("no connections at all")
            << QList<quint32>{} << 0u << none << 0u << int(ScriptedClient::NoMoreConnections)
            << QStringList{Init, Primary, FirstScan} << PrimaryConnUnopened << false;
        QTest::newRow("client will not start")
            << two << 22u << int(ClientOp::ClientInit) << 0x8870u << 0x8870 << QStringList{Init}
            << PrimaryConnUnopened << true;
        QTest::newRow("start-up code above 16 bits")
            << two << 22u << int(ClientOp::ClientInit) << 0x10000u << 0xFFFF << QStringList{Init}
            << PrimaryConnUnopened << true;
        QTest::newRow("scan code above 16 bits")
            << two << 0u << int(ClientOp::ScanConnRefs) << 0x1FFFFu << 0xFFFF
            << QStringList{Init, Primary, FirstScan} << PrimaryConnUnopened << false;
        QTest::newRow("failed open")
            << two << 22u << int(ClientOp::NWCCOpenConnByRef) << 0x8801u << 0x8801
            << QStringList{Init, Primary, OpenOf(22)} << PrimaryConnUnopened << false;
    }
    void initNetWare() {
        QFETCH(QList<quint32>, refs);
        QFETCH(quint32, primary);
        QFETCH(int, failOp);
        QFETCH(quint32, failCode);
        QFETCH(int, result);
        QFETCH(QStringList, calls);
        QFETCH(quint32, primaryConn);
        QFETCH(bool, plainBox);
        ScriptedClient client;
        Script(client, refs, primary);
        if (failOp != int(NoFailure))
            client.Fail(ClientOp(failOp), failCode);

        MessageBoxWatcher watcher;
        watcher.arm(plainBox ? 1 : 0);
        QCOMPARE(int(InitNetWare(client)), result);

        QCOMPARE(Describe(client.calls), calls);
        QCOMPARE(PrimaryConn, primaryConn);
        QCOMPARE(client.openHandles.size(), primaryConn == PrimaryConnUnopened ? 0u : 1u);
        QCOMPARE(watcher.boxes().size(), plainBox ? 1u : 0u);
        if (plainBox) {
            const SeenBox& box = watcher.boxes().front();
            QCOMPARE(box.caption, QStringLiteral("client_services_tests"));
            QCOMPARE(box.icon, QMessageBox::NoIcon);
            QCOMPARE(box.text, QStringLiteral("Could not Initialize NetWare Client"));
            QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
        }
    }

    // A client code beyond 16 bits keeps its low 16 bits, unless that would make it success.
    void codesBeyond16Bits_data() {
        QTest::addColumn<quint32>("code");
        QTest::addColumn<int>("result");
        QTest::newRow("fits") << 0x8870u << 0x8870;
        QTest::newRow("one bit above") << 0x18870u << 0x8870;
        QTest::newRow("top bit") << 0x80000001u << 0x0001;
        QTest::newRow("low bits 0") << 0x10000u << 0xFFFF;
        QTest::newRow("all ones") << 0xFFFFFFFFu << 0xFFFF;
    }
    void codesBeyond16Bits() {
        QFETCH(quint32, code);
        QFETCH(int, result);
        ScriptedClient client;
        client.Fail(ClientOp::ClientInit, code);
        MessageBoxWatcher watcher;
        watcher.arm(1);
        QCOMPARE(int(InitNetWare(client)), result);
    }

    void secondInitNetWare_data() {
        QTest::addColumn<int>("failOnceOp");
        QTest::addColumn<int>("firstResult");
        QTest::addColumn<QStringList>("secondCalls");
        QTest::newRow("after success: nothing") << int(NoFailure) << 0 << QStringList{};
        QTest::newRow("after failed open: again")
            << int(ClientOp::NWCCOpenConnByRef) << 0x8801 << QStringList{Init, Primary, OpenOf(22)};
        QTest::newRow("after failed start-up: again")
            << int(ClientOp::ClientInit) << 0x8801 << QStringList{Init, Primary, OpenOf(22)};
    }
    void secondInitNetWare() {
        QFETCH(int, failOnceOp);
        QFETCH(int, firstResult);
        QFETCH(QStringList, secondCalls);
        ScriptedClient client;
        Script(client, {21, 22}, 22);
        if (failOnceOp != int(NoFailure))
            client.Fail(ClientOp(failOnceOp), 0x8801, 1, true);
        MessageBoxWatcher watcher;
        watcher.arm(0);

        QCOMPARE(int(InitNetWare(client)), firstResult);
        const std::size_t before = client.calls.size();
        QCOMPARE(int(InitNetWare(client)), 0);

        QCOMPARE(Describe(client.calls, before), secondCalls);
        QCOMPARE(PrimaryConn, Opened);
        QCOMPARE(client.openHandles.size(), 1u);
    }

    void scanConnections_data() {
        QTest::addColumn<Connections>("connections");
        QTest::addColumn<bool>("endless");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("lastResult");
        QTest::addColumn<int>("scanSteps");
        const int end = int(ScriptedClient::NoMoreConnections);

        QTest::newRow("three, one nameless")
            << Connections{{1, "ALPHA"}, {2, ""}, {3, "GAMMA"}} << false
            << QStringList{"ALPHA @1 (0)", "GAMMA @3 (0)"} << end << 4;
        QTest::newRow("failed name read skipped, scan goes on")
            << Connections{{1, "ALPHA", 0x8899}, {2, "BETA"}} << false << QStringList{"BETA @2 (0)"}
            << end << 3;
        if (SystemCharsetIsUtf8())
            QTest::newRow("invalid UTF-8 kept")
                << Connections{{5, "\xC3(SRV"}} << false
                << QStringList{QString(QChar::ReplacementCharacter) + "(SRV @5 (0)"} << end << 2;
        QTest::newRow("no connections") << Connections{} << false << QStringList{} << end << 1;

        // This machine, 256 lines and 10,000 discovered servers: every one is listed.
        Connections longest;
        QStringList listed;
        for (ConnRef ref = 1; ref <= 1 + 256 + 10000; ++ref) {
            longest.push_back({ref, "S" + std::to_string(ref)});
            listed << QStringLiteral("S%1 @%1 (0)").arg(ref);
        }
        QTest::newRow("the remote backend's longest list, whole")
            << longest << false << listed << end << int(longest.size()) + 1;

        QStringList endless;
        for (int i = 0; i < MaxScanSteps; ++i)
            endless << QStringLiteral("ALPHA @7 (0)");
        QTest::newRow("endless scan stops, keeps entries")
            << Connections{{7, "ALPHA"}} << true << endless << 0 << MaxScanSteps;
        // Only scan steps set LastResult: the failing name reads never show in it.
        QTest::newRow("endless scan, names unreadable")
            << Connections{{7, "ALPHA", 0x8899}} << true << QStringList{} << 0 << MaxScanSteps;
    }
    void scanConnections() {
        QFETCH(Connections, connections);
        QFETCH(bool, endless);
        QFETCH(QStringList, entries);
        QFETCH(int, lastResult);
        QFETCH(int, scanSteps);
        ScriptedClient client;
        client.connections = connections;
        client.endlessScan = endless;
        RecordingList list;

        ScanConnections(client, list);

        QCOMPARE(list.entries, entries);
        QCOMPARE(LastResult, lastResult);
        QCOMPARE(client.CallCount(ClientOp::ScanConnRefs), scanSteps);
        std::uint32_t step = 0;
        for (const ClientCall& call : client.calls) {
            if (call.op == ClientOp::ScanConnRefs)
                QCOMPARE(call.a, step++); // one iterator, carried from step to step
            else if (call.op == ClientOp::GetConnRefInfo)
                QCOMPARE(QList<quint32>({call.b, call.c}),
                         QList<quint32>({ConnInfoServerName, 255}));
            else
                QFAIL("a scan only scans and reads names");
        }
    }

    void connInfoString_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("nulTerminated");
        QTest::addColumn<quint32>("readResult");
        QTest::addColumn<int>("maxLen");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("result");

        const QByteArray digits = "0123456789";
        const QString fullBuffer = QString(digits).repeated(26).left(255);
        const QString bad(QChar::ReplacementCharacter);
        QTest::newRow("whole name") << QByteArray("ALPHA") << true << 0u << 255 << "ALPHA" << 0;
        QTest::newRow("cut to maxLen") << QByteArray("ABCDEFGH") << true << 0u << 5 << "ABCDE" << 0;
        QTest::newRow("no NUL: the buffer and no more")
            << digits << false << 0u << 1000 << fullBuffer << 0;
        QTest::newRow("no NUL, cut") << digits << false << 0u << 12 << "012345678901" << 0;
        QTest::newRow("maxLen 0") << QByteArray("ALPHA") << true << 0u << 0 << "" << 0;
        QTest::newRow("negative maxLen") << QByteArray("ALPHA") << true << 0u << -1 << "" << 0;
        if (SystemCharsetIsUtf8()) {
            QTest::newRow("invalid UTF-8")
                << QByteArray("\xFF\xFEok") << true << 0u << 255 << bad + bad + "ok" << 0;
            QTest::newRow("cut never halves a character")
                << QByteArray("AB\xF0\x9F\x98\x80") << true << 0u << 3 << "AB" << 0;
        }
        QTest::newRow("failed read")
            << QByteArray("ALPHA") << true << 0x8899u << 255 << "" << 0x8899;
        QTest::newRow("failure above 16 bits")
            << QByteArray("ALPHA") << true << 0x18899u << 255 << "" << 0x8899;
    }
    void connInfoString() {
        QFETCH(QByteArray, name);
        QFETCH(bool, nulTerminated);
        QFETCH(quint32, readResult);
        QFETCH(int, maxLen);
        QFETCH(QString, text);
        QFETCH(int, result);
        ScriptedClient client;
        client.connections.push_back({9, name.toStdString(), readResult, nulTerminated});

        QString dest = QStringLiteral("stale");
        QCOMPARE(int(GetServerName(client, 9, dest, maxLen)), result);
        QCOMPARE(dest, text);
    }
};

QTEST_MAIN(ClientServicesTest)
#include "ClientServicesTest.moc"
