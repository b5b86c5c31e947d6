"""Starts tools/fake-dyndns as a process and drives its control API; needs no pytest."""
import http.client
import json
import os
import select
import ssl
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from urllib.parse import urlsplit

import processes

REPO = Path(__file__).resolve().parents[2]


def fake_program():
    """The fake's path: $FAKE_DYNDNS when set (CTest sets it), else the one in this checkout."""
    return os.environ.get("FAKE_DYNDNS") or str(REPO / "tools/fake-dyndns/fake-dyndns")


class FakeService:
    """One running fake. Extra arguments go to the program, e.g. FakeService(dir, "--http"); `launcher`
    goes in front of it (one that execs it, so that the pid stays the fake's)."""

    def __init__(self, state_dir, *args, start_timeout=30, launcher=()):
        self._stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [*launcher, sys.executable, fake_program(), "--state", str(state_dir), *args],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self._stderr)
        self._connection = None
        try:
            self.info = json.loads(self._read_line(start_timeout))
        except BaseException:
            self.stop()
            raise
        self.base_url = self.info["baseUrl"]
        self.ca_file = self.info["caFile"]
        self.port = self.info["port"]
        self.pid = self.info["pid"]
        self.control_url = self.info["controlUrl"]
        self.requests_url = self.info["requestsUrl"]

    def _read_line(self, timeout):
        deadline, line = time.monotonic() + timeout, b""
        fd = self.process.stdout.fileno()
        while not line.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([fd], [], [], remaining)[0]:
                raise RuntimeError(f"fake-dyndns printed nothing within {timeout} s: {self.stderr_text()}")
            chunk = os.read(fd, 4096)
            if not chunk:
                self.process.wait()
                raise RuntimeError(f"fake-dyndns exited with {self.process.returncode}: {self.stderr_text()}")
            line += chunk
        return line.decode()

    def url(self, path):
        return self.base_url + path

    def ssl_context(self):
        """A client context that trusts exactly the fake's CA."""
        return ssl.create_default_context(cafile=self.ca_file)

    def running(self):
        return self.process.poll() is None

    def stderr_text(self):
        # pread leaves the offset alone: the running fake writes through the same open file.
        fd = self._stderr.fileno()
        return os.pread(fd, os.fstat(fd).st_size, 0).decode(errors="replace")

    def _call(self, method, path, body=None):
        payload = json.dumps(body).encode() if body is not None else None
        for attempt in (1, 2):
            if self._connection is None:
                if self.base_url.startswith("https:"):
                    self._connection = http.client.HTTPSConnection(
                        "127.0.0.1", self.port, timeout=10, context=self.ssl_context())
                else:
                    self._connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
            try:
                self._connection.request(method, path, body=payload,
                                         headers={"Content-Type": "application/json"} if payload else {})
                response = self._connection.getresponse()
                answer = json.loads(response.read())
                break
            except (ConnectionError, http.client.HTTPException, ssl.SSLEOFError):
                # A kept-alive connection the fake has dropped; one fresh try.
                self._connection.close()
                self._connection = None
                if attempt == 2:
                    raise
        if response.status != 200:
            raise RuntimeError(f"fake-dyndns {method} {path}: {response.status} {answer}")
        return answer

    def control(self, settings=None, **more):
        """Posts control settings (see tools/fake-dyndns/README.md), e.g. control(update={"body": "911"})."""
        return self._call("POST", urlsplit(self.control_url).path, {**(settings or {}), **more})

    def settings(self):
        """What the fake holds now: credentials, recorded addresses, manifest, package digest."""
        return self._call("GET", urlsplit(self.control_url).path)

    def reset(self):
        return self.control(reset=True)

    def requests(self, path=None):
        """The request log, oldest first; only requests for path when given."""
        log = self._call("GET", urlsplit(self.requests_url).path)
        return [r for r in log if path is None or r["path"] == path]

    def clear_requests(self):
        return self._call("POST", urlsplit(self.requests_url).path + "/clear")

    def stop(self):
        """Ends the fake by its pid: SIGTERM, then SIGKILL if it does not exit. Returns its exit status."""
        if self._connection is not None:
            self._connection.close()
            self._connection = None
        code = processes.stop(self.process)
        self.process.stdout.close()
        return code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
