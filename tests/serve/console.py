"""Starts `korvex serve` on a free loopback port for a test and talks to it."""
import http.client
import json
import os
import shutil
import signal
import subprocess
import sys
import urllib.parse


def fail(message):
    sys.exit("FAIL: " + message)


class Console:
    """A korvex serve process: the verbs of script run first (waves, sim
    settings), then serve with the given arguments on port 0."""

    def __init__(self, korvex, sample, work, script="", serve_args=(), structures=False):
        shutil.rmtree(work, ignore_errors=True)
        shutil.copytree(sample, os.path.join(work, "machine"),
                        ignore=shutil.ignore_patterns("*.BIN"))
        path = os.path.join(work, "run.kvx")
        with open(path, "w") as out:
            out.write(script + "\nserve 127.0.0.1:0 " + " ".join(serve_args) + "\n")
        options = ["--structures"] if structures else []
        self.process = subprocess.Popen(
            [korvex, "-m", os.path.join(work, "machine")] + options + ["-f", path],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # The first line on standard output is the address; it comes once
        # the server listens.
        url = ""
        for line in self.process.stdout:  # the script's verbs may print first
            url = line.strip()
            if url.startswith("http://"):
                break
        if not url.startswith("http://"):
            self.process.kill()
            fail("serve printed no address: %r; stderr:\n%s" % (url, self.process.stderr.read()))
        parsed = urllib.parse.urlparse(url)
        self.host, self.port = parsed.hostname, parsed.port
        self.url = url

    def request(self, method, path, body=None, headers=None, raw_body=None):
        connection = http.client.HTTPConnection(self.host, self.port, timeout=30)
        headers = dict(headers or {})
        if body is not None:
            raw_body = json.dumps(body)
            headers.setdefault("Content-Type", "application/json")
        connection.request(method, path, body=raw_body, headers=headers)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        try:
            document = json.loads(data) if data else None
        except ValueError:
            document = data
        return response.status, document, response

    def get(self, path, **kwargs):
        return self.request("GET", path, **kwargs)

    def events(self, path, count, headers=None, timeout=10):
        """The first count events of a stream, as (kind, document) pairs."""
        connection = http.client.HTTPConnection(self.host, self.port, timeout=timeout)
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        if response.status != 200:
            document = json.loads(response.read())
            connection.close()
            return response.status, document
        found, kind = [], "message"
        while len(found) < count:
            line = response.fp.readline().decode()
            if not line:
                break
            line = line.rstrip("\n")
            if line.startswith("event: "):
                kind = line[7:]
            elif line.startswith("data: "):
                found.append((kind, json.loads(line[6:])))
                kind = "message"
        connection.close()
        return 200, found

    def stop(self):
        """Ends the server as a service manager would; answers its exit code
        (130 here: a script of verbs that SIGTERM ended, as the tool tells)."""
        self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            fail("serve did not leave after SIGTERM")
        self.stderr = self.process.stderr.read()
        return code
