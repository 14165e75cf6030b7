// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The application object: an exception that escapes an event handler ends
// that handler and is shown in the application's error box; the program goes on.

#include <QApplication>

class ReportingApplication : public QApplication {
public:
    ReportingApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
