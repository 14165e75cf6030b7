// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The program: one window that lists the servers this workstation is connected
// to and charts the statistics of the one the user picks.

#include "ClientFleet.h"
#include "ClientLibrary.h"
#include "DisplayCheck.h"
#ifndef _WIN32
#include "ConnectionTable.h"
#endif
#include "ReportingApplication.h"
#include "TMainForm.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <string>

namespace {

enum class Answer { Run, Done, Wrong };

// What the program is, where its one input besides the window lies, and where the rest is told.
QString Description() {
    QString text = QStringLiteral(
        "Live statistics monitor for file servers: one window that lists the servers this\n"
        "workstation is connected to and charts, once a second, the statistics of the one\n"
        "picked. The window itself takes no options or arguments.\n");
#ifndef _WIN32
    const std::string table = ConnectionTablePath();
    text += QStringLiteral(
                "\nThe servers are this machine and those of the client's connection table,\n"
                "read at start-up (one Prometheus node exporter a line, or a Prometheus server\n"
                "with discover=JOB) from $XDG_CONFIG_HOME/serverstats/connections, else\n"
                "~/.config/serverstats/connections:\n  %1\n")
                .arg(table.empty() ? QStringLiteral("(none: no home folder)")
                                   : QString::fromStdString(table));
    text += QStringLiteral("\nThe table's lines, the error codes and what they mean: "
                           "man ServerStats");
#endif
    return text;
}

// --help and --version answered, or a wrong argument refused, before the display is
// needed: packagers and scripts ask these where there is none.
Answer AnswerCommandLine(int argc, char** argv) {
    const QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(SERVERSTATS_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(Description());
    // "-platform" is one unknown option, not eight.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOptions({help, version});

    const QString program = QFileInfo(QCoreApplication::arguments().value(0)).fileName();
    QString wrong;
    if (!parser.parse(QCoreApplication::arguments()))
        wrong = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        wrong =
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
    if (!wrong.isEmpty()) {
        std::fprintf(stderr, "%s: %s Try '%s --help'.\n", qPrintable(program),
                     qPrintable(wrong.section(u'\n', 0, 0)), qPrintable(program));
        return Answer::Wrong;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return Answer::Done;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(program), SERVERSTATS_VERSION);
        return Answer::Done;
    }
    return Answer::Run;
}

} // namespace

int main(int argc, char** argv) {
    switch (AnswerCommandLine(argc, argv)) {
    case Answer::Done:
        return 0;
    case Answer::Wrong:
        return 2;
    case Answer::Run:
        break;
    }

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Without a display Qt would abort with a core dump; a plain mistake deserves a plain line.
    if (const auto reason = NoDisplayReason(DisplayEnvironment::Current())) {
        std::fprintf(stderr,
                     "%s: no display to show the window on (%s); to run it on a virtual display: "
                     "xvfb-run -a %s\n",
                     argv[0], reason->c_str(), argv[0]);
        return 1;
    }
#endif

    // The window takes no command line; only the program's name reaches the toolkit.
    argc = 1;
    // Wayland compositors match the window to its desktop entry, and with it the menu's icon:
    // the application's ID, which also names its software-centre metadata.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.serverstats"));
    ReportingApplication app(argc, argv);
    // Taskbars and window switchers take the icon from the window itself (_NET_WM_ICON on X11).
    QIcon icon(QStringLiteral(":/ServerStats.svg"));
    for (const char* size : {"16", "32", "48", "64"})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(QLatin1StringView(size)));
    QApplication::setWindowIcon(icon);

    TMainForm MainForm(PlatformClient());
    MainForm.SetFleet(PlatformFleet(PlatformClient(), MainForm.ListedServers()));
    MainForm.show(); // centred on the screen as it appears
    return app.exec();
}
