#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
# Checks an installed monitor in a throw-away root: exactly the expected files under
# the prefix and nothing elsewhere, a valid desktop entry whose program and icon are
# the installed ones and that starts it beside its own Read.me, valid software-centre
# metadata of the same name and the program's version, a clean manual page, --help and
# --version answered without a display, and a program that starts and runs, or says in
# one line that it has no display.
#   check-install.sh tree <build dir>            cmake --install with DESTDIR and another prefix
#   check-install.sh deb <package.deb> <version> dpkg -x of the package, and its control fields
# Exits 77 (skipped) after all other checks when a validator (desktop-file-validate,
# appstreamcli) or the tools for
# a virtual display (Xvfb, xdotool, xprop, xwd, ImageMagick's convert) are missing.
set -euo pipefail

source=$(cd "$(dirname "$0")/.." && pwd)
source "$source/scripts/lib/display.sh"
work=$(mktemp -d)
on_exit "rm -rf '$work'"
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
    # Every protection must show, but the control-flow marking, which the linker drops on
    # Debian 12 because glibc's start files lack it (scripts/test checks the compiles instead).
    # Stack clash protection shows only in frames larger than a page, and passes as unknown.
    hardening-check --nocfprotection "$root/usr/bin/ServerStats" ||
        fail "the program lacks a protection" ;;
*)
    fail "usage: $0 tree <build dir> | deb <package.deb> <version>" ;;
esac

icons=share/icons/hicolor
id=org.example.serverstats
expected=(bin/ServerStats share/applications/$id.desktop share/metainfo/$id.metainfo.xml
          share/doc/serverstats/Read.me share/doc/serverstats/changelog.gz
          share/doc/serverstats/copyright share/man/man1/ServerStats.1.gz
          share/serverstats/Read.me
          "$icons/scalable/apps/ServerStats.svg")
for size in 16 32 48 64 128 256; do expected+=("$icons/${size}x${size}/apps/ServerStats.png"); done
diff -u <(printf "${prefix#/}/%s\n" "${expected[@]}" | sort) \
        <(cd "$root" && find . ! -type d | sed 's|^\./||' | sort) || fail "installed files differ"

top=$root$prefix
entry=$top/share/applications/$id.desktop
metainfo=$top/share/metainfo/$id.metainfo.xml
value() { sed -n "s/^$1=//p" "$entry"; }
[ "$(value Exec)" = ServerStats ] || fail "the entry starts '$(value Exec)', not the installed program"
[ -x "$top/bin/ServerStats" ] || fail "the program is not executable"
[ "$(value Icon)" = ServerStats ] || fail "the entry shows the icon '$(value Icon)'"
[ -n "$(value Name)" ] && [ -n "$(value Comment)" ] || fail "the entry has no Name or no Comment"
# A menu starts the program beside its own text, which the Info page shows.
[ "$(value Path)" = "$prefix/share/serverstats" ] || fail "the entry starts in '$(value Path)'"
cmp -s "$source/Read.me" "$top/share/serverstats/Read.me" || fail "the installed Read.me is not the program's"

warnings=$(gzip -dc "$top/share/man/man1/ServerStats.1.gz" | groff -man -ww -z 2>&1) || fail "groff failed: $warnings"
[ -z "$warnings" ] || fail "the manual page has warnings: $warnings"

# --version and --help need no display: standard output and status 0; anything else is
# refused in one line on standard error with status 2, before a display is looked for.
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$top/bin/ServerStats")
said=$("${nodisplay[@]}" --version 2>"$work/err") || fail "--version ended with status $?"
[[ "$said" =~ ^ServerStats\ [0-9.]+$ ]] && [ ! -s "$work/err" ] || fail "--version said: $said $(cat "$work/err")"
program_version=${said#ServerStats }
[ -z "${version:-}" ] || [ "$program_version" = "$version" ] || fail "the program is version $program_version, the package $version"
help=$("${nodisplay[@]}" --help 2>"$work/err") || fail "--help ended with status $?"
[[ "$help" == "Usage: "*"--version"*"takes no options"* ]] || [[ "$help" == "Usage: "*"takes no options"*"--version"* ]] ||
    fail "--help said: $help"
[ ! -s "$work/err" ] || fail "--help wrote to standard error: $(cat "$work/err")"
help=$(env XDG_CONFIG_HOME=/srv/conf "${nodisplay[@]}" --help)
[[ "$help" == *" /srv/conf/serverstats/connections"*"man ServerStats"* ]] ||
    fail "--help names not the connection table's place and the manual page: $help"
for wrong in --bogus -platform extra; do
    status=0
    said=$("${nodisplay[@]}" "$wrong" 2>&1 >/dev/null) || status=$?
    [ "$status" -eq 2 ] && [ "$(wc -l <<<"$said")" -eq 1 ] && [[ "$said" == *"--help"* ]] ||
        fail "'$wrong' ended with status $status: $said"
done

# Without a display: one line naming the command for a virtual one, status 1, no abort.
status=0
said=$(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$top/bin/ServerStats" 2>&1) || status=$?
[ "$status" -eq 1 ] || fail "without a display the program ended with status $status: $said"
[ "$(wc -l <<<"$said")" -eq 1 ] && [[ "$said" == *"xvfb-run -a "*ServerStats ]] ||
    fail "without a display the program said: $said"

# Started in an empty folder, as from a menu in a new home: it must keep running,
# without a Read.me, until stopped, and leave the folder as it found it.
mkdir "$work/cwd"
status=0
(cd "$work/cwd" && QT_QPA_PLATFORM=offscreen timeout 1 "$top/bin/ServerStats") || status=$?
[ "$status" -eq 124 ] || fail "the installed program ended with status $status within a second"
[ -z "$(ls -A "$work/cwd")" ] || fail "the program wrote into its working folder: $(ls -A "$work/cwd")"

# On a virtual display, as a desktop shows it: the window carries its icon for taskbars
# (_NET_WM_ICON), and started in the entry's Path= its Info page shows the text.
missing=""
for tool in Xvfb xdotool xprop xwd convert; do command -v "$tool" >/dev/null || missing+=" $tool"; done
if [ -n "$missing" ]; then
    echo "missing for a virtual display:$missing (Debian: xvfb xdotool x11-utils x11-apps imagemagick): window not checked"
    exit 77
fi
start_display
# Starts the installed program in folder $1 and prints the share of dark pixels in its
# window, once two looks agree (a busy machine paints late); with $2, also the window's
# icon property into that file.
ink() {
    (cd "$1" && exec env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$top/bin/ServerStats" 2>/dev/null) &
    local pid=$! window share previous=-1
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" | head -n 1) ||
        fail "no window of the installed program appeared"
    for _ in $(seq 30); do
        sleep 0.3
        share=$(xwd -silent -id "$window" | convert xwd: -colorspace Gray -threshold 50% -format '%[fx:1-mean]' info:)
        awk -v a="$share" -v b="$previous" 'BEGIN { exit !(a - b < 0.001 && b - a < 0.001) }' && break
        previous=$share
    done
    [ -z "${2:-}" ] || xprop -id "$window" _NET_WM_ICON >"$2"
    echo "$share"
    kill "$pid"
    wait "$pid" || true
}
empty=$(ink "$work/cwd")
text=$(ink "$top/share/serverstats" "$work/icon")
awk -v text="$text" -v empty="$empty" 'BEGIN { exit !(text > empty + 0.01) }' ||
    fail "started in $prefix/share/serverstats, the Info page shows no text (ink $text, empty folder $empty)"
for size in 16 32 48 64; do
    grep -q "Icon ($size x $size)" "$work/icon" || fail "the window has no ${size}-pixel icon: $(head -c 200 "$work/icon")"
done

if ! command -v desktop-file-validate >/dev/null || ! command -v appstreamcli >/dev/null; then
    echo "desktop-file-validate or appstreamcli is missing (Debian: desktop-file-utils, appstream): not validated"
    exit 77
fi
# It prints nothing for a valid entry; any hint or warning fails too.
report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
# Not even a pedantic remark, for the file and for the tree (where the entry it launches
# must lie beside it); its release is the program's version.
for validate in "validate $metainfo" "validate-tree $top"; do
    report=$(appstreamcli $validate --no-net --pedantic --no-color 2>&1) || fail "appstreamcli $validate: $report"
    [ "$report" = "✔ Validation was successful." ] || fail "appstreamcli $validate: $report"
done
grep -q "<release version=\"$program_version\"" "$metainfo" || fail "the metadata's release is not $program_version"
echo "installed tree under $prefix: ${#expected[@]} files as expected, desktop entry and metadata valid"
