"""What a release ships: the package's payload and launchd job, its install scripts and uninstaller (against
a fake launchctl, ps and pkgutil), the man page, and scripts/release-manifest against the daemon's decoder."""
import hashlib
import json
import os
import plistlib
import re
import shutil
import stat
import subprocess
from pathlib import Path

import pytest

from conftest import CLIENT, REPO, linux_only, needs_client

HERE = Path(__file__).resolve().parent
PLIST, LOG_DIR, CONFIG_DIR = ("Library/LaunchDaemons/com.korvane.client.plist", "Library/Logs/RuzEdaRoredo",
                              "Library/Application Support/RuzEdaRoredo")
SERVICE = "system/com.korvane.client"
needs_root = pytest.mark.skipif(os.geteuid() != 0, reason="the scripts give the directories to root")


LINKS = {"usr/local/bin/korvane-client": "/usr/local/korvane/bin/korvane-client",
         "usr/local/share/man/man1/korvane-client.1": "/usr/local/korvane/share/man/man1/korvane-client.1"}


def build_pkg(*args, timeout=300, env=None):
    return subprocess.run([str(REPO / "packaging/macos/build-pkg"), *map(str, args)], capture_output=True,
                          text=True, timeout=timeout, env=env)


def stub_tools(directory, **bodies):
    directory.mkdir(exist_ok=True)
    for name, body in bodies.items():
        (directory / name).write_text(f"#!/bin/sh\n{body}\n")
        (directory / name).chmod(0o755)
    env = {k: v for k, v in os.environ.items() if not k.startswith("KORVANE_")}
    return dict(env, PATH=f"{directory}:/usr/bin:/bin")


class Machine:
    """A staged root (DESTDIR) plus the fake launchd, whose state file exists while the job is loaded."""

    def __init__(self, base, shell):
        self.shell, self.root, self.base = shell, base / "root", base
        self.root.mkdir()
        self.env = {k: v for k, v in os.environ.items() if k != "KORVANE_SELF_UPDATE"}
        self.env.update(PATH=f"{HERE / 'fakes'}:{os.environ['PATH']}", DESTDIR=str(self.root),
                        FAKE_LAUNCHCTL_LOG=str(base / "calls"), FAKE_LAUNCHCTL_STATE=str(base / "state"),
                        FAKE_PS_LINES=str(base / "ps"))

    def load_job(self, pid=4711):
        (self.base / "state").write_text(f"{pid}\n")

    def job(self):
        return (self.base / "state").read_text().strip() if (self.base / "state").exists() else None

    def calls(self):
        return (self.base / "calls").read_text().splitlines() if (self.base / "calls").exists() else []

    def run(self, script, *args, **extra):
        return subprocess.run([*self.shell.split(), str(script), *args], env=dict(self.env, **extra),
                              capture_output=True, text=True, timeout=60)

    def install(self, volume="/", **extra):
        """What Installer does: preinstall, the payload, postinstall."""
        args = ("/tmp/Korvane-0.25.0.pkg", "/", volume)
        pre = self.run(REPO / "packaging/macos/scripts/preinstall", *args, **extra)
        (self.root / PLIST).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(REPO / "packaging/macos/com.korvane.client.plist", self.root / PLIST)
        return pre, self.run(REPO / "packaging/macos/scripts/postinstall", *args, **extra)

    def state_files(self):
        """config.json, ipstate.json and status.json as an administrator's machine holds them."""
        directory = self.root / CONFIG_DIR
        directory.mkdir(parents=True, exist_ok=True)
        for name, mode in (("config.json", 0o600), ("ipstate.json", 0o644), ("status.json", 0o644)):
            (directory / name).write_text(name)
            os.chmod(directory / name, mode)
            os.utime(directory / name, (1_000_000_000, 1_000_000_000))
        return self.kept()

    def kept(self):
        return {p.name: (p.read_bytes(), p.stat().st_mode, p.stat().st_mtime) for p in (self.root / CONFIG_DIR).iterdir()}


# Debian's sh is dash; macOS runs package scripts with bash in POSIX mode. Both must work.
@pytest.fixture(params=["/bin/sh", "bash --posix"])
def machine(tmp_path, request):
    return Machine(tmp_path, request.param)


# Each script first asks for the job's pid (is this the job's own installer?), then whether it is loaded.
PRINT = f"print {SERVICE}"
REPLACE = [PRINT, PRINT, f"bootout {SERVICE}", PRINT, PRINT, "bootstrap system {plist}"]


@needs_root
@pytest.mark.parametrize("loaded, env, ps, calls, pid", [
    (False, {}, "", [PRINT, PRINT, PRINT, PRINT, "bootstrap system {plist}"], "4242"),
    (True, {}, "", REPLACE, "4242"),
    # The daemon's own installer: the job is its parent and must not be stopped.
    (True, {"KORVANE_SELF_UPDATE": "1"}, "", [], "4711"),
    # The variable did not reach the scripts, but the installer is a child of the job's process.
    (True, {}, "4711 /usr/sbin/installer\n1 /usr/sbin/installd\n", [PRINT, PRINT], "4711"),
    # Some other installer is running: an ordinary upgrade.
    (True, {"KORVANE_SELF_UPDATE": "0"}, "1 /usr/sbin/installer\n4711 sleep\n", REPLACE, "4242"),
], ids=["fresh", "upgrade", "self-update", "self-update by process tree", "beside another installer"])
def test_install_replaces_the_job_unless_it_is_a_self_update(machine, loaded, env, ps, calls, pid):
    log_dir = machine.root / LOG_DIR
    log_dir.mkdir(parents=True)
    os.chmod(log_dir, 0o700)  # what the menu-bar app's chmod hint is about
    (log_dir / "daemon.log").write_text("alt\n")
    if loaded:
        machine.load_job()
    files = machine.state_files() if loaded else None
    (machine.base / "ps").write_text(ps)

    pre, post = machine.install(**env)

    assert (pre.returncode, post.returncode) == (0, 0), pre.stdout + pre.stderr + post.stdout + post.stderr
    assert machine.calls() == [call.format(plist=machine.root / PLIST) for call in calls]
    assert machine.job() == pid
    for relative in (LOG_DIR, CONFIG_DIR, "usr/local/bin"):
        info = (machine.root / relative).stat()
        assert (stat.S_IMODE(info.st_mode), info.st_uid, info.st_gid) == (0o755, 0, 0), relative
    assert (log_dir / "daemon.log").read_text() == "alt\n"
    assert machine.kept() == (files or {})
    assert {link: os.readlink(machine.root / link) for link in LINKS} == LINKS


@needs_root
def test_install_onto_another_volume_leaves_launchd_alone(machine):
    machine.load_job()
    pre, post = machine.install(volume="/Volumes/Reserve")
    assert (pre.returncode, post.returncode, machine.calls()) == (0, 0, [])
    assert (machine.root / "Volumes/Reserve" / LOG_DIR).is_dir() and not (machine.root / LOG_DIR).exists()


# Links planted by whoever can write /Library/Logs, /Library/Application Support or /usr/local/bin (Homebrew's
# user): no target is re-owned, and a link to a directory put at the command's name after the script looked
# (here while it makes the folder) is replaced, not followed.
@needs_root
def test_the_install_acts_through_no_planted_link(machine):
    targets = [machine.base / name for name in ("logs", "config", "trap")]
    for target, link in zip(targets, (machine.root / LOG_DIR, machine.root / CONFIG_DIR)):
        link.parent.mkdir(parents=True)
        link.symlink_to(target)
    for target in targets:
        target.mkdir(mode=0o700)
        os.chown(target, 501, 20)
    trap = f'case "$last" in */usr/local/bin) ln -s {targets[2]} "$last/korvane-client" ;; esac'
    stub_tools(machine.base / "bin", mkdir=f'for last; do :; done; /bin/mkdir "$@" || exit\n{trap}')
    pre, post = machine.install(PATH=f"{machine.base / 'bin'}:{machine.env['PATH']}")
    warnings = [line for line in post.stdout.splitlines() if "symbolischer Link" in line]
    assert (post.returncode, len(warnings), machine.job()) == (0, 2, "4242"), post.stdout + post.stderr
    assert [(t.stat().st_uid, stat.S_IMODE(t.stat().st_mode), os.listdir(t)) for t in targets] == [(501, 0o700, [])] * 3
    assert {link: os.readlink(machine.root / link) for link in LINKS} == LINKS


# A refused bootstrap (the user switched the background item off) leaves the files installed: one warning line.
@needs_root
@pytest.mark.parametrize("failing, script, code, lines", [("bootstrap", 1, 0, 1), ("bootout", 0, 1, 2)])
def test_a_failing_launchctl_says_so_in_a_hint(machine, failing, script, code, lines):
    machine.load_job()
    result = machine.install(FAKE_LAUNCHCTL_FAIL=failing)[script]
    hints = [line for line in (result.stdout + result.stderr).splitlines() if f"launchctl {failing}" in line]
    assert (result.returncode, len(hints)) == (code, lines), result.stdout + result.stderr


# On a Mac with Homebrew (Intel: its user owns /usr/local/bin), and an app running for two users.
@needs_root
@pytest.mark.parametrize("purge", [False, True])
def test_uninstall_removes_what_is_ours_and_the_configuration_only_if_purged(machine, menubar_build_dir, purge):
    assert build_pkg("--layout-only", "--build-dir", menubar_build_dir, "--stage", machine.root).returncode == 0
    payload = {p for p in machine.root.rglob("*") if not p.is_dir()}
    bin_dir, man = machine.root / "usr/local/bin", machine.root / "usr/local/share/man/man1/korvane-client.1"
    for directory in (bin_dir, man.parent):
        directory.mkdir(parents=True)
        os.chown(directory, 501, 80)
        os.chmod(directory, 0o775)
    man.symlink_to("/opt/homebrew/share/man/man1/korvane-client.1")
    app = "/Applications/Korvane.app/Contents/MacOS/Korvane"
    alice, bob = (subprocess.Popen(["sleep", "60"]) for _ in range(2))
    (machine.base / "ps").write_text(f"{alice.pid} alice {app}\n{bob.pid} bob {app}\n{os.getpid()} alice /bin/x\n")
    post = [machine.install() for _ in range(2)][-1][1]  # the second finds its own links
    assert (post.returncode, post.stdout.count("Warnung")) == (0, 1), post.stdout
    assert os.readlink(bin_dir / "korvane-client") == LINKS["usr/local/bin/korvane-client"]
    files = machine.state_files()
    uninstall = machine.root / "usr/local/korvane/uninstall"
    result = machine.run(uninstall, *(["--purge"] * purge), FAKE_CONSOLE_USER="alice")
    assert result.returncode == 0, result.stderr
    assert machine.calls()[-3:] == [PRINT, f"bootout {SERVICE}", "pkgutil --forget com.korvane.client"]
    assert (machine.job(), alice.wait(timeout=10), bob.poll()) == (None, -15, None), result.stdout
    bob.kill()
    assert [(d.stat().st_uid, stat.S_IMODE(d.stat().st_mode)) for d in (bin_dir, man.parent)] == [(501, 0o775)] * 2
    left = {p for p in machine.root.rglob("*") if not p.is_dir()}
    assert not left & payload and not (machine.root / "Applications/Korvane.app").exists()
    assert left == {man} if purge else machine.kept() == files and str(machine.root / CONFIG_DIR) in result.stdout


# --- the package -------------------------------------------------------------------------------------------

@needs_client
@linux_only("the recorded listing is of the bundle's layout staged off a Mac (component menubar-bundle)")
def test_the_staged_payload_is_the_recorded_one_built_stripped_and_versioned(menubar_build_dir, tmp_path):
    stage = tmp_path / "root"
    result = build_pkg("--layout-only", "--build-dir", menubar_build_dir, "--stage", stage)
    assert result.returncode == 0, result.stderr
    assert result.stdout == (HERE / "data/pkg-layout.txt").read_text()
    for line in result.stdout.splitlines():
        kind, mode, owner, path = line.split(" ", 3)
        # The listing tells the truth about the staged tree; nothing is writable for others.
        assert stat.S_IMODE((stage / path.lstrip("/")).lstat().st_mode) == int(mode, 8) and not int(mode, 8) & 2
    assert (stage / PLIST).read_bytes() == (REPO / "packaging/macos/com.korvane.client.plist").read_bytes()
    for built, shipped in [("client/korvane-client", "usr/local/korvane/bin/korvane-client"),
                           ("menubar/KorvaneMenuBar", "Applications/Korvane.app/Contents/MacOS/Korvane")]:
        assert (stage / shipped).stat().st_size < (menubar_build_dir / built).stat().st_size, shipped
    version = subprocess.run([CLIENT, "version"], capture_output=True, text=True, check=True).stdout.strip()
    assert f"project(Korvane VERSION {version} " in (REPO / "CMakeLists.txt").read_text()
    assert (stage / LINKS["usr/local/share/man/man1/korvane-client.1"][1:]).read_text() == \
        (REPO / "packaging/man/korvane-client.1.in").read_text().replace("@PROJECT_VERSION@", version)
    staged = plistlib.loads((stage / "Applications/Korvane.app/Contents/Info.plist").read_bytes())
    assert (staged["CFBundleExecutable"], staged["CFBundleIdentifier"], staged["LSUIElement"]) == (
        "Korvane", "com.korvane.KorvaneMenuBar", True)
    # Login Items show the job as the app's.
    assert plistlib.loads((stage / PLIST).read_bytes())["AssociatedBundleIdentifiers"] == [staged["CFBundleIdentifier"]]
    assert (staged["CFBundleShortVersionString"], staged["CFBundleVersion"]) == (version, version)


RELEASE = {"KORVANE_PKG_TEAM_ID": "ABCDE12345", "KORVANE_SERVER_BASE_URL": "https://update.korvane.de",
           "KORVANE_UPDATE_MANIFEST_URL": "https://korvane.de/latest.json", "CMAKE_BUILD_TYPE": "Release"}
SIGNER, MENU = "Developer ID Installer: Korvane GmbH (ABCDE12345)", "KORVANE_BUILD_MENUBAR:BOOL=ON\n"


# Settings from the environment (cache "") or from --build-dir's CMakeCache.txt (None: no file); no refusal: None.
@pytest.mark.parametrize("unsigned, cache, change, refusal", [
    (False, "", {}, None), (False, MENU, {"CMAKE_BUILD_TYPE": "RelWithDebInfo"}, None),
    (True, "", {"KORVANE_PKG_TEAM_ID": "", "KORVANE_SERVER_BASE_URL": ""}, None),
    (False, None, {}, "is not a configured build directory"),
    (False, "KORVANE_BUILD_MENUBAR:BOOL=OFF\n", {}, "has no menu-bar app"),
    (False, "", {"KORVANE_PKG_TEAM_ID": ""}, "refusing to sign: KORVANE_PKG_TEAM_ID is empty"),
    (False, MENU, {"KORVANE_PKG_TEAM_ID": "ZYXWV98765"}, "ZYXWV98765 is not the team of KORVANE_PKG_SIGN_IDENTITY"),
    (False, "", {"KORVANE_SERVER_BASE_URL": ""}, "refusing to sign: KORVANE_SERVER_BASE_URL '' is not a release host"),
    (False, MENU, {"KORVANE_SERVER_BASE_URL": "https://u@Update.Korvane.EXAMPLE.:8443/x"}, "KORVANE_SERVER_BASE_URL"),
    (False, MENU, {"KORVANE_UPDATE_MANIFEST_URL": "https://korvane.example"}, "KORVANE_UPDATE_MANIFEST_URL"),
    (False, MENU, {"CMAKE_BUILD_TYPE": "Debug"}, "build type 'Debug' is not Release or RelWithDebInfo"),
])
def test_build_pkg_refuses_what_it_cannot_package_or_sign_before_building(tmp_path, unsigned, cache, change, refusal):
    env = dict(stub_tools(tmp_path / "bin", uname="echo Darwin", cmake=f'echo "$*" >> {tmp_path}/built'),
               KORVANE_PKG_SIGN_IDENTITY=SIGNER)
    settings = dict(RELEASE, **change)
    if cache:
        (tmp_path / "CMakeCache.txt").write_text(cache + "".join(f"{k}:STRING={v}\n" for k, v in settings.items()))
    env.update((k, v) for k, v in settings.items() if k.startswith("KORVANE_") and v and cache == "")
    result = build_pkg(*["--unsigned"] * unsigned, *["--build-dir", tmp_path] * (cache != ""), env=env, timeout=60)
    lines = result.stderr.splitlines()
    assert result.returncode == 1 and not (tmp_path / "built").exists(), lines
    assert len([line for line in lines if line.startswith("build-pkg: --unsigned skips ")]) == 5 * unsigned
    if refusal:
        assert len(lines) == 1 and refusal in lines[0], lines
    else:  # past every safety, to the first tool it needs, which is missing here
        assert lines[-1].startswith("build-pkg: macdeployqt not found") and "refusing" not in result.stderr, lines


# Off a Mac: this machine's libraries, no download. An install rule that still reaches into /usr/local/bin (a
# directory Homebrew's user may own) is refused.
def test_the_layout_off_a_mac_is_built_offline_and_claims_no_directory_of_someone_else(tmp_path):
    install = ('mkdir -p "$DESTDIR/usr/local/bin" "$DESTDIR/Applications/Korvane.app" "$DESTDIR/usr/local/korvane/bin"'
               ' && install -m 755 /dev/null "$DESTDIR/usr/local/korvane/bin/korvane-client"')
    env = stub_tools(tmp_path / "bin", uname="echo Linux", curl=f"echo curl >> {tmp_path}/cmake; exit 7",
                     cmake=f'if [ "$1" = --install ]; then {install}; else echo "$*" >> {tmp_path}/cmake; fi')
    done = build_pkg("--layout-only", env=dict(env, KORVANE_PACKAGE_BUILD_DIR=str(tmp_path / "build")), timeout=60)
    configure, build = (tmp_path / "cmake").read_text().splitlines()
    assert f"-B {tmp_path}/build" in configure and build.startswith(f"--build {tmp_path}/build"), configure
    assert not re.search("OSX_ARCHITECTURES|UTF8PROC|curl", configure + build), configure
    assert done.returncode == 1 and "would claim /usr/local/bin," in done.stderr, done.stderr


# `otool -L -arch all` of a universal korvane-client as a Mac prints it (plain `otool -L`: the arm64 slice only).
OTOOL = """{path} (architecture x86_64):
\t{x86_64} (compatibility version 1.0.0, current version 1.0.0)
\t/usr/lib/libSystem.B.dylib (compatibility version 1.0.0, current version 1345.120.2)
{path} (architecture arm64):
\t/System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation (compatibility version 150.0.0, \
current version 2503.1.0)
\t/usr/lib/libSystem.B.dylib (compatibility version 1.0.0, current version 1345.120.2)
"""


@pytest.mark.parametrize("path, x86_64, refusal", [
    ("usr/local/korvane/bin/korvane-client", "/usr/lib/libcurl.4.dylib", None),
    ("usr/local/korvane/bin/korvane-client", "/usr/local/opt/openssl@3/lib/libcrypto.3.dylib", "(OpenSSL)"),
    ("usr/local/korvane/bin/korvane-client", "@rpath/libutf8proc.3.dylib", "outside a bundle"),
    ("Applications/Korvane.app/Contents/MacOS/Korvane", "@rpath/QtWidgets.framework/Versions/A/QtWidgets", None),
    ("Applications/Korvane.app/Contents/Info.plist", "/usr/lib/libcurl.4.dylib", "no Mach-O file below"),
])
def test_every_slice_of_every_mach_o_file_loads_only_what_macos_has(tmp_path, path, x86_64, refusal):
    payload = tmp_path / "build/pkg/Korvane.pkg/Payload"
    (payload / path).parent.mkdir(parents=True)
    (payload / path).write_bytes(b"\xca\xfe\xba\xbe")
    (tmp_path / "otool.txt").write_text(OTOOL.format(path=payload / path, x86_64=x86_64))
    env = stub_tools(tmp_path / "bin", file='case "$2" in *.plist) echo XML ;; *) echo Mach-O universal binary ;; esac',
                     otool=f'if [ "$2 $3" = "-arch all" ]; then cat {tmp_path}/otool.txt; '
                           f'else sed -n "/arm64):$/,\\$p" {tmp_path}/otool.txt; fi')
    done = subprocess.run([REPO / "packaging/macos/check-links", payload], env=env, capture_output=True, text=True)
    assert (done.returncode, refusal and refusal in done.stderr) == ((1, True) if refusal else (0, None)), done.stderr


# --- the man page ------------------------------------------------------------------------------------------

@needs_client
@pytest.mark.skipif(shutil.which("groff") is None, reason="groff is not installed")
def test_the_man_page_renders_cleanly_and_names_every_command_option_and_variable():
    source = REPO / "packaging/man/korvane-client.1.in"
    check = subprocess.run(["groff", "-man", "-ww", "-z", str(source)], capture_output=True, timeout=60)
    assert (check.returncode, check.stderr) == (0, b"")
    text = re.sub(r"\\f[BIRP]", "", source.read_text(encoding="ascii")).replace("\\-", "-")
    usage = subprocess.run([CLIENT, "help"], capture_output=True, text=True, check=True).stdout
    code = "".join(p.read_text() for d in ("core", "client") for p in (REPO / d).rglob("*.cpp"))
    variables = {n for pair in re.findall(r'getenv\("([A-Z_]+)"\)|currentEnvironmentWith\("([A-Z_]+)"', code)
                 for n in pair if n}
    for name in re.findall(r"^  ([a-z]+) ", usage, re.M) + re.findall(r"--[a-z0-9-]+", usage) + sorted(variables):
        assert re.search(rf"(?<![\w-]){re.escape(name)}(?![\w-])", text), name


# --- scripts/release-manifest ------------------------------------------------------------------------------

URL = "https://www.korvane.example/downloads/macos/Korvane-0.25.0.pkg"


@pytest.fixture
def manifest(tmp_path):
    checker = os.environ.get("KORVANE_MANIFEST_CHECK")
    if not checker:
        pytest.skip("KORVANE_MANIFEST_CHECK names the built korvane-manifest-check")
    package = tmp_path / "Korvane-0.25.0.pkg"
    package.write_bytes(os.urandom(3000))
    out = tmp_path / "latest.json"

    def make(version="0.25.0", url=URL, *extra):
        # "--" so that versions beginning with "-" stay positional.
        done = subprocess.run(["/usr/bin/python3", str(REPO / "scripts/release-manifest"), "--output", str(out),
                               *extra, "--", str(package), version, url], capture_output=True, text=True, timeout=60)
        seen = subprocess.run([checker, str(out)], capture_output=True, text=True) if out.exists() else None
        return done, json.loads(seen.stdout) if seen and seen.returncode == 0 else None

    make.checker, make.package, make.out = checker, package, out
    return make


@pytest.mark.parametrize("extra, mandatory, notes", [
    ((), False, None), (("--mandatory",), True, None),
    (("--notes", "Behebt den Neustart.\nZweite Zeile: \"zitiert\" / ä"), False,
     "Behebt den Neustart.\nZweite Zeile: \"zitiert\" / ä"),
])
def test_the_manifest_round_trips_through_the_daemons_decoder(manifest, extra, mandatory, notes):
    manifest.out.write_text('{"version": "0.24.0"}')
    done, seen = manifest("0.25.0", URL, *extra)
    assert done.returncode == 0, done.stderr
    assert {k: seen[k] for k in ("version", "url", "sha256", "mandatory", "notes", "complete", "offered")} == {
        "version": "0.25.0", "url": URL, "sha256": hashlib.sha256(manifest.package.read_bytes()).hexdigest(),
        "mandatory": mandatory, "notes": notes, "complete": True, "offered": True}
    # Written exactly as the daemon's JSON writer writes a manifest.
    assert manifest.out.read_text(encoding="utf-8") == seen["reencoded"] + "\n"
    assert stat.S_IMODE(manifest.out.stat().st_mode) == 0o644


@pytest.mark.parametrize("version", ["0.25.0", "1.2.3.4", "+1.2", "-0.5", "007.1", "1", "1.2.3.4.5", "v0.25.0",
                                     " 0.25.0", "1..0", "1.0.", "1.x", "1.9223372036854775808", "1.٣", "1.2\n", ""])
def test_the_script_accepts_exactly_the_versions_the_clients_parse(manifest, version):
    verdict = subprocess.run([manifest.checker, "--version", version], capture_output=True, text=True, check=True)
    done, seen = manifest(version)
    if verdict.stdout.strip() == "parses":
        assert done.returncode == 0 and seen["versionParses"], done.stderr
    else:
        assert done.returncode == 64 and f"version '{version}'" in done.stderr and seen is None


@pytest.mark.parametrize("url", ["http://www.korvane.example/K.pkg", "HTTPS://www.korvane.example/K.pkg",
                                 "https:///K.pkg", "www.korvane.example/K.pkg", "https://www.korvane.example/K 1.pkg",
                                 ""])
def test_the_script_refuses_anything_but_an_https_address(manifest, url):
    done, seen = manifest("0.25.0", url)
    assert done.returncode == 64 and "URL" in done.stderr and seen is None

