"""The daemon's app-update worker as a process: it asks for the manifest only in the running daemon, never
in idle mode. The real delays (two minutes, then 12 hours) are run under faketime at a faster clock."""
import json
import os
import glob
import subprocess
import time

import pytest

import processes

CLIENT = os.environ.get("KORVANE_CLIENT")
if not CLIENT:
    pytest.skip("KORVANE_CLIENT is not set", allow_module_level=True)
# Preloaded directly (not through the faketime wrapper), so the pid started is the daemon's own.
FAKETIME_LIBRARIES = sorted(glob.glob("/usr/lib/*/faketime/libfaketimeMT.so.1"))
if not FAKETIME_LIBRARIES:
    pytest.skip("libfaketime is not installed", allow_module_level=True)

MANIFEST = "/downloads/macos/latest.json"
# 20 seconds of the daemon's clock per real second: the worker's two-minute start delay takes 6 s.
SPEED = 20
# Real seconds after which a worker would have asked three times over, had it been started.
WINDOW = 3 * 120 / SPEED


class Daemon:
    """`korvane-client run` under libfaketime, its output in a file; ended by its own pid."""

    def __init__(self, config_dir, fake, log_path):
        env = dict(os.environ, KORVANE_CONFIG_DIR=str(config_dir), SSL_CERT_FILE=fake.ca_file,
                   KORVANE_UPDATE_MANIFEST_URL=fake.url(MANIFEST), KORVANE_SERVER_BASE_URL=fake.base_url,
                   LD_PRELOAD=FAKETIME_LIBRARIES[0], FAKETIME=f"+0 x{SPEED}", FAKETIME_NO_CACHE="1")
        # An AddressSanitizer build refuses a preloaded library ahead of its runtime unless told it is fine.
        env["ASAN_OPTIONS"] = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
        self.log_path = log_path
        self._log = open(log_path, "wb")
        self.process = subprocess.Popen([CLIENT, "run"], env=env,
                                        stdin=subprocess.DEVNULL, stdout=self._log, stderr=subprocess.STDOUT,
                                        start_new_session=True)

    def text(self):
        return self.log_path.read_text(encoding="utf-8", errors="replace")

    def stop(self):
        processes.stop(self.process, grace=10)
        self._log.close()


@pytest.fixture
def daemon(config_dir, fake_service):
    started = []

    def start():
        d = Daemon(config_dir, fake_service, config_dir / "daemon.log")
        started.append(d)
        return d

    yield start
    for d in started:
        d.stop()


def write_config(config_dir, fake):
    config = {"hostname": "home.example.net", "apiKey": "dyndns_testkey123456", "updateIntervalMinutes": 5,
              "enableIpv4": True, "enableIpv6": False, "ipv4DiscoveryUrls": [fake.url("/ip4")],
              "ipv6DiscoveryUrls": []}
    path = config_dir / "config.json"
    path.write_text(json.dumps(config), encoding="utf-8")
    os.chmod(path, 0o600)


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.2)
    return condition()


@pytest.mark.skipif(os.path.exists("/usr/sbin/installer"), reason="a test never runs the real package installer")
def test_running_daemon_asks_for_the_manifest_and_survives_a_failed_installation(config_dir, fake_service, daemon):
    write_config(config_dir, fake_service)
    d = daemon()
    # The first cycle comes at once; the manifest only after the start delay.
    assert wait_for(lambda: fake_service.requests("/nic/update"), 60), d.text()
    # Well before the real two minutes: this also shows the clock runs fast, which the idle test relies on.
    assert wait_for(lambda: "Update-Installation fehlgeschlagen: " in d.text(), 60), d.text()
    text = d.text()
    assert "App-Update-Worker gestartet (aktuelle Version 0.24.0, Prüfintervall 12h)." in text
    assert "Neue Version 0.25.0 verfügbar (aktuell 0.24.0)." in text
    # The manifest came first, then the package; this system has no /usr/sbin/installer, so the daemon
    # goes on running.
    paths = [r["path"] for r in fake_service.requests() if r["path"].startswith("/downloads/")]
    assert paths[:2] == [MANIFEST, "/downloads/macos/RuzEdaRoredo-0.25.0.pkg"], paths
    assert d.process.poll() is None, text


def test_idle_daemon_never_asks_for_the_manifest(config_dir, fake_service, daemon):
    d = daemon()
    assert wait_for(lambda: "läuft im Leerlauf" in d.text(), 60), d.text()
    time.sleep(WINDOW)
    assert fake_service.requests() == []
    assert d.process.poll() is None, d.text()
    assert "App-Update-Worker" not in d.text()
