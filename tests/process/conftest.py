"""Fixtures shared by the process tests."""
import os
import shutil
import tempfile
from pathlib import Path

import pytest

from fakeservice import FakeService


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # A failing test keeps its temporary directories and says where they are.
    report = (yield).get_result()
    if report.failed:
        item.korvane_failed = True
        kept = getattr(item, "korvane_dirs", [])
        if kept:
            report.sections.append(("kept temporary directories", "\n".join(map(str, kept))))


@pytest.fixture(scope="session")
def fake_state_dir(tmp_path_factory):
    """One state directory for the whole session, so the fake's certificates are made once."""
    return tmp_path_factory.mktemp("fake-dyndns")


@pytest.fixture(scope="session")
def _shared_fake():
    holder = {}
    yield holder
    if "service" in holder:
        holder["service"].stop()


@pytest.fixture
def fake_service(_shared_fake, fake_state_dir):
    """The session's fake, reset to its defaults; started again if a test ended it."""
    service = _shared_fake.get("service")
    if service is None or not service.running():
        service = _shared_fake["service"] = FakeService(fake_state_dir)
    else:
        service.reset()
    return service


@pytest.fixture
def config_dir(request):
    """A fresh, empty configuration directory (0700); removed unless the test failed."""
    path = Path(tempfile.mkdtemp(prefix="korvane-config-"))
    request.node.korvane_dirs = getattr(request.node, "korvane_dirs", []) + [path]
    yield path
    if not getattr(request.node, "korvane_failed", False):
        # Tests may take permissions away to provoke write errors; give them back first.
        os.chmod(path, 0o700)
        for root, dirs, _ in os.walk(path):
            for name in dirs:
                os.chmod(os.path.join(root, name), 0o700)
        shutil.rmtree(path, ignore_errors=True)


@pytest.fixture(scope="session")
def menubar_build_dir():
    """The build directory under test (KORVANE_BUILD_DIR); the tests that stage the whole payload need the
    menu-bar app in it and are skipped otherwise."""
    path = Path(os.environ.get("KORVANE_BUILD_DIR", Path(__file__).resolve().parents[2] / "build/release"))
    cache = path / "CMakeCache.txt"
    if not cache.exists() or "KORVANE_BUILD_MENUBAR:BOOL=ON" not in cache.read_text():
        pytest.skip("needs a build with the menu-bar app")
    return path
