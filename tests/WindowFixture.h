// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// What the window tests share: the window's named parts, a window on a scripted client,
// the running of a test class under the program's own application object, and a private
// current directory.

#include "ClientServices.h"
#include "LastResult.h"
#include "LiveChart.h"
#include "MessageBoxWatcher.h"
#include "ReportingApplication.h"
#include "SamplingState.h"
#include "ScriptedClient.h"
#include "ServerListBox.h"
#include "TMainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

/* The parts of a window that the tests look at, found by the names the form gives them. */
struct WindowParts {
    explicit WindowParts(TMainForm& form)
        : pages(Find<QTabWidget>(form, "PageControl1")),
          infoPage(Find<QWidget>(form, "TabSheetInfo")),
          serverPage(Find<QWidget>(form, "TabSheetServer")),
          memo(Find<QPlainTextEdit>(form, "Memo1")),
          servers(Find<ServerListBox>(form, "ServerList")),
          statistic(Find<QComboBox>(form, "ComboBox1")), peaks(Find<QCheckBox>(form, "CheckBox0")),
          glide(Find<QCheckBox>(form, "CheckBox1")), chart(Find<LiveChart>(form, "Chart1")),
          timer(Find<QTimer>(form, "Timer1")) {}

    QTabWidget* pages;
    QWidget* infoPage;
    QWidget* serverPage;
    QPlainTextEdit* memo;
    ServerListBox* servers;
    QComboBox* statistic;
    QCheckBox* peaks;
    QCheckBox* glide;
    LiveChart* chart;
    QTimer* timer;

    QString Title() const { return chart->TitleText(); }

private:
    // A missing part would make every later check crash; say which one instead.
    template <class T> static T* Find(QObject& root, const char* name) {
        T* part = root.findChild<T*>(QLatin1String(name));
        if (part == nullptr)
            qFatal("window part %s not found", name);
        return part;
    }
};

// A line that is not exactly 181 points with the given y values, described.
inline QString LineMismatch(const LiveChart& chart, ChartLine series, const History& expected) {
    const char* name = series == ChartLine::Series1 ? "Series1" : "Series2";
    if (chart.PointCount() != WindowPoints)
        return QStringLiteral("%1: %2 points").arg(QLatin1String(name)).arg(chart.PointCount());
    const auto points = chart.Points(series);
    for (std::size_t x = 0; x < points.size(); ++x) {
        if (points[x] != expected[x])
            return QStringLiteral("%1 point %2 is %3, expected %4")
                .arg(QLatin1String(name))
                .arg(x)
                .arg(points[x])
                .arg(expected[x]);
    }
    return {};
}

#define VERIFY_LINE(chart, series, expected)                                                       \
    do {                                                                                           \
        const QString problem = LineMismatch(*(chart), series, expected);                          \
        QVERIFY2(problem.isEmpty(), qPrintable(problem));                                          \
    } while (false)

/* The boxes a watcher saw, one line each: "caption [error|plain|other] text". */
inline QStringList BoxLines(const MessageBoxWatcher& watcher) {
    QStringList out;
    for (const SeenBox& box : watcher.boxes()) {
        const char* kind = box.icon == QMessageBox::Critical ? "error"
                           : box.icon == QMessageBox::NoIcon ? "plain"
                                                             : "other";
        out << QStringLiteral("%1 [%2] %3").arg(box.caption, QLatin1String(kind), box.text);
    }
    return out;
}

/* A window on its own scripted client, whose servers each test sets before Build();
   every box the window shows is closed and recorded. */
struct WindowRig {
    ScriptedClient client;
    MessageBoxWatcher watcher;
    std::unique_ptr<TMainForm> form;
    std::optional<WindowParts> parts;
    /* Whether the window had started its timer itself. */
    bool timerStarted = false;

    /* Builds the window from a fresh start; unless `ticking`, its timer is stopped so that
       only the test ticks. */
    void Build(bool ticking = false) {
        PrimaryConn = PrimaryConnUnopened;
        LastResult = 0;
        watcher.arm(0);
        form = std::make_unique<TMainForm>(client);
        parts.emplace(*form);
        timerStarted = parts->timer->isActive();
        if (!ticking)
            parts->timer->stop();
    }
    WindowParts& w() { return *parts; }
    SamplingState& s() { return form->Sampling(); }
    LiveChart* chart() { return parts->chart; }
    void Tick() { form->Timer1Timer(parts->timer); }
    void TickUtilization(std::int32_t percent) {
        client.SetUtilization(percent);
        Tick();
    }
    QStringList Boxes() const { return BoxLines(watcher); }
    /* The connection list's entries, in order. */
    QStringList Entries() const {
        QStringList out;
        for (int i = 0; i < parts->servers->Count(); ++i)
            out << parts->servers->ItemText(i);
        return out;
    }
    /* Shows the window as the active one, so that keys and focus land. */
    bool ShowActive() {
        form->show();
        QApplication::setActiveWindow(form.get());
        return QTest::qWaitForWindowActive(form.get());
    }
    /* Shows the window at its design size on the server page, so that mouse input lands. */
    bool ShowServerPage() {
        form->resize(683, 312);
        parts->pages->setCurrentWidget(parts->serverPage);
        form->show();
        return QTest::qWaitForWindowExposed(form.get());
    }
};

/* Makes a fresh empty directory the current one for its lifetime, so that what the
   window reads from the current directory ("Read.me") is what the test put there. */
class ScopedCurrentDir {
public:
    ScopedCurrentDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~ScopedCurrentDir() { QDir::setCurrent(m_previous); }
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;
    QString FilePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

/* Runs a test class under the program's application object, without a display
   unless the environment asks for one. */
#define SERVERSTATS_WINDOW_TEST_MAIN(TestClass)                                                    \
    int main(int argc, char** argv) {                                                              \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                               \
        ReportingApplication app(argc, argv);                                                      \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
