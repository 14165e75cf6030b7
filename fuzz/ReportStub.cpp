// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ReportStub.h"

#include "Report.h"

int PlainMessagesShown = 0;
int ErrorBoxesShown = 0;

void ShowMessageBox(MessageKind, const QString&) {
    ++ErrorBoxesShown;
}

void CheckResult(std::uint32_t code, const QString&) {
    if (code != 0)
        ++ErrorBoxesShown;
}

void ShowPlainMessage(const QString&) {
    ++PlainMessagesShown;
}

void ShowApplicationError(const QString&) {
    ++ErrorBoxesShown;
}
