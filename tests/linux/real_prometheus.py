#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
"""Debian's real Prometheus watching a small fleet on this machine, for the discovery tests.

Starts, all on 127.0.0.1 at free ports: Debian's prometheus-node-exporter, two
fake exporters (tests/linux/fake_exporter.py), one named "fake-exporter" and one
named like this machine, and Prometheus with its storage in a temporary folder,
scraping the three every second in the job "node" (and itself in "prometheus").
Once Prometheus reports the three up and knows their node names (at most 15 s),
prints one line:

  PROMETHEUS_PORT NODE_EXPORTER_INSTANCE FAKE_INSTANCE SAME_NAMED_FAKE_INSTANCE

then keeps all running until standard input closes, and stops them. Prints
"failed: REASON" and exits 1 when they do not come up in time.

  real_prometheus.py [--record FOLDER]   also writes the two API replies there
"""
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
JOB = "node"
DEADLINE_S = 15

# Nothing between this script and 127.0.0.1.
urllib.request.install_opener(urllib.request.build_opener(urllib.request.ProxyHandler({})))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(url):
    with urllib.request.urlopen(url, timeout=2) as r:
        return r.read()


def fake_exporter(name=None, options=()):
    p = subprocess.Popen([sys.executable, os.path.join(HERE, "fake_exporter.py"), *options],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    instance = f"127.0.0.1:{int(p.stdout.readline())}"
    if name is not None:
        p.stdin.write(f"name {json.dumps(name)}\n")
        p.stdin.flush()
        p.stdout.readline()
    return p, instance


def stop(processes):
    """Ends the processes started, the last first, and waits for each."""
    for p in reversed(processes):
        if p.stdin:
            p.stdin.close()
        p.terminate()
    for p in processes:
        try:
            p.wait(timeout=5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


def main():
    record = sys.argv[sys.argv.index("--record") + 1] if "--record" in sys.argv else None
    processes = []
    with tempfile.TemporaryDirectory(prefix="prometheus-") as folder:
        try:
            node_port = free_port()
            processes.append(subprocess.Popen(
                ["/usr/bin/prometheus-node-exporter", f"--web.listen-address=127.0.0.1:{node_port}",
                 "--collector.disable-defaults", "--collector.cpu", "--collector.vmstat",
                 "--collector.uname"], stderr=subprocess.DEVNULL))
            node = f"127.0.0.1:{node_port}"
            fake, fake_instance = fake_exporter()
            same, same_instance = fake_exporter(os.uname().nodename)
            processes += [fake, same]

            port = free_port()
            config = os.path.join(folder, "prometheus.yml")
            with open(config, "w") as f:
                f.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                        "scrape_configs:\n"
                        f"  - job_name: {JOB}\n    static_configs:\n"
                        f"      - targets: ['{node}', '{fake_instance}', '{same_instance}']\n"
                        "  - job_name: prometheus\n    static_configs:\n"
                        f"      - targets: ['127.0.0.1:{port}']\n")
            processes.append(subprocess.Popen(
                ["/usr/bin/prometheus", f"--config.file={config}",
                 f"--storage.tsdb.path={os.path.join(folder, 'data')}",
                 f"--web.listen-address=127.0.0.1:{port}", "--log.level=error"],
                stderr=subprocess.DEVNULL))

            base = f"http://127.0.0.1:{port}/api/v1"
            query = urllib.parse.urlencode({"query": f'node_uname_info{{job="{JOB}"}}'})
            deadline = time.monotonic() + DEADLINE_S
            while True:
                try:
                    targets = get(f"{base}/targets?state=active")
                    names = get(f"{base}/query?{query}")
                    up = [t for t in json.loads(targets)["data"]["activeTargets"]
                          if t["labels"]["job"] == JOB and t["health"] == "up"]
                    if len(up) == 3 and len(json.loads(names)["data"]["result"]) == 3:
                        break
                except (OSError, ValueError, KeyError):
                    pass
                if time.monotonic() > deadline:
                    print(f"failed: the targets were not up within {DEADLINE_S} s", flush=True)
                    return 1
                time.sleep(0.2)
            if record:
                with open(os.path.join(record, "prometheus-targets.json"), "wb") as f:
                    f.write(targets)
                with open(os.path.join(record, "prometheus-names.json"), "wb") as f:
                    f.write(names)
            print(port, node, fake_instance, same_instance, flush=True)
            sys.stdin.read()
            return 0
        finally:
            stop(processes)


if __name__ == "__main__":
    sys.exit(main())
