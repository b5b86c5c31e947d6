"""`korvane-client status` as a process: every variant of the report, byte for byte, as root and as an
ordinary user; it always ends with 0 and never shows the key."""
import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

CLIENT = os.environ.get("KORVANE_CLIENT")
if not CLIENT:
    pytest.skip("KORVANE_CLIENT is not set", allow_module_level=True)

PLIST = Path("/Library/LaunchDaemons/com.korvane.client.plist")
pytestmark = pytest.mark.skipif(PLIST.exists(), reason="a launchd job definition is installed here")

NOBODY = 65534
DAEMON_LINE = "Daemon: nicht installiert (kein /Library/LaunchDaemons/com.korvane.client.plist)\n"
NOT_CONFIGURED = "  (noch nicht konfiguriert — 'sudo korvane-client configure')\n"
READ_HINT = " — Lesen erfordert ggf. root ('sudo korvane-client status')"
PREFIX_MESSAGE = "API-Key muss mit 'dyndns_' beginnen — Account-Passwörter werden vom Server abgelehnt."
needs_root = pytest.mark.skipif(os.geteuid() != 0 or shutil.which("setpriv") is None,
                                reason="needs root to run the program as another user")


def status(config_dir, *args, as_nobody=False):
    env = dict(os.environ, KORVANE_CONFIG_DIR=str(config_dir))
    command = [CLIENT, "status", *args]
    if as_nobody:
        command = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", *command]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=60,
                            check=False)
    assert result.returncode == 0
    assert result.stderr == b""
    return result.stdout.decode("utf-8")


def report(config_dir, config_lines, pushed="(noch nichts)"):
    return (f"korvane-client 0.24.0\n"
            f"Konfiguration: {config_dir}/config.json\n"
            f"{config_lines}"
            f"Zuletzt gepusht: {pushed}\n"
            f"{DAEMON_LINE}")


def write_config(config_dir, mode=0o600, **fields):
    path = config_dir / "config.json"
    path.write_text(json.dumps(fields), encoding="utf-8")
    os.chmod(path, mode)


def config_lines(hostname, key_shown, minutes=5, ipv4="an", ipv6="aus", warning=None):
    text = (f"  Hostname:  {hostname}\n"
            f"  API-Key:   {key_shown}\n"
            f"  Intervall: {minutes} min\n"
            f"  IPv4:      {ipv4}\n"
            f"  IPv6:      {ipv6}\n")
    if warning:
        text += f"  ⚠ ungültig: {warning}\n"
    return text


def test_not_configured(config_dir):
    assert status(config_dir) == report(config_dir, NOT_CONFIGURED)


def test_further_arguments_are_ignored(config_dir):
    assert status(config_dir, "--verbose", "x") == report(config_dir, NOT_CONFIGURED)


@pytest.mark.parametrize("content", [b"{not json", b"", b"[]", b'{"enableIpv4": 1}'])
def test_undecodable_file_as_root_has_no_hint(config_dir, content):
    if os.geteuid() != 0:
        pytest.skip("runs as root")
    (config_dir / "config.json").write_bytes(content)
    expected = f"  nicht lesbar: Konfigurationsdatei ist leer oder ungültig: {config_dir}/config.json\n"
    assert status(config_dir) == report(config_dir, expected)


@needs_root
def test_undecodable_file_as_user_has_the_root_hint(config_dir):
    os.chmod(config_dir, 0o755)
    (config_dir / "config.json").write_bytes(b"{not json")
    os.chmod(config_dir / "config.json", 0o644)
    expected = (f"  nicht lesbar: Konfigurationsdatei ist leer oder ungültig: {config_dir}/config.json"
                f"{READ_HINT}\n")
    assert status(config_dir, as_nobody=True) == report(config_dir, expected)


@needs_root
def test_unreadable_file_as_user_shows_the_read_error(config_dir):
    os.chmod(config_dir, 0o755)
    write_config(config_dir, hostname="h.example.net", apiKey="dyndns_topsecret0001")
    out = status(config_dir, as_nobody=True)
    expected = f"  nicht lesbar: {config_dir}/config.json: Permission denied{READ_HINT}\n"
    assert out == report(config_dir, expected)
    assert "topsecret" not in out


@pytest.mark.parametrize("key,shown,warning", [
    ("dyndns_abcde", "dyndns_abcd…", None),                      # 12 characters: 11 shown
    ("dyndns_abcd", "(gesetzt)", None),                          # 11 characters: none shown
    ("dyndns_averylongsecretkey42", "dyndns_aver…", None),
    ("account-password-123", "(gesetzt)", PREFIX_MESSAGE),
    ("DYNDNS_abcdefghijkl", "(gesetzt)", PREFIX_MESSAGE),
    ("", "(leer)", "API-Key fehlt."),
    ("   ", "(gesetzt)", "API-Key fehlt."),
])
def test_key_is_masked_and_validated(config_dir, key, shown, warning):
    write_config(config_dir, hostname="home.example.net", apiKey=key)
    out = status(config_dir)
    assert out == report(config_dir, config_lines("home.example.net", shown, warning=warning))
    if key.strip():
        assert key not in out


def test_all_fields_and_the_first_failing_rule(config_dir):
    write_config(config_dir, hostname="", apiKey="dyndns_abcdefghijkl", updateIntervalMinutes=60,
                 enableIpv4=False, enableIpv6=True)
    assert status(config_dir) == report(
        config_dir, config_lines("", "dyndns_abcd…", minutes=60, ipv4="aus", ipv6="an", warning="Hostname fehlt."))


def test_valid_configuration_has_no_warning(config_dir):
    write_config(config_dir, hostname="home.example.net", apiKey="dyndns_abcdefghijkl", updateIntervalMinutes=1)
    assert status(config_dir) == report(config_dir, config_lines("home.example.net", "dyndns_abcd…", minutes=1))


@pytest.mark.parametrize("ipstate,pushed", [
    ('{"ipv4":"192.0.2.1","ipv6":"2001:db8::1"}', "192.0.2.1 / 2001:db8::1"),
    ('{"ipv6":"2001:db8::1"}', "2001:db8::1"),
    ('{"ipv4":"192.0.2.1"}', "192.0.2.1"),
    ('{"ipv4":null,"ipv6":null}', "(noch nichts)"),
    ("{}", "(noch nichts)"),
    ('{"ipv4":"192.0.2.1","ipv6":7}', "(noch nichts)"),
    ("garbage", "(noch nichts)"),
    (None, "(noch nichts)"),
])
def test_last_pushed_addresses(config_dir, ipstate, pushed):
    if ipstate is not None:
        (config_dir / "ipstate.json").write_text(ipstate)
    before = sorted(p.name for p in config_dir.iterdir())
    assert status(config_dir) == report(config_dir, NOT_CONFIGURED, pushed=pushed)
    # Reading changes nothing on disk.
    assert sorted(p.name for p in config_dir.iterdir()) == before
