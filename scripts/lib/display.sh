# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by every script and test that needs a virtual display: the one way to start it.
#   start_display [WIDTHxHEIGHTxDEPTH]
#       starts Xvfb on a display number the server picks itself (-displayfd, so never one
#       already in use), waits until it answers, exports DISPLAY and XVFB_PID, and stops it
#       when the shell exits.
#   on_exit COMMAND
#       runs COMMAND when the shell exits, before what was registered earlier: a script's own
#       clean-up registered after start_display runs while the display is still there.

_on_exit=()
on_exit() {
    _on_exit+=("$1")
    trap _run_on_exit EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}
_run_on_exit() {
    local i
    for ((i = ${#_on_exit[@]} - 1; i >= 0; i--)); do eval "${_on_exit[i]}" || true; done
}

start_display() {
    local numberfile
    numberfile=$(mktemp)
    # -noreset: the server outlives its last client, so the next program is not refused.
    Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "${1:-1024x768x24}" \
        3>"$numberfile" >/dev/null 2>&1 &
    XVFB_PID=$!
    on_exit "kill $XVFB_PID 2>/dev/null; wait $XVFB_PID 2>/dev/null; rm -f '$numberfile'"
    # Generous waits: on a busy machine a server may take seconds to come up.
    for _ in $(seq 300); do [ -s "$numberfile" ] && break; sleep 0.1; done
    [ -s "$numberfile" ] || { echo "Xvfb did not start" >&2; return 1; }
    DISPLAY=:$(tr -d '[:space:]' <"$numberfile")
    export DISPLAY XVFB_PID
    for _ in $(seq 300); do xdotool getmouselocation >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "Xvfb on $DISPLAY does not answer" >&2
    return 1
}
# Not in a subshell ($(...)): on_exit there would run the whole list when the subshell ends.
