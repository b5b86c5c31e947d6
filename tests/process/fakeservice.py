"""Starts tools/fake-dyndns as a process and drives its control API; needs no pytest (the benchmarks use it)."""
import http.client
import json
import os
import signal
import ssl
import subprocess
import sys
import tempfile
import urllib.parse
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]


def stop(process, grace=5):
    """Ends a process the tests started, by its pid: SIGTERM, then SIGKILL. Returns its exit status."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return process.returncode


class FakeService:
    """One running fake. Extra arguments go to the program, e.g. FakeService(dir, "--http"); `launcher`
    goes in front of it (one that execs it, so that the pid stays the fake's)."""

    def __init__(self, state_dir, *args, launcher=()):
        program = os.environ.get("FAKE_DYNDNS") or str(REPO / "tools/fake-dyndns/fake-dyndns")
        self._stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen([*launcher, sys.executable, program, "--state", str(state_dir), *args],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self._stderr)
        # The fake prints one line of JSON once it listens (CTest's timeout bounds a hang).
        line = self.process.stdout.readline()
        if not line:
            raise RuntimeError(f"fake-dyndns exited with {self.process.wait()}: {self.stderr_text()}")
        info = json.loads(line)
        self.base_url, self.ca_file, self.port = info["baseUrl"], info["caFile"], info["port"]
        self.host = urllib.parse.urlsplit(self.base_url).hostname  # 127.0.0.1 unless told --listen

    def url(self, path):
        return self.base_url + path

    def stderr_text(self):
        self._stderr.seek(0)
        return self._stderr.read().decode(errors="replace")

    def _call(self, method, path, body=None):
        # A fresh connection per call: the fake may have dropped a kept-alive one.
        if self.base_url.startswith("https:"):
            connection = http.client.HTTPSConnection(self.host, self.port, timeout=10,
                                                     context=ssl.create_default_context(cafile=self.ca_file))
        else:
            connection = http.client.HTTPConnection(self.host, self.port, timeout=10)
        try:
            connection.request(method, path, body=json.dumps(body).encode() if body is not None else None)
            response = connection.getresponse()
            answer = json.loads(response.read())
        finally:
            connection.close()
        if response.status != 200:
            raise RuntimeError(f"fake-dyndns {method} {path}: {response.status} {answer}")
        return answer

    def control(self, settings=None, **more):
        """Posts control settings (see tools/fake-dyndns/README.md), e.g. control(update={"body": "911"})."""
        return self._call("POST", "/_control", {**(settings or {}), **more})

    def settings(self):
        return self._call("GET", "/_control")

    def requests(self, path=None):
        """The request log, oldest first; only requests for path when given."""
        return [r for r in self._call("GET", "/_requests") if path is None or r["path"] == path]

    def clear_requests(self):
        return self._call("POST", "/_requests/clear")

    def stop(self):
        code = stop(self.process)
        self.process.stdout.close()
        return code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
