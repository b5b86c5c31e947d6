"""`korvane-client run`, the daemon, as a process: idle mode, the first cycle against the fake service,
status.json as other processes read it, and the back-off line after a permanent rejection."""
import json
import os
import re
import stat
import subprocess
import time
from datetime import datetime, timezone

import pytest

import processes

CLIENT = os.environ.get("KORVANE_CLIENT")
if not CLIENT:
    pytest.skip("KORVANE_CLIENT is not set", allow_module_level=True)

HOST = "home.example.net"
KEY = "dyndns_testkey123456"
START_LINE = "[INFO] korvane-client 0.24.0 startet (Daemon-Modus)."
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \[(DEBUG|INFO|WARN|ERROR)\] ")
RFC3339 = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
STATUS_KEYS = ["daemonVersion", "hostname", "lastIpv4", "lastIpv6", "lastSuccessAt", "message", "state",
               "updatedAt"]
# What an earlier daemon left behind; its version tells it apart from what this run writes.
EARLIER_STATUS = {
    "daemonVersion": "0.23.0",
    "hostname": "old.example.org",
    "lastIpv4": "198.51.100.1",
    "lastSuccessAt": "2020-01-01T00:00:00Z",
    "message": "DynDNS aktualisiert: 198.51.100.1.",
    "state": "ok",
    "updatedAt": "2020-01-01T00:05:00Z",
}
PATIENCE = 30  # seconds before a wait gives up; a healthy run needs a fraction of it


class Daemon:
    """One `korvane-client run` with its standard output in a file."""

    def __init__(self, config_dir, log_path, env_extra=None, user=None):
        env = {k: v for k, v in os.environ.items()
               if k not in ("KORVANE_SERVER_BASE_URL", "KORVANE_UPDATE_MANIFEST_URL", "SSL_CERT_DIR")}
        env.update(KORVANE_CONFIG_DIR=str(config_dir), **(env_extra or {}))
        self.config_dir = config_dir
        self.log_path = log_path
        with open(log_path, "wb") as out:
            self.process = subprocess.Popen([CLIENT, "run"], stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=subprocess.STDOUT, env=env, user=user)

    def output(self):
        return self.log_path.read_bytes().decode("utf-8")

    def lines(self):
        return self.output().splitlines()

    def messages(self):
        """Each line without its time stamp, after checking that it has one."""
        found = []
        for line in self.lines():
            assert LINE.match(line), line
            found.append(line[20:])
        return found

    def wait_for(self, what, check):
        deadline = time.monotonic() + PATIENCE
        while time.monotonic() < deadline:
            value = check()
            if value:
                return value
            assert self.process.poll() is None, f"daemon ended with {self.process.returncode}:\n{self.output()}"
            time.sleep(0.05)
        raise AssertionError(f"no {what} within {PATIENCE} s; output so far:\n{self.output()}")

    def wait_for_message(self, message):
        return self.wait_for(repr(message), lambda: message in self.messages())

    def wait_for_status(self, predicate):
        return self.wait_for("status", lambda: (lambda s: s if s and predicate(s) else None)(read_status(
            self.config_dir)))

    def stop(self):
        processes.stop(self.process)


@pytest.fixture
def start_daemon(tmp_path):
    started = []

    def start(config_dir, **kwargs):
        daemon = Daemon(config_dir, tmp_path / f"daemon-{len(started)}.log", **kwargs)
        started.append(daemon)
        return daemon

    yield start
    for daemon in started:
        daemon.stop()


def read_status(config_dir):
    """status.json with its keys in file order, or None while it is missing or being replaced."""
    try:
        text = (config_dir / "status.json").read_text(encoding="utf-8")
        return json.loads(text, object_pairs_hook=list)
    except (FileNotFoundError, ValueError):
        return None


def write_status(config_dir, status):
    path = config_dir / "status.json"
    path.write_text(json.dumps(status, indent=2), encoding="utf-8")
    path.chmod(0o644)


def write_config(config_dir, fake, interval=5, api_key=KEY, ipv4=True, ipv6=False):
    config = {
        "apiKey": api_key,
        "enableIpv4": ipv4,
        "enableIpv6": ipv6,
        "hostname": HOST,
        "ipv4DiscoveryUrls": [fake.url("/ip4")],
        "ipv6DiscoveryUrls": [fake.url("/ip6")],
        "updateIntervalMinutes": interval,
    }
    path = config_dir / "config.json"
    path.write_text(json.dumps(config), encoding="utf-8")
    path.chmod(0o600)


def fake_env(fake):
    return {"KORVANE_SERVER_BASE_URL": fake.base_url, "SSL_CERT_FILE": fake.ca_file}


def parse_time(text):
    assert RFC3339.match(text), text
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=timezone.utc)


def whole_second_now():
    return datetime.now(timezone.utc).replace(microsecond=0)


def assert_still_running(daemon):
    # An idle daemon stays until stopped; a crash or an exit shows up within this second.
    time.sleep(1)
    assert daemon.process.poll() is None, daemon.output()


def idle_cases():
    cases = [
        ("missing", None),
        ("directory", "Konfiguration unbrauchbar: {path}: Is a directory"),
        ("mode 000", "Konfiguration unbrauchbar: {path}: Permission denied"),
        ("not json", "Konfiguration unbrauchbar: Konfigurationsdatei ist leer oder ungültig: {path}"),
        ("both families off",
         "Konfiguration unbrauchbar: Mindestens eine Adressfamilie (IPv4 oder IPv6) muss aktiviert sein."),
        ("key without prefix",
         "Konfiguration unbrauchbar: API-Key muss mit 'dyndns_' beginnen — Account-Passwörter werden vom "
         "Server abgelehnt."),
    ]
    return pytest.mark.parametrize("case, reason", cases, ids=[c[0] for c in cases])


@idle_cases()
@pytest.mark.parametrize("earlier", [True, False], ids=["earlier-status", "no-earlier-status"])
def test_unusable_configuration_idles_publishes_why_and_keeps_running(
        case, reason, earlier, config_dir, fake_service, start_daemon):
    config = config_dir / "config.json"
    user = None
    if case == "missing":
        reason = ("Keine Konfiguration gefunden ({path}). Bitte mit 'sudo korvane-client configure' "
                  "einrichten.")
    elif case == "directory":
        config.mkdir()
    elif case == "mode 000":
        write_config(config_dir, fake_service)
        config.chmod(0)
        # root reads any file: the daemon then runs as nobody, in a directory it may write.
        config_dir.chmod(0o777)
        if os.geteuid() == 0:
            user = 65534
    elif case == "not json":
        config.write_text('{"hostname": ', encoding="utf-8")
    elif case == "both families off":
        write_config(config_dir, fake_service, ipv4=False, ipv6=False)
    else:
        write_config(config_dir, fake_service, api_key="testkey123456")
    reason = reason.format(path=config)
    if earlier:
        write_status(config_dir, EARLIER_STATUS)
    fake_service.clear_requests()
    before = whole_second_now()

    daemon = start_daemon(config_dir, env_extra=fake_env(fake_service), user=user)
    status = daemon.wait_for_status(lambda s: dict(s)["daemonVersion"] == "0.24.0")

    expected_keys = ["daemonVersion", "lastSuccessAt", "message", "state", "updatedAt"]
    if not earlier:
        expected_keys.remove("lastSuccessAt")
    assert [key for key, _ in status] == expected_keys
    status = dict(status)
    assert status["state"] == "idle"
    assert status["message"] == reason
    assert status.get("lastSuccessAt") == (EARLIER_STATUS["lastSuccessAt"] if earlier else None)
    assert before <= parse_time(status["updatedAt"]) <= whole_second_now()
    assert stat.S_IMODE((config_dir / "status.json").stat().st_mode) == 0o644

    assert_still_running(daemon)
    assert daemon.messages() == [START_LINE, "[ERROR] korvane-client läuft im Leerlauf — " + reason]
    assert fake_service.requests() == []


def test_first_cycle_publishes_a_complete_status(config_dir, fake_service, start_daemon):
    write_config(config_dir, fake_service, interval=5)
    before = whole_second_now()

    daemon = start_daemon(config_dir, env_extra=fake_env(fake_service))
    raw = daemon.wait_for_status(lambda s: True)

    after = whole_second_now()
    assert [key for key, _ in raw] == [k for k in STATUS_KEYS if k != "lastIpv6"]
    status = dict(raw)
    assert status["state"] == "ok"
    assert status["message"] == "DynDNS aktualisiert: 203.0.113.7."
    assert status["hostname"] == HOST
    assert status["lastIpv4"] == "203.0.113.7"
    assert status["daemonVersion"] == "0.24.0"
    success, updated = parse_time(status["lastSuccessAt"]), parse_time(status["updatedAt"])
    assert before <= success <= updated <= after
    assert stat.S_IMODE((config_dir / "status.json").stat().st_mode) == 0o644
    assert json.loads((config_dir / "ipstate.json").read_text()).get("ipv4") == "203.0.113.7"

    daemon.wait_for_message("[INFO] DynDNS aktualisiert: 203.0.113.7.")
    assert daemon.messages() == [
        START_LINE,
        f"[INFO] Update-Worker gestartet (Intervall 5 min, Host {HOST}).",
        "[INFO] DynDNS aktualisiert: 203.0.113.7.",
    ]
    updates = fake_service.requests("/nic/update")
    assert [dict(r["params"]).get("myip") for r in updates] == ["203.0.113.7"]
    assert KEY not in daemon.output()
    # The next cycle is five minutes away; the daemon waits for it.
    assert_still_running(daemon)
    assert len(fake_service.requests("/nic/update")) == 1


def test_unchanged_address_leaves_no_line_but_a_status(config_dir, fake_service, start_daemon):
    write_config(config_dir, fake_service)
    (config_dir / "ipstate.json").write_text('{"ipv4": "203.0.113.7"}', encoding="utf-8")

    daemon = start_daemon(config_dir, env_extra=fake_env(fake_service))
    status = dict(daemon.wait_for_status(lambda s: True))

    assert status["state"] == "ok"
    assert status["message"] == "IP unverändert (203.0.113.7)."
    assert "lastSuccessAt" in status
    assert fake_service.requests("/nic/update") == []
    assert daemon.messages() == [START_LINE, f"[INFO] Update-Worker gestartet (Intervall 5 min, Host {HOST})."]


def test_failing_first_cycle_keeps_the_earlier_last_success(config_dir, fake_service, start_daemon):
    write_config(config_dir, fake_service)
    write_status(config_dir, EARLIER_STATUS)
    fake_service.control(update={"body": "911", "status": 500, "sticky": True})

    daemon = start_daemon(config_dir, env_extra=fake_env(fake_service))
    status = dict(daemon.wait_for_status(lambda s: dict(s)["daemonVersion"] == "0.24.0"))

    assert status["state"] == "warning"
    assert status["message"] == "Vorübergehender Serverfehler (911). Erneuter Versuch im nächsten Intervall."
    assert status["lastSuccessAt"] == EARLIER_STATUS["lastSuccessAt"]
    assert status["hostname"] == HOST
    # Nothing was pushed by this daemon, and the earlier file's address is not repeated.
    assert "lastIpv4" not in status
    daemon.wait_for_message("[WARN] DynDNS-Update vorübergehend fehlgeschlagen: 911.")
    assert_still_running(daemon)
    assert not any("Fataler Fehler" in m for m in daemon.messages())


@pytest.mark.parametrize("interval, minutes", [(5, 30), (45, 45)])
def test_permanent_rejection_backs_off_after_publishing_the_error(
        interval, minutes, config_dir, fake_service, start_daemon):
    write_config(config_dir, fake_service, interval=interval, api_key="dyndns_wrongkey")

    daemon = start_daemon(config_dir, env_extra=fake_env(fake_service))
    fatal = (f"[ERROR] Fataler Fehler — nächster Versuch in {minutes} min: "
             "Authentifizierung fehlgeschlagen — API-Key prüfen.")
    daemon.wait_for_message(fatal)

    # The line follows the status write, so the error status is on disk already.
    status = dict(read_status(config_dir))
    assert status["state"] == "error"
    assert status["message"] == "Authentifizierung fehlgeschlagen — API-Key prüfen."
    assert "lastSuccessAt" not in status
    assert daemon.messages() == [
        START_LINE,
        f"[INFO] Update-Worker gestartet (Intervall {interval} min, Host {HOST}).",
        "[ERROR] DynDNS-Update dauerhaft abgewiesen: badauth.",
        fatal,
    ]
    assert "dyndns_wrongkey" not in daemon.output()
    assert len(fake_service.requests("/nic/update")) == 1
