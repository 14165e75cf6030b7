// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Message boxes, the result text, the application title and the application's error box.

#include "Report.h"
#include "MessageBoxWatcher.h"
#include "ReportingApplication.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <optional>
#include <stdexcept>

Q_DECLARE_METATYPE(std::optional<Qt::CursorShape>)
Q_DECLARE_METATYPE(MessageBoxWatcher::CloseKey)

namespace {

using Pointer = std::optional<Qt::CursorShape>;

Pointer CurrentPointer() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor ? Pointer(cursor->shape()) : std::nullopt;
}

// Pops every override so that one test's pointer cannot leak into the next;
// returns how many there were.
int ClearOverrides() {
    int depth = 0;
    for (; QGuiApplication::overrideCursor() != nullptr; ++depth)
        QGuiApplication::restoreOverrideCursor();
    return depth;
}

bool CentredOnScreen(const QRect& frame) {
    const QPoint offset =
        frame.center() - QGuiApplication::primaryScreen()->availableGeometry().center();
    return !frame.isEmpty() && std::abs(offset.x()) <= 1 && std::abs(offset.y()) <= 1;
}

// Throws from its first timer event, then counts the ones that follow.
class ThrowingTicker : public QObject {
public:
    explicit ThrowingTicker(bool standardException) : m_standard(standardException) {
        startTimer(1);
    }
    int ticks = 0;

protected:
    void timerEvent(QTimerEvent*) override {
        if (++ticks > 1)
            return;
        if (m_standard)
            throw std::runtime_error("boom");
        throw 42;
    }

private:
    bool m_standard;
};

} // namespace

class ReportTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { ClearOverrides(); }

    void checkResultShowsNothingForSuccess() {
        MessageBoxWatcher watcher;
        watcher.arm(0);
        CheckResult(0, QStringLiteral("InitNetWare")); // a box would be seen before this returns
        QVERIFY(watcher.boxes().empty());
    }

    void resultText_data() {
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("expected");
        QTest::newRow("four digits") << 0xFFFFu << "NWCCOpenConnByRef"
                                     << "Error FFFF: NWCCOpenConnByRef";
        QTest::newRow("two digits") << 0xFFu << "InitNetWare"
                                    << "Error   FF: InitNetWare";
        QTest::newRow("one digit") << 0x1u << "InitNetWare"
                                   << "Error    1: InitNetWare";
        QTest::newRow("five digits") << 0x12345u << "X"
                                     << "Error 12345: X";
        QTest::newRow("all 32 bits") << 0xFFFFFFFFu << "X"
                                     << "Error FFFFFFFF: X";
        QTest::newRow("percent in the operation") << 0xABCu << "%1 open"
                                                  << "Error  ABC: %1 open";
    }
    void resultText() {
        QFETCH(quint32, code);
        QFETCH(QString, operation);
        QFETCH(QString, expected);
        QCOMPARE(ResultText(code, operation), expected);
    }

    void errorBox_data() {
        QTest::addColumn<Pointer>("callerPointer");
        QTest::addColumn<MessageBoxWatcher::CloseKey>("key");
        QTest::newRow("no override, Esc") << Pointer() << MessageBoxWatcher::CloseKey::Escape;
        QTest::newRow("busy pointer, Enter")
            << Pointer(Qt::WaitCursor) << MessageBoxWatcher::CloseKey::Enter;
        QTest::newRow("busy pointer, Esc")
            << Pointer(Qt::WaitCursor) << MessageBoxWatcher::CloseKey::Escape;
    }
    void errorBox() {
        QFETCH(Pointer, callerPointer);
        QFETCH(MessageBoxWatcher::CloseKey, key);
        if (callerPointer)
            QGuiApplication::setOverrideCursor(*callerPointer);

        MessageBoxWatcher watcher;
        watcher.arm(1, key);
        CheckResult(0xFF, QStringLiteral("InitNetWare"));

        QCOMPARE(watcher.boxes().size(), 1u);
        const SeenBox& box = watcher.boxes().front();
        QCOMPARE(box.caption, QStringLiteral("Error"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.text, QStringLiteral("Error   FF: InitNetWare"));
        QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
        QCOMPARE(box.defaultButton, QStringLiteral("OK"));
        QCOMPARE(box.escapeButton, QStringLiteral("OK"));
        QVERIFY(box.closedByKey);
        QVERIFY2(CentredOnScreen(box.frame), qPrintable(QDebug::toString(box.frame)));
        QCOMPARE(box.pointer, Pointer(Qt::ArrowCursor));
        // The caller's pointer, and only it, is back: exactly as many overrides as before.
        QCOMPARE(CurrentPointer(), callerPointer);
        QCOMPARE(ClearOverrides(), callerPointer ? 1 : 0);
    }

    void plainMessageLeavesThePointerAlone() {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        MessageBoxWatcher watcher;
        watcher.arm(1, MessageBoxWatcher::CloseKey::Enter);
        ShowPlainMessage(QStringLiteral("Could not Initialize NetWare Client"));

        QCOMPARE(watcher.boxes().size(), 1u);
        const SeenBox& box = watcher.boxes().front();
        QCOMPARE(box.caption, QStringLiteral("report_tests"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(box.text, QStringLiteral("Could not Initialize NetWare Client"));
        QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
        QVERIFY(box.closedByKey);
        QVERIFY(CentredOnScreen(box.frame));
        QCOMPARE(box.pointer, Pointer(Qt::WaitCursor));
        QCOMPARE(ClearOverrides(), 1);
    }

    void applicationTitleFor_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("unix path") << "/usr/bin/ServerStats"
                                   << "Serverstats";
        QTest::newRow("windows path") << "C:\\Apps\\ZENTAVO.EXE"
                                      << "Zentavo";
        QTest::newRow("mixed separators") << "C:\\Apps/sub\\Stats.exe"
                                          << "Stats";
        QTest::newRow("first stop cuts") << "my.prog.exe"
                                         << "my";
        QTest::newRow("first character kept") << "sTATS"
                                              << "stats";
        QTest::newRow("dotted directory") << "/opt/v1.2/Monitor"
                                          << "Monitor";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("nothing before the stop") << "/home/u/.hidden"
                                                 << "";
    }
    void applicationTitleFor() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(ApplicationTitleFor(path), title);
    }

    void exceptionFromHandlerIsShownAndTheProgramGoesOn_data() {
        QTest::addColumn<bool>("standardException");
        QTest::addColumn<QString>("text");
        QTest::newRow("std::exception") << true << "boom";
        QTest::newRow("anything else") << false << "Unknown error";
    }
    void exceptionFromHandlerIsShownAndTheProgramGoesOn() {
        QFETCH(bool, standardException);
        QFETCH(QString, text);
        MessageBoxWatcher watcher;
        watcher.arm(1);
        ThrowingTicker ticker(standardException);

        QVERIFY(watcher.waitForBoxes());
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
        const int ticksAfterBox = ticker.ticks;
        QTRY_VERIFY(ticker.ticks > ticksAfterBox);

        QCOMPARE(watcher.boxes().size(), 1u);
        const SeenBox& box = watcher.boxes().front();
        QCOMPARE(box.caption, ApplicationTitle());
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.text, text);
        QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
    }
};

int main(int argc, char** argv) {
    // The application's own object, so that its error box is what is tested.
    ReportingApplication app(argc, argv);
    ReportTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ReportTest.moc"
