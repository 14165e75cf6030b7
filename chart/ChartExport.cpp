// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ChartExport.h"

#include "LiveChart.h"

#include <QSaveFile>
#include <QStringList>

namespace {

QString Cell(const QString& text) {
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

QByteArray ChartCsv(const LiveChart& chart, std::chrono::milliseconds samplePeriod) {
    // The title is the statistic, then the server. The names stand after fixed text, so
    // that a spreadsheet never takes a server's name for a formula.
    const QString title = chart.TitleText().replace(u'\n', QStringLiteral(", "));
    QString text = QStringList{Cell(QStringLiteral("Seconds ago (%1)").arg(title)),
                               Cell(chart.SeriesTitle(ChartLine::Series1)),
                               Cell(chart.SeriesTitle(ChartLine::Series2))}
                       .join(u',') +
                   QStringLiteral("\r\n");

    const auto first = chart.Points(ChartLine::Series1);
    const auto second = chart.Points(ChartLine::Series2);
    const int newest = chart.NewestIndex();
    const double seconds = std::chrono::duration<double>(samplePeriod).count();
    for (int i = 0; i < chart.PointCount(); ++i) {
        const QString age = i <= newest ? QString::number((newest - i) * seconds) : QString();
        text += QStringLiteral("%1,%2,%3\r\n")
                    .arg(age)
                    .arg(first[std::size_t(i)])
                    .arg(second[std::size_t(i)]);
    }
    return text.toUtf8();
}

QString WriteWhole(const QString& path, const std::function<bool(QIODevice&)>& write) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (!write(file)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason.isEmpty() || reason == QLatin1String("Unknown error")
                   ? QStringLiteral("writing failed")
                   : reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}
