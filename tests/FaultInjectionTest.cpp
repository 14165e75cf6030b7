// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Every client operation failing in turn on the real window: at start-up, while
// servers are selected and while it ticks; each with a small code and with 0xFFFF,
// at its first call of the phase and at a later one. For each: exactly the boxes
// shown, the state the window is left in, and that the next reset recovers (or,
// without a server to chart, that nothing is ever asked of the client).
// Also "Read.me" files that cannot be read or hold binary bytes.

#include "ClientServices.h"
#include "LastResult.h"
#include "MessageBoxWatcher.h"
#include "Report.h"
#include "ScriptedClient.h"
#include "WindowFixture.h"

#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr ConnRef AlphaRef = 11;
constexpr ConnRef BetaRef = 22;
// Handles in the order the client hands them out: the primary connection, then selections.
constexpr ConnectionHandle FirstOpen = ScriptedClient::FirstHandle + 1;
// What a failed open scribbles into its out-handle; it must never be taken for a handle.
constexpr ConnectionHandle Scribble = 0x42;
// The code of a row's second failure, so that a box shows which of the two it reports.
constexpr ClientResult OtherCode = 0x8802;

const char* const OpNames[] = {"ClientInit",          "GetPrimaryConnRef", "ScanConnRefs",
                               "GetConnRefInfo",      "NWCCOpenConnByRef", "CloseConn",
                               "GetServerInfoRecord", "GetCacheInfoRecord"};

/* An injected code and how a box must show it: upper-case hex, right-aligned in four places. */
struct Code {
    ClientResult value;
    const char* shown;
};
constexpr Code Codes[] = {{0x1, "   1"}, {0xFFFF, "FFFF"}};

struct Fault {
    ClientOp op = ClientOp::ClientInit;
    /* Fails from this call of the phase on (1-based), until removed. */
    int call = 1;
    ClientResult code = 0;
    /* Fails as well, from its first call of the phase, with OtherCode. */
    std::optional<ClientOp> also;
};

/* LastResult holds the injected code. */
inline constexpr std::nullopt_t Injected = std::nullopt;

/* What a phase leaves behind; the defaults are the undisturbed window. */
struct Outcome {
    /* "caption [icon] text" in order; "%1" stands for the code as the box shows it. */
    QStringList boxes{};
    QStringList entries{"ALPHA", "BETA"};
    int index = 0;
    ConnectionHandle handle = FirstOpen;
    std::optional<ClientResult> last = 0;
    /* The connection opened as the primary one; 0 when none is open. */
    ConnRef primary = BetaRef;
    // Tick phase only: statistics requests made by its four ticks, and the four samples filed.
    int requests = 4;
    std::array<std::int32_t, 4> peaks{10, 20, 30, 40};
};

} // namespace

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Outcome)

namespace {

/* A row of a phase's table before the codes are filled in. */
struct Row {
    ClientOp op;
    int call;
    Outcome outcome;
    std::optional<ClientOp> also{};
};

QString Error(const char* text) {
    return QStringLiteral("Error [error] ") + QLatin1String(text);
}

/* One row per operation, position and code: the listed exceptions, otherwise `normal`. */
void AddRows(std::initializer_list<int> positions, const Outcome& normal,
             const std::vector<Row>& exceptions) {
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<Outcome>("outcome");
    std::vector<Row> rows;
    for (int op = 0; op < ClientOpCount; ++op) {
        for (int call : positions) {
            Row row{ClientOp(op), call, normal};
            for (const Row& e : exceptions) {
                if (e.op == row.op && e.call == call && !e.also)
                    row = e;
            }
            rows.push_back(row);
        }
    }
    for (const Row& e : exceptions) {
        if (e.also)
            rows.push_back(e);
    }
    for (const Code& code : Codes) {
        for (const Row& row : rows) {
            Outcome o = row.outcome;
            for (QString& box : o.boxes)
                box.replace(QStringLiteral("%1"), QLatin1String(code.shown));
            if (!o.last)
                o.last = code.value;
            QTest::addRow("%s#%d%s%s code %X", OpNames[int(row.op)], row.call,
                          row.also ? " + " : "", row.also ? OpNames[int(*row.also)] : "",
                          code.value)
                << Fault{row.op, row.call, code.value, row.also} << o;
        }
    }
}

// Two servers, the second of them the primary connection; failures injected on the way.
struct Rig : WindowRig {
    std::vector<std::pair<ClientOp, int>> failing; // each injected failure's first failing call

    Rig() {
        client.connections = {{AlphaRef, "ALPHA"}, {BetaRef, "BETA"}};
        client.primary = BetaRef;
        client.handleLeftByFailedOpen = Scribble;
    }
    void Inject(const Fault& f) {
        failing.emplace_back(f.op, client.CallCount(f.op) + f.call);
        client.Fail(f.op, f.code, failing.back().second);
        if (f.also) {
            failing.emplace_back(*f.also, client.CallCount(*f.also) + 1);
            client.Fail(*f.also, OtherCode, failing.back().second);
        }
    }
};

#define CHECK(call)                                                                                \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

void CheckLines(Rig& rig) {
    const QString peaks = LineMismatch(*rig.w().chart, ChartLine::Series1, rig.s().PeakHistory);
    QVERIFY2(peaks.isEmpty(), qPrintable(peaks));
    const QString glide = LineMismatch(*rig.w().chart, ChartLine::Series2, rig.s().GlideHistory);
    QVERIFY2(glide.isEmpty(), qPrintable(glide));
}

// Without a server the reset stops after the title: the lines stay without points.
void CheckNoPoints(Rig& rig) {
    QCOMPARE(rig.w().chart->PointCount(), 0);
}

void CheckOutcome(Rig& rig, const Outcome& o) {
    QCOMPARE(rig.Boxes(), o.boxes);
    QCOMPARE(rig.Entries(), o.entries);
    QCOMPARE(rig.w().servers->ItemIndex(), o.index);
    QCOMPARE(rig.s().ConnHandle, o.handle);
    QCOMPARE(LastResult, std::int32_t(*o.last));
    // Without a server start-up ends before the timer: nothing is ever sampled.
    QCOMPARE(rig.timerStarted, !o.entries.isEmpty());
    if (o.primary == 0) {
        QCOMPARE(PrimaryConn, PrimaryConnUnopened);
    } else {
        // The primary connection is the first handle handed out, by the first open.
        QCOMPARE(PrimaryConn, ScriptedClient::FirstHandle);
        const auto open =
            std::find_if(rig.client.calls.begin(), rig.client.calls.end(),
                         [](const ClientCall& c) { return c.op == ClientOp::NWCCOpenConnByRef; });
        QCOMPARE(open->a, o.primary);
    }
    // Only handles that really opened are closed, each once.
    std::set<ConnectionHandle> closed;
    for (const ClientCall& c : rig.client.calls) {
        if (c.op == ClientOp::CloseConn) {
            QVERIFY2(c.a != NoConnection && c.a != Scribble && c.a != PrimaryConn,
                     qPrintable(QString::number(c.a, 16)));
            QVERIFY2(closed.insert(c.a).second, "a handle was closed twice");
        }
    }
    if (o.entries.isEmpty())
        CHECK(CheckNoPoints(rig));
    else
        CHECK(CheckLines(rig));
}

/* Ticks once with `percent` to be read and checks that exactly one request of the
   selected statistic is made on ConnHandle, succeeding only on an open connection. */
void ExpectRequest(Rig& rig, std::int32_t percent) {
    const bool caching = rig.w().statistic->currentIndex() == int(StatisticsKind::Caching);
    const ClientOp op = caching ? ClientOp::GetCacheInfoRecord : ClientOp::GetServerInfoRecord;
    const int before = rig.client.CallCount(op);
    rig.client.SetUtilization(percent);
    rig.Tick();
    QCOMPARE(rig.client.CallCount(op), before + 1);
    QCOMPARE(rig.client.calls.back(), (ClientCall{op, rig.s().ConnHandle}));
    const bool open = rig.s().ConnHandle != NoConnection;
    QCOMPARE(LastResult == 0, open);
    QCOMPARE(rig.s().Stopped, !open);
    const int slot = std::min(rig.s().SampleCount, WindowPoints) - 1;
    QCOMPARE(rig.s().PeakHistory[std::size_t(slot)], open && !caching ? percent : 0);
    CHECK(CheckLines(rig));
}

/* Removes the failures; then each reset, by statistic and by server, makes requests again. */
void Recover(Rig& rig, const Fault& fault) {
    rig.client.Fail(fault.op, 0);
    if (fault.also)
        rig.client.Fail(*fault.also, 0);
    const QStringList boxes = rig.Boxes();
    WindowParts& w = rig.w();
    if (w.servers->Count() == 0)
        return; // nothing to recover to (a later reset without a server: startUpFailures)
    for (std::int32_t percent : {61, 62}) {
        w.statistic->setCurrentIndex(1 - w.statistic->currentIndex());
        CHECK(ExpectRequest(rig, percent));
    }
    // Choosing another server opens it, whatever became of the connection before.
    if (w.servers->Count() >= 2) {
        w.servers->SetItemIndex(1 - w.servers->ItemIndex());
        QVERIFY(rig.s().ConnHandle != NoConnection);
        CHECK(ExpectRequest(rig, 63));
    }
    QCOMPARE(rig.Boxes(), boxes);
}

// The tick phase's samples: utilisation, and cumulative cache requests and hits.
constexpr std::array<std::int32_t, 4> TickPercents{10, 20, 30, 40};
constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 4> TickCounters{
    {{1000, 600}, {1100, 650}, {1250, 700}, {1300, 760}}};

} // namespace

class FaultInjectionTest : public QObject {
    Q_OBJECT

    std::optional<ScopedCurrentDir> m_dir;
    int m_rows = 0, m_injected = 0, m_fired = 0, m_boxes = 0;

    // Runs a phase's last steps for a row: its outcome, the tally, and the recovery.
    void Finish(Rig& rig, const Fault& fault, const Outcome& outcome) {
        ++m_rows;
        m_injected += fault.also ? 2 : 1;
        for (const auto& [op, call] : rig.failing)
            m_fired += rig.client.CallCount(op) >= call ? 1 : 0;
        m_boxes += int(outcome.boxes.size());
        CHECK(CheckOutcome(rig, outcome));
        Recover(rig, fault);
    }

private slots:
    void initTestCase() { m_dir.emplace(); } // no stray "Read.me" reaches the windows
    void cleanupTestCase() {
        qInfo("%d rows, %d faults injected, %d of them hit a call, %d boxes expected", m_rows,
              m_injected, m_fired, m_boxes);
        m_dir.reset();
    }

    void startUp_data() {
        const Outcome none{.entries = {}, .index = -1, .handle = NoConnection, .last = Injected};
        Outcome initFails = none;
        initFails.boxes = {ApplicationTitle() + " [plain] Could not Initialize NetWare Client",
                           Error("Error %1: InitNetWare")};
        initFails.primary = 0;
        Outcome noPrimary = none;
        noPrimary.boxes = {Error("Error %1: InitNetWare")};
        noPrimary.primary = 0;
        Outcome noNames = none;
        noNames.last = ScriptedClient::NoMoreConnections;
        AddRows({1, 2}, Outcome{},
                {
                    {ClientOp::ClientInit, 1, initFails},
                    // Without a primary reference, the first connection a scan finds.
                    {ClientOp::GetPrimaryConnRef, 1, {.primary = AlphaRef}},
                    {ClientOp::ScanConnRefs, 1, none},
                    {ClientOp::ScanConnRefs, 2, {.entries = {"ALPHA"}}},
                    {ClientOp::ScanConnRefs, 1, noPrimary, ClientOp::GetPrimaryConnRef},
                    {ClientOp::GetConnRefInfo, 1, noNames},
                    {ClientOp::GetConnRefInfo, 2, {.entries = {"ALPHA"}}},
                    {ClientOp::NWCCOpenConnByRef, 1, noPrimary},
                    {ClientOp::NWCCOpenConnByRef,
                     2,
                     {.boxes = {Error("Error %1: NWCCOpenConnByRef")},
                      .handle = NoConnection,
                      .last = Injected}},
                });
    }
    void startUp() {
        QFETCH(Fault, fault);
        QFETCH(Outcome, outcome);
        Rig rig;
        rig.Inject(fault);
        rig.Build();
        Finish(rig, fault, outcome);
    }

    // Two selections: the second server, then the first again.
    void selection_data() {
        AddRows({1, 2}, {.handle = FirstOpen + 2},
                {
                    {ClientOp::NWCCOpenConnByRef,
                     1,
                     {.boxes = {Error("Error %1: NWCCOpenConnByRef"),
                                Error("Error %1: NWCCOpenConnByRef")},
                      .handle = NoConnection,
                      .last = Injected}},
                    {ClientOp::NWCCOpenConnByRef,
                     2,
                     {.boxes = {Error("Error %1: NWCCOpenConnByRef")},
                      .handle = NoConnection,
                      .last = Injected}},
                });
    }
    void selection() {
        QFETCH(Fault, fault);
        QFETCH(Outcome, outcome);
        Rig rig;
        rig.Build();
        QCOMPARE(rig.Boxes(), QStringList{});
        rig.Inject(fault);
        rig.w().servers->SetItemIndex(1);
        rig.w().servers->SetItemIndex(0);
        Finish(rig, fault, outcome);
    }

    // Four ticks; a failed request suspends the requests, not the ticks.
    void ticks_data() {
        AddRows({1, 3}, Outcome{},
                {
                    {ClientOp::GetServerInfoRecord,
                     1,
                     {.last = Injected, .requests = 1, .peaks = {0, 0, 0, 0}}},
                    {ClientOp::GetServerInfoRecord,
                     3,
                     {.last = Injected, .requests = 3, .peaks = {10, 20, 0, 0}}},
                    {ClientOp::GetCacheInfoRecord,
                     1,
                     {.last = Injected, .requests = 1, .peaks = {0, 0, 0, 0}}},
                    {ClientOp::GetCacheInfoRecord,
                     3,
                     {.last = Injected, .requests = 3, .peaks = {0, 100, 0, 0}}},
                });
    }
    void ticks() {
        QFETCH(Fault, fault);
        QFETCH(Outcome, outcome);
        Rig rig;
        rig.Build();
        const bool caching = fault.op == ClientOp::GetCacheInfoRecord;
        rig.w().statistic->setCurrentIndex(caching ? 1 : 0);
        const ClientOp request =
            caching ? ClientOp::GetCacheInfoRecord : ClientOp::GetServerInfoRecord;
        rig.Inject(fault);
        const int before = rig.client.CallCount(request);
        for (std::size_t i = 0; i < TickPercents.size(); ++i) {
            rig.client.SetUtilization(TickPercents[i]);
            rig.client.SetCacheCounters(TickCounters[i].first, TickCounters[i].second);
            rig.Tick();
        }
        QCOMPARE(rig.client.CallCount(request) - before, outcome.requests);
        QCOMPARE(rig.s().Stopped, *outcome.last != 0);
        QCOMPARE(rig.s().SampleCount, 4);
        const std::array<std::int32_t, 4> peaks{rig.s().PeakHistory[0], rig.s().PeakHistory[1],
                                                rig.s().PeakHistory[2], rig.s().PeakHistory[3]};
        QCOMPARE(peaks, outcome.peaks);
        Finish(rig, fault, outcome);
    }

    // The window starts with any "Read.me", shows what can be shown and says nothing.
    void badReadMe_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("no permission") << "unreadable" << QByteArray("secret\n") << QString();
        // Opens as root too, and then every read fails with EIO.
        QTest::newRow("read fails") << "link" << QByteArray("/proc/self/mem") << QString();
        QTest::newRow("symbolic link loop") << "link" << QByteArray("Read.me") << QString();
        QTest::newRow("invalid UTF-8")
            << "file"
            << QByteArray("A\xFF"
                          "B\xC3(\r\n\x80\xE2\x82\xAC\xC0\xAF.")
            << QStringLiteral("A\uFFFDB\uFFFD(\n\uFFFD\u20AC\uFFFD\uFFFD.");
        // Seeded noise with a readable line in its middle: the text is checked for its lines.
        std::mt19937 random(20240601);
        QByteArray noise(64 * 1024, '\0');
        for (char& byte : noise)
            byte = char(random());
        noise.insert(noise.size() / 2, "\nReadable line\n");
        QTest::newRow("random bytes") << "noise" << noise << QString();
    }
    void badReadMe() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const ScopedCurrentDir dir;
        const QString name = QStringLiteral("Read.me");
        if (kind == "link") {
            QVERIFY(QFile::link(QString::fromLatin1(bytes), name));
        } else {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(bytes), bytes.size());
            file.close();
            if (kind == "unreadable") {
                QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
                if (::geteuid() == 0)
                    QSKIP("root reads a file whatever its permissions; \"read fails\" covers "
                          "an unreadable file there");
            }
        }

        Rig rig;
        rig.Build();
        CHECK(CheckOutcome(rig, Outcome{}));
        const QString shown = rig.w().memo->toPlainText();
        if (kind != "noise") {
            QCOMPARE(shown, text);
            return;
        }
        // One line per line break of the file (CR LF, LF or CR; a final one starts none).
        int lines = 1;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (bytes[i] != '\n' && bytes[i] != '\r')
                continue;
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            lines += i + 1 < bytes.size() ? 1 : 0;
        }
        QCOMPARE(rig.w().memo->blockCount(), lines);
        QVERIFY(!shown.contains(QChar(0)) && !shown.contains(u'\r'));
        QVERIFY(shown.contains(QChar::ReplacementCharacter));
        QVERIFY(shown.split(u'\n').contains(QStringLiteral("Readable line")));
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(FaultInjectionTest)

#include "FaultInjectionTest.moc"
