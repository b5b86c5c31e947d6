"""`korvane-client run` as a process: the first cycle and its status.json, the app-update worker under a faster
clock. The loop (later cycles, early ends, back-off, idle mode) is DaemonLoopTest's, a real network change
test_ipv6_source's."""
import fcntl
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

from conftest import (CLIENT, HOST, KEY, LINE, REPO, VERSION, client_env, linux_only, mac_only, mounted,
                      need_mount_namespace, needs_client, run, write_config)
from fakeservice import stop

pytestmark = needs_client
START = f"[INFO] korvane-client {VERSION} startet (Daemon-Modus)."
WORKER = f"[INFO] Update-Worker gestartet (Intervall {{}} min, Host {HOST})."
FAKETIME = sorted(glob.glob("/usr/lib/*/faketime/libfaketimeMT.so.1"))


def faster(times):
    """The environment that preloads libfaketime, so that the daemon's clock runs `times` as fast; the pid
    started stays the daemon's own, and request time bounds stay real."""
    return dict(LD_PRELOAD=FAKETIME[0], FAKETIME=f"+0 x{times}", FAKETIME_NO_CACHE="1", FAKETIME_DONT_FAKE_MONOTONIC="1",
                # An AddressSanitizer build refuses a preloaded library ahead of its runtime unless told it is fine.
                ASAN_OPTIONS="verify_asan_link_order=0:" + os.environ.get("ASAN_OPTIONS", ""))


class Daemon:
    """One `korvane-client run`, its output in a file; ended by its own pid."""

    def __init__(self, config_dir, env, log, launcher=()):
        self.config_dir, self.log = config_dir, log
        with open(self.log, "ab") as out:  # as launchd opens the daemon log
            self.process = subprocess.Popen([*launcher, CLIENT, "run"], stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=subprocess.STDOUT, env=env, start_new_session=True)

    def new_status(self):
        self.wait_for(lambda: self.status() and dict(self.status())["daemonVersion"] == VERSION)
        return self.status()

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

    def still_running(self):
        # A waiting daemon stays until stopped; a crash or an exit shows up within this second.
        time.sleep(1)
        return self.process.poll() is None


@pytest.fixture
def daemon(config_dir, fake_service, tmp_path):
    started = []

    def start(launcher=(), log=tmp_path / "daemon.log", **extra):
        # The log beside this test's own files: runs on one machine at once must not share it.
        started.append(Daemon(config_dir, client_env(config_dir, fake_service, **extra), log, launcher))
        return started[-1]

    yield start
    for d in started:
        stop(d.process, grace=10)


def at(text):
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=timezone.utc)


def now():
    return datetime.now(timezone.utc).replace(microsecond=0)


# The first cycle against the service: status.json as other processes read it, the lines, one update sent.
def test_first_cycle(config_dir, fake_service, daemon):
    write_config(config_dir, fake_service)
    before = now()
    d = daemon()
    d.wait_for(lambda: len(d.messages()) == 3 and d.status())
    keys, values = zip(*d.status())
    assert keys == ("daemonVersion", "hostname", "lastIpv4", "lastSuccessAt", "message", "state", "updatedAt")
    assert values[:3] + values[4:6] == (VERSION, HOST, "203.0.113.7", "DynDNS aktualisiert: 203.0.113.7.", "ok")
    assert before <= at(values[3]) <= at(values[6]) <= now()
    assert stat.S_IMODE((config_dir / "status.json").stat().st_mode) == 0o644
    # The next cycle is minutes away; the daemon waits for it and sends nothing more.
    assert d.still_running()
    assert d.messages() == [START, WORKER.format(5), "[INFO] DynDNS aktualisiert: 203.0.113.7."]
    assert len(fake_service.requests("/nic/update")) == 1
    assert KEY not in d.log.read_text()


# What launchd and newsyslog do to the daemon log: launchd appends the daemon's output to it; newsyslog renames it
# to daemon.log.0 and creates a new file with its own line in it, signalling nobody. The next lines follow in the
# new file and the old one stops growing. The log's directory exists only in a mount namespace of the test's own:
# a tmpfs root with the machine's top-level directories bound into it and the test's directory at the log's place.
CHROOT = r"""root=$1 logs=$2 client=$(realpath "$3"); shift 3; mount -t tmpfs tmpfs "$root" || exit
for entry in /*; do
    if [ -L "$entry" ]; then ln -s "$(readlink "$entry")" "$root$entry"
    elif [ -d "$entry" ]; then
        mkdir "$root$entry" && case $entry in /dev|/proc|/sys) mount --rbind "$entry" "$root$entry" ;;
                                              *) mount --bind "$entry" "$root$entry" ;; esac || exit
    fi
done
mkdir -p "$root/Library/Logs/RuzEdaRoredo" && mount --bind "$logs" "$root/Library/Logs/RuzEdaRoredo" &&
exec chroot "$root" "$client" "$@" """


# On a Mac, whose own code follows the file there, the log is at a path of the test's choosing and a cycle comes
# each minute in real time.
@pytest.mark.parametrize("form", [
    pytest.param("namespace", marks=[linux_only("a mount namespace with the log's directory, and libfaketime"),
                                     pytest.mark.skipif(not FAKETIME, reason="libfaketime is not installed")]),
    pytest.param("chosen path", marks=mac_only("the log at a path of the test's choosing, in real time; Linux "
                                               "runs the namespace form")),
])
def test_the_daemon_log_survives_its_rotation(form, config_dir, fake_service, daemon, tmp_path):
    logs, root = tmp_path / "logs", tmp_path / "root"
    logs.mkdir(), root.mkdir()
    write_config(config_dir, fake_service, updateIntervalMinutes=1)
    fake_service.control(update={"body": "911", "sticky": True})  # a WARN line every cycle
    log, old, turnover = logs / "daemon.log", logs / "daemon.log.0", "Dec  9 03:00:00 mac newsyslog[42]: turned over\n"
    if form == "namespace":
        need_mount_namespace()
        d, seconds = daemon(["unshare", "-m", "sh", "-c", CHROOT, "sh", root, logs], log, **faster(60)), 30
    else:
        d, seconds = daemon((), log, KORVANE_DAEMON_LOG=str(log)), 150
    lines = lambda path: path.read_text().splitlines()  # noqa: E731
    d.wait_for(lambda: len(lines(log)) >= 3, seconds)
    log.rename(old)
    with open(os.open(log, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644), "w") as new:
        new.write(turnover)
    d.wait_for(lambda: len(lines(log)) >= 2, seconds)
    rotated = old.read_text()
    d.wait_for(lambda: len(lines(log)) >= 3, seconds)
    assert log.read_text().startswith(turnover) and all(LINE.match(line) for line in lines(log)[1:])
    assert old.read_text() == rotated


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


# The real delays (two minutes, then 12 hours) pass 20 times faster: libfaketime is
# preloaded directly, so the pid started is the daemon's own. A build that pins a team checks the package with
# a fake pkgutil: the package of another team is deleted unseen by the installer.
@linux_only("libfaketime, preloaded with LD_PRELOAD, speeds up the daemon's clock")
@pytest.mark.skipif(not FAKETIME, reason="libfaketime is not installed")
@pytest.mark.parametrize("case", ["installs", "garbled manifest", "forged digest", "plain http", "stalled download",
                                  "foreign team", "full disk"])
def test_the_app_update_worker_runs_only_in_a_working_daemon(config_dir, fake_service, daemon, tmp_path, case):
    team, signer = pinned_team(), {}
    if case == "foreign team" and not team:
        pytest.skip("this build pins no package team (scripts/test's ASan build does)")
    if team and case in ("installs", "foreign team"):
        signer = fake_pkgutil(tmp_path, "ZYXWV98765" if case == "foreign team" else team)
    write_config(config_dir, fake_service)
    if case == "garbled manifest":
        fake_service.control(latest={"body": '{"version": "0.25.0\x1b[2J\n[INFO] x', "sticky": True})
    if case == "forged digest":
        fake_service.control(manifest={"sha256": "00\n[INFO] Update 0.25.0 installiert\x1b[2J\u202e"})
    if case == "plain http":  # one character of 600 combining marks: the shown URL ends at its 1024 bytes
        fake_service.control(manifest={"url": "http://x" + "a" + "\u0301" * 600})
    temporary = tmp_path / "missing" / "tmp"  # made when needed; the trailing slash is fine
    launcher, clock = signer.pop("launcher", ()), faster(20)
    if case == "stalled download":  # the download's idle bound is monotonic time, sped up here too
        fake_service.control(pkg={"stallBody": 30})
        clock["FAKETIME_DONT_FAKE_MONOTONIC"] = "0"
    if case == "full disk":  # room for the working directory, not for the package
        need_mount_namespace()
        temporary.mkdir(parents=True)
        fake_service.control(packageSize=1 << 20)
        launcher = ["unshare", "-m", "sh", "-c", 'mount -t tmpfs -o size=64k tmpfs "$0" && exec "$@"', temporary]
    d = daemon(launcher, KORVANE_UPDATE_MANIFEST_URL=fake_service.url("/downloads/macos/latest.json"),
               TMPDIR=f"{temporary}/", **clock, **signer)
    if case == "stalled download":
        d.wait_for(lambda: any("Update-Download" in m for m in d.messages()), 60)
        assert ("[ERROR] Update-Download fehlgeschlagen: Timeout was reached: no data received for 300000 "
                "milliseconds" in d.messages()) and d.still_running()
        return
    if case == "plain http":
        d.wait_for(lambda: any("Update-URL" in m for m in d.messages()), 60)
        assert ("[ERROR] Update-URL ungültig oder nicht https: http://xa" + "\u0301" * 507 + "… — Update abgebrochen."
                in d.messages())
        assert not [r for r in fake_service.requests() if r["path"].endswith(".pkg")]
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
    if case == "full disk":
        [line] = [m for m in messages if "nstall" in m]  # the installer never started
        assert re.fullmatch(r"\[ERROR\] Update-Installation fehlgeschlagen: .*/korvane-update-[-0-9A-F]+/"
                            r"RuzEdaRoredo-0\.25\.0\.pkg: No space left on device", line), messages
        return
    assert "[ERROR] Update-Installation fehlgeschlagen: /usr/sbin/installer: No such file or directory" in messages
    assert (("[WARN] Signatur des pkg nicht geprüft: diesem Entwicklungs-Build ist kein Developer-ID-Team "
             "eingebaut.") in messages) == (not team)
    assert f"[INFO] App-Update-Worker gestartet (aktuelle Version {VERSION}, Prüfintervall 12h)." in messages
    assert f"[INFO] Neue Version 0.25.0 verfügbar (aktuell {VERSION})." in messages
    paths = [r["path"] for r in fake_service.requests() if r["path"].startswith("/downloads/")]
    assert paths == ["/downloads/macos/latest.json", "/downloads/macos/RuzEdaRoredo-0.25.0.pkg"]
    assert d.still_running()
    # The verified package is kept in a private directory of its own for the next attempt.
    [kept] = temporary.glob("korvane-update-*/*")
    assert kept.name == "RuzEdaRoredo-0.25.0.pkg"
    assert f"[INFO] Update 0.25.0 wird installiert ({kept})." in messages
    assert re.fullmatch(r"korvane-update-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}",
                        kept.parent.name)
    assert stat.S_IMODE(kept.parent.stat().st_mode) == 0o700
    assert fake_service.settings()["packageSha256"] == hashlib.sha256(kept.read_bytes()).hexdigest()


# What killed writes left in the directory goes at once at the next start or configure: only regular files of
# this program's own temporary names, owned by it and held by no writer. An open directory is reported.
@pytest.mark.parametrize("command", ["run", "configure"])
def test_leftovers_of_killed_writes_are_swept(config_dir, daemon, command):
    ours = ["config.json.tmp.a1B2c3", "ipstate.json.tmp.XXXXXX", "status.json.tmp.000000", "dnscheck.json.tmp.Zz9yX8"]
    for name in [*ours, "config.json.tmp.a1B2c", "notes.json.tmp.a1B2c3", "status.json.tmp.a1B2c3x", "other",
                 "config.json.tmp.nobody", "ipstate.json.tmp.held01"]:
        (config_dir / name).write_text(KEY)
    os.chown(config_dir / "config.json.tmp.nobody", 65534, 65534)
    (config_dir / "status.json.tmp.link01").symlink_to(config_dir / "other")
    os.mkfifo(config_dir / "dnscheck.json.tmp.fifo01")
    for name in ["config.json.tmp", "ipstate.json.tmp", "status.json.tmp", "config.json.tmp.dir001"]:
        (config_dir / name).mkdir()  # nothing at the plain names stops a write
    config_dir.chmod(0o777)
    kept = sorted({p.name for p in config_dir.iterdir()} - set(ours))
    held = open(config_dir / "ipstate.json.tmp.held01")  # closed when the test returns
    fcntl.flock(held, fcntl.LOCK_EX)  # as a writer holds its file until the rename
    if command == "run":
        d = daemon()
        d.new_status()
        assert f"[WARN] Konfigurationsverzeichnis für andere Benutzer beschreibbar: {config_dir} — Rechte prüfen." \
            in d.messages()
    else:
        assert run(config_dir, "configure", "--hostname", HOST, "--api-key-stdin", input=KEY.encode()).returncode == 0
    assert sorted({p.name for p in config_dir.iterdir()} - {"config.json", "status.json"}) == kept
    assert stat.S_IMODE(config_dir.stat().st_mode) == 0o777
