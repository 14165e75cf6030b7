// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The overview's one summary line.

#include "FleetReadings.h"

#include <QString>

/* Utilisation above this, in percent, counts as hot in the summary and in the bars. */
inline constexpr double OverviewHotPercent = 90.0;

/* E.g. "2,000 servers: 1,996 answering, 4 without data; 3 above 90 %", then the
   snapshot's problems, each after "; ". A server answers when its State is "ok". */
QString OverviewSummaryText(const FleetSnapshot& snapshot);
