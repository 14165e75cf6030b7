#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
# How the scripts act on apt's answers, with apt, dpkg and the machine faked early on PATH:
# nothing here reads or changes the machine's packages. A fake package is installed when
# listed in $fake/installed, and installable when listed in $fake/installable.
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT

cat >"$fake/apt-get" <<'FAKE'
#!/bin/bash
dir=$(dirname "$0")
if [ "$1" = indextargets ]; then
    cat "$dir/indextargets"
    exit 0
fi
if [ "$1" = update ]; then
    echo update >>"$dir/log"
    [ -s "$dir/update-failures" ] || exit 0
    sed -i 1d "$dir/update-failures"
    echo "E: Failed to fetch http://deb.example.org/dists/x/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"
    exit 100
fi
simulate=; packages=()
for arg in "${@:2}"; do
    case $arg in -s) simulate=" -s" ;; -*) ;; *) packages+=("$arg") ;; esac
done
echo "install$simulate ${packages[*]}" >>"$dir/log"
for p in "${packages[@]}"; do
    if ! grep -qx -- "$p" "$dir/installable"; then
        echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
        exit 100
    fi
done
[ -n "$simulate" ] || printf '%s\n' "${packages[@]}" >>"$dir/installed"
FAKE
cat >"$fake/dpkg-query" <<'FAKE'
#!/bin/bash
grep -qx -- "${!#}" "$(dirname "$0")/installed" || exit 1
echo "install ok installed"
FAKE
cat >"$fake/dpkg" <<'FAKE'
#!/bin/bash
case $1 in --print-architecture) echo amd64 ;; --print-foreign-architectures) echo i386 ;; esac
FAKE
printf '#!/bin/sh\necho 0\n' >"$fake/id"
printf '#!/bin/sh\necho "sleep $*" >>"$(dirname "$0")/log"\n' >"$fake/sleep"
chmod +x "$fake"/*
export PATH=$fake:$PATH

failures=0
check() {
    if [ "$2" = "$3" ]; then echo "ok: $1"; else
        echo "FAILED: $1"$'\n'"  expected: $2"$'\n'"  got:      $3"
        failures=$((failures + 1))
    fi
}
# Runs a script; keeps its standard output in $out and its exit status in $status.
run() {
    status=0
    out=$("$@" 2>/dev/null) || status=$?
}
# The run level as install-deps lists it, taken as installed by every case.
eval "$(sed -n '/^run=(/,/^)/p' "$scripts/install-deps" | sed '1s/^run=/run_level=/')"
reset() {
    : >"$fake/log"
    : >"$fake/update-failures"
    printf '%s\n' "${@}" >"$fake/installed"
    printf '%s\n' "${run_level[@]}" >>"$fake/installed"
    echo wine >"$fake/installable"
    printf '%s\n' "bookworm/main amd64" "bookworm/main i386" >"$fake/indextargets"
}
breaks="(Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages)"

# The decision: run, skip with apt's reason, or fail.
reset wine32:i386 wine
run "$scripts/stage-needs" "windows stage: Wine runs" wine32:i386 wine
check "installed: runs" "0 " "$status $out"
reset
run "$scripts/stage-needs" "windows stage: Wine runs" wine32:i386 wine
check "not installable: skips with apt's reason" \
    "77 windows stage: Wine runs SKIPPED: wine32:i386 cannot be installed from this machine's package lists $breaks" "$status $out"
reset
echo wine32:i386 >>"$fake/installable"
run "$scripts/stage-needs" "windows stage: Wine runs" wine32:i386 wine
check "installable but not installed: fails" "1 " "$status $out"
reset
echo "bookworm-security/main amd64" >>"$fake/indextargets"
run "$scripts/stage-needs" "windows stage: Wine runs" wine32:i386 wine
check "a suite without its i386 list: named" \
    "77 ${breaks%)}; apt has no i386 package list of bookworm-security/main)" "$status ${out#*lists }"

# The Windows stage's Wine set: the lists tried twice, 20 s apart; wine not installed
# without wine32; the skip line.
reset
echo 1 >"$fake/update-failures"
run "$scripts/install-deps-windows" wine
check "Wine cannot be installed: one line, exit 77" \
    "77 windows stage: Wine runs SKIPPED: wine32:i386 cannot be installed from this machine's package lists $breaks" \
    "$status $(tail -n 1 <<<"$out")"
check "a failed index: a second update after 20 s, then the install" \
    "update|sleep 20|update|install wine32:i386|install -s wine32:i386" "$(paste -sd '|' "$fake/log")"
check "wine left alone without wine32" "" "$(grep -x wine "$fake/installed" || true)"

# One package that cannot be had: the others are installed one by one, it is named.
reset
echo good-tool >>"$fake/installable"
status=0
err=$("$scripts/install-deps" run good-tool wine32:i386 2>&1 >/dev/null) || status=$?
check "install one by one: the failed one named" \
    "1 Could not install: wine32:i386; the stages that need them say so" "$status $(tail -n 1 <<<"$err")"
check "install one by one: the others installed" "good-tool" "$(grep -x good-tool "$fake/installed")"
check "an update that succeeds is not repeated" "update|install good-tool wine32:i386|install good-tool|install wine32:i386" \
    "$(paste -sd '|' "$fake/log")"

[ "$failures" -eq 0 ] || exit 1
