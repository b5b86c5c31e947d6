"""The package's preinstall/postinstall and the uninstaller, against a fake launchctl that records its calls.

Files go to a staged root (DESTDIR); launchd is the fake on PATH, whose state file says whether the job is
loaded and with which pid.
"""
import os
import shutil
import stat
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
SCRIPTS = REPO / "packaging/macos/scripts"
FAKES = Path(__file__).resolve().parent / "fakes"
PLIST = "Library/LaunchDaemons/com.korvane.client.plist"
LOG_DIR = "Library/Logs/RuzEdaRoredo"
CONFIG_DIR = "Library/Application Support/RuzEdaRoredo"
JOB = "system/com.korvane.client"

needs_root = pytest.mark.skipif(os.geteuid() != 0, reason="the scripts give the directories to root")


class Machine:
    """A staged root plus the fake launchd, ps and pkgutil."""

    def __init__(self, base: Path, shell: str):
        self.shell = shell
        self.root = base / "root"
        self.root.mkdir()
        self.calls_file = base / "launchctl.calls"
        self.state_file = base / "launchctl.state"
        self.ps_file = base / "ps.lines"
        self.env = dict(os.environ)
        self.env.pop("KORVANE_SELF_UPDATE", None)
        self.env.update({
            "PATH": f"{FAKES}:{os.environ['PATH']}",
            "DESTDIR": str(self.root),
            "FAKE_LAUNCHCTL_LOG": str(self.calls_file),
            "FAKE_LAUNCHCTL_STATE": str(self.state_file),
            "FAKE_PS_LINES": str(self.ps_file),
        })

    def load_job(self, pid=4711):
        self.state_file.write_text(f"{pid}\n")

    def job_loaded(self):
        return self.state_file.exists()

    def processes(self, *lines):
        self.ps_file.write_text("".join(f"{line}\n" for line in lines))

    def calls(self):
        return self.calls_file.read_text().splitlines() if self.calls_file.exists() else []

    def lay_payload(self):
        target = self.root / PLIST
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(REPO / "packaging/macos/com.korvane.client.plist", target)

    def run(self, script, *args, extra_env=None):
        env = dict(self.env, **(extra_env or {}))
        return subprocess.run([*self.shell.split(), str(script), *args], env=env, capture_output=True, text=True,
                              timeout=60)

    def install(self, volume="/", extra_env=None):
        """What Installer does: preinstall, the payload, postinstall; each script's result."""
        args = ("/tmp/Korvane-0.25.0.pkg", "/", volume)
        pre = self.run(SCRIPTS / "preinstall", *args, extra_env=extra_env)
        self.lay_payload()
        post = self.run(SCRIPTS / "postinstall", *args, extra_env=extra_env)
        return pre, post


# Debian's sh is dash; macOS runs package scripts with bash in POSIX mode. Both must work.
@pytest.fixture(params=["/bin/sh", "bash --posix"])
def machine(tmp_path, request):
    if shutil.which(request.param.split()[0]) is None:
        pytest.skip(f"{request.param} is not installed")
    return Machine(tmp_path, request.param)


def state_files(config_dir: Path):
    """config.json, ipstate.json and status.json as an administrator's machine holds them."""
    config_dir.mkdir(parents=True, exist_ok=True)
    files = {"config.json": (b'{"hostname":"zuhause.korvane.example"}', 0o600),
             "ipstate.json": (b'{"ipv4":"203.0.113.7"}', 0o644),
             "status.json": (b'{"state":"ok"}', 0o644)}
    for name, (content, mode) in files.items():
        path = config_dir / name
        path.write_bytes(content)
        os.chmod(path, mode)
        os.utime(path, (1_000_000_000, 1_000_000_000))
    return files


def assert_untouched(config_dir: Path, files):
    for name, (content, mode) in files.items():
        info = (config_dir / name).stat()
        assert (config_dir / name).read_bytes() == content, name
        assert stat.S_IMODE(info.st_mode) == mode, name
        assert info.st_mtime == 1_000_000_000, name


# Which launchctl calls each kind of install makes; the job runs afterwards in every case. Each script first
# asks for the job's pid (is this the job's own installer?), then whether it is loaded.
PRINT = f"print {JOB}"
REPLACE = [PRINT, PRINT, f"bootout {JOB}", PRINT, PRINT, "bootstrap system {plist}"]
INSTALL_CASES = {
    "fresh": dict(loaded=False, env={}, processes=(), calls=[PRINT, PRINT, PRINT, PRINT, "bootstrap system {plist}"]),
    "upgrade": dict(loaded=True, env={}, processes=(), calls=REPLACE),
    # The daemon's own installer: the job is its parent and must not be stopped.
    "self-update": dict(loaded=True, env={"KORVANE_SELF_UPDATE": "1"}, processes=(), calls=[]),
    # The variable did not reach the scripts, but the installer is a child of the job's process.
    "self-update, seen from the process tree": dict(
        loaded=True, env={}, processes=("4711 /usr/sbin/installer", "1 /usr/sbin/installd"), calls=[PRINT, PRINT]),
    # Some other installer is running: an ordinary upgrade.
    "upgrade beside another installer": dict(
        loaded=True, env={"KORVANE_SELF_UPDATE": "0"}, processes=("1 /usr/sbin/installer", "4711 sleep"),
        calls=REPLACE),
}


@needs_root
@pytest.mark.parametrize("case", INSTALL_CASES.keys())
def test_install_replaces_the_job_only_when_not_a_self_update(machine, case):
    spec = INSTALL_CASES[case]
    if spec["loaded"]:
        machine.load_job()
    machine.processes(*spec["processes"])
    files = state_files(machine.root / CONFIG_DIR) if spec["loaded"] else None

    pre, post = machine.install(extra_env=spec["env"])

    assert (pre.returncode, post.returncode) == (0, 0), pre.stdout + pre.stderr + post.stdout + post.stderr
    plist = machine.root / PLIST
    assert machine.calls() == [call.format(plist=plist) for call in spec["calls"]]
    assert machine.job_loaded()
    if files:
        assert_untouched(machine.root / CONFIG_DIR, files)


@needs_root
def test_self_update_leaves_the_running_job_and_its_pid(machine):
    machine.load_job(pid=815)
    machine.install(extra_env={"KORVANE_SELF_UPDATE": "1"})
    assert not any(call.startswith(("bootout", "bootstrap")) for call in machine.calls())
    assert machine.state_file.read_text().strip() == "815"


@needs_root
def test_install_creates_the_directories_readable_for_the_user(machine):
    log_dir = machine.root / LOG_DIR
    log_dir.mkdir(parents=True)
    os.chmod(log_dir, 0o700)  # what the menu-bar app's chmod hint is about
    (log_dir / "daemon.log").write_text("2026-12-08 10:00:00 [INFO] alt\n")

    pre, post = machine.install()

    assert post.returncode == 0, post.stderr
    for relative in (LOG_DIR, CONFIG_DIR):
        info = (machine.root / relative).stat()
        assert stat.S_IMODE(info.st_mode) == 0o755, relative
        assert (info.st_uid, info.st_gid) == (0, 0), relative
    assert (log_dir / "daemon.log").read_text() == "2026-12-08 10:00:00 [INFO] alt\n"
    assert not any((machine.root / CONFIG_DIR).iterdir())


@needs_root
def test_install_onto_another_volume_leaves_launchd_alone(machine):
    machine.load_job()
    volume = "/Volumes/Reserve"
    pre, post = machine.install(volume=volume)
    # The payload of this test lies on "/", the directories go to the target volume.
    assert (pre.returncode, post.returncode) == (0, 0)
    assert machine.calls() == []
    assert (machine.root / volume.lstrip("/") / LOG_DIR).is_dir()
    assert not (machine.root / LOG_DIR).exists()


@needs_root
@pytest.mark.parametrize("failing, script", [("bootstrap", "postinstall"), ("bootout", "preinstall")])
def test_a_failing_launchctl_fails_the_install_with_a_hint(machine, failing, script):
    machine.load_job()
    pre, post = machine.install(extra_env={"FAKE_LAUNCHCTL_FAIL": failing})
    result = pre if script == "preinstall" else post
    assert result.returncode == 1
    assert f"launchctl {failing}" in result.stdout


# --- uninstall --------------------------------------------------------------------------------------------

def staged_payload(machine: Machine, build_dir: Path):
    """The real payload from the build's install rules, as the package lays it down."""
    subprocess.run([str(REPO / "packaging/macos/build-pkg"), "--layout-only", "--build-dir", str(build_dir),
                    "--stage", str(machine.root)], check=True, capture_output=True, timeout=300)
    return sorted(p.relative_to(machine.root) for p in machine.root.rglob("*") if not p.is_dir())


@pytest.mark.parametrize("purge", [False, True])
def test_uninstall_removes_the_payload_and_keeps_the_configuration_unless_purged(machine, menubar_build_dir,
                                                                                  purge):
    payload = staged_payload(machine, menubar_build_dir)
    assert Path("usr/local/share/korvane/uninstall") in payload
    files = state_files(machine.root / CONFIG_DIR)
    (machine.root / LOG_DIR).mkdir(parents=True)
    (machine.root / LOG_DIR / "daemon.log").write_text("log\n")
    machine.load_job()

    uninstaller = machine.root / "usr/local/share/korvane/uninstall"
    result = machine.run(uninstaller, *(["--purge"] if purge else []))

    assert result.returncode == 0, result.stderr
    assert machine.calls() == [f"print {JOB}", f"bootout {JOB}", "pkgutil --forget com.korvane.client"]
    assert not machine.job_loaded()
    left = sorted(p.relative_to(machine.root) for p in machine.root.rglob("*") if not p.is_dir())
    assert not set(left) & set(payload)
    assert not (machine.root / "Applications/Korvane.app").exists()
    if purge:
        assert left == []
        assert not (machine.root / CONFIG_DIR).exists()
    else:
        assert_untouched(machine.root / CONFIG_DIR, files)
        assert (machine.root / LOG_DIR / "daemon.log").read_text() == "log\n"
        assert str(machine.root / CONFIG_DIR) in result.stdout


def test_uninstall_from_the_source_tree_without_a_loaded_job(machine):
    program = machine.root / "usr/local/bin/korvane-client"
    program.parent.mkdir(parents=True)
    program.write_text("#!/bin/sh\n")
    result = machine.run(REPO / "packaging/macos/uninstall")
    assert result.returncode == 0, result.stderr
    assert machine.calls() == [f"print {JOB}", "pkgutil --forget com.korvane.client"]
    assert not program.exists()


def test_uninstall_rejects_an_unknown_option_and_removes_nothing(machine):
    program = machine.root / "usr/local/bin/korvane-client"
    program.parent.mkdir(parents=True)
    program.write_text("#!/bin/sh\n")
    machine.load_job()
    result = machine.run(REPO / "packaging/macos/uninstall", "--purge-all")
    assert result.returncode == 64
    assert "Unbekannte Option: --purge-all" in result.stderr
    assert program.exists()
    assert machine.calls() == []
    assert machine.job_loaded()


def test_uninstall_quits_the_menu_bar_app_of_the_console_user_only(machine):
    app = "/Applications/Korvane.app/Contents/MacOS/Korvane"
    alice, bob = (subprocess.Popen(["sleep", "60"]) for _ in range(2))
    try:
        machine.processes(f"{alice.pid} alice {app}", f"{bob.pid} bob {app}", f"{os.getpid()} alice /bin/sleep")
        result = machine.run(REPO / "packaging/macos/uninstall", extra_env={"FAKE_CONSOLE_USER": "alice"})
        assert result.returncode == 0, result.stderr
        assert alice.wait(timeout=10) == -15
        assert bob.poll() is None
        assert "Menüleisten-App von alice beendet." in result.stdout
    finally:
        for process in (alice, bob):
            process.kill()
            process.wait()
