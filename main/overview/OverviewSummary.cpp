// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "OverviewSummary.h"

#include <QLocale>

QString OverviewSummaryText(const FleetSnapshot& snapshot) {
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    qsizetype answering = 0;
    qsizetype hot = 0;
    for (const FleetRow& row : snapshot.rows) {
        answering += row.state == "ok" ? 1 : 0;
        hot += row.utilisation && *row.utilisation > OverviewHotPercent ? 1 : 0;
    }
    const qsizetype total = qsizetype(snapshot.rows.size());
    QString text = QStringLiteral("%1 %2: %3 answering, %4 without data; %5 above %6 %")
                       .arg(english.toString(total), total == 1 ? QStringLiteral("server")
                                                                : QStringLiteral("servers"),
                            english.toString(answering), english.toString(total - answering),
                            english.toString(hot), english.toString(OverviewHotPercent));
    for (const std::string& problem : snapshot.problems)
        text += QStringLiteral("; ") + QString::fromStdString(problem);
    return text;
}
