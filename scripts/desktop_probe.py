#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
"""Measures one desktop program on an X display, for scripts/bench-desktop.

  desktop_probe.py measure --label L --match '--name REGEX' --seconds S --out FILE [...] -- CMD ARGS...
      Starts CMD, times it to its first visible window, runs --after-map (a
      bash snippet that sees the window as $WID), waits --settle seconds, then
      measures until S seconds after the start: the CPU share of one core of
      the process that owns the window (utime+stime from /proc/PID/stat), its
      peak resident memory (VmHWM), the X server's CPU share over the same
      interval and that of every other process the program brought up (dbus,
      accessibility and settings daemons). Appends one tab-separated row to
      FILE, takes a screenshot, and ends everything it started.
  desktop_probe.py measure --warmup ...
      Only starts CMD, waits for its window and ends it: fills the file cache
      so that every program's start-up is timed warm.
  desktop_probe.py table FILE
      Prints the rows of FILE as markdown, with the ratios ours/peer.

Standard library only. This process makes itself a child subreaper, so that
daemons the program double-forks are re-parented here rather than to init:
they can then be measured, ended by their process id and reaped.
"""

import argparse
import ctypes
import os
import platform
import re
import shlex
import signal
import subprocess
import sys
import time
from datetime import datetime, timezone

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
PR_SET_CHILD_SUBREAPER = 36
POLL_SECONDS = 0.01
FIELDS = [
    "label", "startup_ms", "cpu_pct", "cpu_ns_pct", "hwm_kb", "rss_kb", "xvfb_pct",
    "helpers_pct", "helpers", "measured_s", "pid", "comm", "shot", "note",
]


def read_stat(pid):
    """(comm, ppid, utime+stime in ticks) of a process, or None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            data = f.read().decode("utf-8", "replace")
    except OSError:
        return None
    # comm may hold spaces and parentheses: the fields start after the last ')'.
    comm = data[data.index("(") + 1 : data.rindex(")")]
    rest = data[data.rindex(")") + 2 :].split()
    return comm, int(rest[1]), int(rest[11]) + int(rest[12])


def read_schedstat_ns(pid):
    """Nanoseconds on CPU summed over the threads a process has now."""
    total = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return None
    for tid in tasks:
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total


def read_status_kb(pid, key):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def descendants(root):
    """Process ids below root, from the parent links of every process."""
    children = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            st = read_stat(int(name))
            if st:
                children.setdefault(st[1], []).append(int(name))
    found, todo = [], [root]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def end_all(exclude=()):
    """Ends every process below this one, each by its id: TERM, then KILL."""
    me = os.getpid()
    pids = [p for p in descendants(me) if p not in exclude]
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + 3
    while time.monotonic() < deadline:
        reap()
        pids = [p for p in descendants(me) if p not in exclude]
        if not pids:
            return
        time.sleep(0.05)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    time.sleep(0.1)
    reap()


def program_name(pid):
    """The file name the process runs, which unlike comm is not cut at 15 bytes."""
    try:
        return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    except OSError:
        return None


def find_window(match):
    """Id of the first visible window that `xdotool search` finds, or None."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", *match],
                         capture_output=True, text=True)
    ids = out.stdout.split()
    return ids[0] if ids else None


def window_pid(wid):
    out = subprocess.run(["xdotool", "getwindowpid", wid], capture_output=True, text=True)
    return int(out.stdout) if out.returncode == 0 and out.stdout.strip().isdigit() else None


def measure(args):
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGINT, lambda *_: sys.exit(130))

    row = dict.fromkeys(FIELDS, "")
    row["label"] = args.label
    log = open(args.log, "ab") if args.log else subprocess.DEVNULL
    started = time.monotonic()
    proc = subprocess.Popen(args.command, cwd=args.cwd, stdout=log, stderr=log,
                            stdin=subprocess.DEVNULL)
    try:
        wid = None
        while time.monotonic() - started < args.timeout:
            wid = find_window(args.match)
            if wid or proc.poll() is not None:
                break
            time.sleep(POLL_SECONDS)
        mapped = time.monotonic()
        if not wid:
            row["note"] = "no window" if proc.poll() is None else f"exited ({proc.returncode})"
            print(f"{args.label}: {row['note']}", file=sys.stderr)
            return row if not args.warmup else None
        if args.warmup:
            return None
        row["startup_ms"] = f"{(mapped - started) * 1000:.0f}"

        # The process that owns the window, not a launcher in front of it.
        pid = window_pid(wid) or proc.pid
        if read_stat(pid) is None or pid not in descendants(os.getpid()):
            pid = proc.pid
        st = read_stat(pid)
        if st is None:
            row["note"] = "exited after mapping"
            return row
        row["pid"], row["comm"] = str(pid), program_name(pid) or st[0]

        if args.after_map:
            subprocess.run(["bash", "-c", args.after_map], check=False,
                           env=dict(os.environ, WID=wid))
        time.sleep(args.settle)

        me = os.getpid()
        others0 = {p: read_stat(p) for p in descendants(me) if p != pid}
        t0 = time.monotonic()
        cpu0, ns0 = read_stat(pid)[2], read_schedstat_ns(pid)
        x0 = read_stat(args.xvfb_pid)[2] if args.xvfb_pid else None
        end = max(started + args.seconds, t0 + 1)
        time.sleep(end - time.monotonic())
        st, ns1 = read_stat(pid), read_schedstat_ns(pid)
        t1 = time.monotonic()
        x1 = read_stat(args.xvfb_pid)[2] if args.xvfb_pid else None
        others1 = {p: read_stat(p) for p in descendants(me) if p != pid}
        if st is None:
            row["note"] = "exited while measured"
            return row
        elapsed = t1 - t0
        row["measured_s"] = f"{elapsed:.1f}"
        row["cpu_pct"] = f"{(st[2] - cpu0) / CLOCK_TICKS / elapsed * 100:.3f}"
        if ns0 is not None and ns1 is not None:
            row["cpu_ns_pct"] = f"{(ns1 - ns0) / 1e9 / elapsed * 100:.3f}"
        row["hwm_kb"] = str(read_status_kb(pid, "VmHWM") or "")
        row["rss_kb"] = str(read_status_kb(pid, "VmRSS") or "")
        if x0 is not None and x1 is not None:
            row["xvfb_pct"] = f"{(x1 - x0) / CLOCK_TICKS / elapsed * 100:.3f}"

        helper_ticks, names = 0, []
        for p, now in others1.items():
            if not now or now[0] in ("xdotool", "bash"):
                continue
            before = others0.get(p)
            helper_ticks += now[2] - (before[2] if before and before[0] == now[0] else 0)
            names.append(now[0])
        row["helpers_pct"] = f"{helper_ticks / CLOCK_TICKS / elapsed * 100:.3f}" if names else ""
        row["helpers"] = ",".join(sorted(set(names)))

        if args.shot:
            shot = subprocess.run(f"xwd -silent -id {wid} | convert xwd:- '{args.shot}'",
                                  shell=True, capture_output=True)
            row["shot"] = args.shot if shot.returncode == 0 else "failed"
        return row
    finally:
        end_all()
        if log is not subprocess.DEVNULL:
            log.close()


def cmd_measure(args):
    if args.command and args.command[0] == "--":
        args.command = args.command[1:]
    if not args.command:
        sys.exit("measure: no command given")
    row = measure(args)
    if row is not None:
        with open(args.out, "a") as f:
            f.write("\t".join(row[k].replace("\t", " ") for k in FIELDS) + "\n")
        shown = {k: row[k] for k in ("startup_ms", "cpu_pct", "hwm_kb", "note") if row[k]}
        print(f"  {args.label}: {shown}", file=sys.stderr)


def number(text):
    try:
        return float(text)
    except ValueError:
        return None


def ratio(a, b):
    a, b = number(a), number(b)
    if a is None or b is None:
        return "–"
    if b == 0:
        return "∞" if a > 0 else "–"
    return f"{a / b:.2f}"


def cpu_figure(row):
    """The nanosecond figure where there is one: a quiet peer may use less than
    a clock tick in a minute, which the tick figure shows as zero."""
    return row["cpu_ns_pct"] or row["cpu_pct"]


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def mb(kb):
    n = number(kb)
    return f"{n / 1024:.1f}" if n is not None else "–"


def cmd_table(args):
    rows = []
    with open(args.file) as f:
        for line in f:
            values = line.rstrip("\n").split("\t")
            rows.append(dict(zip(FIELDS, values + [""] * (len(FIELDS) - len(values)))))
    ours = [r for r in rows if r["label"].startswith("ours")]
    peers = [r for r in rows if not r["label"].startswith("ours")]

    load = open("/proc/loadavg").read().split()[:3]
    print(f"Machine: nproc {len(os.sched_getaffinity(0))}, {cpu_model()}; "
          f"Linux {platform.release()}; load average at the end {' '.join(load)}")
    print(f"Date: {datetime.now(timezone.utc).astimezone().strftime('%Y-%m-%d %H:%M:%S %Z')}")
    print(f"Each program ran {args.seconds} s from its start; CPU is measured from 3 s after "
          f"its window mapped (and after any clicks) to the end; 1 clock tick = "
          f"{1000 // CLOCK_TICKS} ms, so CPU % resolves to about "
          f"{100 / CLOCK_TICKS / max(number(args.seconds) - 4, 1):.3f} %; the ratios and the "
          f"target checks use the schedstat column (nanoseconds, summed over the threads).")
    print()
    print("| program | start → window mapped (ms) | CPU % of one core | CPU % (schedstat) "
          "| peak RSS VmHWM (MB) | Xvfb CPU % | helpers' CPU % | measured process | screenshot |")
    print("|---|---:|---:|---:|---:|---:|---:|---|---|")
    for r in rows:
        who = f"{r['comm']} ({r['pid']})" if r["pid"] else r["note"]
        helpers = f"{r['helpers_pct']} ({r['helpers']})" if r["helpers"] else "–"
        print(f"| {r['label']} | {r['startup_ms'] or '–'} | {r['cpu_pct'] or '–'} "
              f"| {r['cpu_ns_pct'] or '–'} | {mb(r['hwm_kb'])} | {r['xvfb_pct'] or '–'} "
              f"| {helpers} | {who} | {r['shot'] or '–'} |")

    if ours and peers:
        print()
        head = " | ".join(f"{kind} ÷ {p['label']}" for kind in ("CPU", "RSS", "start")
                          for p in peers)
        print(f"| ours / peer | {head} |")
        print("|---|" + "---:|" * (3 * len(peers)))
        for o in ours:
            cells = [ratio(cpu_figure(o), cpu_figure(p)) for p in peers]
            cells += [ratio(o[key], p[key]) for key in ("hwm_kb", "startup_ms") for p in peers]
            print(f"| {o['label']} | " + " | ".join(cells) + " |")

    if ours:
        print()
        print("Targets: CPU ≤ 0.15 % of one core and below xosview and gnome-system-monitor; "
              "VmHWM ≤ 40 MB; start → window mapped ≤ 300 ms.")
        rivals = [p for p in peers if re.match(r"(xosview|gnome-system-monitor)", p["label"])]
        for o in ours:
            cpu, hwm, start = number(cpu_figure(o)), number(o["hwm_kb"]), number(o["startup_ms"])
            checks = []
            if cpu is not None:
                above = [p["label"] for p in rivals
                         if number(cpu_figure(p)) is not None and cpu >= number(cpu_figure(p))]
                unknown = [p["label"] for p in rivals if number(cpu_figure(p)) is None]
                remark = "".join([f", not below {', '.join(above)}" if above else "",
                                  f", no figure for {', '.join(unknown)}" if unknown else ""])
                checks.append(f"CPU {'met' if cpu <= 0.15 and not above else 'MISSED'} "
                              f"({cpu:.3f} %{remark})")
            if hwm is not None:
                checks.append(f"memory {'met' if hwm <= 40 * 1024 else 'MISSED'} "
                              f"({hwm / 1024:.1f} MB)")
            if start is not None:
                checks.append(f"start-up {'met' if start <= 300 else 'MISSED'} ({start:.0f} ms)")
            print(f"- {o['label']}: " + "; ".join(checks or [o["note"] or "no figures"]))
        by_label = {o["label"]: o for o in ours}
        remote, local = by_label.get("ours, remote server page"), by_label.get("ours, server page")
        if remote and local:
            print(f"- one remote server ÷ the local server page, CPU: "
                  f"{ratio(cpu_figure(remote), cpu_figure(local))} (target ≤ 1.2)")
        xload = next((p for p in peers if p["label"].startswith("xload")), None)
        if local and xload:
            print(f"- the server page ÷ xload, CPU: {ratio(cpu_figure(local), cpu_figure(xload))} "
                  f"(target ≤ 1.8, and ≤ 0.025 %)")
        dense = by_label.get("ours, server page, density 2")
        if dense and local:
            print(f"- the server page at density 2 ÷ density 1, CPU: "
                  f"{ratio(cpu_figure(dense), cpu_figure(local))} (target ≤ 2, and ≤ 0.045 %)")
        fleet = by_label.get("ours, server page, 2,000 servers listed")
        if fleet and local:
            print(f"- 2,000 servers listed ÷ the local server page, CPU: "
                  f"{ratio(cpu_figure(fleet), cpu_figure(local))} (target ≤ 1.1)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="mode", required=True)
    m = sub.add_parser("measure")
    m.add_argument("--label", required=True)
    m.add_argument("--match", required=True, help="xdotool search options, e.g. '--name ^xload$'")
    m.add_argument("--seconds", type=float, default=60)
    m.add_argument("--settle", type=float, default=3)
    m.add_argument("--timeout", type=float, default=60, help="seconds to wait for the window")
    m.add_argument("--after-map", default="", help="bash snippet run once mapped; sees $WID")
    m.add_argument("--xvfb-pid", type=int)
    m.add_argument("--shot", help="PNG path for a screenshot of the window at the end")
    m.add_argument("--log", help="file for the program's output")
    m.add_argument("--cwd")
    m.add_argument("--out", default="/dev/null")
    m.add_argument("--warmup", action="store_true")
    m.add_argument("command", nargs=argparse.REMAINDER)
    t = sub.add_parser("table")
    t.add_argument("file")
    t.add_argument("--seconds", default="60")
    args = parser.parse_args()
    if args.mode == "measure":
        args.match = shlex.split(args.match)
        cmd_measure(args)
    else:
        cmd_table(args)


if __name__ == "__main__":
    main()
