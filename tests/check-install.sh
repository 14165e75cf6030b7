#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
# Checks an installed monitor in a throw-away root: exactly the expected files under
# the prefix and nothing elsewhere, a valid desktop entry whose program and icon are
# the installed ones, and a program that starts and runs.
#   check-install.sh tree <build dir>            cmake --install with DESTDIR and another prefix
#   check-install.sh deb <package.deb> <version> dpkg -x of the package, and its control fields
# Exits 77 (skipped) after all other checks when desktop-file-validate is missing.
set -euo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
fail() { echo "FAIL: $*" >&2; exit 1; }

case "$1" in
tree)
    prefix=/opt/serverstats
    DESTDIR=$root "${CMAKE:-cmake}" --install "$2" --prefix "$prefix" >/dev/null ;;
deb)
    prefix=/usr deb=$2 version=$3
    dpkg -x "$deb" "$root"
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = serverstats ] || fail "package name: $(field Package)"
    [ "$(field Version)" = "$version" ] || fail "version $(field Version), not $version"
    for name in Maintainer Description; do
        [ -n "$(field "$name")" ] || fail "no $name field"
    done
    # Worked out by dpkg-shlibdeps from the program's libraries, not written by hand.
    depends=", $(field Depends | sed 's/ ([^)]*)//g'),"
    for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6; do
        [[ "$depends" == *", $lib,"* ]] || fail "Depends lacks $lib: $(field Depends)"
    done
    latest=$(gzip -dc "$root/usr/share/doc/serverstats/changelog.gz" | sed -n '1s/^serverstats (\(.*\)).*/\1/p')
    [ "$latest" = "$version" ] || fail "the changelog's latest entry is $latest, not $version"
    # Every protection must show, but two that hardening-check cannot see on Debian 12:
    # control-flow marking, which the linker drops because glibc's start files lack it, and
    # fortified calls, of which the program has none (see packaging/lintian-overrides).
    # Stack clash protection shows only in frames larger than a page, and passes as unknown.
    hardening-check --nocfprotection --nofortify "$root/usr/bin/ServerStats" ||
        fail "the program lacks a protection" ;;
*)
    fail "usage: $0 tree <build dir> | deb <package.deb> <version>" ;;
esac

icons=share/icons/hicolor
expected=(bin/ServerStats share/applications/ServerStats.desktop
          share/doc/serverstats/Read.me share/doc/serverstats/changelog.gz
          share/doc/serverstats/copyright share/man/man1/ServerStats.1.gz
          share/lintian/overrides/serverstats
          "$icons/scalable/apps/ServerStats.svg")
for size in 16 32 48 64 128 256; do expected+=("$icons/${size}x${size}/apps/ServerStats.png"); done
diff -u <(printf "${prefix#/}/%s\n" "${expected[@]}" | sort) \
        <(cd "$root" && find . ! -type d | sed 's|^\./||' | sort) || fail "installed files differ"

top=$root$prefix
entry=$top/share/applications/ServerStats.desktop
value() { sed -n "s/^$1=//p" "$entry"; }
[ "$(value Exec)" = ServerStats ] || fail "the entry starts '$(value Exec)', not the installed program"
[ -x "$top/bin/ServerStats" ] || fail "the program is not executable"
[ "$(value Icon)" = ServerStats ] || fail "the entry shows the icon '$(value Icon)'"
[ -n "$(value Name)" ] && [ -n "$(value Comment)" ] || fail "the entry has no Name or no Comment"

# Started in an empty folder, as from a menu in a new home: it must keep running,
# without a Read.me, until stopped, and leave the folder as it found it.
mkdir "$work/cwd"
status=0
(cd "$work/cwd" && QT_QPA_PLATFORM=offscreen timeout 1 "$top/bin/ServerStats") || status=$?
[ "$status" -eq 124 ] || fail "the installed program ended with status $status within a second"
[ -z "$(ls -A "$work/cwd")" ] || fail "the program wrote into its working folder: $(ls -A "$work/cwd")"

if ! command -v desktop-file-validate >/dev/null; then
    echo "desktop-file-validate is missing (Debian: desktop-file-utils): entry not validated"
    exit 77
fi
# It prints nothing for a valid entry; any hint or warning fails too.
report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
echo "installed tree under $prefix: ${#expected[@]} files as expected, desktop entry valid"
