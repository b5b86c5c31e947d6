"""What the installer package puts on a Mac: the launchd job, the staged payload and its modes."""
import os
import plistlib
import shutil
import stat
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
DATA = Path(__file__).resolve().parent / "data"
PLIST = REPO / "packaging/macos/com.korvane.client.plist"
INFO_PLIST = REPO / "menubar/resources/Info.plist"
BUILD_PKG = REPO / "packaging/macos/build-pkg"

# Every location the programs name, and the program the job starts.
NAMED_FILES = {
    "/Library/LaunchDaemons/com.korvane.client.plist": 0o644,
    "/usr/local/bin/korvane-client": 0o755,
    "/Applications/Korvane.app/Contents/MacOS/Korvane": 0o755,
    "/Applications/Korvane.app/Contents/Info.plist": 0o644,
    "/usr/local/share/man/man1/korvane-client.1": 0o644,
    "/usr/local/share/korvane/uninstall": 0o755,
}


def test_job_runs_the_daemon_as_root_with_its_log():
    job = plistlib.loads(PLIST.read_bytes())
    assert job["Label"] == "com.korvane.client"
    assert job["ProgramArguments"] == ["/usr/local/bin/korvane-client", "run"]
    assert job["UserName"] == "root"
    assert job["StandardOutPath"] == "/Library/Logs/RuzEdaRoredo/daemon.log"
    assert job["StandardErrorPath"] == job["StandardOutPath"]


def test_job_is_restarted_but_throttled():
    job = plistlib.loads(PLIST.read_bytes())
    assert job["RunAtLoad"] is True
    # Restarted after every exit: the exit 0 after a self-installation as much as a crash.
    assert job["KeepAlive"] is True
    assert job["ThrottleInterval"] >= 10


@pytest.mark.skipif(shutil.which("xmllint") is None, reason="xmllint not installed")
@pytest.mark.parametrize("document", [PLIST, INFO_PLIST], ids=lambda p: p.name)
def test_property_lists_are_valid_against_the_plist_dtd(document):
    env = dict(os.environ, XML_CATALOG_FILES=str(DATA / "plist-catalog.xml"))
    result = subprocess.run(["xmllint", "--noout", "--valid", "--nonet", str(document)],
                            env=env, capture_output=True, text=True)
    assert (result.returncode, result.stderr) == (0, "")


@pytest.mark.skipif(shutil.which("xmllint") is None, reason="xmllint not installed")
def test_the_dtd_check_rejects_a_malformed_job(tmp_path):
    broken = tmp_path / "job.plist"
    # Two keys in a row: well-formed XML, but not a property list.
    broken.write_text(PLIST.read_text().replace("<key>RunAtLoad</key>", "<key>RunAtLoad</key><key>X</key>"))
    env = dict(os.environ, XML_CATALOG_FILES=str(DATA / "plist-catalog.xml"))
    result = subprocess.run(["xmllint", "--noout", "--valid", "--nonet", str(broken)],
                            env=env, capture_output=True, text=True)
    assert result.returncode != 0
    assert "validity error" in result.stderr


@pytest.fixture(scope="module")
def staged(menubar_build_dir, tmp_path_factory):
    stage = tmp_path_factory.mktemp("payload") / "root"
    result = subprocess.run([str(BUILD_PKG), "--layout-only", "--build-dir", str(menubar_build_dir),
                             "--stage", str(stage)], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return stage, result.stdout


def layout_entries(text):
    """path -> (kind, mode, owner) from build-pkg's listing."""
    entries = {}
    for line in text.splitlines():
        kind, mode, owner, path = line.split(" ", 3)
        entries[path] = (kind, int(mode, 8), owner)
    return entries


def test_layout_matches_the_recorded_payload(staged):
    _, listing = staged
    assert listing == (DATA / "pkg-layout.txt").read_text()


def test_layout_holds_every_named_file_with_its_mode_and_nothing_writable_for_others(staged):
    stage, listing = staged
    entries = layout_entries(listing)
    for path, mode in NAMED_FILES.items():
        assert entries.get(path) == ("f", mode, "root:wheel"), path
    for path, (kind, mode, owner) in entries.items():
        assert not mode & stat.S_IWOTH, path
        assert owner in ("root:wheel", "root:admin"), path
        # The listing tells the truth about the staged tree.
        assert stat.S_IMODE((stage / path.lstrip("/")).lstat().st_mode) == mode, path
    assert entries["/Applications"] == ("d", 0o775, "root:admin")


def test_staged_files_are_the_built_and_shipped_ones(staged):
    stage, _ = staged
    assert (stage / "Library/LaunchDaemons/com.korvane.client.plist").read_bytes() == PLIST.read_bytes()
    assert (stage / "usr/local/share/man/man1/korvane-client.1").read_bytes() == \
        (REPO / "packaging/man/korvane-client.1").read_bytes()
    version = subprocess.run([str(stage / "usr/local/bin/korvane-client"), "version"],
                             capture_output=True, text=True, check=True).stdout.strip()
    info = plistlib.loads((stage / "Applications/Korvane.app/Contents/Info.plist").read_bytes())
    assert info["CFBundleExecutable"] == "Korvane"
    assert info["CFBundleIdentifier"] == "com.korvane.KorvaneMenuBar"
    assert info["CFBundleShortVersionString"] == version
    assert info["LSUIElement"] is True


def test_staged_programs_are_stripped(staged, menubar_build_dir):
    stage, _ = staged
    for built, shipped in [("client/korvane-client", "usr/local/bin/korvane-client"),
                           ("menubar/KorvaneMenuBar", "Applications/Korvane.app/Contents/MacOS/Korvane")]:
        assert (stage / shipped).stat().st_size < (menubar_build_dir / built).stat().st_size, shipped


def run_build_pkg(*args):
    return subprocess.run([str(BUILD_PKG), *args], capture_output=True, text=True, timeout=60)


@pytest.mark.skipif(os.uname().sysname == "Darwin", reason="pkgbuild exists there")
def test_building_a_package_off_a_mac_points_to_layout_only():
    result = run_build_pkg("--build-dir", "/nonexistent")
    assert result.returncode == 1
    assert "--layout-only" in result.stderr


@pytest.mark.parametrize("cache, message", [
    (None, "not a configured build directory"),
    ("KORVANE_BUILD_MENUBAR:BOOL=OFF\n", "has no menu-bar app"),
])
def test_build_pkg_refuses_a_build_without_everything_the_package_holds(tmp_path, cache, message):
    if cache is not None:
        (tmp_path / "CMakeCache.txt").write_text(cache)
    result = run_build_pkg("--layout-only", "--build-dir", str(tmp_path))
    assert result.returncode == 1
    assert message in result.stderr


def test_build_pkg_never_stages_over_existing_files(tmp_path, menubar_build_dir):
    keep = tmp_path / "stage" / "precious.txt"
    keep.parent.mkdir()
    keep.write_text("keep me")
    result = run_build_pkg("--layout-only", "--build-dir", str(menubar_build_dir),
                           "--stage", str(keep.parent))
    assert result.returncode == 1
    assert "not empty" in result.stderr
    assert [p.name for p in keep.parent.iterdir()] == ["precious.txt"]


@pytest.mark.skipif(not os.environ.get("KORVANE_CLIENT"), reason="KORVANE_CLIENT is not set")
def test_every_version_string_of_a_release_agrees_with_the_program():
    version = subprocess.run([os.environ["KORVANE_CLIENT"], "version"], capture_output=True, text=True,
                             check=True).stdout.strip()
    cmake = (REPO / "CMakeLists.txt").read_text()
    assert f"project(Korvane VERSION {version} " in cmake
    info = plistlib.loads(INFO_PLIST.read_bytes())
    assert (info["CFBundleShortVersionString"], info["CFBundleVersion"]) == (version, version)
