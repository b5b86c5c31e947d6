"""`korvane-client run`, the daemon, as a process: idle mode, the first cycle, status.json as other processes
read it, the back-off after a permanent rejection, and the app-update worker under a faster clock."""
import glob
import hashlib
import json
import os
import re
import shutil
import stat
import subprocess
import time
from datetime import datetime, timezone
from pathlib import Path

import pytest

from conftest import CLIENT, HOST, KEY, LINE, REPO, client_env, linux_only, mounted, needs_client, run, write_config
from fakeservice import FakeService, stop

pytestmark = needs_client
START = "[INFO] korvane-client 0.24.0 startet (Daemon-Modus)."
WORKER = f"[INFO] Update-Worker gestartet (Intervall {{}} min, Host {HOST})."
# What an earlier daemon left behind; its version tells it apart from what this run writes.
EARLIER = {"daemonVersion": "0.23.0", "hostname": "old.example.org", "lastIpv4": "198.51.100.1",
           "lastSuccessAt": "2020-01-01T00:00:00Z", "message": "DynDNS aktualisiert: 198.51.100.1.", "state": "ok",
           "updatedAt": "2020-01-01T00:05:00Z"}
FAKETIME = sorted(glob.glob("/usr/lib/*/faketime/libfaketimeMT.so.1"))


class Daemon:
    """One `korvane-client run`, its output in a file; ended by its own pid."""

    def __init__(self, config_dir, env, log, launcher=()):
        self.config_dir, self.log = config_dir, log
        with open(self.log, "wb") as out:
            self.process = subprocess.Popen([*launcher, CLIENT, "run"], stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=subprocess.STDOUT, env=env, start_new_session=True)

    def messages(self):
        """Each line without its time stamp, after checking that it has one; the DNS confirmation's lines
        depend on the machine's resolver and are tested in test_dnscheck.py."""
        lines = self.log.read_text(encoding="utf-8", errors="replace").splitlines()
        assert all(LINE.match(line) for line in lines), lines
        return [LINE.match(line).group(1) for line in lines if "] DNS" not in line]

    def wait_for(self, check, seconds=30):
        deadline = time.monotonic() + seconds
        while not check():
            assert self.process.poll() is None, f"daemon ended with {self.process.returncode}: {self.messages()}"
            assert time.monotonic() < deadline, f"waited in vain; output so far: {self.messages()}"
            time.sleep(0.05)

    def status(self):
        """status.json with its keys in file order, or None while it is missing or being replaced."""
        try:
            return json.loads((self.config_dir / "status.json").read_text(encoding="utf-8"),
                              object_pairs_hook=list)
        except (FileNotFoundError, ValueError):
            return None

    def new_status(self):
        self.wait_for(lambda: self.status() and dict(self.status())["daemonVersion"] == "0.24.0")
        return self.status()

    def still_running(self):
        # An idle or waiting daemon stays until stopped; a crash or an exit shows up within this second.
        time.sleep(1)
        return self.process.poll() is None


@pytest.fixture
def daemon(config_dir, fake_service, tmp_path):
    started = []

    def start(launcher=(), **extra):
        # The log beside this test's own files: runs on one machine at once must not share it.
        started.append(Daemon(config_dir, client_env(config_dir, fake_service, **extra), tmp_path / "daemon.log",
                              launcher))
        return started[-1]

    yield start
    for d in started:
        stop(d.process, grace=10)


def at(text):
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", text), text
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=timezone.utc)


def now():
    return datetime.now(timezone.utc).replace(microsecond=0)


@pytest.mark.parametrize("case, reason, earlier", [
    ("missing", "Keine Konfiguration gefunden ({path}). Bitte mit 'sudo korvane-client configure' einrichten.",
     True),
    ("directory", "Konfiguration unbrauchbar: {path}: Is a directory", False),
    ("not json", "Konfiguration unbrauchbar: Konfigurationsdatei ist leer oder ungültig: {path}", False),
    ("both families off",
     "Konfiguration unbrauchbar: Mindestens eine Adressfamilie (IPv4 oder IPv6) muss aktiviert sein.", True),
])
def test_unusable_configuration_idles_and_publishes_why(case, reason, earlier, config_dir, fake_service, daemon):
    config = config_dir / "config.json"
    if case == "directory":
        config.mkdir()
    elif case == "not json":
        config.write_text('{"hostname": ')
    elif case != "missing":
        write_config(config_dir, fake_service, enableIpv4=False)
    if earlier:
        (config_dir / "status.json").write_text(json.dumps(EARLIER))
    before = now()
    d = daemon()
    status = d.new_status()
    assert [key for key, _ in status] == ["daemonVersion", *(["lastSuccessAt"] if earlier else []), "message",
                                         "state", "updatedAt"]
    status = dict(status)
    assert (status["state"], status["message"]) == ("idle", reason.format(path=config))
    assert status.get("lastSuccessAt") == (EARLIER["lastSuccessAt"] if earlier else None)
    assert before <= at(status["updatedAt"]) <= now()
    assert stat.S_IMODE((config_dir / "status.json").stat().st_mode) == 0o644
    assert d.still_running()
    assert d.messages() == [START, "[ERROR] korvane-client läuft im Leerlauf — " + reason.format(path=config)]
    assert fake_service.requests() == []


# Interval and key, fake settings, ipstate.json and status.json before; the status published (keys in order,
# values; "now" for a fresh time), the log lines after the start line, and the updates sent.
@pytest.mark.parametrize("fields, control, pushed, earlier, keys, values, lines, updates", [
    ({}, {}, None, None,
     ["daemonVersion", "hostname", "lastIpv4", "lastSuccessAt", "message", "state", "updatedAt"],
     {"state": "ok", "message": "DynDNS aktualisiert: 203.0.113.7.", "hostname": HOST, "lastIpv4": "203.0.113.7",
      "lastSuccessAt": "now"}, [WORKER.format(5), "[INFO] DynDNS aktualisiert: 203.0.113.7."], 1),
    ({}, {}, {"ipv4": "203.0.113.7"}, EARLIER,
     ["daemonVersion", "hostname", "lastIpv4", "lastSuccessAt", "message", "state", "updatedAt"],
     {"state": "ok", "message": "IP unverändert (203.0.113.7).", "lastSuccessAt": "now"}, [WORKER.format(5)], 0),
    ({}, {"update": {"body": "911", "status": 500, "sticky": True}}, None, EARLIER,
     ["daemonVersion", "hostname", "lastSuccessAt", "message", "state", "updatedAt"],
     {"state": "warning", "lastSuccessAt": EARLIER["lastSuccessAt"],
      "message": "Vorübergehender Serverfehler (911). Erneuter Versuch im nächsten Intervall."},
     [WORKER.format(5), "[WARN] DynDNS-Update vorübergehend fehlgeschlagen: 911."], 1),
    *[({"updateIntervalMinutes": interval, "apiKey": "dyndns_wrongkey"}, {}, None, None,
       ["daemonVersion", "hostname", "message", "state", "updatedAt"],
       {"state": "error", "message": "Authentifizierung fehlgeschlagen — API-Key prüfen."},
       [WORKER.format(interval), "[ERROR] DynDNS-Update dauerhaft abgewiesen: badauth.",
        f"[ERROR] Fataler Fehler — nächster Versuch in {minutes} min: Authentifizierung fehlgeschlagen — "
        "API-Key prüfen."], 1) for interval, minutes in [(5, 30), (45, 45)]],
])
def test_first_cycle(config_dir, fake_service, daemon, fields, control, pushed, earlier, keys, values, lines,
                     updates):
    write_config(config_dir, fake_service, **fields)
    if pushed:
        (config_dir / "ipstate.json").write_text(json.dumps(pushed))
    if earlier:
        (config_dir / "status.json").write_text(json.dumps(earlier))
    fake_service.control(control)
    before = now()
    d = daemon()
    d.wait_for(lambda: len(d.messages()) == len(lines) + 1)
    status = d.new_status()
    assert [key for key, _ in status] == keys
    status = dict(status)
    assert before <= at(status["updatedAt"]) <= now()
    if values.get("lastSuccessAt") == "now":
        assert before <= at(status.pop("lastSuccessAt")) <= at(status["updatedAt"])
        values = {k: v for k, v in values.items() if k != "lastSuccessAt"}
    assert {k: status[k] for k in values} == values
    assert stat.S_IMODE((config_dir / "status.json").stat().st_mode) == 0o644
    # The next cycle is minutes away; the daemon waits for it and sends nothing more.
    assert d.still_running()
    assert d.messages() == [START, *lines]
    assert len(fake_service.requests("/nic/update")) == updates
    assert KEY not in d.log.read_text() and "wrongkey" not in d.log.read_text()


def pinned_team():
    """The team the program under test requires its packages to be signed by; "" in a development build."""
    cache = (Path(CLIENT).resolve().parents[1] / "CMakeCache.txt").read_text()
    return (re.findall(r"^KORVANE_PKG_TEAM_ID:STRING=(.*)$", cache, re.M) or [""])[0]


def fake_pkgutil(tmp_path, team):
    """Runs the daemon with tests/process/fakes/pkgutil, reporting `team`, as the only program in /usr/sbin."""
    (tmp_path / "sbin").mkdir()
    shutil.copy(REPO / "tests/process/fakes/pkgutil", tmp_path / "sbin")
    return {"launcher": mounted(tmp_path / "sbin", "/usr/sbin"), "FAKE_PKGUTIL_TEAM": team,
            "FAKE_LAUNCHCTL_LOG": str(tmp_path / "calls")}


# The real delays (two minutes, then 12 hours; an hour when idle) pass 20 (1000) times faster: libfaketime is
# preloaded directly, so the pid started is the daemon's own. A build that pins a team checks the package with
# a fake pkgutil: the package of another team is deleted unseen by the installer.
@linux_only("libfaketime, preloaded with LD_PRELOAD, speeds up the daemon's clock")
@pytest.mark.skipif(not FAKETIME, reason="libfaketime is not installed")
@pytest.mark.parametrize("case", ["installs", "idle", "garbled manifest", "forged digest", "foreign team"])
def test_the_app_update_worker_runs_only_in_a_working_daemon(config_dir, fake_service, daemon, tmp_path, case):
    team, signer = pinned_team(), {}
    if case == "foreign team" and not team:
        pytest.skip("this build pins no package team (scripts/test's ASan build does)")
    if team and case in ("installs", "foreign team"):
        signer = fake_pkgutil(tmp_path, "ZYXWV98765" if case == "foreign team" else team)
    if case != "idle":
        write_config(config_dir, fake_service)
    if case == "garbled manifest":
        fake_service.control(latest={"body": '{"version": "0.25.0\x1b[2J\n[INFO] x', "sticky": True})
    if case == "forged digest":
        fake_service.control(manifest={"sha256": "00\n[INFO] Update 0.25.0 installiert\x1b[2J\u202e"})
    temporary = tmp_path / "missing" / "tmp"  # made when needed; the trailing slash is fine
    d = daemon(KORVANE_UPDATE_MANIFEST_URL=fake_service.url("/downloads/macos/latest.json"), TMPDIR=f"{temporary}/",
               LD_PRELOAD=FAKETIME[0], FAKETIME="+0 x" + ("1000" if case == "idle" else "20"), FAKETIME_NO_CACHE="1",
               FAKETIME_DONT_FAKE_MONOTONIC="1",  # request time bounds stay real
               # An AddressSanitizer build refuses a preloaded library ahead of its runtime unless told it is fine.
               ASAN_OPTIONS="verify_asan_link_order=0:" + client_env(config_dir).get("ASAN_OPTIONS", ""), **signer)
    if case == "idle":
        # An idle daemon puts back a status that went missing, at its next hourly look.
        d.new_status()
        (config_dir / "status.json").unlink()
        d.wait_for(lambda: d.status())
        time.sleep(3 * 120 / 1000)  # long enough for three checks, had the worker been started
        assert fake_service.requests() == [] and not any("App-Update" in m for m in d.messages())
        return
    if case in ("garbled manifest", "forged digest"):
        word = "Update-Manifest" if case == "garbled manifest" else "SHA-256"
        d.wait_for(lambda: any(word in m for m in d.messages()), 60)
        [line] = [m for m in d.messages() if word in m]
        # The decoder's complaint and the expected digest stay one inert line whatever bytes the host sent.
        assert line == ("[WARN] Update-Manifest konnte nicht geladen werden: "
                        f"{fake_service.url('/downloads/macos/latest.json')} (not valid JSON)"
                        if word == "Update-Manifest" else
                        "[ERROR] SHA-256 des heruntergeladenen pkg passt nicht zum Manifest (erwartet 00\\n[INFO] "
                        f"Update 0.25.0 installiert\\x1B[2J\\u202E, erhalten {fake_service.settings()['packageSha256']}) "
                        "— Update abgebrochen.")
        return
    if case == "foreign team":
        d.wait_for(lambda: any(m.startswith("[ERROR] Das heruntergeladene pkg") for m in d.messages()), 60)
        assert ("[ERROR] Das heruntergeladene pkg ist nicht mit dem Developer-ID-Installer-Zertifikat des Teams "
                f"{team} signiert (signiert vom Team ZYXWV98765) — Update abgebrochen.") in d.messages()
        assert not [m for m in d.messages() if "installier" in m] and not list(temporary.glob("*/*"))
        assert (tmp_path / "calls").read_text().startswith("pkgutil --check-signature ")
        return
    # Well before the real two minutes; this system has no /usr/sbin/installer, so the installation fails.
    d.wait_for(lambda: any(m.startswith("[ERROR] Update-Installation fehlgeschlagen: ") for m in d.messages()), 60)
    messages = d.messages()
    assert "[ERROR] Update-Installation fehlgeschlagen: /usr/sbin/installer: No such file or directory" in messages
    assert (("[WARN] Signatur des pkg nicht geprüft: diesem Entwicklungs-Build ist kein Developer-ID-Team "
             "eingebaut.") in messages) == (not team)
    assert "[INFO] App-Update-Worker gestartet (aktuelle Version 0.24.0, Prüfintervall 12h)." in messages
    assert "[INFO] Neue Version 0.25.0 verfügbar (aktuell 0.24.0)." in messages
    paths = [r["path"] for r in fake_service.requests() if r["path"].startswith("/downloads/")]
    assert paths == ["/downloads/macos/latest.json", "/downloads/macos/RuzEdaRoredo-0.25.0.pkg"]
    assert d.still_running()
    # The verified package is kept in a private directory of its own for the next attempt.
    [kept] = temporary.glob("korvane-update-*/RuzEdaRoredo-0.25.0.pkg")
    assert f"[INFO] Update 0.25.0 wird installiert ({kept})." in messages
    assert re.fullmatch(r"korvane-update-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}",
                        kept.parent.name)
    assert stat.S_IMODE(kept.parent.stat().st_mode) == 0o700
    assert fake_service.settings()["packageSha256"] == hashlib.sha256(kept.read_bytes()).hexdigest()


# What killed writes left in the directory goes at the next start or configure: only regular files of this
# program's own temporary names, owned by it and older than a write takes. An open directory is reported.
@pytest.mark.parametrize("command", ["run", "configure"])
def test_leftovers_of_killed_writes_are_swept(config_dir, daemon, command):
    ours = ["config.json.tmp.a1B2c3", "ipstate.json.tmp.XXXXXX", "status.json.tmp.000000"]
    for name in [*ours, "config.json.tmp.a1B2c", "notes.json.tmp.a1B2c3", "status.json.tmp.a1B2c3x", "other",
                 "config.json.tmp.nobody", "config.json.tmp.fresh1"]:
        (config_dir / name).write_text(KEY)
    os.chown(config_dir / "config.json.tmp.nobody", 65534, 65534)
    (config_dir / "status.json.tmp.link01").symlink_to(config_dir / "other")
    for name in ["config.json.tmp", "ipstate.json.tmp", "status.json.tmp", "config.json.tmp.dir001"]:
        (config_dir / name).mkdir()  # nothing at the plain names stops a write
    old = time.time() - 3600
    for path in config_dir.iterdir():
        if not path.name.endswith("fresh1"):
            os.utime(path, (old, old), follow_symlinks=False)
    config_dir.chmod(0o777)
    kept = sorted({p.name for p in config_dir.iterdir()} - set(ours))
    if command == "run":
        d = daemon()
        d.new_status()
        assert f"[WARN] Konfigurationsverzeichnis für andere Benutzer beschreibbar: {config_dir} — Rechte prüfen." \
            in d.messages()
    else:
        assert run(config_dir, "configure", "--hostname", HOST, "--api-key-stdin", input=KEY.encode()).returncode == 0
    assert sorted({p.name for p in config_dir.iterdir()} - {"config.json", "status.json"}) == kept
    assert stat.S_IMODE(config_dir.stat().st_mode) == 0o777


# --- network changes, in a network namespace of its own with the fake on the namespace's loopback -----------

@pytest.fixture
def netns():
    """A namespace held open by a sleeping process; yields the prefix that runs a program inside it."""
    root = os.geteuid() == 0
    holder = subprocess.Popen(["unshare", *(["-n"] if root else ["-r", "-n"]), "--", "sleep", "600"],
                              stderr=subprocess.PIPE)
    own, deadline = os.readlink("/proc/self/ns/net"), time.monotonic() + 5
    while holder.poll() is None and time.monotonic() < deadline:
        try:
            if os.readlink(f"/proc/{holder.pid}/ns/net") != own:
                break
        except OSError:
            pass
        time.sleep(0.01)
    else:
        stop(holder)
        pytest.skip(f"network namespaces not permitted here: {holder.stderr.read().decode().strip()}")
    prefix = ["nsenter", "-t", str(holder.pid), "-n", *([] if root else ["-U", "--preserve-credentials"])]
    for step in ["link set lo up", "link add kv0 type dummy || ip link add kv0 type veth peer name kv1 && "
                 "ip link set kv1 up", "link set kv0 up"]:
        done = subprocess.run([*prefix, "sh", "-c", "ip " + step], capture_output=True, text=True)
        if done.returncode != 0:
            stop(holder)
            pytest.skip(f"cannot set up the namespace's interfaces: {done.stderr.strip()}")
    yield prefix
    stop(holder)


# A changed address brings the next cycle forward, a flapping link once a minute at most, and nothing wakes
# the pause that follows a permanent rejection.
@pytest.mark.parametrize("api_key, changes, early", [
    (KEY, ["addr add 10.77.0.2/24 dev kv0"], 1),
    (KEY, ["link set kv0 down", "link set kv0 up", "link set kv0 down", "link set kv0 up"], 1),
    ("dyndns_wrongkey", ["addr add 10.77.0.2/24 dev kv0"], 0),
], ids=["address", "flapping link", "after badauth"])
@linux_only("a network namespace of its own (unshare -n, ip) to change interfaces in")
def test_network_change_brings_the_next_cycle_forward(api_key, changes, early, netns, config_dir, tmp_path):
    with FakeService(tmp_path / "fake", "--verbose", launcher=netns) as fake:
        write_config(config_dir, fake, updateIntervalMinutes=5, apiKey=api_key)
        with open(tmp_path / "daemon.log", "wb") as out:
            daemon = subprocess.Popen([*netns, CLIENT, "run"], stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.STDOUT, env=client_env(config_dir, fake))
        log, moved = (tmp_path / "daemon.log").read_text, "[INFO] Netzwerkänderung erkannt — Aktualisierung vorgezogen."

        def cycles(count):
            deadline = time.monotonic() + 30
            while fake.stderr_text().count('"GET /ip4 ') < count or not (config_dir / "status.json").exists():
                assert daemon.poll() is None and time.monotonic() < deadline, log()
                time.sleep(0.05)

        try:
            cycles(1)
            # The first change brings a cycle forward once it has settled (2 s): that cycle is waited for. Where
            # none may come, and for the later changes, which only the rate limit holds back, the settling is.
            for i, change in enumerate(changes):
                subprocess.run([*netns, "sh", "-c", "ip " + change], check=True)
                cycles(2) if early and i == 0 else time.sleep(2.5)
            requests = fake.stderr_text()
            assert requests.count('"GET /ip4 ') == 1 + early, requests
            # An early cycle is an ordinary one: the address is unchanged, so nothing is sent.
            assert requests.count('"GET /nic/update') == 1, requests
            assert log().count(moved) == early, log()
            assert daemon.poll() is None
        finally:
            stop(daemon)
