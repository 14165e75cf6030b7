// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ReportingApplication.h"

#include "Report.h"

#include <exception>

ReportingApplication::ReportingApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool ReportingApplication::notify(QObject* receiver, QEvent* event) {
    // The one place where an exception from any handler is caught: the handler
    // has ended, the user is told, and the event loop goes on.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowApplicationError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowApplicationError(QStringLiteral("Unknown error"));
    }
    return false;
}
