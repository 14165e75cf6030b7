#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
"""A real Prometheus or VictoriaMetrics watching a small fleet, for the overview's tests.

  real_engines.py prometheus|victoria-metrics

Starts, all on 127.0.0.1 at free ports: Debian's node exporter, two fake exporters
(fake_exporter.py) busy 90 % ("hot") and 5 % ("cold"), and the engine, with its
storage in a temporary folder, scraping them every second in the job "node",
together with a fourth target where nothing listens. VictoriaMetrics runs with
-search.latencyOffset=1s, as by default it hides the newest 30 s. Once the engine
reports three targets up, one down, and their rates (at most 30 s), prints:

  PORT NODE_INSTANCE HOT_INSTANCE COLD_INSTANCE DOWN_INSTANCE

then keeps all running until standard input closes. Prints "failed: REASON" and
exits 1 when they do not come up in time.
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

from real_prometheus import JOB, fake_exporter, free_port, get, stop

DEADLINE_S = 30


def engine_command(engine, config, folder, port):
    if engine == "prometheus":
        return ["/usr/bin/prometheus", f"--config.file={config}",
                f"--storage.tsdb.path={os.path.join(folder, 'data')}",
                f"--web.listen-address=127.0.0.1:{port}", "--log.level=error"]
    return ["/usr/bin/victoria-metrics", f"-promscrape.config={config}",
            f"-storageDataPath={os.path.join(folder, 'data')}",
            f"-httpListenAddr=127.0.0.1:{port}", "-search.latencyOffset=1s", "-loggerLevel=ERROR"]


def ready(base, count):
    targets = json.loads(get(f"{base}/targets?state=active"))["data"]["activeTargets"]
    health = [t["health"] for t in targets if t["labels"]["job"] == JOB]
    query = urllib.parse.urlencode({"query": f'rate(node_vmstat_pgfault{{job="{JOB}"}}[4s])'})
    rates = json.loads(get(f"{base}/query?{query}"))["data"]["result"]
    return health.count("up") == count and health.count("down") == 1 and len(rates) == count


def main():
    engine = sys.argv[1]
    processes = []
    with tempfile.TemporaryDirectory(prefix="engine-") as folder:
        try:
            node_port = free_port()
            processes.append(subprocess.Popen(
                ["/usr/bin/prometheus-node-exporter", f"--web.listen-address=127.0.0.1:{node_port}",
                 "--collector.disable-defaults", "--collector.cpu", "--collector.vmstat",
                 "--collector.uname"], stderr=subprocess.DEVNULL))
            node = f"127.0.0.1:{node_port}"
            hot, hot_instance = fake_exporter("hot", ["--busy", "90"])
            cold, cold_instance = fake_exporter("cold", ["--busy", "5"])
            processes += [hot, cold]
            down = f"127.0.0.1:{free_port()}"
            port = free_port()
            config = os.path.join(folder, "scrape.yml")
            with open(config, "w") as f:
                f.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                        f"scrape_configs:\n  - job_name: {JOB}\n    static_configs:\n"
                        f"      - targets: ['{node}', '{hot_instance}', '{cold_instance}', '{down}']\n")
            processes.append(subprocess.Popen(engine_command(engine, config, folder, port),
                                              stderr=subprocess.DEVNULL, stdout=subprocess.DEVNULL))
            base = f"http://127.0.0.1:{port}/api/v1"
            deadline = time.monotonic() + DEADLINE_S
            while True:
                try:
                    if ready(base, 3):
                        break
                except (OSError, ValueError, KeyError):
                    pass
                if time.monotonic() > deadline:
                    print(f"failed: {engine} had not the targets and their rates within {DEADLINE_S} s",
                          flush=True)
                    return 1
                time.sleep(0.3)
            print(port, node, hot_instance, cold_instance, down, flush=True)
            sys.stdin.read()
            return 0
        finally:
            stop(processes)


if __name__ == "__main__":
    sys.exit(main())
