#!/usr/bin/env python3
"""The bridge as korvex-bridge@.service runs it: the service wrapper reads the
machine's configuration file, the bridge tells systemd (a notify socket here)
READY once connected and pings the watchdog, and SIGTERM makes it publish
"offline", say STOPPING and leave with 0. A configuration without a broker is
refused with EX_CONFIG (78).
usage: service_test.py KORVEX WRAPPER SAMPLE WORK"""
import os, shutil, signal, socket, subprocess, sys, time

korvex, wrapper, sample, work = sys.argv[1:5]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
env = dict(os.environ, KORVEX=korvex)


def fail(message):
    print("service_test: " + message)
    sys.exit(1)


def write_config(name, lines):
    path = os.path.join(work, name)
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


bad = subprocess.run([wrapper, write_config("bad.conf", ["MACHINE_DIR=" + sample])], env=env,
                     capture_output=True, text=True, timeout=30)
if bad.returncode != 78 or "BROKER is not set" not in bad.stderr:
    fail("a configuration without a broker: exit %d, %r" % (bad.returncode, bad.stderr))

probe = socket.socket()
probe.bind(("127.0.0.1", 0))
port = probe.getsockname()[1]
probe.close()
broker = subprocess.Popen([os.environ.get("MOSQUITTO", "mosquitto"), "-p", str(port)],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
notify.bind(os.path.join(work, "notify"))
notify.settimeout(30)
bridge = None
try:
    config = write_config("mill.conf", [
        "# a comment", "MACHINE_DIR=" + sample, "BROKER=127.0.0.1:%d" % port,
        "PUBLISH=XParkPos TDia*", "ROOT=test/mill", "SIM_STATE=" + os.path.join(work, "mill.sim")])
    bridge = subprocess.Popen([wrapper, config], stderr=subprocess.PIPE, text=True,
                              env=dict(env, NOTIFY_SOCKET=notify.getsockname(),
                                       WATCHDOG_USEC="200000"))
    seen = []
    # READY once connected (the broker may take a moment to listen), then a
    # watchdog ping.
    while not any(m.startswith("READY=1") for m in seen) or seen[-1] != "WATCHDOG=1":
        seen.append(notify.recv(4096).decode())
    if not any(m == "READY=1\nSTATUS=connected to 127.0.0.1:%d" % port for m in seen):
        fail("no status with READY: %r" % seen)
    bridge.send_signal(signal.SIGTERM)
    code = bridge.wait(timeout=30)
    while "STOPPING=1" not in seen:
        seen.append(notify.recv(4096).decode())
    if code != 0:
        fail("exit %d after SIGTERM: %s" % (code, bridge.stderr.read()))
    status = subprocess.run(["mosquitto_sub", "-p", str(port), "-t", "test/mill/status", "-C", "1",
                             "-W", "30"], capture_output=True, text=True, timeout=40)
    if status.stdout.strip() != "offline":
        fail("status after stop: %r" % status.stdout)
finally:
    if bridge and bridge.poll() is None:
        bridge.kill()
    broker.terminate()
    broker.wait()
print("service_test: ok")
