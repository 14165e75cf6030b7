// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The program: one window that lists the servers this workstation is connected
// to and charts the statistics of the one the user picks.

#include "ClientLibrary.h"
#include "DisplayCheck.h"
#include "ReportingApplication.h"
#include "TMainForm.h"

#include <QIcon>

#include <cstdio>

int main(int, char** argv) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Without a display Qt would abort with a core dump; a plain mistake deserves a plain line.
    if (const auto reason = NoDisplayReason(DisplayEnvironment::Current())) {
        std::fprintf(stderr, "%s: no display to show the window on (%s); to run it on a virtual display: xvfb-run -a %s\n",
                     argv[0], reason->c_str(), argv[0]);
        return 1;
    }
#endif

    // The program takes no command line; only its own name reaches the toolkit.
    int argc = 1;
    // Wayland compositors match the window to its desktop entry, and with it the menu's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("ServerStats"));
    ReportingApplication app(argc, argv);
    // Taskbars and window switchers take the icon from the window itself (_NET_WM_ICON on X11).
    QIcon icon(QStringLiteral(":/ServerStats.svg"));
    for (const char* size : {"16", "32", "48", "64"})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(QLatin1StringView(size)));
    QApplication::setWindowIcon(icon);

    TMainForm MainForm(PlatformClient());
    MainForm.show(); // centred on the screen as it appears
    return app.exec();
}
