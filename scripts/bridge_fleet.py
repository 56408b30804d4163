#!/usr/bin/env python3
"""A fleet of korvex bridges on one Mosquitto, measured.

Starts one Mosquitto on a free loopback port, N bridges each on its own copy
of a machine of 1,000 LONGINT handles with its own simulated controller, and
one subscriber to every value. Then, for S seconds, changes values in every
controller at a steady rate through the bridges' standard input (`sim poke`),
each change a new number on the next handle, and matches every change with
the message that reports it. Prints one line:

  fleet: N bridges, R msg/s, p50 X ms, p99 Y ms, lost L, rss Z MB/bridge, cpu C%/bridge

latency: from the write of the change to the bridge until the subscriber
receives the value (both clocks are this machine's); lost: changes never
seen; R: change messages received per second; rss: mean resident memory of a
bridge at the end; cpu: mean CPU of a bridge over the measured seconds, in
percent of one core. A second line gives the CPU of the broker, the
subscriber and this script, and the load average. Exits 0 when nothing was lost, 1 otherwise, 2 when the
fleet could not be started. Everything it started is ended on the way out.
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HANDLES = 1000
TICKS_PER_SECOND = 10  # changes go out in 10 batches a second


def write_machine(directory):
    os.makedirs(directory)
    with open(os.path.join(directory, "KORVEX.INI"), "w") as ini:
        ini.write("[DATAINTERFACE]\nHANDLE=HANDLES\nDATEN=QZ_DATEN\n")
    with open(os.path.join(directory, "HANDLES.TXT"), "w") as names:
        for i in range(1, HANDLES + 1):
            names.write("V%04d=%d\n" % (i, i))
    with open(os.path.join(directory, "QZ_DATEN.TXT"), "w") as records:
        for i in range(1, HANDLES + 1):
            records.write(
                "[V%04d]\nType = LONGINT\nMin = 0\nMax = 2000000000\nDefault = 0\n"
                "MetricFormat = 10 0\nMetricUnit = [pcs]\nInchMetric = NO\nWriteDirect = YES\n\n"
                % i)


def free_port():
    # A port nobody listens on now; Mosquitto's own start says whether it
    # stayed free.
    return random.randint(20000, 59999)


def wait_for(predicate, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return
        time.sleep(0.05)
    raise RuntimeError("timed out waiting for " + what)


class Fleet:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.processes = []
        self.broker = None
        self.port = None
        self.bridges = []
        self.lock = threading.Lock()
        self.received = {}  # (machine, seq) -> receive time
        self.values_seen = 0
        self.online = set()
        self.subscriber = None

    # -- processes

    def spawn(self, command, **kwargs):
        process = subprocess.Popen(command, **kwargs)
        self.processes.append(process)
        return process

    def stop_all(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    process.terminate()
                except OSError:
                    pass
        end = time.monotonic() + 3
        for process in self.processes:
            try:
                process.wait(timeout=max(0.1, end - time.monotonic()))
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def start_broker(self):
        for _ in range(20):
            port = free_port()
            conf = os.path.join(self.work, "broker.conf")
            with open(conf, "w") as out:
                if os.geteuid() == 0:
                    # As root, Mosquitto would switch to its own user.
                    out.write("user root\n")
                out.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n"
                          "max_queued_messages 0\nmax_inflight_messages 0\n"
                          "max_connections -1\n" % port)
            log = open(os.path.join(self.work, "broker.log"), "w")
            command = [self.args.mosquitto, "-c", conf]
            if self.args.broker_nice:
                command = ["nice", "-n", str(self.args.broker_nice)] + command
            broker = self.spawn(command, stdout=log, stderr=subprocess.STDOUT)
            try:
                wait_for(lambda: broker.poll() is not None or
                         "running" in open(os.path.join(self.work, "broker.log")).read(),
                         10, "the broker")
            except RuntimeError:
                broker.kill()
                continue
            if broker.poll() is None:
                self.broker, self.port = broker, port
                return
        raise RuntimeError("the broker does not start")

    def start_subscriber(self):
        self.subscriber = self.spawn(
            ["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.port), "-q", "1",
             "-t", "fleet/+/0/+/0", "-t", "fleet/+/status", "-F", "%U %t %p"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=1 << 16)
        pattern = re.compile(rb'^(\d+\.\d+) fleet/m(\d+)/0/V(\d+)/0 .*"raw":(-?\d+)')
        status = re.compile(rb'^\S+ fleet/m(\d+)/status online')

        def read():
            for line in self.subscriber.stdout:
                match = pattern.match(line)
                if match:
                    now = float(match.group(1))
                    key = (int(match.group(2)), int(match.group(4)))
                    with self.lock:
                        self.values_seen += 1
                        self.received.setdefault(key, now)
                    continue
                match = status.match(line)
                if match:
                    with self.lock:
                        self.online.add(int(match.group(1)))

        threading.Thread(target=read, daemon=True).start()

    def start_bridges(self):
        machine = os.path.join(self.work, "machine")
        write_machine(machine)
        # One load writes the caches the copies then read.
        subprocess.run([self.args.korvex, "-m", machine, "check"], check=True,
                       stdout=subprocess.DEVNULL)
        for n in range(self.args.bridges):
            directory = os.path.join(self.work, "m%d" % n)
            shutil.copytree(machine, directory)
            err = open(os.path.join(self.work, "m%d.err" % n), "w")
            bridge = self.spawn(
                [self.args.korvex, "-m", directory, "bridge", "127.0.0.1:%d" % self.port,
                 "--root", "fleet/m%d" % n, "--interval", str(self.args.interval)],
                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=err)
            self.bridges.append(bridge)

    # -- measurement

    @staticmethod
    def ticks_of(process):
        try:
            with open("/proc/%d/stat" % process.pid) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            return int(fields[11]) + int(fields[12])
        except OSError:
            return 0

    def cpu_ticks(self):
        # The bridges, then the broker, the subscriber and this script.
        own = os.times()
        return ([self.ticks_of(process) for process in self.bridges + [self.broker, self.subscriber]]
                + [int((own.user + own.system) * os.sysconf("SC_CLK_TCK"))])

    def rss_mb(self):
        sizes = []
        for bridge in self.bridges:
            try:
                with open("/proc/%d/status" % bridge.pid) as status:
                    for line in status:
                        if line.startswith("VmRSS:"):
                            sizes.append(int(line.split()[1]) / 1024.0)
            except OSError:
                pass
        return sum(sizes) / len(sizes) if sizes else 0.0

    def run(self):
        args = self.args
        self.start_broker()
        self.start_subscriber()
        self.start_bridges()
        # Ready: every bridge online and its first publication of all its
        # values through to the subscriber.
        expected = args.bridges * HANDLES
        wait_for(lambda: len(self.online) == args.bridges and self.values_seen >= expected,
                 60 + args.bridges, "the bridges' first publication")
        for n, bridge in enumerate(self.bridges):
            if bridge.poll() is not None:
                raise RuntimeError("bridge %d ended (see m%d.err)" % (n, n))

        sent = {}  # (machine, seq) -> send time
        # --rate 0: an idle fleet, for what a bridge costs with nothing to do.
        per_tick = args.rate // TICKS_PER_SECOND if args.rate else 0
        if args.rate and per_tick == 0:
            per_tick = 1
        seq = [1] * args.bridges
        cpu_before = self.cpu_ticks()
        start = time.monotonic()
        wall_start = time.time()
        ticks = args.seconds * TICKS_PER_SECOND
        for tick in range(ticks):
            target = start + tick / TICKS_PER_SECOND
            delay = target - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            for n, bridge in enumerate(self.bridges if per_tick else []):
                lines = []
                for _ in range(per_tick):
                    value = seq[n]
                    handle = 1 + value % HANDLES
                    lines.append("sim poke %d 0 %s\n" % (handle, value.to_bytes(4, "little").hex()))
                    seq[n] += 1
                now = time.time()
                try:
                    bridge.stdin.write("".join(lines).encode())
                    bridge.stdin.flush()
                except OSError:
                    raise RuntimeError("bridge %d ended (see m%d.err)" % (n, n))
                for value in range(seq[n] - per_tick, seq[n]):
                    sent[(n, value)] = now
        elapsed = time.monotonic() - start
        cpu_after = self.cpu_ticks()
        rss = self.rss_mb()
        # Drain: every change seen, or no news for a while.
        last, last_count = time.monotonic(), -1
        while time.monotonic() - last < args.drain:
            with self.lock:
                count = sum(1 for key in sent if key in self.received)
            if count == len(sent):
                break
            if count != last_count:
                last, last_count = time.monotonic(), count
            time.sleep(0.1)
        for n, bridge in enumerate(self.bridges):
            if bridge.poll() is not None:
                print("bridge %d ended early (see m%d.err)" % (n, n), file=sys.stderr)

        with self.lock:
            latencies = sorted((self.received[key] - when) * 1000.0
                               for key, when in sent.items() if key in self.received)
            window_end = wall_start + elapsed
            in_window = sum(1 for key in sent if key in self.received and
                            wall_start <= self.received[key] <= window_end)
        lost = len(sent) - len(latencies)

        def percentile(p):
            if not latencies:
                return float("nan")
            return latencies[min(len(latencies) - 1, int(p / 100.0 * len(latencies)))]

        hertz = os.sysconf("SC_CLK_TCK")
        cpu = [(after - before) / hertz / elapsed * 100.0
               for before, after in zip(cpu_before, cpu_after)]
        own_cpu = cpu.pop()
        subscriber_cpu = cpu.pop()
        broker_cpu = cpu.pop()
        print("fleet: %d bridges, %.0f msg/s, p50 %.1f ms, p99 %.1f ms, lost %d, "
              "rss %.1f MB/bridge, cpu %.1f%%/bridge"
              % (args.bridges, in_window / elapsed, percentile(50), percentile(99), lost, rss,
                 sum(cpu) / len(cpu)))
        print("broker: cpu %.1f%% of a core; subscriber %.1f%%; this script %.1f%%; bridges "
              "together %.1f%%; load average %s"
              % (broker_cpu, subscriber_cpu, own_cpu, sum(cpu),
                 " ".join(open("/proc/loadavg").read().split()[:3])))
        sys.stdout.flush()
        return 0 if lost == 0 else 1


def main():
    parser = argparse.ArgumentParser(description="Measure a fleet of korvex bridges on one broker.")
    parser.add_argument("--bridges", type=int, default=20)
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--rate", type=int, default=50,
                        help="changes per second per machine (0: an idle fleet)")
    parser.add_argument("--interval", type=int, default=200, help="the bridges' --interval")
    parser.add_argument("--drain", type=float, default=10.0,
                        help="seconds without news before the missing changes count as lost")
    parser.add_argument("--korvex", default=os.environ.get("KORVEX", ""))
    parser.add_argument("--mosquitto", default=os.environ.get("MOSQUITTO", ""))
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    parser.add_argument("--broker-nice", type=int, default=0,
                        help="run the broker at this nice level (negative: ahead of other "
                             "work on a shared machine; needs root)")
    args = parser.parse_args()
    if args.bridges < 1 or args.seconds < 1 or args.rate < 0:
        parser.error("--bridges and --seconds must be at least 1, --rate at least 0")
    if not args.mosquitto:
        args.mosquitto = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
    if not args.korvex or not os.access(args.korvex, os.X_OK):
        print("bridge-fleet: no korvex executable (give --korvex or KORVEX)", file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix="korvex-fleet-")
    fleet = Fleet(args, work)
    # SIGTERM and SIGINT end the run through the same clean-up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    try:
        return fleet.run()
    except RuntimeError as error:
        print("bridge-fleet: %s (work directory %s)" % (error, work), file=sys.stderr)
        args.keep = True
        return 2
    finally:
        fleet.stop_all()
        if args.keep:
            print("bridge-fleet: work directory kept: " + work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
