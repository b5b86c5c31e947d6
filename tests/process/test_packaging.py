"""The launchd job definition shipped with the package."""
import plistlib
import shutil
import subprocess
from pathlib import Path

import pytest

PLIST = Path(__file__).resolve().parents[2] / "packaging/macos/com.korvane.client.plist"


def test_job_runs_the_daemon_as_root_with_its_log():
    job = plistlib.loads(PLIST.read_bytes())
    assert job["Label"] == "com.korvane.client"
    assert job["ProgramArguments"][1:] == ["run"]
    assert Path(job["ProgramArguments"][0]).name == "korvane-client"
    assert job["UserName"] == "root"
    assert job["StandardOutPath"] == "/Library/Logs/RuzEdaRoredo/daemon.log"
    assert job["StandardErrorPath"] == job["StandardOutPath"]


def test_job_is_restarted_but_throttled():
    job = plistlib.loads(PLIST.read_bytes())
    assert job["RunAtLoad"] is True
    assert job["KeepAlive"] is True
    assert job["ThrottleInterval"] >= 10


@pytest.mark.skipif(shutil.which("xmllint") is None, reason="xmllint not installed")
def test_job_is_well_formed_xml():
    subprocess.run(["xmllint", "--noout", str(PLIST)], check=True)
