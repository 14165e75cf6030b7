// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The real program on this machine: it starts and keeps running without a display,
// and a window on this machine's client charts its real CPU utilisation.

#include "ClientServices.h"
#include "LastResult.h"
#include "MessageBoxWatcher.h"
#include "WindowFixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void programKeepsRunning() {
        const ScopedCurrentDir dir;
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(QDir::currentPath());
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QStringLiteral(SERVERSTATS_PROGRAM), {});
        QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));

        const bool ended = program.waitForFinished(3000);
        QVERIFY2(!ended, qPrintable(QStringLiteral("ended with %1").arg(program.exitCode())));
        QCOMPARE(program.state(), QProcess::Running);
        program.kill();
        QVERIFY(program.waitForFinished(10000));
    }

    void chartFollowsThisMachine() {
        const ScopedCurrentDir dir;
        QFile hostnameFile(QStringLiteral("/proc/sys/kernel/hostname"));
        if (!hostnameFile.open(QIODevice::ReadOnly))
            QSKIP("no host name to compare with");
        const QString hostname = QString::fromLocal8Bit(hostnameFile.readAll()).trimmed();

        MessageBoxWatcher watcher;
        watcher.arm(0);
        PrimaryConn = PrimaryConnUnopened;
        TMainForm form(PlatformClient());
        WindowParts w(form);
        w.timer->stop();
        QCOMPARE(w.servers->Count(), 1);
        QCOMPARE(w.servers->ItemText(0), hostname);
        QCOMPARE(w.Title(), QStringLiteral("Server Utilization\n") + hostname);

        // Keep one core busy between the ticks, so that each interval has CPU time to show.
        for (int tick = 0; tick < 3; ++tick) {
            const QDeadlineTimer busy(300);
            volatile unsigned spin = 0;
            while (!busy.hasExpired())
                spin = spin + 1;
            form.Timer1Timer(w.timer);
            QCOMPARE(LastResult, 0);
        }

        const SamplingState& sampling = form.Sampling();
        QCOMPARE(sampling.SampleCount, 3);
        QVERIFY(!sampling.Stopped);
        QCOMPARE(w.chart->PointCount(), WindowPoints);
        const auto points = w.chart->Points(ChartLine::Series1);
        for (std::size_t x = 0; x < 3; ++x) {
            QCOMPARE(points[x], sampling.PeakHistory[x]);
            QVERIFY2(points[x] > 0 && points[x] <= 100,
                     qPrintable(QStringLiteral("utilisation %1").arg(points[x])));
        }
        QCOMPARE(watcher.boxes().size(), std::size_t(0));
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(EndToEndTest)

#include "EndToEndTest.moc"
