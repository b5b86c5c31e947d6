"""What the process tests share: the built program, one fake service, a scratch directory, one runner."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from contextlib import contextmanager
from pathlib import Path

import pytest

from fakeservice import FakeService

CLIENT = os.environ.get("KORVANE_CLIENT")
REPO = Path(__file__).resolve().parents[2]
# The version the program reports, where a release sets it.
VERSION = re.search(r"^project\(Korvane VERSION (\S+) ", (REPO / "CMakeLists.txt").read_text(), re.M)[1]
HOST, KEY = "home.example.net", "dyndns_testkey123456"
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (\[(DEBUG|INFO|WARN|ERROR)\] .*)$")
# The namespace worlds of tools/fake-*, for the tests that import them.
sys.path[:0] = [str(REPO / "tools" / world) for world in ("fake-internet", "fake-vpn", "fake-dns", "fake-router")]
PLIST = Path("/Library/LaunchDaemons/com.korvane.client.plist")
# Variables of the program's own that the runner's environment must not carry in.
OWN = ("KORVANE_CONFIG_DIR", "KORVANE_SERVER_BASE_URL", "KORVANE_UPDATE_MANIFEST_URL", "SSL_CERT_FILE",
       "SSL_CERT_DIR", "KORVANE_SELF_UPDATE", "KORVANE_DAEMON_LOG", "KORVANE_RESOLVER")
needs_client = pytest.mark.skipif(not CLIENT, reason="KORVANE_CLIENT is not set")
# What needs Linux (namespaces, preloading); the macOS workflow runs every other test against the Mac build.
linux_only = lambda why: pytest.mark.skipif(sys.platform != "linux", reason=f"Linux only: {why}")  # noqa: E731
# The forms of a Linux-only test that the Mac's own code runs; scripts/skipped lists them in one line.
mac_only = lambda why: pytest.mark.skipif(sys.platform != "darwin", reason=f"Mac only: {why}")  # noqa: E731
# The restart hint and the daemon line depend on the launchd job, which a test machine does not have.
no_job = pytest.mark.skipif(PLIST.exists(), reason="a launchd job definition is installed here")


def client_env(config_dir, fake=None, **extra):
    env = {k: v for k, v in os.environ.items() if k not in OWN}
    env["KORVANE_CONFIG_DIR"] = str(config_dir)
    if fake:
        env.update(KORVANE_SERVER_BASE_URL=fake.base_url, SSL_CERT_FILE=fake.ca_file)
    env.update(extra)
    return env


def run(config_dir, *args, fake=None, input=b"", user=None, env=None, preexec=None):
    """korvane-client with its own configuration directory; the key never shows on either stream."""
    command = [CLIENT, *args]
    if user is not None:
        command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups", *command]
    done = subprocess.run(command, input=input, capture_output=True, timeout=120,
                          env=env or client_env(config_dir, fake), preexec_fn=preexec)
    assert KEY.encode() not in done.stdout + done.stderr
    return done


def need_mount_namespace():
    if os.geteuid() != 0 or subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode != 0:
        pytest.skip("no private mount namespace here (needs root and unshare -m)")


def mounted(source, target, *more):
    """A command prefix: the rest runs with `source` mounted on `target` (and each further pair likewise), in a
    mount namespace of its own."""
    need_mount_namespace()
    pairs = [str(p) for p in (source, target, *more)]
    script = 'while [ "$1" != -- ]; do mount --bind "$1" "$2" || exit 125; shift 2; done; shift; exec "$@"'
    return ["unshare", "-m", "sh", "-c", script, "sh", *pairs, "--"]


@contextmanager
def entered(world, refused):
    """A namespace world, set up and torn down around the block; the test is skipped where the machine refuses
    it (`refused`: that world's exception)."""
    try:
        world = world.__enter__()
    except refused as why:
        pytest.skip(f"namespaces not permitted here: {why}")
    try:
        yield world
    finally:
        world.__exit__()


def write_config(config_dir, fake=None, **fields):
    config = {"hostname": HOST, "apiKey": KEY}
    if fake:
        config.update(ipv4DiscoveryUrls=[fake.url("/ip4"), fake.url("/ip4b")],
                      ipv6DiscoveryUrls=[fake.url("/ip6"), fake.url("/ip6b")])
    config.update(fields)
    path = config_dir / "config.json"
    path.write_text(json.dumps(config), encoding="utf-8")
    path.chmod(0o600)
    return path


def stored(config_dir, name="config.json"):
    path = config_dir / name
    return json.loads(path.read_text(encoding="utf-8")) if path.exists() else None


def snapshot(directory):
    return {p.name: p.read_bytes() for p in sorted(directory.iterdir()) if p.is_file()}


@pytest.fixture(scope="session")
def _fake(tmp_path_factory):
    with FakeService(tmp_path_factory.mktemp("fake-dyndns")) as service:
        yield service


@pytest.fixture
def fake_service(_fake):
    """The session's fake (its certificates are made once), reset to its defaults."""
    _fake.control(reset=True)
    return _fake


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    if report.failed and "config_dir" in getattr(item, "funcargs", {}):
        item.kept = item.funcargs["config_dir"]
        report.sections.append(("kept configuration directory", str(item.kept)))


@pytest.fixture
def config_dir(request):
    """A fresh, empty configuration directory (0700) where another user could reach it; a failing test keeps
    it and says where it is."""
    path = Path(tempfile.mkdtemp(prefix="korvane-config-"))
    yield path
    if not getattr(request.node, "kept", None):
        subprocess.run(["chmod", "-R", "u+rwx", str(path)], check=False)  # tests take permissions away
        shutil.rmtree(path, ignore_errors=True)


@pytest.fixture(scope="session")
def menubar_build_dir():
    """The build under test; the tests that stage the whole payload need the menu-bar app in it."""
    path = Path(os.environ.get("KORVANE_BUILD_DIR", REPO / "build/release"))
    cache = path / "CMakeCache.txt"
    if not cache.exists() or "KORVANE_BUILD_MENUBAR:BOOL=ON" not in cache.read_text():
        pytest.skip("needs a build with the menu-bar app")
    return path
