// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The chart taken out of the window: its points as CSV text, and the writing of
// a file that is either complete or not there at all.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

class LiveChart;
class QIODevice;

/* The points as shown, one row per point, oldest first, under a header row: the
   first column is the point's age (seconds before the newest sample; empty for a
   point not sampled yet), then one column per line, headed by its legend text. The
   first header cell names the statistic and the server (the title's lines). Cells
   are quoted where RFC 4180 asks; rows end with CR LF. */
QByteArray ChartCsv(const LiveChart& chart, std::chrono::milliseconds samplePeriod);

/* Writes through a QSaveFile, which replaces `path` only once everything is written:
   a failure leaves the file as it was (or absent). Returns empty on success, else why. */
QString WriteWhole(const QString& path, const std::function<bool(QIODevice&)>& write);
