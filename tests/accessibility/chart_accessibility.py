#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
"""What a screen reader finds of the running monitor: the chart by its role, named
by its title, described by the newest values of both lines and the shown range,
with its context menu's entries among its actions; the connection list's entries
as radio buttons by their server names, the first one checked; on the Overview page,
the table's headers and cells and the summary line.
Run inside a D-Bus session on an X display (see run-check)."""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi


def find_app(name, deadline):
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                return app
        time.sleep(0.2)
    return None


def find_role(node, role):
    if node.getRole() == role:
        return node
    for child in node:
        if child is not None:
            found = find_role(child, role)
            if found is not None:
                return found
    return None


def list_failures(app):
    entries = pyatspi.findAllDescendants(app, lambda node: node.getRole() == pyatspi.ROLE_RADIO_BUTTON)
    checked = [i for i, entry in enumerate(entries) if entry.getState().contains(pyatspi.STATE_CHECKED)]
    print(f"list entries: {[entry.name for entry in entries]!r}, checked: {checked}")
    failures = [f"entry {i} has no name" for i, entry in enumerate(entries) if not entry.name]
    if checked != [0]:
        failures.append(f"the checked entries are {checked}, not the first alone")
    return failures


def overview_failures(app):
    tabs = pyatspi.findAllDescendants(app, lambda node: node.getRole() == pyatspi.ROLE_PAGE_TAB)
    names = [tab.name for tab in tabs]
    if "Overview" not in names:
        return [f"no Overview page among {names!r}"]
    tab = tabs[names.index("Overview")].queryAction()
    tab.doAction([tab.getName(i) for i in range(tab.nActions)].index("Press"))
    deadline = time.time() + 10
    table, row = None, []
    while time.time() < deadline:
        table = find_role(app, pyatspi.ROLE_TABLE)
        if table is not None and table.queryTable().nRows > 0:
            cells = table.queryTable()
            row = [cells.getAccessibleAt(0, c).name for c in range(cells.nColumns)]
            if row[1]:  # the first reading has come
                break
        time.sleep(0.3)
    if table is None:
        return ["no table on the Overview page"]
    cells = table.queryTable()
    headers = [cells.getColumnHeader(c).name for c in range(cells.nColumns)]
    summary = find_summary(app)
    print(f"overview table {table.name!r}: headers {headers!r}, first row {row!r}; summary {summary!r}")
    failures = []
    if headers != ["Server", "Utilization %", "Cache requests/s", "Cache hits/s", "State"]:
        failures.append("the table's headers are not read")
    if not row or not row[0] or not row[1]:
        failures.append("the first row's name or utilisation is not read")
    if summary is None:
        failures.append("the summary line is not read")
    return failures


def find_summary(app):
    labels = pyatspi.findAllDescendants(app, lambda node: node.getRole() == pyatspi.ROLE_LABEL)
    for label in labels:
        if " answering, " in label.name:
            return label.name
    return None


def main(program):
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    env.pop("QT_QPA_PLATFORM", None)  # only a real display brings the accessibility bridge
    with tempfile.TemporaryDirectory() as folder:
        monitor = subprocess.Popen([program], cwd=folder, env=env)
        try:
            app = find_app(os.path.basename(program), time.time() + 20)
            if app is None:
                print("FAIL: the monitor never appeared on the accessibility bus")
                return 1
            chart = None
            deadline = time.time() + 10
            while chart is None and time.time() < deadline:
                chart = find_role(app, pyatspi.ROLE_CHART)
                time.sleep(0.2)
            if chart is None:
                print("FAIL: no chart among the monitor's accessible objects")
                return 1
            print(f"chart name: {chart.name!r}")
            first = chart.description
            print(f"chart description: {first!r}")
            time.sleep(2.5)  # two ticks later the newest values have moved on
            # A busy machine may be slower to take them: asked again for a while.
            deadline = time.time() + 15
            later = chart.description
            while "no samples yet" in later and time.time() < deadline:
                time.sleep(0.5)
                later = chart.description
            print(f"chart description later: {later!r}")
            action = chart.queryAction()
            actions = [action.getName(i) for i in range(action.nActions)]
            print(f"chart actions: {actions!r}")
            failures = []
            for name in ("ShowMenu", "Copy Chart", "Save Chart As", "Save Data As"):
                if name not in actions:
                    failures.append(f"the actions lack {name!r}")
            if not chart.name.startswith("Server Utilization, "):
                failures.append("the name is not the chart's title")
            for text in ("Utilization (Peaks): ", "Utilization (Gliding): ", "Shown range "):
                if text not in later:
                    failures.append(f"the description lacks {text!r}")
            if "no samples yet" in later:
                failures.append("the description never follows the samples")
            failures += list_failures(app)
            failures += overview_failures(app)
            for failure in failures:
                print("FAIL:", failure)
            return 1 if failures else 0
        finally:
            monitor.terminate()
            monitor.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
