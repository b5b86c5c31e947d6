"""The macOS workflow parses, runs on a Mac, does what the release depends on, and its shell steps are
clean for shellcheck."""
import shutil
import subprocess
from pathlib import Path

import pytest

yaml = pytest.importorskip("yaml")

WORKFLOW = Path(__file__).resolve().parents[2] / ".github/workflows/macos.yml"


def test_macos_workflow_builds_tests_packages_and_checks_the_links(tmp_path):
    document = yaml.safe_load(WORKFLOW.read_text())
    [job] = document["jobs"].values()
    assert job["runs-on"].startswith("macos-")
    steps = job["steps"]
    assert all(("run" in step) != ("uses" in step) for step in steps), steps
    scripts = "\n".join(step["run"] for step in steps if "run" in step)
    for needed in ("cmake --build", "korvane-unit-tests", "build-pkg --unsigned", "otool -L"):
        assert needed in scripts, needed
    if shutil.which("shellcheck"):
        script = tmp_path / "steps.sh"
        script.write_text("#!/bin/bash\nset -e\n" + scripts)
        done = subprocess.run(["shellcheck", str(script)], capture_output=True, text=True)
        assert done.returncode == 0, done.stdout
