// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Where the window opens, and its Info page: the text of "Read.me" in every encoding
// it may come in, and never a wait on a named pipe.

#include "ReadMeText.h"
#include "TwoServerWindow.h"

#include <QFile>
#include <QScreen>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

class WindowInfoTest : public QObject {
    Q_OBJECT

    // No stray "Read.me" from the build directory reaches the windows.
    std::optional<ScopedCurrentDir> m_dir;

private slots:
    void initTestCase() { m_dir.emplace(); }
    void cleanupTestCase() { m_dir.reset(); }

    // The frame, not just the client area, sits in the middle of the screen's free area.
    void frameCentredOnScreen() {
        Rig rig;
        rig.Build();
        rig.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        const QRect frame = rig.form->frameGeometry();
        if (frame == rig.form->geometry())
            QSKIP("this platform gives windows no frame");
        QCOMPARE(frame.center(), rig.form->screen()->availableGeometry().center());
    }

    void readMeText_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << "none" << QByteArray() << QString();
        QTest::newRow("empty") << "file" << QByteArray() << QString();
        QTest::newRow("CR only") << "file" << QByteArray("one\rtwo\r\rfour") << "one\ntwo\n\nfour";
        QTest::newRow("CR LF, final break") << "file" << QByteArray("one\r\ntwo\r\n") << "one\ntwo";
        QTest::newRow("mixed, blank last line")
            << "file" << QByteArray("a\r\n\rb\nc\n\n") << "a\n\nb\nc\n";
        QTest::newRow("NUL bytes")
            << "file" << QByteArray("x\0y\0", 4) << QStringLiteral("x\uFFFDy\uFFFD");
        QTest::newRow("8-bit text") << "file" << QByteArray("caf\xC3\xA9") << "caf\u00E9";
        QTest::newRow("exactly the limit")
            << "file" << QByteArray(MaxReadMeBytes, 'a') << QString(MaxReadMeBytes, u'a');
        QTest::newRow("over the limit")
            << "file" << QByteArray(MaxReadMeBytes + 1, 'a') << QString();
        QTest::newRow("directory") << "dir" << QByteArray() << QString();
    }
    void readMeText() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const ScopedCurrentDir dir;
        const QString path = QStringLiteral("Read.me");
        if (kind == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(bytes), bytes.size());
        } else if (kind == "dir") {
            QVERIFY(QDir().mkdir(path));
        }
        QCOMPARE(ReadMeText(path), text);
    }

    void readMeIsNamedPipe() {
        const ScopedCurrentDir dir;
        const QByteArray path = QFile::encodeName(dir.FilePath(QStringLiteral("Read.me")));
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        // Opening a pipe waits for a writer for ever: play the writer that would release
        // such a reader, and fail if one needed releasing.
        std::atomic<bool> released{false};
        std::jthread writer([&](std::stop_token stop) {
            while (!stop.stop_requested()) {
                if (const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK); fd >= 0) {
                    ::close(fd);
                    released = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        const QString text = ReadMeText(QStringLiteral("Read.me"));
        writer.request_stop();
        writer.join();
        QVERIFY2(!released, "the named pipe was opened");
        QCOMPARE(text, QString());
    }

    void infoPageShowsReadMe() {
        const struct {
            QByteArray bytes;
            QString text;
        } cases[] = {
            {QByteArray("Line 1\r\nLine 2\rx\0y\n", 19),
             QStringLiteral("Line 1\nLine 2\nx\uFFFDy")},
            {QByteArray(MaxReadMeBytes + 1, '\0'), QString()},
        };
        for (const auto& c : cases) {
            const ScopedCurrentDir dir;
            QFile file(QStringLiteral("Read.me"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(c.bytes) == c.bytes.size());
            file.close();
            Rig rig;
            rig.Build();
            QCOMPARE(rig.w().memo->toPlainText(), c.text);
            QCOMPARE(rig.Boxes(), QStringList{});
        }
    }
};

SERVERSTATS_WINDOW_TEST_MAIN(WindowInfoTest)

#include "WindowInfoTest.moc"
