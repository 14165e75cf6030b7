# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Where the scripts click in the monitor's window: the window's own pixels at density 1,
# read off the form at its design size. Sourced.
declare -A WINDOW_POINT=(
    [server-tab]="120 12"   # the second tab, on the tab bar's row
    [overview-tab]="248 12" # the third tab
    [second-entry]="30 241" # the second entry of the connection list
    [statistic]="277 41"    # the statistics selector above the chart
    [plot]="300 120"        # inside the plot, clear of the axes
)
# point NAME [DENSITY]: the point's x and y at that density (default 1).
point() {
    local xy
    read -r -a xy <<<"${WINDOW_POINT[$1]}"
    echo "$((xy[0] * ${2:-1})) $((xy[1] * ${2:-1}))"
}
# click WINDOW NAME [DENSITY]: a left click on the named point of the window.
click() {
    # shellcheck disable=SC2046  # x and y are two words
    xdotool mousemove --window "$1" $(point "$2" "${3:-1}") click 1
}
