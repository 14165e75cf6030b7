#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
"""A Prometheus HTTP API that misbehaves on request, for the discovery tests.

Serves /api/v1/targets and /api/v1/query (whatever the query) on 127.0.0.1.
Prints its port as its first line, then reads one mode a line from standard
input and answers "ok MODE" once it applies:

  good       COUNT servers of the job "node" (first argument, 2000 by default):
             instance 127.0.X.Y:9100, named "fs-NNNNN", but the first two are
             both named "twin"; besides them two targets that are down, one
             without node_uname_info, and three of the job "other". A query of
             node_cpu_seconds_total answers each server's utilisation (3 to 62 %,
             but 91 to 97 % for every 700th from the 18th), one of
             node_vmstat_pgfault its rates; any other query the node names
  nonames    the same targets, and a query answer without any result
  notargets  404 on /api/v1/targets, as Thanos Query and Mimir answer; the
             query as in good
  elsewhere  two targets beyond this machine, never to be contacted: fs1.example.org:9100
             over http, named "plain", and fs2.example.org:9100 over https, named "tls"
  bidi       as elsewhere, but U+202E (right-to-left override) in the plain one's host
             and path
  stall      reads the request and never answers
  500, 401   answers with that status
  garbage    a 200 whose body is not JSON
  error      {"status":"error"} with an error text
  deep       JSON nested 10,000 deep
  huge       100 MB without a length

Standard library only; ends when standard input closes.
"""
import http.server
import json
import socket
import sys
import threading

count = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
state = {"mode": "good"}
changed = threading.Condition()


def instance(i):
    return f"127.0.{i // 250}.{i % 250 + 1}:9100"


def target(inst, job="node", health="up"):
    return {"discoveredLabels": {"__address__": inst, "__metrics_path__": "/metrics",
                                 "__scheme__": "http", "job": job},
            "labels": {"instance": inst, "job": job}, "scrapePool": job,
            "scrapeUrl": f"http://{inst}/metrics", "globalUrl": f"http://{inst}/metrics",
            "lastError": "" if health == "up" else "connection refused",
            "lastScrape": "2026-01-01T00:00:00Z", "lastScrapeDuration": 0.003,
            "health": health, "scrapeInterval": "1s", "scrapeTimeout": "1s"}


def name(inst, nodename, job="node"):
    return {"metric": {"__name__": "node_uname_info", "instance": inst, "job": job,
                       "nodename": nodename, "sysname": "Linux"},
            "value": [1767225600.0, "1"]}


def replies():
    listed = [instance(i) for i in range(count)]
    down = [instance(count + i) for i in range(2)]
    nameless = instance(count + 2)
    other = [instance(count + 3 + i) for i in range(3)]
    targets = ([target(i) for i in listed] + [target(i, health="down") for i in down] +
               [target(nameless)] + [target(i, job="other") for i in other])
    names = [name(inst, "twin" if i < 2 else f"fs-{i:05d}") for i, inst in enumerate(listed)]
    names += [name(i, "down-" + i) for i in down]
    envelope = {"status": "success"}
    return (json.dumps({**envelope, "data": {"activeTargets": targets, "droppedTargets": []}}).encode(),
            json.dumps({**envelope, "data": {"resultType": "vector", "result": names}}).encode(),
            json.dumps({**envelope, "data": {"resultType": "vector", "result": []}}).encode())


TARGETS, NAMES, NO_NAMES = replies()


def readings():
    def vector(value):
        result = [{"metric": {"instance": instance(i), "job": "node"},
                   "value": [1767225600.0, f"{value(i):.3f}"]} for i in range(count)]
        return json.dumps({"status": "success", "data": {"resultType": "vector", "result": result}}).encode()
    busy = vector(lambda i: 91 + i % 7 if i % 700 == 17 else 3 + (i * 37) % 60)
    requests = vector(lambda i: 100 + (i * 13) % 5000)
    hits = vector(lambda i: (100 + (i * 13) % 5000) * 0.98)
    return busy, requests, hits


BUSY, REQUESTS, HITS = readings()


def elsewhere():
    targets = [target("fs1.example.org:9100"), target("fs2.example.org:9100")]
    targets[1]["scrapeUrl"] = "https://fs2.example.org:9100/metrics"
    names = [name("fs1.example.org:9100", "plain"), name("fs2.example.org:9100", "tls")]
    return (json.dumps({"status": "success", "data": {"activeTargets": targets}}).encode(),
            json.dumps({"status": "success", "data": {"resultType": "vector", "result": names}}).encode())


ELSEWHERE_TARGETS, ELSEWHERE_NAMES = elsewhere()
BIDI_TARGETS = ELSEWHERE_TARGETS.replace(b"http://fs1.example.org:9100/metrics",
                                         "http://fs1\u202e.example.org:9100/\u202egnp.exe".encode())


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        with changed:
            mode = state["mode"]
        targets = self.path.startswith("/api/v1/targets")
        if not targets and not self.path.startswith("/api/v1/query"):
            self.send(404, b"404 page not found\n")
        elif mode in ("good", "nonames", "notargets"):
            if targets:
                self.send(404, b"404 page not found\n") if mode == "notargets" else self.send(200, TARGETS)
            elif "node_cpu_seconds_total" in self.path:
                self.send(200, BUSY)
            elif "pgmajfault" in self.path:
                self.send(200, HITS)
            elif "node_vmstat_pgfault" in self.path:
                self.send(200, REQUESTS)
            else:
                self.send(200, NO_NAMES if mode == "nonames" else NAMES)
        elif mode in ("elsewhere", "bidi"):
            listed = ELSEWHERE_TARGETS if mode == "elsewhere" else BIDI_TARGETS
            self.send(200, listed if targets else ELSEWHERE_NAMES)
        elif mode == "stall":
            with changed:
                changed.wait_for(lambda: state["mode"] != "stall", timeout=60)
            self.close_connection = True
        elif mode in ("500", "401"):
            self.send(int(mode), b'{"status":"error","error":"no"}')
        elif mode == "garbage":
            self.send(200, bytes(range(256)) * 8)
        elif mode == "error":
            self.send(200, b'{"status":"error","errorType":"bad_data",'
                           b'"error":"invalid parameter \\"query\\": 1:17: parse error"}')
        elif mode == "deep":
            self.send(200, b'{"status":"success","data":{"activeTargets":' + b"[" * 10000 +
                      b"]" * 10000 + b"}}")
        elif mode == "huge":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            chunk = b'{"labels":{"job":"filler","instance":"far too long"}},' * 1000
            try:
                self.wfile.write(b'{"status":"success","data":{"activeTargets":[')
                for _ in range(100 * 2**20 // len(chunk)):
                    self.wfile.write(chunk)
            except OSError:
                pass
            self.close_connection = True


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    for line in sys.stdin:
        mode = line.strip()
        if not mode:
            continue
        with changed:
            state["mode"] = mode
            changed.notify_all()
        print("ok", mode, flush=True)
    server.shutdown()


if __name__ == "__main__":
    main()
