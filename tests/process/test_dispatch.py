"""The first argument of korvane-client: usage, version and unknown commands, byte for byte."""
import os
import subprocess

import pytest

CLIENT = os.environ.get("KORVANE_CLIENT")
if not CLIENT:
    pytest.skip("KORVANE_CLIENT is not set", allow_module_level=True)

USAGE = (
    "korvane-client 0.24.0 — Korvane DynDNS-Client für macOS\n"
    "\n"
    "Verwendung: korvane-client <befehl>\n"
    "\n"
    "  run          Daemon-Modus (wird von launchd gestartet; endlos)\n"
    "  configure    Konfiguration anlegen/ändern (root; fragt fehlende Werte ab)\n"
    "               [--hostname <fqdn>] [--interval <min>] [--ipv4|--no-ipv4]\n"
    "               [--ipv6|--no-ipv6] [--api-key-stdin]\n"
    "  once         Einen Update-Zyklus ausführen [--force]\n"
    "  status       Konfiguration und Daemon-Zustand anzeigen\n"
    "  version      Version ausgeben\n"
).encode("utf-8")


def run_client(tmp_path, *args):
    # An empty configuration directory of its own, so no command could ever see a real configuration.
    env = dict(os.environ, KORVANE_CONFIG_DIR=str(tmp_path / "config"))
    return subprocess.run([CLIENT, *args], stdin=subprocess.DEVNULL, capture_output=True, env=env,
                          timeout=60, check=False)


def test_usage_text_has_eleven_lines_with_the_descriptions_in_column_16():
    lines = USAGE.decode("utf-8").split("\n")
    assert lines[-1] == ""
    assert len(lines[:-1]) == 11
    for line in lines[4:]:
        if line:
            assert line[15] != " " and line[:15].strip() in {"", "run", "configure", "once", "status", "version"}


def test_no_argument_prints_usage_and_is_a_usage_error(tmp_path):
    result = run_client(tmp_path)
    assert result.stdout == USAGE
    assert result.stderr == b""
    assert result.returncode == 64


@pytest.mark.parametrize("args", [["help"], ["--help"], ["-h"], ["help", "extra"], ["-h", "version"]])
def test_help_prints_usage(tmp_path, args):
    result = run_client(tmp_path, *args)
    assert result.stdout == USAGE
    assert result.stderr == b""
    assert result.returncode == 0


@pytest.mark.parametrize("args", [["version"], ["--version"], ["-v"], ["version", "--help"]])
def test_version_prints_only_the_version(tmp_path, args):
    result = run_client(tmp_path, *args)
    assert result.stdout == b"0.24.0\n"
    assert result.stderr == b""
    assert result.returncode == 0


@pytest.mark.parametrize("command", ["frobnicate", "Run", "VERSION", "Help", "--HELP", "-V", "", " run",
                                     "status\n", "ünbekannt 🙂", "-", "--"])
def test_unknown_command_names_it_and_prints_usage(tmp_path, command):
    result = run_client(tmp_path, command, "more")
    assert result.stderr == f"Unbekannter Befehl: {command}\n\n".encode("utf-8")
    assert result.stdout == USAGE
    assert result.returncode == 64


def test_unknown_command_keeps_percent_signs_verbatim(tmp_path):
    result = run_client(tmp_path, "%s%n%x")
    assert result.stderr == b"Unbekannter Befehl: %s%n%x\n\n"
    assert result.returncode == 64


def test_dispatch_writes_no_file(tmp_path):
    for args in ([], ["help"], ["version"], ["frobnicate"]):
        run_client(tmp_path, *args)
    assert not (tmp_path / "config").exists()
