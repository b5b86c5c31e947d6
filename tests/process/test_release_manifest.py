"""scripts/release-manifest, checked against the daemon's own manifest decoder and version rule."""
import hashlib
import json
import os
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
SCRIPT = REPO / "scripts/release-manifest"
URL = "https://www.korvane.example/downloads/macos/Korvane-0.25.0.pkg"


@pytest.fixture(scope="module")
def checker():
    path = os.environ.get("KORVANE_MANIFEST_CHECK")
    if not path:
        pytest.skip("KORVANE_MANIFEST_CHECK names the built korvane-manifest-check")
    return path


@pytest.fixture
def package(tmp_path):
    path = tmp_path / "Korvane-0.25.0.pkg"
    path.write_bytes(os.urandom(3000) + b"xar!")
    return path


def release_manifest(*args, cwd=None):
    return subprocess.run(["/usr/bin/python3", str(SCRIPT), *map(str, args)], capture_output=True, text=True,
                          cwd=cwd, timeout=60)


def decoded(checker, manifest):
    result = subprocess.run([checker, str(manifest)], capture_output=True, text=True, check=True)
    return json.loads(result.stdout)


@pytest.mark.parametrize("extra, mandatory, notes", [
    ((), False, None),
    (("--mandatory",), True, None),
    (("--notes", "Behebt den Neustart nach dem Selbst-Update.\nZweite Zeile: \"zitiert\" / ä"), False,
     "Behebt den Neustart nach dem Selbst-Update.\nZweite Zeile: \"zitiert\" / ä"),
    (("--notes", ""), False, ""),
])
def test_manifest_round_trips_through_the_daemons_decoder(checker, package, tmp_path, extra, mandatory, notes):
    out = tmp_path / "latest.json"
    result = release_manifest(package, "0.25.0", URL, *extra, "--output", out)
    assert result.returncode == 0, result.stderr

    seen = decoded(checker, out)
    digest = hashlib.sha256(package.read_bytes()).hexdigest()
    assert {k: seen[k] for k in ("version", "url", "sha256", "mandatory", "notes")} == {
        "version": "0.25.0", "url": URL, "sha256": digest, "mandatory": mandatory, "notes": notes}
    assert seen["complete"] and seen["offered"]
    # Written exactly as the daemon's own encoder writes a manifest.
    assert out.read_text(encoding="utf-8") == seen["reencoded"] + "\n"
    assert oct(out.stat().st_mode & 0o777) == oct(0o644)


def test_manifest_goes_to_latest_json_by_default_and_replaces_an_old_one(checker, package, tmp_path):
    (tmp_path / "latest.json").write_text('{"version": "0.24.0"}')
    result = release_manifest(package, "0.24.1", URL, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert decoded(checker, tmp_path / "latest.json")["version"] == "0.24.1"
    assert sorted(p.name for p in tmp_path.iterdir()) == [package.name, "latest.json"]


# Versions the script must accept exactly when the clients' rule parses them.
VERSIONS = ["0.25.0", "0.24.1", "1.0", "1.2.3.4", "+1.2", "-0.5", "0.10", "007.1",
            "1", "1.2.3.4.5", "v0.25.0", "0.25.0-beta", " 0.25.0", "0.25.0 ", "1..0", "1.0.", ".1.0",
            "-1.0", "1.x", "1.9223372036854775807", "1.9223372036854775808", "1.٣", "1.2\n", ""]


@pytest.mark.parametrize("version", VERSIONS, ids=repr)
def test_script_accepts_exactly_the_versions_the_clients_parse(checker, package, tmp_path, version):
    verdict = subprocess.run([checker, "--version", version], capture_output=True, text=True,
                             check=True).stdout.strip()
    out = tmp_path / "latest.json"
    # "--" so that versions beginning with "-" stay positional.
    result = release_manifest("--output", out, "--", package, version, URL)
    if verdict == "parses":
        assert result.returncode == 0, result.stderr
        assert decoded(checker, out)["versionParses"]
    else:
        assert result.returncode == 64
        assert f"version '{version}'" in result.stderr
        assert not out.exists()


@pytest.mark.parametrize("url", [
    "http://www.korvane.example/downloads/macos/Korvane-0.25.0.pkg",
    "HTTPS://www.korvane.example/Korvane.pkg",
    "ftp://www.korvane.example/Korvane.pkg",
    "https:///Korvane.pkg",
    "www.korvane.example/Korvane.pkg",
    "https://www.korvane.example/Korvane 0.25.pkg",
    "",
])
def test_script_refuses_anything_but_an_https_address(package, tmp_path, url):
    out = tmp_path / "latest.json"
    result = release_manifest(package, "0.25.0", url, "--output", out)
    assert result.returncode == 64
    assert "URL" in result.stderr
    assert not out.exists()


def test_unreadable_package_is_an_error_and_writes_nothing(tmp_path):
    out = tmp_path / "latest.json"
    out.write_text("old")
    result = release_manifest(tmp_path / "missing.pkg", "0.25.0", URL, "--output", out)
    assert result.returncode == 1
    assert "cannot read the package" in result.stderr
    assert out.read_text() == "old"
