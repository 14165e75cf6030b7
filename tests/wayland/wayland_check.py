#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
"""The monitor as a native Wayland client: under Weston's headless back end it
must show its window, paint its chart and print nothing on standard error.
Run inside a D-Bus session (the accessibility bus switches the page)."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


def wait_for(predicate, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        found = predicate()
        if found:
            return found
        time.sleep(0.2)
    return None


def screenshot(folder, env):
    """A fresh screenshot: its file, the title's strongly blue pixels, the green line's
    pixels and the number of colours; or why there is none."""
    for stale in (f for f in os.listdir(folder) if f.endswith(".png")):
        os.remove(os.path.join(folder, stale))
    shot = subprocess.run(["weston-screenshooter"], cwd=folder, env=env,
                          capture_output=True, text=True)
    pngs = [f for f in os.listdir(folder) if f.endswith(".png")]
    if shot.returncode != 0 or not pngs:
        return shot.stderr.strip()
    png = os.path.join(folder, pngs[0])
    counts = colour_counts(png)
    # The title's text is smoothed: count the strongly blue pixels.
    title = sum(n for c, n in counts.items()
                if int(c[1:3], 16) < 100 and int(c[3:5], 16) < 100 and int(c[5:7], 16) > 200)
    return png, title, counts.get("#008000", 0), len(counts)


def colour_counts(png):
    """Pixels of each colour in the image, as '#RRGGBB' -> count."""
    out = subprocess.run(["convert", png, "-alpha", "off", "-format", "%c", "histogram:info:-"],
                         check=True, capture_output=True, text=True).stdout
    counts = {}
    for line in out.splitlines():
        count, _, rest = line.strip().partition(":")
        colour = next((w for w in rest.split() if w.startswith("#")), None)
        if colour:
            counts[colour[:7].upper()] = int(count)
    return counts


def find(node, role, name=None):
    if node.getRole() == role and (name is None or node.name == name):
        return node
    for child in node:
        if child is not None:
            found = find(child, role, name)
            if found is not None:
                return found
    return None


def main(program):
    if shutil.which("weston") is None:
        print("SKIP: weston is not installed")
        return SKIP
    import pyatspi

    with tempfile.TemporaryDirectory() as folder:
        runtime = os.path.join(folder, "runtime")
        os.mkdir(runtime, 0o700)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY="serverstats-test")
        env.pop("DISPLAY", None)
        compositor = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", "--use-pixman", "--debug",
             "--socket=serverstats-test", "--idle-time=0", "--width=900", "--height=500"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        monitor = None
        try:
            if not wait_for(lambda: os.path.exists(os.path.join(runtime, "serverstats-test")), 10):
                print("FAIL: weston did not start")
                return 1
            run_env = dict(env, QT_QPA_PLATFORM="wayland", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
            errors = open(os.path.join(folder, "stderr"), "w+")
            monitor = subprocess.Popen([program], cwd=folder, env=run_env, stderr=errors)
            name = os.path.basename(program)
            app = wait_for(lambda: next((a for a in pyatspi.Registry.getDesktop(0)
                                         if a is not None and a.name == name), None), 20)
            if app is None:
                print("FAIL: the window never appeared")
                return 1
            tab = wait_for(lambda: find(app, pyatspi.ROLE_PAGE_TAB, "Select Server / Show Stats"), 10)
            if tab is None:
                print("FAIL: no page tab for the chart")
                return 1
            tab.queryAction().doAction(0)
            time.sleep(2.5)  # a tick or two on the chart
            # A busy machine may need longer for them: shot again until painted, for a while.
            deadline = time.time() + 20
            while True:
                taken = screenshot(folder, env)
                if isinstance(taken, str):
                    print(f"FAIL: no screenshot: {taken}")
                    return 1
                png, title, line, colours = taken
                if (title >= 50 and line >= 100) or time.time() > deadline:
                    break
                time.sleep(1)
            if os.environ.get("WAYLAND_CHECK_SCREENSHOT"):
                shutil.copy(png, os.environ["WAYLAND_CHECK_SCREENSHOT"])
            print(f"screenshot: {colours} colours, {title} blue pixels of the title, "
                  f"{line} of the green line")
            monitor.terminate()
            monitor.wait(10)
            errors.seek(0)
            printed = errors.read()
            print(f"standard error: {printed!r}")
            if title < 50 or line < 100:
                print("FAIL: the chart was not painted")
                return 1
            if printed:
                print("FAIL: the monitor printed on standard error")
                return 1
            print("PASS")
            return 0
        finally:
            if monitor is not None and monitor.poll() is None:
                monitor.kill()
            compositor.terminate()
            compositor.wait(10)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
