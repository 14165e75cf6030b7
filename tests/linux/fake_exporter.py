#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT
"""A node exporter that misbehaves on request, for the remote backend's tests.

Prints the port it listens on (127.0.0.1) as its first line, then reads one
mode a line from standard input and answers "ok MODE" once it applies:

  good      a sound reply; each one counts 100 CPU seconds more, 37 % of them
            busy, and 1000 page faults more, 10 of them major
  stall     reads the request and never answers
  close     sends half a reply, then closes the connection
  trickle   sends a sound reply one byte a second
  500, 401  answers with that status
  garbage   a 200 whose body is not the text format
  nohttp    bytes that are not HTTP at all
  huge      100 MB without a length; hugelength: announces 100 MB
  back      counters far below the last ones, as after a restart
  missing   a reply without the vmstat family
  big       a sound reply padded with comments to 3 MB
  wide      a sound reply padded to 200 KB, a 128-CPU server's size
  404       answers 404
  name TEXT a sound reply whose nodename is TEXT, a JSON string

Options: --busy PERCENT makes that share of the CPU time busy (none of it iowait)
instead of 37 %; --tls CERT KEY serves HTTPS; --close-after N closes each connection after
N replies; --auth USER:PASSWORD answers 401 to any other basic authentication.

Standard library only; ends when standard input closes.
"""
import argparse
import base64
import http.server
import json
import socket
import ssl
import sys
import threading
import time

state = {"mode": "good", "scrapes": 0, "name": "fake-exporter"}
options = None
changed = threading.Condition()


def reply(scrapes, back=False, vmstat=True, name="fake-exporter"):
    n = 1 if back else scrapes + 10
    lines = ["# HELP node_cpu_seconds_total Seconds the CPUs spent in each mode.",
             "# TYPE node_cpu_seconds_total counter"]
    shares = (("idle", 30), ("iowait", 1.5), ("user", 15), ("system", 3.5))
    if options is not None and options.busy is not None:
        shares = (("idle", 50 - options.busy / 2), ("user", options.busy / 2))
    for cpu in range(2):
        # 50 s per CPU and scrape: idle 30, iowait 1.5, the rest busy (37 %).
        for mode, share in shares:
            lines.append(f'node_cpu_seconds_total{{cpu="{cpu}",mode="{mode}"}} {share * n:.2f}')
    if vmstat:
        # Above 2^32, so that only the low 32 bits reach the record.
        lines.append(f"node_vmstat_pgfault {2**32 + 1000 * n}")
        lines.append(f"node_vmstat_pgmajfault {10 * n}")
    escaped = name.replace("\\", "\\\\").replace("\n", "\\n").replace('"', '\\"')
    lines.append('node_uname_info{domainname="(none)",machine="x86_64",nodename="' + escaped +
                 '",release="6.1.0",sysname="Linux",version="#1"} 1')
    return ("\n".join(lines) + "\n").encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body, length=None):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; version=0.0.4")
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.replies = getattr(self, "replies", 0) + 1
        if options.close_after and self.replies >= options.close_after:
            self.close_connection = True
        with changed:
            mode = state["mode"]
            state["scrapes"] += 1
            scrapes = state["scrapes"]
            name = state["name"]
        if options.auth:
            expected = "Basic " + base64.b64encode(options.auth.encode()).decode()
            if self.headers.get("Authorization") != expected:
                self.send(401, b"who are you\n")
                return
        if mode == "good":
            self.send(200, reply(scrapes))
        elif mode == "name":
            self.send(200, reply(scrapes, name=name))
        elif mode in ("big", "wide"):
            body = reply(scrapes)
            filler = b"# filler line of a long but valid reply\n"
            size = 3_000_000 if mode == "big" else 200_000
            self.send(200, filler * ((size - len(body)) // len(filler)) + body)
        elif mode == "404":
            self.send(404, b"not here\n")
        elif mode == "stall":
            with changed:
                changed.wait_for(lambda: state["mode"] != "stall", timeout=60)
            self.close_connection = True
        elif mode == "close":
            body = reply(scrapes)
            self.send(200, body[: len(body) // 2], length=len(body))
            self.close_connection = True
        elif mode == "trickle":
            body = reply(scrapes)
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            for i in range(len(body)):
                if state["mode"] != "trickle":
                    break
                self.wfile.write(body[i : i + 1])
                self.wfile.flush()
                time.sleep(1)
            self.close_connection = True
        elif mode in ("500", "401"):
            self.send(int(mode), b"no\n")
        elif mode == "garbage":
            self.send(200, bytes(range(256)) * 8 + b"node_cpu\n{{{ \"\n")
        elif mode == "html":
            # The exporter's landing page, which a wrong path gets.
            self.send(200, b"<!DOCTYPE html>\n<html><head><title>Node Exporter</title></head></html>\n")
        elif mode == "nohttp":
            self.wfile.write(b"\x00\xff\xfe garbage\r\n\r\nmore garbage\n")
            self.close_connection = True
        elif mode in ("huge", "hugelength"):
            self.send_response(200)
            if mode == "hugelength":
                self.send_header("Content-Length", str(100 * 2**20))
            else:
                self.send_header("Connection", "close")
            self.end_headers()
            chunk = b"# filler line of a reply far too long\n" * 1000
            try:
                for _ in range(100 * 2**20 // len(chunk)):
                    self.wfile.write(chunk)
            except OSError:
                pass
            self.close_connection = True
        elif mode == "back":
            self.send(200, reply(scrapes, back=True))
        elif mode == "missing":
            self.send(200, reply(scrapes, vmstat=False))


def main():
    global options
    parser = argparse.ArgumentParser()
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--close-after", type=int, default=0)
    parser.add_argument("--auth")
    parser.add_argument("--busy", type=float)
    options = parser.parse_args()
    # A backlog for a fleet's worth of scrapes at once, as a real exporter's listener has.
    http.server.ThreadingHTTPServer.request_queue_size = 256
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if options.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*options.tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.daemon_threads = True
    server.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    for line in sys.stdin:
        mode = line.strip()
        if not mode:
            continue
        with changed:
            if mode.startswith("name "):
                state["name"] = json.loads(mode[5:])
                mode = "name"
            state["mode"] = mode
            changed.notify_all()
        print("ok", line.strip(), flush=True)
    server.shutdown()


if __name__ == "__main__":
    main()
