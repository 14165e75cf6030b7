// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The window of the window tests: two servers on a scripted client, the first the
// primary connection, and what those tests read off it.

#include "Report.h"
#include "WindowFixture.h"

#include <optional>

inline constexpr ConnRef AlphaRef = 11;
inline constexpr ConnRef BetaRef = 22;
// Markup and an accelerator sign: both must be shown as they are.
inline const QString BetaName = QStringLiteral("R&D <2>");
inline constexpr ConnectionHandle PrimaryHandle = ScriptedClient::FirstHandle;
inline constexpr ConnectionHandle FirstOpen = PrimaryHandle + 1;

inline const QString UtilizationTitle = QStringLiteral("Server Utilization");
inline const QString CachingTitle = QStringLiteral("Server Caching Stats");

inline QString ErrorBox(const QString& text) {
    return QStringLiteral("Error [error] ") + text;
}
inline QString PlainBox(const QString& text) {
    return ApplicationTitle() + QStringLiteral(" [plain] ") + text;
}

inline QString ChartTitle(const QString& statistic, const std::optional<QString>& server) {
    return server ? statistic + u'\n' + *server : statistic;
}

// Two servers, the first the primary connection.
struct Rig : WindowRig {
    Rig() {
        client.connections = {{AlphaRef, "ALPHA"}, {BetaRef, BetaName.toStdString()}};
        client.primary = AlphaRef;
        // A failed open that scribbles on its out-handle must still not count as opened.
        client.handleLeftByFailedOpen = 0x42;
    }
};
