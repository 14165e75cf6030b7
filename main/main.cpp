// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The program: one window that lists the servers this workstation is connected
// to and charts the statistics of the one the user picks.

#include "ClientLibrary.h"
#include "ReportingApplication.h"
#include "TMainForm.h"

int main(int, char** argv) {
    // The program takes no command line; only its own name reaches the toolkit.
    int argc = 1;
    ReportingApplication app(argc, argv);

    TMainForm MainForm(PlatformClient());
    MainForm.show(); // centred on the screen as it appears
    return app.exec();
}
