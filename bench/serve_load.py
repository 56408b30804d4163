#!/usr/bin/env python3
"""Measures the service console: the page's weight, the name search over the
structure tree end to end, and the processor time of 100 watched values at
5 updates a second against the same server with nothing watched (both over
the same stretch of time, in one run).

usage: bench/serve_load.py KORVEX SAMPLE_MACHINE WORK [SECONDS]
"""
import gzip
import os
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "serve"))
from console import Console  # noqa: E402

korvex, sample, work = sys.argv[1:4]
seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 10.0
ticks = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime


# The page: every file it loads, as sent and as gzip would send it.
c = Console(korvex, sample, os.path.join(work, "names"), serve_args=[])
total = packed = 0
for path in ["/", "/console.js", "/console.css", "/dygraph.min.js", "/dygraph.min.css"]:
    status, body, _ = c.get(path)
    raw = body if isinstance(body, bytes) else str(body).encode()
    total += len(raw)
    packed += len(gzip.compress(raw))
print("page and scripts: %.1f KB (%.1f KB gzipped)" % (total / 1024, packed / 1024))
names = [n["name"] for n in c.get("/api/names?match=*&limit=400")[1]["names"]
         if n["handle"] is not None and n["type"] not in ("STRING", "BITMASK")][:100]
c.stop()

# The tree: a search over all its fields, end to end, ten times.
c = Console(korvex, sample, os.path.join(work, "tree"), structures=True, serve_args=[])
times, server, cpu = [], [], []
for _ in range(10):
    started = time.monotonic()
    status, document, response = c.get("/api/names?match=*Achsen_Data_4*_SURF_*")
    times.append(time.monotonic() - started)
    timing = dict(part.strip().split(";dur=") for part in response.getheader("Server-Timing").split(","))
    server.append(float(timing["library"]))
    cpu.append(float(timing["cpu"]))
print("tree search (%d names searched, %d matches): median %.1f ms on the server (%.1f ms of "
      "processor), %.1f ms end to end; worst %.1f / %.1f / %.1f ms"
      % (c.get("/api/names?match=*&limit=0")[1]["total"], document["total"],
         statistics.median(server), statistics.median(cpu), statistics.median(times) * 1000,
         max(server), max(cpu), max(times) * 1000))
c.stop()

# 100 values that change at every pass of 200 ms, one browser's stream.
script = "\n".join("sim wave %s 0 ramp 997 100 100" % name for name in names)
c = Console(korvex, sample, os.path.join(work, "load"), script=script,
            serve_args=["--interval", "200"])
pid = c.process.pid
time.sleep(1)  # the load has settled
start = cpu_seconds(pid)
time.sleep(seconds)
idle = cpu_seconds(pid) - start

events = [0]
stop = threading.Event()


def consume():
    import http.client
    connection = http.client.HTTPConnection(c.host, c.port, timeout=5)
    connection.request("GET", "/api/events?names=" + ",".join(names))
    response = connection.getresponse()
    while not stop.is_set():
        line = response.fp.readline()
        if not line:
            break
        if line.startswith(b"data: "):
            events[0] += 1
    connection.close()


reader = threading.Thread(target=consume)
reader.start()
time.sleep(1)
start, counted = cpu_seconds(pid), events[0]
time.sleep(seconds)
busy = cpu_seconds(pid) - start
sent = events[0] - counted
stop.set()
reader.join()
c.stop()
print("100 watched values at 5 Hz: %.0f events/s, %.2f %% of a core (idle server: %.2f %%; ratio %.1f)"
      % (sent / seconds, 100 * busy / seconds, 100 * idle / seconds, busy / max(idle, 1 / ticks)))
