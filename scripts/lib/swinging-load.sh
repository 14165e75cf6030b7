# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced. start_swinging_load: one core busy for a few seconds now and then, until the
# shell exits, so that a chart's lines move as on a working server.
start_swinging_load() {
    (
        while :; do
            timeout "$((1 + RANDOM % 3))" sh -c 'while :; do :; done' || true
            sleep "$((RANDOM % 3))"
        done
    ) &
    on_exit "pkill -P $! 2>/dev/null; kill $! 2>/dev/null"
}
