// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// What a screen reader hears of the chart: its title as the name, and the lines'
// newest values with the shown range as the description. The texts are built
// only when an assistive tool asks for them, so without one they cost nothing.
// Its actions are the chart's context menu, which it can open, and the menu's entries.

class LiveChart;

/* Registers the chart's accessible interface with Qt; safe to call more than once. */
void InstallChartAccessibility();

/* Tells assistive tools, if any listen, that the chart's name has changed. */
void NotifyChartNameChanged(LiveChart* chart);
/* The same for its description, where it says more than the newest values (a notice). */
void NotifyChartDescriptionChanged(LiveChart* chart);
