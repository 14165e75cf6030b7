// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The Windows backend under Wine, on the stand-in client libraries: loading,
// ordinals, the calling convention and argument order of all eight entry
// points, the codes for a missing library or entry point, and answers that
// only the client's failure paths may take.

#include "WindowsClient.h"
#include "ClientServices.h"
#include "LastResult.h"
#include "MessageBoxWatcher.h"
#include "StandInRun.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <windows.h>

namespace {

class RecordingList : public ConnectionList {
public:
    QStringList names;
    QList<ConnRef> refs;
    void Append(const QString& text, ConnRef ref) override {
        names << text;
        refs << ref;
    }
};

constexpr ConnRef Alpha = 0xA101;
constexpr ConnRef Beta = 0xA102;
const std::initializer_list<const wchar_t*> AllStandIns = {L"calwin32.dll", L"clxwin32.dll",
                                                           L"gapcal32.dll", L"gapclx32.dll"};

bool AnyLoaded(std::initializer_list<const wchar_t*> libraries) {
    for (const wchar_t* library : libraries)
        if (GetModuleHandleW(library) != nullptr)
            return true;
    return false;
}

const QByteArray TwoServers = "primary 0xA101\n"
                              "conn 0xA101 name ALPHA\n"
                              "conn 0xA102 name BETA\n"
                              "utilization 37\n"
                              "cache 5000 3000 0 0\n";

} // namespace

class WindowsClientTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        PrimaryConn = PrimaryConnUnopened;
        LastResult = 0;
    }

    // Every argument a value that no other argument has: a swapped pair, a
    // shifted stack or a wrong convention shows in the library's log or crashes here.
    void everyEntryPointGetsItsArgumentsInOrder() {
        const StandInRun run(TwoServers);
        WindowsClient client;
        QCOMPARE(client.LoadResult(), ClientResult(0));

        QCOMPARE(
            client.ClientInit(reinterpret_cast<void*>(0x1111), reinterpret_cast<void*>(0x2222)),
            ClientResult(0));
        ConnRef ref = 0;
        QCOMPARE(client.GetPrimaryConnRef(ref), ClientResult(0));
        QCOMPARE(ref, Alpha);
        ScanIterator iterator = 1;
        QCOMPARE(client.ScanConnRefs(iterator, ref), ClientResult(0));
        QCOMPARE(iterator, ScanIterator(2));
        QCOMPARE(ref, Beta);

        std::array<unsigned char, 8> name;
        name.fill('#');
        QCOMPARE(client.GetConnRefInfo(Beta, ConnInfoServerName, 3, name.data()), ClientResult(0));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(name.data()), 4), QByteArray("BE\0#", 4));
        QCOMPARE(client.GetConnRefInfo(Alpha, 0x55, 0x66, name.data()), ClientResult(0x8804));

        ConnectionHandle handle = 0;
        QCOMPARE(client.NWCCOpenConnByRef(Alpha, 0x33, 0x44, handle), ClientResult(0));
        QCOMPARE(handle, ConnectionHandle(0xC001));
        ServerInfoRecord server{};
        QCOMPARE(client.GetServerInfoRecord(handle, server), ClientResult(0));
        QCOMPARE(ReadField32(server, ServerInfoField::Utilization), 37u);
        CacheInfoRecord cache{};
        QCOMPARE(client.GetCacheInfoRecord(handle, cache), ClientResult(0));
        QCOMPARE(ReadField32(cache, CacheInfoField::CacheRequests), 5000u);
        QCOMPARE(ReadField32(cache, CacheInfoField::CacheHits), 3000u);
        QCOMPARE(client.CloseConn(handle), ClientResult(0));
        QCOMPARE(client.GetServerInfoRecord(handle, server), ClientResult(0x8801));

        QCOMPARE(run.Log(),
                 QStringList({
                     "ClientInit 00001111 00002222 -> 00000000",
                     "GetPrimaryConnRef -> 00000000 ref=0000A101",
                     "ScanConnRefs 00000001 -> 00000000 iterator=00000002 ref=0000A102",
                     "GetConnRefInfo 0000A102 00000007 00000003 -> 00000000",
                     "GetConnRefInfo 0000A101 00000055 00000066 -> 00008804",
                     "NWCCOpenConnByRef 0000A101 00000033 00000044 -> 00000000 handle=0000C001",
                     "GetServerInfoRecord 0000C001 -> 00000000 utilization=00000025",
                     "GetCacheInfoRecord 0000C001 -> 00000000 requests=00001388 hits=00000BB8",
                     "CloseConn 0000C001 -> 00000000",
                     "GetServerInfoRecord 0000C001 -> 00008801",
                 }));
    }

    // Loaded once by the client, held while it lives, released with it.
    void librariesLiveWithTheClient() {
        {
            const WindowsClient client;
            QVERIFY(AnyLoaded({L"calwin32.dll"}) && AnyLoaded({L"clxwin32.dll"}));
        }
        QVERIFY(!AnyLoaded(AllStandIns));
    }

    // The calls start-up makes, as the real client sees them.
    void startUpAsTheLibrariesSeeIt() {
        const StandInRun run("primary 0xA101\n"
                             "conn 0xA101 name ALPHA\n"
                             "conn 0xA102 name\n"
                             "conn 0xA103 name GAMMA\n");
        WindowsClient client;
        QCOMPARE(InitNetWare(client), std::uint16_t(0));
        RecordingList list;
        ScanConnections(client, list);
        QCOMPARE(list.names, QStringList({"ALPHA", "GAMMA"}));
        QCOMPARE(list.refs, QList<ConnRef>({0xA101, 0xA103}));
        QCOMPARE(LastResult, 0x88FF);
        QCOMPARE(run.Log(),
                 QStringList({
                     "ClientInit 00000000 00000000 -> 00000000",
                     "GetPrimaryConnRef -> 00000000 ref=0000A101",
                     "NWCCOpenConnByRef 0000A101 00000001 00000000 -> 00000000 handle=0000C001",
                     "ScanConnRefs 00000000 -> 00000000 iterator=00000001 ref=0000A101",
                     "GetConnRefInfo 0000A101 00000007 000000FF -> 00000000",
                     "ScanConnRefs 00000001 -> 00000000 iterator=00000002 ref=0000A102",
                     "GetConnRefInfo 0000A102 00000007 000000FF -> 00000000",
                     "ScanConnRefs 00000002 -> 00000000 iterator=00000003 ref=0000A103",
                     "GetConnRefInfo 0000A103 00000007 000000FF -> 00000000",
                     "ScanConnRefs 00000003 -> 000088FF",
                 }));
    }

    void missingLibraryOrEntryPoint_data() {
        QTest::addColumn<QString>("cal");
        QTest::addColumn<QString>("clx");
        QTest::addColumn<quint32>("code");
        QTest::newRow("no calwin32") << "absent.dll"
                                     << "clxwin32.dll" << WindowsClient::CalLibraryMissing;
        QTest::newRow("no clxwin32") << "calwin32.dll"
                                     << "absent.dll" << WindowsClient::ClxLibraryMissing;
        QTest::newRow("neither") << "absent.dll"
                                 << "absent.dll" << WindowsClient::CalLibraryMissing;
        QTest::newRow("calwin32 not a library")
            << "garbage"
            << "clxwin32.dll" << WindowsClient::CalLibraryMissing;
        QTest::newRow("calwin32 lacks 403") << "gapcal32.dll"
                                            << "clxwin32.dll" << WindowsClient::EntryPointMissing;
        QTest::newRow("clxwin32 lacks 115") << "calwin32.dll"
                                            << "gapclx32.dll" << WindowsClient::EntryPointMissing;
    }

    // Nothing is called, every operation answers the code, and start-up says so.
    void missingLibraryOrEntryPoint() {
        QFETCH(QString, cal);
        QFETCH(QString, clx);
        QFETCH(quint32, code);
        const StandInRun run(TwoServers);
        const QTemporaryDir dir;
        if (cal == QStringLiteral("garbage")) {
            // A file by the library's name that is no library at all.
            cal = QDir::toNativeSeparators(dir.filePath(QStringLiteral("calwin32.dll")));
            QFile file(cal);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("MZ not a library") > 0);
        }
        WindowsClient client(reinterpret_cast<const wchar_t*>(cal.utf16()),
                             reinterpret_cast<const wchar_t*>(clx.utf16()));
        QCOMPARE(client.LoadResult(), code);
        QVERIFY2(!AnyLoaded(AllStandIns), "a client that serves nothing holds no library");

        ConnRef ref = 0;
        ScanIterator iterator = 0;
        ConnectionHandle handle = 0;
        std::array<unsigned char, 4> buffer{};
        ServerInfoRecord server{};
        CacheInfoRecord cache{};
        QCOMPARE(client.GetPrimaryConnRef(ref), code);
        QCOMPARE(client.ScanConnRefs(iterator, ref), code);
        QCOMPARE(client.GetConnRefInfo(Alpha, 7, 4, buffer.data()), code);
        QCOMPARE(client.NWCCOpenConnByRef(Alpha, 1, 0, handle), code);
        QCOMPARE(client.CloseConn(0xC001), code);
        QCOMPARE(client.GetServerInfoRecord(0xC001, server), code);
        QCOMPARE(client.GetCacheInfoRecord(0xC001, cache), code);

        MessageBoxWatcher watcher;
        watcher.arm(1);
        QCOMPARE(InitNetWare(client), std::uint16_t(code));
        QVERIFY(watcher.waitForBoxes());
        QCOMPARE(watcher.boxes().front().text,
                 QStringLiteral("Could not Initialize NetWare Client"));
        QCOMPARE(watcher.boxes().front().icon, QMessageBox::NoIcon);
        QCOMPARE(run.Log(), QStringList());
    }

    void badAnswers_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("initResult");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<qint32>("lastResult");

        const QByteArray one = "conn 0xA101 name ALPHA\n";
        QTest::newRow("name without NUL") << QByteArray("conn 0xA101 unterminated GAMMA\n") << 0
                                          << QStringList{"GAMMA"} << 0x88FF;
        QTest::newRow("buffer filled to the end")
            << QByteArray("conn 0xA101 fill 0x41\n") << 0
            << QStringList{QString(MaxNameLength, 'A')} << 0x88FF;
        // Beyond 16 bits a code keeps its low 16 bits, or reads FFFF when those are 0.
        QTest::newRow("start-up code above 0xFFFF")
            << "fail ClientInit 0x10000\n" + one << 0xFFFF << QStringList() << 0;
        QTest::newRow("open code above 0xFFFF")
            << "fail NWCCOpenConnByRef 0x12345\n" + one << 0x2345 << QStringList() << 0;
        QTest::newRow("scan code above 0xFFFF")
            << "fail ScanConnRefs 0x10000 3\n" + one << 0 << QStringList{"ALPHA"} << 0x10000;
        QTest::newRow("name code above 0xFFFF")
            << QByteArray("conn 0xA101 fails 0x10001\n") << 0 << QStringList() << 0x88FF;
    }

    // Start-up and the scan on a client that answers badly: only documented outcomes.
    void badAnswers() {
        QFETCH(QByteArray, script);
        QFETCH(int, initResult);
        QFETCH(QStringList, names);
        QFETCH(qint32, lastResult);
        const StandInRun run(script);
        WindowsClient client;
        MessageBoxWatcher watcher;
        watcher.arm(0);
        QCOMPARE(int(InitNetWare(client)), initResult);
        RecordingList list;
        if (initResult == 0) {
            ScanConnections(client, list);
            QCOMPARE(LastResult, lastResult);
        }
        QCOMPARE(list.names, names);
    }

    // A scan that never ends stops after its bound, with every step logged.
    void endlessScanStops() {
        const StandInRun run("scan endless\nconn 0xA101 name ALPHA\n");
        WindowsClient client;
        RecordingList list;
        ScanConnections(client, list);
        QCOMPARE(list.names.size(), MaxScanSteps);
        QCOMPARE(run.Calls(QStringLiteral("ScanConnRefs")).size(), MaxScanSteps);
    }

    // Names are 8-bit text in the system's character set.
    void namesInTheSystemCharacterSet() {
        if (GetACP() != 1252)
            QSKIP("the system's character set is not Windows-1252");
        const StandInRun run("conn 0xA101 hex 4CE96F\n");
        WindowsClient client;
        QString name;
        QCOMPARE(GetServerName(client, Alpha, name, MaxNameLength), std::uint16_t(0));
        QCOMPARE(name, QStringLiteral("L\u00E9o"));
    }
};

QTEST_MAIN(WindowsClientTest)

#include "WindowsClientTest.moc"
